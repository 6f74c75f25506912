// zyl-batch: runs an optimisation task from its project script to the end, without windows,
// and reports the result on standard output. Meant to be called by other programs.
#include "cli/BatchFollow.h"
#include "cli/BatchObserver.h"
#include "cli/BatchOptions.h"
#include "cli/BatchReport.h"
#include "common/FileReplace.h"
#include "common/TextConvert.h"
#include "engine/Objectives.h"
#include "engine/RunHooks.h"
#include "engine/Task.h"
#include "script/KnownNames.h"
#include "session/RunSession.h"

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
// The script's term_grace, set once the script is loaded, before any task runs.
double termGrace = 0;

extern "C" void onSignal(int signal)
{
    const bool first = caughtSignal == 0;
    caughtSignal = signal;
    if (signal == SIGHUP) {
        // The terminal or the ssh session is gone: what is written to it after the report
        // must not end the run before its store is committed.
        struct sigaction ignore;
        std::memset(&ignore, 0, sizeof ignore);
        ignore.sa_handler = SIG_IGN;
        sigaction(SIGPIPE, &ignore, nullptr);
    }
    if (zyl::Task* task = runningTask.load()) {
        // A preemption's SIGTERM may come well before the kill, and a closed terminal is no
        // reason to lose the programs' work: the running programs get the grace to finish.
        // A second signal, or Ctrl-C, ends them at once.
        if ((signal == SIGTERM || signal == SIGHUP) && first)
            task->terminateWithin(termGrace);
        else
            task->abort();
    }
}

void installSignalHandlers()
{
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
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

// Asks for the value of every unevaluated individual of the population; with a store, each
// value is committed as it is typed. False at the end of the input.
bool readManualValues(zyl::RunSession& session, zyl::RunObserver& observer)
{
    zyl::ZYL& zyl = session.zyl();
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
                zyl::enterManualValue(zyl, i, zyl::strToFloat(line), observer, &session.stop());
                break;
            } catch (const zyl::Exception& error) {
                std::cerr << error.what() << "\n";
            }
        }
        try {
            session.valueTyped(i);
        } catch (const std::exception& error) {
            observer.warning(error.what());
            return false;
        }
    }
    return true;
}

// Runs generation after generation until the limit, a stop rule, a failure, the end of a
// manual task's input or a signal.
RunOutcome runToEnd(zyl::RunSession& session, zyl::RunContext& context,
                    zyl::cli::BatchObserver& observer)
{
    zyl::RunObserver& runObserver = session.observer();
    zyl::ZYL& zyl = context.zyl;
    zyl::ProjectSettings& settings = context.settings;
    zyl::DirectSynchronizer sync;
    RunOutcome outcome;
    while (zyl.generation < zyl.maxIteration && !context.stopState->finished() && !caughtSignal) {
        if (settings.functionMode == zyl::FunctionMode::Manual) {
            // One generation per run: later generations need values of their own.
            settings.loopCounter = 1;
            if (!readManualValues(session, runObserver)) {
                if (!caughtSignal && !observer.failed()) {
                    outcome = {RunEnd::InputEnded,
                               "The input ended before every value was given: the run stops.", 1};
                    observer.endProgressLine();
                    std::cerr << outcome.message << "\n";
                }
                if (observer.failed())
                    outcome = {RunEnd::Failed, observer.failureMessage(), 1};
                break;
            }
        }
        zyl::Task task(context, sync, runObserver);
        runningTask = &task;
        session.setRunningTask(&task);
        task.execute();
        session.setRunningTask(nullptr);
        runningTask = nullptr;
        if (const int generation = task.allFailedGeneration()) {
            outcome = {RunEnd::AllFailed,
                       "Stopped: every evaluation of generation " + std::to_string(generation) +
                           " failed",
                       1};
            break;
        }
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
    else if (caughtSignal == SIGHUP)
        outcome = {RunEnd::Interrupted, "Interrupted by SIGHUP.", 129};
    else if (outcome.end == RunEnd::Finished && context.stopState->finished())
        outcome = {RunEnd::Stopped, context.stopState->stopReason, 0};
    return outcome;
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
bool drawPlots(const std::vector<zyl::UserPlot>& plots, const zyl::ZYL& zyl,
               const std::string& directory)
{
    int qtArgc = 3;
    char program[] = "zyl-batch", platform[] = "-platform", offscreen[] = "offscreen";
    char* qtArgv[] = {program, platform, offscreen, nullptr};
    QApplication app(qtArgc, qtArgv);
    bool ok = true;
    std::vector<std::string> failures = zyl::writePlotPictures(plots, directory);
    for (std::string& failure : zyl::writeFrontPictures(zyl::frontSnapshot(zyl), directory))
        failures.push_back(std::move(failure));
    for (const std::string& failure : failures) {
        std::cerr << failure << "\n";
        ok = false;
    }
    return ok;
}
#endif

// The script as the desktop program's command line reads it, blanks stripped, with --seed
// written over the script's own seed.
zyl::ProjectScript readScript(const zyl::cli::BatchOptions& options, std::string& fileName)
{
    std::filesystem::path path(options.script);
    if (!path.has_parent_path())
        path = std::filesystem::absolute(path);
    std::error_code error;
    if (!std::filesystem::exists(path, error))
        throw zyl::Exception("File:\n" + path.string() + "\ndoes not exist.");
    fileName = path.string();
    zyl::ProjectScript script(path.string());
    script.StripBlanks();
    if (options.seed)
        script.WriteString("OPTIONS", "seed", std::to_string(*options.seed));
    return script;
}

// The statistics of the last stored generation as the report gives them, for a resumed run
// that completes no generation of its own (its task was finished already).
zyl::cli::Json storedStatisticsJson(const zyl::ZYL& zyl, const zyl::GenerationFigures& figures,
                                    bool showBuffered)
{
    // The engine holds that generation's statistics; only the counters have moved on since.
    zyl::cli::Json stats = zyl::cli::statisticsJson(zyl, showBuffered);
    stats["Generation"] = zyl.generation;
    if (showBuffered)
        stats["Buffered"] = figures.buffered;
    stats["Mutations"] = figures.mutations;
    stats["Crossovers"] = figures.crossovers;
    return stats;
}

} // namespace

int main(int argc, char** argv)
{
    zyl::cli::BatchOptions options;
    if (std::optional<int> status = zyl::cli::parseBatchArguments(argc, argv, options))
        return *status;
    // From the start: a signal while the script loads ends the run before its first
    // generation, with its report, rather than the process without one.
    installSignalHandlers();
    if (!options.follow.empty())
        return zyl::cli::followStore(options, [] { return static_cast<int>(caughtSignal); });

    // A resume works in its run's folder: names given here are taken from this one.
    for (std::string* name : {&options.plotDirectory, &options.frontFile}) {
        if (name->empty())
            continue;
        std::error_code error;
        const std::filesystem::path path = std::filesystem::absolute(*name, error);
        if (!error)
            *name = path.string();
    }

    zyl::SymbolTable table;
    table.registerBuiltinSymbols();
    zyl::ProjectSettings settings;
    std::unique_ptr<zyl::RunSession> session;
    try {
        zyl::SessionRequest request;
        std::string scriptName;
        if (!options.script.empty()) {
            request.script = readScript(options, scriptName);
            // A misspelt key or section would otherwise run as if it were absent.
            for (const std::string& notice : zyl::unknownNameNotices(*request.script))
                std::cerr << notice << "\n";
        }
        for (const std::string& notice : zyl::overrideNotices(options.overrides))
            std::cerr << notice << "\n";
        request.overrides = options.overrides;
        if (!options.store.empty()) {
            zyl::StoreRequest& store = request.store.emplace();
            store.storePath = options.store;
            store.resume = options.resume;
            store.script = std::move(request.script);
            store.scriptName = scriptName;
            store.seed = options.seed;
            store.reusePath = options.reuse;
            store.notice = [](const std::string& line) { std::cerr << line << "\n"; };
        }
        request.seed = options.seed;
        request.reuse = options.reuse;
        request.workers = options.workers;
        session = zyl::RunSession::open(std::move(request), settings, table);
    } catch (const std::exception& e) {
        return loadFailure(e.what(), options.report);
    }
    zyl::StoredSession* stored = session->stored();
    zyl::ZYL& zyl = session->zyl();
    zyl::StopRuleState& stop = session->stop();
    if (!options.frontFile.empty() && !zyl.multiObjective())
        return loadFailure("--front needs a task with several objectives (OBJECTIVES)",
                           options.report);
    // Nothing reads the archive of a run without a front file or a store.
    if (zyl.objectives && options.frontFile.empty() && !stored)
        zyl.objectives->keepArchive = false;

    termGrace = settings.termGrace;
    std::optional<OutputFormat> progress;
    if (!options.quiet)
        progress = options.progress;
    zyl::cli::BatchObserver observer(zyl, settings, stop, progress, options.report);
    zyl::FrontEnd frontEnd;
    frontEnd.observer = &observer;
    frontEnd.notice = [&observer](const std::string& line) {
        observer.endProgressLine();
        std::cerr << line << "\n";
    };
    frontEnd.activity = [&observer] { observer.programActivity(); };
    frontEnd.evaluationsChanged = [&observer] { observer.evaluationsChanged(); };
    frontEnd.schedulerNotice = [&observer](const zyl::SchedulerNotice& notice) {
        observer.schedulerNotice(notice);
    };
    session->attach(std::move(frontEnd));
    if (stored) {
        // The recorder is told first and takes the same numbers.
        observer.setStatisticsSource([stored]() -> const zyl::StatisticsSnapshot& {
            return stored->recorder().statistics();
        });
    }
    std::optional<zyl::RunContext> context;
    try {
        context.emplace(session->beginRun());
    } catch (const std::exception& e) {
        return loadFailure(e.what(), options.report);
    }
    if (const zyl::ProgramEvaluation* programs = session->programs()) {
        observer.setEvaluationCounts([programs] { return programs->progress(); });
        observer.setActivityCounts([programs] { return programs->progress(); });
    } else if (const zyl::SequentialExternalBackend* oneAtATime = session->sequential()) {
        observer.setActivityCounts([oneAtATime] { return oneAtATime->progress(); });
    }
    RunOutcome outcome = runToEnd(*session, *context, observer);
    if (const std::optional<zyl::RunEndFailure> failure = session->endRun()) {
        // What the run did since the last commit could not be kept; otherwise the store
        // already holds everything a resume needs.
        if (!failure->reported)
            std::cerr << failure->message << "\n";
        if (outcome.exitStatus == 0)
            outcome = {RunEnd::Failed, failure->message, 1};
    }
    session->releaseWorkRoot();
    // Whatever the run found, also when it was cut short: the archive is its result.
    if (!options.frontFile.empty()) {
        if (const std::optional<std::string> reason =
                zyl::replaceFileContent(options.frontFile, zyl::archiveTable(zyl))) {
            std::cerr << "Cannot write the front file \"" << options.frontFile << "\": " << *reason
                      << "\n";
            if (outcome.exitStatus == 0)
                outcome = {RunEnd::Failed, "The front file could not be written.", 1};
        }
    }
#ifdef ZYL_HAVE_PLOTS
    // Drawn before the report, so that the report's exit status counts a failed picture.
    if (!options.plotDirectory.empty() &&
        !drawPlots(session->project().plots, zyl, options.plotDirectory) &&
        outcome.exitStatus == 0) {
        outcome.exitStatus = 1;
        outcome.message = "A plot could not be written.";
    }
#endif
    outcome.failedEvaluations = stop.failedEvaluations;
    outcome.failureValues = stop.failureValues;
    outcome.failureValueSet = settings.failureValue.has_value();
    // A resumed run whose task was finished already reports the last stored generation.
    std::vector<zyl::StatisticsRow> rows = observer.rows();
    const bool fromStore = rows.empty() && stored && !stored->statistics.empty();
    if (fromStore)
        rows = stored->statistics.back();
    if (options.report == OutputFormat::Json) {
        const zyl::cli::Json statistics =
            fromStore && stored->lastFigures
                ? storedStatisticsJson(zyl, *stored->lastFigures, settings.showBuffered)
                : observer.statisticsJson();
        zyl::cli::printJsonReport(std::cout, statistics, &zyl, outcome);
    } else {
        zyl::cli::printTextReport(std::cout, rows, zyl, outcome);
    }
    std::cout.flush();
    return outcome.exitStatus;
}
