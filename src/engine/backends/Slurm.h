#pragma once

#include "script/ProjectSettings.h"

#include <map>
#include <string>
#include <vector>

// What the two Slurm backends share: the options that describe an evaluation's resources, and
// reading the scheduler's listings. Every command is run as a program (see runCommand).
namespace zyl::slurm {

/// "--partition=...", "--account=...", "--time=MIN", "--cpus-per-task=N", "--mem=NM", then
/// the further options as written; the first two only for batch jobs (a step runs in the
/// allocation it is given).
std::vector<std::string> resourceOptions(const ClusterSettings& cluster, bool forSteps);

/// "0-3,5,9-10%4": the indices (ascending, distinct) as sbatch's --array value.
std::string arraySpec(const std::vector<int>& indices, int limit);

/// One line of squeue: the state and the time used so far, in seconds.
struct QueueEntry {
    std::string state;
    double seconds = 0;
};

/// squeue lines "ID|STATE|TIME" keyed by ID ("123_4" for an array task, "123.5" for a step,
/// "123" for a job). Lines that name several tasks at once ("123_[5-9%2]") are skipped.
std::map<std::string, QueueEntry> parseQueue(const std::string& text);

/// squeue's TIME ("1:02", "3:04:05", "2-03:04:05") in seconds; 0 for anything else.
double parseElapsed(const std::string& text);

/// States after which nothing more happens to a job.
bool isFinal(const std::string& state);
/// States of a job that is not running yet.
bool isWaiting(const std::string& state);

/// The value of "Key=" in `scontrol -o show job` output, or "".
std::string scontrolField(const std::string& text, const std::string& key);

} // namespace zyl::slurm
