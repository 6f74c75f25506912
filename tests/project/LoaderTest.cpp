#include "project/Loader.h"

#include "common/Exception.h"
#include "engine/Formulas.h"
#include "engine/Objectives.h"
#include "expr/Evaluator.h"
#include "expr/Printer.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace zyl;

namespace {

class Loading : public ::testing::Test {
protected:
    Loading() { table.registerBuiltinSymbols(); }

    /// The loader's message, or "" when the script loads.
    std::string load(const std::string& text)
    {
        ProjectScript script = ProjectScript::fromText(text);
        script.StripBlanks();
        try {
            project = loadProject(script, settings, table, rng);
        } catch (const Exception& e) {
            return e.what();
        }
        return "";
    }

    SymbolTable table;
    ProjectSettings settings;
    LcgRng rng{7};
    LoadedProject project;
};

const char* defaultTask = "[PLOTS]\r\nConvergence=Average;CurrentMin\r\n\r\n"
                          "[POPULATION]\r\nsize=20\r\n\r\n[FUNCTION]\r\nanalytical=1\r\n\r\n"
                          "[EQUATIONS]\r\nf=-5.*sin(x1)*sin(x2) - sin(5*x1)*sin(5*x2)\r\n\r\n"
                          "[VARIABLES]\r\nx1=real[0;3.1415]\r\nx2=real[0;3.1415]\r\n";

} // namespace

TEST_F(Loading, TheDefaultTaskLoadsWithItsDefaults)
{
    ASSERT_EQ(load(defaultTask), "");
    const ZYL& zyl = *project.zyl;
    EXPECT_EQ(settings.functionMode, FunctionMode::Analytical);
    EXPECT_EQ(zyl.popSize, 20);
    EXPECT_EQ(zyl.count(), 2);
    EXPECT_EQ(zyl.names, (std::vector<std::string>{"x1", "x2"}));
    EXPECT_EQ(zyl.ranges[1].realHi, 3.1415);
    EXPECT_EQ(zyl.maxIteration, 100);
    EXPECT_EQ(settings.loopCounter, 1);
    EXPECT_EQ(zyl.selection, 1);
    EXPECT_EQ(zyl.tourSize, 3);
    EXPECT_EQ(zyl.crossoverType, 1);
    EXPECT_EQ(zyl.mutationType, 1);
    EXPECT_DOUBLE_EQ(zyl.crossProb, 0.7);
    EXPECT_DOUBLE_EQ(zyl.mutProb, 0.15);
    ASSERT_EQ(project.plots.size(), 1u);
    EXPECT_EQ(project.plots[0].title, "Convergence");
    EXPECT_EQ(project.plots[0].expressions, (std::vector<std::string>{"Average", "CurrentMin"}));
    EXPECT_EQ(printToString(*table.lookup("f")->definition),
              "(-5)*sin(x1)*sin(x2)-sin(5*x1)*sin(5*x2)");
    EXPECT_EQ(printToString(*table.lookup("GlobalMinIndiv")->definition), "{3,3}");
    EXPECT_EQ(printToString(*table.lookup("CurrentMaxIndiv")->definition), "{3,3}");
    for (const Indiv& ind : zyl.population)
        for (int j = 0; j < 2; ++j) {
            EXPECT_GE(ind.gene(j)->getValue(), 0);
            EXPECT_LE(ind.gene(j)->getValue(), 3.1415);
        }
}

TEST_F(Loading, MessagesInTheirOrder)
{
    struct Case {
        const char* script;
        const char* message;
    };
    const std::string vars = "[VARIABLES]\nx=real[0;1]\n";
    const Case cases[] = {
        {"[FUNCTION]\nanalytical=1\n[EQUATIONS]\na=5\n", "Cannot find function f"},
        {"[FUNCTION]\nanalytical=true\n", "Invalid function"},
        {"[FUNCTION]\nmanual=1\n[POPULATION]\nsize=21\n", "Population size ought to be an even number from [2; 1000]"},
        {"[FUNCTION]\nmanual=1\n[POPULATION]\nsize=0\n", "Population size ought to be an even number from [2; 1000]"},
        {"[FUNCTION]\nmanual=1\n", "Population size ought to be an even number from [2; 1000]"},
        {"[FUNCTION]\nmanual=1\n[POPULATION]\nsize=2\n[OPTIONS]\nloop_counter=0\n", "Loop counter ought to be a number from [1; 1000]"},
        {"[FUNCTION]\nmanual=1\n[POPULATION]\nsize=2\n", "Invalid number of variables."},
        {"[FUNCTION]\nmanual=1\n[POPULATION]\nsize=2\n[VARIABLES]\nx1=Real[0;1]\n", "Unknown variable type: Real[0;1]"},
        {"[FUNCTION]\nmanual=1\n[POPULATION]\nsize=2\n[VARIABLES]\nx1\n", "Unknown variable type: ???"},
        {"[FUNCTION]\nmanual=1\n[POPULATION]\nsize=2\n[VARIABLES]\nx1=real[0;1\n", "'' is not a valid floating point value"},
        {"[FUNCTION]\nmanual=1\n[POPULATION]\nsize=2\n[VARIABLES]\nn=integer[1;x]\n", "'x' is not a valid integer value"},
        {"[FUNCTION]\nmanual=1\n[POPULATION]\nsize=2\n[VARIABLES]\nx=real[0;1]\ny=real[5;1]\n", "Lower bound of y ought to be at most its upper bound: real[5;1]"},
        {"[FUNCTION]\nmanual=1\n[POPULATION]\nsize=2\n[VARIABLES]\nn=integer[5;1]\n", "Lower bound of n ought to be at most its upper bound: integer[5;1]"},
        {"[FUNCTION]\nmanual=1\n[POPULATION]\nsize=2\n[VARIABLES]\nx=real[-1e308;1e308]\n", "Range of x ought to have a finite width: real[-1e308;1e308]"},
        {"[FUNCTION]\nmanual=1\n[POPULATION]\nsize=2\n[OPTIONS]\nmax_iteration=30001\n[VARIABLES]\nx=real[0;1]\n", "Max iteration ought to be a number from [1; 30000]"},
        {"[FUNCTION]\nmanual=1\n[POPULATION]\nsize=2\n[SELECTION]\nroulette=1\n[VARIABLES]\nx=real[0;1]\n", "Roulette selection. Not implemented yet."},
        {"[FUNCTION]\nmanual=1\n[POPULATION]\nsize=2\nconstatnt=0\n[VARIABLES]\nx=real[0;1]\n", "Variable population size. Not implemented yet."},
        {"[FUNCTION]\nanalytical=1\n[EQUATIONS]\nf=x+\n", "Syntax error!"},
        {"[FUNCTION]\nanalytical=1\n[EQUATIONS]\npi=3\nf=1\n", "Symbol pi is protected!"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(load(c.script), c.message) << c.script;
        EXPECT_EQ(project.zyl, nullptr);
    }
}

TEST_F(Loading, WhatAFailedLoadLeavesBehind)
{
    EXPECT_EQ(load("[SHOW]\nvariables=1\n[FUNCTION]\n"), "Invalid function");
    EXPECT_TRUE(settings.showVariables);
    EXPECT_EQ(load("[FUNCTION]\nmanual=1\n[POPULATION]\nsize=2\n[OPTIONS]\nloop_counter=5000\n"),
              "Loop counter ought to be a number from [1; 1000]");
    EXPECT_EQ(settings.loopCounter, 5000);
    EXPECT_EQ(load("[FUNCTION]\nanalytical=1\n[EQUATIONS]\na=5\nf=a*\n"), "Syntax error!");
    EXPECT_EQ(evaluateNumeric(*makeSymbolRef("a"), table).re, 5);
}

TEST_F(Loading, ModesAndAlternatives)
{
    ASSERT_EQ(load("[FUNCTION]\nmanual=1\nanalytical=1\n[POPULATION]\nsize=4\n"
                   "[VARIABLES]\nx=real[1;5]\nb=boolean\nk=integer[-2147483648;2147483647]\n"
                   "[CROSSOVER]\nmultipoint=1\nuniform=1\npoints=5\nprobability=1.5\n"
                   "[MUTATION]\nnonuniform=1\nuniformity_coeff=101\nprobability=abc\n"),
              "");
    EXPECT_EQ(settings.functionMode, FunctionMode::Manual);
    EXPECT_TRUE(settings.showPopulation);
    const ZYL& zyl = *project.zyl;
    EXPECT_EQ(zyl.crossoverType, 0);
    EXPECT_EQ(zyl.crossPoints, 2);
    EXPECT_DOUBLE_EQ(zyl.crossProb, 0.7);
    EXPECT_DOUBLE_EQ(zyl.mutProb, 0.15);
    EXPECT_EQ(zyl.ranges[0].uniformityCoeff, 2);
    EXPECT_EQ(zyl.ranges[0].realLo, 1);
    EXPECT_EQ(zyl.ranges[2].intLo, -2147483648);
    EXPECT_EQ(printToString(*table.lookup("GlobalMaxIndiv")->definition), "{3,3,3}");

    project = {};
    ASSERT_EQ(load("[FUNCTION]\nexternal=1\nexternal_name=run me.sh\ninput_name=in.txt\n"
                   "output_name=out.txt\nexternal_timeout=2.5\n[POPULATION]\nsize=2\n"
                   "[VARIABLES]\nx=real[0;1]\n[CROSSOVER]\nuniform=1\nuniform_prob=0.2\n"
                   "[MUTATION]\nuniformity_coeff=50\nnonuniform=1\n[SELECTION]\ntournament=1\n"
                   "tournament_size=5\nelite=1\n[OPTIONS]\nmaximisation=1\n"),
              "");
    EXPECT_EQ(settings.functionMode, FunctionMode::External);
    EXPECT_EQ(settings.externalName, "runme.sh");
    EXPECT_EQ(settings.inputName, "in.txt");
    EXPECT_EQ(settings.externalTimeout, 2.5);
    EXPECT_EQ(project.zyl->crossoverType, 2);
    EXPECT_DOUBLE_EQ(project.zyl->crossUnifProb, 0.2);
    EXPECT_EQ(project.zyl->ranges[0].uniformityCoeff, 50);
    EXPECT_EQ(project.zyl->tourSize, 5);
    EXPECT_TRUE(project.zyl->elite);
    EXPECT_TRUE(project.zyl->maximise);
}

TEST_F(Loading, CountsThatDriveRandomDrawsAreBounded)
{
    const std::string head = "[FUNCTION]\nmanual=1\n[POPULATION]\nsize=2\n";
    const std::string one = head + "[VARIABLES]\nx=real[0;1]\n";
    const std::string three = head + "[VARIABLES]\nx=real[0;1]\ny=boolean\nz=boolean\n";
    const std::string tournament = "[SELECTION]\ntournament=1\ntournament_size=";
    const std::string multipoint = "[CROSSOVER]\nmultipoint=1\npoints=";
    const std::string tooLarge = "Tournament size ought to be a number from [1; 10000]";
    EXPECT_EQ(load(one + tournament + "2000000000\n"), tooLarge);
    EXPECT_EQ(load(one + tournament + "0\n"), tooLarge);
    EXPECT_EQ(load(one + tournament + "10000\n"), "");
    EXPECT_EQ(project.zyl->tourSize, 10000);
    // Without tournament=1 the size is not read, as before.
    EXPECT_EQ(load(one + "[SELECTION]\ntournament_size=0\n"), "");

    const std::string tooMany = "Crossover points ought to be a number from [0; 10000]";
    EXPECT_EQ(load(one + multipoint + "2000000000\n"), tooMany);
    EXPECT_EQ(load(one + multipoint + "-1\n"), tooMany);
    EXPECT_EQ(load(one + multipoint + "10000\n"), "");
    EXPECT_EQ(load(one + multipoint + "0\n"), "");
    // With more variables the count is first limited to their number less one.
    EXPECT_EQ(load(three + multipoint + "2000000000\n"), "");
    EXPECT_EQ(project.zyl->crossPoints, 2);
}

TEST(UserPlotSetUp, ExpressionListsAreCutAtSemicolons)
{
    using V = std::vector<std::string>;
    EXPECT_EQ(splitPlotExpressions("a;b"), (V{"a", "b"}));
    EXPECT_EQ(splitPlotExpressions("a;"), (V{"a"}));
    EXPECT_EQ(splitPlotExpressions("a;;b"), (V{"a", "", "b"}));
    EXPECT_EQ(splitPlotExpressions(";a"), (V{"", "a"}));
    EXPECT_EQ(splitPlotExpressions(""), V{});
    EXPECT_EQ(createUserPlot("T", "a;b;c").series.size(), 3u);
}

TEST(UserPlotUpdate, PointsAndFailures)
{
    SymbolTable table;
    table.registerBuiltinSymbols();
    std::vector<UserPlot> plots{createUserPlot("A", "Average;Average*2;2+3*I"),
                                createUserPlot("B", "CurrentMin")};
    setSymbolValue(table, "Average", 1.5);
    setSymbolValue(table, "CurrentMin", -4);
    std::vector<std::size_t> updated;
    updateUserPlots(plots, 0, table, [&](std::size_t p) { updated.push_back(p); });
    EXPECT_EQ(updated, (std::vector<std::size_t>{0, 1}));
    EXPECT_EQ(plots[0].series[0].back().x, 1.0f);
    EXPECT_EQ(plots[0].series[0].back().y, 1.5f);
    EXPECT_EQ(plots[0].series[1].back().y, 3.0f);
    EXPECT_EQ(plots[0].series[2].back().y, 2.0f);
    EXPECT_EQ(plots[1].series[0].back().y, -4.0f);

    plots.insert(plots.begin() + 1, createUserPlot("Bad", "Average;nothing+1;Average"));
    EXPECT_THROW(updateUserPlots(plots, 1, table), Exception);
    EXPECT_EQ(plots[1].series[0].size(), 1u);
    EXPECT_EQ(plots[1].series[1].size(), 0u);
    EXPECT_EQ(plots[1].series[2].size(), 0u);
    EXPECT_EQ(plots[2].series[0].size(), 1u);
    setSymbolValue(table, "Average", 1e300);
    std::vector<UserPlot> huge{createUserPlot("H", "Average")};
    updateUserPlots(huge, 0, table);
    EXPECT_TRUE(std::isinf(huge[0].series[0][0].y));
}

TEST_F(Loading, ASeedMakesTheTaskRepeatable)
{
    const std::string seeded = std::string(defaultTask) + "[OPTIONS]\r\nseed=42\r\n";
    auto firstValues = [this] {
        std::vector<double> values;
        for (const Indiv& ind : project.zyl->population)
            values.push_back(ind.gene(0)->getValue());
        return values;
    };
    ASSERT_EQ(load(seeded), "");
    const std::vector<double> first = firstValues();
    rng.randomInt31(); // whatever the generator went through before
    ASSERT_EQ(load(seeded), "");
    EXPECT_EQ(firstValues(), first);
    // Without a seed the generator goes on from where it stands.
    ASSERT_EQ(load(defaultTask), "");
    EXPECT_NE(firstValues(), first);
    for (const char* bad : {"-1", "1.5", "x", "18446744073709551616", ""})
        EXPECT_EQ(load(std::string(defaultTask) + "[OPTIONS]\r\nseed=" + bad + "\r\n"),
                  "Seed ought to be a whole number from [0; 18446744073709551615]")
            << bad;
}

TEST_F(Loading, EvaluationKeysAndTheClusterSection)
{
    const std::string head = "[POPULATION]\nsize=4\n[VARIABLES]\nx=real[0;1]\n"
                             "[FUNCTION]\nexternal=1\nexternal_name=prog\n"
                             "input_name=in.txt\noutput_name=out.txt\n";

    // Without the keys: one program at a time, no folders, failures stop the run. A load also
    // forgets what an earlier script set.
    settings.workers = 9;
    settings.failureValue = 1;
    settings.cluster.scheduler = Scheduler::Slurm;
    settings.workRootOwner = "run store \"old.zyl\" created then";
    ProjectScript named = ProjectScript::fromText(head);
    named.SetFileName("/data/tasks/wing.txt");
    ASSERT_NO_THROW(project = loadProject(named, settings, table, rng));
    EXPECT_EQ(settings.workers, 1);
    EXPECT_FALSE(settings.usesWorkFolders());
    EXPECT_FALSE(settings.failureValue.has_value());
    EXPECT_EQ(settings.retries, 0);
    EXPECT_EQ(settings.termGrace, 0);
    EXPECT_EQ(settings.cluster.scheduler, Scheduler::None);
    EXPECT_EQ(settings.workRootOwner, "") << "another project's folders are not this one's";
    EXPECT_EQ(settings.workRoot, "/data/tasks/wing-runs");

    ASSERT_EQ(load(head + "workers=16\nretries=2\nfailure_value=-1e9\nkeep_work_dirs=1\n"
                          "term_grace=90.5\n"
                          "work_root=/scratch/r\ntemplate_dir=/deck\n[CLUSTER]\nscheduler=Slurm\n"
                          "mode=steps\npartition=short\naccount=lab\ntime_limit=30\n"
                          "cpus_per_task=4\nmemory=2048\noptions=--qos=high,,--exclusive\n"
                          "scheduler_timeout=0.5\n"),
              "");
    EXPECT_EQ(settings.workers, 16);
    EXPECT_EQ(settings.retries, 2);
    EXPECT_EQ(settings.failureValue, -1e9);
    EXPECT_EQ(settings.termGrace, 90.5);
    EXPECT_TRUE(settings.keepWorkDirs);
    EXPECT_EQ(settings.workRoot, "/scratch/r");
    EXPECT_EQ(settings.templateDir, "/deck");
    const ClusterSettings& cluster = settings.cluster;
    EXPECT_EQ(cluster.scheduler, Scheduler::Slurm);
    EXPECT_EQ(cluster.mode, ClusterMode::Steps);
    EXPECT_EQ(cluster.partition, "short");
    EXPECT_EQ(cluster.timeLimitMinutes, 30);
    EXPECT_EQ(cluster.cpusPerTask, 4);
    EXPECT_EQ(cluster.memoryMiB, 2048);
    EXPECT_EQ(cluster.options, (std::vector<std::string>{"--qos=high", "--exclusive"}));
    EXPECT_EQ(cluster.schedulerTimeoutMinutes, 0.5);

    // The keys belong to the external program: an analytical task ignores them.
    EXPECT_EQ(load("[POPULATION]\nsize=4\n[VARIABLES]\nx=real[0;1]\n[FUNCTION]\nanalytical=1\n"
                   "workers=5000\n[EQUATIONS]\nf=x\n"),
              "");
    EXPECT_EQ(settings.workers, 1);

    const std::pair<const char*, const char*> rejected[] = {
        {"workers=0", "Workers ought to be a number from [1; 1024]"},
        {"workers=1025", "Workers ought to be a number from [1; 1024]"},
        {"retries=101", "Retries ought to be a number from [0; 100]"},
        {"failure_value=high", "Failure value ought to be a number: high"},
        {"failure_value=nan", "Failure value ought to be a number: nan"},
        {"term_grace=-1", "Term grace ought to be a number of seconds from [0; 31536000]"},
        {"term_grace=soon", "Term grace ought to be a number of seconds from [0; 31536000]"},
        {"term_grace=inf", "Term grace ought to be a number of seconds from [0; 31536000]"},
        // Past the clocks' reach a grace would end at once.
        {"term_grace=1e10", "Term grace ought to be a number of seconds from [0; 31536000]"},
        {"no_retry_status=0", "No retry status ought to be a number from [1; 255]"},
        {"no_retry_status=256", "No retry status ought to be a number from [1; 255]"},
        {"[CLUSTER]\nscheduler=pbs", "Unknown scheduler: pbs"},
        {"[CLUSTER]\nmode=tasks", "Unknown cluster mode: tasks"},
        {"[CLUSTER]\ntime_limit=0", "Time limit ought to be a number from [1; 525600]"},
        {"[CLUSTER]\ncpus_per_task=0", "CPUs per task ought to be a number from [1; 4096]"},
        {"[CLUSTER]\nmemory=-5", "Memory ought to be a number from [1; 16777216]"},
        {"[CLUSTER]\nscheduler_timeout=0",
         "Scheduler timeout ought to be a number of minutes from (0; 525600]: 0"},
        {"[CLUSTER]\nscheduler_timeout=soon",
         "Scheduler timeout ought to be a number of minutes from (0; 525600]: soon"},
        {"[CLUSTER]\nscheduler_timeout=inf",
         "Scheduler timeout ought to be a number of minutes from (0; 525600]: inf"},
    };
    for (const auto& [keys, message] : rejected)
        EXPECT_EQ(load(head + keys + "\n"), message) << keys;

    // Programs side by side would share an absolute file.
    const char* shared = "In work folders, input_name and output_name ought to be relative names";
    EXPECT_EQ(load("[POPULATION]\nsize=4\n[VARIABLES]\nx=real[0;1]\n[FUNCTION]\nexternal=1\n"
                   "input_name=/tmp/in.txt\noutput_name=out.txt\nworkers=2\n"),
              shared);
    EXPECT_EQ(load("[POPULATION]\nsize=4\n[VARIABLES]\nx=real[0;1]\n[FUNCTION]\nexternal=1\n"
                   "input_name=in.txt\noutput_name=/tmp/out.txt\n[CLUSTER]\nscheduler=slurm\n"),
              shared);
    EXPECT_EQ(load("[POPULATION]\nsize=4\n[VARIABLES]\nx=real[0;1]\n[FUNCTION]\nexternal=1\n"
                   "input_name=/tmp/in.txt\noutput_name=/tmp/out.txt\n"),
              "");
    EXPECT_FALSE(settings.usesWorkFolders());
    // A template needs a folder to be copied into, whatever the worker count.
    EXPECT_EQ(load(head + "template_dir=deck\n"), "");
    EXPECT_TRUE(settings.usesWorkFolders());

    // Names that leave the evaluation's folder would reach files outside it.
    const char* outside = "In work folders, input_name and output_name ought to name files "
                          "inside the evaluation's folder";
    const std::string unnamed = "[POPULATION]\nsize=4\n[VARIABLES]\nx=real[0;1]\n[FUNCTION]\n"
                                "external=1\nexternal_name=prog\n";
    for (const char* names :
         {"input_name=../../prog\noutput_name=out.txt\n",
          "input_name=in.txt\noutput_name=a/../../o\n", "input_name=sub/\noutput_name=out.txt\n",
          "input_name=in.txt\noutput_name=.\n"})
        EXPECT_EQ(load(unnamed + "workers=2\n" + names), outside) << names;
    EXPECT_EQ(load(unnamed + "workers=2\ninput_name=./deck/in.txt\noutput_name=out.txt\n"), "");
    // Without folders the names are the user's own, as they always were.
    EXPECT_EQ(load(unnamed + "input_name=../in.txt\noutput_name=out.txt\n"), "");
    // But never one file for both, nor a file ZYL writes in a work folder (workers may come
    // later, from the command line).
    for (const char* names : {"input_name=io.txt\noutput_name=./io.txt\n",
                              "input_name=sub/../io.txt\noutput_name=io.txt\n"})
        EXPECT_EQ(load(unnamed + names), "input_name and output_name ought to name two different "
                                         "files")
            << names;
    for (const char* names : {"input_name=zyl-log.txt\noutput_name=out.txt\n",
                              "input_name=in.txt\noutput_name=./zyl-log-2.txt\n",
                              "input_name=in.txt\noutput_name=zyl-exit-status\n"})
        EXPECT_EQ(load(unnamed + names),
                  "input_name and output_name ought to differ from the files ZYL writes in a "
                  "work folder (zyl-log.txt, zyl-log-N.txt, zyl-exit-status)")
            << names;
    EXPECT_EQ(load(unnamed + "input_name=in.txt\noutput_name=zyl-log.txt.out\n"), "");

    // A template holding the work root would copy its own copies into itself.
    const char* nested = "Work root ought to lie outside the template folder";
    // An unnamed script has its default root in the current folder.
    EXPECT_EQ(load(head + "template_dir=.\n"), nested);
    EXPECT_EQ(load(head + "template_dir=/data/deck\nwork_root=/data/deck/./runs\n"), nested);
    EXPECT_EQ(load(head + "template_dir=/data/deck\nwork_root=/data/deck-runs\n"), "");
}

TEST_F(Loading, TheSearchMethodAndItsParameters)
{
    const std::string task = "[POPULATION]\nsize=4\n[VARIABLES]\nx=real[0;1]\n"
                             "[FUNCTION]\nanalytical=1\n[EQUATIONS]\nf=x\n";
    ASSERT_EQ(load(task), "");
    EXPECT_EQ(project.zyl->methodSettings, MethodSettings{});

    ASSERT_EQ(load(task + "[OPTIONS]\nmethod=CMAES\n[METHOD]\ncmaes_step=0.5\ncmaes_restarts=0\n"
                          "cmaes_growth=3\ncmaes_mean_rate=0.7\nde_f=2\nde_cr=0\n"
                          "de_adaptation=1\n"),
              "");
    const MethodSettings& m = project.zyl->methodSettings;
    EXPECT_EQ(m.method, Method::Cmaes);
    EXPECT_EQ(m.cmaes, (CmaesSettings{0.5, 0, 3, 0.7}));
    EXPECT_EQ(m.de, (DeSettings{2, 0, 1}));
    ASSERT_EQ(load(task + "[OPTIONS]\nmethod=de\n"), "");
    EXPECT_EQ(project.zyl->methodSettings.method, Method::De);
    ASSERT_EQ(load(task + "[OPTIONS]\nmethod=Trust\n[METHOD]\ntrust_radius=1\ntrust_after=0\n"), "");
    EXPECT_EQ(project.zyl->methodSettings.method, Method::Trust);
    EXPECT_EQ(project.zyl->methodSettings.trust, (TrustSettings{1, 0}));
    // The refinement belongs to another method; the trust region itself ignores it.
    ASSERT_EQ(load(task + "[METHOD]\ntrust_radius=0.05\ntrust_after=0.75\n"), "");
    EXPECT_EQ(project.zyl->methodSettings.trust, (TrustSettings{0.05, 0.75}));
    EXPECT_TRUE(project.zyl->methodSettings.refined());

    const std::pair<const char*, const char*> rejected[] = {
        {"[OPTIONS]\nmethod=pso", "Unknown method: pso (ga, cmaes, de, trust, nsga2 or smsemoa)"},
        {"[OPTIONS]\nmethod=nsga2", "Method nsga2 needs several objectives (OBJECTIVES)"},
        {"[METHOD]\ncmaes_step=0", "CMA-ES step ought to be a number from (0; 1]"},
        {"[METHOD]\ncmaes_step=1.5", "CMA-ES step ought to be a number from (0; 1]"},
        {"[METHOD]\ncmaes_step=wide", "CMA-ES step ought to be a number from (0; 1]"},
        {"[METHOD]\ncmaes_restarts=-1", "CMA-ES restarts ought to be a number from [0; 100]"},
        {"[METHOD]\ncmaes_restarts=2.5", "CMA-ES restarts ought to be a number from [0; 100]"},
        {"[METHOD]\ncmaes_growth=11", "CMA-ES growth ought to be a number from [1; 10]"},
        {"[METHOD]\ncmaes_mean_rate=-0.1", "CMA-ES mean rate ought to be a number from [0; 1]"},
        {"[METHOD]\nde_f=0", "DE weight f ought to be a number from (0; 2]"},
        {"[METHOD]\nde_cr=1.01", "DE crossover rate cr ought to be a number from [0; 1]"},
        {"[METHOD]\nde_adaptation=nan", "DE adaptation ought to be a number from [0; 1]"},
        {"[METHOD]\ntrust_radius=0", "Trust radius ought to be a number from (0; 1]"},
        {"[METHOD]\ntrust_radius=1.01", "Trust radius ought to be a number from (0; 1]"},
        {"[METHOD]\ntrust_after=1", "Trust after ought to be a number from [0; 1)"},
        {"[METHOD]\ntrust_after=-0.1", "Trust after ought to be a number from [0; 1)"},
        {"[METHOD]\ntrust_after=late", "Trust after ought to be a number from [0; 1)"},
    };
    for (const auto& [keys, message] : rejected)
        EXPECT_EQ(load(task + keys + "\n"), message) << keys;

    const std::string manual = "[POPULATION]\nsize=4\n[VARIABLES]\nx=real[0;1]\n"
                               "[FUNCTION]\nmanual=1\n[OPTIONS]\n";
    EXPECT_EQ(load(manual + "method=ga\n"), "");
    EXPECT_EQ(load(manual + "method=de\n"), "A manual task runs with method ga only");
    // Nor does a person type the values of a trust region that takes over late.
    EXPECT_EQ(load(manual + "[METHOD]\ntrust_after=0.5\n"),
              "A manual task runs with method ga only");
}

TEST_F(Loading, ConstraintsAreCheckedAtLoad)
{
    const std::string task = std::string(defaultTask) + "[CONSTRAINTS]\n";
    EXPECT_EQ(load(task + "c1=x1+x2-1\n[OPTIONS]\nconstraint_tolerance=0.5\n"
                          "stop_when=c1+Feasible+MinViolation+BestViolation>0\n"),
              "");
    EXPECT_EQ(project.zyl->constraintNames, (std::vector<std::string>{"c1"}));
    EXPECT_EQ(project.zyl->constraintTolerance, 0.5);
    EXPECT_EQ(load(task + "c1=x1+\n"), "Constraint c1: Syntax error!");
    EXPECT_EQ(load(task + "c1=k=2\n"),
              "Constraint c1 ought to be an expression without definitions");
    EXPECT_EQ(load(task + "x1=x2\n"),
              "Constraint name x1 is taken by a variable, a definition or a statistic");
    EXPECT_EQ(load(task + "Feasible=x2\n"),
              "Constraint name Feasible is taken by a variable, a definition or a statistic");
    EXPECT_EQ(load(task + "c+1=x2\n"), "Constraint name ought to be a name of the language: c+1");
    EXPECT_EQ(load(task + "c=x2\n[OPTIONS]\nconstraint_tolerance=-1\n"),
              "Constraint tolerance ought to be a number not below 0");
    // A constraint reads the design alone: not another constraint or a statistic, which hold
    // the values of the design or the generation before, not even through a definition; and
    // a name nothing defines is found now, not at the first evaluation.
    EXPECT_EQ(load(task + "c1=x1-1\nc2=-c1\n"),
              "Constraint c2 ought to name variables and definitions only, not the constraint c1");
    EXPECT_EQ(load(task + "c1=GlobalMin+1\n"),
              "Constraint c1 ought to name variables and definitions only, not the statistic "
              "GlobalMin");
    auto withG = [&](const std::string& g, const std::string& c1) {
        table.clear(); // the earlier loads left c1 defined as a number
        table.registerBuiltinSymbols();
        std::string text = task + "c1=" + c1 + "\n";
        return load(text.insert(text.find("\r\n\r\n[VARIABLES]"), "\r\ng=" + g));
    };
    EXPECT_EQ(withG("x1+c1", "x2*g"),
              "Constraint c1 ought to name variables and definitions only, not the constraint "
              "c1 (through g)");
    EXPECT_EQ(load(task + "c1=x1+x2-1x1-1\n"), "Constraint c1: Unknown variable: 1x1");
    EXPECT_EQ(load(task + "sum=x1\n"), "Constraint name sum is a built-in name of the language");
    EXPECT_EQ(withG("sum(x1^i,{i,1,3})", "g-pi"), "");
    // Without the sections the task has no constraint, one objective and no new names.
    SymbolTable fresh;
    fresh.registerBuiltinSymbols();
    ProjectScript script = ProjectScript::fromText(defaultTask);
    script.StripBlanks();
    project = loadProject(script, settings, fresh, rng);
    EXPECT_FALSE(project.zyl->constrained());
    EXPECT_FALSE(project.zyl->multiObjective());
    EXPECT_EQ(fresh.lookup("Feasible"), nullptr);
    EXPECT_EQ(fresh.lookup("FrontSize"), nullptr);
    EXPECT_EQ(settings.externalObjectives, 0);
}

TEST_F(Loading, SeveralObjectivesAreCheckedAtLoad)
{
    const std::string task = "[POPULATION]\nsize=4\n[VARIABLES]\nx=real[0;1]\ny=integer[0;3]\n"
                             "[FUNCTION]\nanalytical=1\n[EQUATIONS]\ng=1+y\nf=x\n"
                             "[CONSTRAINTS]\nc=x-2\n";
    // Without f: the section holds the objectives.
    ASSERT_EQ(load(task + "[OBJECTIVES]\ncost=x\nloss=g*(1-x)\n[OPTIONS]\n"
                          "maximised_objectives=loss\nhv_reference=2;-1\n"
                          "stop_when=FrontSize+Hypervolume+cost_FrontMin+loss_FrontMax>99\n"),
              "");
    const Objectives& o = *project.zyl->objectives;
    EXPECT_EQ(o.names, (std::vector<std::string>{"cost", "loss"}));
    EXPECT_EQ(o.maximised, (std::vector<char>{0, 1}));
    EXPECT_EQ(o.reference, (std::vector<double>{2, -1}));
    EXPECT_EQ(o.formulas->role(), FormulaRole::Objective);
    EXPECT_EQ(project.zyl->methodSettings.method, Method::SmsEmoa);
    // The value is the first objective, in its own direction.
    EXPECT_FALSE(project.zyl->maximise);
    EXPECT_EQ(settings.externalObjectives, 0);

    const std::string two = "[OBJECTIVES]\ncost=x\nloss=y\n";
    const std::pair<std::string, const char*> rejected[] = {
        {"[OBJECTIVES]\ncost=x\n", "OBJECTIVES ought to hold two objectives or more"},
        {two + "[OPTIONS]\nmethod=ga\n",
         "A task with several objectives runs with method nsga2 or smsemoa"},
        {two + "[METHOD]\ntrust_after=0.5\n",
         "A task with several objectives runs with method nsga2 or smsemoa"},
        {two + "[OPTIONS]\nmaximisation=1\n",
         "A task with several objectives names the maximised ones in maximised_objectives, not "
         "by maximisation"},
        {two + "[OPTIONS]\nmaximised_objectives=cost;gain\n",
         "Maximised objective gain is not an objective of the task"},
        {two + "[OPTIONS]\nhv_reference=1\n",
         "Hypervolume reference ought to hold one finite number per objective (2), separated by "
         "\";\""},
        {two + "[OPTIONS]\nhv_reference=1;inf\n",
         "Hypervolume reference ought to hold one finite number per objective (2), separated by "
         "\";\""},
        {"[OPTIONS]\nhv_reference=1;1\n",
         "Hypervolume reference needs a task with several objectives (OBJECTIVES)"},
        {"[OPTIONS]\nmaximised_objectives=f\n",
         "Maximised objectives needs a task with several objectives (OBJECTIVES)"},
        {"[OBJECTIVES]\ng=x\nloss=y\n",
         "Objective name g is taken by a variable, a definition, a constraint or a statistic"},
        {"[OBJECTIVES]\nc=x\nloss=y\n",
         "Objective name c is taken by a variable, a definition, a constraint or a statistic"},
        {"[OBJECTIVES]\nHypervolume=x\nloss=y\n",
         "Objective name Hypervolume is taken by a variable, a definition, a constraint or a "
         "statistic"},
        {"[OBJECTIVES]\nsin=x\nloss=y\n", "Objective name sin is a built-in name of the language"},
        {"[OBJECTIVES]\ncost=x+\nloss=y\n", "Objective cost: Syntax error!"},
        {"[OBJECTIVES]\ncost=x\nloss=cost*y\n",
         "Objective loss ought to name variables and definitions only, not the objective cost"},
        {"[OBJECTIVES]\ncost=x\nloss=c+y\n",
         "Objective loss ought to name variables and definitions only, not the constraint c"},
        {"[OBJECTIVES]\ncost=x\nloss=Hypervolume\n",
         "Objective loss ought to name variables and definitions only, not the statistic "
         "Hypervolume"},
        {"[OBJECTIVES]\ncost=x\nloss=z\n", "Objective loss: Unknown variable: z"},
        {"[OBJECTIVES]\nx=y\nc=y\n",
         "Objective name x is taken by a variable, a definition, a constraint or a statistic"},
    };
    for (const auto& [keys, message] : rejected) {
        table.clear();
        table.registerBuiltinSymbols();
        EXPECT_EQ(load(task + keys), message) << keys;
    }
    // A statistic of an objective that a variable already holds.
    EXPECT_EQ(load("[POPULATION]\nsize=4\n[VARIABLES]\nx=real[0;1]\na_FrontMin=real[0;1]\n"
                   "[FUNCTION]\nanalytical=1\n[OBJECTIVES]\na=x\nb=1-x\n"),
              "The statistic a_FrontMin is taken by a variable, a definition or a constraint");
    EXPECT_EQ(load("[POPULATION]\nsize=4\n[VARIABLES]\nx=real[0;1]\n[FUNCTION]\nmanual=1\n"
                   "[OBJECTIVES]\na=x\nb=1-x\n"),
              "A manual task has one objective: OBJECTIVES is not available");

    // An external program's objectives follow the section's, one unless it says more.
    const std::string external = "[POPULATION]\nsize=4\n[VARIABLES]\nx=real[0;1]\n"
                                 "[FUNCTION]\nexternal=1\nexternal_name=p\ninput_name=i\n"
                                 "output_name=o\n";
    ASSERT_EQ(load(external + "[OBJECTIVES]\nspan=x*2\n"), "");
    EXPECT_EQ(project.zyl->objectives->names, (std::vector<std::string>{"span", "Objective1"}));
    EXPECT_EQ(settings.externalObjectives, 1);
    ASSERT_EQ(load(external + "external_objectives=3\n[OPTIONS]\nmethod=nsga2\n"), "");
    EXPECT_EQ(project.zyl->objectives->names,
              (std::vector<std::string>{"Objective1", "Objective2", "Objective3"}));
    EXPECT_EQ(settings.externalObjectives, 3);
    EXPECT_EQ(project.zyl->methodSettings.method, Method::Nsga2);
    EXPECT_EQ(load(external + "external_objectives=1\n"),
              "External objectives ought to be a number from [2; 1000]");
    EXPECT_EQ(load(external + "external_objectives=0\n[OBJECTIVES]\nspan=x\n"),
              "External objectives ought to be a number from [1; 1000]");
}
