// What one look at a watched run store costs the watcher once the store holds many
// evaluations: the writer (in this process) commits one generation of the 1000 x 1000
// default task with the buffer on, untimed; the timed part is the watch's update, which reads
// what is new and applies it (the state, one generation, two plot points, 1000 buffer
// entries), and with the windows also what the windows do with it until they have
// repainted (the Statistics, Population, Buffered and chart windows, shown offscreen).
//
//   build/release/bench/WatchBench
//
// The argument is the number of evaluations the store holds when the looks begin (the
// buffer's entries, up to 1000 a generation); the Buffered window holds a row for each.
#include "engine/Task.h"
#include "script/ProjectSettings.h"
#include "store/RunRecorder.h"
#include "store/StoreWatch.h"
#include "store/StoredSession.h"
#include "windows/ResultWindows.h"

#include <QApplication>
#include <QMdiArea>

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>

using namespace zyl;

namespace {

namespace fs = std::filesystem;

std::string taskText()
{
    std::ifstream in(std::string(ZYL_SOURCE_DIR) + "/bench/tasks/default-1000x1000.txt");
    std::string text(std::istreambuf_iterator<char>(in), {});
    text.replace(text.find("loop_counter=1000"), 17, "loop_counter=1");
    text.replace(text.find("max_iteration=1000"), 18, "max_iteration=30000");
    return text + "[PLOTS]\nConvergence=Average;CurrentMin\n"
                  "[SHOW]\nbuffer_individuals=1\nbuffered=1\npopulation=1\n";
}

void removeStore(const std::string& path)
{
    for (const char* suffix : {"", "-wal", "-shm"})
        fs::remove(path + suffix);
}

/// The process that writes: zyl-batch's session, committing every generation it runs.
struct Writer {
    explicit Writer(const std::string& store)
    {
        table.registerBuiltinSymbols();
        StoreRequest request;
        request.storePath = store;
        request.script = ProjectScript::fromText(taskText());
        request.script->StripBlanks();
        request.seed = 1;
        session = StoredSession::open(request, settings, table);
        session->recorder().setPacing(false);
        recording.emplace(session->recorder(), quiet, session->zyl(), settings);
    }
    void run(int generations)
    {
        DirectSynchronizer sync;
        for (int g = 0; g < generations; ++g) {
            Task task(RunContext{session->zyl(), settings, session->script, table,
                                 session->project.plots},
                      sync, *recording);
            task.execute();
        }
        session->recorder().settle();
    }
    SymbolTable table;
    ProjectSettings settings;
    std::unique_ptr<StoredSession> session;
    RunObserver quiet;
    std::optional<RecordingObserver> recording;
};

/// The watch's calls handed to the windows, as the desktop program hands them.
class ToWindows : public WatchObserver {
public:
    ResultWindows* windows = nullptr;
    void buffered(const Indiv& entry) override
    {
        if (windows)
            windows->buffered(entry);
    }
    void storedGeneration(const GenerationRecord& g) override
    {
        if (windows)
            windows->storedStatistics(g.rows);
    }
    void plotUpdated(std::size_t plot) override
    {
        if (windows)
            windows->plotUpdated(plot);
    }
    void populationChanged() override
    {
        if (windows)
            windows->populationChanged();
    }
};

void look(benchmark::State& state, bool withWindows)
{
    const std::string store =
        (fs::temp_directory_path() / ("zyl-watch-bench-" + std::to_string(::getpid()) + ".zyl"))
            .string();
    removeStore(store);
    {
        Writer writer(store);
        while (writer.session->zyl().buffer.size() < static_cast<std::size_t>(state.range(0)))
            writer.run(1);
        SymbolTable table;
        table.registerBuiltinSymbols();
        ProjectSettings settings;
        std::unique_ptr<StoreWatch> watch = StoreWatch::open(store, settings, table);
        QMdiArea area;
        std::unique_ptr<ResultWindows> windows;
        ToWindows observer;
        if (withWindows) {
            area.resize(1200, 900);
            area.show();
            windows = std::make_unique<ResultWindows>(ResultContext{
                &area, watch->zyl(), settings, watch->project().plots, {}, {}});
            windows->flush();
            QApplication::processEvents();
            observer.windows = windows.get();
        }
        const auto evaluations = static_cast<double>(watch->zyl().buffer.size());
        for (auto _ : state) {
            state.PauseTiming();
            writer.run(1);
            state.ResumeTiming();
            if (!watch->update(observer))
                state.SkipWithError("the look found nothing new");
            if (windows) {
                windows->flush();
                QApplication::processEvents();
            }
        }
        state.counters["stored"] = evaluations;
    }
    removeStore(store);
}

void BM_WatchUpdate(benchmark::State& state)
{
    look(state, false);
}
void BM_WatchUpdateWithWindows(benchmark::State& state)
{
    look(state, true);
}
BENCHMARK(BM_WatchUpdate)->Arg(10000)->Arg(100000)->Iterations(30)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WatchUpdateWithWindows)
    ->Arg(10000)
    ->Arg(100000)
    ->Iterations(30)
    ->Unit(benchmark::kMillisecond);

} // namespace

