#include "engine/backends/LocalBackend.h"

#include "engine/backends/ChildProcess.h"

#include <chrono>
#include <cmath>
#include <deque>
#include <filesystem>
#include <list>
#include <sstream>

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

std::optional<LocalBackend::Attempt> LocalBackend::start(const EvaluationRequest& request,
                                                         AttemptOutcome& failure)
{
    const ExternalProgram& program = m_options.program;
    Attempt attempt{request, {}, Clock::now(), "", ""};
    Launch launch;
    launch.argv = m_options.launcher;
    if (!launch.argv.empty()) {
        launch.searchPath = true;
        for (std::string& word : launcherExtras(request))
            launch.argv.push_back(std::move(word));
    }
    launch.argv.insert(launch.argv.end(), {m_programPath, program.inputName, program.outputName});

    std::string inputPath = program.inputName;
    attempt.outputPath = program.outputName;
    failure = AttemptOutcome{};
    failure.where = describeWhere("");
    if (m_options.folders) {
        attempt.workDir = workFolderPath(*m_options.folders, request.generation, request.index);
        failure.workDir = attempt.workDir;
        failure.workDirKept = true;
        failure.failure = prepareWorkFolder(*m_options.folders, attempt.workDir);
        if (!failure.failure.empty())
            return std::nullopt;
        inputPath = pathInFolder(attempt.workDir, program.inputName);
        attempt.outputPath = pathInFolder(attempt.workDir, program.outputName);
        launch.workDir = attempt.workDir;
        launch.logFile = pathInFolder(attempt.workDir, "zyl-log.txt");
    } else if (namesTheProgram(program)) {
        failure.failure = "the input or output file is the program itself";
        return std::nullopt;
    }

    clearOutputFile(attempt.outputPath);
    // Without its input file the program would read stale or no variables: never start it then.
    if (!writeInputFile(inputPath, request.line + "\n")) {
        failure.failure = "cannot write the input file \"" + inputPath + "\"";
        return std::nullopt;
    }
    attempt.started = Clock::now();
    if (!attempt.child.start(launch)) {
        failure.failure = "the program \"" + launch.argv[0] + "\" is missing or cannot start";
        return std::nullopt;
    }
    return attempt;
}

AttemptOutcome LocalBackend::finish(Attempt& attempt, const ExitStatus& status, bool timedOut) const
{
    AttemptOutcome outcome;
    outcome.seconds = std::chrono::duration<double>(Clock::now() - attempt.started).count();
    outcome.workDir = attempt.workDir;
    outcome.where = describeWhere(attempt.workDir);
    const std::optional<double> value = readOutputFile(attempt.outputPath);
    const bool nan = value && std::isnan(*value);
    if (value && !nan)
        outcome.value = value;

    outcome.timedOut = timedOut;
    if (timedOut)
        outcome.failure =
            "past external_timeout (" + secondsText(m_options.program.timeoutSeconds) + " s)";
    else if (!status.succeeded())
        outcome.failure = status.text();
    else if (nan)
        outcome.failure = "output is NaN";
    else if (!value)
        outcome.failure = std::filesystem::exists(attempt.outputPath)
                              ? "output is not a number"
                              : "no output file \"" + attempt.outputPath + "\"";
    outcome.status = outcome.failure.empty() ? AttemptStatus::Succeeded : AttemptStatus::Failed;
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
    try {
        runAttempts(requests, done, control, progress);
    } catch (...) {
        // A throwing caller has had its programs killed by then (they die with their
        // ChildProcess); what a scheduler still holds goes too.
        afterBatch(/*cancelled=*/true);
        throw;
    }
}

void LocalBackend::runAttempts(const std::vector<EvaluationRequest>& requests,
                               const AttemptDone& done, const BatchControl& control,
                               ProgressCounters& progress)
{
    const double timeout = m_options.program.timeoutSeconds;
    const bool timed = timeout > 0 && std::isfinite(timeout);
    std::deque<EvaluationRequest> pending(requests.begin(), requests.end());
    std::list<Attempt> running;
    bool starting = true;

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
            EvaluationRequest request = pending.front();
            pending.pop_front();
            progress.queued -= 1;
            AttemptOutcome failure;
            std::optional<Attempt> attempt = start(request, failure);
            if (!attempt) {
                settle(request, failure);
                continue;
            }
            progress.running += 1;
            running.push_back(std::move(*attempt));
            progress.changed();
        }
        if (running.empty() && (pending.empty() || !starting))
            break;

        // 2. Wait for an end, a deadline or the next look at the flags.
        int sliceMs = controlPollMs;
        std::vector<const ChildProcess*> children;
        for (const Attempt& attempt : running) {
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
}

} // namespace zyl
