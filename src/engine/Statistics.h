#pragma once

#include "engine/Zyl.h"
#include "expr/Tensor.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zyl {

/// The quartile rule of the statistics pass: with N = sorted.size() and k = N*p truncated
/// toward zero, the value at 0-based position k for odd N and at k - 1 for even N. A position
/// outside the array is clamped to it, so a population of 2 has Q1 = its smallest value.
/// An empty array or a p that is not a number gives NaN; p is clamped to [0; 1].
/// \pre `sorted` is ascending in the order of computeStatistics (NaN last).
double quantile(const std::vector<double>& sorted, double p);

/// The first step of a generation: the statistics of the population's values, those of the
/// screened designs left out, which have none (different,
/// average, stdDev, meanDev, medianDev, range, q1..q3, iqr, entropy, discrepancy), the current
/// extremes (full copies of the first individual with the largest and the smallest value) and
/// the global extremes (replaced only by a strictly better current one).
///
/// Non-finite values (an external program may write "nan" or "inf"):
/// - the values are sorted in a total order: -inf < finite values < +inf < NaN, and all NaNs
///   form one group of equal values, so `different`, `entropy` and the quartiles stay defined
///   (a quartile whose position falls among the NaNs is NaN);
/// - average, the deviations and the discrepancy follow IEEE arithmetic: one NaN makes them
///   NaN, an infinity makes them infinite or NaN; a NaN result is always the positive quiet NaN
///   (shown as "nan");
/// - currentMax and currentMin ignore NaN values unless every value is NaN (then both are
///   individual 0); so NaN never becomes globalMax or globalMin;
/// - range is 0 when currentMax and currentMin are in one group (all values equal, all +inf,
///   all NaN), otherwise their difference.
void computeStatistics(ZYL& zyl);

/// The third step of a generation: writes the 26 statistic scalars into the symbol table with
/// setSymbolValue ("Generation" is generation + 1, "Buffered" the number of buffer entries),
/// each number's text made formatNumber of its new value so that printing shows it; in a
/// constrained task "Feasible", "MinViolation", "BestViolation" (of the best design of the
/// task) and each constraint's name with its value at that design; in a task with several
/// objectives "FrontSize", "Hypervolume" and each objective's "NAME_FrontMin" and
/// "NAME_FrontMax" (frontStatisticNames); with prescreen "Screened"; then the vectors
/// "GlobalMinIndiv", "GlobalMaxIndiv", "CurrentMinIndiv", "CurrentMaxIndiv"
/// (element j: re = the value of variable j, im = 0, text = realToText of it).
///
/// A scalar the user removed or redefined as something other than a number is made a number
/// again (setSymbolValue). A vector that is missing, is no vector, has another number of
/// elements than the task has variables, or has an element that is not a number is re-created
/// as a vector of the right dimension (in place when the symbol exists, else appended).
/// \throws Exception with the message of any failure; the names after it are not written.
void publishStatistics(const ZYL& zyl, SymbolTable& table);

/// One row of the Statistics window: the columns What?, Value and Info.
struct StatisticsRow {
    std::string what, value, info;

    bool operator==(const StatisticsRow&) const = default;
};

/// The numbers behind the Statistics window's rows for the latest generation, as they stand
/// right after the statistics pass: the next generation replaces the population (whose means
/// the rows show) and counts on, so a window that shows them later keeps a snapshot.
struct StatisticsSnapshot {
    std::int64_t generation = 0;
    int popSize = 0;
    double average = 0, q2 = 0, range = 0, iqr = 0, stdDev = 0, meanDev = 0, medianDev = 0;
    double entropy = 0, discrepancy = 0;
    int different = 0;
    std::size_t buffered = 0;
    std::int64_t mutations = 0, crossovers = 0;
    /// globalMax, globalMin, currentMax, currentMin: the value and the variables' values.
    double extremes[4] = {0, 0, 0, 0};
    std::vector<double> extremeVariables[4];
    /// Each variable's mean over the population.
    std::vector<double> means;
    /// Empty without constraints; then the fields below are not used.
    std::vector<std::string> constraintNames;
    int feasible = 0;
    double minViolation = 0, bestViolation = 0;
    /// The constraint values of the best design of the task.
    std::vector<double> bestConstraints;
    /// Empty with one objective; then the fields below are not used.
    std::vector<std::string> objectiveNames;
    int frontSize = 0;
    double hypervolume = 0;
    std::vector<double> frontMin, frontMax;
    /// The hypervolume's reference point; empty while none is chosen.
    std::vector<double> reference;
    /// With prescreen: the designs ruled out before evaluation.
    std::optional<int> screened;
};

/// Fills `snapshot` from the engine; its vectors keep their storage from one call to the next.
void takeStatisticsSnapshot(const ZYL& zyl, StatisticsSnapshot& snapshot);

/// The rows the Statistics window adds for a generation, in order: 17 rows (18 with the
/// "Buffered" row when `showBuffered`), then an empty separator row. A constrained task has,
/// after "Different", the rows "Feasible", "MinViolation", "BestViolation" and one per
/// constraint (its value at the best design of the task). A task with several objectives
/// has, after those, "FrontSize", "Hypervolume" and each objective's least and greatest value
/// on the front; with prescreen "Screened" follows. Reals are written by realToText, counts
/// as decimal integers; "Generation" is generation + 1.
std::vector<StatisticsRow> statisticsRows(const StatisticsSnapshot& snapshot, bool showBuffered);
/// Hands the same rows, one at a time, to `row(what, value, info)`; the texts live only for
/// the call, so a caller that keeps them as text (the run store, every generation) builds
/// no rows.
void forEachStatisticsRow(
    const StatisticsSnapshot& snapshot, bool showBuffered,
    const std::function<void(std::string_view, std::string_view, std::string_view)>& row);
/// The rows of the latest generation of `zyl`.
std::vector<StatisticsRow> statisticsRows(const ZYL& zyl, bool showBuffered);

/// The names of the front's statistics in a task with these objectives, in the order they are
/// published: "FrontSize", "Hypervolume", then per objective NAME "NAME_FrontMin" and
/// "NAME_FrontMax".
std::vector<std::string> frontStatisticNames(const std::vector<std::string>& objectives);

} // namespace zyl
