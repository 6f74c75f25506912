#include "engine/Evaluation.h"

#include "engine/backends/BatchEvaluator.h"
#include "engine/Formulas.h"
#include "expr/Evaluator.h"

#include <algorithm>
#include <limits>

namespace zyl {

void evaluateAnalytical(Indiv& ind, const std::vector<std::string>& names, SymbolTable& table)
{
    for (int j = 0; j < ind.count(); ++j)
        setSymbolValue(table, names[j], ind.gene(j)->getValue());
    // Through a reference, so that a missing "f" reports itself like any unknown name.
    ind.value = realObjective(evaluateNumeric(*makeSymbolRef("f"), table));
}

EvaluationBatch::EvaluationBatch(const std::atomic<bool>& stop, const std::atomic<bool>& abort)
    : m_stop(stop), m_abort(abort)
{
}

void EvaluationBatch::reset(const std::vector<Indiv>& population, std::vector<int> indices,
                            std::size_t constraints, int programConstraints,
                            std::size_t objectives, int programObjectives)
{
    m_programConstraints = programConstraints;
    m_population = &population;
    m_indices = std::move(indices);
    m_constraintCount = constraints;
    m_constraints.assign(m_indices.size() * constraints,
                         std::numeric_limits<double>::quiet_NaN());
    m_objectiveCount = objectives;
    m_programObjectives = programObjectives;
    m_objectives.assign(m_indices.size() * objectives, std::numeric_limits<double>::quiet_NaN());
    m_entries.assign(m_indices.size(), Entry{});
    m_messages.clear();
    m_ready = 0;
    m_shown = 0;
    m_lastProgress = std::chrono::steady_clock::now();
}

void EvaluationBatch::report(std::size_t k, EvaluationOutcome outcome)
{
    const bool failed = outcome.status == EvaluationOutcome::Status::Failed;
    // An external program's values are the last ones of the item's constraints; a whole set
    // (a stored outcome) fills them all.
    if (m_constraintCount > 0 && outcome.constraints.size() <= m_constraintCount)
        std::copy(outcome.constraints.begin(), outcome.constraints.end(),
                  constraints(k) + (m_constraintCount - outcome.constraints.size()));
    if (m_objectiveCount > 0 && outcome.objectives.size() <= m_objectiveCount)
        std::copy(outcome.objectives.begin(), outcome.objectives.end(),
                  objectives(k) + (m_objectiveCount - outcome.objectives.size()));
    m_entries[k] = {outcome.status, outcome.hasValue, outcome.value, outcome.timedOut};
    if (!outcome.message.empty())
        m_messages.emplace_back(k, std::move(outcome.message));
    advanceReady();
    if (failed && m_failure)
        m_failure();
}

EvaluationOutcome EvaluationBatch::outcome(std::size_t k) const
{
    const Entry& entry = m_entries[k];
    EvaluationOutcome outcome{entry.status, entry.hasValue, entry.value, {}, entry.timedOut, {}};
    if (m_constraintCount > 0)
        outcome.constraints.assign(constraints(k), constraints(k) + m_constraintCount);
    if (m_objectiveCount > 0)
        outcome.objectives.assign(objectives(k), objectives(k) + m_objectiveCount);
    for (const auto& [item, message] : m_messages)
        if (item == k)
            outcome.message = message;
    return outcome;
}

std::size_t EvaluationBatch::failuresFrom(std::size_t k) const
{
    const auto from = m_entries.begin() + static_cast<std::ptrdiff_t>(std::min(k, m_entries.size()));
    return static_cast<std::size_t>(std::count_if(from, m_entries.end(), [](const Entry& entry) {
        return entry.status == EvaluationOutcome::Status::Failed;
    }));
}

void EvaluationBatch::progress()
{
    if (!m_progress || m_ready == m_shown)
        return;
    const auto now = std::chrono::steady_clock::now();
    if (now - m_lastProgress < progressInterval)
        return;
    m_lastProgress = now;
    m_shown = m_ready;
    m_progress(m_ready);
}

void SequentialExternalBackend::evaluate(EvaluationBatch& batch)
{
    m_counts.reset(static_cast<int>(batch.size()));
    ExternalProgram program = m_program;
    // The front ends name the program's files; how many constraint values it writes is the
    // task's.
    if (program.constraints == 0)
        program.constraints = batch.programConstraints();
    if (program.objectives == 0)
        program.objectives = batch.programObjectives();
    for (std::size_t k = 0; k < batch.size(); ++k) {
        if (batch.stopRequested())
            return;
        // A copy: the windows may read the population while the program runs.
        Indiv ind = batch.individual(k);
        bool succeeded = false;
        bool timedOut = false;
        ExternalFailure failure;
        m_counts.queued -= 1;
        m_counts.running += 1;
        m_counts.changed();
        try {
            succeeded = evaluateExternal(program, ind, batch.abortFlag(), &timedOut, &failure);
        } catch (const std::exception& error) {
            succeeded = false;
            failure = {error.what(), ""};
        }
        // An ended program evaluated nothing: the individual stays as it was.
        m_counts.running -= 1;
        if (batch.abortFlag())
            return;
        (succeeded ? m_counts.done : m_counts.failed) += 1;
        m_counts.changed();
        if (succeeded && (program.constraints > 0 || program.objectives > 0)) {
            EvaluationOutcome outcome = EvaluationOutcome::evaluated(ind.value);
            outcome.constraints = std::move(ind.constraints);
            outcome.objectives = std::move(ind.objectives);
            batch.report(k, std::move(outcome));
        } else if (succeeded)
            batch.report(k, EvaluationOutcome::evaluated(ind.value));
        else {
            EvaluationResult result;
            result.generation = m_generation ? *m_generation + 1 : 0;
            result.index = batch.index(k);
            result.failure = failure.reason;
            result.words = failure.words;
            batch.report(k, {EvaluationOutcome::Status::Failed, true, ind.value,
                             failureMessage(result), timedOut});
        }
        batch.progress();
    }
}

} // namespace zyl
