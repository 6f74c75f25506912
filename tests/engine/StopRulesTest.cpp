#include "engine/StopRules.h"

#include "engine/Statistics.h"
#include "engine/Task.h"
#include "project/Loader.h"
#include "store/StoreSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <thread>

using namespace zyl;

namespace {

class StopRules : public ::testing::Test {
protected:
    StopRules() { table.registerBuiltinSymbols(); }

    /// The message of a failed load, "" when it loads.
    std::string load(const std::string& options, const std::string& variable = "real[-1;1]")
    {
        script = ProjectScript::fromText(
            "[FUNCTION]\nanalytical=1\nreuse_store=old.zyl\n[EQUATIONS]\nf=x1^2\n"
            "[VARIABLES]\nx1=" +
            variable +
            "\n[POPULATION]\nsize=10\n[PLOTS]\nP=Average\n"
            "[OPTIONS]\nmax_iteration=50\n" +
            options);
        script.StripBlanks();
        try {
            project = loadProject(script, settings, table, rng);
        } catch (const std::exception& error) {
            return error.what();
        }
        return "";
    }
    /// One check with the best value set to `best`.
    bool check(double best, double seconds = 0)
    {
        project.zyl->globalMin.value = best;
        project.zyl->globalMax.value = best;
        publishStatistics(*project.zyl, table);
        return checkStopRules(settings.stopRules, state, *project.zyl, table, seconds);
    }

    SymbolTable table;
    ProjectSettings settings;
    ProjectScript script;
    LcgRng rng{1};
    LoadedProject project;
    StopRuleState state;
};

} // namespace

TEST_F(StopRules, TheKeysAreCheckedWhenTheProjectLoads)
{
    EXPECT_EQ(load(""), "");
    EXPECT_FALSE(settings.stopRules.any());
    EXPECT_EQ(settings.reuseStore, "old.zyl");
    EXPECT_EQ(load("time_limit=0\nmax_evaluations=0\nstall_generations=0\nstop_when=\n"), "");
    EXPECT_FALSE(settings.stopRules.any());
    EXPECT_EQ(load("time_limit=3600\nmax_evaluations=500\nstall_generations=20\n"
                   "stall_tolerance=1e-6\nstop_when=StdDev<1e-6||GlobalMin<-5.999\n"),
              "");
    EXPECT_EQ(settings.stopRules.timeLimit, 3600);
    EXPECT_EQ(settings.stopRules.maxEvaluations, 500);
    EXPECT_EQ(settings.stopRules.stallGenerations, 20);
    EXPECT_EQ(settings.stopRules.stallTolerance, 1e-6);
    EXPECT_EQ(settings.stopRules.stopWhen, "StdDev<1e-6||GlobalMin<-5.999");

    // Unlike the older keys, a value that is not a number is an error, not a default.
    EXPECT_EQ(load("time_limit=an hour\n"),
              "Time limit ought to be a number of seconds not below 0");
    EXPECT_EQ(load("time_limit=-1\n"), "Time limit ought to be a number of seconds not below 0");
    EXPECT_EQ(load("max_evaluations=1.5\n"),
              "Max evaluations ought to be a whole number not below 0");
    // Evaluations are counted in 64 bits: the whole range, and no more, is accepted.
    EXPECT_EQ(load("max_evaluations=9223372036854775807\n"), "");
    EXPECT_EQ(settings.stopRules.maxEvaluations, INT64_MAX);
    EXPECT_EQ(load("max_evaluations=4294967296\n"), "");
    EXPECT_EQ(settings.stopRules.maxEvaluations, 4294967296);
    for (const char* refused : {"9223372036854775808", "-1", "0x8000000000000000", "1e9"})
        EXPECT_EQ(load(std::string("max_evaluations=") + refused + "\n"),
                  "Max evaluations ought to be a whole number not below 0")
            << refused;
    EXPECT_EQ(load("stall_generations=30001\n"),
              "Stall generations ought to be a number from [0; 30000]");
    EXPECT_EQ(load("stall_generations=5\nstall_tolerance=-0.1\n"),
              "Stall tolerance ought to be a number not below 0");
    EXPECT_EQ(load("stall_tolerance=-0.1\n"), ""); // read only with stall_generations
    EXPECT_EQ(load("stop_when=StdDev<<1\n"), "Stop rule: Syntax error!");
    // A name nothing defines is found when the script loads, not after a first generation.
    EXPECT_EQ(load("stop_when=GlobalMn<1\n"),
              "Stop rule: GlobalMn is not a variable, a statistic or a definition");
    EXPECT_EQ(load("stop_when=x1>0&&Average<1&&f>0&&sum(i,{i,1,3})>5&&"
                   "D(q^2,q)>0\n"),
              "");
}

TEST_F(StopRules, TheStallCountAddsUpSmallGainsAndFollowsTheDirection)
{
    ASSERT_EQ(load("stall_generations=3\nstall_tolerance=0.5\n"), "");
    // A gain of exactly the tolerance is no improvement; 9.5 and 9.2 together are one.
    for (double best : {10.0, 9.5, 9.2, 9.0, 8.95}) {
        EXPECT_FALSE(check(best)) << best;
    }
    EXPECT_EQ(state.stallCount, 2);
    EXPECT_TRUE(check(8.95));
    EXPECT_EQ(state.stopReason, "stall_generations=3: GlobalMin has not improved by more than "
                                "0.5 for 3 generations in generation 1");
    EXPECT_TRUE(check(-100)); // a finished task stays finished

    state = {};
    project.zyl->maximise = true;
    for (double best : {1.0, 0.0, 2.0, 2.4})
        EXPECT_FALSE(check(best));
    EXPECT_EQ(state.stallCount, 1); // falling is no gain when maximising; 1 -> 2 was one

    // A best without a value (every design ruled out before evaluation) is passed by the
    // first value, which starts the count again.
    state = {};
    for (double best : {std::nan(""), std::nan(""), 5.0})
        EXPECT_FALSE(check(best));
    EXPECT_EQ(state.stallCount, 0);
    EXPECT_EQ(state.stallBest, 5.0);
}

TEST_F(StopRules, EachRuleEndsTheTaskWithItsReason)
{
    setSymbolValue(table, "q", 0); // a definition made before the load, in the console say
    ASSERT_EQ(load("stop_when=q>0\nmax_evaluations=30\ntime_limit=60\n"), "");
    setSymbolValue(table, "q", std::nan(""));
    EXPECT_FALSE(check(1.0, 59.9)); // NaN is no true value
    setSymbolValue(table, "q", 2);
    state.evaluations = 30;
    EXPECT_TRUE(check(1.0, 60));
    EXPECT_EQ(state.stopReason, "stop_when=q>0 was met in generation 1");

    state = {};
    setSymbolValue(table, "q", 0);
    state.evaluations = 30;
    EXPECT_TRUE(check(1.0, 60));
    EXPECT_EQ(state.stopReason, "max_evaluations=30 was reached in generation 1 (30 evaluations)");

    state = {};
    EXPECT_TRUE(check(1.0, 60.5));
    EXPECT_EQ(state.stopReason, "time_limit=60 was reached in generation 1 (60.5 s of run time)");

    // A failing expression is an error for the caller to show; the task goes on.
    ASSERT_EQ(load("stop_when={Generation,1}\n"), "");
    state = {};
    EXPECT_THROW(check(1.0), std::exception);
    EXPECT_FALSE(state.finished());
}

TEST_F(StopRules, TheRunLoopStopsInTheGenerationTheRuleIsMet)
{
    // Each Run (a loop counter of 3) stops at the rule, and later Runs compute nothing.
    ASSERT_EQ(load("stop_when=Generation>=5\nloop_counter=3\n"), "");
    test::RowCollector seen(*project.zyl, settings);
    RunClock clock;
    RunContext context{*project.zyl, settings, script, table, project.plots};
    context.stopState = &state;
    context.clock = &clock;
    DirectSynchronizer sync;
    clock.start();
    for (int run = 0; run < 4; ++run)
        Task(context, sync, seen).execute();
    clock.stop();
    EXPECT_EQ(seen.stoppedIn, 5);
    EXPECT_EQ(seen.stopReason, "stop_when=Generation>=5 was met in generation 5");
    EXPECT_EQ(seen.rows.size(), 5u);
    EXPECT_EQ(project.zyl->generation, 5); // the generation step itself went to its end
    EXPECT_EQ(state.evaluations, 50);

    // Buffer hits are not evaluations: after the first generation (ten computed values) a
    // two-valued variable is always found in the buffer, and max_evaluations=11 is never met.
    ASSERT_EQ(load("max_evaluations=11\nloop_counter=6\n[SHOW]\nbuffer_individuals=1\n",
                   "boolean"),
              "");
    state = {};
    test::RowCollector counted(*project.zyl, settings);
    Task(RunContext{*project.zyl, settings, script, table, project.plots, nullptr, &state},
         sync, counted)
        .execute();
    EXPECT_EQ(state.evaluations, 10);
    EXPECT_EQ(counted.stoppedIn, 0);
    EXPECT_EQ(project.zyl->generation, 6);

    // A stop_when that cannot be evaluated stops the run with its message; the task goes on.
    // A complex value is such a failure, however small its real part: sqrt(-1) is 6e-17+I.
    ASSERT_EQ(load("stop_when=sqrt(-Generation)\n"), "");
    state = {};
    test::RowCollector failing(*project.zyl, settings);
    Task(RunContext{*project.zyl, settings, script, table, project.plots, nullptr, &state},
         sync, failing)
        .execute();
    ASSERT_EQ(failing.warnings.size(), 1u);
    EXPECT_EQ(failing.warnings[0], "Stop rule: The value of stop_when is not a real number: 6.12323e-17+I");
    EXPECT_FALSE(state.finished());
    EXPECT_EQ(project.zyl->generation, 1);

    // Run time counts only while running, added over the runs.
    RunClock total(2.0);
    total.start();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    total.stop();
    const double afterOne = total.seconds();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(total.seconds(), afterOne);
    EXPECT_GE(afterOne, 2.02);
}
