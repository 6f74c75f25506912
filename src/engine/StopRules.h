#pragma once

#include "engine/Zyl.h"
#include "expr/Tensor.h"
#include "script/ProjectScript.h"
#include "script/ProjectSettings.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace zyl {

/// Reads the stop-rule keys of OPTIONS: stop_when, time_limit, max_evaluations,
/// stall_generations and stall_tolerance (read only with stall_generations). An absent or
/// empty key, or 0, leaves its rule out of force, so a script without them runs as before.
/// Unlike the older keys, a value that is not a number is refused rather than defaulted: a
/// rule the user believes in force must not silently be off.
/// \throws Exception, with the first failing check:
/// "Time limit ought to be a number of seconds not below 0",
/// "Max evaluations ought to be a whole number not below 0",
/// "Stall generations ought to be a number from [0; 30000]",
/// "Stall tolerance ought to be a number not below 0", or
/// "Stop rule: " followed by the parser's message for a stop_when that does not parse, or
/// "Stop rule: X is not a variable, a statistic or a definition" for a stop_when naming
/// something that neither `table` (the built-in symbols, the statistics, the EQUATIONS) nor
/// `variables` holds: found at load, not after a first generation that may take hours.
StopRuleSettings readStopRules(const ProjectScript& script, const SymbolTable& table,
                               const std::vector<std::string>& variables);

/// Run time of a task, summed over its runs and over the sessions of a stored run: the time
/// between start() and stop(), added to what earlier sessions counted. Time while no run is
/// going (between Runs, or while a killed job waits in a queue) does not count.
class RunClock {
public:
    explicit RunClock(double earlierSeconds = 0) : m_earlier(earlierSeconds) {}

    /// A run begins; nothing happens when one is already being timed.
    void start();
    /// The run ends; its time joins the total.
    void stop();
    bool running() const { return m_since.has_value(); }
    /// The total so far, the running stretch included.
    double seconds() const;

private:
    double m_earlier;
    std::optional<std::chrono::steady_clock::time_point> m_since;
};

/// What the stop rules carry from one generation to the next. A run store keeps it with
/// every snapshot, so that a resumed task stops in the same generation as an uninterrupted
/// one (time_limit aside, which depends on the machine's speed).
struct StopRuleState {
    /// Objective values computed so far in the task; the integrator counts each computed
    /// evaluation (analytical, external or typed), never a buffer hit.
    std::int64_t evaluations = 0;
    /// Generations in a row in which the best value has not improved by more than the
    /// tolerance on `stallBest`.
    int stallCount = 0;
    /// The best value at the last improvement that counted; meaningful when hasStallBest.
    double stallBest = 0;
    bool hasStallBest = false;
    /// Set when a rule ended the task: the task is then finished, and a later Run or resume
    /// computes nothing more.
    std::string stopReason;
    /// Evaluations of the task that failed (their programs' retries spent), and how many of
    /// them took the failure value instead of stopping the run. Reports state both: a run in
    /// which every value is the failure value must not pass for a result.
    std::int64_t failedEvaluations = 0;
    std::int64_t failureValues = 0;

    bool finished() const { return !stopReason.empty(); }
};

/// The rules, checked once per generation right after its statistics have been published
/// (so stop_when sees the same variables as the plots and the export). The generation being
/// completed is zyl.generation + 1.
///
/// 1. The stall count: the best value (globalMax when maximising, globalMin otherwise; the
///    front's hypervolume, the larger the better, in a task with several objectives) is
///    compared with `stallBest`; an improvement by more than the tolerance makes it the new
///    `stallBest` and resets the count, anything else adds one. Slow improvements thus add
///    up until together they exceed the tolerance.
/// 2. stop_when is evaluated (it may define symbols, like a plot expression).
/// 3. The first rule met, in the order stop_when (a real part that is non-zero and not NaN),
///    max_evaluations, stall_generations, time_limit, ends the task: its reason is stored in
///    state.stopReason and true is returned. The generation step itself goes on to its end
///    (export, plots, next generation, counter), as when max_iteration is reached.
///
/// stop_when is met by a non-zero real value; NaN is not. A value with an imaginary part
/// (sqrt(-1), I) is an error of the rule, not a verdict: read as "met" or "not met" either
/// way it would end, or never end, a run for no reason the user wrote.
///
/// A task that is already finished returns true at once. Draws nothing from the generator.
/// \throws Exception with the message of a stop_when that fails to evaluate, or "The value of
/// stop_when is not a real number: V"; the caller
/// shows it after "Stop rule: " and stops the run. The task is not finished by it.
bool checkStopRules(const StopRuleSettings& rules, StopRuleState& state, const ZYL& zyl,
                    SymbolTable& table, double runSeconds);

} // namespace zyl
