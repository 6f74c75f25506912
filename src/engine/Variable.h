#pragma once

#include "common/Rng.h"

#include <cstdint>
#include <memory>
#include <string>

namespace zyl {

/// Bounds and uniformity coefficient of one decision variable. Boolean variables use none of
/// the fields. A lower bound above the upper one is accepted: the operators then produce values
/// from the lower bound upward (see Integer_ and Floating_).
struct VariableRange {
    std::int32_t intLo = 0;
    std::int32_t intHi = 0;
    double realLo = 0.0;
    double realHi = 0.0;
    /// Shape of nonuniform mutation; the loader keeps it within [1; 100].
    double uniformityCoeff = 2.0;
};

/// One decision variable holding one value of its natural type. Individuals own their
/// variables through unique_ptr and copy them with clone().
class Variable_ {
public:
    virtual ~Variable_() = default;

    /// The class of a variable, so that copies between variables of one class need no virtual
    /// call (Other: a class defined elsewhere, copied through assign).
    enum class Kind : std::uint8_t { Other, Boolean, Integer, Floating };
    Kind kind() const noexcept { return m_kind; }

    /// The value as a real (Boolean and integer values convert exactly).
    virtual double getValue() const = 0;
    /// Boolean_ and Integer_ truncate toward zero (saturating at the limits of their storage,
    /// NaN storing 0); Floating_ stores x unchanged.
    virtual void setValue(double x) = 0;
    /// Copies the value of `other`. \throws std::bad_cast when `other` is of another class.
    virtual void assign(const Variable_& other) = 0;
    /// A random starting value.
    virtual void randomInit(const VariableRange& range, Rng& rng) = 0;
    virtual void mutateUniform(const VariableRange& range, Rng& rng) = 0;
    /// Nonuniform mutation at generation t of T. The step shrinks as t approaches T; when
    /// t >= T (or T <= 0) the value is left unchanged, the draws being taken all the same.
    virtual void mutateNonuniform(const VariableRange& range, int t, int T, Rng& rng) = 0;
    virtual std::unique_ptr<Variable_> clone() const = 0;

    /// The Type column of the Variables window: "Boolean", "Integer" or "Real".
    virtual std::string typeText() const = 0;
    /// The Range column of the Variables window: "{0, 1}", "[lo; hi]".
    virtual std::string rangeText(const VariableRange& range) const = 0;
    /// The value as a table cell: a decimal integer, or realToText for a real.
    virtual std::string valueText() const = 0;

protected:
    explicit Variable_(Kind kind = Kind::Other) noexcept : m_kind(kind) {}

private:
    Kind m_kind;
};

class Boolean_;
class Integer_;
class Floating_;
namespace detail {
/// `target` takes the value of `source`. \pre both are of the same of the three classes.
void copySameKind(Variable_& target, const Variable_& source) noexcept;
} // namespace detail

/// A Boolean variable, 0 or 1 after initialisation and mutation. setValue keeps any truncated
/// integer, so arithmetical crossover can leave other values; mutation maps 1 to 0 and any other
/// value to 1.
class Boolean_ final : public Variable_ {
public:
    explicit Boolean_(std::int16_t value = 0) : Variable_(Kind::Boolean), m_value(value) {}
    double getValue() const override { return m_value; }
    void setValue(double x) override;
    void assign(const Variable_& other) override;
    void randomInit(const VariableRange& range, Rng& rng) override;
    void mutateUniform(const VariableRange& range, Rng& rng) override;
    void mutateNonuniform(const VariableRange& range, int t, int T, Rng& rng) override;
    std::unique_ptr<Variable_> clone() const override;
    std::string typeText() const override { return "Boolean"; }
    std::string rangeText(const VariableRange& range) const override;
    std::string valueText() const override;

private:
    friend void detail::copySameKind(Variable_&, const Variable_&) noexcept;
    std::int16_t m_value;
};

/// An integer variable within [intLo; intHi]. Spans are computed in 64 bits, so the full 32-bit
/// range neither overflows nor collapses to one value.
class Integer_ final : public Variable_ {
public:
    explicit Integer_(std::int32_t value = 0) : Variable_(Kind::Integer), m_value(value) {}
    double getValue() const override { return m_value; }
    void setValue(double x) override;
    void assign(const Variable_& other) override;
    /// Same as mutateUniform.
    void randomInit(const VariableRange& range, Rng& rng) override;
    /// intLo + (draw mod (intHi - intLo + 1)). One randomInt31 draw when the span fits in 31
    /// bits, two when it is wider. A span of 0 gives intLo without a draw. A negative span
    /// (intLo > intHi) counts upward from intLo, like a modulo by a negative number.
    void mutateUniform(const VariableRange& range, Rng& rng) override;
    /// Moves toward a random bound and rounds half away from zero.
    void mutateNonuniform(const VariableRange& range, int t, int T, Rng& rng) override;
    std::unique_ptr<Variable_> clone() const override;
    std::string typeText() const override { return "Integer"; }
    std::string rangeText(const VariableRange& range) const override;
    std::string valueText() const override;

private:
    friend void detail::copySameKind(Variable_&, const Variable_&) noexcept;
    std::int32_t m_value;
};

/// A real variable within [realLo; realLo + |realHi - realLo|].
class Floating_ final : public Variable_ {
public:
    explicit Floating_(double value = 0.0) : Variable_(Kind::Floating), m_value(value) {}
    double getValue() const override { return m_value; }
    void setValue(double x) override { m_value = x; }
    void assign(const Variable_& other) override;
    /// Same as mutateUniform.
    void randomInit(const VariableRange& range, Rng& rng) override;
    /// realLo + uniform01() * |realHi - realLo|.
    void mutateUniform(const VariableRange& range, Rng& rng) override;
    void mutateNonuniform(const VariableRange& range, int t, int T, Rng& rng) override;
    std::unique_ptr<Variable_> clone() const override;
    std::string typeText() const override { return "Real"; }
    std::string rangeText(const VariableRange& range) const override;
    std::string valueText() const override;

private:
    friend void detail::copySameKind(Variable_&, const Variable_&) noexcept;
    double m_value;
};

namespace detail {
/// getValue without a virtual call for the program's three classes: statistics, the buffer and
/// the compiled objective read values by the million.
inline double valueOf(const Variable_& variable)
{
    switch (variable.kind()) {
    case Variable_::Kind::Boolean: return static_cast<const Boolean_&>(variable).getValue();
    case Variable_::Kind::Integer: return static_cast<const Integer_&>(variable).getValue();
    case Variable_::Kind::Floating: return static_cast<const Floating_&>(variable).getValue();
    default: return variable.getValue();
    }
}

/// The fraction of the distance to a bound that nonuniform mutation covers: 1 - u^((1-t/T)/b).
/// 0 when the exponent is not positive (t >= T, T <= 0) or not a number.
double nonuniformStep(double u, int t, int T, double b);
} // namespace detail

} // namespace zyl
