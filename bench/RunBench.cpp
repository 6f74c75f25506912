// Throughput of the optimiser's hot paths: the evaluation of the default objective (by the tree
// and compiled) and whole generations of the default task.
#include "engine/Formulas.h"
#include "engine/Task.h"
#include "expr/Evaluator.h"
#include "expr/Statement.h"
#include "project/Loader.h"

#include <benchmark/benchmark.h>

using namespace zyl;

namespace {

std::string defaultTask(int size, int generations)
{
    return "[FUNCTION]\nanalytical=1\n[EQUATIONS]\nf=-5.*sin(x1)*sin(x2)-sin(5*x1)*sin(5*x2)\n"
           "[VARIABLES]\nx1=real[0;3.1415]\nx2=real[0;3.1415]\n[POPULATION]\nsize=" +
           std::to_string(size) + "\n[OPTIONS]\nmax_iteration=30000\nloop_counter=" +
           std::to_string(generations) + "\n[PLOTS]\nConvergence=Average;CurrentMin\n";
}

void BM_EvaluateNumericDefaultObjective(benchmark::State& state)
{
    SymbolTable table;
    table.registerBuiltinSymbols();
    makeSymbolFromStatement("f=-5.*sin(x1)*sin(x2)-sin(5*x1)*sin(5*x2)", "", false, table);
    table.pushBack(makeSymbolFromValue(0.3, 0, "x1", false));
    table.pushBack(makeSymbolFromValue(1.2, 0, "x2", false));
    const Tensor& f = *table.lookup("f")->definition;
    double x = 0;
    for (auto _ : state) {
        setSymbolValue(table, "x1", x);
        x += 1e-6;
        benchmark::DoNotOptimize(evaluateNumeric(f, table));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_EvaluateNumericDefaultObjective);

// The same objective as a compiled program, as a run evaluates it: the variables of an
// individual in, the value out.
void BM_CompiledDefaultObjective(benchmark::State& state)
{
    SymbolTable table;
    table.registerBuiltinSymbols();
    makeSymbolFromStatement("f=-5.*sin(x1)*sin(x2)-sin(5*x1)*sin(5*x2)", "", false, table);
    Indiv ind(2);
    ind.setGene(0, std::make_unique<Floating_>(0.3));
    ind.setGene(1, std::make_unique<Floating_>(1.2));
    CompiledObjective objective;
    objective.prepare({"x1", "x2"}, table);
    double x = 0;
    for (auto _ : state) {
        ind.gene(0)->setValue(x);
        x += 1e-6;
        benchmark::DoNotOptimize(objective.evaluate(ind));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CompiledDefaultObjective);

// The same, 64 individuals at a time, as a run's generation is evaluated.
void BM_CompiledDefaultObjectiveBlock(benchmark::State& state)
{
    SymbolTable table;
    table.registerBuiltinSymbols();
    makeSymbolFromStatement("f=-5.*sin(x1)*sin(x2)-sin(5*x1)*sin(5*x2)", "", false, table);
    std::vector<Indiv> individuals;
    for (int i = 0; i < 64; ++i) {
        Indiv ind(2);
        ind.setGene(0, std::make_unique<Floating_>(0.01 * i));
        ind.setGene(1, std::make_unique<Floating_>(3.0 - 0.02 * i));
        individuals.push_back(std::move(ind));
    }
    const Indiv* rows[64];
    for (int i = 0; i < 64; ++i)
        rows[i] = &individuals[static_cast<std::size_t>(i)];
    CompiledObjective objective;
    objective.prepare({"x1", "x2"}, table);
    double values[64];
    for (auto _ : state) {
        std::size_t done = 0;
        objective.evaluateBlock(rows, 64, values, done);
        benchmark::DoNotOptimize(values);
    }
    state.SetItemsProcessed(state.iterations() * 64);
}
BENCHMARK(BM_CompiledDefaultObjectiveBlock);

void BM_GenerationsOfTheDefaultTask(benchmark::State& state)
{
    const int size = static_cast<int>(state.range(0));
    const int generations = 50;
    for (auto _ : state) {
        state.PauseTiming();
        SymbolTable table;
        table.registerBuiltinSymbols();
        ProjectSettings settings;
        ProjectScript script = ProjectScript::fromText(defaultTask(size, generations));
        LcgRng rng(1);
        LoadedProject project = loadProject(script, settings, table, rng);
        DirectSynchronizer sync;
        RunObserver observer;
        Task task(RunContext{*project.zyl, settings, script, table, project.plots}, sync,
                  observer);
        state.ResumeTiming();
        task.execute();
        benchmark::DoNotOptimize(project.zyl->globalMin.value);
    }
    state.SetItemsProcessed(state.iterations() * generations);
    state.counters["generations/s"] =
        benchmark::Counter(static_cast<double>(state.iterations() * generations),
                           benchmark::Counter::kIsRate);
}
BENCHMARK(BM_GenerationsOfTheDefaultTask)
    ->Arg(20)
    ->Arg(100)
    ->Arg(1000)
    ->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
