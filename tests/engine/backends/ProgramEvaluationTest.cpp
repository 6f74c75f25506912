#include "engine/backends/ProgramEvaluation.h"

#include "engine/Task.h"
#include "engine/backends/Backends.h"
#include "engine/backends/BackendSupport.h"
#include "project/Loader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <thread>

using namespace zyl;
namespace fs = std::filesystem;

namespace {

struct Told : RunObserver {
    void warning(const std::string& text) override { warnings.push_back(text); }
    void statistics() override { ++statisticsShown; }
    void generationEvaluated() override
    {
        for (const Indiv& ind : population->population)
            values.push_back(ind.value);
    }

    const ZYL* population = nullptr;
    std::vector<std::string> warnings;
    std::vector<double> values;
    int statisticsShown = 0;
};

/// External tasks run by a real Task through the batch evaluator, on programs in a scratch
/// folder. The objective logs each start; files in the folder make it fail ("down", or
/// "high" for x above 0), pause ("slow") or never end ("hang").
class ProgramRuns : public test::ScratchTest {
protected:
    void SetUp() override
    {
        test::ScratchTest::SetUp();
        table.registerBuiltinSymbols();
        script("objective.sh", R"(read x y < "$1"; echo "$x $y" >> "$D/starts.log"
[ -e "$D/slow" ] && sleep 0.5
[ -e "$D/hang" ] && exec sleep 600
[ -e "$D/down" ] && exit 3
[ -e "$D/high" ] && awk -v x="$x" 'BEGIN { exit !(x > 0) }' && exit 3
LC_ALL=C awk -v x="$x" -v y="$y" 'BEGIN { printf "%.17g\n", x * x + y * y }' > "$2")");
    }

    void load(const std::string& function, int size = 6)
    {
        loaded = ProjectScript::fromText(
            "[FUNCTION]\nexternal=1\nexternal_name=" + (dir / "objective.sh").string() +
            "\ninput_name=in.txt\noutput_name=out.txt\nwork_root=" + (dir / "runs").string() +
            "\n" + function + "\n[VARIABLES]\nx=real[-1;1]\ny=real[-1;1]\n[POPULATION]\nsize=" +
            std::to_string(size) + "\n[OPTIONS]\nmax_iteration=5\n[SHOW]\nbuffer_individuals=1\n");
        loaded.StripBlanks();
        project = loadProject(loaded, settings, table, rng);
        told.population = project.zyl.get();
    }

    /// A task ready to run, as the front ends set one up.
    std::unique_ptr<Task> task()
    {
        auto notice = [this](const std::string& line) { notices.push_back(line); };
        programs = std::make_unique<ProgramEvaluation>(makeBatchEvaluator(settings, notice),
                                                       project.zyl->generation,
                                                       project.zyl->bufferIndividuals);
        RunContext context{*project.zyl, settings, loaded, table, project.plots};
        context.backend = programs.get();
        context.stopState = &stop;
        return std::make_unique<Task>(context, sync, told);
    }

    void touch(const std::string& name) { std::ofstream(dir / name) << ""; }
    std::size_t starts() const
    {
        std::ifstream log(dir / "starts.log");
        std::size_t lines = 0;
        for (std::string line; std::getline(log, line);)
            ++lines;
        return lines;
    }
    bool evaluated(int index) const { return project.zyl->population[index].evaluated; }

    SymbolTable table;
    ProjectSettings settings;
    ProjectScript loaded;
    LcgRng rng{4};
    LoadedProject project;
    StopRuleState stop;
    DirectSynchronizer sync;
    Told told;
    std::vector<std::string> notices;
    std::unique_ptr<ProgramEvaluation> programs;
};

} // namespace

TEST_F(ProgramRuns, AGenerationWithOnlyFailureValuesIsNoResultAndIsEvaluatedAgain)
{
    touch("down");
    load("failure_value=1e9\nworkers=2\n");
    auto run = task();
    run->execute();
    EXPECT_EQ(run->allFailedGeneration(), 1);
    EXPECT_EQ(told.warnings, std::vector<std::string>{"Stopped: every evaluation of generation 1 failed"});
    EXPECT_EQ(project.zyl->generation, 0);
    EXPECT_EQ(told.statisticsShown, 0);
    EXPECT_EQ(stop.failedEvaluations, 6);
    EXPECT_EQ(stop.failureValues, 6);
    EXPECT_EQ(project.zyl->buffer.size(), 0u);
    for (int i = 0; i < 6; ++i)
        EXPECT_FALSE(evaluated(i)) << i;

    // The outage is over: the next Run computes the same generation with real values.
    fs::remove(dir / "down");
    run = task();
    run->execute();
    EXPECT_EQ(run->allFailedGeneration(), 0);
    EXPECT_EQ(project.zyl->generation, 1);
    EXPECT_LE(project.zyl->globalMax.value, 2.0);
}

TEST_F(ProgramRuns, FailureValuesAreCountedAndNeverBuffered)
{
    touch("high");
    load("failure_value=1e9\n", 20);
    task()->execute();
    ASSERT_EQ(project.zyl->generation, 1);
    const auto failureValues = std::count(told.values.begin(), told.values.end(), 1e9);
    EXPECT_GT(failureValues, 0);
    EXPECT_LT(failureValues, 20);
    EXPECT_EQ(stop.failureValues, failureValues);
    EXPECT_EQ(stop.failedEvaluations, failureValues);
    EXPECT_EQ(static_cast<long>(project.zyl->buffer.size()), 20 - failureValues);
    for (const Indiv& entry : project.zyl->buffer.entries())
        EXPECT_LT(entry.value, 1e9);
}

TEST_F(ProgramRuns, AFailureWithProgramsBesideItEndsAsOneProgramAtATimeWould)
{
    // Every program at once, as a job array runs them: all of them fail.
    touch("down");
    load("workers=6\n");
    auto run = task();
    run->execute();
    // One after the other only the first would have run: its failure is the run's message.
    EXPECT_EQ(starts(), 6u);
    ASSERT_EQ(told.warnings.size(), 1u);
    EXPECT_EQ(told.warnings[0].rfind("A problem with external program.\nEvaluation of "
                                     "individual 0 (generation 1) failed: exit code 3. Work "
                                     "folder: ",
                                     0),
              0u)
        << told.warnings[0];
    EXPECT_EQ(told.statisticsShown, 0);
    EXPECT_EQ(project.zyl->generation, 0);
    // The others failed too, were said, and count.
    ASSERT_EQ(notices.size(), 5u);
    EXPECT_EQ(notices[4].rfind("Evaluation of individual 5 (generation 1) failed: exit code 3.", 0),
              0u);
    EXPECT_EQ(stop.failedEvaluations, 6);
    EXPECT_TRUE(evaluated(0));
    EXPECT_FALSE(evaluated(1));
    EXPECT_FALSE(evaluated(2));
}

TEST_F(ProgramRuns, AGraceLetsTheRunningProgramsFinishAndThenEndsThem)
{
    using Clock = std::chrono::steady_clock;
    auto terminateOnceRunning = [&](Task& run, double grace) {
        std::thread worker([&] { run.execute(); });
        const auto deadline = Clock::now() + std::chrono::seconds(20);
        while (starts() < 2 && Clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        const auto asked = Clock::now();
        run.terminateWithin(grace);
        worker.join();
        return std::chrono::duration<double>(Clock::now() - asked).count();
    };

    touch("slow");
    load("workers=2\nterm_grace=30\n");
    auto run = task();
    EXPECT_LT(terminateOnceRunning(*run, 30), 15);
    EXPECT_EQ(starts(), 2u);
    EXPECT_TRUE(evaluated(0));
    EXPECT_TRUE(evaluated(1));
    EXPECT_FALSE(evaluated(2));
    EXPECT_LE(project.zyl->population[0].value, 2.0);

    fs::remove(dir / "starts.log");
    fs::remove(dir / "slow");
    touch("hang");
    run = task();
    EXPECT_LT(terminateOnceRunning(*run, 0.2), 15);
    EXPECT_FALSE(evaluated(2));
    EXPECT_FALSE(evaluated(3));
}
