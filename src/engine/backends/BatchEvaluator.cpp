#include "engine/backends/BatchEvaluator.h"

#include "common/TextConvert.h"
#include "engine/Indiv.h"

#include <map>

namespace zyl {

namespace {

std::string subject(const EvaluationRequest& request)
{
    return "Evaluation of individual " + std::to_string(request.index) + " (generation " +
           std::to_string(request.generation) + ")";
}

std::string folderNote(const AttemptOutcome& outcome)
{
    if (outcome.workDir.empty() || !outcome.workDirKept)
        return "";
    return " Work folder: " + outcome.workDir;
}

} // namespace

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
    auto tell = [&](const std::string& text) {
        if (m_report)
            m_report(text);
    };
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

        if (attempt.status == AttemptStatus::Cancelled) {
            result.status = EvaluationStatus::Cancelled;
        } else if (attempt.status == AttemptStatus::Succeeded) {
            result.status = EvaluationStatus::Succeeded;
            m_progress.done += 1;
        } else {
            const bool worthTelling = !attempt.workDir.empty() || m_policy.retries > 0 ||
                                      m_policy.failureValue.has_value();
            if (request.attempt <= m_policy.retries && !control.cancelled() &&
                !control.stopping() && !stopping) {
                tell(subject(request) + " failed: " + attempt.failure + "; starting it again (" +
                     std::to_string(request.attempt + 1) + " of " +
                     std::to_string(m_policy.retries + 1) + ")." + folderNote(attempt));
                return NextStep::Retry;
            }
            m_progress.failed += 1;
            if (m_policy.failureValue) {
                result.status = EvaluationStatus::FailureValue;
                result.value = m_policy.failureValue;
                result.constraints.clear();
                tell(subject(request) + " failed: " + attempt.failure + "; it takes the value " +
                     realToText(*m_policy.failureValue) + "." + folderNote(attempt));
            } else {
                result.status = EvaluationStatus::Failed;
                outcome.failed = true;
                stopping = true;
                if (worthTelling)
                    tell(subject(request) + " failed: " + attempt.failure + "." +
                         folderNote(attempt));
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
            twin.failure = result.failure;
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
