#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zyl {

/// Where the objective value of an individual comes from.
enum class FunctionMode { Invalid = -1, Manual = 0, Analytical = 1, External = 2 };

/// Which scheduler runs the evaluations (CLUSTER scheduler); None: this machine.
enum class Scheduler { None, Slurm };
/// How Slurm runs them (CLUSTER mode): one job array per generation, or one srun step per
/// evaluation inside the allocation ZYL itself runs in.
enum class ClusterMode { Array, Steps };

/// The CLUSTER section. A zero means "Slurm's default".
struct ClusterSettings {
    Scheduler scheduler = Scheduler::None;
    ClusterMode mode = ClusterMode::Array;
    std::string partition;
    std::string account;
    /// Slurm's time limit per evaluation, in minutes.
    int timeLimitMinutes = 0;
    int cpusPerTask = 0;
    int memoryMiB = 0;
    /// Further options for sbatch (or srun with steps), one per entry, as written.
    std::vector<std::string> options;
    /// How long the scheduler may not answer (its controller down or unreachable) before the
    /// run gives up, in minutes.
    double schedulerTimeoutMinutes = 60;
};

/// The optional rules that end a task before max_iteration (OPTIONS keys). A zero or empty
/// field is a rule that is not in force.
struct StopRuleSettings {
    /// stop_when: an expression evaluated after each generation's statistics are published;
    /// a non-zero real value ends the task.
    std::string stopWhen;
    /// time_limit: seconds of run time, counted over every session of the task.
    double timeLimit = 0;
    /// max_evaluations: objective values actually computed (buffer hits are not counted).
    std::int64_t maxEvaluations = 0;
    /// stall_generations and stall_tolerance: the best value has not improved by more than
    /// the tolerance for that many generations.
    int stallGenerations = 0;
    double stallTolerance = 0;

    bool any() const
    {
        return !stopWhen.empty() || timeLimit > 0 || maxEvaluations > 0 || stallGenerations > 0;
    }
};

/// The longest term_grace, in seconds: a year, as long as a scheduler's longest time limit. A
/// grace has to end at a time the clocks can hold.
inline constexpr double maxTermGrace = 365 * 24 * 3600.0;

/// The task settings held outside the engine object. One instance lives as long as the
/// program; a load overwrites what it reads and leaves the rest, also when it fails.
struct ProjectSettings {
    FunctionMode functionMode = FunctionMode::External;
    int loopCounter = 1;
    bool showVariables = false;
    bool showBuffered = false;
    bool showPopulation = false;
    bool statisticHistory = false;
    bool populationHistory = false;
    bool exportEveryIteration = false;
    std::string inputName;
    std::string externalName;
    std::string outputName;
    /// Seconds an external program may run before it is killed; 0 waits as long as it takes.
    double externalTimeout = 0;
    /// Seconds the running programs are given to finish after SIGTERM or Terminate before
    /// they are ended (FUNCTION term_grace, at most maxTermGrace); 0 ends them at once.
    double termGrace = 0;
    /// Constraint values the external program writes after the objective value.
    int externalConstraints = 0;
    /// In a task with several objectives, the objective values the external program writes
    /// (FUNCTION external_objectives, 1 when absent), before its constraint values; 0 in a
    /// task with one.
    int externalObjectives = 0;
    /// The input file holds one "name=value" line per variable (FUNCTION input_by_name).
    bool inputByName = false;
    /// The exit status by which the program asks that its design not be run again (FUNCTION
    /// no_retry_status); 0: none.
    int noRetryStatus = 0;

    // How external evaluations run. Every load sets all of these, so a script without the keys
    // runs one program at a time in ZYL's folder, as it always has.
    /// Programs run at once (1 to 1024); with a scheduler, evaluations queued or running.
    int workers = 1;
    /// Absolute folder holding one folder per evaluation (see usesWorkFolders); by default
    /// beside the script, named after it with "-runs" appended.
    std::string workRoot;
    /// The script names work_root or template_dir: folders even for one worker.
    bool workFoldersAsked = false;
    /// Absolute folder copied into each evaluation's folder first; empty: none.
    std::string templateDir;
    bool keepWorkDirs = false;
    /// How many times a failed evaluation is started again (0 to 100).
    int retries = 0;
    /// The value a failed evaluation gives; absent: a failure stops the run.
    std::optional<double> failureValue;
    ClusterSettings cluster;
    /// Whose the evaluations' folders in the work root are: for a run with a store, the store
    /// and its creation time, so that a resume takes back the folders its earlier process
    /// left; empty for a run without one, which owns only what its own process made. Not a
    /// script key: every load clears it, and a store sets it.
    std::string workRootOwner;
    /// The folder of this run's evaluations inside the work root (runFolderName). Not a script
    /// key: the run session names it.
    std::string runFolder;

    /// Whether each evaluation runs in a folder of its own: with several workers, a scheduler,
    /// or a script that asks for the folders (a template needs one to be copied into).
    bool usesWorkFolders() const
    {
        return workers > 1 || cluster.scheduler != Scheduler::None || workFoldersAsked;
    }

    // ---- Run store and stop rules ----
    /// FUNCTION reuse_store: a run store whose evaluations fill the buffer when a run starts.
    std::string reuseStore;
    StopRuleSettings stopRules;
};

} // namespace zyl
