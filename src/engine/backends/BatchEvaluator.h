#pragma once

#include "engine/backends/ProgramBackend.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace zyl {

class Indiv;

/// What happens when an evaluation fails (the script keys retries and failure_value).
struct FailurePolicy {
    /// How many times a failed evaluation is started again (0 to 100).
    int retries = 0;
    /// Absent: a failure, once its retries are spent, stops the run. Present: the individual
    /// takes this value, the failure is reported, and the run goes on.
    std::optional<double> failureValue;
};

/// How an individual's evaluation ended, retries included.
enum class EvaluationStatus {
    Succeeded,    ///< `value` is the program's
    FailureValue, ///< failed; `value` is failure_value and the run goes on
    Failed,       ///< failed without failure_value: the run must stop ("A problem with external
                  ///< program."); `value` holds the number the program left, if any
    Cancelled,    ///< ended or dropped by the cancel flag: the individual stays unevaluated
    NotRun        ///< never started because the batch stopped starting: stays unevaluated
};

/// One individual's evaluation, as the caller and the run store see it.
struct EvaluationResult {
    int generation = 0;
    int index = 0;
    std::string line;
    EvaluationStatus status = EvaluationStatus::NotRun;
    std::optional<double> value;
    /// With `value` in a task whose program writes constraint values; empty otherwise (a
    /// failure value has none: the design counts as infeasible).
    std::vector<double> constraints;
    /// With `value` in a task with several objectives: the program's objective values, `value`
    /// first; empty otherwise (a failure value has none: no objective has a value).
    std::vector<double> objectives;
    /// Why the last attempt failed; empty on success.
    std::string failure;
    /// The failed program's last words (lastWords): its standard error, or its log in a work
    /// folder; empty when it said nothing.
    std::string words;
    /// The last attempt ran out of its time.
    bool timedOut = false;
    /// Wall time of all attempts together.
    double seconds = 0;
    /// Programs started for it (0 for a duplicate).
    int attempts = 0;
    /// Where the last attempt ran: "host NAME", "Slurm job 123_4", "Slurm step 123.5".
    std::string where;
    /// The last attempt's folder (empty when it ran in ZYL's folder) and whether it is kept.
    std::string workDir;
    bool workDirKept = false;
    /// The index of the individual whose evaluation this one took over, or -1.
    int duplicateOf = -1;
};

/// A batch's results, one per request in the order the requests were given.
struct BatchOutcome {
    std::vector<EvaluationResult> results;
    /// Some evaluation has the status Failed: the caller shows "A problem with external
    /// program." and stops the run.
    bool failed = false;
    bool cancelled = false;
};

/// The one failure policy above every backend: retries, failure_value, duplicates, the
/// per-evaluation callback, results in request order, and the progress counts.
class BatchEvaluator {
public:
    /// Called on the thread that called evaluate(), once per individual as soon as its value
    /// is final (Succeeded, FailureValue or Failed), in whatever order the programs end; a
    /// duplicate's call follows its original's at once. Not called for Cancelled or NotRun.
    using Finished = std::function<void(const EvaluationResult&)>;
    /// Receives the failures that do not stop the run (a retry, a failure value) and those of
    /// programs that ran beside the one whose failure stops it, one text each (the front end
    /// writes it to standard error). The failure that stops the run is told by its message
    /// (failureMessage).
    using Report = std::function<void(const std::string&)>;

    BatchEvaluator(std::unique_ptr<ProgramBackend> backend, FailurePolicy policy, Report report);

    /// Evaluates the requests (in index order; see findDuplicates for duplicateOf). While
    /// it runs, a failure without failure_value stops new starts; the programs already running
    /// finish and are reported. Cancellation through control.cancel ends every program and
    /// leaves nothing running or queued when this returns.
    /// \throws Exception when the batch cannot be set up (see ProgramBackend::run), or
    /// whatever `finished` throws, after every program has been ended.
    BatchOutcome evaluate(std::vector<EvaluationRequest> requests, const Finished& finished,
                          const BatchControl& control);

    /// Counts of the current (or last) batch; safe to call from any thread.
    EvaluationProgress progress() const { return m_progress.snapshot(); }
    /// Told, besides the line that goes to the Report, when the scheduler stops or starts
    /// answering (for a machine-readable progress).
    void setSchedulerNotice(SchedulerNoticeHook hook) { m_schedulerNotice = std::move(hook); }
    /// Records the scheduler jobs the backend submits (a run store); null: none.
    void setJobLedger(JobLedger* ledger) { m_backend->setJobLedger(ledger); }
    /// Called on the evaluating thread whenever a program starts or ends (see
    /// ProgressCounters::onChange).
    void setActivityHandler(std::function<void()> handler)
    {
        m_progress.onChange = std::move(handler);
    }
    const FailurePolicy& policy() const { return m_policy; }
    /// Says `text` through the Report.
    void tell(const std::string& text) const
    {
        if (m_report)
            m_report(text);
    }

private:
    std::unique_ptr<ProgramBackend> m_backend;
    FailurePolicy m_policy;
    Report m_report;
    ProgressCounters m_progress;
    SchedulerNoticeHook m_schedulerNotice;
};

/// The line a scheduler notice gives on standard error or in a console.
std::string schedulerNoticeText(const SchedulerNotice& notice);

/// "Evaluation of individual 3 (generation 1)", or without the generation when it is 0.
std::string evaluationSubject(int generation, int index);

/// A failure in full, as a report line or after "A problem with external program.":
/// `subject` " failed: " `reason` `next` ("; starting it again (2 of 3)") ".", then
/// " Work folder: F" when `keptFolder` is given, then the program's last words on lines of
/// their own.
std::string failureText(const std::string& subject, const std::string& reason,
                        const std::string& next, const std::string& keptFolder,
                        const std::string& words);

/// The message of an evaluation that failed and stops the run.
std::string failureMessage(const EvaluationResult& result);

/// For each position, the position of the first earlier individual equal to it (Indiv
/// equality: every variable's value), or -1: the duplicateOf of a batch when the buffer is on,
/// so that an individual equal to one being evaluated is not started twice.
std::vector<int> findDuplicates(const std::vector<const Indiv*>& individuals);

} // namespace zyl
