#include "engine/backends/LocalBackend.h"

#include "common/Exception.h"
#include "common/FileReplace.h"
#include "engine/backends/ChildProcess.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cmath>
#include <deque>
#include <filesystem>
#include <list>
#include <sstream>

#include <sys/stat.h>
#include <unistd.h>

namespace zyl {

namespace {

using Clock = std::chrono::steady_clock;

/// How often the loop looks at the control flags while programs run: short enough that
/// Terminate feels immediate, long enough to cost no measurable CPU.
constexpr int controlPollMs = 5;

std::string hostName()
{
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0)
        return "localhost";
    return name;
}

std::string secondsText(double seconds)
{
    std::ostringstream text;
    text << seconds;
    return text.str();
}

} // namespace

struct LocalBackend::Attempt {
    EvaluationRequest request;
    ChildProcess child;
    Clock::time_point started;
    std::string workDir;
    std::string outputPath;
    /// In ZYL's folder the program's standard error is ours, passed on through this.
    ErrorEcho echo;
};

LocalBackend::LocalBackend(LocalBackendOptions options)
    : m_options(std::move(options)), m_host(hostName())
{
    m_programPath = m_options.folders ? absoluteProgramPath(m_options.program.externalName)
                                      : m_options.program.externalName;
    if (m_options.workers < 1)
        m_options.workers = 1;
    // Shared files admit one program at a time.
    if (!m_options.folders)
        m_options.workers = 1;
}

std::vector<std::string> LocalBackend::launcherExtras(const EvaluationRequest&) const
{
    return {};
}

std::string LocalBackend::describeWhere(const std::string&) const
{
    return "host " + m_host;
}

void LocalBackend::afterBatch(bool) {}

std::string LocalBackend::failureOf(const std::string&, const ExitStatus& status) const
{
    return status.text();
}

LocalBackend::Attempt LocalBackend::start(const EvaluationRequest& request)
{
    const ExternalProgram& program = m_options.program;
    Attempt attempt{request, {}, Clock::now(), "", "", {}};
    Launch launch;
    launch.argv = m_options.launcher;
    if (!launch.argv.empty()) {
        launch.searchPath = true;
        // srun cancels its step when asked; killed outright it would leave the step running.
        launch.deathSignal = SIGTERM;
        for (std::string& word : launcherExtras(request))
            launch.argv.push_back(std::move(word));
    }
    launch.argv.insert(launch.argv.end(), {m_programPath, program.inputName, program.outputName});

    const std::string line = request.line + "\n";
    attempt.outputPath = program.outputName;
    int log = -1;
    // Nothing ran in a folder that could not be made ready: it goes, so that it is not taken
    // for a failed evaluation's.
    auto unprepared = [&attempt](const std::string& what) {
        std::error_code ignored;
        if (!attempt.workDir.empty())
            std::filesystem::remove_all(attempt.workDir, ignored);
        return Exception(what);
    };
    if (m_options.folders) {
        attempt.workDir = workFolderPath(*m_options.folders, request.generation, request.index);
        std::string why = prepareWorkFolder(*m_options.folders, attempt.workDir, request.attempt);
        if (!why.empty())
            throw unprepared("Cannot prepare the work folder \"" + attempt.workDir + "\": " + why);
        // Every file we write there is made new, so that a link the template brought leads
        // nowhere outside the folder.
        if (!(why = writeFileInFolder(attempt.workDir, program.inputName, line)).empty())
            throw unprepared("Cannot write the input file " + why);
        if (!(why = removeFileInFolder(attempt.workDir, program.outputName)).empty())
            throw unprepared("Cannot clear the output file " + why);
        log = createFileInFolder(attempt.workDir, workLogName, /*append=*/true, why);
        if (log < 0)
            throw unprepared("Cannot create the log file " + why);
        attempt.outputPath = pathInFolder(attempt.workDir, program.outputName);
        launch.workDir = attempt.workDir;
    } else {
        if (namesTheProgram(program))
            throw Exception("The input or output file is the program itself");
        clearOutputFile(attempt.outputPath);
        // Without its input file the program would read stale or no variables: never start it.
        if (!writeInputFile(program.inputName, line))
            throw Exception("Cannot write the input file \"" + program.inputName +
                            "\": " + systemMessage(errno));
    }
    attempt.started = Clock::now();
    const bool started = log >= 0 ? attempt.child.start(launch, log, log)
                                  : attempt.child.start(launch, -1, attempt.echo.programEnd());
    attempt.echo.started();
    if (log >= 0)
        ::close(log);
    if (!started)
        throw unprepared("Cannot start " +
                         (m_options.launcher.empty()
                              ? "the external program \"" + program.externalName + "\""
                              : "\"" + launch.argv[0] + "\"") +
                         ": " + systemMessage(attempt.child.startError()));
    return attempt;
}

AttemptOutcome LocalBackend::finish(Attempt& attempt, const ExitStatus& status, bool timedOut) const
{
    AttemptOutcome outcome;
    outcome.seconds = std::chrono::duration<double>(Clock::now() - attempt.started).count();
    attempt.echo.finish();
    outcome.workDir = attempt.workDir;
    outcome.where = describeWhere(attempt.workDir);
    OutputValues output = readOutputValues(attempt.outputPath, m_options.program);
    const std::optional<double>& value = output.value;
    const bool nan = value && std::isnan(*value);
    if (value && !nan)
        outcome.value = value;
    outcome.constraints = std::move(output.constraints);
    outcome.objectives = std::move(output.objectives);

    outcome.timedOut = timedOut;
    if (timedOut)
        outcome.failure =
            "past external_timeout (" + secondsText(m_options.program.timeoutSeconds) + " s)";
    else if (!status.succeeded()) {
        outcome.failure = failureOf(attempt.workDir, status);
        const int noRetry = m_options.program.noRetryStatus;
        outcome.noRetry = noRetry != 0 && status.exited && status.code == noRetry;
        if (outcome.noRetry)
            outcome.failure += " (no_retry_status)";
    }
    else if (nan)
        outcome.failure = "output is NaN";
    else if (!value)
        outcome.failure = std::filesystem::exists(attempt.outputPath)
                              ? "output is not a number"
                              : "no output file \"" + attempt.outputPath + "\"";
    else if (!output.problem.empty())
        outcome.failure = output.problem;
    outcome.status = outcome.failure.empty() ? AttemptStatus::Succeeded : AttemptStatus::Failed;
    if (outcome.status == AttemptStatus::Failed)
        outcome.words = lastWords("Its standard error ended with:", attempt.echo.kept());
    if (m_options.folders)
        outcome.workDirKept = settleWorkFolder(*m_options.folders, attempt.workDir,
                                               outcome.status == AttemptStatus::Succeeded);
    return outcome;
}

void LocalBackend::run(const std::vector<EvaluationRequest>& requests, const AttemptDone& done,
                       const BatchControl& control, ProgressCounters& progress)
{
    if (m_options.folders)
        checkWorkFolders(*m_options.folders);
    checkProgram();
    std::string setupFailure;
    try {
        setupFailure = runAttempts(requests, done, control, progress);
    } catch (...) {
        // A throwing caller has had its programs killed by then (they die with their
        // ChildProcess); what a scheduler still holds goes too.
        afterBatch(/*cancelled=*/true);
        throw;
    }
    if (!setupFailure.empty())
        throw Exception(setupFailure);
}

void LocalBackend::checkProgram() const
{
    const std::string& name = m_options.program.externalName;
    struct stat st {};
    int error = 0;
    if (::stat(m_programPath.c_str(), &st) != 0)
        error = errno;
    else if (S_ISDIR(st.st_mode))
        error = EISDIR;
    else if (::access(m_programPath.c_str(), X_OK) != 0)
        error = errno;
    if (error != 0)
        throw Exception("Cannot start the external program \"" + name +
                        "\": " + systemMessage(error));
    // Each evaluation's folder is made afresh: a program kept in one would be deleted.
    if (m_options.folders && pathWithin(m_programPath, m_options.folders->root)) {
        const std::filesystem::path inside =
            std::filesystem::path(m_programPath).lexically_relative(m_options.folders->root);
        if (!inside.empty() && isWorkFolderName(inside.begin()->string()))
            throw Exception("The external program \"" + name +
                            "\" lies in an evaluation's work folder");
    }
}

std::string LocalBackend::runAttempts(const std::vector<EvaluationRequest>& requests,
                                      const AttemptDone& done, const BatchControl& control,
                                      ProgressCounters& progress)
{
    const double timeout = m_options.program.timeoutSeconds;
    const bool timed = timeout > 0 && std::isfinite(timeout);
    std::deque<EvaluationRequest> pending(requests.begin(), requests.end());
    std::list<Attempt> running;
    bool starting = true;
    std::string setupFailure;

    // Acts on the caller's answer for an ended attempt.
    auto settle = [&](const EvaluationRequest& request, const AttemptOutcome& outcome) {
        switch (done(request, outcome)) {
        case NextStep::Retry: {
            EvaluationRequest again = request;
            again.attempt += 1;
            // First in line, so that one worker retries before it moves on, as one would by hand.
            pending.push_front(again);
            progress.queued += 1;
            break;
        }
        case NextStep::StopStarting:
            starting = false;
            break;
        case NextStep::Continue:
            break;
        }
    };

    for (;;) {
        if (control.cancelled())
            break;
        if (control.stopping())
            starting = false;

        // 1. Fill the free workers.
        while (starting && !pending.empty() &&
               static_cast<int>(running.size()) < m_options.workers && !control.cancelled()) {
            try {
                running.push_back(start(pending.front()));
            } catch (const Exception& error) {
                // The program could not even be started: no failure of the objective, so
                // failure_value does not apply. The batch ends once what runs has ended.
                setupFailure = error.what();
                starting = false;
                break;
            }
            pending.pop_front();
            progress.queued -= 1;
            progress.running += 1;
            progress.changed();
        }
        if (running.empty() && (pending.empty() || !starting))
            break;

        // 2. Wait for an end, a deadline or the next look at the flags.
        int sliceMs = controlPollMs;
        std::vector<const ChildProcess*> children;
        for (Attempt& attempt : running) {
            attempt.echo.pass();
            children.push_back(&attempt.child);
            if (timed) {
                double left =
                    timeout - std::chrono::duration<double>(Clock::now() - attempt.started).count();
                sliceMs = std::min(sliceMs, std::max(0, static_cast<int>(left * 1000) + 1));
            }
        }
        waitForAny(children, sliceMs);

        // 3. Settle what has ended or run out of time, in the order of starting.
        for (auto it = running.begin(); it != running.end();) {
            ExitStatus status;
            bool timedOut = false;
            if (!it->child.tryReap(status)) {
                timedOut =
                    timed &&
                    std::chrono::duration<double>(Clock::now() - it->started).count() >= timeout;
                if (!timedOut) {
                    ++it;
                    continue;
                }
                it->child.kill();
            }
            AttemptOutcome outcome = finish(*it, status, timedOut);
            EvaluationRequest request = it->request;
            it = running.erase(it);
            progress.running -= 1;
            settle(request, outcome);
        }
    }

    // Cancelled: every running program dies with its group; nothing queued is started.
    const bool cancelled = control.cancelled();
    for (Attempt& attempt : running) {
        attempt.child.kill();
        AttemptOutcome outcome;
        outcome.status = AttemptStatus::Cancelled;
        outcome.failure = "cancelled";
        outcome.workDir = attempt.workDir;
        outcome.workDirKept = !attempt.workDir.empty();
        outcome.where = describeWhere(attempt.workDir);
        outcome.seconds = std::chrono::duration<double>(Clock::now() - attempt.started).count();
        progress.running -= 1;
        done(attempt.request, outcome);
    }
    running.clear();
    progress.queued -= static_cast<int>(pending.size());
    if (cancelled) {
        for (const EvaluationRequest& request : pending) {
            AttemptOutcome outcome;
            outcome.status = AttemptStatus::Cancelled;
            outcome.failure = "cancelled before it started";
            done(request, outcome);
        }
    }
    afterBatch(cancelled);
    return setupFailure;
}

} // namespace zyl
