#pragma once

#include "engine/backends/BatchEvaluator.h"
#include "script/ProjectSettings.h"

#include <memory>

namespace zyl {

/// The evaluator a run of the external program uses, as the settings ask: processes on this
/// machine (in ZYL's folder with one worker and no scheduler, exactly as a run always did;
/// otherwise one work folder per evaluation), Slurm job arrays, or Slurm steps. `report`
/// receives the failure lines (see BatchEvaluator::Report). Call it after any override of the
/// worker count (zyl-batch --workers).
/// With work folders the run holds the work root from here on (WorkRootClaim).
/// \throws Exception "Slurm steps need an allocation: start ZYL with sbatch or salloc" for
/// mode=steps outside an allocation, the message of checkWorkFolderNames, or that of
/// WorkRootClaim::take (a root held by another ZYL, or holding another run's folders).
std::unique_ptr<BatchEvaluator> makeBatchEvaluator(const ProjectSettings& settings,
                                                   BatchEvaluator::Report report);

/// Whether an external task asks for more than one program at a time in ZYL's folder (workers,
/// work folders, a scheduler, retries or a failure value), and so for a BatchEvaluator; without
/// any of these the programs run one after the other, exactly as a run always did.
bool needsBatchEvaluator(const ProjectSettings& settings);

/// Programs in work folders take their files inside them; an absolute name would be one file
/// shared by every program running at once, and a name with ".." a file outside.
/// \throws Exception "In work folders, input_name and output_name ought to be relative names"
/// or "In work folders, input_name and output_name ought to name files inside the
/// evaluation's folder".
void checkWorkFolderNames(const ProjectSettings& settings);

} // namespace zyl
