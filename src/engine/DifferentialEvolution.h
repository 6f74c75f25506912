#pragma once

#include "engine/Method.h"

namespace zyl {

/// Differential evolution (a random base plus a weighted difference of two others, binomial
/// crossover with the target) in which every individual carries its own weight and crossover
/// rate: a trial draws new ones now and then, and keeps them when it wins its place, so the
/// search learns the settings that suit the objective. Each generation is the trials of every
/// target; a trial replaces its target unless it ranks worse.
///
/// The search runs in the unit cube of the variables (detail::UnitBox); a component that leaves
/// the cube lands at random between its target's value and the bound it crossed.
class DifferentialEvolution final : public SearchMethod {
public:
    Method method() const override { return Method::De; }
    bool next(ZYL& zyl, const std::atomic<bool>* stop) override;
    MethodState save() const override;
    void restore(const MethodState& state, const ZYL& zyl) override;

private:
    void makeTrials(ZYL& zyl, const detail::UnitBox& box);

    int m_size = 0;
    int m_count = 0;
    std::vector<Indiv> m_targets;
    // Per target and per trial: the coordinates (before rounding), the weight and the rate.
    std::vector<double> m_targetGenes, m_weights, m_rates;
    std::vector<double> m_trialGenes, m_trialWeights, m_trialRates;
};

} // namespace zyl
