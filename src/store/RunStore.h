#pragma once

// The run store: one SQLite file that holds everything a run needs to continue, written as
// the run goes. This class is the file and its tables; RunRecorder fills it from a running
// engine and restoreRun rebuilds a project from it. Neither the engine nor the windows see SQL.

#include "engine/Statistics.h"
#include "engine/StopRules.h"
#include "store/FileLock.h"
#include "store/Sqlite.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zyl {

/// PRAGMA application_id of every run store: "ZYL" and a zero byte, the file's magic number.
constexpr std::int32_t kStoreApplicationId = 0x5A594C00;
/// PRAGMA user_version: the layout of the tables. A store with a higher number was written by
/// a newer ZYL and is refused. Version 2 added the table `method`; a version 1 store (which
/// can only hold a run of the genetic algorithm) gains it when it is resumed.
constexpr std::int32_t kStoreVersion = 2;

/// What a run was started from; written once, when the store is created.
struct RunHeader {
    /// The script file as given ("" for a project made in the desktop program).
    std::string scriptName;
    /// The script the run is built from: ProjectScript::text() of the loaded script, blanks
    /// stripped and comments gone, so that reformatting a script does not make it another.
    std::string scriptText;
    std::optional<std::uint64_t> seed;
    /// describeObjective() of the task, compared when another run reuses this one.
    std::string objective;
    /// The export file and its mode at the start, and the bytes it held then (append mode
    /// keeps what was there before the run).
    std::string exportName;
    bool exportEveryIteration = false;
    std::int64_t exportBase = 0;
    /// Each plot's title and expressions, so that users can tell the series apart.
    struct Plot {
        std::string title;
        std::vector<std::string> expressions;
    };
    std::vector<Plot> plots;
    /// Filled by create().
    std::string created;
    std::string program;
};

/// The figures of one generation as published, for the generations table.
struct GenerationFigures {
    std::int32_t different = 0;
    double average = 0, stdDev = 0, meanDev = 0, medianDev = 0, range = 0;
    double q1 = 0, q2 = 0, q3 = 0, iqr = 0, entropy = 0, discrepancy = 0;
    double globalMin = 0, globalMax = 0, currentMin = 0, currentMax = 0;
    std::int64_t mutations = 0, crossovers = 0, buffered = 0, evaluations = 0;
    double runSeconds = 0;
};

/// A statistics row in its stored form: one line, cells separated by tabs, and a backslash,
/// a tab or a line break inside a cell escaped, so that any cell reads back as it was.
void appendStatisticsLine(std::string& text, std::string_view what, std::string_view value,
                          std::string_view info);

/// One completed generation.
struct GenerationRecord {
    /// Counted from 1 (the "Generation" statistic).
    std::int32_t generation = 0;
    GenerationFigures figures;
    /// The rows the Statistics window showed for it (and the report prints for the last).
    std::vector<StatisticsRow> rows;
    /// The same rows in their stored form (appendStatisticsLine), as a recorder makes them
    /// once per generation; when empty, the store writes `rows`.
    std::string rowsText;
    /// The bytes its export step added to the export file (the whole file in overwrite
    /// mode); nothing when there was no export.
    std::optional<std::string> exportText;
};

struct PlotPointRecord {
    std::int32_t plot = 0, series = 0, point = 0;
    float x = 0, y = 0;
};

enum class RecordStatus { Ok, Failed, TimedOut, Cancelled };
std::string_view statusText(RecordStatus status);

/// One finished evaluation of an external program or one typed value.
struct EvaluationRecord {
    /// The generation it belongs to, counted from 1, and the individual's index in it.
    std::int32_t generation = 0;
    std::int32_t individual = 0;
    std::vector<double> variables;
    double value = 0;
    RecordStatus status = RecordStatus::Ok;
    /// "external" or "manual".
    std::string kind = "external";
    double seconds = 0;
    std::int32_t attempts = 1;
    /// Where it ran (a host name, a scheduler's job and step) and its work folder.
    std::string host;
    std::string folder;
    /// The failure's message, "" when it succeeded.
    std::string message;
    /// Commit order, filled when read back.
    std::int64_t id = 0;
};

/// The engine at a generation boundary, in the binary forms of StateCodec, and what the
/// generations since the previous snapshot added.
struct Snapshot {
    std::int32_t generation = 0;
    std::uint64_t rngState = 0;
    std::int64_t mutations = 0, crossovers = 0;
    StopRuleState stop;
    double runSeconds = 0;
    /// Bytes of the export file at this boundary (append mode).
    std::int64_t exportSize = 0;
    std::string parameters, statistics, population, extremes, symbols;
    /// The search method's settings and state (StateCodec's encodeMethod); empty in a store
    /// written before methods were stored, which ran the genetic algorithm.
    std::string method;

    // Incremental: only what is new since the previous snapshot.
    std::vector<GenerationRecord> generations;
    std::vector<PlotPointRecord> points;
    /// New buffer entries: the index of the first, their number and their encoding.
    std::int64_t bufferFirst = 0;
    std::int64_t bufferCount = 0;
    std::string bufferEntries;

    /// Empties the incremental part, keeping its memory for the next snapshot.
    void clearIncrements();
};

/// Everything a store holds, read back.
struct StoredRun {
    RunHeader header;
    Snapshot state;
    std::vector<GenerationRecord> generations;
    std::vector<PlotPointRecord> points;
    /// The buffer chunks in order (each an encoded list of individuals).
    std::vector<std::string> bufferChunks;
    std::int64_t bufferEntries = 0;
    /// Evaluations committed after the snapshot, in commit order: the generation in progress.
    std::vector<EvaluationRecord> unfinishedGeneration;
};

/// The run store file. Created for a new run, or opened for a resume (read-only until
/// beginWriting(), and locked against other ZYLs for the whole of its life), or opened
/// read-only without a lock (to reuse another run's evaluations, or to inspect a store).
///
/// Every message names the file: see the static functions for their exact texts.
class RunStore {
public:
    RunStore() = default;
    RunStore(RunStore&&) noexcept = default;
    // No move assignment: it would release the old lock before closing the old connection.
    RunStore& operator=(RunStore&&) = delete;

    /// Creates a store at `path` holding `header` and the first snapshot (the engine as
    /// loaded), in one transaction: a store either holds a whole run or none.
    /// A missing or empty file is created; a file that is a store already holding a run is
    /// refused ("The run store \"<path>\" already holds a run: resume it, or choose another
    /// file."); any other file is refused as openExisting would refuse it, and left alone.
    /// \throws Exception with the message.
    static RunStore create(const std::string& path, RunHeader header, const Snapshot& first);

    /// What a file at a path is, as far as creating or resuming a run is concerned.
    enum class Content { Missing, Empty, Run };
    /// Missing: no file; Empty: an empty file, or an SQLite database without tables (a
    /// creation killed before its first transaction); Run: a file with the store's
    /// application id (whole or not: openExisting tells). Anything else throws with
    /// openExisting's messages ("is not a ZYL run store", "is damaged").
    static Content probe(const std::string& path);

    /// Opens a store that holds a run, after these checks, each with its message:
    /// - the file exists and is a ZYL store: "The file \"<path>\" is not a ZYL run store.";
    /// - its version is known: "The run store \"<path>\" was written by a newer ZYL (store
    ///   version N; this ZYL reads version 1).";
    /// - it is whole: "The run store \"<path>\" is damaged: <detail>";
    /// - (with `lock`) no other ZYL has it open: "The run store \"<path>\" is in use by
    ///   another ZYL (process P on host H since T).".
    /// The file is opened read-only and nothing is written before beginWriting().
    static RunStore openExisting(const std::string& path, bool lock);

    /// Reads everything. \throws Exception "The run store \"<path>\" is damaged: <detail>".
    StoredRun read();

    /// The evaluations committed after `afterId`, oldest first; only status "ok" ones when
    /// `successfulOnly`. \throws Exception "The run store \"<path>\" is damaged: <detail>".
    std::vector<EvaluationRecord> evaluations(std::int64_t afterId, bool successfulOnly);

    /// Reopens the file for writing and records this process as its owner. Call once every
    /// check of a resume has passed. \throws Exception "The run store \"<path>\" cannot be
    /// written: <reason>".
    void beginWriting();

    /// Copies what the WAL holds into the file itself, as far as no reader stands in the way.
    void checkpoint();
    /// One snapshot at a generation boundary, in one transaction (synchronous=NORMAL: a kill
    /// loses nothing committed, a power cut at most the latest snapshots, never consistency).
    void commitSnapshot(const Snapshot& snapshot);
    /// One finished evaluation, in its own transaction, synced to disk (synchronous=FULL), so
    /// that an expensive value survives even a power cut. Returns its id.
    std::int64_t commitEvaluation(const EvaluationRecord& record);

    /// A consistent copy of the store at `path` (the desktop program's Save as), written
    /// beside it and renamed over it.
    void copyTo(const std::string& path);

    const std::string& path() const { return m_path; }
    bool writable() const { return m_writable; }

private:
    void prepareWriting();
    /// Takes the lock; \throws Exception "... is in use by another ZYL ..." when it is held.
    void lockAgainstOthers();
    [[noreturn]] void damaged(const std::string& detail) const;
    [[noreturn]] void failed(const std::exception& error) const;
    [[noreturn]] void cannotWrite(const std::string& reason) const;
    void setSynchronous(int level);
    void setUpWriting();

    std::string m_path;
    // Declared before the connection, so that it is released after it (see FileLock).
    FileLock m_lock;
    sql::Database m_db;
    bool m_writable = false;
    int m_synchronous = -1;
    struct Writers;
    std::shared_ptr<Writers> m_writers;
};

/// The whole read path of a store file, the entry point for fuzzing: every check of
/// openExisting (without the lock), read(), and the decoding of every binary field.
/// \throws Exception with the message of the first damage found; never crashes.
StoredRun inspectRunStore(const std::string& path);

} // namespace zyl
