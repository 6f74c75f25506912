#include "engine/Variable.h"

#include "common/TextConvert.h"

#include <cmath>
#include <limits>
#include <typeinfo>

namespace zyl {

namespace {

/// Truncates toward zero into [lo; hi]; NaN gives 0. A plain cast of an out-of-range real is
/// undefined behaviour, and values from outside (crossover of reversed ranges, a typed value)
/// are not guaranteed to fit.
template <class Int> Int truncateInto(double x)
{
    constexpr double lo = std::numeric_limits<Int>::min();
    constexpr double hi = std::numeric_limits<Int>::max();
    if (std::isnan(x))
        return 0;
    x = std::trunc(x);
    if (x <= lo)
        return std::numeric_limits<Int>::min();
    if (x >= hi)
        return std::numeric_limits<Int>::max();
    return static_cast<Int>(x);
}

/// `other` as a T. \throws std::bad_cast when it is of another class. The exact-class test is
/// a comparison of two type records, much cheaper than a dynamic_cast, and copying variables
/// is what breeding does most.
template <class T> const T& sameClass(const Variable_& other)
{
    if (typeid(other) != typeid(T))
        throw std::bad_cast();
    return static_cast<const T&>(other);
}

std::int32_t saturate32(std::int64_t x)
{
    if (x < std::numeric_limits<std::int32_t>::min())
        return std::numeric_limits<std::int32_t>::min();
    if (x > std::numeric_limits<std::int32_t>::max())
        return std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(x);
}

/// The next value of nonuniform mutation: one uniform01 draw for the step, one chance(0.5)
/// for the direction, in this order.
double nonuniformTarget(double x, double lo, double hi, const VariableRange& range, int t, int T,
                        Rng& rng)
{
    double step = detail::nonuniformStep(rng.uniform01(), t, T, range.uniformityCoeff);
    if (rng.chance(0.5))
        return x + (hi - x) * step;
    return x - (x - lo) * step;
}

} // namespace

namespace detail {
void copySameKind(Variable_& target, const Variable_& source) noexcept
{
    switch (target.kind()) {
    case Variable_::Kind::Boolean:
        static_cast<Boolean_&>(target).m_value = static_cast<const Boolean_&>(source).m_value;
        break;
    case Variable_::Kind::Integer:
        static_cast<Integer_&>(target).m_value = static_cast<const Integer_&>(source).m_value;
        break;
    case Variable_::Kind::Floating:
        static_cast<Floating_&>(target).m_value = static_cast<const Floating_&>(source).m_value;
        break;
    case Variable_::Kind::Other:
        break;
    }
}

double nonuniformStep(double u, int t, int T, double b)
{
    double exponent = (1.0 - static_cast<double>(t) / T) / b;
    if (!(exponent > 0.0))
        return 0.0;
    return 1.0 - std::pow(u, exponent);
}
} // namespace detail

// ---- Boolean_ ----

void Boolean_::setValue(double x) { m_value = truncateInto<std::int16_t>(x); }

void Boolean_::assign(const Variable_& other)
{
    m_value = sameClass<Boolean_>(other).m_value;
}

void Boolean_::randomInit(const VariableRange&, Rng& rng)
{
    m_value = static_cast<std::int16_t>(rng.randomInt31() % 2);
}

void Boolean_::mutateUniform(const VariableRange&, Rng&) { m_value = m_value == 1 ? 0 : 1; }

void Boolean_::mutateNonuniform(const VariableRange& range, int, int, Rng& rng)
{
    mutateUniform(range, rng);
}

std::unique_ptr<Variable_> Boolean_::clone() const { return std::make_unique<Boolean_>(*this); }

std::string Boolean_::rangeText(const VariableRange&) const { return "{0, 1}"; }

std::string Boolean_::valueText() const { return std::to_string(m_value); }

// ---- Integer_ ----

void Integer_::setValue(double x) { m_value = truncateInto<std::int32_t>(x); }

void Integer_::assign(const Variable_& other)
{
    m_value = sameClass<Integer_>(other).m_value;
}

void Integer_::randomInit(const VariableRange& range, Rng& rng) { mutateUniform(range, rng); }

void Integer_::mutateUniform(const VariableRange& range, Rng& rng)
{
    std::int64_t span = std::int64_t(range.intHi) - range.intLo + 1;
    if (span == 0) {
        m_value = range.intLo;
        return;
    }
    // A remainder by a negative span keeps the sign of the (non-negative) draw, so a reversed
    // range counts upward from intLo over |span| values.
    std::uint64_t width = span > 0 ? std::uint64_t(span) : std::uint64_t(-span);
    std::uint64_t draw = std::uint64_t(rng.randomInt31());
    // 31 bits cannot reach every value of a wider span (the full 32-bit range has 2^32);
    // a second draw widens the number to 62 bits.
    if (width > (std::uint64_t(1) << 31))
        draw = (draw << 31) | std::uint64_t(rng.randomInt31());
    m_value = saturate32(range.intLo + std::int64_t(draw % width));
}

void Integer_::mutateNonuniform(const VariableRange& range, int t, int T, Rng& rng)
{
    double x = nonuniformTarget(m_value, range.intLo, range.intHi, range, t, T, rng);
    // Half away from zero; the result lies between the old value and a bound, so it fits
    // once rounded, but truncateInto keeps that a guarantee rather than an argument.
    m_value = truncateInto<std::int32_t>(x >= 0 ? x + 0.5 : x - 0.5);
}

std::unique_ptr<Variable_> Integer_::clone() const { return std::make_unique<Integer_>(*this); }

std::string Integer_::rangeText(const VariableRange& range) const
{
    return "[" + std::to_string(range.intLo) + "; " + std::to_string(range.intHi) + "]";
}

std::string Integer_::valueText() const { return std::to_string(m_value); }

// ---- Floating_ ----

void Floating_::assign(const Variable_& other)
{
    m_value = sameClass<Floating_>(other).m_value;
}

void Floating_::randomInit(const VariableRange& range, Rng& rng) { mutateUniform(range, rng); }

void Floating_::mutateUniform(const VariableRange& range, Rng& rng)
{
    m_value = range.realLo + rng.uniform01() * std::abs(range.realHi - range.realLo);
}

void Floating_::mutateNonuniform(const VariableRange& range, int t, int T, Rng& rng)
{
    m_value = nonuniformTarget(m_value, range.realLo, range.realHi, range, t, T, rng);
}

std::unique_ptr<Variable_> Floating_::clone() const { return std::make_unique<Floating_>(*this); }

std::string Floating_::rangeText(const VariableRange& range) const
{
    return "[" + realToText(range.realLo) + "; " + realToText(range.realHi) + "]";
}

std::string Floating_::valueText() const { return realToText(m_value); }

} // namespace zyl
