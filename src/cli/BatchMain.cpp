// zyl-batch: runs an optimisation task from its project script to the end, without windows,
// and reports the result on standard output. Meant to be called by other programs.
#include "cli/BatchObserver.h"
#include "cli/BatchOptions.h"
#include "cli/BatchReport.h"
#include "common/Rng.h"
#include "common/TextConvert.h"
#include "engine/RunHooks.h"
#include "engine/Task.h"
#include "engine/backends/Backends.h"
#include "engine/backends/ProgramEvaluation.h"
#include "project/Loader.h"

#ifdef ZYL_HAVE_PLOTS
#include "windows/PlotPictures.h"

#include <QApplication>
#endif

#include <atomic>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <string>

namespace {

using zyl::cli::OutputFormat;
using zyl::cli::RunEnd;
using zyl::cli::RunOutcome;

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

// Runs generation after generation until the limit, a failure, the end of a manual task's
// input or a signal.
RunOutcome runToEnd(zyl::RunContext& context, zyl::cli::BatchObserver& observer)
{
    zyl::ZYL& zyl = context.zyl;
    zyl::ProjectSettings& settings = context.settings;
    zyl::DirectSynchronizer sync;
    RunOutcome outcome;
    while (zyl.generation < zyl.maxIteration && !caughtSignal) {
        if (settings.functionMode == zyl::FunctionMode::Manual) {
            // One generation per run: later generations need values of their own.
            settings.loopCounter = 1;
            if (!readManualValues(zyl, observer)) {
                if (!caughtSignal) {
                    outcome = {RunEnd::InputEnded,
                               "The input ended before every value was given: the run stops.", 1};
                    observer.endProgressLine();
                    std::cerr << outcome.message << "\n";
                }
                break;
            }
        }
        zyl::Task task(context, sync, observer);
        runningTask = &task;
        task.execute();
        runningTask = nullptr;
        if (observer.failed()) {
            outcome = {RunEnd::Failed, observer.failureMessage(), 1};
            break;
        }
        if (task.stopRequested())
            break;
    }
    observer.endProgressLine();
    if (caughtSignal == SIGINT)
        outcome = {RunEnd::Interrupted, "Interrupted by SIGINT.", 130};
    else if (caughtSignal == SIGTERM)
        outcome = {RunEnd::Interrupted, "Interrupted by SIGTERM.", 143};
    return outcome;
}

// An external task that asks for more than one program at a time in ZYL's folder (workers,
// work folders, a scheduler, retries, a failure value) runs through the batch evaluator;
// otherwise null, and the programs run one after the other as they always did.
std::unique_ptr<zyl::ProgramEvaluation> programEvaluation(const zyl::ProjectSettings& settings,
                                                          const zyl::ZYL& zyl,
                                                          zyl::cli::BatchObserver& observer)
{
    if (settings.functionMode != zyl::FunctionMode::External ||
        (!settings.usesWorkFolders() && settings.retries == 0 && !settings.failureValue))
        return nullptr;
    auto evaluator = zyl::makeBatchEvaluator(settings, [&observer](const std::string& line) {
        observer.endProgressLine();
        std::cerr << line << "\n";
    });
    const zyl::BatchEvaluator* counts = evaluator.get();
    auto programs = std::make_unique<zyl::ProgramEvaluation>(std::move(evaluator), zyl.generation,
                                                             zyl.bufferIndividuals);
    observer.setEvaluationCounts([counts] { return counts->progress(); });
    programs->setFinishedHook([&observer](const zyl::EvaluationResult&) {
        observer.evaluationsChanged();
    });
    return programs;
}

// The script could not be read: the message on standard error, and with a JSON report an
// object that says so, so that a calling program always has one to parse.
int loadFailure(const std::string& message, OutputFormat report)
{
    std::cerr << message << "\n";
    if (report == OutputFormat::Json)
        zyl::cli::printJsonReport(std::cout, nullptr, nullptr, {RunEnd::LoadFailed, message, 2});
    return 2;
}

#ifdef ZYL_HAVE_PLOTS
// The pictures are drawn off screen, so a batch run needs no display. Returns whether every
// picture was written.
bool drawPlots(const std::vector<zyl::UserPlot>& plots, const std::string& directory)
{
    int qtArgc = 3;
    char program[] = "zyl-batch", platform[] = "-platform", offscreen[] = "offscreen";
    char* qtArgv[] = {program, platform, offscreen, nullptr};
    QApplication app(qtArgc, qtArgv);
    bool ok = true;
    for (const std::string& failure : zyl::writePlotPictures(plots, directory)) {
        std::cerr << failure << "\n";
        ok = false;
    }
    return ok;
}
#endif

} // namespace

int main(int argc, char** argv)
{
    zyl::cli::BatchOptions options;
    if (std::optional<int> status = zyl::cli::parseBatchArguments(argc, argv, options))
        return *status;

    // The script is read as the desktop program's command line reads it.
    std::filesystem::path path(options.script);
    if (!path.has_parent_path())
        path = std::filesystem::absolute(path);
    std::error_code error;
    if (!std::filesystem::exists(path, error))
        return loadFailure("File:\n" + path.string() + "\ndoes not exist.", options.report);

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
        if (options.workers && settings.functionMode == zyl::FunctionMode::External)
            settings.workers = *options.workers;
    } catch (const std::exception& e) {
        return loadFailure(e.what(), options.report);
    }
    zyl::ZYL& zyl = *project.zyl;

    installSignalHandlers();
    std::optional<OutputFormat> progress;
    if (!options.quiet)
        progress = options.progress;
    zyl::cli::BatchObserver observer(zyl, settings, progress, options.report);
    zyl::RunContext context{zyl, settings, script, table, project.plots};
    std::unique_ptr<zyl::ProgramEvaluation> programs;
    try {
        programs = programEvaluation(settings, zyl, observer);
    } catch (const std::exception& e) {
        return loadFailure(e.what(), options.report);
    }
    context.backend = programs.get();
    RunOutcome outcome = runToEnd(context, observer);
    // The default work root is ours: left empty (every evaluation succeeded), it goes too.
    if (programs && !script.HasKey("FUNCTION", "work_root")) {
        std::error_code ignored;
        std::filesystem::remove(settings.workRoot, ignored);
    }
#ifdef ZYL_HAVE_PLOTS
    // Drawn before the report, so that the report's exit status counts a failed picture.
    if (!options.plotDirectory.empty() && !drawPlots(project.plots, options.plotDirectory) &&
        outcome.exitStatus == 0) {
        outcome.exitStatus = 1;
        outcome.message = "A plot could not be written.";
    }
#endif
    if (options.report == OutputFormat::Json)
        zyl::cli::printJsonReport(std::cout, observer.statisticsJson(), &zyl, outcome);
    else
        zyl::cli::printTextReport(std::cout, observer.rows(), zyl);
    std::cout.flush();
    return outcome.exitStatus;
}
