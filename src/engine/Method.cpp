#include "engine/Method.h"

#include "common/Exception.h"
#include "engine/Cmaes.h"
#include "engine/DifferentialEvolution.h"
#include "engine/FrontMethod.h"
#include "engine/TrustRegion.h"
#include "engine/Zyl.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <limits>

namespace zyl {

namespace {

/// The genetic algorithm keeps nothing between generations that the engine does not hold.
class GeneticAlgorithm final : public SearchMethod {
public:
    Method method() const override { return Method::Ga; }
    bool next(ZYL& zyl, const std::atomic<bool>* stop) override { return zyl.breed(stop); }
    MethodState save() const override { return {}; }
    void restore(const MethodState& state, const ZYL&) override
    {
        if (!state.empty())
            throw Exception("the genetic algorithm keeps no state of its own");
    }
};

} // namespace

std::string_view methodName(Method method)
{
    switch (method) {
    case Method::Cmaes: return "cmaes";
    case Method::De: return "de";
    case Method::Trust: return "trust";
    case Method::Nsga2: return "nsga2";
    case Method::SmsEmoa: return "smsemoa";
    case Method::Ga: break;
    }
    return "ga";
}

std::optional<Method> methodByName(std::string_view name)
{
    for (Method method :
         {Method::Ga, Method::Cmaes, Method::De, Method::Trust, Method::Nsga2, Method::SmsEmoa})
        if (methodName(method) == name)
            return method;
    return std::nullopt;
}

bool withinRanges(const MethodSettings& m)
{
    const CmaesSettings& c = m.cmaes;
    const DeSettings& d = m.de;
    return c.step > 0 && c.step <= 1 && c.restarts >= 0 && c.restarts <= kMostRestarts &&
           c.growth >= 1 && c.growth <= kMostGrowth && c.meanRate >= 0 && c.meanRate <= 1 &&
           d.f > 0 && d.f <= kMostWeight &&
           d.cr >= 0 && d.cr <= 1 && d.adaptation >= 0 && d.adaptation <= 1 &&
           m.trust.radius > 0 && m.trust.radius <= 1 && m.trust.after >= 0 &&
           m.trust.after < 1;
}

std::unique_ptr<SearchMethod> makeSearchMethod(Method method)
{
    switch (method) {
    case Method::Cmaes: return std::make_unique<Cmaes>();
    case Method::De: return std::make_unique<DifferentialEvolution>();
    case Method::Trust: return std::make_unique<TrustRegion>();
    case Method::Nsga2: return makeFrontMethod(ParetoMethod::Nsga2);
    case Method::SmsEmoa: return makeFrontMethod(ParetoMethod::SmsEmoa);
    case Method::Ga: break;
    }
    return std::make_unique<GeneticAlgorithm>();
}

std::unique_ptr<SearchMethod> makeSearchMethod(const MethodSettings& settings)
{
    if (settings.refined())
        return std::make_unique<Refinement>(makeSearchMethod(settings.method));
    return makeSearchMethod(settings.method);
}

bool runs(const SearchMethod& method, const MethodSettings& settings)
{
    return method.method() == settings.method && method.refined() == settings.refined();
}

namespace detail {

UnitBox::UnitBox(const ZYL& zyl)
{
    const int n = zyl.count();
    m_lo.resize(static_cast<std::size_t>(n));
    m_hi.resize(m_lo.size());
    m_whole.resize(m_lo.size());
    for (int j = 0; j < n; ++j) {
        const VariableRange& range = zyl.ranges[static_cast<std::size_t>(j)];
        const Variable_* gene = zyl.templateIndiv.gene(j);
        double lo = 0, hi = 1;
        bool whole = true;
        switch (gene->kind()) {
        case Variable_::Kind::Boolean:
            break;
        case Variable_::Kind::Integer: {
            // The values the integer's own operators reach: a reversed range counts upward from
            // its lower bound (see Integer_::mutateUniform).
            const std::int64_t span = std::int64_t(range.intHi) - range.intLo + 1;
            const std::int64_t values = span < 0 ? -span : span;
            lo = range.intLo;
            hi = std::min<double>(lo + double(std::max<std::int64_t>(values - 1, 0)),
                                  std::numeric_limits<std::int32_t>::max());
            break;
        }
        default:
            // Reals, and any other kind, read as reals within [lo; lo + |hi - lo|].
            whole = false;
            lo = range.realLo;
            hi = std::min(lo + std::abs(range.realHi - range.realLo), DBL_MAX);
            break;
        }
        // Bounds rather than a width: the width of a range that spans most of the doubles is
        // no double.
        m_lo[j] = lo;
        m_hi[j] = hi;
        m_whole[j] = whole ? 1 : 0;
    }
}

double UnitBox::toUnit(int j, double x) const
{
    const double lo = m_lo[j], hi = m_hi[j];
    // Halves, so that neither difference overflows.
    const double width = hi / 2 - lo / 2;
    if (!(width > 0))
        return 0;
    const double u = (x / 2 - lo / 2) / width;
    return std::isnan(u) ? 0.5 : std::clamp(u, 0.0, 1.0);
}

double UnitBox::spacing(int j) const
{
    const double lo = m_lo[j], hi = m_hi[j];
    return m_whole[j] && hi > lo ? 1 / (hi - lo) : 0.0;
}

// Inlined into setAll(): a method sets every variable of every sample, and the call cost as
// much as the arithmetic.
inline void UnitBox::setInline(Indiv& ind, int j, double u) const
{
    u = std::isnan(u) ? 0.5 : std::clamp(u, 0.0, 1.0);
    const double lo = m_lo[j], hi = m_hi[j];
    setValueInline(ind, j, u == 1.0 ? hi : lo * (1 - u) + hi * u);
}

inline void UnitBox::setValueInline(Indiv& ind, int j, double x) const
{
    const double lo = m_lo[j], hi = m_hi[j];
    Variable_& gene = *ind.gene(j);
    if (!m_whole[j] && gene.kind() == Variable_::Kind::Floating) {
        // Without a virtual call: a method sets every variable of every sample.
        static_cast<Floating_&>(gene).setValue(std::clamp(x, lo, hi));
        return;
    }
    if (m_whole[j])
        x = std::round(x);
    gene.setValue(std::clamp(x, lo, hi));
}

void UnitBox::set(Indiv& ind, int j, double u) const
{
    setInline(ind, j, u);
}

void UnitBox::setValue(Indiv& ind, int j, double x) const
{
    setValueInline(ind, j, std::isnan(x) ? m_lo[j] / 2 + m_hi[j] / 2 : x);
}

void UnitBox::setAll(Indiv& ind, const double* u) const
{
    for (std::size_t j = 0; j < m_lo.size(); ++j)
        setInline(ind, static_cast<int>(j), u[j]);
}

double uniformOpen(Rng& rng)
{
    const auto high = static_cast<std::uint64_t>(rng.randomInt31());
    const auto low = static_cast<std::uint64_t>(rng.randomInt31());
    const std::uint64_t bits = (high << 22) | (low >> 9);
    return (static_cast<double>(bits) + 0.5) * 0x1p-53;
}

namespace {

// The strips: strip 0 is the base, a rectangle up to kTail with the tail beyond it; strip i
// above it spans [0; x[i]] between the heights f(x[i]) and f(x[i + 1]), x[128] = 0. The
// first edge and the common area are those that close the stack at the density's top.
constexpr int kStrips = 128;
constexpr double kTail = 3.442619855899;
constexpr double kArea = 9.91256303526217e-3;
// A draw's 31 bits: 7 choose the strip, 1 the sign, 23 the position along the strip.
constexpr int kPositionBits = 23;
constexpr double kPositions = 1 << kPositionBits;

struct Ziggurat {
    // Per strip: the real per position step, the positions inside the strip above it (so
    // certainly under the curve), and the density at its right edge.
    double step[kStrips];
    std::uint32_t inside[kStrips];
    double height[kStrips + 1];

    Ziggurat()
    {
        auto f = [](double x) { return std::exp(-0.5 * x * x); };
        double edge[kStrips + 1];
        edge[1] = kTail;
        for (int i = 1; i < kStrips - 1; ++i)
            edge[i + 1] = std::sqrt(-2 * std::log(f(edge[i]) + kArea / edge[i]));
        edge[kStrips] = 0;
        // The base as a rectangle of the same area: wider than the tail's start.
        edge[0] = kArea / f(kTail);
        for (int i = 0; i < kStrips; ++i) {
            step[i] = edge[i] / kPositions;
            const double within = i == 0 ? kTail : edge[i + 1];
            inside[i] = static_cast<std::uint32_t>(within / edge[i] * kPositions);
        }
        for (int i = 1; i <= kStrips; ++i)
            height[i] = f(edge[i]);
        height[0] = 0;
    }
};

const Ziggurat& ziggurat()
{
    static const Ziggurat tables;
    return tables;
}

} // namespace

namespace {

/// One draw of the ziggurat; inline, so that a batch of draws costs no call each.
inline double drawNormal(LcgRng& rng, const Ziggurat& z)
{
    for (;;) {
        const auto draw = static_cast<std::uint32_t>(rng.randomInt31());
        const std::uint32_t strip = draw & (kStrips - 1);
        const bool negative = (draw >> 7) & 1;
        const std::uint32_t position = draw >> 8;
        double x = position * z.step[strip];
        if (position >= z.inside[strip]) {
            if (strip == 0) {
                // Beyond the base's rectangle: the tail past kTail, by exponential proposals.
                double tail, y;
                do {
                    tail = -std::log(uniformOpen(rng)) / kTail;
                    y = -std::log(uniformOpen(rng));
                } while (y + y < tail * tail);
                x = kTail + tail;
            } else {
                // In the strip's corner outside the strip above: under the curve or not.
                const double y =
                    z.height[strip] + uniformOpen(rng) * (z.height[strip + 1] - z.height[strip]);
                if (y >= std::exp(-0.5 * x * x))
                    continue;
            }
        }
        return negative ? -x : x;
    }
}

} // namespace

double NormalSource::next() { return drawNormal(m_rng, ziggurat()); }

void NormalSource::fill(double* out, std::size_t count)
{
    // The generator's state in a local copy, which the compiler keeps in a register.
    LcgRng rng(0);
    rng.setState(m_rng.state());
    const Ziggurat& z = ziggurat();
    for (std::size_t i = 0; i < count; ++i)
        out[i] = drawNormal(rng, z);
    m_rng.setState(rng.state());
}

void rankOrder(const ZYL& zyl, const Indiv* first, std::size_t count,
               std::vector<const Indiv*>& order)
{
    order.resize(count);
    for (std::size_t i = 0; i < count; ++i)
        order[i] = first + i;
    std::stable_sort(order.begin(), order.end(),
                     [&zyl](const Indiv* a, const Indiv* b) { return zyl.better(*a, *b); });
}

} // namespace detail

} // namespace zyl
