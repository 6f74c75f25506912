#include "engine/backends/Backends.h"

#include "common/Exception.h"
#include "engine/backends/LocalBackend.h"
#include "engine/backends/SlurmArrayBackend.h"
#include "engine/backends/SlurmStepsBackend.h"
#include "engine/backends/WorkRoot.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <iterator>

namespace zyl {

namespace {

/// Holds the work root for as long as the evaluator that makes folders there lives.
class RootHolder : public ProgramBackend {
public:
    RootHolder(std::unique_ptr<ProgramBackend> inner, std::shared_ptr<WorkRootClaim> claim)
        : m_inner(std::move(inner)), m_claim(std::move(claim))
    {
    }
    void run(const std::vector<EvaluationRequest>& requests, const AttemptDone& done,
             const BatchControl& control, ProgressCounters& progress) override
    {
        m_inner->run(requests, done, control, progress);
    }
    // Without these the scheduler's notices and the ledger of its jobs would stop here, and
    // a resume after kill -9 would not know the arrays still running.
    void setSchedulerNotice(SchedulerNoticeHook hook) override
    {
        m_inner->setSchedulerNotice(std::move(hook));
    }
    void setJobLedger(JobLedger* ledger) override { m_inner->setJobLedger(ledger); }

private:
    std::unique_ptr<ProgramBackend> m_inner;
    std::shared_ptr<WorkRootClaim> m_claim;
};

} // namespace

void checkWorkFolderNames(const ProjectSettings& settings)
{
    if (!settings.usesWorkFolders())
        return;
    const std::filesystem::path names[] = {settings.inputName, settings.outputName};
    for (const std::filesystem::path& name : names)
        if (name.is_absolute())
            throw Exception(
                "In work folders, input_name and output_name ought to be relative names");
    // A name that climbs out would have each program overwrite whatever it reaches (the
    // program itself, two levels up from the default work root).
    for (const std::filesystem::path& name : names) {
        const bool climbs = std::find(name.begin(), name.end(), "..") != name.end();
        const std::string last = name.empty() ? "" : std::prev(name.end())->string();
        if (climbs || last.empty() || last == ".")
            throw Exception("In work folders, input_name and output_name ought to name files "
                            "inside the evaluation's folder");
    }
}

bool needsBatchEvaluator(const ProjectSettings& settings)
{
    return settings.functionMode == FunctionMode::External &&
           (settings.usesWorkFolders() || settings.retries > 0 || settings.failureValue);
}

std::unique_ptr<BatchEvaluator> makeBatchEvaluator(const ProjectSettings& settings,
                                                   BatchEvaluator::Report report)
{
    checkWorkFolderNames(settings);
    const ExternalProgram program{settings.inputName, settings.externalName, settings.outputName,
                                  settings.externalTimeout, settings.externalConstraints};
    const bool steps = settings.cluster.scheduler == Scheduler::Slurm &&
                       settings.cluster.mode == ClusterMode::Steps;
    if (steps && !std::getenv("SLURM_JOB_ID"))
        throw Exception("Slurm steps need an allocation: start ZYL with sbatch or salloc");
    const WorkFolders folders{settings.workRoot, settings.templateDir, settings.keepWorkDirs};
    // Held from now on, so that a run refused the root starts nothing.
    std::shared_ptr<WorkRootClaim> claim;
    if (settings.usesWorkFolders())
        claim = WorkRootClaim::take(settings.workRoot, settings.workRootOwner);
    std::unique_ptr<ProgramBackend> backend;
    if (steps) {
        backend = std::make_unique<SlurmStepsBackend>(
            SlurmStepsOptions{program, settings.workers, folders, settings.cluster, ""});
    } else if (settings.cluster.scheduler == Scheduler::Slurm) {
        backend = std::make_unique<SlurmArrayBackend>(
            SlurmArrayOptions{program, settings.workers, folders, settings.cluster});
    } else {
        LocalBackendOptions local;
        local.program = program;
        local.workers = settings.workers;
        if (settings.usesWorkFolders())
            local.folders = folders;
        backend = std::make_unique<LocalBackend>(std::move(local));
    }
    if (claim)
        backend = std::make_unique<RootHolder>(std::move(backend), std::move(claim));
    return std::make_unique<BatchEvaluator>(std::move(backend),
                                            FailurePolicy{settings.retries, settings.failureValue},
                                            std::move(report));
}

} // namespace zyl
