#include "store/StoreWatch.h"

#include "store/Restore.h"
#include "store/StoreSupport.h"

#include <sqlite3.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <optional>

using namespace zyl;
using namespace zyl::test;

namespace {

const char* kScript = "[FUNCTION]\nanalytical=1\n[EQUATIONS]\nf=x1^2+x2^2\n"
                      "[VARIABLES]\nx1=real[-1;1]\nx2=real[-1;1]\n[POPULATION]\nsize=6\n"
                      "[OPTIONS]\nmax_iteration=8\n[PLOTS]\nBest=CurrentMin;Average\n"
                      "[SHOW]\nbuffer_individuals=1\n";

StoreRequest requestFor(const std::string& store, bool resume, const char* script = kScript)
{
    StoreRequest r;
    r.script = ProjectScript::fromText(script);
    r.script->StripBlanks();
    r.storePath = store;
    r.resume = resume;
    r.scriptName = "task.txt";
    r.seed = 1;
    return r;
}

/// A process's worth of writing: a session on the store, recording at every boundary as
/// zyl-batch does at its paced ones.
struct Writer {
    SymbolTable table;
    ProjectSettings settings;
    std::unique_ptr<StoredSession> session;
    std::optional<RowCollector> rows;
    std::optional<RecordingObserver> observer;

    Writer(const std::string& store, bool resume, const char* script = kScript)
    {
        table.registerBuiltinSymbols();
        session = StoredSession::open(requestFor(store, resume, script), settings, table);
        session->begin();
        rows.emplace(session->zyl(), settings);
        observer.emplace(session->recorder(), *rows, session->zyl(), settings);
        session->recorder().setPacing(false);
    }
    void run(int generations)
    {
        runGenerations(session->zyl(), settings, session->script, table, session->project.plots,
                       *observer, generations, nullptr, &session->stop, &session->clock);
        session->recorder().settle();
    }
};

/// What a watch told, in order.
class Calls : public WatchObserver {
public:
    void buffered(const Indiv& entry) override { buffer.push_back(codec::toData(entry)); }
    void storedGeneration(const GenerationRecord& g) override
    {
        told += "g" + std::to_string(g.generation) + " ";
        rows.push_back(g.rows);
    }
    void plotUpdated(std::size_t plot) override { told += "p" + std::to_string(plot) + " "; }
    void populationChanged() override { told += "population "; }
    void evaluatedValue(int index) override { told += "v" + std::to_string(index) + " "; }
    void writerChanged() override { told += "writer "; }

    std::string told;
    std::vector<std::vector<StatisticsRow>> rows;
    std::vector<codec::IndivData> buffer;
};

struct Watcher {
    SymbolTable table;
    ProjectSettings settings;
    std::unique_ptr<StoreWatch> watch;

    explicit Watcher(const std::string& store)
    {
        table.registerBuiltinSymbols();
        watch = StoreWatch::open(store, settings, table);
    }
};

std::string watchMessage(const std::string& store)
{
    try {
        Watcher watcher(store);
    } catch (const std::exception& error) {
        return error.what();
    }
    return "";
}

std::string symbolBytes(const SymbolTable& table)
{
    codec::ByteWriter out;
    codec::encodeSymbols(out, table);
    return out.bytes();
}

Outcome outcomeOf(ZYL& zyl, const std::vector<UserPlot>& plots)
{
    Outcome outcome;
    outcome.take(zyl, plots, "");
    return outcome;
}

class Watch : public ::testing::Test {
protected:
    /// The watch of a store whose writer has run `generations`.
    StoreWatch& watchAfter(int generations, const char* script = kScript)
    {
        writer.emplace(store, false, script);
        writer->run(generations);
        watcher.emplace(store);
        return *watcher->watch;
    }

    TempDir dir;
    const std::string store = dir / "run.zyl";
    std::optional<Writer> writer;
    std::optional<Watcher> watcher;
    Calls calls;
};

} // namespace

TEST_F(Watch, FollowsEveryCommitOnceInOrderAndEndsAsOpenShowsTheStore)
{
    StoreWatch& watch = watchAfter(1);
    EXPECT_EQ(watch.generations().size(), 1u);
    EXPECT_EQ(watch.status().state, WriterStatus::State::Running);
    EXPECT_EQ(watch.status().owner.pid, ::getpid());
    EXPECT_FALSE(watch.update(calls)); // nothing committed since it opened
    EXPECT_EQ(calls.told, "");

    // One commit a look, then three at once (the paced commits of a fast run).
    writer->run(1);
    EXPECT_TRUE(watch.update(calls));
    EXPECT_EQ(calls.told, "g2 p0 population writer ");
    writer->run(3);
    calls.told.clear();
    watch.update(calls);
    EXPECT_EQ(calls.told, "g3 g4 g5 p0 population writer ");
    writer->run(3);
    calls.told.clear();
    watch.update(calls);
    EXPECT_EQ(calls.told, "g6 g7 g8 p0 population writer ");
    EXPECT_EQ(watch.status().state, WriterStatus::State::Finished);
    EXPECT_EQ(describeWriter(watch.status()), "finished in generation 8 of 8");

    // What the watch was told is what the run showed, and where it ends is what Open gives.
    std::vector<std::vector<StatisticsRow>> shown(writer->rows->rows.begin() + 1,
                                                  writer->rows->rows.end());
    EXPECT_EQ(calls.rows, shown);
    std::vector<codec::IndivData> buffered;
    for (const Indiv& entry : writer->session->zyl().buffer.entries())
        buffered.push_back(codec::toData(entry));
    ASSERT_GE(buffered.size(), calls.buffer.size());
    EXPECT_TRUE(std::equal(calls.buffer.begin(), calls.buffer.end(),
                           buffered.end() - static_cast<std::ptrdiff_t>(calls.buffer.size())));
    // The writer has gone while the watch has the store open: its file alone holds the run.
    writer.reset();
    fs::copy_file(store, dir / "alone.zyl");
    EXPECT_EQ(inspectRunStore(dir / "alone.zyl").state.generation, 8);
    SymbolTable table;
    table.registerBuiltinSymbols();
    ProjectSettings settings;
    LcgRng rng;
    RunStore opened = RunStore::openExisting(store, /*lock=*/false);
    RestoredRun restored = restoreRun(opened.read(), store, settings, table, rng);
    expectSame(outcomeOf(watch.zyl(), watch.project().plots),
               outcomeOf(*restored.project.zyl, restored.project.plots));
    EXPECT_EQ(symbolBytes(watcher->table), symbolBytes(table));
}

TEST_F(Watch, SaysWhoWritesAndFollowsAResumeWithoutReopening)
{
    StoreWatch& watch = watchAfter(2);

    // The counts of the programs of the generation in progress, from the writer's own record.
    RunActivity activity;
    activity.generation = 3;
    activity.evaluations = 14;
    activity.programs = {3, 1, 2, 0};
    writer->session->recorder().activity(activity);
    writer->session->recorder().settle();
    watch.update(calls);
    ASSERT_TRUE(watch.status().programs.has_value());
    EXPECT_EQ(watch.status().programs->running, 3);
    EXPECT_EQ(watch.status().evaluations, 14);
    EXPECT_THAT(describeWriter(watch.status()),
                ::testing::StartsWith("running: generation 2 of 8, 14 evaluations (process " +
                                      std::to_string(::getpid()) + " on "));
    EXPECT_THAT(describeWriter(watch.status()),
                ::testing::EndsWith("; 3 programs running, 1 queued)"));

    // The writer goes (its lock with it) before the task's end: stopped, and nothing to stop.
    writer.reset();
    calls.told.clear();
    EXPECT_TRUE(watch.update(calls));
    EXPECT_EQ(calls.told, "writer ");
    EXPECT_EQ(watch.status().state, WriterStatus::State::Stopped);
    EXPECT_FALSE(watch.status().programs.has_value());
    EXPECT_THAT([&] { watch.terminateWriter(); },
                ::testing::ThrowsMessage<Exception>("The run store \"" + store +
                                                    "\" has no running ZYL to stop."));

    // Another process resumes it: the watch goes on from where it was.
    writer.emplace(store, true);
    writer->run(2);
    calls.told.clear();
    watch.update(calls);
    EXPECT_EQ(calls.told, "g3 g4 p0 population writer ");
    EXPECT_EQ(watch.status().state, WriterStatus::State::Running);
    EXPECT_EQ(watch.zyl().generation, 4);
}

TEST_F(Watch, TheValuesOfTheGenerationInProgressShowAsTheyAreCommitted)
{
    StoreWatch& watch = watchAfter(1);
    const ZYL& zyl = writer->session->zyl();
    EvaluationRecord record;
    record.generation = 2;
    record.individual = 4;
    record.variables = codec::toData(zyl.population[4]).variables;
    record.value = 0.25;
    writer->session->recorder().evaluationFinished(record);
    // A value for another design than the one in that place is no value of it.
    record.individual = 1;
    record.value = 7;
    writer->session->recorder().evaluationFinished(record);
    watch.update(calls);
    EXPECT_EQ(calls.told, "v4 ");
    EXPECT_TRUE(watch.zyl().population[4].evaluated);
    EXPECT_EQ(watch.zyl().population[4].value, 0.25);
    EXPECT_EQ(watch.zyl().population[1].value, zyl.population[1].value);
}

TEST_F(Watch, ADesignRuledOutBeforeEvaluationShowsAsTheRunHadIt)
{
    std::string script = kScript;
    script += "[CONSTRAINTS]\nc=x1+2\n";
    StoreWatch& watch = watchAfter(1, script.c_str());
    const ZYL& zyl = writer->session->zyl();
    EvaluationRecord record;
    record.generation = 2;
    record.individual = 3;
    record.variables = codec::toData(zyl.population[3]).variables;
    record.status = RecordStatus::Screened;
    record.message = "c";
    writer->session->recorder().evaluationFinished(record);
    watch.update(calls);
    EXPECT_EQ(calls.told, "v3 ");
    const Indiv& shown = watch.zyl().population[3];
    EXPECT_TRUE(shown.screened && shown.evaluated && std::isnan(shown.value));
    EXPECT_EQ(shown.violation, zyl.population[3].gene(0)->getValue() + 2);
}

TEST_F(Watch, BadStoresAreRefusedWithNothingWrittenOrMadeBesideThem)
{
    const std::string good = store;
    writer.emplace(good, false);
    writer->run(2);
    writer.reset();
    ASSERT_FALSE(fs::exists(good + "-wal"));
    const std::string goodBytes = fileBytes(good);

    struct Case {
        const char* name;
        std::string bytes;
        std::string expected; // after the file's name in quotes
    };
    std::string newer = goodBytes;
    newer[63] = 99; // the user version's last byte
    const std::vector<Case> cases = {
        {"text", "[FUNCTION]\nanalytical=1\n", " is not a ZYL run store."},
        {"newer", newer,
         " was written by a newer ZYL (store version 99; this ZYL reads version " +
             std::to_string(kStoreVersion) + ")."},
        {"short", goodBytes.substr(0, 50), " is damaged: the file is cut short"},
        {"cut", goodBytes.substr(0, goodBytes.size() / 2), " is damaged: "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir / (std::string(c.name) + ".zyl");
        writeFile(path, c.bytes);
        const std::string message = watchMessage(path);
        const std::string prefix =
            std::string(c.name) == "text" ? "The file \"" : "The run store \"";
        EXPECT_THAT(message, ::testing::StartsWith(prefix + path + "\"" + c.expected));
        EXPECT_EQ(fileBytes(path), c.bytes);
        if (std::string(c.name) != "cut") {
            EXPECT_FALSE(fs::exists(path + "-wal"));
            EXPECT_FALSE(fs::exists(path + "-shm"));
        }
    }
    EXPECT_EQ(watchMessage(dir / "none.zyl"),
              "The run store \"" + (dir / "none.zyl") + "\" does not exist.");

    // A store that goes while watched: said, and the project stays as it was.
    watcher.emplace(good);
    EXPECT_EQ(fileBytes(good), goodBytes);
    fs::rename(good, dir / "moved.zyl");
    writeFile(good, goodBytes);
    EXPECT_THAT([&] { watcher->watch->update(calls); },
                ::testing::ThrowsMessage<Exception>(
                    "The run store \"" + good +
                    "\" is no longer the file the watch opened (it was deleted, replaced or "
                    "cut short): the watch stops."));
    EXPECT_EQ(watcher->watch->zyl().generation, 2);
}
