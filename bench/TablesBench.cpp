// The tabular result windows on long runs with history: what one more generation costs the
// GUI thread once the lists already hold many generations, and what a row costs in memory.
//
//   build/release/bench/TablesBench
//
// Population: a shown Population window with the population history on; each iteration adds
// the block of one generation of 1000 individuals (1001 rows) and lets the window repaint.
// "Notice" announces every block at once (a slow run); "Batched" leaves it to the window's
// batch timer (a fast run). The argument is the number of generations already in the list.
// Counters: bytes/row of the list's own data, and of the whole process (data + view); the
// latter only means something for the first benchmark of a process (later ones reuse memory
// that earlier ones freed), so run one at a time for it, e.g.
//   build/release/bench/TablesBench --benchmark_filter='Population/Notice/30000'
// "Batched" shows what a generation costs between notices; the notice itself costs what
// "Notice" shows, at most once per batch interval (100 ms).
//
// Statistics: a shown Statistics window with the statistic history on, 19 rows a generation.
// Buffered: 1000 single buffer rows per iteration, the event loop turning after each one, as
// it does between the run's steps.
#include "engine/Statistics.h"
#include "script/ProjectSettings.h"
#include "windows/BufferedWindow.h"
#include "windows/PopulationWindow.h"
#include "windows/StatisticsWindow.h"

#include <QApplication>
#include <QTableView>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <unistd.h>

using namespace zyl;

namespace {

/// Resident memory of the process in bytes.
double residentBytes()
{
    long pages = 0, resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(f);
    }
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE));
}

/// 1000 individuals of a real and an integer variable, as a task of that size has them.
std::unique_ptr<ZYL> population1000(Rng& rng)
{
    Indiv templ(2);
    templ.setGene(0, std::make_unique<Floating_>());
    templ.setGene(1, std::make_unique<Integer_>());
    std::vector<VariableRange> ranges(2);
    ranges[0].realLo = -5;
    ranges[0].realHi = 5;
    ranges[1].intLo = 0;
    ranges[1].intHi = 100;
    auto zyl = std::make_unique<ZYL>(1000, std::move(templ),
                                     std::vector<std::string>{"x1", "n"}, ranges, rng);
    for (int i = 0; i < zyl->popSize; ++i) {
        Indiv& ind = zyl->population[static_cast<std::size_t>(i)];
        ind.value = ind.gene(0)->getValue() * ind.gene(0)->getValue() + i * 1e-3;
        ind.evaluated = true;
    }
    return zyl;
}

template <bool Notice> void population(benchmark::State& state)
{
    const int prefill = static_cast<int>(state.range(0));
    LcgRng rng(5);
    auto zyl = population1000(rng);
    ProjectSettings settings;
    settings.functionMode = FunctionMode::Analytical;
    settings.populationHistory = true;
    const double before = residentBytes();
    auto window = std::make_unique<TForm2>(*zyl, settings, TForm2::Hooks{});
    window->show();
    for (int g = 0; g < prefill; ++g)
        window->fillPopulationList(true);
    window->model().flush();
    QApplication::processEvents();
    const double rows = window->model().rowCount();
    state.counters["rows"] = rows;
    if (rows > 0) {
        state.counters["data bytes/row"] = static_cast<double>(window->model().storageBytes()) / rows;
        state.counters["process bytes/row"] = (residentBytes() - before) / rows;
    }
    for (auto _ : state) {
        window->fillPopulationList(true);
        if (Notice)
            window->model().flush();
        QApplication::processEvents();
    }
}

void statistics(benchmark::State& state)
{
    const int prefill = static_cast<int>(state.range(0));
    LcgRng rng(5);
    auto zyl = population1000(rng);
    computeStatistics(*zyl);
    ProjectSettings settings;
    settings.statisticHistory = true;
    const double before = residentBytes();
    auto window = std::make_unique<TStatistics>(*zyl, settings);
    window->show();
    for (int g = 0; g < prefill; ++g)
        window->showStatistics();
    window->model().flush();
    QApplication::processEvents();
    const double rows = window->model().rowCount();
    state.counters["rows"] = rows;
    if (rows > 0) {
        state.counters["data bytes/row"] = static_cast<double>(window->model().storageBytes()) / rows;
        state.counters["process bytes/row"] = (residentBytes() - before) / rows;
    }
    for (auto _ : state) {
        window->showStatistics();
        window->model().flush();
        QApplication::processEvents();
    }
}

void buffered(benchmark::State& state)
{
    const int prefill = static_cast<int>(state.range(0));
    LcgRng rng(5);
    auto zyl = population1000(rng);
    auto window = std::make_unique<TForm3>(*zyl);
    window->show();
    for (int r = 0; r < prefill; ++r)
        window->model().appendIndividual(zyl->population[static_cast<std::size_t>(r % 1000)], true);
    window->model().flush();
    QApplication::processEvents();
    for (auto _ : state) {
        for (const Indiv& ind : zyl->population) {
            window->addBufferedRow(ind);
            QApplication::processEvents();
        }
    }
    state.counters["rows"] = window->model().storedRows();
}

} // namespace

BENCHMARK(population<true>)
    ->Name("Population/Notice")
    ->Arg(0)
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(30000)
    ->Iterations(30)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(population<false>)
    ->Name("Population/Batched")
    ->Arg(1000)
    ->Arg(30000)
    ->Iterations(30)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(statistics)->Arg(1000)->Arg(30000)->Iterations(100)->Unit(benchmark::kMillisecond);
BENCHMARK(buffered)->Arg(0)->Arg(10000000)->Iterations(10)->Unit(benchmark::kMillisecond);
