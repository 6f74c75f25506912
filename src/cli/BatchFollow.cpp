#include "cli/BatchFollow.h"

#include "cli/BatchObserver.h"
#include "store/StoreWatch.h"

#include <unistd.h>

#include <chrono>
#include <iostream>
#include <thread>

namespace zyl::cli {

namespace {

/// How often the store is looked at: a look at a store nobody has written since costs a few
/// system calls.
constexpr auto kLookInterval = std::chrono::milliseconds(250);

/// The lines of a run as its store holds them.
class FollowPrinter : public WatchObserver {
public:
    FollowPrinter(StoreWatch& watch, OutputFormat format)
        : m_watch(watch), m_format(format), m_tty(isatty(STDERR_FILENO))
    {
    }

    void storedGeneration(const GenerationRecord& g) override
    {
        const ZYL& zyl = m_watch.zyl();
        const GenerationFigures& f = g.figures;
        ProgressLine p;
        p.generation = g.generation;
        p.maxIteration = zyl.maxIteration;
        p.evaluations = f.evaluations;
        const std::int64_t values = static_cast<std::int64_t>(g.generation) * zyl.popSize;
        p.fromBuffer = values > f.evaluations ? values - f.evaluations : 0;
        p.buffer = zyl.bufferIndividuals;
        p.currentMin = f.currentMin;
        p.globalMin = f.globalMin;
        // The run's own time, over all its sessions: the writer's clock, not this one's.
        p.elapsed = f.runSeconds;
        p.left = g.generation > 0 ? f.runSeconds / g.generation * (p.maxIteration - g.generation)
                                  : 0;
        m_lastSeconds = f.runSeconds;
        if (m_format == OutputFormat::Json) {
            std::cerr << progressJson(p).dump() << "\n";
        } else if (m_tty) {
            std::cerr << "\r\033[K" << progressText(p) << std::flush;
            m_lineOpen = true;
        } else {
            std::cerr << progressText(p) << "\n";
        }
    }

    void writerChanged() override
    {
        // The signs of life of a generation whose programs run, as the writer gives them.
        const WriterStatus& s = m_watch.status();
        if (m_format != OutputFormat::Json || !s.programs)
            return;
        const Json line = {{"evaluating", s.generation + 1},
                           {"maxIteration", s.maxIteration},
                           {"evaluations", s.evaluations},
                           {"running", s.programs->running},
                           {"queued", s.programs->queued},
                           {"done", s.programs->done},
                           {"failed", s.programs->failed},
                           {"elapsed", m_lastSeconds}};
        std::cerr << line.dump() << "\n";
    }

    void endLine()
    {
        if (m_lineOpen)
            std::cerr << "\n";
        m_lineOpen = false;
    }

private:
    StoreWatch& m_watch;
    OutputFormat m_format;
    bool m_tty;
    bool m_lineOpen = false;
    double m_lastSeconds = 0;
};

} // namespace

int followStore(const BatchOptions& options, const std::function<int()>& signalled)
{
    SymbolTable table;
    table.registerBuiltinSymbols();
    ProjectSettings settings;
    std::unique_ptr<StoreWatch> watch;
    try {
        watch = StoreWatch::open(options.follow, settings, table);
    } catch (const std::exception& error) {
        std::cerr << error.what() << "\n";
        return 2;
    }
    FollowPrinter printer(*watch, options.progress);
    for (const GenerationRecord& g : watch->generations())
        printer.storedGeneration(g);
    printer.writerChanged();
    for (;;) {
        if (const int signal = signalled()) {
            printer.endLine();
            return 128 + signal;
        }
        const WriterStatus& status = watch->status();
        if (status.state == WriterStatus::State::Finished) {
            printer.endLine();
            if (!status.stopReason.empty())
                printStopRule(std::cerr, options.progress, status.stopReason);
            return 0;
        }
        if (status.state == WriterStatus::State::Stopped) {
            printer.endLine();
            std::cerr << "The run of the run store \"" << options.follow << "\" "
                      << describeWriter(status) << ".\n";
            return 1;
        }
        std::this_thread::sleep_for(kLookInterval);
        try {
            watch->update(printer);
        } catch (const std::exception& error) {
            printer.endLine();
            std::cerr << error.what() << "\n";
            return 1;
        }
    }
}

} // namespace zyl::cli
