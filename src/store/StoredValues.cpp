#include "store/StoredValues.h"

#include "engine/backends/Backends.h"
#include "store/StateCodec.h"

#include <algorithm>

namespace zyl {

StoredValuesBackend::StoredValuesBackend(const ZYL& zyl, const ProjectSettings& settings,
                                         EvaluationBackend* inner,
                                         std::vector<EvaluationRecord> finished)
    : m_zyl(zyl), m_settings(settings), m_inner(inner), m_finished(std::move(finished))
{
}

EvaluationRecord evaluationRecord(const EvaluationResult& result, const ZYL& zyl)
{
    EvaluationRecord record;
    record.generation = result.generation;
    record.individual = result.index;
    if (result.index >= 0 && result.index < zyl.popSize)
        record.variables =
            codec::toData(zyl.population[static_cast<std::size_t>(result.index)]).variables;
    record.value = result.value.value_or(0);
    record.constraints = result.constraints;
    record.objectives = result.objectives;
    switch (result.status) {
    case EvaluationStatus::Succeeded:
        record.status = RecordStatus::Ok;
        break;
    case EvaluationStatus::FailureValue:
        record.status = result.timedOut ? RecordStatus::TimedOut : RecordStatus::FailureValue;
        break;
    case EvaluationStatus::Cancelled:
    case EvaluationStatus::NotRun:
        record.status = RecordStatus::Cancelled;
        break;
    default:
        record.status = result.timedOut ? RecordStatus::TimedOut : RecordStatus::Failed;
    }
    record.kind = "external";
    record.seconds = result.seconds;
    record.attempts = result.attempts;
    record.host = result.where;
    record.folder = result.workDir;
    record.message = result.status == EvaluationStatus::Succeeded ? "" : result.failure;
    return record;
}

void StoredValuesBackend::evaluateInner(EvaluationBatch& batch)
{
    if (m_inner) {
        m_inner->evaluate(batch);
        return;
    }
    SequentialExternalBackend sequential(externalProgram(m_settings, m_zyl.names));
    sequential.evaluate(batch);
}

void StoredValuesBackend::evaluate(EvaluationBatch& batch)
{
    if (m_finished.empty()) {
        evaluateInner(batch);
        return;
    }
    const std::vector<EvaluationRecord> finished = std::move(m_finished);
    m_finished.clear();
    const int generation = m_zyl.generation + 1;

    // Items of `batch` still to evaluate, by their place in the sub-batch.
    std::vector<std::size_t> rest;
    std::vector<int> restIndices;
    for (std::size_t k = 0; k < batch.size(); ++k) {
        const int index = batch.index(k);
        const EvaluationRecord* match = nullptr;
        for (const EvaluationRecord& record : finished)
            if (record.generation == generation && record.individual == index &&
                record.variables == codec::toData(batch.individual(k)).variables)
                match = &record;
        if (match) {
            // The program's values; the section's are computed at the take-back.
            if (batch.programConstraints() > 0 &&
                match->constraints.size() ==
                    static_cast<std::size_t>(batch.programConstraints()))
                std::copy(match->constraints.begin(), match->constraints.end(),
                          batch.constraints(k) + (batch.constraintCount() -
                                                  match->constraints.size()));
            if (batch.programObjectives() > 0 &&
                match->objectives.size() == static_cast<std::size_t>(batch.programObjectives()))
                std::copy(match->objectives.begin(), match->objectives.end(),
                          batch.objectives(k) + (batch.objectiveCount() -
                                                 match->objectives.size()));
            batch.reportValue(k, match->value);
            ++m_used;
        } else {
            rest.push_back(k);
            restIndices.push_back(index);
        }
    }
    batch.progress();
    if (rest.empty() || batch.stopRequested())
        return;

    // The others as a batch of their own, whose outcomes are copied into the run's batch as
    // they come (a failure at once, so that it stops the run before the next program).
    EvaluationBatch sub(batch.stopFlag(), batch.abortFlag());
    sub.reset(m_zyl.population, std::move(restIndices), batch.constraintCount(),
              batch.programConstraints(), batch.objectiveCount(), batch.programObjectives());
    std::vector<bool> copied(rest.size(), false);
    auto copyNew = [&] {
        for (std::size_t j = 0; j < rest.size(); ++j)
            if (!copied[j] && sub.status(j) != EvaluationOutcome::Status::NotRun) {
                copied[j] = true;
                batch.report(rest[j], sub.outcome(j));
            }
    };
    sub.setFailureHandler(copyNew);
    sub.setProgressHandler([&](std::size_t) {
        copyNew();
        batch.progress();
    });
    evaluateInner(sub);
    copyNew();
    batch.progress();
}

} // namespace zyl
