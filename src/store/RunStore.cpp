#include "store/RunStore.h"

#include "common/Exception.h"
#include "common/FileReplace.h"
#include "store/StateCodec.h"
#include "store/StoreFiles.h"

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <random>

namespace zyl {

using namespace storefile;

namespace {

namespace fs = std::filesystem;

// Small columns first in every table: SQLite reads a row's columns in order, so the big
// binary ones at the end are only fetched by the queries that name them.
constexpr const char* kSchema = R"sql(
CREATE TABLE run (
    id INTEGER PRIMARY KEY CHECK (id = 1),
    created TEXT NOT NULL,
    program TEXT NOT NULL,
    script_name TEXT NOT NULL,
    seed INTEGER,
    export_name TEXT NOT NULL,
    export_every_iteration INTEGER NOT NULL,
    export_base INTEGER NOT NULL,
    owner_pid INTEGER,
    owner_host TEXT,
    owner_since TEXT,
    objective TEXT NOT NULL,
    script TEXT NOT NULL,
    folder TEXT,
    run_id TEXT,
    overrides TEXT
);
CREATE TABLE state (
    id INTEGER PRIMARY KEY CHECK (id = 1),
    generation INTEGER NOT NULL,
    rng INTEGER NOT NULL,
    mutations INTEGER NOT NULL,
    crossovers INTEGER NOT NULL,
    evaluations INTEGER NOT NULL,
    run_seconds REAL NOT NULL,
    stall_count INTEGER NOT NULL,
    stop_reason TEXT,
    export_size INTEGER NOT NULL,
    buffer_entries INTEGER NOT NULL,
    last_evaluation INTEGER NOT NULL,
    updated TEXT NOT NULL,
    stall_best BLOB,
    parameters BLOB NOT NULL,
    statistics BLOB NOT NULL,
    extremes BLOB NOT NULL,
    symbols BLOB NOT NULL,
    population BLOB NOT NULL
);
CREATE TABLE generations (
    generation INTEGER PRIMARY KEY,
    average REAL, std_dev REAL, mean_dev REAL, median_dev REAL, range REAL,
    q1 REAL, q2 REAL, q3 REAL, iqr REAL, entropy REAL, discrepancy REAL,
    different INTEGER,
    global_min REAL, global_max REAL, current_min REAL, current_max REAL,
    mutations INTEGER, crossovers INTEGER, buffered INTEGER, evaluations INTEGER,
    run_seconds REAL,
    statistics TEXT NOT NULL,
    export TEXT
);
CREATE TABLE plots (
    plot INTEGER, series INTEGER, title TEXT NOT NULL, expression TEXT NOT NULL,
    PRIMARY KEY (plot, series)
) WITHOUT ROWID;
CREATE TABLE plot_points (
    plot INTEGER, series INTEGER, point INTEGER, x REAL, y REAL,
    PRIMARY KEY (plot, series, point)
) WITHOUT ROWID;
CREATE TABLE buffer (
    first INTEGER PRIMARY KEY,
    count INTEGER NOT NULL,
    entries BLOB NOT NULL
);
CREATE TABLE evaluations (
    id INTEGER PRIMARY KEY,
    generation INTEGER NOT NULL,
    individual INTEGER NOT NULL,
    variables TEXT NOT NULL,
    value REAL,
    status TEXT NOT NULL,
    kind TEXT NOT NULL,
    seconds REAL,
    attempts INTEGER,
    host TEXT,
    folder TEXT,
    message TEXT,
    finished TEXT NOT NULL,
    exact BLOB NOT NULL
);
CREATE INDEX evaluations_by_generation ON evaluations (generation, individual);
)sql";

// Since version 2. Evaluations of array tasks are in `evaluations`; this table only says which
// jobs may still hold programs of the run, for the process that resumes it.
constexpr const char* kJobsTable = R"sql(
CREATE TABLE jobs (
    id INTEGER PRIMARY KEY,
    name TEXT NOT NULL,
    job TEXT NOT NULL,
    generation INTEGER NOT NULL,
    individuals TEXT NOT NULL,
    folder TEXT NOT NULL,
    submitted TEXT NOT NULL,
    ended TEXT
);
)sql";

// The search method at the last committed boundary: which method, and its settings and
// state (StateCodec). A table of its own, added by store version 3.
constexpr const char* kMethodSchema = R"sql(
CREATE TABLE IF NOT EXISTS method (
    id INTEGER PRIMARY KEY CHECK (id = 1),
    name TEXT NOT NULL,
    state BLOB NOT NULL
);
)sql";
/// Brings a store of an older layout up to kStoreVersion, inside the caller's transaction.
/// Every later change of the layout adds its step here, so that a store of any older version
/// is upgraded in one place (columns it did not know read as NULL: unknown).
void upgradeStoreLayout(sql::Database& db, std::int64_t fromVersion)
{
    // Each step asks whether its part is there already rather than trusting the number alone:
    // the layouts of one version differed while it was being made, and a step that fails on
    // a part already present would make such a store impossible to resume.
    const bool jobs = db.queryInt("SELECT count(*) FROM sqlite_schema WHERE type = 'table' "
                                  "AND name = 'jobs'") != 0;
    auto hasColumn = [&db](const char* name) {
        sql::Statement q(db, "SELECT count(*) FROM pragma_table_info('run') WHERE name = ?");
        q.bindText(1, name);
        return q.step() && q.columnInt(0) != 0;
    };
    if (fromVersion < 2 && !jobs)
        db.exec(kJobsTable);
    if (fromVersion < 3) {
        if (!hasColumn("folder"))
            db.exec("ALTER TABLE run ADD COLUMN folder TEXT");
        db.exec(kMethodSchema); // IF NOT EXISTS
    }
    if (fromVersion < 5 && !hasColumn("run_id"))
        db.exec("ALTER TABLE run ADD COLUMN run_id TEXT");
    if (fromVersion < 6 && !hasColumn("overrides"))
        db.exec("ALTER TABLE run ADD COLUMN overrides TEXT");
    db.exec(("PRAGMA user_version = " + std::to_string(kStoreVersion)).c_str());
}

std::string utcNow()
{
    std::time_t now = std::time(nullptr);
    std::tm parts{};
    gmtime_r(&now, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return text;
}

/// A JSON number, exact for every finite double (17 significant digits); SQLite's JSON
/// functions read 1e999 as infinity, and null stands for NaN.
std::string jsonNumber(double x)
{
    if (std::isnan(x))
        return "null";
    if (std::isinf(x))
        return x > 0 ? "1e999" : "-1e999";
    char text[32];
    std::snprintf(text, sizeof text, "%.17g", x);
    return text;
}

std::string jsonArray(const std::vector<double>& xs)
{
    std::string text = "[";
    for (std::size_t i = 0; i < xs.size(); ++i)
        text += (i ? "," : "") + jsonNumber(xs[i]);
    return text + "]";
}

std::string rowsText(const std::vector<StatisticsRow>& rows)
{
    std::string text;
    for (const StatisticsRow& row : rows)
        appendStatisticsLine(text, row.what, row.value, row.info);
    return text;
}

std::string exactEvaluation(const EvaluationRecord& record)
{
    codec::ByteWriter out;
    out.u32(static_cast<std::uint32_t>(record.variables.size()));
    for (double x : record.variables)
        out.f64(x);
    out.f64(record.value);
    // Only with constraints, so that the bytes of an evaluation without are as they were; the
    // objective values of a task with several follow the constraints' count (0 without).
    if (!record.constraints.empty() || !record.objectives.empty()) {
        out.u32(static_cast<std::uint32_t>(record.constraints.size()));
        for (double x : record.constraints)
            out.f64(x);
    }
    if (!record.objectives.empty()) {
        out.u32(static_cast<std::uint32_t>(record.objectives.size()));
        for (double x : record.objectives)
            out.f64(x);
    }
    return std::move(out.bytes());
}

std::string doubleBits(double x)
{
    codec::ByteWriter out;
    out.f64(x);
    return std::move(out.bytes());
}

int countWalPages(void* counter, sqlite3*, const char*, int pages)
{
    static_cast<std::atomic<int>*>(counter)->store(pages);
    return SQLITE_OK;
}

} // namespace

std::string_view statusText(RecordStatus status)
{
    switch (status) {
    case RecordStatus::Ok:
        return "ok";
    case RecordStatus::Failed:
        return "failed";
    case RecordStatus::TimedOut:
        return "timeout";
    case RecordStatus::Cancelled:
        return "cancelled";
    case RecordStatus::FailureValue:
        return "failure_value";
    case RecordStatus::Screened:
        return "screened";
    }
    return "ok";
}

std::string newRunId()
{
    std::random_device source;
    char text[17];
    std::snprintf(text, sizeof text, "%08x%08x", static_cast<unsigned>(source()),
                  static_cast<unsigned>(source()));
    return text;
}

void Snapshot::clearIncrements()
{
    generations.clear();
    points.clear();
    bufferFirst = bufferCount = 0;
    bufferEntries.clear();
}

/// The statements of the write path, prepared once.
struct RunStore::Writers {
    explicit Writers(sql::Database& db)
        : generation(db, "INSERT INTO generations VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, "
                         "?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"),
          point(db, "INSERT OR REPLACE INTO plot_points VALUES (?, ?, ?, ?, ?)"),
          buffer(db, "INSERT INTO buffer VALUES (?, ?, ?)"),
          state(db, "UPDATE state SET generation = ?, rng = ?, mutations = ?, crossovers = ?, "
                    "evaluations = ?, run_seconds = ?, stall_count = ?, stop_reason = ?, "
                    "export_size = ?, buffer_entries = ?, "
                    "last_evaluation = (SELECT ifnull(max(id), 0) FROM evaluations), "
                    "updated = ?, stall_best = ?, parameters = ?, statistics = ?, extremes = ?, "
                    "symbols = ?, population = ? WHERE id = 1"),
          evaluation(db, "INSERT INTO evaluations (generation, individual, variables, value, "
                         "status, kind, seconds, attempts, host, folder, message, finished, "
                         "exact) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"),
          method(db, "INSERT OR REPLACE INTO method VALUES (1, ?, ?)")
    {
    }
    sql::Statement generation, point, buffer, state, evaluation, method;
};

RunStore::RunStore(const std::string& path) : m_path(path), m_file(path)
{
    std::error_code error;
    const fs::path absolute = fs::absolute(path, error);
    if (!error)
        m_file = absolute.string();
}

RunStore::~RunStore()
{
    if (!m_writable || m_lost || !m_db.isOpen())
        return;
    try {
        m_db.exec("PRAGMA wal_checkpoint(PASSIVE)");
    } catch (const std::exception&) {
        // What the WAL holds stays there, beside the file, for the next opening to read.
    }
}

void RunStore::damaged(const std::string& detail) const
{
    throw Exception("The run store " + inQuotes(m_path) + " is damaged: " + detail);
}

void RunStore::failed(const std::exception& error) const
{
    const std::string text = error.what();
    // Our own messages pass; SQLite's and the decoders' become the damage they reveal.
    if (text.rfind("The run store ", 0) == 0 || text.rfind("The file ", 0) == 0)
        throw Exception(text);
    if (text == sqlite3_errstr(SQLITE_NOTADB))
        throw Exception("The file " + inQuotes(m_path) + " is not a ZYL run store.");
    damaged(text);
}

void RunStore::cannotWrite(const std::string& reason) const
{
    throw Exception("The run store " + inQuotes(m_path) + " cannot be written: " + reason);
}

RunStore RunStore::create(const std::string& path, RunHeader header, const Snapshot& first)
{
    RunStore store(path);
    struct stat before {};
    const bool existed = ::stat(store.m_file.c_str(), &before) == 0;
    std::vector<std::string> madeBeside;
    for (const char* suffix : {"-wal", "-shm"})
        if (!exists(store.m_file + suffix))
            madeBeside.push_back(store.m_file + suffix);
    FileLock::Result result;
    try {
        result = store.m_lock.acquire(store.m_file, /*create=*/true);
    } catch (const Exception& error) {
        throw Exception("The run store " + inQuotes(path) + " cannot be created: " + error.what());
    }
    if (result == FileLock::Result::Busy)
        throw Exception("The run store " + inQuotes(path) + " is in use by another ZYL.");
    if (probe(path) == Content::Run) {
        openExisting(path, /*lock=*/false); // a damaged store is refused as such
        throw Exception("The run store " + inQuotes(path) +
                        " already holds a run: resume it, or choose another file.");
    }

    header.created = utcNow();
    if (header.folder.empty()) {
        std::error_code error;
        header.folder = fs::current_path(error).string();
    }
    if (header.runId.empty())
        header.runId = newRunId();
    store.m_created = header.created;
    try {
        store.m_db = sql::Database(store.m_file, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
        // Straight to WAL without a rollback journal (so before harden(), whose defensive
        // mode refuses journal_mode=OFF): the switch writes the first page, and a rollback
        // journal left by a kill in that moment would make the file unreadable without
        // writing to it. A kill cannot tear a single write, so the page is there or not.
        store.m_db.exec("PRAGMA journal_mode = OFF");
        // Made without a sync (the switch, the WAL's header, its folder): nothing is in it yet
        // that a power cut could take, and the recorder's first checkpoint, moments later,
        // syncs it all before it touches the file's pages. A run pays these syncs only once.
        store.m_db.exec("PRAGMA synchronous = OFF");
        store.m_synchronous = 0;
        if (store.m_db.queryText("PRAGMA journal_mode = WAL") != "wal")
            throw Exception("it cannot be put in WAL mode");
        harden(store.m_db);
        store.rememberIdentity();
        {
            sql::Transaction transaction(store.m_db);
            store.m_db.exec(("PRAGMA application_id = " + std::to_string(kStoreApplicationId) +
                             "; PRAGMA user_version = " + std::to_string(kStoreVersion) + ";")
                                .c_str());
            store.m_db.exec(kSchema);
            store.m_db.exec(kJobsTable);
            store.m_db.exec(kMethodSchema);
            sql::Statement run(store.m_db,
                               "INSERT INTO run (id, created, program, script_name, seed, "
                               "export_name, export_every_iteration, export_base, objective, "
                               "script, owner_pid, owner_host, owner_since, folder, run_id, "
                               "overrides) "
                               "VALUES (1, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
            run.bindText(1, header.created)
                .bindText(2, header.program)
                .bindText(3, header.scriptName);
            if (header.seed)
                run.bind(4, static_cast<std::int64_t>(*header.seed));
            else
                run.bindNull(4);
            run.bindText(5, header.exportName)
                .bind(6, header.exportEveryIteration ? 1 : 0)
                .bind(7, header.exportBase)
                .bindText(8, header.objective)
                .bindText(9, header.scriptText)
                .bind(10, static_cast<std::int64_t>(::getpid()))
                .bindText(11, hostName())
                .bindText(12, header.created);
            if (header.folder.empty())
                run.bindNull(13);
            else
                run.bindText(13, header.folder);
            run.bindText(14, header.runId);
            if (header.overrides.empty())
                run.bindNull(15);
            else
                run.bindText(15, header.overrides);
            run.run();
            sql::Statement plot(store.m_db, "INSERT INTO plots VALUES (?, ?, ?, ?)");
            for (std::size_t p = 0; p < header.plots.size(); ++p)
                for (std::size_t s = 0; s < header.plots[p].expressions.size(); ++s) {
                    plot.bind(1, static_cast<std::int64_t>(p))
                        .bind(2, static_cast<std::int64_t>(s));
                    plot.bindText(3, header.plots[p].title)
                        .bindText(4, header.plots[p].expressions[s]);
                    plot.run();
                }
            // The state row starts empty; the first snapshot fills it in the same transaction.
            store.m_db.exec("INSERT INTO state VALUES (1, 0, 0, 0, 0, 0, 0, 0, NULL, 0, 0, 0, '', "
                            "NULL, x'', x'', x'', x'', x'')");
            store.prepareWriting();
            store.m_writable = true;
            store.commitSnapshot(first);
            transaction.commit();
        }
        store.setUpWriting();
    } catch (const Exception& error) {
        // What this call made goes again (a full disk leaves a file that holds no run, and a
        // WAL that SQLite would replay into the next file of that name); a file that was
        // there is left as it was found.
        store.m_writers.reset();
        store.m_db.close();
        if (!existed)
            ::unlink(store.m_file.c_str());
        else if (before.st_size == 0)
            (void)!::truncate(store.m_file.c_str(), 0);
        for (const std::string& side : madeBeside)
            ::unlink(side.c_str());
        const std::string text = error.what();
        if (text.rfind("The run store ", 0) == 0)
            throw;
        throw Exception("The run store " + inQuotes(path) + " cannot be created: " + text);
    }
    return store;
}

void RunStore::rememberIdentity()
{
    struct stat info {};
    m_identityKnown = ::stat(m_file.c_str(), &info) == 0;
    m_device = info.st_dev;
    m_inode = info.st_ino;
    m_size = info.st_size;
}

void RunStore::checkStillThere()
{
    if (!m_lost && m_identityKnown) {
        // The file only grows while a run writes it (no vacuum, checkpoints only add pages).
        struct stat info {};
        if (::stat(m_file.c_str(), &info) == 0 && info.st_dev == m_device &&
            info.st_ino == m_inode && info.st_size >= m_size) {
            m_size = info.st_size;
            for (SideFile& side : m_sideFiles) {
                struct stat sideInfo {};
                side.known = ::stat((m_file + side.suffix).c_str(), &sideInfo) == 0;
                side.device = sideInfo.st_dev;
                side.inode = sideInfo.st_ino;
            }
            return;
        }
        m_lost = true;
        // Nothing more goes into any file: not this connection's last checkpoint when it
        // closes, and not its WAL into a file that takes the name later (SQLite would replay
        // a WAL it finds beside a new store), so the WAL and its index go now, as far as they
        // are still the ones this store made.
        sqlite3_db_config(m_db.handle(), SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
        for (const SideFile& side : m_sideFiles) {
            struct stat sideInfo {};
            const std::string name = m_file + side.suffix;
            if (side.known && ::stat(name.c_str(), &sideInfo) == 0 &&
                sideInfo.st_dev == side.device && sideInfo.st_ino == side.inode)
                ::unlink(name.c_str());
        }
    }
    if (m_lost)
        throw StoreLost("The run store " + inQuotes(m_path) +
                        " is no longer the file this run opened (it was deleted, replaced or "
                        "cut short): the run stops.");
}

void RunStore::checkpoint()
{
    checkStillThere();
    try {
        m_db.exec("PRAGMA wal_checkpoint(PASSIVE)");
    } catch (const Exception& error) {
        cannotWrite(error.what());
    }
}

void RunStore::prepareWriting()
{
    m_writers = std::make_shared<Writers>(m_db);
}

void RunStore::setUpWriting()
{
    // SQLite's own checkpoint would run inside whichever commit passes its limit, on the
    // run's thread for an evaluation: the hook that counts the WAL's pages replaces it, and
    // the recorder's writer thread checkpoints past kCheckpointPages (a few MB, where a
    // checkpoint still copies each of the population's pages, rewritten at every commit,
    // once for many commits). After a checkpoint the WAL file is cut back to 4 MB.
    m_db.exec("PRAGMA journal_size_limit = 4194304");
    if (!m_walPages)
        m_walPages = std::make_shared<std::atomic<int>>(0);
    sqlite3_wal_hook(m_db.handle(), countWalPages, m_walPages.get());
    setSynchronous(1);
}

void RunStore::setSynchronous(int level)
{
    if (m_synchronous == level)
        return;
    m_db.exec(level == 2 ? "PRAGMA synchronous = FULL" : "PRAGMA synchronous = NORMAL");
    m_synchronous = level;
}

void RunStore::beginWriting(const std::string& runId)
{
    if (m_writable)
        return;
    try {
        if (!m_lock.held() && m_lock.acquire(m_file, /*create=*/false) == FileLock::Result::Busy)
            throw Exception("another ZYL has it open");
        m_db.close();
        m_db = sql::Database(m_file, SQLITE_OPEN_READWRITE);
        harden(m_db);
        m_db.exec("PRAGMA journal_mode = WAL");
        setUpWriting();
        rememberIdentity();
        {
            sql::Transaction transaction(m_db);
            if (m_version < kStoreVersion)
                upgradeStoreLayout(m_db, m_version);
            sql::Statement owner(m_db, "UPDATE run SET owner_pid = ?, owner_host = ?, "
                                       "owner_since = ?, run_id = ifnull(run_id, ?)");
            owner.bind(1, static_cast<std::int64_t>(::getpid()))
                .bindText(2, hostName())
                .bindText(3, utcNow())
                .bindText(4, runId.empty() ? newRunId() : runId);
            owner.run();
            transaction.commit();
        }
        m_version = kStoreVersion;
        prepareWriting();
        m_writable = true;
    } catch (const Exception& error) {
        cannotWrite(error.what());
    }
}

void RunStore::writeProvenFolder()
{
    if (m_unprovenFolder.empty())
        return;
    sql::Statement folder(m_db, "UPDATE run SET folder = ? WHERE folder IS NULL");
    folder.bindText(1, m_unprovenFolder);
    folder.run();
}

std::int64_t RunStore::recordJob(const SchedulerJob& job)
{
    if (!m_writable)
        cannotWrite("it is open for reading only");
    try {
        std::string individuals;
        for (int index : job.individuals)
            individuals += (individuals.empty() ? "" : ",") + std::to_string(index);
        setSynchronous(2);
        sql::Statement st(m_db, "INSERT INTO jobs (name, job, generation, individuals, folder, "
                                "submitted) VALUES (?, ?, ?, ?, ?, ?)");
        st.bindText(1, job.name).bindText(2, job.id).bind(3, job.generation);
        st.bindText(4, individuals).bindText(5, job.folder).bindText(6, utcNow());
        st.run();
        const std::int64_t key = sqlite3_last_insert_rowid(m_db.handle());
        setSynchronous(1);
        return key;
    } catch (const Exception& error) {
        cannotWrite(error.what());
    }
}

void RunStore::setJobId(std::int64_t key, const std::string& id)
{
    if (!m_writable)
        cannotWrite("it is open for reading only");
    try {
        setSynchronous(2);
        sql::Statement st(m_db, "UPDATE jobs SET job = ? WHERE id = ?");
        st.bindText(1, id).bind(2, key);
        st.run();
        setSynchronous(1);
    } catch (const Exception& error) {
        cannotWrite(error.what());
    }
}

void RunStore::endJob(std::int64_t key)
{
    if (!m_writable)
        cannotWrite("it is open for reading only");
    try {
        sql::Statement st(m_db, "UPDATE jobs SET ended = ? WHERE id = ?");
        st.bindText(1, utcNow()).bind(2, key);
        st.run();
    } catch (const Exception& error) {
        cannotWrite(error.what());
    }
}

void RunStore::commitSnapshot(const Snapshot& s)
{
    if (!m_writable)
        cannotWrite("it is open for reading only");
    checkStillThere();
    try {
        // Inside create() the transaction is already open.
        std::optional<sql::Transaction> transaction;
        if (sqlite3_get_autocommit(m_db.handle())) {
            setSynchronous(1);
            transaction.emplace(m_db);
        }
        Writers& w = *m_writers;
        for (const GenerationRecord& g : s.generations) {
            const GenerationFigures& f = g.figures;
            sql::Statement& st = w.generation;
            st.bind(1, g.generation);
            int i = 2;
            for (double x : {f.average, f.stdDev, f.meanDev, f.medianDev, f.range, f.q1, f.q2, f.q3,
                             f.iqr, f.entropy, f.discrepancy})
                st.bind(i++, x);
            st.bind(i++, f.different);
            for (double x : {f.globalMin, f.globalMax, f.currentMin, f.currentMax})
                st.bind(i++, x);
            for (std::int64_t x : {f.mutations, f.crossovers, f.buffered, f.evaluations})
                st.bind(i++, x);
            st.bind(i++, f.runSeconds);
            if (g.rowsText.empty())
                st.bindText(i++, rowsText(g.rows));
            else
                st.bindText(i++, g.rowsText);
            if (g.exportText)
                st.bindText(i++, *g.exportText);
            else
                st.bindNull(i++);
            st.run();
        }
        for (const PlotPointRecord& p : s.points) {
            w.point.bind(1, p.plot).bind(2, p.series).bind(3, p.point);
            w.point.bind(4, static_cast<double>(p.x)).bind(5, static_cast<double>(p.y));
            w.point.run();
        }
        if (s.bufferCount > 0) {
            w.buffer.bind(1, s.bufferFirst).bind(2, s.bufferCount).bindBlob(3, s.bufferEntries);
            w.buffer.run();
        }
        sql::Statement& st = w.state;
        st.bind(1, s.generation)
            .bind(2, static_cast<std::int64_t>(s.rngState))
            .bind(3, s.mutations)
            .bind(4, s.crossovers)
            .bind(5, s.stop.evaluations)
            .bind(6, s.runSeconds)
            .bind(7, s.stop.stallCount);
        if (s.stop.finished())
            st.bindText(8, s.stop.stopReason);
        else
            st.bindNull(8);
        st.bind(9, s.exportSize).bind(10, s.bufferFirst + s.bufferCount).bindText(11, utcNow());
        if (s.stop.hasStallBest)
            st.bindBlob(12, doubleBits(s.stop.stallBest));
        else
            st.bindNull(12);
        st.bindBlob(13, s.parameters).bindBlob(14, s.statistics).bindBlob(15, s.extremes);
        st.bindBlob(16, s.symbols).bindBlob(17, s.population);
        st.run();
        w.method.bindText(1, std::string(codec::methodNameOfRecord(s.method))).bindBlob(2, s.method);
        w.method.run();
        writeProvenFolder();
        if (transaction)
            transaction->commit();
        m_unprovenFolder.clear();
    } catch (const Exception& error) {
        cannotWrite(error.what());
    }
}

std::int64_t RunStore::commitEvaluation(const EvaluationRecord& r)
{
    if (!m_writable)
        cannotWrite("it is open for reading only");
    checkStillThere();
    try {
        setSynchronous(2);
        // A value the objective gave proves the folder as a whole generation does.
        const bool proving = r.status == RecordStatus::Ok && !m_unprovenFolder.empty();
        std::optional<sql::Transaction> transaction;
        if (proving)
            transaction.emplace(m_db);
        sql::Statement& st = m_writers->evaluation;
        st.bind(1, r.generation).bind(2, r.individual).bindText(3, jsonArray(r.variables));
        st.bind(4, r.value).bindText(5, statusText(r.status)).bindText(6, r.kind);
        st.bind(7, r.seconds).bind(8, r.attempts).bindText(9, r.host).bindText(10, r.folder);
        st.bindText(11, r.message).bindText(12, utcNow()).bindBlob(13, exactEvaluation(r));
        st.run();
        const std::int64_t id = sqlite3_last_insert_rowid(m_db.handle());
        if (proving) {
            writeProvenFolder();
            transaction->commit();
            m_unprovenFolder.clear();
        }
        setSynchronous(1);
        return id;
    } catch (const Exception& error) {
        cannotWrite(error.what());
    }
}

void RunStore::copyTo(const std::string& path)
{
    const std::string temporary = path + ".partial";
    std::error_code ignored;
    fs::remove(temporary, ignored);
    try {
        {
            sql::Database copy(temporary, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
            sqlite3_backup* backup =
                sqlite3_backup_init(copy.handle(), "main", m_db.handle(), "main");
            if (!backup)
                throw Exception(copy.errorMessage());
            const int code = sqlite3_backup_step(backup, -1);
            sqlite3_backup_finish(backup);
            if (code != SQLITE_DONE)
                throw Exception(sqlite3_errstr(code));
            copy.exec("PRAGMA journal_mode = WAL");
            copy.exec("UPDATE run SET owner_pid = NULL, owner_host = NULL, owner_since = NULL");
            // A store of an older layout stays as it is: it gets its id when it is resumed.
            if (copy.queryInt("SELECT count(*) FROM pragma_table_info('run') "
                              "WHERE name = 'run_id'") != 0) {
                sql::Statement id(copy, "UPDATE run SET run_id = ?");
                id.bindText(1, newRunId());
                id.run();
            }
            copy.exec("PRAGMA wal_checkpoint(TRUNCATE)");
        }
        fs::remove(temporary + "-wal", ignored);
        fs::remove(temporary + "-shm", ignored);
        fs::rename(temporary, path);
    } catch (const std::exception& error) {
        fs::remove(temporary, ignored);
        throw Exception("The run store " + inQuotes(path) + " cannot be written: " + error.what());
    }
}

} // namespace zyl
