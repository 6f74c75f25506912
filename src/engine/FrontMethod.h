#pragma once

#include "engine/Method.h"
#include "engine/ParetoSearch.h"

#include <memory>
#include <vector>

namespace zyl {

/// A multi-objective search (ParetoSearch) as a method of a task with several objectives: the
/// engine's individuals go in as coordinates of the unit cube with their objective values and
/// violations, and the designs it proposes come back as the next generation. The population it
/// keeps is the one the front statistics, the report and the Pareto window describe
/// (Objectives::kept), with each member's variables exactly as evaluated.
///
/// A generation is taken once, as soon as it is evaluated (take(), before the statistics), and
/// the next one is proposed by next(). The state is the search's and the designs it proposed:
/// the kept individuals are the engine's, and a run store keeps them with the objectives.
class FrontMethod final : public SearchMethod {
public:
    explicit FrontMethod(ParetoMethod kind) : m_kind(kind) {}

    Method method() const override
    {
        return m_kind == ParetoMethod::Nsga2 ? Method::Nsga2 : Method::SmsEmoa;
    }

    /// The selection over the population before and the generation just evaluated, into
    /// zyl.objectives->kept and onFront. Nothing when this generation was taken already.
    /// \throws Exception "A task with one objective runs with method ga, cmaes, de or trust"
    /// without several objectives.
    void take(ZYL& zyl);
    /// take(), then the proposed designs become the population, ready for evaluation.
    bool next(ZYL& zyl, const std::atomic<bool>* stop) override;

    /// After take(): the front of each design of the generation among the population before
    /// and it (0: dominated by none of them).
    std::span<const int> generationFronts() const
    {
        return m_search ? m_search->batchFronts() : std::span<const int>();
    }

    MethodState save() const override;
    void restore(const MethodState& state, const ZYL& zyl) override;

private:
    ParetoSearch& search(const ZYL& zyl);

    ParetoMethod m_kind;
    std::unique_ptr<ParetoSearch> m_search;
    // The population at hand has been taken.
    bool m_taken = false;
    // The population holds the designs of m_next, which the search proposed: its coordinates
    // are taken as they are, rather than read back from the variables to within a rounding.
    bool m_proposed = false;
    // The designs of the population in coordinates; rooms kept from one generation to the next.
    std::vector<double> m_next, m_values, m_violations;
    std::vector<Indiv> m_kept;
};

/// The method object of `kind`, as new.
std::unique_ptr<SearchMethod> makeFrontMethod(ParetoMethod kind);

} // namespace zyl
