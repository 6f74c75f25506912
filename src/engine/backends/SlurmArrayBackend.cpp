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
#include <set>
#include <sstream>
#include <thread>

namespace zyl {

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

/// How long scheduler trouble (squeue failing) is borne before the batch's tasks are given up.
constexpr double schedulerPatienceSeconds = 120;
/// How long a cancelled batch may take to leave the queue.
constexpr double cancelPatienceSeconds = 60;

// Runs in the task's work folder; ZYL passes everything else as arguments, so no name needs
// quoting. The exit status is kept for the failure report.
constexpr const char* jobScript = R"(#!/bin/sh
# One evaluation of a ZYL job array, written by ZYL: task N runs individual N in its folder.
# Arguments: work root, generation, timeout in seconds (0: none), program, input, output.
cd "$1/gen$2-ind$SLURM_ARRAY_TASK_ID" || exit 111
limit=$3
shift 3
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
    std::string jobId;
    std::string workDir;
    bool running = false;
    bool withdrawn = false;
    Clock::time_point submitted;
};

class ArrayRun {
public:
    ArrayRun(const SlurmArrayOptions& options, const std::string& programPath,
             const ProgramBackend::AttemptDone& done, const BatchControl& control,
             ProgressCounters& progress)
        : m_options(options), m_programPath(programPath), m_done(done), m_control(control),
          m_progress(progress)
    {
    }

    /// Whatever is still queued when the run ends by an exception is cancelled.
    ~ArrayRun()
    {
        if (!m_live.empty())
            scancelAndWait(liveJobs());
    }
    ArrayRun(const ArrayRun&) = delete;
    ArrayRun& operator=(const ArrayRun&) = delete;

    void run(const std::vector<EvaluationRequest>& requests);

private:
    static void scancelAndWait(const std::set<std::string>& jobs);
    void submit(std::vector<EvaluationRequest> requests);
    void submitGeneration(int generation, const std::vector<EvaluationRequest>& requests);
    void poll();
    void withdrawPending();
    void cancelAll();
    void settle(int index, const AttemptOutcome& outcome);
    AttemptOutcome outcomeOf(const Task& task, const slurm::QueueEntry& entry) const;
    std::set<std::string> liveJobs() const;
    bool waitWatching(double seconds) const;

    const SlurmArrayOptions& m_options;
    const std::string& m_programPath;
    const ProgramBackend::AttemptDone& m_done;
    const BatchControl& m_control;
    ProgressCounters& m_progress;
    std::map<int, Task> m_live;
    std::vector<EvaluationRequest> m_retries;
    bool m_starting = true;
    bool m_withdrawn = false;
    std::optional<Clock::time_point> m_troubleSince;
};

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
        if (waitWatching(m_options.pollSeconds))
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
        failure.failure = prepareWorkFolder(m_options.folders, task.workDir);
        const std::string input = pathInFolder(task.workDir, program.inputName);
        if (failure.failure.empty()) {
            clearOutputFile(pathInFolder(task.workDir, program.outputName));
            if (!writeInputFile(input, request.line + "\n"))
                failure.failure = "cannot write the input file \"" + input + "\"";
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
    // sbatch reads "%" in a file name as a pattern of its own; such a root gets no logs.
    const std::string log = root.find('%') == std::string::npos
                                ? root + "/gen" + std::to_string(generation) + "-ind%a/zyl-log.txt"
                                : std::string("/dev/null");
    std::vector<std::string> argv = {"sbatch",
                                     "--parsable",
                                     "--no-requeue",
                                     "--array=" + slurm::arraySpec(indices, m_options.workers),
                                     "--job-name=zyl-gen" + std::to_string(generation),
                                     "--output=" + log};
    for (std::string& word : slurm::resourceOptions(m_options.cluster, /*forSteps=*/false))
        argv.push_back(std::move(word));
    const double timeout = program.timeoutSeconds > 0 && std::isfinite(program.timeoutSeconds)
                               ? program.timeoutSeconds
                               : 0;
    argv.insert(argv.end(), {(fs::path(root) / SlurmArrayBackend::jobScriptName).string(), root,
                             std::to_string(generation), numberText(timeout), m_programPath,
                             program.inputName, program.outputName});

    const CommandResult result = runCommand(argv);
    std::string jobId = result.out.substr(0, result.out.find_first_of(";\n"));
    if (!result.succeeded() || jobId.empty() ||
        jobId.find_first_not_of("0123456789") != std::string::npos) {
        for (Task& task : ready) {
            AttemptOutcome failure;
            failure.failure = "sbatch: " + result.failureText();
            failure.workDir = task.workDir;
            failure.workDirKept = true;
            const int index = task.request.index;
            m_live[index] = std::move(task);
            settle(index, failure);
        }
        return;
    }
    for (Task& task : ready) {
        task.jobId = jobId;
        task.submitted = Clock::now();
        const int index = task.request.index;
        m_live[index] = std::move(task);
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

std::set<std::string> ArrayRun::liveJobs() const
{
    std::set<std::string> jobs;
    for (const auto& [index, task] : m_live)
        jobs.insert(task.jobId);
    return jobs;
}

void ArrayRun::poll()
{
    std::string ids;
    for (const std::string& job : liveJobs())
        ids += (ids.empty() ? "" : ",") + job;
    const CommandResult result = runCommand(
        {"squeue", "--noheader", "--array", "--states=all", "--jobs=" + ids, "--format=%i|%T|%M"});
    if (!result.succeeded()) {
        if (!m_troubleSince)
            m_troubleSince = Clock::now();
        if (std::chrono::duration<double>(Clock::now() - *m_troubleSince).count() <
            schedulerPatienceSeconds)
            return;
        // The scheduler has not answered for long: give the tasks up, and leave nothing behind.
        std::vector<std::string> scancel = {"scancel"};
        for (const std::string& job : liveJobs())
            scancel.push_back(job);
        runCommand(scancel);
        std::vector<int> indices;
        for (const auto& [index, task] : m_live)
            indices.push_back(index);
        for (int index : indices) {
            AttemptOutcome failure;
            failure.failure = "squeue: " + result.failureText();
            failure.workDir = m_live[index].workDir;
            failure.workDirKept = true;
            settle(index, failure);
        }
        return;
    }
    m_troubleSince.reset();

    const std::map<std::string, slurm::QueueEntry> queue = slurm::parseQueue(result.out);
    std::vector<int> indices;
    for (const auto& [index, task] : m_live)
        indices.push_back(index);
    for (int index : indices) {
        Task& task = m_live[index];
        const std::string id = task.jobId + "_" + std::to_string(index);
        slurm::QueueEntry entry;
        if (auto found = queue.find(id); found != queue.end()) {
            entry = found->second;
        } else {
            // Not listed: not yet visible, or already forgotten by squeue; scontrol may know.
            if (std::chrono::duration<double>(Clock::now() - task.submitted).count() < 10)
                continue;
            const CommandResult shown = runCommand({"scontrol", "-o", "show", "job", id});
            entry.state = shown.succeeded() ? slurm::scontrolField(shown.out, "JobState") : "";
            if (entry.state.empty())
                entry.state = "UNKNOWN";
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
            m_live.erase(index);
            continue;
        }
        settle(index, outcomeOf(task, entry));
    }
}

AttemptOutcome ArrayRun::outcomeOf(const Task& task, const slurm::QueueEntry& entry) const
{
    const ExternalProgram& program = m_options.program;
    AttemptOutcome outcome;
    outcome.seconds = entry.seconds;
    outcome.where = "Slurm job " + task.jobId + "_" + std::to_string(task.request.index);
    outcome.workDir = task.workDir;
    const std::string output = pathInFolder(task.workDir, program.outputName);
    const std::optional<double> value = readOutputFile(output);
    const bool nan = value && std::isnan(*value);
    if (value && !nan)
        outcome.value = value;

    if (entry.state == "COMPLETED") {
        if (nan)
            outcome.failure = "output is NaN";
        else if (!value)
            outcome.failure =
                fs::exists(output) ? "output is not a number" : "no output file \"" + output + "\"";
    } else if (entry.state == "FAILED") {
        int status = -1;
        std::ifstream(pathInFolder(task.workDir, "zyl-exit-status")) >> status;
        outcome.timedOut = (status == 124 || status == 137) && program.timeoutSeconds > 0;
        if (outcome.timedOut)
            outcome.failure =
                "past external_timeout (" + numberText(program.timeoutSeconds) + " s)";
        else if (status > 128 && status < 160)
            outcome.failure = "killed by signal " + std::to_string(status - 128);
        else if (status >= 0)
            outcome.failure = "exit code " + std::to_string(status);
        else
            outcome.failure = "Slurm state FAILED";
    } else if (entry.state == "UNKNOWN") {
        outcome.failure = "Slurm no longer knows the task";
    } else {
        outcome.failure = "Slurm state " + entry.state;
        outcome.timedOut = entry.state == "TIMEOUT";
    }
    outcome.status = outcome.failure.empty() ? AttemptStatus::Succeeded : AttemptStatus::Failed;
    outcome.workDirKept = settleWorkFolder(m_options.folders, task.workDir,
                                           outcome.status == AttemptStatus::Succeeded);
    return outcome;
}

void ArrayRun::settle(int index, const AttemptOutcome& outcome)
{
    auto found = m_live.find(index);
    if (found == m_live.end())
        return;
    const Task task = found->second;
    m_live.erase(found);
    (task.running ? m_progress.running : m_progress.queued) -= 1;
    switch (m_done(task.request, outcome)) {
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
        if (task.running)
            continue;
        task.withdrawn = true;
        scancel.push_back(task.jobId + "_" + std::to_string(index));
    }
    if (scancel.size() > 1)
        runCommand(scancel);
}

void ArrayRun::scancelAndWait(const std::set<std::string>& jobs)
{
    if (jobs.empty())
        return;
    std::vector<std::string> scancel = {"scancel"};
    scancel.insert(scancel.end(), jobs.begin(), jobs.end());
    runCommand(scancel);
    // Cancelled tasks linger while their programs are being killed; the batch is over only
    // when none of them is listed as anything but ended.
    std::string ids;
    for (const std::string& job : jobs)
        ids += (ids.empty() ? "" : ",") + job;
    const auto deadline = Clock::now() + std::chrono::duration<double>(cancelPatienceSeconds);
    while (Clock::now() < deadline) {
        const CommandResult listed = runCommand({"squeue", "--noheader", "--array", "--jobs=" + ids,
                                                 "--states=all", "--format=%i|%T|%M"});
        bool active = false;
        for (const auto& [id, entry] : slurm::parseQueue(listed.out))
            active = active || !slurm::isFinal(entry.state);
        if (listed.succeeded() && !active)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
}

void ArrayRun::cancelAll()
{
    scancelAndWait(liveJobs());
    for (auto& [index, task] : m_live) {
        AttemptOutcome outcome;
        outcome.status = AttemptStatus::Cancelled;
        outcome.failure = "cancelled";
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
}

} // namespace

SlurmArrayBackend::SlurmArrayBackend(SlurmArrayOptions options)
    : m_options(std::move(options)),
      m_programPath(absoluteProgramPath(m_options.program.externalName))
{
    if (m_options.workers < 1)
        m_options.workers = 1;
}

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

    ArrayRun batch(m_options, m_programPath, done, control, progress);
    batch.run(requests);
}

} // namespace zyl
