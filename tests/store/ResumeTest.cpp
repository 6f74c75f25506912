#include "store/StoredSession.h"

#include "store/RunRecorder.h"
#include "store/StoreSupport.h"

#include <gtest/gtest.h>

#include <sqlite3.h>

#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <functional>
#include <optional>
#include <random>

using namespace zyl;
using namespace zyl::test;

namespace {

// Every kind of variable, the buffer (small integer ranges make hits common), the elite,
// plots (one of which counts in a symbol of its own, which only the stored symbol table
// carries over), and an export in append mode with a vector column.
std::string taskScript(const std::string& exportName, const std::string& options = "")
{
    return "[FUNCTION]\nanalytical=1\n[EQUATIONS]\na=3\nk=0\nf=(x1-a)^2+x2^2+b1\n"
           "[VARIABLES]\nx1=real[-5;5]\nx2=integer[-3;3]\nb1=boolean\n[POPULATION]\nsize=12\n"
           "[OPTIONS]\nmax_iteration=25\nloop_counter=1\n" +
           options +
           "[SELECTION]\ntournament=1\nelite=1\n[CROSSOVER]\nmultipoint=1\n"
           "[MUTATION]\nnonuniform=1\n[SHOW]\nbuffer_individuals=1\n"
           "[PLOTS]\nConvergence=Average;CurrentMin\nCounter=k=k+1\n"
           "[EXPORT]\navg=Average\nbest=GlobalMin\nvec=CurrentMinIndiv\n"
           "[EXPORT_NAMES]\nexport_every_iteration=1\nexport_name=" +
           exportName + "\n";
}

ProjectScript scriptOf(const std::string& text)
{
    ProjectScript script = ProjectScript::fromText(text);
    script.StripBlanks();
    return script;
}

StoreRequest resumeRequest(const std::string& store, const std::string& script)
{
    StoreRequest request;
    request.storePath = store;
    request.resume = true;
    request.script = scriptOf(script);
    request.scriptName = "task.txt";
    request.seed = 7;
    return request;
}

/// One process of a stored run: opens (or resumes) the store and runs generations through
/// today's Task with the recorder listening and the stop rules checked.
struct Process {
    explicit Process(const StoreRequest& request)
    {
        table.registerBuiltinSymbols();
        session = StoredSession::open(request, settings, table);
        session->begin();
        rows.emplace(session->zyl(), settings);
    }
    void run(int generations, bool withStopper = false)
    {
        RecordingObserver observer(session->recorder(), *rows, session->zyl(), settings);
        for (int g = 0; g < generations && !session->finished(); ++g)
            runGenerations(session->zyl(), settings, session->script, table, session->project.plots,
                           observer, 1, withStopper ? &*rows : nullptr, &session->stop,
                           &session->clock);
    }
    SymbolTable table;
    ProjectSettings settings;
    std::unique_ptr<StoredSession> session;
    std::optional<RowCollector> rows;
};

Outcome uninterrupted(const std::string& text, std::uint64_t seed, int& stoppedIn)
{
    SymbolTable table;
    table.registerBuiltinSymbols();
    ProjectSettings settings;
    ProjectScript script = scriptOf(text);
    LcgRng rng(seed);
    LoadedProject project = loadProject(script, settings, table, rng);
    RowCollector rows(*project.zyl, settings);
    StopRuleState stop;
    RunClock clock;
    while (project.zyl->generation < project.zyl->maxIteration && !stop.finished())
        runGenerations(*project.zyl, settings, script, table, project.plots, rows, 1, nullptr,
                       &stop, &clock);
    stoppedIn = rows.stoppedIn;
    Outcome outcome;
    outcome.take(*project.zyl, project.plots, script.ReadString("EXPORT_NAMES", "export_name", ""));
    outcome.statistics = rows.rows;
    return outcome;
}

// Each search method keeps a state of its own between generations, which the store must
// carry over with the engine's.
class KilledRun : public ::testing::TestWithParam<const char*> {};
const char* const caseNames[] = {"Ga", "Cmaes", "De", "Trust", "Smsemoa", "Nsga2"};

} // namespace

TEST_P(KilledRun, ContinuesBitForBit)
{
    TempDir dir;
    int ignored = 0;
    const Outcome reference = uninterrupted(taskScript(dir / "ref.tsv", GetParam()), 7, ignored);
    ASSERT_EQ(reference.generation, 25);
    ASSERT_GT(reference.buffer.size(), 20u);

    const std::string store = dir / "run.zyl";
    const StoreRequest request = resumeRequest(store, taskScript(dir / "run.tsv", GetParam()));
    // The export file held something before the run: append mode keeps it.
    writeFile(dir / "run.tsv", "earlier\n");
    std::vector<std::vector<StatisticsRow>> shown;
    {
        // Six generations, each committed; then two the store never hears of, whose export
        // rows the resume must take back; then the process dies.
        Process first(request);
        EXPECT_FALSE(first.session->resumed);
        first.session->recorder().setPacing(false);
        first.run(6);
        RowCollector detached(first.session->zyl(), first.settings);
        runGenerations(first.session->zyl(), first.settings, first.session->script, first.table,
                       first.session->project.plots, detached, 2);
    }
    {
        // Paced commits, then killed with one individual of a generation evaluated.
        Process second(request);
        ASSERT_TRUE(second.session->resumed);
        EXPECT_EQ(second.session->zyl().generation, 6);
        EXPECT_EQ(second.session->statistics,
                  std::vector(reference.statistics.begin(), reference.statistics.begin() + 6));
        second.run(9);
        second.rows->stopAfter = 1;
        second.run(1, /*withStopper=*/true);
        EXPECT_EQ(second.session->zyl().generation, 15);
        second.session->recorder().finish(); // not at a boundary: nothing may be committed
    }
    Outcome resumed;
    {
        Process third(request);
        ASSERT_TRUE(third.session->resumed);
        third.run(100);
        third.session->recorder().finish();
        EXPECT_TRUE(third.session->finished());
        resumed.take(third.session->zyl(), third.session->project.plots, dir / "run.tsv");
        resumed.statistics = third.session->statistics;
        resumed.statistics.insert(resumed.statistics.end(), third.rows->rows.begin(),
                                  third.rows->rows.end());
    }
    ASSERT_EQ(resumed.exportFile.rfind("earlier\n", 0), 0u);
    resumed.exportFile.erase(0, 8);
    expectSame(reference, resumed);

    // The store holds the whole run; a finished run resumed once more computes nothing.
    const StoredRun stored = inspectRunStore(store);
    ASSERT_EQ(stored.generations.size(), 25u);
    std::string exported = "earlier\n";
    for (std::size_t g = 0; g < 25; ++g) {
        EXPECT_EQ(stored.generations[g].rows, reference.statistics[g]) << g;
        exported += stored.generations[g].exportText.value_or("?");
    }
    EXPECT_EQ(exported, fileBytes(dir / "run.tsv"));
    Process fourth(request);
    fourth.run(5);
    EXPECT_TRUE(fourth.rows->rows.empty());
    EXPECT_EQ(fourth.session->zyl().generation, 25);

    // Save as: a copy that another process can open while this one holds the original.
    fourth.session->store().copyTo(dir / "copy.zyl");
    StoreRequest copy = request;
    copy.storePath = dir / "copy.zyl";
    copy.script.reset();
    Process fifth(copy);
    EXPECT_EQ(fifth.session->statistics, reference.statistics);
    EXPECT_EQ(fifth.session->zyl().buffer.size(), reference.buffer.size());
}

INSTANTIATE_TEST_SUITE_P(Resume, KilledRun,
                         ::testing::Values("", "method=cmaes\n[METHOD]\ncmaes_growth=3\n",
                                           "method=de\n", "method=trust\n",
                                           // Several objectives: the front, its archive and
                                           // its reference point chosen by the first
                                           // generation go on as well.
                                           "[OBJECTIVES]\nfa=(x1-a)^2+x2^2+b1\nfb=(x1+1)^2-x2\n",
                                           "method=nsga2\nmaximised_objectives=fb\n"
                                           "[OBJECTIVES]\nfa=(x1-a)^2+b1\nfb=x1*x2\n"),
                         [](const auto& info) { return std::string(caseNames[info.index]); });

TEST(Resume, ACommitTheFileRefusesIsMadeAgainAtTheNextBoundary)
{
    TempDir dir;
    int ignored = 0;
    const Outcome reference = uninterrupted(taskScript(dir / "ref.tsv"), 7, ignored);
    const std::string store = dir / "run.zyl";
    Process process(resumeRequest(store, taskScript(dir / "run.tsv")));
    process.session->recorder().setPacing(false);
    process.run(3);
    // Another program holds the file's write lock for two generations.
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(store.c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    process.run(2);
    sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    // Both commits failed the same way: said once.
    ASSERT_EQ(process.rows->warnings.size(), 1u);
    EXPECT_NE(process.rows->warnings[0].find(store), std::string::npos);
    process.run(2);
    process.session->recorder().finish();

    const StoredRun stored = inspectRunStore(store);
    EXPECT_EQ(stored.state.generation, 7);
    ASSERT_EQ(stored.generations.size(), 7u);
    for (std::size_t g = 0; g < 7; ++g) {
        EXPECT_EQ(stored.generations[g].generation, static_cast<int>(g) + 1);
        EXPECT_EQ(stored.generations[g].rows, reference.statistics[g]) << g;
    }

    // The last commit of a run fails in the background: the end of the run makes it again.
    RunRecorder& recorder = process.session->recorder();
    recorder.setPacing(true);
    ASSERT_EQ(sqlite3_open(store.c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    recorder.requestCommit();
    process.run(1);
    EXPECT_THROW(recorder.finish(), std::exception);
    sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    EXPECT_NO_THROW(recorder.finish());
    EXPECT_EQ(inspectRunStore(store).generations.size(), 8u);
}

TEST(Resume, AResumedTaskStopsWhereTheUninterruptedOneStops)
{
    TempDir dir;
    // A flat objective: the best never improves after the first generation, so the stall
    // rule ends the task, and max_evaluations would end it a little later.
    const std::string options = "stall_generations=6\nmax_evaluations=100\n";
    auto flat = [&](const std::string& exportName) {
        std::string text = taskScript(exportName, options);
        text.replace(text.find("f=(x1-a)^2+x2^2+b1"), 18, "f=round(x1/20)");
        return text;
    };
    int expected = 0;
    const Outcome reference = uninterrupted(flat(dir / "ref.tsv"), 3, expected);
    EXPECT_EQ(expected, 7);
    EXPECT_EQ(reference.generation, 7);

    StoreRequest request = resumeRequest(dir / "run.zyl", flat(dir / "run.tsv"));
    request.seed = 3;
    std::int64_t evaluations = 0;
    {
        Process first(request);
        first.session->recorder().setPacing(false);
        first.run(4);
        EXPECT_EQ(first.session->stop.stallCount, 3);
        evaluations = first.session->stop.evaluations;
        EXPECT_GT(evaluations, 0);
    }
    {
        Process second(request);
        EXPECT_EQ(second.session->stop.stallCount, 3);
        EXPECT_EQ(second.session->stop.evaluations, evaluations);
        second.run(100);
        second.session->recorder().finish();
        EXPECT_EQ(second.rows->stoppedIn, 7);
        EXPECT_EQ(second.session->zyl().generation, 7);
        EXPECT_EQ(second.session->stop.stopReason,
                  "stall_generations=6: GlobalMin has not improved by more than 0 for 6 "
                  "generations in generation 7");
    }
    Process third(request);
    EXPECT_TRUE(third.session->finished());
    third.run(5);
    EXPECT_EQ(third.session->zyl().generation, 7);
}

TEST(Resume, RunsKilledWithSigkillAtRandomMomentsContinueBitForBit)
{
    TempDir dir;
    auto longer = [](const std::string& exportName) {
        std::string text = taskScript(exportName);
        text.replace(text.find("max_iteration=25"), 16, "max_iteration=80");
        text.replace(text.find("size=12"), 7, "size=60");
        return text;
    };
    int ignored = 0;
    const Outcome reference = uninterrupted(longer(dir / "ref.tsv"), 5, ignored);
    StoreRequest request = resumeRequest(dir / "run.zyl", longer(dir / "run.tsv"));
    request.seed = 5;
    // Each process is killed outright at a random moment (while creating the store, in a
    // commit, between two, or after the end) and the next one resumes what it left.
    std::mt19937 random(11);
    for (int round = 0; round < 5; ++round) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            // The child leaves by _exit whatever happens, so that it never goes on with the
            // test (and removes its folder) as a copy of the parent.
            try {
                Process process(request);
                process.run(1000);
                process.session->recorder().finish();
            } catch (const std::exception& error) {
                std::fprintf(stderr, "%s\n", error.what());
                _exit(1);
            }
            _exit(0);
        }
        usleep(static_cast<useconds_t>(2000 + random() % 40000));
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
    }
    Process last(request);
    last.run(1000);
    Outcome resumed;
    resumed.take(last.session->zyl(), last.session->project.plots, dir / "run.tsv");
    resumed.statistics = last.session->statistics;
    resumed.statistics.insert(resumed.statistics.end(), last.rows->rows.begin(),
                              last.rows->rows.end());
    expectSame(reference, resumed);
}

TEST(Resume, AStoreDeletedReplacedOrCutShortStopsTheRun)
{
    struct Case {
        const char* name;
        std::function<void(const std::string&)> mishap;
    };
    const std::vector<Case> cases = {
        {"deleted", [](const std::string& p) { fs::remove(p); }},
        {"replaced",
         [](const std::string& p) {
             writeFile(p + ".other", "someone else's");
             fs::rename(p + ".other", p);
         }},
        {"cut short", [](const std::string& p) { fs::resize_file(p, 0); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::string store = dir / "run.zyl";
        Process process(resumeRequest(store, taskScript(dir / "run.tsv")));
        process.session->recorder().setPacing(false);
        process.run(2);
        c.mishap(store);
        const std::string after = fs::exists(store) ? fileBytes(store) : "";

        RecordingObserver observer(process.session->recorder(), *process.rows,
                                   process.session->zyl(), process.settings);
        int stops = 0;
        observer.setStopHandler([&stops] { ++stops; });
        runGenerations(process.session->zyl(), process.settings, process.session->script,
                       process.table, process.session->project.plots, observer, 2);
        EXPECT_EQ(process.rows->warnings,
                  std::vector<std::string>{"The run store \"" + store +
                                           "\" is no longer the file this run opened (it was "
                                           "deleted, replaced or cut short): the run stops."});
        EXPECT_GE(stops, 1);
        EXPECT_THROW(process.session->recorder().finish(), StoreLost);
        process.session.reset();
        // What took the name is left as it was, without the WAL of the lost store beside it.
        EXPECT_EQ(fs::exists(store) ? fileBytes(store) : "", after);
        EXPECT_FALSE(fs::exists(store + "-wal"));
        EXPECT_FALSE(fs::exists(store + "-shm"));
    }
}

TEST(Resume, TheWalIsCopiedIntoTheFileWhileTheRunGoesOn)
{
    // Each commit rewrites a population of 1000 x 60 reals (about 480 KB): 25 of them fill a
    // WAL of 12 MB unless it is checkpointed on the way.
    std::string script = "[FUNCTION]\nanalytical=1\n[EQUATIONS]\nf=x1\n[VARIABLES]\n";
    for (int j = 1; j <= 60; ++j)
        script += "x" + std::to_string(j) + "=real[0;1]\n";
    script += "[POPULATION]\nsize=1000\n[OPTIONS]\nmax_iteration=100\n";
    TempDir dir;
    const std::string store = dir / "run.zyl";
    Process process(resumeRequest(store, script));
    process.session->recorder().setPacing(false);
    std::uintmax_t largest = 0;
    for (int g = 0; g < 25; ++g) {
        process.run(1);
        largest = std::max(largest, fs::file_size(store + "-wal"));
    }
    EXPECT_LT(largest, 6u << 20);
    EXPECT_EQ(inspectRunStore(store).state.generation, 25);
}
