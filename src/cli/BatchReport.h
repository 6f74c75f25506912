#pragma once

#include "engine/Statistics.h"
#include "engine/Zyl.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace zyl::cli {

/// JSON objects keep their keys in the order written, so that the report reads like the table.
using Json = nlohmann::ordered_json;

/// A real as JSON: a number with every digit kept, or null for NaN and the infinities, which
/// JSON cannot write.
Json jsonNumber(double value);

/// Why a batch run ended.
enum class RunEnd {
    Finished,    // the generation limit (max_iteration) was reached
    Failed,      // a step failed; its message is on standard error
    Interrupted, // SIGINT, SIGTERM or SIGHUP
    InputEnded,  // a manual task's standard input ended before every value was given
    LoadFailed,  // the script could not be loaded
    Stopped,     // a stop rule ended the task; the message says which
    AllFailed,   // every evaluation of a generation took the failure value: no result
};

/// The name of `end` in the JSON report: "finished", "failed" (AllFailed too), "interrupted",
/// "input-ended", "load-failed", "stopped".
const char* runEndName(RunEnd end);

/// How a run ended, for the report.
struct RunOutcome {
    RunEnd end = RunEnd::Finished;
    /// The message that ended the run, empty when it ended normally.
    std::string message;
    int exitStatus = 0;
    /// The task's failed evaluations and how many of them took the failure value; absent when
    /// the script did not load.
    std::optional<std::int64_t> failedEvaluations = std::nullopt;
    std::int64_t failureValues = 0;
    /// The script sets failure_value: the text report then states the counts even when none
    /// failed, since such a run's values may hide failures.
    bool failureValueSet = false;
};

/// The statistics of the latest generation as JSON numbers, with the names and in the order of
/// the rows of statisticsRows ("Buffered" only when `showBuffered`; "Feasible",
/// "MinViolation" and "BestViolation" only in a constrained task; "FrontSize", "Hypervolume"
/// and each objective's "NAME_FrontMin" and "NAME_FrontMax" only with several objectives;
/// "Screened" only with prescreen).
Json statisticsJson(const ZYL& zyl, bool showBuffered);

/// The front of the population the method kept in a task with several objectives, ordered by
/// the first objective, its best value first (then the next), one object per design: "objectives" (each by name),
/// "variables" (name and value, in order), "feasible" and "violation".
Json frontJson(const ZYL& zyl);

/// The best individual so far (globalMax when maximising, else globalMin): its value and each
/// variable by name with its value; in a constrained task also "feasible", "violation" and
/// each constraint by name with its value.
Json bestJson(const ZYL& zyl);

/// The tab-separated report: the statistics rows, then "Best: " and the best individual,
/// followed in a constrained task by " (feasible)" or by that no feasible design was found
/// and the best one's violation (with several objectives instead the front: a line that says
/// how many designs it holds, a line of names, and a line per design with its objective
/// values, then its variables); or
/// "No generation was computed." when `rows` is empty. When evaluations failed, a line says how
/// many and how many took the failure value (also when none failed, if failure_value is set). A run that a stop rule ended adds "Stopped: " and
/// the rule's reason; one that every evaluation of a generation failed, its message.
void printTextReport(std::ostream& out, const std::vector<StatisticsRow>& rows, const ZYL& zyl,
                     const RunOutcome& outcome);

/// The report as one JSON object on one line. `zyl` is null when the script did not load;
/// `statistics` is null when no generation was computed. With several objectives it has
/// "front" (frontJson) after "best".
void printJsonReport(std::ostream& out, const Json& statistics, const ZYL* zyl,
                     const RunOutcome& outcome);

} // namespace zyl::cli
