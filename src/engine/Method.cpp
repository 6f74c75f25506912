#include "engine/Method.h"

#include "common/Exception.h"
#include "engine/Cmaes.h"
#include "engine/DifferentialEvolution.h"
#include "engine/Zyl.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <limits>
#include <numbers>
#include <numeric>

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
    case Method::Ga: break;
    }
    return "ga";
}

std::optional<Method> methodByName(std::string_view name)
{
    for (Method method : {Method::Ga, Method::Cmaes, Method::De})
        if (methodName(method) == name)
            return method;
    return std::nullopt;
}

bool withinRanges(const MethodSettings& m)
{
    const CmaesSettings& c = m.cmaes;
    const DeSettings& d = m.de;
    return c.step > 0 && c.step <= 1 && c.restarts >= 0 && c.restarts <= kMostRestarts &&
           c.growth >= 1 && c.growth <= kMostGrowth && d.f > 0 && d.f <= kMostWeight &&
           d.cr >= 0 && d.cr <= 1 && d.adaptation >= 0 && d.adaptation <= 1;
}

std::unique_ptr<SearchMethod> makeSearchMethod(Method method)
{
    switch (method) {
    case Method::Cmaes: return std::make_unique<Cmaes>();
    case Method::De: return std::make_unique<DifferentialEvolution>();
    case Method::Ga: break;
    }
    return std::make_unique<GeneticAlgorithm>();
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

void UnitBox::set(Indiv& ind, int j, double u) const
{
    u = std::isnan(u) ? 0.5 : std::clamp(u, 0.0, 1.0);
    const double lo = m_lo[j], hi = m_hi[j];
    double x = u == 1.0 ? hi : lo * (1 - u) + hi * u;
    if (m_whole[j])
        x = std::round(x);
    ind.gene(j)->setValue(std::clamp(x, lo, hi));
}

double uniformOpen(Rng& rng)
{
    const auto high = static_cast<std::uint64_t>(rng.randomInt31());
    const auto low = static_cast<std::uint64_t>(rng.randomInt31());
    const std::uint64_t bits = (high << 22) | (low >> 9);
    return (static_cast<double>(bits) + 0.5) * 0x1p-53;
}

double NormalSource::next()
{
    if (m_hasSpare) {
        m_hasSpare = false;
        return m_spare;
    }
    const double radius = std::sqrt(-2.0 * std::log(uniformOpen(m_rng)));
    const double angle = 2.0 * std::numbers::pi * uniformOpen(m_rng);
    m_spare = radius * std::sin(angle);
    m_hasSpare = true;
    return radius * std::cos(angle);
}

std::vector<int> rankOrder(const ZYL& zyl, const std::vector<const Indiv*>& individuals)
{
    std::vector<int> order(individuals.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
        return zyl.better(*individuals[static_cast<std::size_t>(a)],
                          *individuals[static_cast<std::size_t>(b)]);
    });
    return order;
}

} // namespace detail

} // namespace zyl
