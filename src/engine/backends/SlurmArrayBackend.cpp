#include "engine/backends/SlurmArrayBackend.h"

#include "common/Exception.h"
#include "engine/backends/ChildProcess.h"
#include "engine/backends/Slurm.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <thread>

#include <unistd.h>

namespace zyl {

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

// Runs in the task's work folder; ZYL passes everything else as arguments, so no name needs
// quoting. The exit status is kept for the failure report, and for a later ZYL that finds the
// task ended after the scheduler forgot it.
constexpr const char* jobScript = R"(#!/bin/sh
# One evaluation of a ZYL job array, written by ZYL: task N runs individual N in its folder.
# Arguments: work root, generation, timeout in seconds (0: none), "log" when the task writes
# its own zyl-log.txt, program, input, output.
cd "$1/gen$2-ind$SLURM_ARRAY_TASK_ID" || exit 111
[ "$4" = log ] && exec >zyl-log.txt 2>&1
limit=$3
shift 4
if [ "$limit" != 0 ]; then
    timeout --kill-after=1 "$limit" "$@"
else
    "$@"
fi
status=$?
echo "$status" > zyl-exit-status
exit "$status"
)";

std::string numberText(double x)
{
    std::ostringstream text;
    text << x;
    return text.str();
}

/// One request on its way through the scheduler.
struct Task {
    EvaluationRequest request;
    /// Empty while its submission has not answered.
    std::string jobId;
    std::string workDir;
    bool running = false;
    bool withdrawn = false;
    Clock::time_point submitted;
};

/// A submitted job array and how many of its tasks ZYL still follows.
struct ArrayJob {
    std::int64_t key = 0;
    int live = 0;
};

class ArrayRun {
public:
    ArrayRun(const SlurmArrayOptions& options, const std::string& programPath,
             slurm::SchedulerLink& link, JobLedger* ledger,
             const ProgramBackend::AttemptDone& done, const BatchControl& control,
             ProgressCounters& progress)
        : m_options(options), m_programPath(programPath), m_link(link), m_ledger(ledger),
          m_done(done), m_control(control), m_progress(progress), m_wait(options.pollSeconds)
    {
    }

    /// Whatever is still queued when the run ends by an exception is cancelled; after an
    /// outage that was given up, one try only.
    ~ArrayRun()
    {
        if (m_live.empty())
            return;
        try {
            const std::vector<std::string> jobs = liveJobs();
            if (m_link.expired()) {
                std::vector<std::string> scancel = {"scancel"};
                scancel.insert(scancel.end(), jobs.begin(), jobs.end());
                if (!jobs.empty() && m_link.tryRun(scancel).succeeded())
                    endJobs(jobs);
            } else if (slurm::cancelAndWait(m_link, jobs)) {
                endJobs(jobs);
            }
        } catch (...) {
            // The store's record of the jobs stays open; a resume ends them.
        }
    }
    ArrayRun(const ArrayRun&) = delete;
    ArrayRun& operator=(const ArrayRun&) = delete;

    void run(const std::vector<EvaluationRequest>& requests);

private:
    void submit(std::vector<EvaluationRequest> requests);
    void submitGeneration(int generation, const std::vector<EvaluationRequest>& requests);
    std::string submitArray(const std::vector<std::string>& argv, const std::string& name,
                            int generation);
    void poll();
    void giveUp();
    void withdrawPending();
    void cancelAll();
    void settle(int index, const AttemptOutcome& outcome);
    AttemptOutcome outcomeOf(const Task& task, const slurm::QueueEntry& entry) const;
    std::optional<std::string> stateFromFiles(const Task& task) const;
    std::vector<std::string> liveJobs() const;
    void endJobs(const std::vector<std::string>& jobs);
    void taskGone(const Task& task);
    bool waitWatching(double seconds) const;

    const SlurmArrayOptions& m_options;
    const std::string& m_programPath;
    slurm::SchedulerLink& m_link;
    JobLedger* m_ledger;
    const ProgramBackend::AttemptDone& m_done;
    const BatchControl& m_control;
    ProgressCounters& m_progress;
    std::map<int, Task> m_live;
    std::map<std::string, ArrayJob> m_jobs;
    std::vector<EvaluationRequest> m_retries;
    bool m_starting = true;
    bool m_withdrawn = false;
    /// Seconds until the next look at the queue: longer while the scheduler does not answer.
    double m_wait;
};

/// A name no other submission has: a later ZYL finds a job by it when the submission's
/// answer was lost.
std::string uniqueJobName(int generation)
{
    static const std::string process = [] {
        std::random_device device;
        std::ostringstream text;
        text << std::hex << ::getpid() << '-' << (device() & 0xffffff);
        return text.str();
    }();
    static std::atomic<int> counter{0};
    return "zyl-gen" + std::to_string(generation) + "-" + process + "-" +
           std::to_string(++counter);
}

void ArrayRun::run(const std::vector<EvaluationRequest>& requests)
{
    submit(requests);
    for (;;) {
        if (m_control.cancelled()) {
            cancelAll();
            return;
        }
        if (m_control.stopping())
            m_starting = false;
        if (!m_starting && !m_withdrawn)
            withdrawPending();
        if (!m_retries.empty()) {
            std::vector<EvaluationRequest> again;
            again.swap(m_retries);
            if (m_starting)
                submit(std::move(again));
            else
                m_progress.queued -= static_cast<int>(again.size());
        }
        if (m_live.empty() && m_retries.empty())
            return;
        if (waitWatching(m_wait))
            poll();
    }
}

void ArrayRun::submit(std::vector<EvaluationRequest> requests)
{
    std::map<int, std::vector<EvaluationRequest>> byGeneration;
    for (EvaluationRequest& request : requests)
        byGeneration[request.generation].push_back(std::move(request));
    for (const auto& [generation, batch] : byGeneration)
        submitGeneration(generation, batch);
}

void ArrayRun::submitGeneration(int generation, const std::vector<EvaluationRequest>& requests)
{
    const ExternalProgram& program = m_options.program;
    std::vector<int> indices;
    std::vector<Task> ready;
    for (const EvaluationRequest& request : requests) {
        Task task;
        task.request = request;
        task.workDir = workFolderPath(m_options.folders, generation, request.index);
        AttemptOutcome failure;
        failure.workDir = task.workDir;
        failure.workDirKept = true;
        failure.failure = prepareWorkFolder(m_options.folders, task.workDir, request.attempt);
        // Made new, never written through a link the template brought.
        if (failure.failure.empty()) {
            const std::string stale = removeFileInFolder(task.workDir, program.outputName);
            const std::string input =
                stale.empty()
                    ? writeFileInFolder(task.workDir, program.inputName, request.line + "\n")
                    : "";
            failure.failure = !stale.empty()   ? "cannot clear the output file " + stale
                              : !input.empty() ? "cannot write the input file " + input
                                               : "";
        }
        if (!failure.failure.empty()) {
            m_live[request.index] = task;
            settle(request.index, failure);
            continue;
        }
        indices.push_back(request.index);
        ready.push_back(std::move(task));
    }
    if (ready.empty())
        return;
    std::sort(indices.begin(), indices.end());

    const std::string root = m_options.folders.root;
    // sbatch reads "%" in a file name as a pattern, and a backslash as "no patterns" (then
    // "%a" stays as it is, and no task could open its log): under such a root each task
    // writes its own log.
    const bool ownLog = root.find_first_of("%\\") != std::string::npos;
    const std::string log =
        ownLog ? std::string("/dev/null")
               : root + "/gen" + std::to_string(generation) + "-ind%a/zyl-log.txt";
    const std::string name = uniqueJobName(generation);
    std::vector<std::string> argv = {"sbatch",
                                     "--parsable",
                                     "--no-requeue",
                                     "--array=" + slurm::arraySpec(indices, m_options.workers),
                                     "--job-name=" + name,
                                     "--output=" + log};
    for (std::string& word : slurm::resourceOptions(m_options.cluster, /*forSteps=*/false))
        argv.push_back(std::move(word));
    const double timeout = program.timeoutSeconds > 0 && std::isfinite(program.timeoutSeconds)
                               ? program.timeoutSeconds
                               : 0;
    argv.insert(argv.end(), {(fs::path(root) / SlurmArrayBackend::jobScriptName).string(), root,
                             std::to_string(generation), numberText(timeout),
                             ownLog ? "log" : "-", m_programPath, program.inputName,
                             program.outputName});

    // Recorded before it is submitted, so that a ZYL killed at any moment leaves a trace of it.
    ArrayJob job;
    if (m_ledger)
        job.key = m_ledger->jobSubmitting({name, "", generation, indices, root, 0});
    std::string jobId;
    try {
        jobId = submitArray(argv, name, generation);
    } catch (...) {
        // Refused: nothing was submitted. Given up in an outage: it may have been, and the
        // record stays for a resume to look the job up by its name.
        if (m_ledger && !m_link.down()) {
            try {
                m_ledger->jobEnded(job.key);
            } catch (const std::exception&) {
            }
        }
        throw;
    }
    for (Task& task : ready) {
        task.jobId = jobId;
        task.submitted = Clock::now();
        const int index = task.request.index;
        m_live[index] = std::move(task);
    }
    if (jobId.empty())
        return; // cancelled while the scheduler did not answer
    job.live = static_cast<int>(ready.size());
    m_jobs[jobId] = job;
    if (m_ledger) {
        try {
            m_ledger->jobSubmitted(job.key, jobId);
        } catch (const std::exception&) {
            // The record keeps the job's name, by which a resume finds it all the same.
        }
    }
}

std::string ArrayRun::submitArray(const std::vector<std::string>& argv, const std::string& name,
                                  int generation)
{
    for (int tries = 0;; ++tries) {
        if (tries > 0) {
            // The last try may have reached the controller before its answer was lost: a second
            // array would run the same individuals in the same folders.
            const CommandResult found = m_link.tryRun({"squeue", "--noheader", "--states=all",
                                                       "--name=" + name, "--format=%F"});
            const std::string id = found.out.substr(0, found.out.find_first_of(" \n"));
            if (found.succeeded() && !id.empty() &&
                id.find_first_not_of("0123456789") == std::string::npos)
                return id;
        }
        const CommandResult result = m_link.tryRun(argv);
        if (!slurm::unreachable(result)) {
            std::string id = result.out.substr(0, result.out.find_first_of(";\n"));
            if (result.succeeded() && !id.empty() &&
                id.find_first_not_of("0123456789") == std::string::npos)
                return id;
            // A refusal is the same for every submission (a partition, an account or a limit
            // Slurm does not accept; sbatch missing): the batch cannot run at all.
            throw Exception("Slurm refused the job array of generation " +
                            std::to_string(generation) + " (sbatch: " + result.failureText() +
                            ")");
        }
        if (m_link.expired())
            throw Exception(m_link.givingUp() + ": the run stops before generation " +
                            std::to_string(generation) + " was submitted.");
        if (!waitWatching(m_link.pause()))
            return "";
    }
}

bool ArrayRun::waitWatching(double seconds) const
{
    const auto end = Clock::now() + std::chrono::duration<double>(seconds);
    while (Clock::now() < end) {
        if (m_control.cancelled())
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

std::vector<std::string> ArrayRun::liveJobs() const
{
    std::set<std::string> jobs;
    for (const auto& [index, task] : m_live)
        if (!task.jobId.empty())
            jobs.insert(task.jobId);
    return {jobs.begin(), jobs.end()};
}

void ArrayRun::endJobs(const std::vector<std::string>& jobs)
{
    for (const std::string& id : jobs) {
        auto found = m_jobs.find(id);
        if (found == m_jobs.end())
            continue;
        const std::int64_t key = found->second.key;
        m_jobs.erase(found);
        if (m_ledger) {
            try {
                m_ledger->jobEnded(key);
            } catch (const std::exception&) {
                // Left open, the record only makes a resume look at an ended job.
            }
        }
    }
}

void ArrayRun::taskGone(const Task& task)
{
    auto found = m_jobs.find(task.jobId);
    if (found != m_jobs.end() && --found->second.live <= 0)
        endJobs({task.jobId});
}

void ArrayRun::poll()
{
    std::string ids;
    for (const std::string& job : liveJobs())
        ids += (ids.empty() ? "" : ",") + job;
    m_wait = m_options.pollSeconds;
    if (ids.empty())
        return;
    const CommandResult result = m_link.tryRun(
        {"squeue", "--noheader", "--array", "--states=all", "--jobs=" + ids, "--format=%i|%T|%M"});
    if (slurm::unreachable(result)) {
        // The tasks go on without the controller; they are judged when it answers again.
        if (m_link.expired())
            giveUp();
        m_wait = std::max(m_wait, m_link.pause());
        return;
    }
    // A refusal ("Invalid job id specified") comes for jobs the controller no longer knows,
    // after a restart that lost its state: every task is then judged by its folder.
    const std::map<std::string, slurm::QueueEntry> queue =
        result.succeeded() ? slurm::parseQueue(result.out)
                           : std::map<std::string, slurm::QueueEntry>{};
    std::vector<int> indices;
    for (const auto& [index, task] : m_live)
        indices.push_back(index);
    for (int index : indices) {
        auto at = m_live.find(index);
        if (at == m_live.end() || at->second.jobId.empty())
            continue;
        Task& task = at->second;
        const std::string id = task.jobId + "_" + std::to_string(index);
        slurm::QueueEntry entry;
        if (auto found = queue.find(id); found != queue.end()) {
            entry = found->second;
        } else {
            // Not listed: not yet visible, or already forgotten by squeue; scontrol may know.
            if (result.succeeded() &&
                std::chrono::duration<double>(Clock::now() - task.submitted).count() < 10)
                continue;
            const CommandResult shown = m_link.tryRun({"scontrol", "-o", "show", "job", id});
            if (slurm::unreachable(shown))
                return;
            entry.state = shown.succeeded() ? slurm::scontrolField(shown.out, "JobState") : "";
            if (entry.state.empty())
                entry.state = stateFromFiles(task).value_or("UNKNOWN");
        }
        if (!slurm::isFinal(entry.state) && entry.state != "UNKNOWN") {
            if (!slurm::isWaiting(entry.state) && !task.running) {
                task.running = true;
                m_progress.queued -= 1;
                m_progress.running += 1;
                m_progress.changed();
            }
            continue;
        }
        // A pending task of an array is listed only within its array's range, so one taken
        // back before it ran may never be seen by its own id: unknown is cancelled then.
        if (task.withdrawn &&
            (entry.state == "CANCELLED" || (entry.state == "UNKNOWN" && !task.running))) {
            // Taken back when the batch stopped starting: it never ran, so nothing to report.
            (task.running ? m_progress.running : m_progress.queued) -= 1;
            const Task gone = task;
            m_live.erase(index);
            taskGone(gone);
            continue;
        }
        settle(index, outcomeOf(task, entry));
    }
}

std::optional<std::string> ArrayRun::stateFromFiles(const Task& task) const
{
    // The job script writes the program's exit status once the program has ended.
    int status = -1;
    std::ifstream(pathInFolder(task.workDir, "zyl-exit-status")) >> status;
    if (status < 0)
        return std::nullopt;
    return status == 0 ? "COMPLETED" : "FAILED";
}

void ArrayRun::giveUp()
{
    // What ended before the scheduler went away is the program's own result, not a failure.
    std::vector<int> indices;
    for (const auto& [index, task] : m_live)
        indices.push_back(index);
    for (int index : indices) {
        auto at = m_live.find(index);
        if (at == m_live.end() || at->second.jobId.empty())
            continue;
        if (const std::optional<std::string> state = stateFromFiles(at->second))
            settle(index, outcomeOf(at->second, {*state, 0}));
    }
    std::string jobs;
    for (const std::string& job : liveJobs())
        jobs += (jobs.empty() ? "" : " ") + job;
    std::string message = m_link.givingUp() + ": the run stops.";
    if (!jobs.empty())
        message += " The Slurm jobs " + jobs +
                   " may still be queued or running: cancel them (scancel " + jobs +
                   ") once Slurm answers; resuming the run from its store does that first.";
    throw Exception(message);
}

AttemptOutcome ArrayRun::outcomeOf(const Task& task, const slurm::QueueEntry& entry) const
{
    const ExternalProgram& program = m_options.program;
    AttemptOutcome outcome;
    outcome.seconds = entry.seconds;
    outcome.where = "Slurm job " + task.jobId + "_" + std::to_string(task.request.index);
    outcome.workDir = task.workDir;
    const std::string output = pathInFolder(task.workDir, program.outputName);
    OutputValues values = readOutputValues(output, program);
    const std::optional<double>& value = values.value;
    const bool nan = value && std::isnan(*value);
    if (value && !nan)
        outcome.value = value;
    outcome.constraints = std::move(values.constraints);
    outcome.objectives = std::move(values.objectives);

    if (entry.state == "COMPLETED") {
        if (nan)
            outcome.failure = "output is NaN";
        else if (!value)
            outcome.failure =
                fs::exists(output) ? "output is not a number" : "no output file \"" + output + "\"";
        else if (!values.problem.empty())
            outcome.failure = values.problem;
    } else if (entry.state == "FAILED") {
        int status = -1;
        std::ifstream(pathInFolder(task.workDir, "zyl-exit-status")) >> status;
        outcome.timedOut = (status == 124 || status == 137) && program.timeoutSeconds > 0;
        if (outcome.timedOut)
            outcome.failure =
                "past external_timeout (" + numberText(program.timeoutSeconds) + " s)";
        else if (status > 128 && status < 160)
            outcome.failure = "killed by signal " + std::to_string(status - 128);
        else if (status >= 0) {
            outcome.failure = "exit code " + std::to_string(status);
            outcome.noRetry = program.noRetryStatus != 0 && status == program.noRetryStatus;
            if (outcome.noRetry)
                outcome.failure += " (no_retry_status)";
        }
        else
            outcome.failure = "Slurm state FAILED";
    } else if (entry.state == "UNKNOWN") {
        outcome.failure = "Slurm no longer knows the task";
    } else {
        outcome.failure = "Slurm state " + entry.state;
        outcome.timedOut = entry.state == "TIMEOUT";
    }
    outcome.status = outcome.failure.empty() ? AttemptStatus::Succeeded : AttemptStatus::Failed;
    // The folder of a success goes only once its value is taken (see settle): until then a
    // resume after a kill finds the value there.
    outcome.workDirKept = outcome.status != AttemptStatus::Succeeded || m_options.folders.keepAll;
    return outcome;
}

void ArrayRun::settle(int index, const AttemptOutcome& outcome)
{
    auto found = m_live.find(index);
    if (found == m_live.end())
        return;
    const Task task = found->second;
    m_live.erase(found);
    taskGone(task);
    (task.running ? m_progress.running : m_progress.queued) -= 1;
    const NextStep next = m_done(task.request, outcome);
    if (!outcome.workDirKept && !task.workDir.empty())
        settleWorkFolder(m_options.folders, task.workDir, /*succeeded=*/true);
    switch (next) {
    case NextStep::Retry: {
        EvaluationRequest again = task.request;
        again.attempt += 1;
        m_retries.push_back(again);
        m_progress.queued += 1;
        break;
    }
    case NextStep::StopStarting:
        m_starting = false;
        break;
    case NextStep::Continue:
        break;
    }
}

void ArrayRun::withdrawPending()
{
    m_withdrawn = true;
    std::vector<std::string> scancel = {"scancel"};
    for (auto& [index, task] : m_live) {
        if (task.running || task.jobId.empty())
            continue;
        task.withdrawn = true;
        scancel.push_back(task.jobId + "_" + std::to_string(index));
    }
    if (scancel.size() > 1 && slurm::unreachable(m_link.tryRun(scancel))) {
        // Tried again at the next turn of the loop.
        m_withdrawn = false;
        for (auto& [index, task] : m_live)
            task.withdrawn = false;
    }
}

void ArrayRun::cancelAll()
{
    const std::vector<std::string> jobs = liveJobs();
    const bool ended = slurm::cancelAndWait(m_link, jobs);
    if (ended)
        endJobs(jobs);
    for (auto& [index, task] : m_live) {
        AttemptOutcome outcome;
        outcome.status = AttemptStatus::Cancelled;
        outcome.failure = "cancelled";
        if (!task.jobId.empty())
            outcome.where = "Slurm job " + task.jobId + "_" + std::to_string(index);
        outcome.workDir = task.workDir;
        outcome.workDirKept = true;
        (task.running ? m_progress.running : m_progress.queued) -= 1;
        m_done(task.request, outcome);
    }
    m_live.clear();
    for (const EvaluationRequest& request : m_retries) {
        AttemptOutcome outcome;
        outcome.status = AttemptStatus::Cancelled;
        outcome.failure = "cancelled before it started";
        m_progress.queued -= 1;
        m_done(request, outcome);
    }
    m_retries.clear();
    if (!ended) {
        std::string list;
        for (const std::string& job : jobs)
            list += (list.empty() ? "" : " ") + job;
        throw Exception((m_link.expired() ? m_link.givingUp() : "Slurm did not end them") +
                        std::string(": the Slurm jobs ") + list +
                        " may still be queued or running: cancel them (scancel " + list +
                        ") once Slurm answers; resuming the run from its store does that first.");
    }
}

} // namespace

SlurmArrayBackend::SlurmArrayBackend(SlurmArrayOptions options)
    : m_options(std::move(options)),
      m_programPath(absoluteProgramPath(m_options.program.externalName))
{
    if (m_options.workers < 1)
        m_options.workers = 1;
}

SlurmArrayBackend::~SlurmArrayBackend() = default;

void SlurmArrayBackend::run(const std::vector<EvaluationRequest>& requests, const AttemptDone& done,
                            const BatchControl& control, ProgressCounters& progress)
{
    checkWorkFolders(m_options.folders);
    const fs::path script = fs::path(m_options.folders.root) / jobScriptName;
    {
        std::ofstream out(script, std::ios::trunc);
        out << jobScript;
        if (!out.flush())
            throw Exception("Cannot write the job script \"" + script.string() + "\"");
    }
    std::error_code error;
    fs::permissions(script,
                    fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                        fs::perms::others_read | fs::perms::others_exec,
                    error);
    if (requests.empty())
        return;

    if (!m_link || m_link->timeoutSeconds() != m_options.cluster.schedulerTimeoutMinutes * 60)
        m_link = std::make_unique<slurm::SchedulerLink>(
            m_options.cluster.schedulerTimeoutMinutes * 60,
            [this](const SchedulerNotice& notice) {
                if (m_schedulerNotice)
                    m_schedulerNotice(notice);
            });
    ArrayRun batch(m_options, m_programPath, *m_link, m_ledger, done, control, progress);
    batch.run(requests);
}

} // namespace zyl
