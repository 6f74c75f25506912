#pragma once

#include "engine/External.h"
#include "engine/backends/ProgramBackend.h"
#include "engine/backends/WorkFolders.h"
#include "script/ProjectSettings.h"

#include <memory>
#include <string>
#include <vector>

namespace zyl {

namespace slurm {
class SchedulerLink;
}

struct SlurmArrayOptions {
    /// The names as the script gives them, and external_timeout (enforced on the node).
    ExternalProgram program;
    /// The array's "%" limit: how many of its tasks run at once.
    int workers = 1;
    /// On a file system the nodes share.
    WorkFolders folders;
    ClusterSettings cluster;
    /// Seconds between two looks at the queue.
    double pollSeconds = 0.5;
};

/// Sends each generation's evaluations to Slurm as one job array (sbatch --array=...%workers),
/// whose task ids are the individuals' indices. Each task runs the program in its work folder
/// through a small job script written into the work root, with its standard output and error
/// in the folder's "zyl-log.txt". States are followed with squeue (no accounting needed);
/// COMPLETED with a number in the output file is a success, every other final state a
/// failure. Cancelling runs scancel and waits until the queue holds none of the batch's tasks.
///
/// The controller may stop answering for a while (a restart, a network fault): the tasks run
/// on meanwhile, so every command is tried again with growing pauses, and the outage is
/// given up only after the cluster's scheduler_timeout (the batch then throws). A refusal of
/// sbatch is the same for every submission and throws at once. Each submitted array is
/// recorded in the job ledger, if any, from before its submission until it has ended.
class SlurmArrayBackend : public ProgramBackend {
public:
    explicit SlurmArrayBackend(SlurmArrayOptions options);
    ~SlurmArrayBackend() override;

    void run(const std::vector<EvaluationRequest>& requests, const AttemptDone& done,
             const BatchControl& control, ProgressCounters& progress) override;

    /// The job script's file name inside the work root.
    static constexpr const char* jobScriptName = "zyl-array-task.sh";

private:
    SlurmArrayOptions m_options;
    std::string m_programPath;
    /// Lives from batch to batch: an outage may span the end of a generation.
    std::unique_ptr<slurm::SchedulerLink> m_link;
};

} // namespace zyl
