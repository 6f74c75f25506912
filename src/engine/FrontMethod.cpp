#include "engine/FrontMethod.h"

#include "common/Exception.h"
#include "engine/Objectives.h"
#include "engine/Zyl.h"

#include <algorithm>
#include <cmath>

namespace zyl {

namespace {

Objectives& objectivesOf(const ZYL& zyl)
{
    if (!zyl.objectives)
        throw Exception("A task with one objective runs with method ga, cmaes, de or trust");
    return *zyl.objectives;
}

} // namespace

std::unique_ptr<SearchMethod> makeFrontMethod(ParetoMethod kind)
{
    return std::make_unique<FrontMethod>(kind);
}

ParetoSearch& FrontMethod::search(const ZYL& zyl)
{
    if (!m_search) {
        const detail::UnitBox box(zyl);
        std::vector<double> spacing(static_cast<std::size_t>(box.size()));
        for (int j = 0; j < box.size(); ++j)
            spacing[static_cast<std::size_t>(j)] = box.spacing(j);
        const auto objectives = static_cast<int>(objectivesOf(zyl).count());
        m_search = makeParetoSearch(m_kind, zyl.popSize, objectives, std::move(spacing));
    }
    return *m_search;
}

namespace {

/// The violation by which the search ranks a design. With prescreen a design ruled out before
/// evaluation ranks after every evaluated one, whatever its violation, and among its kind by
/// its own: the violations are folded into [0, 1] (not a number at 1), a screened design's
/// raised by 2. Without prescreen the violation as it stands.
double rankingViolation(const ZYL& zyl, const Indiv& ind)
{
    if (!zyl.prescreen)
        return ind.violation;
    const double v = orderKey(ind.violation);
    const double folded = std::isinf(v) ? 1.0 : v / (1.0 + v);
    return ind.screened ? 2.0 + folded : folded;
}

} // namespace

void FrontMethod::take(ZYL& zyl)
{
    if (m_taken)
        return;
    Objectives& objectives = objectivesOf(zyl);
    ParetoSearch& pareto = search(zyl);
    const auto n = static_cast<std::size_t>(zyl.count());
    const std::size_t m = objectives.count();
    const auto size = static_cast<std::size_t>(zyl.popSize);
    // The designs it proposed are the population's; others (the first population, another
    // method's) are read from their variables.
    if (!m_proposed || m_next.size() != size * n) {
        const detail::UnitBox box(zyl);
        m_next.resize(size * n);
        for (std::size_t i = 0; i < size; ++i)
            for (std::size_t j = 0; j < n; ++j) {
                const auto k = static_cast<int>(j);
                m_next[i * n + j] = box.toUnit(k, detail::valueOf(*zyl.population[i].gene(k)));
            }
    }
    m_values.resize(size * m);
    m_violations.resize(size);
    for (std::size_t i = 0; i < size; ++i) {
        objectives.keys(zyl.population[i], &m_values[i * m]);
        m_violations[i] = rankingViolation(zyl, zyl.population[i]);
    }
    const bool started = pareto.started();
    std::vector<Indiv>& before = objectives.kept;
    if (started && before.size() != size)
        throw Exception("the population the multi-objective search kept is missing");
    pareto.take(m_next, {m_values, m_violations, static_cast<int>(m)});

    // The members as the engine's individuals, variables as evaluated: the coordinates would
    // give them back only to within a rounding. A member kept again is swapped in rather than
    // copied: each is kept once at most, and the room it leaves is reused next time.
    m_kept.resize(size, zyl.templateIndiv);
    const std::span<const int> kept = pareto.kept();
    for (std::size_t i = 0; i < size; ++i) {
        const auto from = static_cast<std::size_t>(kept[i]);
        if (!started)
            m_kept[i] = zyl.population[from];
        else if (from < size)
            std::swap(m_kept[i], before[from]);
        else
            m_kept[i] = zyl.population[from - size];
    }
    objectives.kept.swap(m_kept);
    const std::span<const int> fronts = pareto.fronts();
    objectives.onFront.resize(size);
    for (std::size_t i = 0; i < size; ++i)
        objectives.onFront[i] = fronts[i] == 0 ? 1 : 0;
    m_taken = true;
}

bool FrontMethod::next(ZYL& zyl, const std::atomic<bool>*)
{
    take(zyl);
    ParetoSearch& pareto = search(zyl);
    pareto.propose(zyl.rng(), m_next);
    const detail::UnitBox box(zyl);
    const auto n = static_cast<std::size_t>(zyl.count());
    for (std::size_t i = 0; i < zyl.population.size(); ++i)
        box.setAll(zyl.population[i], &m_next[i * n]);
    m_taken = false;
    m_proposed = true;
    zyl.prepareForEvaluation();
    return true;
}

MethodState FrontMethod::save() const
{
    if (!m_search)
        return {};
    // The search's state, then the designs it proposed when they are the population.
    MethodState state = m_search->save();
    if (state.empty())
        return state;
    state.counts.push_back(m_proposed ? 1 : 0);
    if (m_proposed)
        state.reals.insert(state.reals.end(), m_next.begin(), m_next.end());
    return state;
}

void FrontMethod::restore(const MethodState& state, const ZYL& zyl)
{
    m_taken = false;
    m_proposed = false;
    m_next.clear();
    m_search.reset();
    if (state.empty())
        return;
    const std::size_t proposals = zyl.population.size() * static_cast<std::size_t>(zyl.count());
    MethodState own = state;
    const bool proposed = !own.counts.empty() && own.counts.back() == 1;
    if (own.counts.empty() || (own.counts.back() != 0 && !proposed) ||
        (proposed && own.reals.size() < proposals))
        throw Exception("the state of the multi-objective search is not of this task");
    own.counts.pop_back();
    if (proposed) {
        m_next.assign(own.reals.end() - static_cast<std::ptrdiff_t>(proposals), own.reals.end());
        own.reals.resize(own.reals.size() - proposals);
        if (!std::all_of(m_next.begin(), m_next.end(), [](double u) { return u >= 0 && u <= 1; })) {
            m_next.clear();
            throw Exception("the state of the multi-objective search holds a number out of range");
        }
    }
    try {
        search(zyl).restore(own);
    } catch (...) {
        m_next.clear();
        m_search.reset();
        throw;
    }
    m_proposed = proposed;
}

} // namespace zyl
