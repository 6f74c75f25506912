#pragma once

#include "engine/External.h"
#include "engine/backends/BatchEvaluator.h"
#include "engine/backends/WorkRoot.h"
#include "script/ProjectSettings.h"

#include <memory>
#include <string>
#include <vector>

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

/// The names of the program's files, checked when the script loads: the input and the output
/// file are two files, and neither is one that ZYL writes in a work folder (a run may be given
/// workers later, from the command line or the Options dialog). Programs in work folders take
/// their files inside them; an absolute name would be one file shared by every program
/// running at once, and a name with ".." a file outside.
/// \throws Exception "input_name and output_name ought to name two different files",
/// "input_name and output_name ought to differ from the files ZYL writes in a work folder
/// (zyl-log.txt, zyl-log-N.txt, zyl-exit-status)", "In work folders, input_name and
/// output_name ought to be relative names" or "In work folders, input_name and output_name
/// ought to name files inside the evaluation's folder".
void checkWorkFolderNames(const ProjectSettings& settings);

/// The external program as the settings give it; `names` are the variables', for an input
/// file that gives each value by name.
ExternalProgram externalProgram(const ProjectSettings& settings,
                                const std::vector<std::string>& names);

/// Holds the folders of the input and the output file of a task whose programs run one at a
/// time in ZYL's folder, as a work root is held (WorkRootClaim): a second run there would take
/// this one's values for its own. A folder that does not exist, or where no lock file can be
/// made, is not held (the input file cannot be written there either, or not by another run).
/// \throws Exception "The work folder "F" is in use by another ZYL (process P on host H since
/// T)."
std::vector<std::shared_ptr<WorkRootClaim>> holdProgramFiles(const ProjectSettings& settings);

} // namespace zyl
