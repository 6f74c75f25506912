#pragma once

#include "engine/backends/ChildProcess.h"
#include "engine/backends/ProgramBackend.h"
#include "script/ProjectSettings.h"

#include <chrono>
#include <functional>
#include <map>
#include <optional>
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

/// Whether a scheduler command failed because it could not reach the controller, or got no
/// answer in time: an outage, which may end. Any other failure is the controller's refusal.
bool unreachable(const CommandResult& result);

/// Scheduler commands that bear an outage. While the controller cannot be reached the
/// outage is timed from the first command that failed, told once through the notice, and
/// its end told too; commands are tried again with pauses that double up to a cap; past the
/// timeout the outage is given up.
class SchedulerLink {
public:
    SchedulerLink(double timeoutSeconds, SchedulerNoticeHook notice);

    /// Runs the command once; an outage is noted, not waited for.
    CommandResult tryRun(const std::vector<std::string>& argv);
    /// Runs the command until it reaches the controller and returns that answer (a refusal
    /// included); std::nullopt when `stop` said so while it waited.
    /// \throws Exception with givingUp() once the outage has lasted past the timeout.
    std::optional<CommandResult> run(const std::vector<std::string>& argv,
                                     const std::function<bool()>& stop = {});

    bool down() const { return m_downSince.has_value(); }
    /// The outage has lasted past the timeout.
    bool expired() const;
    /// Seconds to wait before the next try while down: 1, 2, 4, ... up to an eighth of the
    /// timeout (at most a minute), never past the timeout.
    double pause();
    /// Waits `seconds`, looking at `stop` meanwhile; false when it said stop.
    static bool wait(double seconds, const std::function<bool()>& stop);
    /// "Slurm could not be reached for 60 minutes (squeue: ...)".
    std::string givingUp() const;
    double timeoutSeconds() const { return m_timeout; }

private:
    using Clock = std::chrono::steady_clock;
    double downSeconds() const;

    double m_timeout;
    SchedulerNoticeHook m_notice;
    std::optional<Clock::time_point> m_downSince;
    double m_nextPause = 1;
    std::string m_lastFailure;
};

/// scancel of `ids` (jobs or tasks), then waits until squeue lists none of them as queued or
/// running, through outages. True once they have all ended; false when they were still
/// listed after `patienceSeconds` of answers, or the outage was given up (the caller says
/// which jobs may be left).
bool cancelAndWait(SchedulerLink& link, const std::vector<std::string>& ids,
                   double patienceSeconds = 60);

/// Ends what an earlier ZYL process left queued or running (the jobs a run store lists as
/// not ended) before anything new is submitted: a job whose submission did not answer is
/// looked up by its name; every task still queued or running is cancelled and awaited.
/// \throws Exception when the scheduler cannot be reached past the link's timeout, or the
/// jobs would not end, naming them.
void endEarlierJobs(SchedulerLink& link, const std::vector<SchedulerJob>& jobs);

} // namespace zyl::slurm
