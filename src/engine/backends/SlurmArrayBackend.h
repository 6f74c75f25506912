#pragma once

#include "engine/External.h"
#include "engine/backends/ProgramBackend.h"
#include "engine/backends/WorkFolders.h"
#include "script/ProjectSettings.h"

#include <string>
#include <vector>

namespace zyl {

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
class SlurmArrayBackend : public ProgramBackend {
public:
    explicit SlurmArrayBackend(SlurmArrayOptions options);

    void run(const std::vector<EvaluationRequest>& requests, const AttemptDone& done,
             const BatchControl& control, ProgressCounters& progress) override;

    /// The job script's file name inside the work root.
    static constexpr const char* jobScriptName = "zyl-array-task.sh";

private:
    SlurmArrayOptions m_options;
    std::string m_programPath;
};

} // namespace zyl
