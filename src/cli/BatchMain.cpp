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
#include "engine/backends/WorkRoot.h"
#include "project/Loader.h"
#include "script/KnownNames.h"
#include "store/Objective.h"
#include "store/RunRecorder.h"
#include "store/RunSession.h"
#include "store/StoredValues.h"

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
    if (zyl::Task* task = runningTask.load()) {
        // A preemption's SIGTERM may come well before the kill: the running programs get the
        // grace to finish. A second signal, or Ctrl-C, ends them at once.
        if (signal == SIGTERM && first)
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
bool readManualValues(zyl::ZYL& zyl, zyl::RunObserver& observer, zyl::StopRuleState& stop,
                      zyl::RunRecorder* recorder)
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
                zyl::enterManualValue(zyl, i, zyl::strToFloat(line), observer, &stop);
                break;
            } catch (const zyl::Exception& error) {
                std::cerr << error.what() << "\n";
            }
        }
        if (recorder) {
            try {
                recorder->valueTyped(i);
            } catch (const std::exception& error) {
                observer.warning(error.what());
                return false;
            }
        }
    }
    return true;
}

// Runs generation after generation until the limit, a stop rule, a failure, the end of a
// manual task's input or a signal.
RunOutcome runToEnd(zyl::RunContext& context, zyl::RunObserver& runObserver,
                    zyl::cli::BatchObserver& observer, zyl::RunRecorder* recorder)
{
    zyl::ZYL& zyl = context.zyl;
    zyl::ProjectSettings& settings = context.settings;
    zyl::DirectSynchronizer sync;
    RunOutcome outcome;
    while (zyl.generation < zyl.maxIteration && !context.stopState->finished() && !caughtSignal) {
        if (settings.functionMode == zyl::FunctionMode::Manual) {
            // One generation per run: later generations need values of their own.
            settings.loopCounter = 1;
            if (!readManualValues(zyl, runObserver, *context.stopState, recorder)) {
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
        task.execute();
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
    else if (outcome.end == RunEnd::Finished && context.stopState->finished())
        outcome = {RunEnd::Stopped, context.stopState->stopReason, 0};
    return outcome;
}

// An external task that asks for more than one program at a time in ZYL's folder (workers,
// work folders, a scheduler, retries, a failure value) runs through the batch evaluator;
// otherwise null, and the programs run one after the other as they always did.
std::unique_ptr<zyl::ProgramEvaluation> programEvaluation(const zyl::ProjectSettings& settings,
                                                          const zyl::ZYL& zyl,
                                                          zyl::cli::BatchObserver& observer)
{
    if (!zyl::needsBatchEvaluator(settings))
        return nullptr;
    auto evaluator = zyl::makeBatchEvaluator(settings, [&observer](const std::string& line) {
        observer.endProgressLine();
        std::cerr << line << "\n";
    });
    const zyl::BatchEvaluator* counts = evaluator.get();
    evaluator->setActivityHandler([&observer] { observer.programActivity(); });
    auto programs = std::make_unique<zyl::ProgramEvaluation>(std::move(evaluator), zyl.generation,
                                                             zyl.bufferIndividuals);
    observer.setEvaluationCounts([counts] { return counts->progress(); });
    programs->evaluator().setSchedulerNotice(
        [&observer](const zyl::SchedulerNotice& notice) { observer.schedulerNotice(notice); });
    observer.setActivityCounts([counts] { return counts->progress(); });
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

    // A resume works in its run's folder: names given here are taken from this one.
    if (!options.plotDirectory.empty()) {
        std::error_code error;
        const std::filesystem::path plots = std::filesystem::absolute(options.plotDirectory, error);
        if (!error)
            options.plotDirectory = plots.string();
    }

    zyl::LcgRng plainRng;
    zyl::SymbolTable table;
    table.registerBuiltinSymbols();
    zyl::ProjectSettings settings;
    zyl::ProjectScript plainScript;
    zyl::LoadedProject plainProject;
    zyl::StopRuleState plainStop;
    zyl::RunClock plainClock;
    std::unique_ptr<zyl::StoredSession> session;
    try {
        std::optional<zyl::ProjectScript> script;
        std::string scriptName;
        if (!options.script.empty()) {
            script = readScript(options, scriptName);
            // A misspelt key or section would otherwise run as if it were absent.
            for (const std::string& notice : zyl::unknownNameNotices(*script))
                std::cerr << notice << "\n";
        }
        if (!options.store.empty()) {
            zyl::StoreRequest request;
            request.storePath = options.store;
            request.resume = options.resume;
            request.script = std::move(script);
            request.scriptName = scriptName;
            request.seed = options.seed;
            request.reusePath = options.reuse;
            request.notice = [](const std::string& line) { std::cerr << line << "\n"; };
            session = zyl::StoredSession::open(request, settings, table);
        } else {
            plainScript = std::move(*script);
            if (options.seed)
                plainRng.reseed(*options.seed);
            plainProject = zyl::loadProject(plainScript, settings, table, plainRng);
            const std::string reusePath = options.reuse.empty() ? settings.reuseStore : options.reuse;
            if (!reusePath.empty())
                zyl::reuseEvaluations(
                    *plainProject.zyl,
                    zyl::describeObjective(plainScript, settings, *plainProject.zyl), reusePath);
        }
    } catch (const std::exception& e) {
        return loadFailure(e.what(), options.report);
    }
    if (options.workers && settings.functionMode == zyl::FunctionMode::External)
        settings.workers = *options.workers;
    zyl::ProjectScript& script = session ? session->script : plainScript;
    zyl::LoadedProject& project = session ? session->project : plainProject;
    zyl::StopRuleState& stop = session ? session->stop : plainStop;
    zyl::RunClock& clock = session ? session->clock : plainClock;
    zyl::ZYL& zyl = *project.zyl;

    termGrace = settings.termGrace;
    std::optional<OutputFormat> progress;
    if (!options.quiet)
        progress = options.progress;
    zyl::cli::BatchObserver observer(zyl, settings, stop, progress, options.report);
    std::optional<zyl::RecordingObserver> recording;
    if (session) {
        recording.emplace(session->recorder(), observer, zyl, settings);
        recording->setStopHandler([] {
            if (zyl::Task* task = runningTask.load())
                task->terminate();
        });
        // The recorder is told first and takes the same numbers.
        observer.setStatisticsSource([&session]() -> const zyl::StatisticsSnapshot& {
            return session->recorder().statistics();
        });
    }
    zyl::RunContext context{zyl, settings, script, table, project.plots};
    context.stopState = &stop;
    context.clock = &clock;
    std::unique_ptr<zyl::ProgramEvaluation> programs;
    try {
        programs = programEvaluation(settings, zyl, observer);
    } catch (const std::exception& e) {
        return loadFailure(e.what(), options.report);
    }
    context.backend = programs.get();
    // One program after the other, as without this, but counted for the signs of life.
    std::optional<zyl::SequentialExternalBackend> oneAtATime;
    if (!programs && settings.functionMode == zyl::FunctionMode::External) {
        oneAtATime.emplace(zyl::ExternalProgram{settings.inputName, settings.externalName,
                                                settings.outputName, settings.externalTimeout});
        oneAtATime->setActivityHandler([&observer] { observer.programActivity(); });
        observer.setActivityCounts([&oneAtATime] { return oneAtATime->progress(); });
        context.backend = &*oneAtATime;
    }
    if (programs && session) {
        // Each value is committed as its program ends, in whatever order they end.
        recording->setRecordsEvaluations(false);
        programs->evaluator().setJobLedger(&session->recorder());
        programs->setFinishedHook([&](const zyl::EvaluationResult& result) {
            observer.evaluationsChanged();
            try {
                session->recorder().evaluationFinished(zyl::evaluationRecord(result, zyl));
            } catch (const std::exception& error) {
                recording->reportStoreFailure(error);
            }
        });
    }
    // A resumed external task takes the values its programs had already given.
    std::optional<zyl::StoredValuesBackend> storedValues;
    if (session && !session->finishedEvaluations.empty() &&
        settings.functionMode == zyl::FunctionMode::External) {
        storedValues.emplace(zyl, settings, context.backend, session->finishedEvaluations);
        context.backend = &*storedValues;
        recording->setRecorded(session->finishedEvaluations);
    }
    clock.start();
    RunOutcome outcome =
        runToEnd(context, recording ? static_cast<zyl::RunObserver&>(*recording) : observer,
                 observer, session ? &session->recorder() : nullptr);
    clock.stop();
    if (session) {
        // What the run did since the last commit, when it ended at a generation boundary;
        // otherwise the store already holds everything a resume needs.
        try {
            session->recorder().finish();
        } catch (const std::exception& error) {
            if (!recording->alreadyReported(error.what()))
                std::cerr << error.what() << "\n";
            if (outcome.exitStatus == 0)
                outcome = {RunEnd::Failed, error.what(), 1};
        }
    }
    // The run lets its work root go; the default one is ours, and goes too when nothing is
    // left in it (every evaluation succeeded).
    if (programs)
        zyl::releaseWorkRoot(settings.workRoot, !script.HasKey("FUNCTION", "work_root"));
#ifdef ZYL_HAVE_PLOTS
    // Drawn before the report, so that the report's exit status counts a failed picture.
    if (!options.plotDirectory.empty() && !drawPlots(project.plots, options.plotDirectory) &&
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
    const bool fromStore = rows.empty() && session && !session->statistics.empty();
    if (fromStore)
        rows = session->statistics.back();
    if (options.report == OutputFormat::Json) {
        const zyl::cli::Json statistics =
            fromStore && session->lastFigures
                ? storedStatisticsJson(zyl, *session->lastFigures, settings.showBuffered)
                : observer.statisticsJson();
        zyl::cli::printJsonReport(std::cout, statistics, &zyl, outcome);
    } else {
        zyl::cli::printTextReport(std::cout, rows, zyl, outcome);
    }
    std::cout.flush();
    return outcome.exitStatus;
}
