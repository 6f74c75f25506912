#include "store/StoredSession.h"

#include "store/FileLock.h"
#include "store/StateCodec.h"
#include "store/StoreSupport.h"

#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <functional>

using namespace zyl;
using namespace zyl::test;
using ::testing::HasSubstr;
using ::testing::StartsWith;

namespace {

const char* kScript = "[FUNCTION]\nanalytical=1\n[EQUATIONS]\nf=x1^2+x2^2\n"
                      "[VARIABLES]\nx1=real[-1;1]\nx2=real[-1;1]\n[POPULATION]\nsize=6\n"
                      "[OPTIONS]\nmax_iteration=10\n[SHOW]\nbuffer_individuals=1\n";

StoreRequest request(const std::string& store, const char* script, bool resume)
{
    StoreRequest r;
    r.storePath = store;
    r.resume = resume;
    if (script) {
        r.script = ProjectScript::fromText(script);
        r.script->StripBlanks();
    }
    r.scriptName = "task.txt";
    r.seed = 1;
    return r;
}

/// Opens a session in a fresh table; the message when it is refused, "" when it opens.
std::string openMessage(const StoreRequest& r)
{
    SymbolTable table;
    table.registerBuiltinSymbols();
    ProjectSettings settings;
    try {
        StoredSession::open(r, settings, table);
    } catch (const std::exception& error) {
        return error.what();
    }
    return "";
}

/// A store holding a run of `script` with two committed generations.
void makeStore(const std::string& path, const char* script = kScript,
               const std::vector<ScriptOverride>& overrides = {})
{
    SymbolTable table;
    table.registerBuiltinSymbols();
    ProjectSettings settings;
    StoreRequest r = request(path, script, false);
    r.overrides = overrides;
    auto session = StoredSession::open(r, settings, table);
    RowCollector rows(session->zyl(), settings);
    RecordingObserver observer(session->recorder(), rows, session->zyl(), settings);
    session->recorder().setPacing(false);
    runGenerations(session->zyl(), settings, session->script, table, session->project.plots,
                   observer, 2);
}

/// Resumes the run in `store`, lets `check` look at the session as it opened, and runs one
/// generation more.
void resumeForOneGeneration(const std::string& store,
                            const std::function<void(StoredSession&)>& check)
{
    SymbolTable table;
    table.registerBuiltinSymbols();
    ProjectSettings settings;
    auto session = StoredSession::open(request(store, nullptr, true), settings, table);
    check(*session);
    session->begin();
    RowCollector rows(session->zyl(), settings);
    RecordingObserver observer(session->recorder(), rows, session->zyl(), settings);
    session->recorder().setPacing(false);
    runGenerations(session->zyl(), settings, session->script, table, session->project.plots,
                   observer, 1);
    session->recorder().finish();
}

void sqlOn(const std::string& path, const char* sql)
{
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    sqlite3_close(db);
}

std::int64_t sqlInt(const std::string& path, const char* sql)
{
    sqlite3* db = nullptr;
    sqlite3_stmt* statement = nullptr;
    std::int64_t value = -1;
    if (sqlite3_open(path.c_str(), &db) == SQLITE_OK &&
        sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) == SQLITE_OK &&
        sqlite3_step(statement) == SQLITE_ROW)
        value = sqlite3_column_int64(statement, 0);
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return value;
}

} // namespace

TEST(Opening, AStoreOfTheFirstVersionResumesAndGainsTheMethodTable)
{
    TempDir dir;
    const std::string store = dir / "run.zyl";
    makeStore(store);
    sqlOn(store, "DROP TABLE method; PRAGMA user_version = 1");
    ASSERT_NO_THROW(inspectRunStore(store));
    resumeForOneGeneration(store, [](StoredSession& session) {
        EXPECT_EQ(session.zyl().methodSettings.method, Method::Ga);
        EXPECT_EQ(session.zyl().generation, 2);
    });
    EXPECT_EQ(sqlInt(store, "PRAGMA user_version"), kStoreVersion);
    EXPECT_EQ(sqlInt(store, "SELECT count(*) FROM method WHERE name = 'ga'"), 1);
    EXPECT_EQ(inspectRunStore(store).state.generation, 3);
}

TEST(Opening, ACovarianceRunStoredWithoutAMeanRateResumesWithWholeSteps)
{
    TempDir dir;
    const std::string store = dir / "run.zyl";
    std::string script = kScript;
    script.insert(script.find("max_iteration"), "method=cmaes\n");
    makeStore(store, script.c_str());
    // The record as the build before the rate wrote it: layout 1, no rate after the growth.
    sqlOn(store, "UPDATE method SET state = "
                 "CAST(x'01' || substr(state, 2, 17) || substr(state, 27) AS BLOB)");
    resumeForOneGeneration(store, [](StoredSession& session) {
        EXPECT_EQ(session.zyl().methodSettings.method, Method::Cmaes);
        EXPECT_EQ(session.zyl().methodSettings.cmaes.meanRate, 1.0);
    });
    const StoredRun stored = inspectRunStore(store);
    EXPECT_EQ(stored.state.generation, 3);
    EXPECT_EQ(codec::decodeMethod(stored.state.method).settings.cmaes.meanRate, 1.0);
}

TEST(Opening, ARunStartsOnlyWhereThereIsNone)
{
    TempDir dir;
    const std::string store = dir / "run.zyl";
    EXPECT_EQ(openMessage(request(store, nullptr, true)),
              "The run store \"" + store +
                  "\" holds no run to resume, and no script was given "
                  "to start one.");
    // A script that does not load creates no file.
    EXPECT_EQ(openMessage(request(store, "[FUNCTION]\n", false)), "Invalid function");
    EXPECT_FALSE(fs::exists(store));

    makeStore(store);
    const std::string before = fileBytes(store);
    // The file's own header names it a store (what file(1) and the MIME magic read).
    EXPECT_EQ(before.substr(68, 4), std::string("ZYL\0", 4));
    EXPECT_EQ(openMessage(request(store, kScript, false)),
              "The run store \"" + store +
                  "\" already holds a run: resume it, or choose another "
                  "file.");
    std::string other = kScript;
    other.replace(other.find("x1^2"), 4, "x1^4");
    EXPECT_EQ(openMessage(request(store, other.c_str(), true)),
              "The script \"task.txt\" differs from the one the run store \"" + store +
                  "\" holds.");
    EXPECT_EQ(fileBytes(store), before);
    // Blanks and comments do not make a script another one; no script at all resumes too.
    EXPECT_EQ(openMessage(request(store, (std::string(";note\n") + kScript).c_str(), true)), "");
    EXPECT_EQ(openMessage(request(store, nullptr, true)), "");

    // An empty file (say, made by a job script) takes a new run.
    writeFile(dir / "empty.zyl", "");
    EXPECT_EQ(openMessage(request(dir / "empty.zyl", kScript, false)), "");
    EXPECT_EQ(RunStore::probe(dir / "empty.zyl"), RunStore::Content::Run);
}

TEST(Opening, TheOverridesARunStartedWithAreItsOwnAtEveryResume)
{
    TempDir dir;
    const std::string store = dir / "run.zyl";
    const std::vector<ScriptOverride> overrides =
        parseOverrides({"OPTIONS.max_iteration=4", "POPULATION.size=8"});
    makeStore(store, kScript, overrides);
    const StoredRun stored = inspectRunStore(store);
    EXPECT_EQ(stored.header.overrides, "OPTIONS.max_iteration=4\nPOPULATION.size=8\n");
    EXPECT_THAT(stored.header.scriptText, HasSubstr("size=8"));
    const std::string before = fileBytes(store);

    // The script without them, with them in another order, or no script: the same task.
    for (bool withScript : {true, false})
        for (const std::vector<ScriptOverride>& given :
             {std::vector<ScriptOverride>{}, {overrides[1], overrides[0]}}) {
            StoreRequest r = request(store, withScript ? kScript : nullptr, true);
            r.overrides = given;
            SymbolTable table;
            table.registerBuiltinSymbols();
            ProjectSettings settings;
            auto session = StoredSession::open(r, settings, table);
            EXPECT_EQ(session->zyl().popSize, 8);
            EXPECT_EQ(session->zyl().maxIteration, 4);
        }
    StoreRequest other = request(store, kScript, true);
    other.overrides = parseOverrides({"POPULATION.size=10"});
    EXPECT_EQ(openMessage(other),
              "The run store \"" + store +
                  "\" holds a run started with --set OPTIONS.max_iteration=4 --set "
                  "POPULATION.size=8: a resume continues it, and cannot take --set "
                  "POPULATION.size=10.");
    EXPECT_EQ(fileBytes(store), before);

    const std::string plain = dir / "plain.zyl";
    makeStore(plain);
    EXPECT_TRUE(inspectRunStore(plain).header.overrides.empty());
    other.storePath = plain;
    EXPECT_EQ(openMessage(other), "The run store \"" + plain +
                                      "\" holds a run started with no --set: a resume continues "
                                      "it, and cannot take --set POPULATION.size=10.");
}

TEST(Opening, DamagedStoresAreRefusedAndLeftAlone)
{
    TempDir dir;
    const std::string good = dir / "good.zyl";
    makeStore(good);
    const std::string goodBytes = fileBytes(good);
    ASSERT_GT(goodBytes.size(), 8192u);

    struct Case {
        const char* name;
        std::function<void(const std::string&)> damage;
        std::string expected;   // the message after the path's closing quote
        bool structural = true; // found without loading the stored script
    };
    const std::vector<Case> cases = {
        {"text", [](const std::string& p) { writeFile(p, "[FUNCTION]\nanalytical=1\n"); },
         " is not a ZYL run store."},
        {"foreign",
         [](const std::string& p) {
             sqlOn(p, "CREATE TABLE notes (x); INSERT INTO notes VALUES (1)");
         },
         " is not a ZYL run store."},
        {"cut",
         [&](const std::string& p) { writeFile(p, goodBytes.substr(0, goodBytes.size() / 2)); },
         " is damaged: "},
        {"header", [&](const std::string& p) { writeFile(p, goodBytes.substr(0, 60)); },
         " is damaged: the file is cut short"},
        {"newer",
         [&](const std::string& p) {
             writeFile(p, goodBytes);
             sqlOn(p, ("PRAGMA user_version = " + std::to_string(kStoreVersion + 1)).c_str());
         },
         " was written by a newer ZYL (store version " + std::to_string(kStoreVersion + 1) +
             "; this ZYL reads version " + std::to_string(kStoreVersion) + ")."},
        {"no jobs",
         [&](const std::string& p) {
             writeFile(p, goodBytes);
             sqlOn(p, "DROP TABLE jobs");
         },
         " is damaged: tables are missing"},
        {"job",
         [&](const std::string& p) {
             writeFile(p, goodBytes);
             sqlOn(p, "INSERT INTO jobs (name, job, generation, individuals, folder, submitted) "
                      "VALUES ('zyl-gen1', '7', 1, '0,x', '/tmp', '')");
         },
         " is damaged: a job's individuals are not a list of indices"},
        {"script",
         [&](const std::string& p) {
             writeFile(p, goodBytes);
             sqlOn(p, "UPDATE run SET script = '[FUNCTION]\r\n'");
         },
         " holds a script that no longer loads: Invalid function", false},
        {"state",
         [&](const std::string& p) {
             writeFile(p, goodBytes);
             sqlOn(p, "UPDATE state SET population = x'0100000002000000'");
         },
         " is damaged: the population is cut short"},
        // Counts that multiply past 64 bits to the blob's length: 45 GB asked for 9 bytes.
        {"population",
         [&](const std::string& p) {
             writeFile(p, goodBytes);
             sqlOn(p, "UPDATE state SET population = x'61e0b84273388ef500'");
         },
         " is damaged: the population is cut short"},
        {"text in a whole-number field",
         [&](const std::string& p) {
             writeFile(p, goodBytes);
             sqlOn(p, "UPDATE state SET rng = 'x'");
         },
         " is damaged: a whole-number field holds something else"},
        {"evaluation's generation",
         [&](const std::string& p) {
             writeFile(p, goodBytes);
             sqlOn(p, "INSERT INTO evaluations (generation, individual, variables, status, kind, "
                      "finished, exact) VALUES (-1, 0, '[]', 'ok', 'manual', '', x'')");
         },
         " is damaged: an evaluation belongs to generation -1"},
        {"evaluation's individual",
         [&](const std::string& p) {
             writeFile(p, goodBytes);
             sqlOn(p, "INSERT INTO evaluations (generation, individual, variables, status, kind, "
                      "finished, exact) VALUES (3, 6, '[]', 'ok', 'manual', '', x'')");
         },
         " is damaged: an evaluation belongs to individual 6 of a population of 6"},
        {"buffer's count",
         [&](const std::string& p) {
             writeFile(p, goodBytes);
             sqlOn(p, "UPDATE buffer SET count = count + 1 WHERE first = 0; "
                      "UPDATE state SET buffer_entries = buffer_entries + 1");
         },
         " is damaged: the buffer's counts disagree"},
        {"symbols",
         [&](const std::string& p) {
             writeFile(p, goodBytes);
             sqlOn(p, "UPDATE state SET symbols = x'ffffffff'");
         },
         " is damaged: the symbol table is cut short"},
        {"method",
         [&](const std::string& p) {
             writeFile(p, goodBytes);
             sqlOn(p, "UPDATE method SET state = x'0107'");
         },
         " is damaged: the search method names an unknown method"},
        {"method's mean rate",
         [&](const std::string& p) {
             writeFile(p, goodBytes);
             sqlOn(p, "UPDATE method SET state = CAST(substr(state, 1, 18) || "
                      "x'ffffffffffffffff' || substr(state, 27) AS BLOB)");
         },
         " is damaged: the search method holds settings out of their ranges"},
        {"no method",
         [&](const std::string& p) {
             writeFile(p, goodBytes);
             sqlOn(p, "DROP TABLE method");
         },
         " is damaged: tables are missing"},
        {"gap",
         [&](const std::string& p) {
             writeFile(p, goodBytes);
             sqlOn(p, "DELETE FROM generations WHERE generation = 2");
         },
         " is damaged: "},
        {"pages",
         [&](const std::string& p) {
             std::string bytes = goodBytes;
             for (std::size_t i = 4096; i < bytes.size(); i += 7)
                 bytes[i] = static_cast<char>(bytes[i] * 31 + 7);
             writeFile(p, bytes);
         },
         " is damaged: "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir / (std::string(c.name) + ".zyl");
        c.damage(path);
        const std::string before = fileBytes(path);
        // "not a store" names a file, the others a run store.
        auto refused = [&](const std::string& text) {
            return AnyOf(StartsWith("The file \"" + path + "\"" + text),
                         StartsWith("The run store \"" + path + "\"" + text));
        };
        EXPECT_THAT(openMessage(request(path, nullptr, true)), refused(c.expected));
        EXPECT_THAT(openMessage(request(path, kScript, false)),
                    refused(c.structural ? c.expected : " already holds a run"));
        EXPECT_EQ(fileBytes(path), before);
        // Nothing is made beside a refused file either.
        EXPECT_FALSE(fs::exists(path + "-wal"));
        EXPECT_FALSE(fs::exists(path + "-shm"));
        if (c.structural) {
            EXPECT_THROW(inspectRunStore(path), Exception);
        }
    }
}

TEST(Opening, AStoreInUseIsRefusedUntilItsProcessEnds)
{
    TempDir dir;
    const std::string store = dir / "run.zyl";
    makeStore(store);
    {
        SymbolTable table;
        table.registerBuiltinSymbols();
        ProjectSettings settings;
        auto running = StoredSession::open(request(store, nullptr, true), settings, table);
        EXPECT_THAT(openMessage(request(store, nullptr, true)),
                    StartsWith("The run store \"" + store +
                               "\" is in use by another ZYL (process " +
                               std::to_string(::getpid()) + " on "));
        // Reading another run's evaluations needs no lock.
        EXPECT_NO_THROW(inspectRunStore(store));
    }
    // A process killed while it holds the store leaves no lock behind. Its owner fields, which
    // the next resume rewrites only once it really starts, name a process that is gone: the
    // message leaves them unsaid.
    const pid_t gone = fork();
    if (gone == 0)
        _exit(0);
    waitpid(gone, nullptr, 0);
    sqlOn(store, ("UPDATE run SET owner_pid = " + std::to_string(gone)).c_str());
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t child = fork();
    if (child == 0) {
        FileLock lock;
        const bool held = lock.acquire(store, false) == FileLock::Result::Locked;
        (void)!write(ready[1], held ? "1" : "0", 1);
        pause();
        _exit(0);
    }
    char held = 0;
    ASSERT_EQ(read(ready[0], &held, 1), 1);
    EXPECT_EQ(held, '1');
    EXPECT_EQ(openMessage(request(store, nullptr, true)),
              "The run store \"" + store + "\" is in use by another ZYL.");
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    EXPECT_EQ(openMessage(request(store, nullptr, true)), "");
}

TEST(Opening, AVersionOneStoreIsResumedAndThenRecordsSchedulerJobs)
{
    TempDir dir;
    const std::string path = dir / "old.zyl";
    makeStore(path);
    // As a ZYL without the jobs table left it.
    sqlOn(path, "DROP TABLE jobs; PRAGMA user_version = 1");
    EXPECT_TRUE(RunStore::openExisting(path, /*lock=*/false).openJobs().empty());
    {
        SymbolTable table;
        table.registerBuiltinSymbols();
        ProjectSettings settings;
        auto session = StoredSession::open(request(path, nullptr, true), settings, table);
        session->begin();
        RunRecorder& recorder = session->recorder();
        const std::int64_t first = recorder.jobSubmitting({"zyl-gen3-a", "", 3, {0, 2, 5}, "/w", 0});
        const std::int64_t second = recorder.jobSubmitting({"zyl-gen3-b", "", 3, {1}, "/w", 0});
        recorder.jobSubmitted(first, "41");
        recorder.jobEnded(second);
    }
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    sqlite3_stmt* version = nullptr;
    sqlite3_prepare_v2(db, "PRAGMA user_version", -1, &version, nullptr);
    ASSERT_EQ(sqlite3_step(version), SQLITE_ROW);
    EXPECT_EQ(sqlite3_column_int(version, 0), kStoreVersion);
    sqlite3_finalize(version);
    sqlite3_close(db);

    const std::vector<SchedulerJob> open = RunStore::openExisting(path, false).openJobs();
    ASSERT_EQ(open.size(), 1u);
    EXPECT_EQ(open[0].name, "zyl-gen3-a");
    EXPECT_EQ(open[0].id, "41");
    EXPECT_EQ(open[0].generation, 3);
    EXPECT_EQ(open[0].individuals, (std::vector<int>{0, 2, 5}));
    EXPECT_EQ(open[0].folder, "/w");
}

TEST(Opening, AStoreWithoutItsFolderIsReadAsItIsAndUpgradedOnlyByAResumeThatRuns)
{
    TempDir dir;
    const std::string store = dir / "old.zyl";
    makeStore(store);
    // The second layout: scheduler jobs, but not yet the run's folder nor its id.
    sqlOn(store, "ALTER TABLE run DROP COLUMN folder; ALTER TABLE run DROP COLUMN run_id; "
                 "PRAGMA user_version = 2");
    const std::string before = fileBytes(store);

    // Read, and reused by a new run, as it is: its folder is unknown.
    EXPECT_EQ(inspectRunStore(store).header.folder, "");
    StoreRequest reuse = request(dir / "new.zyl", kScript, false);
    reuse.reusePath = store;
    EXPECT_EQ(openMessage(reuse), "");
    EXPECT_EQ(fileBytes(store), before);

    // Opened for a resume that is then refused (say, its work root is in use), and one that
    // begins but fails before it computes anything (its program missing in a wrong folder):
    // neither binds the run to the folder it was tried in.
    EXPECT_EQ(openMessage(request(store, nullptr, true)), "");
    EXPECT_EQ(fileBytes(store), before);
    std::string runId;
    {
        SymbolTable table;
        table.registerBuiltinSymbols();
        ProjectSettings settings;
        auto session = StoredSession::open(request(store, nullptr, true), settings, table);
        session->begin();
        runId = session->runId;
        EXPECT_EQ(settings.workRootOwner, workRootOwner(runId, inspectRunStore(store).header.created));
    }
    StoredRun begun = inspectRunStore(store);
    EXPECT_EQ(begun.header.folder, "");
    EXPECT_EQ(begun.header.runId, runId) << "the id given at the upgrade is the one it worked under";

    // A generation computed proves the folder: the run's from then on.
    resumeForOneGeneration(store, [&](StoredSession& session) { EXPECT_EQ(session.runId, runId); });
    const StoredRun upgraded = inspectRunStore(store);
    EXPECT_EQ(upgraded.header.folder, fs::current_path().string());
    EXPECT_EQ(RunStore::openExisting(store, false).version(), kStoreVersion);
    EXPECT_EQ(upgraded.state.generation, 3);
}

TEST(Opening, AStoreKeepsItsRunIdWhenItIsMovedAndACopyIsAnotherRun)
{
    TempDir dir;
    const std::string store = dir / "run.zyl";
    makeStore(store);
    const std::string runId = inspectRunStore(store).header.runId;
    EXPECT_EQ(runId.size(), 16u);
    std::string owner;
    {
        SymbolTable table;
        table.registerBuiltinSymbols();
        ProjectSettings settings;
        auto session = StoredSession::open(request(store, nullptr, true), settings, table);
        EXPECT_EQ(session->runId, runId);
        owner = settings.workRootOwner;
        // Killed with its WAL and index beside it, then moved away with them.
        session->begin();
        session->store().copyTo(dir / "copy.zyl");
        for (const char* suffix : {"", "-wal", "-shm"})
            if (fs::exists(store + suffix))
                fs::copy_file(store + suffix, dir / (std::string("moved.zyl") + suffix));
    }
    resumeForOneGeneration(dir / "moved.zyl", [&](StoredSession& session) {
        EXPECT_EQ(session.runId, runId);
        EXPECT_EQ(session.zyl().generation, 2);
    });
    SymbolTable table;
    table.registerBuiltinSymbols();
    ProjectSettings settings;
    StoredSession::open(request(dir / "moved.zyl", nullptr, true), settings, table);
    EXPECT_EQ(settings.workRootOwner, owner) << "its work folders are still its own";
    EXPECT_NE(inspectRunStore(dir / "copy.zyl").header.runId, runId);
    makeStore(dir / "other.zyl");
    EXPECT_NE(inspectRunStore(dir / "other.zyl").header.runId, runId);
}

TEST(Opening, AMethodsStoreWithoutItsStateIsRefusedAsDamaged)
{
    TempDir dir;
    for (const std::string method : {"cmaes", "de"}) {
        SCOPED_TRACE(method);
        std::string script = kScript;
        script.insert(script.find("max_iteration"), "method=" + method + "\n");
        const std::string lost = dir / (method + ".zyl"), older = dir / (method + "-older.zyl");
        makeStore(lost, script.c_str());
        fs::copy_file(lost, older);
        sqlOn(lost, "DELETE FROM method");
        // A layout from before the methods were stored, holding such a script: the ZYL that
        // wrote it ran the genetic algorithm.
        sqlOn(older, "DROP TABLE method; PRAGMA user_version = 2");
        for (const std::string& path : {lost, older}) {
            const std::string before = fileBytes(path);
            EXPECT_EQ(openMessage(request(path, nullptr, true)),
                      "The run store \"" + path + "\" is damaged: the state of the search method " +
                          method + " is missing");
            EXPECT_EQ(fileBytes(path), before);
        }
    }
}

TEST(Opening, AStoreThatCannotBeCreatedLeavesNothingBehind)
{
    TempDir dir;
    const std::string store = dir / "run.zyl";
    // A full disk, as a limit on the size of files makes one: every write past it fails.
    auto createOnFullDisk = [&] {
        rlimit was{};
        getrlimit(RLIMIT_FSIZE, &was);
        rlimit full = was;
        full.rlim_cur = 8192;
        const auto handler = std::signal(SIGXFSZ, SIG_IGN);
        setrlimit(RLIMIT_FSIZE, &full);
        const std::string message = openMessage(request(store, kScript, false));
        setrlimit(RLIMIT_FSIZE, &was);
        std::signal(SIGXFSZ, handler);
        return message;
    };
    EXPECT_THAT(createOnFullDisk(), StartsWith("The run store \"" + store + "\" cannot be "));
    for (const char* suffix : {"", "-wal", "-shm"})
        EXPECT_FALSE(fs::exists(store + suffix)) << suffix;
    // An empty file that was there (a job script's) stays, empty.
    writeFile(store, "");
    EXPECT_THAT(createOnFullDisk(), StartsWith("The run store \"" + store + "\" cannot be "));
    EXPECT_TRUE(fs::exists(store) && fs::file_size(store) == 0);
    EXPECT_FALSE(fs::exists(store + "-wal"));
}

TEST(Opening, TheSeedUsedIsRecordedAndAResumeTakesNoOther)
{
    TempDir dir;
    const std::string store = dir / "run.zyl";
    std::string script = kScript;
    script.insert(script.find("max_iteration"), "seed=42\n");
    StoreRequest start = request(store, script.c_str(), false);
    start.seed.reset();
    EXPECT_EQ(openMessage(start), "");
    EXPECT_EQ(inspectRunStore(store).header.seed, std::optional<std::uint64_t>(42));

    // The command that started the run continues it; another seed is refused.
    const std::string before = fileBytes(store);
    StoreRequest resume = request(store, nullptr, true);
    resume.seed = 7;
    EXPECT_EQ(openMessage(resume), "The run store \"" + store +
                                       "\" holds a run started with the seed 42: a resume "
                                       "continues it, and cannot take the seed 7.");
    EXPECT_EQ(fileBytes(store), before);
    resume.seed = 42;
    EXPECT_EQ(openMessage(resume), "");
    resume.seed.reset();
    EXPECT_EQ(openMessage(resume), "");
}
