#pragma once

#include <cstdint>
#include <string>

namespace zyl {

/// Where the objective value of an individual comes from.
enum class FunctionMode { Invalid = -1, Manual = 0, Analytical = 1, External = 2 };

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

    // ---- Run store and stop rules ----
    /// FUNCTION reuse_store: a run store whose evaluations fill the buffer when a run starts.
    std::string reuseStore;
    StopRuleSettings stopRules;
};

} // namespace zyl
