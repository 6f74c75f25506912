#include "engine/backends/ProgramEvaluation.h"

#include <algorithm>
#include <optional>
#include <utility>

namespace zyl {

ProgramEvaluation::ProgramEvaluation(std::unique_ptr<BatchEvaluator> evaluator,
                                     const int& generation, bool buffered)
    : m_evaluator(std::move(evaluator)), m_generation(generation), m_buffered(buffered)
{
}

void ProgramEvaluation::evaluate(EvaluationBatch& batch)
{
    if (batch.size() == 0 || batch.stopRequested())
        return;
    std::vector<EvaluationRequest> requests(batch.size());
    std::vector<const Indiv*> individuals(batch.size());
    for (std::size_t k = 0; k < batch.size(); ++k) {
        requests[k].generation = m_generation + 1; // the one being evaluated
        requests[k].index = batch.index(k);
        requests[k].line = inputText(m_form, batch.individual(k));
        individuals[k] = &batch.individual(k);
    }
    if (m_buffered) {
        const std::vector<int> first = findDuplicates(individuals);
        for (std::size_t k = 0; k < batch.size(); ++k)
            requests[k].duplicateOf = first[k];
    }

    auto itemOf = [&batch](int index) {
        std::size_t lo = 0, hi = batch.size();
        while (lo < hi) {
            const std::size_t mid = (lo + hi) / 2;
            if (batch.index(mid) < index)
                lo = mid + 1;
            else
                hi = mid;
        }
        return lo;
    };
    // A failure is handed to the run only when every program has ended: the run stops at the
    // failed individual, and the ones before it, which may still be running, must be taken
    // first, as one program after the other would have taken them.
    struct Failure {
        std::size_t item;
        std::optional<double> value;
        bool timedOut;
        std::string message;
        bool operator<(const Failure& other) const { return item < other.item; }
    };
    std::vector<Failure> failed;
    const BatchEvaluator::Finished finished = [&](const EvaluationResult& result) {
        const std::size_t k = itemOf(result.index);
        if (result.status == EvaluationStatus::Failed)
            failed.push_back({k, result.value, result.timedOut, failureMessage(result)});
        else if (result.status == EvaluationStatus::FailureValue)
            batch.report(k, {EvaluationOutcome::Status::FailureValue, true, *result.value, {},
                             result.timedOut});
        else if (!result.constraints.empty() || !result.objectives.empty()) {
            EvaluationOutcome outcome = EvaluationOutcome::evaluated(*result.value);
            outcome.constraints = result.constraints;
            outcome.objectives = result.objectives;
            batch.report(k, std::move(outcome));
        } else
            batch.reportValue(k, *result.value);
        if (m_finished)
            m_finished(result);
        batch.progress();
    };
    const BatchControl control{&batch.abortFlag(), &batch.stopFlag()};
    try {
        m_evaluator->evaluate(std::move(requests), finished, control);
    } catch (const std::exception& error) {
        // Nothing could start (a work root that cannot be made, sbatch missing): the first
        // individual without a value carries the message, and the run stops there.
        for (std::size_t k = 0; k < batch.size(); ++k)
            if (batch.status(k) == EvaluationOutcome::Status::NotRun) {
                batch.report(k, {EvaluationOutcome::Status::Failed, false, 0,
                                 std::string(externalProblem) + "\n" + error.what(), false});
                break;
            }
        return;
    }
    std::sort(failed.begin(), failed.end());
    // The first is the run's message; the programs that failed beside it are said here, and
    // counted by the run as failures all the same.
    for (std::size_t f = 1; f < failed.size(); ++f)
        m_evaluator->tell(failed[f].message.substr(failed[f].message.find('\n') + 1));
    for (Failure& failure : failed)
        batch.report(failure.item,
                     {EvaluationOutcome::Status::Failed, failure.value.has_value(),
                      failure.value.value_or(0), std::move(failure.message), failure.timedOut});
}

} // namespace zyl
