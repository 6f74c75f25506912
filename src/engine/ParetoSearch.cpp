#include "engine/ParetoSearch.h"

#include "common/Exception.h"
#include "engine/Hypervolume.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <iterator>
#include <numeric>

namespace zyl {

namespace {

constexpr std::int64_t kStateFormat = 1;
// Coordinates closer than this are one value to the crossover, which divides by their gap.
constexpr double kLeastGap = 1e-14;
// Scaled values beyond this are as far as can matter to the hypervolume selection, and keep
// an infinite value from turning its products into not-a-number.
constexpr double kFarthest = 1e9;
// The hypervolume selection's reference point lies this share of the front's range beyond
// its worst value in each objective: near enough that the extremes count for little more
// than the points between them.
constexpr double kReferenceOffset = 0.1;
// The children of the hypervolume selection's breeding made by differential evolution, its
// weight and crossover rate, and the share of crossovers with a nearest neighbour.
constexpr double kDifferentialShare = 0.2;
constexpr double kDifferentialWeight = 0.5;
constexpr double kDifferentialRate = 0.5;
constexpr double kNeighbourShare = 0.3;

/// A real in (0; 1) with 53 random bits: detail::uniformOpen's draws, through the final class
/// so that they are inlined.
inline double uniform(LcgRng& rng)
{
    const auto high = static_cast<std::uint64_t>(rng.randomInt31());
    const auto low = static_cast<std::uint64_t>(rng.randomInt31());
    return (static_cast<double>((high << 22) | (low >> 9)) + 0.5) * 0x1p-53;
}

/// True with probability p, from one 31-bit draw.
inline bool chance(LcgRng& rng, double p)
{
    return rng.randomInt31() * 0x1p-31 < p;
}

/// x^e; by multiplications when e is a small whole number (the usual distribution indexes
/// give one), which costs a fraction of pow.
double power(double x, double e)
{
    if (e >= 0 && e <= 64 && e == std::floor(e)) {
        double result = 1;
        for (auto k = static_cast<unsigned>(e); k > 0; k >>= 1, x *= x)
            if (k & 1)
                result *= x;
        return result;
    }
    return std::pow(x, e);
}

/// x^e for x > 0 by a logarithm and an exponential, which cost half of pow.
inline double root(double x, double e)
{
    return std::exp(std::log(x) * e);
}

/// Simulated binary crossover of two rows of coordinates in [0; 1], in place: each variable
/// with probability 1/2, the children spread about their parents' middle by a factor drawn
/// from a density that peaks at 1 (the larger the index, the sharper), put back on the bounds
/// they cross, their places swapped with probability 1/2. Children on a bound are no loss:
/// optima often lie there.
void crossRows(LcgRng& rng, double* a, double* b, std::size_t n, double index)
{
    const double e = 1 / (index + 1);
    for (std::size_t j = 0; j < n; ++j) {
        if (!chance(rng, 0.5))
            continue;
        const double lo = std::min(a[j], b[j]), hi = std::max(a[j], b[j]);
        const double gap = hi - lo;
        if (!(gap > kLeastGap))
            continue;
        const double r = uniform(rng);
        const double spread = root(r <= 0.5 ? 2 * r : 1 / (2 * (1 - r)), e) * gap / 2;
        const double mid = (lo + hi) / 2;
        double c1 = std::clamp(mid - spread, 0.0, 1.0);
        double c2 = std::clamp(mid + spread, 0.0, 1.0);
        if (chance(rng, 0.5))
            std::swap(c1, c2);
        a[j] = c1;
        b[j] = c2;
    }
}

/// A polynomial mutation's step from coordinate `y` in [0; 1] (Deb's bounded form: the step
/// shrinks toward a near bound instead of crossing it).
double mutationStep(double y, double r, double index)
{
    const double e = 1 / (index + 1);
    if (r < 0.5) {
        const double v = 2 * r + (1 - 2 * r) * power(1 - y, index + 1);
        return root(v, e) - 1;
    }
    const double v = 2 * (1 - r) + 2 * (r - 0.5) * power(y, index + 1);
    return 1 - root(v, e);
}

double inBox(double u)
{
    return std::isnan(u) ? 0.5 : std::clamp(u, 0.0, 1.0);
}

double sanitizedViolation(double v)
{
    return feasibleViolation(v) ? 0.0 : orderKey(v);
}

/// A binary tournament on the front: the better front wins, the first drawn on a tie.
int tournament(LcgRng& rng, const std::vector<int>& rank)
{
    const int n = static_cast<int>(rank.size());
    const int a = rng.randomIndex(n), b = rng.randomIndex(n);
    return rank[static_cast<std::size_t>(b)] < rank[static_cast<std::size_t>(a)] ? b : a;
}

} // namespace

std::string_view paretoMethodName(ParetoMethod method)
{
    return method == ParetoMethod::Nsga2 ? "nsga2" : "smsemoa";
}

std::optional<ParetoMethod> paretoMethodByName(std::string_view name)
{
    for (ParetoMethod method : {ParetoMethod::Nsga2, ParetoMethod::SmsEmoa})
        if (paretoMethodName(method) == name)
            return method;
    return std::nullopt;
}

std::unique_ptr<ParetoSearch> makeParetoSearch(ParetoMethod method, int size, int objectives,
                                               std::vector<double> spacing, ParetoSettings settings)
{
    if (method == ParetoMethod::Nsga2)
        return std::make_unique<Nsga2>(size, objectives, std::move(spacing), settings);
    return std::make_unique<SmsEmoa>(size, objectives, std::move(spacing), settings);
}

ParetoSearch::ParetoSearch(int size, int objectives, std::vector<double> spacing,
                           ParetoSettings settings)
    : m_settings(settings), m_size(size), m_objectives(objectives), m_spacing(std::move(spacing))
{
    for (std::size_t j = 0; j < m_spacing.size(); ++j) {
        double& s = m_spacing[j];
        if (!(s > 0 && s <= 1))
            s = 0;
        else
            m_whole.push_back(j);
    }
}

void ParetoSearch::take(std::span<const double> designs, const Evaluations& batch)
{
    const auto size = static_cast<std::size_t>(m_size);
    if (designs.size() != size * m_spacing.size() || batch.count() != size ||
        batch.objectives != m_objectives ||
        batch.values.size() != size * static_cast<std::size_t>(m_objectives))
        throw Exception("the batch does not fit the multi-objective search");
    if (m_taken == 0) {
        m_designs.resize(designs.size());
        std::transform(designs.begin(), designs.end(), m_designs.begin(), inBox);
        m_values.resize(batch.values.size());
        std::transform(batch.values.begin(), batch.values.end(), m_values.begin(), orderKey);
        m_violations.resize(size);
        std::transform(batch.violations.begin(), batch.violations.end(), m_violations.begin(),
                       sanitizedViolation);
        sortFronts(evaluations(), m_populationFront);
        m_kept.resize(size);
        std::iota(m_kept.begin(), m_kept.end(), 0);
    } else {
        survive(designs, batch);
        m_kept.assign(m_chosen.begin(), m_chosen.end());
    }
    rankPopulation();
    ++m_taken;
}

void ParetoSearch::propose(Rng& rng, std::vector<double>& next)
{
    assert(m_taken > 0);
    const auto high = static_cast<std::uint64_t>(rng.randomInt31());
    LcgRng own((high << 31) | static_cast<std::uint64_t>(rng.randomInt31()));
    next.resize(static_cast<std::size_t>(m_size) * m_spacing.size());
    breed(own, next);
}

void ParetoSearch::survive(std::span<const double> designs, const Evaluations& batch)
{
    const auto size = static_cast<std::size_t>(m_size);
    const std::size_t n = m_spacing.size();
    const auto m = static_cast<std::size_t>(m_objectives);
    // The population, then the batch.
    m_mergedDesigns.assign(m_designs.begin(), m_designs.end());
    std::transform(designs.begin(), designs.end(), std::back_inserter(m_mergedDesigns), inBox);
    m_mergedValues.assign(m_values.begin(), m_values.end());
    std::transform(batch.values.begin(), batch.values.end(), std::back_inserter(m_mergedValues),
                   orderKey);
    m_mergedViolations.assign(m_violations.begin(), m_violations.end());
    std::transform(batch.violations.begin(), batch.violations.end(),
                   std::back_inserter(m_mergedViolations), sanitizedViolation);
    const Evaluations merged{m_mergedValues, m_mergedViolations, m_objectives};

    const int fronts = sortFronts(merged, m_front);
    // The members of each front in index order, front after front.
    std::vector<int> start(static_cast<std::size_t>(fronts) + 1, 0);
    for (int f : m_front)
        ++start[static_cast<std::size_t>(f) + 1];
    std::partial_sum(start.begin(), start.end(), start.begin());
    std::vector<int> byFront(m_front.size());
    {
        std::vector<int> at(start.begin(), start.end() - 1);
        for (std::size_t i = 0; i < m_front.size(); ++i)
            byFront[static_cast<std::size_t>(at[static_cast<std::size_t>(m_front[i])]++)] =
                static_cast<int>(i);
    }
    m_chosen.clear();
    std::vector<int> cut;
    for (int f = 0; f < fronts && m_chosen.size() < size; ++f) {
        const auto first = byFront.begin() + start[static_cast<std::size_t>(f)];
        const auto last = byFront.begin() + start[static_cast<std::size_t>(f) + 1];
        if (m_chosen.size() + static_cast<std::size_t>(last - first) <= size) {
            m_chosen.insert(m_chosen.end(), first, last);
            continue;
        }
        m_members.assign(first, last);
        truncate(merged, m_members, size - m_chosen.size(), cut);
        m_chosen.insert(m_chosen.end(), cut.begin(), cut.end());
    }
    std::sort(m_chosen.begin(), m_chosen.end());

    m_populationFront.resize(size);
    for (std::size_t i = 0; i < size; ++i)
        m_populationFront[i] = m_front[static_cast<std::size_t>(m_chosen[i])];
    for (std::size_t i = 0; i < size; ++i) {
        const auto c = static_cast<std::size_t>(m_chosen[i]);
        std::copy_n(&m_mergedDesigns[c * n], n, &m_designs[i * n]);
        std::copy_n(&m_mergedValues[c * m], m, &m_values[i * m]);
        m_violations[i] = m_mergedViolations[c];
    }
}

double ParetoSearch::onGrid(std::size_t j, double u) const
{
    const double s = m_spacing[j];
    return std::min(std::round(u / s) * s, 1.0);
}

void ParetoSearch::mutate(LcgRng& rng, double* child) const
{
    const std::size_t n = m_spacing.size();
    const double mutations = m_settings.mutations > 0 ? m_settings.mutations : defaultMutations();
    const double rate = std::min(1.0, mutations / static_cast<double>(n));
    // The gaps between mutated variables are geometric: one draw per mutation rather than one
    // per variable.
    const double missing = std::log1p(-rate);
    auto gap = [&rng, rate, missing, n] {
        if (rate >= 1)
            return std::size_t(0);
        const double g = std::floor(std::log(uniform(rng)) / missing);
        return g < static_cast<double>(n) ? static_cast<std::size_t>(g) : n;
    };
    for (std::size_t j = rate > 0 ? gap() : n; j < n; j += 1 + gap()) {
        const double s = m_spacing[j];
        const double before = child[j];
        const double step = mutationStep(before, uniform(rng), m_settings.mutationIndex);
        double u = std::clamp(before + step, 0.0, 1.0);
        if (s > 0) {
            // A whole-numbered variable moves at least to a neighbouring value, the way the
            // step pointed (or away from the bound it would cross).
            const double was = std::round(before / s), last = std::round(1 / s);
            double k = std::round(u / s);
            if (k == was)
                k = step < 0 ? was - 1 : was + 1;
            if (k < 0 || k > last)
                k = k < 0 ? std::min(was + 1, last) : std::max(was - 1, 0.0);
            u = std::min(k * s, 1.0);
        }
        child[j] = u;
    }
    for (std::size_t j : m_whole)
        child[j] = onGrid(j, child[j]);
}

void ParetoSearch::makePair(LcgRng& rng, std::size_t p, std::size_t q, double* a, double* b) const
{
    const std::size_t n = m_spacing.size();
    std::copy_n(design(p), n, a);
    std::copy_n(design(q), n, b);
    if (chance(rng, m_settings.crossover))
        crossRows(rng, a, b, n, m_settings.crossoverIndex);
    mutate(rng, a);
    mutate(rng, b);
}

MethodState ParetoSearch::save() const
{
    MethodState state;
    if (m_taken == 0)
        return state;
    state.counts = {kStateFormat, static_cast<std::int64_t>(method()),
                    m_size,       static_cast<std::int64_t>(m_spacing.size()),
                    m_objectives, m_taken};
    for (const auto* part : {&m_designs, &m_values, &m_violations})
        state.reals.insert(state.reals.end(), part->begin(), part->end());
    return state;
}

void ParetoSearch::restore(const MethodState& state)
{
    m_taken = 0;
    m_designs.clear();
    m_values.clear();
    m_violations.clear();
    m_kept.clear();
    if (state.empty())
        return;
    const std::size_t n = m_spacing.size();
    const auto m = static_cast<std::size_t>(m_objectives);
    const std::vector<std::int64_t>& c = state.counts;
    if (c.size() != 6 || c[0] != kStateFormat || c[1] != static_cast<std::int64_t>(method()) ||
        c[2] != m_size || c[3] != static_cast<std::int64_t>(n) || c[4] != m_objectives || c[5] < 1)
        throw Exception("the state of the multi-objective search is not of this task");
    const auto rows = static_cast<std::size_t>(m_size);
    if (state.reals.size() != rows * (n + m + 1) || !state.individuals.empty())
        throw Exception("the state of the multi-objective search has the wrong size");
    const auto designs = std::span(state.reals).first(rows * n);
    const auto values = std::span(state.reals).subspan(rows * n, rows * m);
    const auto violations = std::span(state.reals).last(rows);
    if (!std::all_of(designs.begin(), designs.end(), [](double u) { return u >= 0 && u <= 1; }) ||
        std::any_of(values.begin(), values.end(), [](double v) { return std::isnan(v); }) ||
        !std::all_of(violations.begin(), violations.end(), [](double v) { return v >= 0; }))
        throw Exception("the state of the multi-objective search holds a number out of range");
    m_designs.assign(designs.begin(), designs.end());
    m_values.assign(values.begin(), values.end());
    m_violations.assign(violations.begin(), violations.end());
    m_taken = c[5];
    sortFronts(evaluations(), m_populationFront);
    rankPopulation();
}

void Nsga2::truncate(const Evaluations& merged, std::vector<int>& members, std::size_t need,
                     std::vector<int>& chosen)
{
    crowdingDistances(merged, members, m_crowding);
    std::stable_sort(members.begin(), members.end(), [this](int a, int b) {
        return m_crowding[static_cast<std::size_t>(a)] > m_crowding[static_cast<std::size_t>(b)];
    });
    chosen.assign(members.begin(), members.begin() + static_cast<std::ptrdiff_t>(need));
    std::sort(chosen.begin(), chosen.end());
}

void Nsga2::rankPopulation()
{
    const Evaluations population = evaluations();
    const std::vector<int>& front = frontOf();
    m_crowding.assign(population.count(), 0.0);
    std::vector<std::vector<int>> members;
    for (std::size_t i = 0; i < front.size(); ++i) {
        const auto f = static_cast<std::size_t>(front[i]);
        if (f >= members.size())
            members.resize(f + 1);
        members[f].push_back(static_cast<int>(i));
    }
    for (const std::vector<int>& f : members)
        crowdingDistances(population, f, m_crowding);
}

int Nsga2::pickParent(LcgRng& rng) const
{
    const int a = rng.randomIndex(size()), b = rng.randomIndex(size());
    const auto i = static_cast<std::size_t>(a), j = static_cast<std::size_t>(b);
    const std::vector<int>& front = frontOf();
    if (front[i] != front[j])
        return front[i] < front[j] ? a : b;
    return m_crowding[j] > m_crowding[i] ? b : a;
}

void Nsga2::breed(LcgRng& rng, std::vector<double>& next)
{
    const std::size_t n = static_cast<std::size_t>(variables());
    const auto size = static_cast<std::size_t>(this->size());
    std::vector<double> b(n);
    for (std::size_t i = 0; i < size; i += 2) {
        const auto p = static_cast<std::size_t>(pickParent(rng));
        const auto q = static_cast<std::size_t>(pickParent(rng));
        makePair(rng, p, q, &next[i * n], i + 1 < size ? &next[(i + 1) * n] : b.data());
    }
}

void SmsEmoa::truncate(const Evaluations& merged, std::vector<int>& members, std::size_t need,
                       std::vector<int>& chosen)
{
    const auto m = static_cast<std::size_t>(merged.objectives);
    const std::size_t count = members.size();
    m_scaled.resize(count * m);
    m_reference.assign(m, 1 + kReferenceOffset);
    for (std::size_t k = 0; k < m; ++k) {
        double lo = INFINITY, hi = -INFINITY;
        for (int i : members) {
            const double v = merged.row(static_cast<std::size_t>(i))[k];
            if (std::isfinite(v)) {
                lo = std::min(lo, v);
                hi = std::max(hi, v);
            }
        }
        if (!(lo <= hi))
            lo = hi = 0;
        const double scale = hi > lo ? hi - lo : 1.0;
        for (std::size_t i = 0; i < count; ++i) {
            const double v = merged.row(static_cast<std::size_t>(members[i]))[k];
            m_scaled[i * m + k] = std::clamp((v - lo) / scale, -kFarthest, kFarthest);
        }
    }
    const std::vector<int> kept =
        keepLargestHypervolume(m_scaled, merged.objectives, m_reference, need);
    chosen.clear();
    for (int i : kept)
        chosen.push_back(members[static_cast<std::size_t>(i)]);
}

void SmsEmoa::rankPopulation()
{
    const Evaluations population = evaluations();
    // Each member's nearest neighbour in the objectives, each scaled to the population's
    // range (a member equal to it is no neighbour to breed with).
    const std::size_t count = population.count();
    const auto m = static_cast<std::size_t>(population.objectives);
    m_scaled.resize(count * m);
    for (std::size_t k = 0; k < m; ++k) {
        double lo = INFINITY, hi = -INFINITY;
        for (std::size_t i = 0; i < count; ++i) {
            const double v = population.row(i)[k];
            if (std::isfinite(v)) {
                lo = std::min(lo, v);
                hi = std::max(hi, v);
            }
        }
        const double scale = hi > lo ? 1 / (hi - lo) : 1.0;
        for (std::size_t i = 0; i < count; ++i)
            m_scaled[i * m + k] = std::clamp(population.row(i)[k] * scale, -kFarthest, kFarthest);
    }
    // Outward from each member in the order of the first objective, until that alone lies
    // farther than the nearest so far.
    std::vector<std::size_t> order(count);
    std::iota(order.begin(), order.end(), std::size_t(0));
    std::sort(order.begin(), order.end(), [this, m](std::size_t a, std::size_t b) {
        return m_scaled[a * m] < m_scaled[b * m] || (m_scaled[a * m] == m_scaled[b * m] && a < b);
    });
    m_neighbour.resize(count);
    for (std::size_t at = 0; at < count; ++at) {
        const std::size_t i = order[at];
        const double* p = &m_scaled[i * m];
        double nearest = INFINITY;
        m_neighbour[i] = static_cast<int>(i);
        auto consider = [&](std::size_t j) {
            const double* q = &m_scaled[j * m];
            double d = 0;
            for (std::size_t k = 0; k < m; ++k)
                d += (p[k] - q[k]) * (p[k] - q[k]);
            // Of equally near ones the first in index order, whichever side it lies on.
            if (d > 0 &&
                (d < nearest || (d == nearest && j < static_cast<std::size_t>(m_neighbour[i])))) {
                nearest = d;
                m_neighbour[i] = static_cast<int>(j);
            }
        };
        for (std::size_t k = at; k-- > 0;) {
            const double g = p[0] - m_scaled[order[k] * m];
            if (g * g > nearest)
                break;
            consider(order[k]);
        }
        for (std::size_t k = at + 1; k < count; ++k) {
            const double g = m_scaled[order[k] * m] - p[0];
            if (g * g > nearest)
                break;
            consider(order[k]);
        }
    }
}

int SmsEmoa::pickParent(LcgRng& rng) const
{
    return tournament(rng, frontOf());
}

void SmsEmoa::differentialChild(LcgRng& rng, double* child) const
{
    const auto n = static_cast<std::size_t>(variables());
    const int target = pickParent(rng);
    // Three others distinct from the target and from each other need four members; a smaller
    // population lets the difference vanish.
    int r[3] = {target, target, target};
    for (int k = 0; k < 3 && size() >= 4; ++k) {
        int c;
        do
            c = rng.randomIndex(size());
        while (c == target || (k > 0 && c == r[0]) || (k > 1 && c == r[1]));
        r[k] = c;
    }
    const double* x = design(static_cast<std::size_t>(target));
    const double* base = design(static_cast<std::size_t>(r[0]));
    const double* plus = design(static_cast<std::size_t>(r[1]));
    const double* minus = design(static_cast<std::size_t>(r[2]));
    // One variable always comes from the mutant, so that no child copies its parent.
    const auto forced = static_cast<std::size_t>(rng.randomIndex(variables()));
    for (std::size_t j = 0; j < n; ++j)
        child[j] = j == forced || chance(rng, kDifferentialRate)
                       ? std::clamp(base[j] + kDifferentialWeight * (plus[j] - minus[j]), 0.0, 1.0)
                       : x[j];
    mutate(rng, child);
}

void SmsEmoa::breed(LcgRng& rng, std::vector<double>& next)
{
    const std::size_t n = static_cast<std::size_t>(variables());
    const auto size = static_cast<std::size_t>(this->size());
    std::vector<double> spare(n);
    for (std::size_t i = 0; i < size;) {
        if (chance(rng, kDifferentialShare)) {
            differentialChild(rng, &next[i * n]);
            ++i;
            continue;
        }
        const auto p = static_cast<std::size_t>(pickParent(rng));
        const auto q = chance(rng, kNeighbourShare) ? static_cast<std::size_t>(m_neighbour[p])
                                                    : static_cast<std::size_t>(pickParent(rng));
        makePair(rng, p, q, &next[i * n], i + 1 < size ? &next[(i + 1) * n] : spare.data());
        i += 2;
    }
}

} // namespace zyl
