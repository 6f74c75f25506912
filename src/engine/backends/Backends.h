#pragma once

#include "engine/backends/BatchEvaluator.h"
#include "script/ProjectSettings.h"

#include <memory>

namespace zyl {

/// The evaluator a run of the external program uses, as the settings ask: processes on this
/// machine (in ZYL's folder with one worker and no scheduler, exactly as a run always did;
/// otherwise one work folder per evaluation), Slurm job arrays, or Slurm steps. `report`
/// receives the failure lines (see BatchEvaluator::Report).
/// \throws Exception "Slurm steps need an allocation: start ZYL with sbatch or salloc" for
/// mode=steps outside an allocation.
std::unique_ptr<BatchEvaluator> makeBatchEvaluator(const ProjectSettings& settings,
                                                   BatchEvaluator::Report report);

} // namespace zyl
