#include "engine/backends/BatchEvaluator.h"

#include "common/TextConvert.h"
#include "engine/External.h"
#include "engine/Indiv.h"
#include "engine/backends/WorkFolders.h"

#include <map>

namespace zyl {

std::string evaluationSubject(int generation, int index)
{
    return "Evaluation of individual " + std::to_string(index) +
           (generation > 0 ? " (generation " + std::to_string(generation) + ")" : "");
}

std::string failureText(const std::string& subject, const std::string& reason,
                        const std::string& next, const std::string& keptFolder,
                        const std::string& words)
{
    std::string text = subject + " failed: " + reason + next + ".";
    if (!keptFolder.empty())
        text += " Work folder: " + keptFolder;
    if (!words.empty())
        text += "\n" + words;
    return text;
}

std::string failureMessage(const EvaluationResult& result)
{
    return std::string(externalProblem) + "\n" +
           failureText(evaluationSubject(result.generation, result.index), result.failure, "",
                       result.workDirKept ? result.workDir : "", result.words);
}

BatchEvaluator::BatchEvaluator(std::unique_ptr<ProgramBackend> backend, FailurePolicy policy,
                               Report report)
    : m_backend(std::move(backend)), m_policy(std::move(policy)), m_report(std::move(report))
{
    m_backend->setSchedulerNotice([this](const SchedulerNotice& notice) {
        if (m_report)
            m_report(schedulerNoticeText(notice));
        if (m_schedulerNotice)
            m_schedulerNotice(notice);
    });
}

std::string schedulerNoticeText(const SchedulerNotice& notice)
{
    if (notice.answering)
        return "Slurm answers again after " + realToText(notice.waitedSeconds) +
               " s; the run goes on.";
    return "Slurm cannot be reached (" + notice.command + ": " + notice.message +
           "); waiting for it up to " + realToText(notice.timeoutSeconds / 60) +
           " minutes (scheduler_timeout), trying again with growing pauses.";
}

BatchOutcome BatchEvaluator::evaluate(std::vector<EvaluationRequest> requests,
                                      const Finished& finished, const BatchControl& control)
{
    BatchOutcome outcome;
    outcome.results.resize(requests.size());
    std::vector<EvaluationRequest> unique;
    std::map<int, std::size_t> positionOfIndex;
    std::vector<std::vector<std::size_t>> copies(requests.size());
    for (std::size_t k = 0; k < requests.size(); ++k) {
        EvaluationRequest& request = requests[k];
        EvaluationResult& result = outcome.results[k];
        result.generation = request.generation;
        result.index = request.index;
        result.line = request.line;
        request.attempt = 1;
        const int original = request.duplicateOf;
        if (original >= 0 && static_cast<std::size_t>(original) < k &&
            requests[original].duplicateOf < 0) {
            result.duplicateOf = requests[original].index;
            copies[original].push_back(k);
            continue;
        }
        request.duplicateOf = -1;
        positionOfIndex[request.index] = k;
        unique.push_back(request);
    }
    m_progress.reset(static_cast<int>(unique.size()));

    bool stopping = false;
    auto settle = [&](const EvaluationRequest& request, const AttemptOutcome& attempt) -> NextStep {
        const std::size_t k = positionOfIndex.at(request.index);
        EvaluationResult& result = outcome.results[k];
        result.attempts = request.attempt;
        result.seconds += attempt.seconds;
        result.where = attempt.where;
        result.workDir = attempt.workDir;
        result.workDirKept = attempt.workDirKept;
        result.failure = attempt.failure;
        result.timedOut = attempt.timedOut;
        result.value = attempt.value;
        result.constraints = attempt.constraints;
        result.objectives = attempt.objectives;
        result.words = attempt.words;
        // Read now: a retry makes the folder afresh.
        if (attempt.status == AttemptStatus::Failed && result.words.empty() &&
            attempt.workDirKept && !attempt.workDir.empty())
            result.words = lastWords("Its log ended with:",
                                     endOfFile(pathInFolder(attempt.workDir, workLogName)));
        const std::string subject = evaluationSubject(request.generation, request.index);
        const std::string kept = attempt.workDirKept ? attempt.workDir : "";

        if (attempt.status == AttemptStatus::Cancelled) {
            result.status = EvaluationStatus::Cancelled;
        } else if (attempt.status == AttemptStatus::Succeeded) {
            result.status = EvaluationStatus::Succeeded;
            m_progress.done += 1;
        } else {
            if (request.attempt <= m_policy.retries && !attempt.noRetry && !control.cancelled() &&
                !control.stopping() && !stopping) {
                tell(failureText(subject, attempt.failure,
                                 "; starting it again (" + std::to_string(request.attempt + 1) +
                                     " of " + std::to_string(m_policy.retries + 1) + ")",
                                 kept, result.words));
                return NextStep::Retry;
            }
            m_progress.failed += 1;
            if (m_policy.failureValue) {
                result.status = EvaluationStatus::FailureValue;
                result.value = m_policy.failureValue;
                result.constraints.clear();
                result.objectives.clear();
                tell(failureText(subject, attempt.failure,
                                 "; it takes the value " + realToText(*m_policy.failureValue),
                                 kept, result.words));
            } else {
                // Told by the run's message (failureMessage), or by the caller when a failure
                // of an individual before it is that message.
                result.status = EvaluationStatus::Failed;
                outcome.failed = true;
                stopping = true;
            }
        }

        if (result.status != EvaluationStatus::Cancelled && finished)
            finished(result);
        for (std::size_t copy : copies[k]) {
            EvaluationResult& twin = outcome.results[copy];
            // After a failure that stops the run the twin would never have been reached.
            if (result.status == EvaluationStatus::Failed)
                continue;
            twin.status = result.status;
            twin.value = result.value;
            twin.constraints = result.constraints;
            twin.objectives = result.objectives;
            twin.failure = result.failure;
            twin.words = result.words;
            twin.timedOut = result.timedOut;
            twin.where = result.where;
            if (twin.status != EvaluationStatus::Cancelled && finished)
                finished(twin);
        }
        m_progress.changed();
        return stopping ? NextStep::StopStarting : NextStep::Continue;
    };

    m_backend->run(unique, settle, control, m_progress);
    outcome.cancelled = control.cancelled();
    return outcome;
}

std::vector<int> findDuplicates(const std::vector<const Indiv*>& individuals)
{
    std::vector<int> first(individuals.size(), -1);
    for (std::size_t k = 1; k < individuals.size(); ++k)
        for (std::size_t j = 0; j < k; ++j)
            if (first[j] < 0 && *individuals[j] == *individuals[k]) {
                first[k] = static_cast<int>(j);
                break;
            }
    return first;
}

} // namespace zyl
