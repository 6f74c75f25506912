#pragma once

#include "engine/backends/LocalBackend.h"
#include "script/ProjectSettings.h"

#include <memory>
#include <string>

namespace zyl {

namespace slurm {
class SchedulerLink;
}

struct SlurmStepsOptions {
    ExternalProgram program;
    /// How many steps run at once.
    int workers = 1;
    WorkFolders folders;
    ClusterSettings cluster;
    /// The allocation the steps run in; empty: the one srun finds in its environment (ZYL
    /// started by sbatch or salloc).
    std::string jobId;
};

/// Runs each evaluation as an srun step of the allocation ZYL itself runs in: no queueing, the
/// allocation's own resources. The srun processes are ZYL's children, followed like local
/// programs (timeouts and cancellation kill them); steps that outlive their srun are cancelled
/// with scancel when the batch ends, so none is left.
class SlurmStepsBackend : public LocalBackend {
public:
    explicit SlurmStepsBackend(SlurmStepsOptions options);
    ~SlurmStepsBackend() override;

protected:
    std::vector<std::string> launcherExtras(const EvaluationRequest& request) const override;
    std::string describeWhere(const std::string& workDir) const override;
    void afterBatch(bool cancelled) override;
    /// "Slurm state TIMEOUT" for a step its time limit ended, as the array mode says it.
    std::string failureOf(const std::string& workDir, const ExitStatus& status) const override;

private:
    std::string m_jobId;
    /// Every step of this ZYL process is named with it, so that leftovers can be found.
    std::string m_stepPrefix;
    std::unique_ptr<slurm::SchedulerLink> m_link;
};

} // namespace zyl
