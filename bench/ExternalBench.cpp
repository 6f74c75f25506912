// External evaluations per second, and how quickly a stuck program is noticed and killed.
//
//   build/release/bench/ExternalBench --benchmark_counters_tabular=true
//
// Objective: the shipped examples/external/objective.sh (sh + awk, Rosenbrock of 5 variables).
// True: /bin/true, the floor set by starting a process and passing the two files.
// Timeout: examples/external/hang.sh stopped by a 20 ms timeout; "past_timeout_ms" is the time
//   the call took beyond the timeout: starting the program (about the True figure), then
//   noticing the timeout, killing the group and reaping.
// Cancel: the same program cancelled from another thread; "latency_ms" is the time from the
//   flag being set until the call returned.
#include "engine/External.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include <unistd.h>

using namespace zyl;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

/// The examples are found next to this source file, so the benchmark runs from any directory;
/// the current directory is the fallback for a moved build.
std::string example(const char* name)
{
    fs::path besideSource =
        fs::path(__FILE__).parent_path().parent_path() / "examples" / "external" / name;
    if (fs::exists(besideSource))
        return besideSource.string();
    fs::path besideCwd = fs::path("examples") / "external" / name;
    return fs::exists(besideCwd) ? fs::absolute(besideCwd).string() : std::string();
}

ExternalProgram programFor(const std::string& externalName)
{
    fs::path dir = fs::temp_directory_path();
    std::string tag = std::to_string(::getpid());
    ExternalProgram program;
    program.externalName = externalName;
    program.inputName = (dir / ("zyl-bench-in-" + tag + ".txt")).string();
    program.outputName = (dir / ("zyl-bench-out-" + tag + ".txt")).string();
    return program;
}

void removeFiles(const ExternalProgram& program)
{
    std::error_code ignored;
    fs::remove(program.inputName, ignored);
    fs::remove(program.outputName, ignored);
}

Indiv fiveReals()
{
    Indiv ind(5);
    for (int j = 0; j < 5; ++j)
        ind.setGene(j, std::make_unique<Floating_>(0.5 * j - 1));
    return ind;
}

void runEvaluations(benchmark::State& state, const std::string& externalName)
{
    if (externalName.empty() || !fs::exists(externalName)) {
        state.SkipWithError("the external program was not found");
        return;
    }
    ExternalProgram program = programFor(externalName);
    Indiv ind = fiveReals();
    std::atomic<bool> cancel{false};
    for (auto _ : state) {
        if (!evaluateExternal(program, ind, cancel)) {
            state.SkipWithError("the external program failed");
            break;
        }
        benchmark::DoNotOptimize(ind.value);
    }
    state.SetItemsProcessed(state.iterations());
    removeFiles(program);
}

void BM_Objective(benchmark::State& state)
{
    runEvaluations(state, example("objective.sh"));
}
BENCHMARK(BM_Objective)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_True(benchmark::State& state)
{
    runEvaluations(state, "/bin/true");
}
BENCHMARK(BM_True)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Timeout(benchmark::State& state)
{
    std::string hang = example("hang.sh");
    if (hang.empty()) {
        state.SkipWithError("examples/external/hang.sh was not found");
        return;
    }
    constexpr double timeout = 0.02;
    ExternalProgram program = programFor(hang);
    program.timeoutSeconds = timeout;
    Indiv ind = fiveReals();
    std::atomic<bool> cancel{false};
    double overrun = 0;
    for (auto _ : state) {
        auto start = Clock::now();
        evaluateExternal(program, ind, cancel);
        overrun += std::chrono::duration<double>(Clock::now() - start).count() - timeout;
    }
    state.counters["past_timeout_ms"] = 1000 * overrun / static_cast<double>(state.iterations());
    removeFiles(program);
}
BENCHMARK(BM_Timeout)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Cancel(benchmark::State& state)
{
    std::string hang = example("hang.sh");
    if (hang.empty()) {
        state.SkipWithError("examples/external/hang.sh was not found");
        return;
    }
    ExternalProgram program = programFor(hang);
    Indiv ind = fiveReals();
    double latency = 0;
    for (auto _ : state) {
        std::atomic<bool> cancel{false};
        Clock::time_point setAt;
        std::thread canceller([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            setAt = Clock::now();
            cancel = true;
        });
        evaluateExternal(program, ind, cancel);
        auto returned = Clock::now();
        canceller.join();
        latency += std::chrono::duration<double>(returned - setAt).count();
    }
    state.counters["latency_ms"] = 1000 * latency / static_cast<double>(state.iterations());
    removeFiles(program);
}
BENCHMARK(BM_Cancel)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
