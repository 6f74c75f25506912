#include "engine/backends/Backends.h"

#include "common/Exception.h"
#include "engine/backends/LocalBackend.h"
#include "engine/backends/SlurmArrayBackend.h"
#include "engine/backends/SlurmStepsBackend.h"
#include "engine/backends/WorkFolders.h"
#include "engine/backends/WorkRoot.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <iterator>

#include <unistd.h>

namespace zyl {

namespace {

/// Holds the work root for as long as the evaluator that makes folders there lives.
class RootHolder : public ProgramBackend {
public:
    RootHolder(std::unique_ptr<ProgramBackend> inner, std::shared_ptr<WorkRootClaim> claim,
               std::string runRoot)
        : m_inner(std::move(inner)), m_claim(std::move(claim)), m_runRoot(std::move(runRoot))
    {
    }
    void run(const std::vector<EvaluationRequest>& requests, const AttemptDone& done,
             const BatchControl& control, ProgressCounters& progress) override
    {
        // Between batches (between the desktop's Runs) no empty folder of the run lingers;
        // the next batch makes it again.
        struct Tidy {
            const std::string& folder;
            ~Tidy()
            {
                if (!folder.empty())
                    ::rmdir(folder.c_str());
            }
        } tidy{m_runRoot};
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
    /// The run's own folder in the root; empty when the evaluations' folders are the root's.
    std::string m_runRoot;
};

} // namespace

void checkWorkFolderNames(const ProjectSettings& settings)
{
    const std::filesystem::path names[] = {settings.inputName, settings.outputName};
    // With one program at a time the program's output would overwrite its input (or the other
    // way round); with workers each write would cut the other's file.
    std::error_code error;
    auto plain = [&error](const std::filesystem::path& name) {
        return std::filesystem::weakly_canonical(std::filesystem::absolute(name, error), error)
            .lexically_normal();
    };
    if (!settings.inputName.empty() && plain(names[0]) == plain(names[1]))
        throw Exception("input_name and output_name ought to name two different files");
    for (const std::filesystem::path& name : names)
        if (isOwnFileName(name.string()))
            throw Exception("input_name and output_name ought to differ from the files ZYL "
                            "writes in a work folder (zyl-log.txt, zyl-log-N.txt, "
                            "zyl-exit-status)");
    if (!settings.usesWorkFolders())
        return;
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

ExternalProgram externalProgram(const ProjectSettings& settings,
                                const std::vector<std::string>& names)
{
    ExternalProgram program{settings.inputName, settings.externalName, settings.outputName,
                            settings.externalTimeout, settings.externalConstraints};
    if (settings.inputByName)
        program.inputNames = names;
    program.noRetryStatus = settings.noRetryStatus;
    program.objectives = settings.externalObjectives;
    return program;
}

std::vector<std::shared_ptr<WorkRootClaim>> holdProgramFiles(const ProjectSettings& settings)
{
    std::vector<std::shared_ptr<WorkRootClaim>> holds;
    std::vector<std::filesystem::path> held;
    for (const std::string& name : {settings.inputName, settings.outputName}) {
        std::error_code error;
        const std::filesystem::path folder = std::filesystem::weakly_canonical(
            std::filesystem::absolute(name, error).parent_path(), error);
        if (error || !std::filesystem::is_directory(folder, error) ||
            std::find(held.begin(), held.end(), folder) != held.end())
            continue;
        held.push_back(folder);
        // A folder we may not write in keeps no lock file, nor another run's input file.
        if (::access(folder.c_str(), W_OK) != 0)
            continue;
        holds.push_back(WorkRootClaim::take(folder.string(), settings.workRootOwner));
    }
    return holds;
}

std::unique_ptr<BatchEvaluator> makeBatchEvaluator(const ProjectSettings& settings,
                                                   BatchEvaluator::Report report)
{
    checkWorkFolderNames(settings);
    const ExternalProgram program = externalProgram(settings, {});
    const bool steps = settings.cluster.scheduler == Scheduler::Slurm &&
                       settings.cluster.mode == ClusterMode::Steps;
    if (steps && !std::getenv("SLURM_JOB_ID"))
        throw Exception("Slurm steps need an allocation: start ZYL with sbatch or salloc");
    // Each run in a folder of its own, so that what an earlier run left is in nobody's way.
    const std::string runRoot = settings.runFolder.empty()
                                    ? settings.workRoot
                                    : (std::filesystem::path(settings.workRoot) /
                                       settings.runFolder)
                                          .string();
    const WorkFolders folders{runRoot, settings.templateDir, settings.keepWorkDirs};
    // Held from now on, so that a run refused the root starts nothing.
    std::shared_ptr<WorkRootClaim> claim;
    if (settings.usesWorkFolders())
        claim = WorkRootClaim::take(settings.workRoot, settings.workRootOwner, settings.runFolder);
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
        backend = std::make_unique<RootHolder>(std::move(backend), std::move(claim),
                                               settings.runFolder.empty() ? "" : runRoot);
    return std::make_unique<BatchEvaluator>(std::move(backend),
                                            FailurePolicy{settings.retries, settings.failureValue},
                                            std::move(report));
}

} // namespace zyl
