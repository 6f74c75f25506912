#pragma once

#include "engine/Evaluation.h"
#include "engine/backends/BatchEvaluator.h"

#include <functional>
#include <memory>

namespace zyl {

/// A run's evaluation of an external task through a BatchEvaluator: several programs at once,
/// work folders, Slurm, retries and failure values. The run still takes the values back in
/// individual order, so its draws and outputs do not depend on how many programs ran at once.
class ProgramEvaluation : public EvaluationBackend {
public:
    /// `generation` (the run's count of finished generations) is read when a batch starts: the
    /// requests carry the next one, counted from 1, into the folder names and reports; `buffered` (the buffer is on) starts an individual equal to an earlier one
    /// of the same batch only once.
    ProgramEvaluation(std::unique_ptr<BatchEvaluator> evaluator, const int& generation,
                      bool buffered);

    /// The variables' names when the input file gives each by name (ExternalProgram::
    /// inputNames); none: the values on one line.
    void setInputNames(std::vector<std::string> names) { m_form.inputNames = std::move(names); }

    void evaluate(EvaluationBatch& batch) override;

    /// Called on the evaluating thread as soon as an individual's value is final, in the order
    /// the programs end (a run store commits it there, so that no finished program is lost).
    void setFinishedHook(BatchEvaluator::Finished hook) { m_finished = std::move(hook); }

    /// The evaluator, for the hooks of a front end or a run store.
    BatchEvaluator& evaluator() { return *m_evaluator; }

    /// The counts of the current (or last) batch; any thread.
    EvaluationProgress progress() const { return m_evaluator->progress(); }

private:
    std::unique_ptr<BatchEvaluator> m_evaluator;
    const int& m_generation;
    bool m_buffered;
    /// The program as far as the form of its input file goes.
    ExternalProgram m_form;
    BatchEvaluator::Finished m_finished;
};

} // namespace zyl
