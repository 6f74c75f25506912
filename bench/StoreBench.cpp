// What the run store costs a run of the 1000 x 1000 default-objective task
// (bench/tasks/default-1000x1000.txt).
//
//   build/release/bench/StoreBench --benchmark_counters_tabular=true
//
// BM_GenerationCommit: one generation boundary committed (pacing off): the statistics rows
// taken, the population of 1000 changed, a generation record, two plot points and (second
// argument) 1000 new buffer entries on top of a buffer that already holds the first
// argument's number of entries; timed around the recorder's calls only (wall time, and the
// thread's processor time as "cpu us").
// BM_DefaultTask*: 100 generations of the task without a store, with a store whose commits
// are paced (what zyl-batch --store does) and with a commit at every boundary.
#include "engine/Task.h"
#include "project/Loader.h"
#include "store/RunRecorder.h"
#include "store/StoredSession.h"

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>

using namespace zyl;

namespace {

namespace fs = std::filesystem;

std::string taskText(int generations)
{
    std::ifstream in(std::string(ZYL_SOURCE_DIR) + "/bench/tasks/default-1000x1000.txt");
    std::string text(std::istreambuf_iterator<char>(in), {});
    // One Run of `generations` generations, with the default plot.
    text.replace(text.find("loop_counter=1000"), 17, "loop_counter=" + std::to_string(generations));
    return text + "[PLOTS]\nConvergence=Average;CurrentMin\n";
}

std::string scratchStore()
{
    const fs::path path =
        fs::temp_directory_path() / ("zyl-bench-" + std::to_string(::getpid()) + ".zyl");
    for (const char* suffix : {"", "-wal", "-shm"})
        fs::remove(path.string() + suffix);
    return path.string();
}

double threadSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

void removeStore(const std::string& path)
{
    for (const char* suffix : {"", "-wal", "-shm"})
        fs::remove(path + suffix);
}

struct Opened {
    explicit Opened(const std::string& store, int generations)
    {
        table.registerBuiltinSymbols();
        StoreRequest request;
        request.storePath = store;
        request.script = ProjectScript::fromText(taskText(generations));
        request.script->StripBlanks();
        request.seed = 1;
        session = StoredSession::open(request, settings, table);
    }
    SymbolTable table;
    ProjectSettings settings;
    std::unique_ptr<StoredSession> session;
};

void BM_GenerationCommit(benchmark::State& state)
{
    const std::string store = scratchStore();
    {
        Opened opened(store, 1);
        ZYL& zyl = opened.session->zyl();
        zyl.bufferIndividuals = true;
        RunRecorder& recorder = opened.session->recorder();
        recorder.setPacing(false);
        UserPlot& plot = opened.session->project.plots.at(0);
        Indiv entry = zyl.templateIndiv;
        double x = 0;
        auto newEntries = [&](long count) {
            for (long i = 0; i < count; ++i) {
                entry.gene(0)->setValue(x += 1e-7);
                zyl.buffer.append(entry);
            }
        };
        newEntries(state.range(0));
        recorder.finish();
        double cpuSeconds = 0;
        for (auto _ : state) {
            for (Indiv& ind : zyl.population) {
                ind.gene(0)->setValue(x += 1e-7);
                ind.value = x;
            }
            newEntries(state.range(1));
            plot.series[0].push_back({static_cast<float>(zyl.generation + 1), 1.0f});
            plot.series[1].push_back({static_cast<float>(zyl.generation + 1), 2.0f});
            const auto start = std::chrono::steady_clock::now();
            const double cpuStart = threadSeconds();
            recorder.statisticsComputed();
            zyl.generation += 1;
            recorder.generationDone();
            cpuSeconds += threadSeconds() - cpuStart;
            state.SetIterationTime(
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        }
        // The processor time of the timed part alone: steadier than the wall time on a
        // machine others share.
        state.counters["cpu us"] = cpuSeconds / static_cast<double>(state.iterations()) * 1e6;
        state.counters["store MB"] =
            static_cast<double>(fs::file_size(store) + fs::file_size(store + "-wal")) / 1e6;
    }
    removeStore(store);
}
BENCHMARK(BM_GenerationCommit)
    ->Args({0, 0})
    ->Args({1000000, 1000})
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond)
    ->Iterations(2000);

void runDefaultTask(benchmark::State& state, int mode)
{
    const int generations = 100;
    std::int64_t commits = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const std::string store = scratchStore();
        {
            SymbolTable table;
            table.registerBuiltinSymbols();
            ProjectSettings settings;
            ProjectScript script = ProjectScript::fromText(taskText(generations));
            script.StripBlanks();
            LcgRng rng(1);
            std::unique_ptr<Opened> opened;
            LoadedProject plain;
            RunObserver quiet;
            std::optional<RecordingObserver> recording;
            ZYL* zyl;
            std::vector<UserPlot>* plots;
            ProjectSettings* used = &settings;
            SymbolTable* symbols = &table;
            if (mode == 0) {
                plain = loadProject(script, settings, table, rng);
                zyl = plain.zyl.get();
                plots = &plain.plots;
            } else {
                opened = std::make_unique<Opened>(store, generations);
                opened->session->recorder().setPacing(mode == 1);
                zyl = &opened->session->zyl();
                plots = &opened->session->project.plots;
                used = &opened->settings;
                symbols = &opened->table;
                recording.emplace(opened->session->recorder(), quiet, *zyl, *used);
            }
            DirectSynchronizer sync;
            Task task(RunContext{*zyl, *used, script, *symbols, *plots}, sync,
                      recording ? static_cast<RunObserver&>(*recording) : quiet);
            state.ResumeTiming();
            task.execute();
            if (opened)
                opened->session->recorder().finish();
            state.PauseTiming();
            if (opened)
                commits += opened->session->recorder().commits();
        }
        removeStore(store);
        state.ResumeTiming();
    }
    state.counters["generations/s"] = benchmark::Counter(
        static_cast<double>(state.iterations() * generations), benchmark::Counter::kIsRate);
    state.counters["commits/run"] = static_cast<double>(commits) / state.iterations();
}

void BM_DefaultTaskWithoutStore(benchmark::State& state)
{
    runDefaultTask(state, 0);
}
void BM_DefaultTaskPacedStore(benchmark::State& state)
{
    runDefaultTask(state, 1);
}
void BM_DefaultTaskCommitEveryGeneration(benchmark::State& state)
{
    runDefaultTask(state, 2);
}
BENCHMARK(BM_DefaultTaskWithoutStore)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_DefaultTaskPacedStore)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_DefaultTaskCommitEveryGeneration)->Unit(benchmark::kMillisecond)->MinTime(2);

} // namespace

BENCHMARK_MAIN();
