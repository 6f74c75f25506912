#include "engine/DifferentialEvolution.h"

#include "common/Exception.h"
#include "engine/Zyl.h"

#include <cmath>

namespace zyl {

namespace {

constexpr std::int64_t kStateFormat = 1;
// A weight drawn anew lies in [kLeastWeight; kLeastWeight + kWeightSpan]: below about 0.1 the
// differences hardly move a trial, above 1 they mostly throw it out of the box.
constexpr double kLeastWeight = 0.1;
constexpr double kWeightSpan = 0.9;

} // namespace

bool DifferentialEvolution::next(ZYL& zyl, const std::atomic<bool>*)
{
    const detail::UnitBox box(zyl);
    const std::size_t n = static_cast<std::size_t>(zyl.count());
    if (m_targets.empty()) {
        m_size = zyl.popSize;
        m_count = zyl.count();
        m_targets = zyl.population;
        m_targetGenes.resize(m_targets.size() * n);
        for (std::size_t i = 0; i < m_targets.size(); ++i)
            for (std::size_t j = 0; j < n; ++j)
                m_targetGenes[i * n + j] = box.toUnit(
                    static_cast<int>(j), m_targets[i].gene(static_cast<int>(j))->getValue());
        m_weights.assign(m_targets.size(), zyl.methodSettings.de.f);
        m_rates.assign(m_targets.size(), zyl.methodSettings.de.cr);
    } else {
        for (std::size_t i = 0; i < m_targets.size(); ++i) {
            const Indiv& trial = zyl.population[i];
            // Equal ranks go to the trial, so that a search can drift across a plateau.
            if (zyl.better(m_targets[i], trial))
                continue;
            m_targets[i] = trial;
            for (std::size_t j = 0; j < n; ++j)
                m_targetGenes[i * n + j] = m_trialGenes[i * n + j];
            m_weights[i] = m_trialWeights[i];
            m_rates[i] = m_trialRates[i];
        }
    }
    makeTrials(zyl, box);
    zyl.prepareForEvaluation();
    return true;
}

void DifferentialEvolution::makeTrials(ZYL& zyl, const detail::UnitBox& box)
{
    Rng& rng = zyl.rng();
    const int size = m_size;
    const std::size_t n = static_cast<std::size_t>(m_count);
    const double adaptation = zyl.methodSettings.de.adaptation;
    m_trialGenes.resize(m_targetGenes.size());
    m_trialWeights.resize(m_weights.size());
    m_trialRates.resize(m_rates.size());
    // Three others distinct from the target and from each other need four individuals; a
    // smaller population lets the three repeat.
    const bool distinct = size >= 4;
    for (int i = 0; i < size; ++i) {
        const auto t = static_cast<std::size_t>(i);
        const double weight = detail::uniformOpen(rng) < adaptation
                                  ? kLeastWeight + kWeightSpan * detail::uniformOpen(rng)
                                  : m_weights[t];
        const double rate =
            detail::uniformOpen(rng) < adaptation ? detail::uniformOpen(rng) : m_rates[t];
        int r[3] = {i, i, i};
        for (int k = 0; k < 3 && size > 1; ++k) {
            int c;
            do
                c = rng.randomIndex(size);
            while (c == i || (distinct && ((k > 0 && c == r[0]) || (k > 1 && c == r[1]))));
            r[k] = c;
        }
        const double* base = &m_targetGenes[static_cast<std::size_t>(r[0]) * n];
        const double* plus = &m_targetGenes[static_cast<std::size_t>(r[1]) * n];
        const double* minus = &m_targetGenes[static_cast<std::size_t>(r[2]) * n];
        const double* target = &m_targetGenes[t * n];
        double* trial = &m_trialGenes[t * n];
        // One component always comes from the mutant, so that no trial copies its target.
        const std::size_t forced = static_cast<std::size_t>(rng.randomIndex(m_count));
        for (std::size_t j = 0; j < n; ++j) {
            double u = target[j];
            if (j == forced || detail::uniformOpen(rng) <= rate) {
                u = base[j] + weight * (plus[j] - minus[j]);
                if (u < 0)
                    u = detail::uniformOpen(rng) * target[j];
                else if (u > 1)
                    u = target[j] + detail::uniformOpen(rng) * (1 - target[j]);
            }
            trial[j] = u;
            box.set(zyl.population[t], static_cast<int>(j), u);
        }
        m_trialWeights[t] = weight;
        m_trialRates[t] = rate;
    }
}

MethodState DifferentialEvolution::save() const
{
    MethodState state;
    if (m_targets.empty())
        return state;
    state.counts = {kStateFormat, m_size, m_count};
    for (const auto* part :
         {&m_targetGenes, &m_weights, &m_rates, &m_trialGenes, &m_trialWeights, &m_trialRates})
        state.reals.insert(state.reals.end(), part->begin(), part->end());
    state.individuals = m_targets;
    return state;
}

void DifferentialEvolution::restore(const MethodState& state, const ZYL& zyl)
{
    *this = DifferentialEvolution();
    const std::size_t size = static_cast<std::size_t>(zyl.popSize);
    const std::size_t n = static_cast<std::size_t>(zyl.count());
    if (state.counts.size() != 3 || state.counts[0] != kStateFormat ||
        state.counts[1] != zyl.popSize || state.counts[2] != zyl.count())
        throw Exception("the state of the differential evolution is not of this task");
    if (state.reals.size() != 2 * size * n + 4 * size || state.individuals.size() != size)
        throw Exception("the state of the differential evolution has the wrong size");
    for (double x : state.reals)
        if (!std::isfinite(x))
            throw Exception("the state of the differential evolution holds a number that is not "
                            "finite");
    for (const Indiv& ind : state.individuals)
        if (ind.count() != zyl.count())
            throw Exception("the state of the differential evolution has the wrong size");
    auto take = [&state, from = std::size_t(0)](std::vector<double>& part,
                                                 std::size_t length) mutable {
        part.assign(state.reals.begin() + static_cast<std::ptrdiff_t>(from),
                    state.reals.begin() + static_cast<std::ptrdiff_t>(from + length));
        from += length;
    };
    take(m_targetGenes, size * n);
    take(m_weights, size);
    take(m_rates, size);
    take(m_trialGenes, size * n);
    take(m_trialWeights, size);
    take(m_trialRates, size);
    m_targets = state.individuals;
    m_size = zyl.popSize;
    m_count = zyl.count();
}

} // namespace zyl
