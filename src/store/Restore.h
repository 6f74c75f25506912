#pragma once

#include "common/Rng.h"
#include "engine/StopRules.h"
#include "project/Loader.h"
#include "store/RunStore.h"

#include <string_view>
#include <vector>

namespace zyl {

/// A project rebuilt from a store, at the store's last generation boundary.
struct RestoredRun {
    ProjectScript script;
    LoadedProject project;
    StopRuleState stop;
    /// Run time of the earlier sessions (seed a RunClock with it).
    double runSeconds = 0;
    /// The Statistics window's rows of every generation, oldest first; the report prints the
    /// last.
    std::vector<std::vector<StatisticsRow>> statistics;
    /// Successful external evaluations of the generation in progress when the store was last
    /// written, at most one per individual (the latest), in commit order. The population
    /// members they belong to are left unevaluated: the run's evaluation step must take these
    /// values instead of running the program again, and then record them in the buffer in
    /// index order with the others, as the uninterrupted run did.
    std::vector<EvaluationRecord> finishedEvaluations;
    /// The designs of the generation in progress recorded as ruled out before evaluation: the
    /// run rules them out again, and must not record them twice.
    std::vector<EvaluationRecord> screenedEvaluations;
};

/// Rebuilds the project a store holds into `table` (which must hold the built-in symbols
/// only) and `settings`, and sets `rng` to the stored state, so that the run continues bit for
/// bit as the uninterrupted one would: the stored script is loaded, then the engine's
/// parameters, counters, statistics, population, best individuals and buffer, the plots'
/// points and the whole symbol table are put back. Values typed for the generation in
/// progress are entered again in the order they were typed.
/// Touches no file.
/// \throws Exception "The run store \"<path>\" holds a script that no longer loads: <message>"
/// or "The run store \"<path>\" is damaged: <detail>" when the stored state does not fit the
/// loaded task.
RestoredRun restoreRun(const StoredRun& stored, const std::string& path, ProjectSettings& settings,
                       SymbolTable& table, LcgRng& rng);

/// The engine's part of a snapshot put back into a project loaded from the same script: the
/// parameters, the search method's state, the statistics, the population, the best
/// individuals, the counters, the generator's state and the whole symbol table (the buffer and
/// the plot points are not in a snapshot: see below). restoreRun's first step, and each step
/// of a watch (StoreWatch) that follows a store as it grows.
/// \throws Exception with the detail of what does not fit the task.
void applySnapshot(const Snapshot& snapshot, ZYL& zyl, ProjectSettings& settings,
                   SymbolTable& table, LcgRng& rng);
/// The entries of one of the store's buffer chunks appended to the engine's buffer.
/// \throws Exception with the detail of a chunk that does not decode.
void appendBufferChunk(ZYL& zyl, std::string_view chunk);
/// A stored plot point appended to its series, which must be the next point of it.
/// \throws Exception "a plot point belongs to no plot" or "the plot points are out of order".
void appendPlotPoint(std::vector<UserPlot>& plots, const PlotPointRecord& point);

/// How a resume puts the export file back as it was at the store's last snapshot, whatever a
/// killed process wrote after it: in append mode the bytes it held before the run followed by
/// every stored generation's bytes, in overwrite mode the last generation's file.
struct ExportRepair {
    std::string name;
    /// Whether the file must be replaced by `content` (only when it differs).
    bool replace = false;
    std::string content;
    /// The file's size afterwards (what the recorder continues from).
    std::int64_t size = 0;
};

/// Works out the repair without touching the file, and makes sure the file is the run's own
/// before anything would replace or cut it: in append mode its bytes after those it held
/// before the run must begin with what the store recorded (with nothing recorded yet, and the
/// run's folder unknown, it must hold nothing after them); in overwrite mode it must be the
/// recorded file, or one the run wrote for a later generation (the same first line, one row).
/// A missing or empty file holds nothing to lose.
/// \throws Exception "The export file \"<name>\" holds something else than what the run
/// store \"<path>\" recorded for it: it is left as it is. Move it away to resume the run."
ExportRepair planExportRepair(const StoredRun& stored, const std::string& storePath);

/// Replaces the file as planned, through a temporary file beside it.
/// \throws Exception "Cannot write the export file \"<name>\": <reason>".
void repairExportFile(const ExportRepair& repair);

} // namespace zyl
