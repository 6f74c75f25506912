#include "engine/backends/SlurmStepsBackend.h"

#include "engine/backends/ChildProcess.h"
#include "engine/backends/Slurm.h"

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>

#include <unistd.h>

namespace zyl {

namespace {

LocalBackendOptions localOptions(const SlurmStepsOptions& options)
{
    LocalBackendOptions local;
    local.program = options.program;
    local.workers = options.workers;
    local.folders = options.folders;
    // One task on one node with only the CPUs it asks for (--exact), so that steps run side
    // by side; -v makes srun name its step in the log, for the report.
    local.launcher = {"srun", "-v", "--ntasks=1", "--nodes=1", "--exact", "--kill-on-bad-exit=1"};
    if (!options.jobId.empty())
        local.launcher.push_back("--jobid=" + options.jobId);
    for (std::string& word : slurm::resourceOptions(options.cluster, /*forSteps=*/true))
        local.launcher.push_back(std::move(word));
    return local;
}

std::string allocationOf(const SlurmStepsOptions& options)
{
    if (!options.jobId.empty())
        return options.jobId;
    const char* fromEnvironment = std::getenv("SLURM_JOB_ID");
    return fromEnvironment ? fromEnvironment : "";
}

} // namespace

SlurmStepsBackend::SlurmStepsBackend(SlurmStepsOptions options)
    : LocalBackend(localOptions(options)), m_jobId(allocationOf(options)),
      m_stepPrefix("zyl-" + std::to_string(::getpid()) + "-"),
      m_link(std::make_unique<slurm::SchedulerLink>(
          options.cluster.schedulerTimeoutMinutes * 60, [this](const SchedulerNotice& notice) {
              if (m_schedulerNotice)
                  m_schedulerNotice(notice);
          }))
{
}

SlurmStepsBackend::~SlurmStepsBackend() = default;

std::string SlurmStepsBackend::failureOf(const std::string& workDir,
                                         const ExitStatus& status) const
{
    // slurmstepd says "*** STEP 12.3 ON node CANCELLED AT ... DUE TO TIME LIMIT ***" in the
    // step's output, and srun then ends as if the program had been terminated.
    std::ifstream log(pathInFolder(workDir, "zyl-log.txt"));
    std::string line;
    while (std::getline(log, line))
        if (line.find("DUE TO TIME LIMIT") != std::string::npos)
            return "Slurm state TIMEOUT";
    return status.text();
}

std::vector<std::string> SlurmStepsBackend::launcherExtras(const EvaluationRequest& request) const
{
    return {"--job-name=" + m_stepPrefix + workFolderName(request.generation, request.index)};
}

std::string SlurmStepsBackend::describeWhere(const std::string& workDir) const
{
    // srun -v says "launching StepId=123.4 on host node1, 1 tasks: 0".
    std::ifstream log(pathInFolder(workDir, "zyl-log.txt"));
    std::string line;
    while (std::getline(log, line)) {
        const std::size_t at = line.find("launching StepId=");
        if (at == std::string::npos)
            continue;
        std::string step = line.substr(at + 17);
        step = step.substr(0, step.find(' '));
        std::string host;
        if (const std::size_t on = line.find(" on host "); on != std::string::npos) {
            host = line.substr(on + 9);
            host = host.substr(0, host.find_first_of(", "));
        }
        return "Slurm step " + step + (host.empty() ? "" : " on " + host);
    }
    return m_jobId.empty() ? "Slurm step" : "Slurm step of job " + m_jobId;
}

void SlurmStepsBackend::afterBatch(bool)
{
    if (m_jobId.empty())
        return;
    // A step whose srun was killed is ended by Slurm a little later; cancel it outright and
    // wait until the allocation lists none of ours, through an outage of the controller.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    bool cancelled = false;
    for (;;) {
        const CommandResult listed = m_link->tryRun(
            {"squeue", "--noheader", "--steps", "--jobs=" + m_jobId, "--format=%i|%j|%M"});
        if (slurm::unreachable(listed)) {
            if (m_link->expired() || !slurm::SchedulerLink::wait(m_link->pause(), {}))
                return;
            continue;
        }
        if (!listed.succeeded())
            return;
        std::vector<std::string> scancel = {"scancel"};
        for (const auto& [step, entry] : slurm::parseQueue(listed.out))
            if (entry.state.rfind(m_stepPrefix, 0) == 0)
                scancel.push_back(step);
        if (scancel.size() == 1 || std::chrono::steady_clock::now() >= deadline)
            return;
        if (!cancelled)
            cancelled = !slurm::unreachable(m_link->tryRun(scancel));
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
}

} // namespace zyl
