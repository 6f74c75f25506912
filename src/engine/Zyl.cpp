#include "engine/Zyl.h"

#include "common/Exception.h"
#include "engine/FrontMethod.h"
#include "engine/Objectives.h"
#include "engine/Formulas.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <typeinfo>

namespace zyl {

namespace {
/// target = source, also when a caller has put individuals of other variable classes into the
/// population since the last breeding (assignment then refuses; a fresh copy does not).
void copyInto(Indiv& target, const Indiv& source)
{
    try {
        target = source;
    } catch (const std::bad_cast&) {
        target = Indiv();
        target = source;
    }
}

Indiv validated(Indiv templateIndiv, int popSize, std::size_t names, std::size_t ranges)
{
    if (popSize < 1)
        throw std::invalid_argument("ZYL: the population needs at least one individual");
    auto count = static_cast<std::size_t>(templateIndiv.count());
    if (names != count || ranges != count)
        throw std::invalid_argument("ZYL: one name and one range are needed per variable");
    for (int j = 0; j < templateIndiv.count(); ++j)
        if (!templateIndiv.gene(j))
            throw std::invalid_argument("ZYL: the template individual has an empty variable");
    return templateIndiv;
}
} // namespace

ZYL::ZYL(int popSize, Indiv templateIndiv, std::vector<std::string> names,
         std::vector<VariableRange> ranges, Rng& rng)
    : popSize(popSize),
      // names and ranges are still whole here: members are initialised in declaration order.
      templateIndiv(validated(std::move(templateIndiv), popSize, names.size(), ranges.size())),
      population(static_cast<std::size_t>(popSize), this->templateIndiv),
      globalMax(this->templateIndiv), globalMin(this->templateIndiv),
      currentMax(this->templateIndiv), currentMin(this->templateIndiv), ranges(std::move(ranges)),
      names(std::move(names)), m_rng(&rng), m_lcg(dynamic_cast<LcgRng*>(&rng))
{
    globalMax.value = -DBL_MAX;
    globalMin.value = DBL_MAX;
    for (Indiv& ind : population)
        for (int j = 0; j < count(); ++j)
            ind.gene(j)->randomInit(this->ranges[j], rng);
}

ZYL::~ZYL() = default;

void ZYL::setConstraints(std::vector<std::string> names, double tolerance)
{
    constraintNames = std::move(names);
    constraintTolerance = tolerance;
    if (!constrained())
        return;
    for (Indiv* best : {&globalMin, &globalMax, &currentMin, &currentMax}) {
        best->violation = std::numeric_limits<double>::infinity();
        best->constraints.assign(constraintNames.size(),
                                 std::numeric_limits<double>::quiet_NaN());
    }
}

void ZYL::changeConstraintTolerance(double tolerance)
{
    constraintTolerance = tolerance;
    auto update = [this](Indiv& ind) {
        // Designs not evaluated yet, and the initial extremes, keep what they have.
        // A screened design's program values are unknown: its formulas' alone count.
        if (ind.constraints.size() == constraintNames.size() && !std::isinf(ind.violation))
            ind.violation = violationOf(ind.constraints.data(),
                                        ind.screened ? constraintFormulas->count()
                                                     : ind.constraints.size());
    };
    for (Indiv& ind : population)
        update(ind);
    for (Indiv* ind : {&globalMin, &globalMax, &currentMin, &currentMax})
        update(*ind);
    buffer.updateEach(update);
}

double ZYL::violationOf(const double* values, std::size_t count) const
{
    double sum = 0;
    for (std::size_t c = 0; c < count; ++c) {
        const double excess = values[c] - constraintTolerance;
        if (std::isnan(excess))
            return std::numeric_limits<double>::infinity();
        // Measured from the tolerance, so that the violation shrinks to 0 continuously as a
        // design reaches the feasible region and the search is led there.
        if (excess > 0)
            sum += excess;
    }
    return sum;
}

void ZYL::setConstraintValues(Indiv& ind, const double* values) const
{
    ind.constraints.assign(values, values + constraintNames.size());
    ind.violation = violationOf(values, constraintNames.size());
}

void ZYL::screen(Indiv& ind, const double* sectionValues) const
{
    const std::size_t section = constraintFormulas ? constraintFormulas->count() : 0;
    ind.constraints.assign(constraintNames.size(), std::numeric_limits<double>::quiet_NaN());
    std::copy_n(sectionValues, section, ind.constraints.begin());
    ind.violation = violationOf(sectionValues, section);
    ind.value = std::numeric_limits<double>::quiet_NaN();
    // An occupant's objectives before it must not rank it among designs it never met.
    ind.objectives.assign(objectives ? objectives->count() : 0,
                          std::numeric_limits<double>::quiet_NaN());
    ind.evaluated = true;
    ind.screened = true;
}

std::string ZYL::ruledOutBy(const Indiv& ind) const
{
    std::string names;
    const std::size_t section = constraintFormulas ? constraintFormulas->count() : 0;
    for (std::size_t c = 0; c < section && c < ind.constraints.size(); ++c)
        if (!(ind.constraints[c] <= constraintTolerance))
            names += (names.empty() ? "" : ", ") + constraintNames[c];
    return names;
}

const Indiv* ZYL::recordInBuffer(Indiv& ind)
{
    if (!bufferIndividuals || buffer.lookup(ind))
        return nullptr;
    return &buffer.append(ind);
}

bool ZYL::nextGeneration(const std::atomic<bool>* stop)
{
    // A method chosen since the last generation starts afresh from the population at hand.
    if (!m_method || !runs(*m_method, methodSettings))
        m_method = makeSearchMethod(methodSettings);
    if (objectives && !searchesFront(m_method->method()))
        throw Exception("A task with several objectives runs with method nsga2 or smsemoa");
    return m_method->next(*this, stop);
}

void ZYL::takeGeneration()
{
    if (!objectives)
        return;
    if (!m_method || !runs(*m_method, methodSettings))
        m_method = makeSearchMethod(methodSettings);
    auto* front = dynamic_cast<FrontMethod*>(m_method.get());
    if (!front)
        throw Exception("A task with several objectives runs with method nsga2 or smsemoa");
    front->take(*this);
    objectives->offer(population, front->generationFronts());
    objectives->computeStatistics();
}

void ZYL::prepareForEvaluation()
{
    for (Indiv& ind : population) {
        ind.evaluated = false;
        ind.screened = false;
        if (bufferIndividuals)
            bufferLookup(ind);
    }
}

MethodState ZYL::methodState() const
{
    if (!m_method || !runs(*m_method, methodSettings))
        return {};
    return m_method->save();
}

void ZYL::restoreMethod(const MethodState& state)
{
    m_method = makeSearchMethod(methodSettings);
    if (state.empty())
        return;
    try {
        m_method->restore(state, *this);
    } catch (...) {
        m_method = makeSearchMethod(methodSettings);
        throw;
    }
}

bool ZYL::breed(const std::atomic<bool>* stop)
{
    if (selection == 0)
        throw Exception("Roulette selection. Not implemented yet.");
    StopPoll poll(stop);
    // NOTE: the order of the draws is observable (a seeded run repeats, tests script them):
    // all selections, then crossover pair by pair, then mutation individual by individual,
    // then the elite slot.
    if (m_next.size() != population.size())
        m_next = population;
    for (std::size_t i = 0; i < population.size(); ++i) {
        const int winner = tournamentSelect(poll);
        if (winner < 0)
            return false;
        copyInto(m_next[i], population[static_cast<std::size_t>(winner)]);
    }
    for (std::size_t i = 0; i + 1 < m_next.size(); i += 2)
        if (!crossPair(m_next[i], m_next[i + 1], poll))
            return false;
    for (Indiv& child : m_next) {
        mutate(child);
        if (poll.step(static_cast<std::uint64_t>(child.count())))
            return false;
    }
    population.swap(m_next);
    if (elite)
        insertElite();
    prepareForEvaluation();
    return true;
}

} // namespace zyl
