#pragma once

// The run store: one SQLite file that holds everything a run needs to continue, written as
// the run goes. This class is the file and its tables; RunRecorder fills it from a running
// engine and restoreRun rebuilds a project from it. Neither the engine nor the windows see SQL.

#include "common/Exception.h"
#include "engine/Statistics.h"
#include "engine/StopRules.h"
#include "engine/backends/ProgramBackend.h"
#include "store/FileLock.h"
#include "store/Sqlite.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zyl {

/// PRAGMA application_id of every run store: "ZYL" and a zero byte, the file's magic number.
constexpr std::int32_t kStoreApplicationId = 0x5A594C00;
/// PRAGMA user_version: the layout of the tables. A store with a higher number was written by
/// a newer ZYL and is refused; one with a lower number is read as it is and brought up to
/// this layout when a resume first writes it (version 2 added the table of scheduler jobs,
/// version 3 the run's folder and the table of the search method, which a run of
/// the genetic algorithm leaves empty, version 4 the constraint values in the lists of
/// individuals and in the evaluations' exact values, version 5 the run's id, version 6 the
/// command line's overrides of the script's keys).
constexpr std::int32_t kStoreVersion = 6;

/// The file of a running store was deleted, replaced or cut short behind the run's back: no
/// later commit can reach the file the user sees, so the run must stop rather than go on
/// recording into nothing.
class StoreLost : public Exception {
public:
    using Exception::Exception;
};

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
    /// The absolute folder the run started in, where the script's relative names (the export
    /// file, the program, its files, the work root, the template) resolve; "" when unknown
    /// (a store of an older ZYL). Filled by create() when left empty.
    std::string folder;
    /// What tells this run from every other, wherever its store is moved or renamed (its
    /// work folders are named after it): made at random by create() when left empty; "" in a
    /// store of an older ZYL until a resume upgrades it.
    std::string runId;
    /// The keys the command line set over the script's (overridesText: `--set` arguments, one
    /// a line), already written into `scriptText`; "" for none, and in a store of an older ZYL.
    std::string overrides;
    /// Filled by create().
    std::string created;
    std::string program;
};

/// A new run id: 16 hexadecimal digits from the system's source of randomness.
std::string newRunId();

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

/// What became of an evaluation: "ok" is a value the objective gave, the only kind that a
/// resume or --reuse takes back; "failure_value" a failure that took the script's
/// failure_value; "timeout" a program that ran out of its time (with or without the failure
/// value); "failed" any other failure; "cancelled" a program ended by the run's end;
/// "screened" a design that a CONSTRAINTS formula ruled out before its program ran (no value
/// and no failure).
enum class RecordStatus { Ok, Failed, TimedOut, Cancelled, FailureValue, Screened };
std::string_view statusText(RecordStatus status);

/// One finished evaluation of an external program or one typed value.
struct EvaluationRecord {
    /// The generation it belongs to, counted from 1, and the individual's index in it.
    std::int32_t generation = 0;
    std::int32_t individual = 0;
    std::vector<double> variables;
    double value = 0;
    /// The constraint values the external program wrote with `value` (FUNCTION
    /// external_constraints); empty without them. The CONSTRAINTS formulas are not kept: they
    /// follow from the variables.
    std::vector<double> constraints;
    /// In a task with several objectives, the objective values the program wrote, `value`
    /// first (FUNCTION external_objectives); empty otherwise. The OBJECTIVES formulas are not
    /// kept either.
    std::vector<double> objectives;
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

/// What a running writer keeps in its store while a generation's programs run (an external
/// task): the counts of `zyl-batch --progress json`'s signs of life, so that whoever watches
/// the store sees them. Written at most about once a second, into a table of its own that a
/// store gets with its first such record (older readers pass over it).
struct RunActivity {
    std::int64_t pid = 0;
    std::string host;
    /// The generation being evaluated (counted from 1) and the values computed so far.
    std::int32_t generation = 0;
    std::int64_t evaluations = 0;
    EvaluationProgress programs;
    /// UTC, as the store writes its times (filled by the store).
    std::string updated;
};

/// The process that created or last resumed a store (RunHeader has no place for it: it
/// changes with every resume).
struct StoreOwner {
    std::int64_t pid = 0;
    std::string host;
    std::string since;
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
    /// A store written by this process is folded whole into its file (a checkpoint) before
    /// the connection closes: SQLite's own last checkpoint is left out while another
    /// connection (a watch) has the file open, and the file alone must hold the run.
    ~RunStore();
    // No move assignment: it would release the old lock before closing the old connection.
    RunStore& operator=(RunStore&&) = delete;

    /// Creates a store at `path` holding `header` and the first snapshot (the engine as
    /// loaded), in one transaction: a store either holds a whole run or none. A file this
    /// call made is removed again when the creation fails (a full disk).
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
    ///   version N; this ZYL reads version 5).";
    /// - (with `lock`, which a resume asks for) the file and its folder can be written: "The
    ///   run store \"<path>\" cannot be written: <why>";
    /// - it is whole: "The run store \"<path>\" is damaged: <detail>";
    /// - (with `lock`) no other ZYL has it open: "The run store \"<path>\" is in use by
    ///   another ZYL (process P on host H since T).".
    /// The file is opened read-only and nothing is written before beginWriting(); a file
    /// without a WAL beside it is read as immutable, so that nothing is created beside a
    /// store that is refused, or beside an archive in a folder that cannot be written.
    static RunStore openExisting(const std::string& path, bool lock);
    /// Opens a store that another process may be writing, to follow it as it grows: the
    /// checks and messages of openExisting without the lock, and a connection that reads what
    /// the writer commits to the WAL, takes no lock the writer waits for and never writes.
    /// Never the immutable way (whose reads of a file that a checkpoint rewrites under them
    /// are garbage). A file without a WAL beside it is checked by its header before SQLite
    /// opens it, so that a file that is refused gets nothing made beside it; one that passes
    /// gets its WAL and the WAL's index (both empty) as any reader of a WAL file makes them.
    /// \throws Exception with openExisting's messages, or "The run store \"<path>\" cannot be
    /// watched: <reason>" (its folder cannot be written, so the WAL cannot be read).
    static RunStore openForWatching(const std::string& path);

    /// Reads everything. \throws Exception "The run store \"<path>\" is damaged: <detail>".
    StoredRun read();

    // The pieces of read(), for a reader that follows a store another process writes: each
    // reads only what lies past the position it is given, so that a look at a growing store
    // costs what was added. Inside one ReadTransaction they see one commit. Each
    // \throws Exception "The run store \"<path>\" is damaged: <detail>".

    /// One transaction of reads, which sees the store as one commit left it.
    class ReadTransaction {
    public:
        explicit ReadTransaction(RunStore& store);
        ~ReadTransaction();
        ReadTransaction(const ReadTransaction&) = delete;
        ReadTransaction& operator=(const ReadTransaction&) = delete;

    private:
        RunStore& m_store;
    };
    /// Changes whenever another connection has committed since the last call (SQLite's
    /// data_version): a look that finds it unchanged need read nothing else.
    std::int64_t dataVersion();
    /// The run's header with its plots.
    RunHeader readHeader();
    /// Who owns the store now (the owner fields of the run row).
    StoreOwner readOwner();
    /// The state row: the engine at the last committed boundary (the increments empty),
    /// with the number of buffer entries and the id of the last evaluation committed before it.
    Snapshot readState(std::int64_t& bufferEntries, std::int64_t& lastEvaluation);
    /// The generations after `generation`, oldest first.
    std::vector<GenerationRecord> readGenerations(std::int32_t after);
    /// The points of one series from its `first` point on.
    std::vector<PlotPointRecord> readPoints(std::int32_t plot, std::int32_t series,
                                            std::int64_t first);
    /// The buffer's chunks from entry `first` on (which must begin a chunk), and the number of
    /// entries they hold.
    std::vector<std::string> readBuffer(std::int64_t first, std::int64_t& entries);
    /// The latest activity a running writer recorded; none in a store that has never had one.
    std::optional<RunActivity> readActivity();
    /// The writer's side: records the counts (see RunActivity) with this process and host,
    /// in a transaction of its own, not synced (a power cut may take the last ones: they are
    /// a sign of life, not a result).
    void recordActivity(const RunActivity& activity);

    /// The evaluations committed after `afterId`, oldest first; only status "ok" ones when
    /// `successfulOnly`. \throws Exception "The run store \"<path>\" is damaged: <detail>".
    std::vector<EvaluationRecord> evaluations(std::int64_t afterId, bool successfulOnly);

    /// How many evaluations of generations 1 to `throughGeneration` failed, and how many of
    /// those took the failure value, each individual counted by its latest record (a resume
    /// runs a failed one again). \throws Exception "The run store \"<path>\" is damaged: ...".
    std::pair<std::int64_t, std::int64_t> failureCounts(std::int32_t throughGeneration);

    /// Reopens the file for writing, brings an older layout up to this one and records this
    /// process as its owner (and `runId` as the run's id when the store had none). Call once
    /// the resume has really started, every check of it passed, so that a refused resume
    /// leaves the file as it was, byte for byte. \throws Exception "The run store
    /// \"<path>\" cannot be written: <reason>".
    void beginWriting(const std::string& runId);
    /// The folder to record as the run's in a store that does not know it (an older ZYL's).
    /// Written with the first generation or successful evaluation this process commits, not
    /// before: a resume that fails at once in a wrong folder must not bind the run to it.
    void recordFolderOnceProven(const std::string& folder) { m_unprovenFolder = folder; }

    /// Copies what the WAL holds into the file itself, as far as no reader stands in the way.
    /// SQLite's own checkpoints are off: this is the only one, called by the recorder's
    /// writer thread, so that a run never waits for one.
    void checkpoint();
    /// Pages in the WAL after the latest commit; the writer checkpoints past kCheckpointPages.
    int walPages() const { return m_walPages ? m_walPages->load() : 0; }
    static constexpr int kCheckpointPages = 1000;
    /// Before every write: the file at the path must still be the one this store opened
    /// (the same device and inode, not shorter than it was). \throws StoreLost "The run
    /// store \"<path>\" is no longer the file this run opened (it was deleted, replaced or
    /// cut short): the run stops." and writes nothing more from then on.
    void checkStillThere();
    /// One snapshot at a generation boundary, in one transaction (synchronous=NORMAL: a kill
    /// loses nothing committed, a power cut at most the latest snapshots, never consistency).
    void commitSnapshot(const Snapshot& snapshot);
    /// One finished evaluation, in its own transaction, synced to disk (synchronous=FULL), so
    /// that an expensive value survives even a power cut. Returns its id.
    std::int64_t commitEvaluation(const EvaluationRecord& record);

    /// A consistent copy of the store at `path` (the desktop program's Save as), written
    /// beside it and renamed over it. The copy is a run of its own from then on: it gets a
    /// new run id, so that it never takes the original's work folders for its own.
    void copyTo(const std::string& path);

    // The scheduler jobs a run submitted (see JobLedger), each call in its own transaction,
    // synced to disk like an evaluation: a job that may run must never be lost from view.
    std::int64_t recordJob(const SchedulerJob& job);
    void setJobId(std::int64_t key, const std::string& id);
    void endJob(std::int64_t key);
    /// The jobs not recorded as ended, oldest first, with their keys (none in a store older
    /// than version 2). \throws Exception "The run store \"<path>\" is damaged: <detail>".
    std::vector<SchedulerJob> openJobs();

    /// The name as given, for messages.
    const std::string& path() const { return m_path; }
    /// The same file by its absolute name, which stays valid when the process changes folder.
    const std::string& file() const { return m_file; }
    bool writable() const { return m_writable; }
    /// The layout version of the file (lower than kStoreVersion for an older store until
    /// beginWriting brings it up to date).
    std::int64_t version() const { return m_version; }
    /// RunHeader::created of a store made by create(); empty for one opened (read() has it).
    const std::string& created() const { return m_created; }

private:
    explicit RunStore(const std::string& path);
    static RunStore openChecked(const std::string& path, bool lock, bool watching);
    void prepareWriting();
    void rememberIdentity();
    /// Takes the lock; \throws Exception "... is in use by another ZYL ..." when it is held.
    void lockAgainstOthers();
    [[noreturn]] void damaged(const std::string& detail) const;
    [[noreturn]] void failed(const std::exception& error) const;
    [[noreturn]] void cannotWrite(const std::string& reason) const;
    void setSynchronous(int level);
    void setUpWriting();
    /// Inside a write's transaction: the run's folder, once proven (recordFolderOnceProven).
    void writeProvenFolder();

    std::string m_path;
    std::string m_file;
    std::int64_t m_version = kStoreVersion;
    // Declared before the connection, so that it is released after it (see FileLock).
    FileLock m_lock;
    sql::Database m_db;
    bool m_writable = false;
    std::string m_created;
    std::string m_unprovenFolder;
    int m_synchronous = -1;
    // What the file was when opened for writing (device, inode, the largest size seen).
    bool m_identityKnown = false;
    std::uint64_t m_device = 0, m_inode = 0;
    std::int64_t m_size = 0;
    bool m_lost = false;
    // The WAL and its index as last seen while the file was still this store's.
    struct SideFile {
        const char* suffix;
        bool known = false;
        std::uint64_t device = 0, inode = 0;
    };
    SideFile m_sideFiles[2] = {{"-wal"}, {"-shm"}};
    // Where SQLite's WAL hook counts (on the heap: the store moves, the hook's pointer must not).
    std::shared_ptr<std::atomic<int>> m_walPages;
    struct Writers;
    std::shared_ptr<Writers> m_writers;
};

/// The whole read path of a store file, the entry point for fuzzing: every check of
/// openExisting (without the lock), read(), and the decoding of every binary field.
/// \throws Exception with the message of the first damage found; never crashes.
StoredRun inspectRunStore(const std::string& path);

} // namespace zyl
