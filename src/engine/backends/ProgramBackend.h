#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace zyl {

/// One individual to evaluate by the external program.
struct EvaluationRequest {
    int generation = 0;
    /// The individual's index in the population; unique within a batch.
    int index = 0;
    /// The input file's text without its last line end (inputText).
    std::string line;
    /// 1 for the first run of the program, 2 for the first retry, ... (set by BatchEvaluator).
    int attempt = 1;
    /// Position in the batch of an earlier request for an equal individual, or -1. Such a
    /// request is not run: it takes the earlier one's outcome (see findDuplicates).
    int duplicateOf = -1;
};

/// How one run of the program ended.
enum class AttemptStatus { Succeeded, Failed, Cancelled };

/// What one run of the program gave.
struct AttemptOutcome {
    AttemptStatus status = AttemptStatus::Failed;
    /// The number the program left in its output file, also after some failures (a non-zero
    /// exit); never NaN. Always present on success.
    std::optional<double> value;
    /// The constraint values that came with it (ExternalProgram::constraints of them).
    std::vector<double> constraints;
    /// In a task with several objectives, its objective values (ExternalProgram::objectives
    /// of them, `value` first).
    std::vector<double> objectives;
    /// Why it failed, for reports: "exit code 3", "past external_timeout (10 s)", "output is
    /// not a number", "Slurm state TIMEOUT", ...; empty on success.
    std::string failure;
    /// The program ran out of its time (external_timeout, or the scheduler's time limit).
    bool timedOut = false;
    /// It ended with ExternalProgram::noRetryStatus: its design is not to be run again.
    bool noRetry = false;
    /// What it wrote last on its standard error, when the backend caught it (lastWords); a
    /// program in a work folder has it in its log instead.
    std::string words;
    /// Wall time of this run (for Slurm, from the first sight of the task running to the first
    /// sight of its end).
    double seconds = 0;
    /// "host NAME", "Slurm job 123_4" or "Slurm step 123.5".
    std::string where;
    /// The evaluation's own folder, or empty when the program ran in ZYL's folder.
    std::string workDir;
    /// Whether workDir is still there: the folder of a success is removed unless every folder
    /// is kept; those of failures and cancelled runs stay.
    bool workDirKept = false;
};

/// Counts of the current batch, for a status bar or a progress line. They count programs to
/// run (duplicates are not), and stay readable after the batch until the next one starts.
struct EvaluationProgress {
    int running = 0; ///< started and not ended
    int queued = 0;  ///< waiting for a worker or for the scheduler (retries included)
    int done = 0;    ///< ended with a value
    int failed = 0;  ///< ended as a failure, retries spent
};

/// The counters behind EvaluationProgress; written by the evaluating thread, read by any.
struct ProgressCounters {
    std::atomic<int> running{0};
    std::atomic<int> queued{0};
    std::atomic<int> done{0};
    std::atomic<int> failed{0};
    /// Called on the evaluating thread once a program has started or ended and the counts
    /// show it: a generation may take hours, and its progress should show signs of life.
    std::function<void()> onChange;

    void changed() const
    {
        if (onChange)
            onChange();
    }

    EvaluationProgress snapshot() const
    {
        return {running.load(), queued.load(), done.load(), failed.load()};
    }
    void reset(int queuedNow)
    {
        running = 0;
        queued = queuedNow;
        done = 0;
        failed = 0;
    }
};

/// What the caller wants done after an attempt has ended.
enum class NextStep {
    Continue,    ///< go on with the batch
    Retry,       ///< run the same request once more (its attempt number raised by one)
    StopStarting ///< start nothing more; programs already running are let finish
};

/// The flags a batch obeys. Both may be set from any thread (a signal handler included).
struct BatchControl {
    /// Ends every running program at once (its whole process group, or its Slurm task or
    /// step) and starts nothing more; nothing is left running or queued when run() returns.
    const std::atomic<bool>* cancel = nullptr;
    /// Starts nothing more; running programs finish and are reported.
    const std::atomic<bool>* stopStarting = nullptr;

    bool cancelled() const { return cancel && cancel->load(); }
    bool stopping() const { return stopStarting && stopStarting->load(); }
};

/// The scheduler stopped answering, or answers again.
struct SchedulerNotice {
    /// false: a command could not reach it; true: it answers again after an outage.
    bool answering = false;
    /// The command that could not reach it ("squeue", "sbatch", "scancel") and what it said.
    std::string command;
    std::string message;
    /// How long it has not answered, and how long it may (scheduler_timeout).
    double waitedSeconds = 0;
    double timeoutSeconds = 0;
};
using SchedulerNoticeHook = std::function<void(const SchedulerNotice&)>;

/// A job given to a scheduler, as a run store keeps it until nothing of it runs any more.
struct SchedulerJob {
    /// Chosen before submitting and unique, so that a job whose submission was cut short (a
    /// kill, an outage) can still be found by it.
    std::string name;
    /// The scheduler's id; empty until the submission has answered.
    std::string id;
    int generation = 0;
    /// The individuals it evaluates (the array's task ids).
    std::vector<int> individuals;
    /// The work root its tasks run in.
    std::string folder;
    /// The store's key of the record.
    std::int64_t key = 0;
};

/// Where a backend records the jobs it gives a scheduler, so that a later process can end
/// or adopt what a killed one left (the run store). Each call has made the record durable
/// when it returns, and throws when it could not.
class JobLedger {
public:
    virtual ~JobLedger() = default;
    /// Before the submission; returns the record's key.
    virtual std::int64_t jobSubmitting(const SchedulerJob& job) = 0;
    virtual void jobSubmitted(std::int64_t key, const std::string& id) = 0;
    /// Nothing of the job is queued or running any more, or it was never submitted.
    virtual void jobEnded(std::int64_t key) = 0;
};

/// Where evaluations run: processes on this machine, Slurm job arrays, Slurm steps.
/// A backend knows nothing of retries, failure values or duplicates (see BatchEvaluator);
/// it runs attempts and reports each one as it ends.
class ProgramBackend {
public:
    /// Called on the thread that called run(), once per attempt, in the order attempts end.
    using AttemptDone = std::function<NextStep(const EvaluationRequest&, const AttemptOutcome&)>;

    virtual ~ProgramBackend() = default;

    /// Runs the program once for every request (none is a duplicate), calling `done` as each
    /// ends; a Retry answer queues the request again with attempt + 1. Returns when every
    /// request has ended, or when the control flags leave nothing to wait for; requests never
    /// started are reported as Cancelled when `cancel` was set, and not at all when starting
    /// stopped (StopStarting or control.stopStarting). Updates `progress` (running, queued)
    /// as it goes.
    /// \throws Exception when the batch cannot be set up at all (a work root that cannot be
    /// created, a job script that cannot be written), or when a program could not be started
    /// (it is missing or not executable, its folder or input file cannot be made): that is no
    /// failure of the objective, and retries or a failure value must not hide it. Nothing is
    /// left running then: what had started has ended and been reported.
    virtual void run(const std::vector<EvaluationRequest>& requests, const AttemptDone& done,
                     const BatchControl& control, ProgressCounters& progress) = 0;

    /// Told on the thread that called run() when the scheduler stops or starts answering.
    /// Virtual, so that a backend wrapping another hands both down to it.
    virtual void setSchedulerNotice(SchedulerNoticeHook hook)
    {
        m_schedulerNotice = std::move(hook);
    }
    /// Records the jobs submitted from now on; null: none are recorded.
    virtual void setJobLedger(JobLedger* ledger) { m_ledger = ledger; }

protected:
    SchedulerNoticeHook m_schedulerNotice;
    JobLedger* m_ledger = nullptr;
};

} // namespace zyl
