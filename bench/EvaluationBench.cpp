// Batches of external evaluations by the local and the Slurm backends: one batch is a
// generation of 16 individuals, each in its own work folder; the time is the batch's wall time,
// from handing it over to its last result.
//
//   build/release/bench/EvaluationBench --benchmark_counters_tabular=true
//
// Sleep/W: an objective that sleeps 0.2 s, with W workers. Waiting programs need no cores, so
//   the time falls with W up to 16 (the floor is 0.2 s plus starting 16 programs).
// Cpu/W: an objective that computes for about 0.6 s on one core (awk), 8 per batch, W workers.
// SlurmArray/W: the sleeping objective as one job array on the cluster SLURM_CONF names (or the
//   one of scripts/local-slurm.sh), at most W tasks at once; skipped without a cluster.
// "speedup" is the time of the same batch with one worker (measured once per objective) over
// this one.
#include "engine/backends/LocalBackend.h"
#include "engine/backends/SlurmArrayBackend.h"

#include "engine/backends/BatchEvaluator.h"
#include "engine/backends/ChildProcess.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>

#include <unistd.h>

using namespace zyl;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

/// A scratch folder for the objectives and their work folders, removed at exit.
const fs::path& scratch()
{
    static const fs::path dir = [] {
        fs::path made =
            fs::temp_directory_path() / ("zyl-evaluation-bench-" + std::to_string(::getpid()));
        fs::create_directories(made);
        std::atexit([] {
            std::error_code ignored;
            fs::remove_all(scratch(), ignored);
        });
        return made;
    }();
    return dir;
}

std::string objective(const std::string& name, const std::string& body)
{
    const fs::path path = scratch() / name;
    if (!fs::exists(path)) {
        std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
        fs::permissions(path, fs::perms::owner_all);
    }
    return path.string();
}

std::string sleeper()
{
    return objective("sleep.sh", "sleep 0.2; read a b < \"$1\"; echo $((a + b)) > \"$2\"");
}

std::string cruncher()
{
    return objective("crunch.sh", "read a b < \"$1\"; awk -v a=$a 'BEGIN { for (i = 0; i < "
                                  "12000000; i++) s += (i % 7) * a; print s }' > \"$2\"");
}

std::vector<EvaluationRequest> generation(int size)
{
    std::vector<EvaluationRequest> requests;
    for (int k = 0; k < size; ++k)
        requests.push_back({1, k, std::to_string(k) + " 1 "});
    return requests;
}

/// Runs one batch; false when an evaluation failed.
double runBatch(std::unique_ptr<ProgramBackend> backend, int size, bool& ok)
{
    BatchEvaluator evaluator(std::move(backend), {}, nullptr);
    const auto start = Clock::now();
    BatchOutcome outcome = evaluator.evaluate(generation(size), nullptr, {});
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    ok = !outcome.failed && !outcome.cancelled;
    return seconds;
}

WorkFolders folders(const std::string& name)
{
    return WorkFolders{(scratch() / name).string(), "", false};
}

std::unique_ptr<ProgramBackend> local(const std::string& program, int workers)
{
    LocalBackendOptions options;
    options.program = {"in.txt", program, "out.txt", 0};
    options.workers = workers;
    options.folders = folders("local-runs");
    return std::make_unique<LocalBackend>(options);
}

/// The one-worker time of each objective, for the speedup counter.
std::map<std::string, double>& baseline()
{
    static std::map<std::string, double> times;
    return times;
}

void report(benchmark::State& state, const std::string& key, double seconds, int workers)
{
    if (workers == 1)
        baseline()[key] = seconds;
    if (baseline().count(key))
        state.counters["speedup"] = baseline()[key] / seconds;
}

void Sleep(benchmark::State& state)
{
    const int workers = static_cast<int>(state.range(0));
    double total = 0;
    for (auto _ : state) {
        bool ok = false;
        const double seconds = runBatch(local(sleeper(), workers), 16, ok);
        state.SetIterationTime(seconds);
        total += seconds;
        if (!ok)
            state.SkipWithError("an evaluation failed");
    }
    report(state, "sleep", total / static_cast<double>(state.iterations()), workers);
}
BENCHMARK(Sleep)->Arg(1)->Arg(2)->Arg(4)->Arg(8)->Arg(16)->UseManualTime()->Iterations(3)->Unit(
    benchmark::kMillisecond);

void Cpu(benchmark::State& state)
{
    const int workers = static_cast<int>(state.range(0));
    double total = 0;
    for (auto _ : state) {
        bool ok = false;
        const double seconds = runBatch(local(cruncher(), workers), 8, ok);
        state.SetIterationTime(seconds);
        total += seconds;
        if (!ok)
            state.SkipWithError("an evaluation failed");
    }
    report(state, "cpu", total / static_cast<double>(state.iterations()), workers);
}
BENCHMARK(Cpu)->Arg(1)->Arg(2)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

bool clusterAnswers()
{
    if (!std::getenv("SLURM_CONF") && fs::exists("/tmp/zyl-slurm/slurm.conf"))
        ::setenv("SLURM_CONF", "/tmp/zyl-slurm/slurm.conf", 0);
    const CommandResult ping = runCommand({"scontrol", "ping"}, 5);
    return ping.succeeded() && ping.out.find("UP") != std::string::npos;
}

void SlurmArray(benchmark::State& state)
{
    if (!clusterAnswers()) {
        state.SkipWithError("no Slurm cluster answers (scripts/local-slurm.sh start)");
        return;
    }
    const int workers = static_cast<int>(state.range(0));
    for (auto _ : state) {
        SlurmArrayOptions options;
        options.program = {"in.txt", sleeper(), "out.txt", 0};
        options.workers = workers;
        options.folders = folders("slurm-runs");
        options.pollSeconds = 0.1;
        bool ok = false;
        state.SetIterationTime(runBatch(std::make_unique<SlurmArrayBackend>(options), 16, ok));
        if (!ok)
            state.SkipWithError("an evaluation failed");
    }
}
BENCHMARK(SlurmArray)
    ->Arg(2)
    ->Arg(16)
    ->UseManualTime()
    ->Iterations(2)
    ->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
