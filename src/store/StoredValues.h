#pragma once

#include "engine/Evaluation.h"
#include "engine/backends/BatchEvaluator.h"
#include "engine/Zyl.h"
#include "script/ProjectSettings.h"
#include "store/RunStore.h"

#include <vector>

namespace zyl {

/// The record of an evaluation that has just ended, for RunRecorder::evaluationFinished. A
/// value given by failure_value is recorded as "failure_value" (or "timeout"), never "ok": it
/// is no result, so a resume and --reuse run its individual again.
EvaluationRecord evaluationRecord(const EvaluationResult& result, const ZYL& zyl);

/// The evaluation of an external task resumed from a store: the individuals of the
/// generation in progress whose programs had finished before the interruption take their
/// recorded values (StoredSession::finishedEvaluations) instead of running again; the rest go
/// to `inner` (or, when it is null, to the script's program one run at a time, as a run does
/// without a backend). Every item is reported into the run's batch, so the values are taken
/// back, buffered and recorded in index order as in the uninterrupted run.
///
/// A recorded value is used only for the generation and the individual it was computed for,
/// with the same variables to the last bit, and only once; later generations pass straight
/// to `inner`.
class StoredValuesBackend : public EvaluationBackend {
public:
    StoredValuesBackend(const ZYL& zyl, const ProjectSettings& settings, EvaluationBackend* inner,
                        std::vector<EvaluationRecord> finished);
    void evaluate(EvaluationBatch& batch) override;
    /// The evaluation of what the store does not hold, from the next batch on.
    void setInner(EvaluationBackend* inner) { m_inner = inner; }

    /// Items answered from the store so far.
    std::size_t used() const { return m_used; }

private:
    void evaluateInner(EvaluationBatch& batch);

    const ZYL& m_zyl;
    const ProjectSettings& m_settings;
    EvaluationBackend* m_inner;
    std::vector<EvaluationRecord> m_finished;
    std::size_t m_used = 0;
};

} // namespace zyl
