#include "engine/Task.h"

#include "common/Exception.h"
#include "engine/Objectives.h"
#include "expr/Statement.h"
#include "project/Loader.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>

using namespace zyl;

namespace {

/// Records what a front end would be told; can act on an evaluation (to terminate, say).
class Recorder : public RunObserver {
public:
    void warning(const std::string& text) override { warnings.push_back(text); }
    void evaluatedValue(int index) override
    {
        evaluated.push_back(index);
        if (onEvaluated)
            onEvaluated(index);
    }
    void buffered(const Indiv&) override { ++bufferedRows; }
    void statistics() override
    {
        ++statisticsShown;
        if (onStatistics)
            onStatistics();
    }
    void plotUpdated(std::size_t plot) override { plotsUpdated.push_back(plot); }
    void populationChanged() override { ++populationShown; }
    void generationDone() override { ++generations; }

    std::vector<std::string> warnings;
    std::vector<int> evaluated;
    std::vector<std::size_t> plotsUpdated;
    int bufferedRows = 0, statisticsShown = 0, populationShown = 0, generations = 0;
    std::function<void(int)> onEvaluated;
    std::function<void()> onStatistics;
};

class Runs : public ::testing::Test {
protected:
    Runs() { table.registerBuiltinSymbols(); }

    void load(const std::string& text, std::uint64_t seed = 1)
    {
        script = ProjectScript::fromText(text);
        script.StripBlanks();
        rng.reseed(seed);
        project = loadProject(script, settings, table, rng);
    }

    /// One Run: a fresh task on the loaded project.
    void run()
    {
        Task task(RunContext{*project.zyl, settings, script, table, project.plots}, sync,
                  recorder);
        current = &task;
        task.execute();
        current = nullptr;
    }

    std::string analytical(const std::string& extra, const std::string& f = "x1^2+x2^2",
                           int size = 10)
    {
        return "[FUNCTION]\nanalytical=1\n[EQUATIONS]\nf=" + f +
               "\n[VARIABLES]\nx1=real[-1;1]\nx2=real[-1;1]\n[POPULATION]\nsize=" +
               std::to_string(size) + "\n" + extra;
    }

    SymbolTable table;
    ProjectSettings settings;
    ProjectScript script;
    LcgRng rng{1};
    LoadedProject project;
    DirectSynchronizer sync;
    Recorder recorder;
    Task* current = nullptr;

    double evaluateNumericText(const std::string& name)
    {
        return evaluateExpressionText(name, table).re;
    }
};

} // namespace

TEST_F(Runs, ALoopCounterOfThreeComputesThreeGenerationsPerRun)
{
    load(analytical("[OPTIONS]\nloop_counter=3\nmax_iteration=100\n[PLOTS]\nP=Average;CurrentMin\n"));
    run();
    EXPECT_EQ(project.zyl->generation, 3);
    EXPECT_EQ(recorder.statisticsShown, 3);
    EXPECT_EQ(recorder.evaluated.size(), 30u);
    EXPECT_EQ(project.plots[0].series[1].size(), 3u);
    EXPECT_EQ(project.plots[0].series[1][2].x, 3.0f);
    run();
    EXPECT_EQ(project.zyl->generation, 6);
    EXPECT_TRUE(recorder.warnings.empty());
    EXPECT_EQ(evaluateNumericText("Generation"), 6);
}

TEST_F(Runs, NothingHappensAtTheGenerationLimit)
{
    load(analytical("[OPTIONS]\nloop_counter=5\nmax_iteration=2\n"));
    run();
    EXPECT_EQ(project.zyl->generation, 2);
    const int evaluations = static_cast<int>(recorder.evaluated.size());
    run();
    EXPECT_EQ(project.zyl->generation, 2);
    EXPECT_EQ(static_cast<int>(recorder.evaluated.size()), evaluations);
}

TEST_F(Runs, TerminateCompletesTheIndividualInHand)
{
    load(analytical("[SHOW]\nbuffer_individuals=1\n"));
    recorder.onEvaluated = [this](int index) {
        if (index == 5)
            current->terminate();
    };
    run();
    const ZYL& zyl = *project.zyl;
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(zyl.population[i].evaluated, i <= 5) << i;
    EXPECT_EQ(zyl.buffer.size(), 6u);
    EXPECT_EQ(zyl.generation, 0);
    EXPECT_EQ(recorder.statisticsShown, 0);
    recorder.onEvaluated = nullptr;
    recorder.evaluated.clear();
    run();
    EXPECT_EQ(recorder.evaluated, (std::vector<int>{6, 7, 8, 9}));
    EXPECT_EQ(zyl.generation, 1);
}

TEST_F(Runs, BufferedIndividualsNeedNoEvaluation)
{
    // One variable with two values: after the first generation every individual is known.
    load("[FUNCTION]\nanalytical=1\n[EQUATIONS]\nf=b+1\n[VARIABLES]\nb=boolean\n"
         "[POPULATION]\nsize=20\n[SHOW]\nbuffer_individuals=1\n[OPTIONS]\nloop_counter=4\n");
    run();
    EXPECT_EQ(project.zyl->generation, 4);
    EXPECT_LE(project.zyl->buffer.size(), 2u);
    EXPECT_LE(recorder.evaluated.size(), 22u);
    for (const Indiv& ind : project.zyl->population)
        EXPECT_EQ(ind.value, ind.gene(0)->getValue() + 1);
}

TEST_F(Runs, EliteKeepsTheGlobalMinimum)
{
    load(analytical("[SELECTION]\ntournament=1\nelite=1\n[MUTATION]\nprobability=1\nuniform=1\n"));
    run();
    const ZYL& zyl = *project.zyl;
    bool found = false;
    for (const Indiv& ind : zyl.population)
        found = found || ind == zyl.globalMin;
    EXPECT_TRUE(found);
}

TEST_F(Runs, SeededRunsRepeat)
{
    load(analytical("[OPTIONS]\nloop_counter=20\n"), 99);
    run();
    const double first = project.zyl->globalMin.value;
    const std::string text = project.zyl->globalMin.text();
    table.clear();
    table.registerBuiltinSymbols();
    load(analytical("[OPTIONS]\nloop_counter=20\n"), 99);
    run();
    EXPECT_EQ(project.zyl->globalMin.value, first);
    EXPECT_EQ(project.zyl->globalMin.text(), text);
    EXPECT_LT(first, 0.05);
}

TEST_F(Runs, AnalyticalFailureStopsAfterTheIndividual)
{
    load(analytical("[SHOW]\nbuffer_individuals=1\n", "x1+y"));
    run();
    ASSERT_EQ(recorder.warnings, (std::vector<std::string>{"Analytical function\nUnknown variable: y"}));
    EXPECT_TRUE(project.zyl->population[0].evaluated);
    EXPECT_FALSE(project.zyl->population[1].evaluated);
    // A failed evaluation is not remembered: its value is not the individual's.
    EXPECT_EQ(project.zyl->buffer.size(), 0u);
    makeSymbolFromStatement("y=1", "", false, table);
    recorder.warnings.clear();
    run();
    EXPECT_TRUE(recorder.warnings.empty());
    EXPECT_EQ(project.zyl->generation, 1);
}

TEST_F(Runs, AFailureAfterAnIndividualThatNeededNoEvaluationIsShown)
{
    // Individual 1 has its value already (a buffer hit, say); individual 3 fails.
    load(analytical("", "ln(x1)+x2"));
    ZYL& zyl = *project.zyl;
    for (int i = 0; i < 10; ++i)
        zyl.population[i].gene(0)->setValue(0.5);
    zyl.population[1].evaluated = true;
    zyl.population[3].gene(0)->setValue(0.0);
    run();
    EXPECT_EQ(recorder.warnings, (std::vector<std::string>{"Analytical function\nSING "}));
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(zyl.population[i].evaluated, i <= 3) << i;
    EXPECT_EQ(recorder.evaluated, (std::vector<int>{0, 2, 3}));
}

TEST_F(Runs, FailingPlotsAndExportsCompleteTheGeneration)
{
    const auto file = std::filesystem::temp_directory_path() / "zyl-task-export.txt";
    std::filesystem::remove(file);
    load(analytical("[PLOTS]\nGood=Average\nBad=nothing\n[EXPORT]\nA=Average\nB=zz+\n"
                    "[EXPORT_NAMES]\nexport_every_iteration=1\nexport_name=" +
                    file.string() + "\n[OPTIONS]\nloop_counter=3\n"));
    run();
    ASSERT_EQ(recorder.warnings.size(), 2u);
    EXPECT_EQ(recorder.warnings[0], "Export\nSyntax error!");
    EXPECT_EQ(recorder.warnings[1], "User Plots\nUnknown variable: nothing");
    EXPECT_EQ(project.zyl->generation, 1);
    EXPECT_EQ(project.plots[0].series[0].size(), 1u);
    EXPECT_EQ(recorder.plotsUpdated, (std::vector<std::size_t>{0}));
    std::filesystem::remove(file);
}

TEST_F(Runs, ManualValuesGoThroughTheBuffer)
{
    load("[FUNCTION]\nmanual=1\n[VARIABLES]\nx=real[0;1]\n[POPULATION]\nsize=4\n"
         "[SHOW]\nbuffer_individuals=1\n[OPTIONS]\nloop_counter=3\n");
    for (int i = 0; i < 4; ++i)
        enterManualValue(*project.zyl, i, 10.0 + i, recorder);
    enterManualValue(*project.zyl, 7, 1, recorder);
    EXPECT_EQ(recorder.bufferedRows, 4);
    settings.loopCounter = 1;
    run();
    EXPECT_EQ(project.zyl->generation, 1);
    EXPECT_EQ(project.zyl->globalMin.value, 10.0);
    EXPECT_TRUE(recorder.evaluated.empty());
}

namespace {
/// Runs every step directly and, before the step numbered `at`, does `edit`: as if the user
/// typed into the console while the run's thread was between two steps.
class EditingSynchronizer : public Synchronizer {
public:
    void run(const std::function<void()>& step) override
    {
        if (++calls == at && edit)
            edit();
        step();
    }
    int calls = 0;
    int at = 0;
    std::function<void()> edit;
};
} // namespace

TEST_F(Runs, ADefinitionChangedDuringAGenerationCountsFromTheNext)
{
    // f names c, defined after it, so that f follows c's definitions.
    load(analytical("[OPTIONS]\nloop_counter=2\n", "x1+c\nc=0", 200));
    // Slices of one block each: the first generation takes four steps; the edit comes between
    // the first two, in the middle of the generation's evaluation.
    EditingSynchronizer editing;
    editing.at = 2;
    editing.edit = [this] { makeSymbolFromStatement("c=1000", "", false, table); };
    struct Addends : RunObserver {
        std::vector<std::vector<double>> perGeneration; // value - x1 per individual
        const ZYL* zyl = nullptr;
        void generationEvaluated() override
        {
            perGeneration.emplace_back();
            for (const Indiv& ind : zyl->population) {
                const double x1 = ind.gene(0)->getValue();
                perGeneration.back().push_back(ind.value == x1 + 1000.0 ? 1000
                                               : ind.value == x1      ? 0
                                                                      : -1);
            }
        }
    } observer;
    observer.zyl = project.zyl.get();
    Task task(RunContext{*project.zyl, settings, script, table, project.plots}, editing, observer);
    task.setSlice(std::chrono::nanoseconds(0));
    task.execute();
    ASSERT_EQ(observer.perGeneration.size(), 2u);
    EXPECT_GT(editing.calls, 4);
    EXPECT_EQ(observer.perGeneration[0], std::vector<double>(200, 0)); // all with the old c
    EXPECT_EQ(observer.perGeneration[1], std::vector<double>(200, 1000));
}

TEST_F(Runs, ARunKeepsWhatItCompiledForTheNextYetFollowsNewDefinitions)
{
    load(analytical("", "x1+c\nc=0"));
    RunWorkspace workspace;
    auto runWith = [&] {
        RunContext context{*project.zyl, settings, script, table, project.plots};
        context.workspace = &workspace;
        Task(context, sync, recorder).execute();
        const Indiv& ind = project.zyl->currentMin;
        return ind.value - ind.gene(0)->getValue();
    };
    EXPECT_EQ(runWith(), 0);
    ASSERT_TRUE(workspace.objective.compiled());
    makeSymbolFromStatement("c=1000", "", false, table); // as in the console between runs
    EXPECT_EQ(runWith(), 1000);
    EXPECT_TRUE(recorder.warnings.empty());
}

TEST_F(Runs, ExpressionsKeepTheirMeaningCompiledOrNot)
{
    const auto file = std::filesystem::temp_directory_path() / "zyl-task-compiled-export.txt";
    std::filesystem::remove(file);
    // The first column defines k through the statement pipeline each generation; the columns
    // and plots after it that read k are compiled and must see the new definition at once.
    load(analytical("[EXPORT]\nk=k=Average*2\ntwice=k*2\nbest=GlobalMinIndiv\n[EXPORT_NAMES]\n"
                    "export_every_iteration=1\nexport_name=" +
                    file.string() + "\n[PLOTS]\nP=k+1;Generation\n[OPTIONS]\nloop_counter=3\n"));
    run();
    ASSERT_TRUE(recorder.warnings.empty()) << recorder.warnings[0];
    const auto& series = project.plots[0].series;
    std::ifstream in(file);
    std::string header, row;
    std::getline(in, header);
    EXPECT_EQ(header, "k\ttwice\tbest\t");
    std::vector<double> ks;
    for (std::size_t g = 0; g < 3; ++g) {
        std::getline(in, row);
        const std::size_t tab = row.find('\t');
        const double k = std::stod(row.substr(0, tab));
        ks.push_back(k);
        EXPECT_NEAR(std::stod(row.substr(tab + 1)), 2 * k, 1e-5 * std::fabs(k)) << row;
        EXPECT_NE(row.find("\t{"), std::string::npos) << row; // the vector, printed
        EXPECT_NEAR(series[0][g].y, k + 1, 1e-5 * std::fabs(k + 1));
        EXPECT_EQ(series[1][g].y, static_cast<float>(g + 1));
    }
    EXPECT_NE(ks[0], ks[2]); // the values moved, so a stale k would have shown
    std::filesystem::remove(file);
}

TEST_F(Runs, ConstraintsComeWithEveryEvaluatedValue)
{
    // g is a definition, so the compiled constraint must follow the EQUATIONS as f does.
    load(analytical("[CONSTRAINTS]\nc1=g-0.25\nc2=x2\n[OPTIONS]\nloop_counter=2\n"
                    "constraint_tolerance=0.01\nstop_when=Feasible<0\n",
                    "x1^2+x2^2\ng=x1*x1") );
    run();
    ASSERT_TRUE(recorder.warnings.empty()) << recorder.warnings[0];
    const ZYL& zyl = *project.zyl;
    for (const Indiv& ind : zyl.population) {
        if (!ind.evaluated)
            continue;
        const double x1 = ind.gene(0)->getValue(), x2 = ind.gene(1)->getValue();
        ASSERT_EQ(ind.constraints, (std::vector<double>{x1 * x1 - 0.25, x2}));
        EXPECT_EQ(ind.violation, std::max(0.0, x1 * x1 - 0.26) + std::max(0.0, x2 - 0.01));
    }
    EXPECT_EQ(evaluateNumericText("c2"), zyl.globalMin.constraints[1]);
}

TEST_F(Runs, AFailingConstraintFailsTheEvaluationOfItsDesign)
{
    load(analytical("[CONSTRAINTS]\nc=1/(x1-x1)\n"));
    run();
    ASSERT_EQ(recorder.warnings, (std::vector<std::string>{"Analytical function\nSING "}));
    EXPECT_TRUE(project.zyl->population[0].evaluated);
    EXPECT_FALSE(project.zyl->population[1].evaluated);
}

TEST_F(Runs, TypedValuesTakeTheConstraintsOfTheSection)
{
    load("[FUNCTION]\nmanual=1\n[VARIABLES]\nx=real[0;1]\n[POPULATION]\nsize=2\n"
         "[CONSTRAINTS]\nlimit=x-0.5\n");
    enterManualValue(*project.zyl, 1, 3, recorder);
    const Indiv& ind = project.zyl->population[1];
    EXPECT_EQ(ind.constraints, (std::vector<double>{ind.gene(0)->getValue() - 0.5}));
}

TEST_F(Runs, SeveralObjectivesComeWithEveryEvaluation)
{
    // The second objective through a definition, so that the compiled program must follow the
    // EQUATIONS as the tree does.
    const std::string task = "[FUNCTION]\nanalytical=1\n[EQUATIONS]\ng=1+x2*x2\n"
                             "[VARIABLES]\nx1=real[0;1]\nx2=real[-1;1]\n[POPULATION]\nsize=6\n"
                             "[OPTIONS]\nloop_counter=3\n[OBJECTIVES]\n";
    load(task + "a=x1\nb=g*(1-x1)\n");
    run();
    ASSERT_TRUE(recorder.warnings.empty()) << recorder.warnings[0];
    const ZYL& zyl = *project.zyl;
    ASSERT_EQ(zyl.objectives->kept.size(), 6u);
    for (const Indiv& ind : zyl.objectives->kept) {
        const double x1 = ind.gene(0)->getValue(), x2 = ind.gene(1)->getValue();
        ASSERT_EQ(ind.objectives, (std::vector<double>{x1, (1 + x2 * x2) * (1 - x1)}));
        EXPECT_EQ(ind.value, x1);
    }
    EXPECT_EQ(evaluateNumericText("FrontSize"), zyl.objectives->frontSize);
    EXPECT_GT(zyl.objectives->frontSize, 0);

    // An objective that fails, or is not real, fails its design's evaluation as f would.
    load(task + "a=x1\nb=1/(x1-x1)\n");
    run();
    EXPECT_EQ(recorder.warnings, (std::vector<std::string>{"Analytical function\nSING "}));
    recorder.warnings.clear();
    load(task + "a=x1\nb=sqrt(x2-2)\n");
    run();
    ASSERT_EQ(recorder.warnings.size(), 1u);
    EXPECT_EQ(recorder.warnings[0].rfind("Analytical function\nb is not a real number: ", 0), 0u)
        << recorder.warnings[0];
}

namespace {

/// An external program as a backend: f = x1 + x2 with the program's constraint x1 - 0.8,
/// every design it is sent kept.
class CountingProgram : public EvaluationBackend {
public:
    void evaluate(EvaluationBatch& batch) override
    {
        for (std::size_t k = 0; k < batch.size(); ++k) {
            const Indiv& ind = batch.individual(k);
            const double x1 = ind.gene(0)->getValue(), x2 = ind.gene(1)->getValue();
            sent.emplace_back(x1, x2);
            EvaluationOutcome outcome = EvaluationOutcome::evaluated(x1 + x2);
            outcome.constraints = {x1 - 0.8};
            batch.report(k, std::move(outcome));
        }
    }
    std::vector<std::pair<double, double>> sent;
};

} // namespace

TEST_F(Runs, AnExternalProgramIsSentNoDesignThatAConstraintRulesOut)
{
    for (const char* method : {"ga", "cmaes", "de", "trust"})
        for (const bool prescreen : {true, false}) {
            SCOPED_TRACE(std::string(method) + (prescreen ? "" : " prescreen=0"));
            table.clear();
            table.registerBuiltinSymbols();
            load(std::string("[FUNCTION]\nexternal=1\nexternal_name=none\ninput_name=in\n"
                             "output_name=out\nexternal_constraints=1\n") +
                 (prescreen ? "" : "prescreen=0\n") +
                 "[CONSTRAINTS]\nslim=x2-x1\n[VARIABLES]\nx1=real[0;1]\nx2=real[0;1]\n"
                 "[POPULATION]\nsize=6\n[OPTIONS]\nmax_iteration=12\nloop_counter=12\nmethod=" +
                 method + "\n[SHOW]\nbuffer_individuals=1\n");
            const ZYL& zyl = *project.zyl;
            int screenedSeen = 0;
            // The generation as its statistics see it: the screened designs left out.
            recorder.onStatistics = [&] {
                double sum = 0;
                int evaluated = 0;
                for (const Indiv& ind : zyl.population) {
                    if (!ind.screened) {
                        sum += ind.value;
                        ++evaluated;
                        continue;
                    }
                    const double x1 = ind.gene(0)->getValue(), x2 = ind.gene(1)->getValue();
                    EXPECT_TRUE(ind.evaluated && std::isnan(ind.value));
                    EXPECT_EQ(ind.violation, x2 - x1);
                    EXPECT_TRUE(std::isnan(ind.constraints.at(1)));
                }
                EXPECT_EQ(zyl.screened, zyl.popSize - evaluated);
                if (evaluated > 0) {
                    EXPECT_DOUBLE_EQ(zyl.average, sum / evaluated);
                }
                screenedSeen += zyl.screened;
            };
            CountingProgram program;
            StopRuleState stop;
            Task task(RunContext{*project.zyl, settings, script, table, project.plots, &program,
                                 &stop},
                      sync, recorder);
            task.execute();
            recorder.onStatistics = nullptr;
            ASSERT_TRUE(recorder.warnings.empty()) << recorder.warnings[0];
            ASSERT_EQ(zyl.generation, 12);
            const auto broken = std::count_if(program.sent.begin(), program.sent.end(),
                                              [](const auto& d) { return d.second > d.first; });
            // Only what the program computed counts as an evaluation.
            EXPECT_EQ(stop.evaluations, static_cast<std::int64_t>(program.sent.size()));
            if (prescreen) {
                EXPECT_EQ(broken, 0);
                EXPECT_GT(screenedSeen, 0);
                EXPECT_EQ(evaluateNumericText("Screened"), zyl.screened);
            } else {
                EXPECT_GT(broken, 0);
                EXPECT_EQ(screenedSeen, 0);
            }
        }
    // A screened design ranks after an evaluated one of any violation, and among its kind by
    // its own.
    const ZYL& zyl = *project.zyl;
    Indiv s1 = zyl.templateIndiv, s2 = zyl.templateIndiv, e = zyl.templateIndiv;
    const double small = 0.1, large = 0.7;
    zyl.screen(s1, &small);
    zyl.screen(s2, &large);
    e.evaluated = true;
    e.violation = std::numeric_limits<double>::infinity();
    EXPECT_TRUE(zyl.better(e, s1));
    EXPECT_FALSE(zyl.better(s1, e));
    EXPECT_TRUE(zyl.better(s1, s2));
    EXPECT_EQ(zyl.ruledOutBy(s2), "slim");
    std::string message;
    try {
        load("[FUNCTION]\nanalytical=1\nprescreen=2\n[EQUATIONS]\nf=x\n[VARIABLES]\n"
             "x=real[0;1]\n[POPULATION]\nsize=2\n");
    } catch (const Exception& error) {
        message = error.what();
    }
    EXPECT_EQ(message, "Prescreen ought to be 0 or 1");
}

TEST_F(Runs, WithSeveralObjectivesADesignRuledOutRanksAfterEveryEvaluatedOne)
{
    // The program's constraint is never a number: every evaluated design is infinitely
    // infeasible, and still ranks before a screened one of a small violation.
    class Program : public EvaluationBackend {
    public:
        void evaluate(EvaluationBatch& batch) override
        {
            for (std::size_t k = 0; k < batch.size(); ++k) {
                const double x1 = batch.individual(k).gene(0)->getValue();
                EvaluationOutcome outcome = EvaluationOutcome::evaluated(x1);
                outcome.objectives = {x1, 1 - x1};
                outcome.constraints = {std::numeric_limits<double>::quiet_NaN()};
                batch.report(k, std::move(outcome));
            }
        }
    } program;
    load("[FUNCTION]\nexternal=1\nexternal_name=none\ninput_name=in\noutput_name=out\n"
         "external_objectives=2\nexternal_constraints=1\n[CONSTRAINTS]\nslim=x2-x1\n"
         "[VARIABLES]\nx1=real[0;1]\nx2=real[0;1]\n[POPULATION]\nsize=8\n"
         "[OPTIONS]\nmax_iteration=10\nloop_counter=10\nmethod=nsga2\n");
    const ZYL& zyl = *project.zyl;
    int checked = 0;
    recorder.onStatistics = [&] {
        const auto& kept = zyl.objectives->kept;
        const bool anyEvaluated = std::any_of(kept.begin(), kept.end(),
                                              [](const Indiv& ind) { return !ind.screened; });
        for (std::size_t i = 0; i < kept.size(); ++i)
            if (anyEvaluated && kept[i].screened) {
                EXPECT_FALSE(zyl.objectives->onFront[i]) << "generation " << zyl.generation;
                ++checked;
            }
    };
    StopRuleState stop;
    Task task(RunContext{*project.zyl, settings, script, table, project.plots, &program, &stop},
              sync, recorder);
    task.execute();
    recorder.onStatistics = nullptr;
    ASSERT_TRUE(recorder.warnings.empty()) << recorder.warnings[0];
    EXPECT_GT(checked, 0) << "some screened design was kept beside evaluated ones";
}
