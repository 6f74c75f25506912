// zyl-batch: runs an optimisation task from its project script to the end, without windows,
// and reports the result on standard output. Meant to be called by other programs.
#include "common/Rng.h"
#include "common/TextConvert.h"
#include "engine/RunHooks.h"
#include "engine/Statistics.h"
#include "engine/Task.h"
#include "project/Loader.h"

#ifdef ZYL_HAVE_PLOTS
#include "windows/PlotPictures.h"

#include <QApplication>
#endif

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>

namespace {

std::atomic<zyl::Task*> runningTask{nullptr};
volatile std::sig_atomic_t caughtSignal = 0;

extern "C" void onSignal(int signal)
{
    caughtSignal = signal;
    if (zyl::Task* task = runningTask.load())
        task->abort();
}

void installSignalHandlers()
{
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

void printUsage(std::ostream& out)
{
    out << "Usage: zyl-batch [--seed N] [--quiet] [--plots DIR] SCRIPT\n"
           "Loads the project script SCRIPT and runs its task to the end: generations until\n"
           "max_iteration, or until a step fails or the program is interrupted. Prints the\n"
           "statistics of the last generation and the best individual on standard output.\n"
           "  --seed N   seed the random generator (the same seed repeats a run exactly)\n"
           "  --quiet    no progress on standard error\n"
           "  --plots DIR  at the end, draw each plot of the script as DIR/<title>.png and .svg\n"
           "Exit status: 0 done, 1 a step failed, 2 the script could not be loaded,\n"
           "130/143 interrupted by SIGINT/SIGTERM.\n";
}

struct Options {
    std::optional<std::uint64_t> seed;
    bool quiet = false;
    std::string plotDirectory;
    std::string script;
};

// Returns the exit status to end with when the arguments say so (help or a usage error).
std::optional<int> parseArguments(int argc, char** argv, Options& options)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            printUsage(std::cout);
            return 0;
        }
        if (arg == "--quiet" || arg == "-q") {
            options.quiet = true;
        } else if (arg == "--seed") {
            if (i + 1 >= argc) {
                std::cerr << "zyl-batch: --seed needs a number\n";
                return 2;
            }
            const std::string value = argv[++i];
            char* end = nullptr;
            errno = 0;
            const unsigned long long seed = std::strtoull(value.c_str(), &end, 10);
            if (value.empty() || *end != '\0' || errno != 0 || value[0] == '-') {
                std::cerr << "zyl-batch: '" << value << "' is not a valid seed\n";
                return 2;
            }
            options.seed = seed;
        } else if (arg == "--plots") {
            if (i + 1 >= argc) {
                std::cerr << "zyl-batch: --plots needs a folder\n";
                return 2;
            }
            options.plotDirectory = argv[++i];
#ifndef ZYL_HAVE_PLOTS
            std::cerr << "zyl-batch: this build cannot draw plots (built without Qt)\n";
            return 2;
#endif
        } else if (!arg.empty() && arg[0] == '-' && arg != "-") {
            std::cerr << "zyl-batch: unknown option " << arg << "\n";
            printUsage(std::cerr);
            return 2;
        } else if (options.script.empty()) {
            options.script = arg;
        } else {
            std::cerr << "zyl-batch: one script only\n";
            return 2;
        }
    }
    if (options.script.empty()) {
        printUsage(std::cerr);
        return 2;
    }
    return std::nullopt;
}

/// Progress on standard error and the latest statistics rows for the final report.
class BatchObserver : public zyl::RunObserver {
public:
    BatchObserver(const zyl::ZYL& zyl, const zyl::ProjectSettings& settings, bool quiet)
        : m_zyl(zyl), m_settings(settings), m_quiet(quiet), m_tty(isatty(STDERR_FILENO)),
          m_start(std::chrono::steady_clock::now())
    {
    }

    void warning(const std::string& text) override
    {
        endProgressLine();
        std::cerr << text << "\n";
        m_failed = true;
    }
    void evaluatedValue(int) override { ++m_evaluations; }
    void statistics() override
    {
        m_rows = zyl::statisticsRows(m_zyl, m_settings.showBuffered);
        m_computed = true;
    }
    void generationDone() override
    {
        if (m_quiet)
            return;
        const double elapsed = secondsSinceStart();
        const int done = m_zyl.generation, total = m_zyl.maxIteration;
        const double left = done > 0 ? elapsed / done * (total - done) : 0;
        std::string line = "generation " + std::to_string(done) + " of " + std::to_string(total) +
                           "  CurrentMin " + zyl::realToText(m_zyl.currentMin.value) +
                           "  GlobalMin " + zyl::realToText(m_zyl.globalMin.value) +
                           "  evaluations " + std::to_string(m_evaluations) + "  elapsed " +
                           zyl::realToText(elapsed) + " s  left " + zyl::realToText(left) + " s";
        if (m_tty) {
            std::cerr << "\r\033[K" << line << std::flush;
            m_lineOpen = true;
        } else {
            std::cerr << line << "\n";
        }
    }

    void endProgressLine()
    {
        if (m_lineOpen) {
            std::cerr << "\n";
            m_lineOpen = false;
        }
    }
    bool failed() const { return m_failed; }
    bool computed() const { return m_computed; }
    const std::vector<zyl::StatisticsRow>& rows() const { return m_rows; }

private:
    double secondsSinceStart() const
    {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
    }

    const zyl::ZYL& m_zyl;
    const zyl::ProjectSettings& m_settings;
    bool m_quiet;
    bool m_tty;
    std::chrono::steady_clock::time_point m_start;
    long long m_evaluations = 0;
    bool m_failed = false;
    bool m_computed = false;
    bool m_lineOpen = false;
    std::vector<zyl::StatisticsRow> m_rows;
};

std::string variablesText(const zyl::Indiv& ind, const std::vector<std::string>& names)
{
    std::string text;
    for (int j = 0; j < ind.count(); ++j) {
        if (j > 0)
            text += ", ";
        text += names[j] + " = " + ind.gene(j)->valueText();
    }
    return text;
}

// Asks for the value of every unevaluated individual of the population. False at the end of
// the input.
bool readManualValues(zyl::ZYL& zyl, zyl::RunObserver& observer)
{
    for (int i = 0; i < zyl.popSize; ++i) {
        if (zyl.population[i].evaluated)
            continue;
        for (;;) {
            if (caughtSignal)
                return false;
            std::cerr << "generation " << zyl.generation + 1 << ", individual " << i << ": "
                      << variablesText(zyl.population[i], zyl.names) << "\nf = " << std::flush;
            std::string line;
            if (!std::getline(std::cin, line))
                return false;
            try {
                zyl::enterManualValue(zyl, i, zyl::strToFloat(line), observer);
                break;
            } catch (const zyl::Exception& error) {
                std::cerr << error.what() << "\n";
            }
        }
    }
    return true;
}

void printReport(const BatchObserver& observer, const zyl::ZYL& zyl)
{
    if (!observer.computed()) {
        std::cout << "No generation was computed.\n";
        return;
    }
    std::cout << "What?\tValue\tInfo\n";
    for (const zyl::StatisticsRow& row : observer.rows())
        if (!row.what.empty())
            std::cout << row.what << "\t" << row.value << "\t" << row.info << "\n";
    const zyl::Indiv& best = zyl.maximise ? zyl.globalMax : zyl.globalMin;
    std::cout << "Best: " << zyl::realToText(best.value) << " " << best.text() << "\n";
}

} // namespace

int main(int argc, char** argv)
{
    Options options;
    if (auto status = parseArguments(argc, argv, options))
        return *status;

    // The script is read as the desktop program's command line reads it.
    std::filesystem::path path(options.script);
    if (!path.has_parent_path())
        path = std::filesystem::absolute(path);
    std::error_code error;
    if (!std::filesystem::exists(path, error)) {
        std::cerr << "File:\n" << path.string() << "\ndoes not exist.\n";
        return 2;
    }

    zyl::LcgRng rng;
    if (options.seed)
        rng.reseed(*options.seed);
    zyl::SymbolTable table;
    table.registerBuiltinSymbols();
    zyl::ProjectSettings settings;
    zyl::ProjectScript script;
    zyl::LoadedProject project;
    try {
        script = zyl::ProjectScript(path.string());
        script.StripBlanks();
        // --seed overrides the script's own seed.
        if (options.seed)
            script.WriteString("OPTIONS", "seed", std::to_string(*options.seed));
        project = zyl::loadProject(script, settings, table, rng);
    } catch (const std::exception& e) {
        std::cerr << e.what() << "\n";
        return 2;
    }
    zyl::ZYL& zyl = *project.zyl;

    installSignalHandlers();
    BatchObserver observer(zyl, settings, options.quiet);
    zyl::DirectSynchronizer sync;
    zyl::RunContext context{zyl, settings, script, table, project.plots};
    int status = 0;
    while (zyl.generation < zyl.maxIteration && !caughtSignal) {
        if (settings.functionMode == zyl::FunctionMode::Manual) {
            // One generation per run: later generations need values of their own.
            settings.loopCounter = 1;
            if (!readManualValues(zyl, observer)) {
                if (!caughtSignal) {
                    observer.endProgressLine();
                    std::cerr << "The input ended before every value was given: the run stops.\n";
                    status = 1;
                }
                break;
            }
        }
        zyl::Task task(context, sync, observer);
        runningTask = &task;
        task.execute();
        runningTask = nullptr;
        if (observer.failed()) {
            status = 1;
            break;
        }
        if (task.stopRequested())
            break;
    }
    observer.endProgressLine();
    if (caughtSignal == SIGINT)
        status = 130;
    else if (caughtSignal == SIGTERM)
        status = 143;
    printReport(observer, zyl);
    std::cout.flush();
#ifdef ZYL_HAVE_PLOTS
    if (!options.plotDirectory.empty()) {
        // The pictures are drawn off screen, so a batch run needs no display.
        int qtArgc = 3;
        char program[] = "zyl-batch", platform[] = "-platform", offscreen[] = "offscreen";
        char* qtArgv[] = {program, platform, offscreen, nullptr};
        QApplication app(qtArgc, qtArgv);
        for (const std::string& failure : zyl::writePlotPictures(project.plots, options.plotDirectory)) {
            std::cerr << failure << "\n";
            if (status == 0)
                status = 1;
        }
    }
#endif
    return status;
}
