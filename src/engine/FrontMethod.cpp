#include "engine/FrontMethod.h"

#include "common/Exception.h"
#include "engine/Objectives.h"
#include "engine/Zyl.h"

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
        m_search = makeParetoSearch(m_kind, zyl.popSize,
                                    static_cast<int>(objectivesOf(zyl).count()), std::move(spacing));
    }
    return *m_search;
}

void FrontMethod::take(ZYL& zyl)
{
    if (m_taken)
        return;
    Objectives& objectives = objectivesOf(zyl);
    ParetoSearch& pareto = search(zyl);
    const detail::UnitBox box(zyl);
    const auto n = static_cast<std::size_t>(zyl.count());
    const std::size_t m = objectives.count();
    const auto size = static_cast<std::size_t>(zyl.popSize);
    m_designs.resize(size * n);
    m_values.resize(size * m);
    m_violations.resize(size);
    for (std::size_t i = 0; i < size; ++i) {
        const Indiv& ind = zyl.population[i];
        for (std::size_t j = 0; j < n; ++j)
            m_designs[i * n + j] =
                box.toUnit(static_cast<int>(j), detail::valueOf(*ind.gene(static_cast<int>(j))));
        objectives.keys(ind, &m_values[i * m]);
        m_violations[i] = ind.violation;
    }
    const bool started = pareto.started();
    const std::vector<Indiv>& before = objectives.kept;
    if (started && before.size() != size)
        throw Exception("the population the multi-objective search kept is missing");
    pareto.take(m_designs, {m_values, m_violations, static_cast<int>(m)});

    // The members as the engine's individuals, variables as evaluated: the coordinates would
    // give them back only to within a rounding.
    m_kept.resize(size, zyl.templateIndiv);
    const std::span<const int> kept = pareto.kept();
    for (std::size_t i = 0; i < size; ++i) {
        const auto from = static_cast<std::size_t>(kept[i]);
        if (!started)
            m_kept[i] = zyl.population[from];
        else if (from < size)
            m_kept[i] = before[from];
        else
            m_kept[i] = zyl.population[from - size];
    }
    objectives.kept.swap(m_kept);
    objectives.onFront.assign(size, 0);
    for (int i : firstFront(pareto.evaluations()))
        objectives.onFront[static_cast<std::size_t>(i)] = 1;
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
    zyl.prepareForEvaluation();
    return true;
}

MethodState FrontMethod::save() const
{
    return m_search ? m_search->save() : MethodState{};
}

void FrontMethod::restore(const MethodState& state, const ZYL& zyl)
{
    m_taken = false;
    m_search.reset();
    if (state.empty())
        return;
    search(zyl).restore(state);
}

} // namespace zyl
