#pragma once

#include "engine/External.h"
#include "engine/Indiv.h"
#include "engine/backends/ProgramBackend.h"
#include "expr/Tensor.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace zyl {

/// Gives each variable's value to the language under its name (a new symbol when the name is
/// not defined) and evaluates the objective "f" numerically; the real part becomes
/// `ind.value`. \throws InfoErr or a math error; `ind.value` is then unchanged.
void evaluateAnalytical(Indiv& ind, const std::vector<std::string>& names, SymbolTable& table);

/// What became of one individual of a batch.
struct EvaluationOutcome {
    enum class Status : std::uint8_t {
        /// Not evaluated: the run stopped first (or its external program was ended). The
        /// individual stays unevaluated.
        NotRun,
        Evaluated,
        /// The evaluation failed: `message` is shown, the run stops after this individual, and
        /// the individual counts as evaluated but is not buffered.
        Failed,
        /// The evaluation failed and the individual took the script's failure_value: the run
        /// goes on, but the value is no result, so it is counted as a failure and never
        /// buffered (a later copy of the individual is evaluated again).
        FailureValue,
    };
    Status status = Status::NotRun;
    /// Whether `value` becomes the individual's value. A failed external program may still
    /// have written one; a failed formula leaves the old value.
    bool hasValue = false;
    double value = 0.0;
    /// For Failed: the warning's text as shown ("Analytical function\n...", ...).
    std::string message;
    /// The program ran out of its time (external_timeout, a scheduler's time limit), so that a
    /// run store can tell a timeout from another failure.
    bool timedOut = false;
    /// With `value`, in a constrained task: the constraint values the evaluation gave, the
    /// last ones of the batch's (an external program's come after the CONSTRAINTS formulas);
    /// empty leaves the batch's slot for the item as it was.
    std::vector<double> constraints{};
    /// With `value`, in a task with several objectives: the objective values the evaluation
    /// gave, the last ones of the batch's (an external program's come after the OBJECTIVES
    /// formulas; its first is `value`); empty leaves the batch's slot for the item as it was.
    std::vector<double> objectives{};

    static EvaluationOutcome evaluated(double value)
    {
        return {Status::Evaluated, true, value, {}};
    }
};

/// The individuals of one generation that need a value, in index order, handed to an
/// evaluation as one batch. The evaluation reports an outcome per item, in any order and from
/// the thread it runs on; the run takes the values back into the population in index order
/// (then records them in the buffer), so the draws, the buffer and every output are the same
/// however the evaluation was spread out.
class EvaluationBatch {
public:
    /// Called on the evaluation's thread with the number of leading items that have an
    /// outcome, to show them; at most every `progressInterval`.
    using ProgressHandler = std::function<void(std::size_t readyItems)>;

    EvaluationBatch(const std::atomic<bool>& stop, const std::atomic<bool>& abort);

    /// Starts a new batch over the individuals at `indices` (ascending) of `population`, each
    /// with room for `constraints` constraint values and, in a task with several objectives,
    /// `objectives` objective values (the external program's the last `programObjectives`).
    void reset(const std::vector<Indiv>& population, std::vector<int> indices,
               std::size_t constraints = 0, int programConstraints = 0,
               std::size_t objectives = 0, int programObjectives = 0);
    /// Constraint values per item (0 in a task without constraints).
    std::size_t constraintCount() const { return m_constraintCount; }
    /// How many of them the external program writes (the last ones).
    int programConstraints() const { return m_programConstraints; }
    /// Item k's constraint values: written by its evaluation before it reports the item,
    /// read once it has.
    double* constraints(std::size_t k) { return m_constraints.data() + k * m_constraintCount; }
    const double* constraints(std::size_t k) const
    {
        return m_constraints.data() + k * m_constraintCount;
    }
    /// Objective values per item (0 in a task with one objective), and those of them the
    /// external program writes (the last ones).
    std::size_t objectiveCount() const { return m_objectiveCount; }
    int programObjectives() const { return m_programObjectives; }
    /// Item k's objective values, as its constraint values are: written by its evaluation
    /// before it reports the item, read once it has.
    double* objectives(std::size_t k) { return m_objectives.data() + k * m_objectiveCount; }
    const double* objectives(std::size_t k) const
    {
        return m_objectives.data() + k * m_objectiveCount;
    }
    void setProgressHandler(ProgressHandler handler) { m_progress = std::move(handler); }

    std::size_t size() const { return m_indices.size(); }
    /// The population index of item k.
    int index(std::size_t k) const { return m_indices[k]; }
    /// The individual of item k. Its variables may be read from any thread while the batch is
    /// evaluated; nothing writes them meanwhile.
    const Indiv& individual(std::size_t k) const { return (*m_population)[m_indices[k]]; }

    /// True once the run was asked to stop (Terminate, a signal, a failed item): no further
    /// item may be started; those not started stay NotRun.
    bool stopRequested() const { return m_stop.load(std::memory_order_relaxed); }
    /// True when a running external program must be ended at once; its item stays NotRun.
    const std::atomic<bool>& abortFlag() const { return m_abort; }
    /// The flag behind stopRequested(), for evaluations that hand it on to their workers.
    const std::atomic<bool>& stopFlag() const { return m_stop; }

    /// The outcome of item k. A Failed outcome asks the run to stop (through the handler given
    /// to setFailureHandler) before the next item is started. Calls of report, reportValue
    /// and progress must not overlap.
    void report(std::size_t k, EvaluationOutcome outcome);
    /// report(k, EvaluationOutcome::evaluated(value)), without building an outcome.
    void reportValue(std::size_t k, double value)
    {
        m_entries[k] = {EvaluationOutcome::Status::Evaluated, true, value, false};
        advanceReady();
    }
    /// Lets the run show the values reported so far. Cheap: it acts at most every
    /// `progressInterval`, so it may be called after every item.
    void progress();

    EvaluationOutcome outcome(std::size_t k) const;
    /// Parts of outcome(k), without copying its message.
    EvaluationOutcome::Status status(std::size_t k) const { return m_entries[k].status; }
    bool timedOut(std::size_t k) const { return m_entries[k].timedOut; }
    /// The value item k brings, or null (see EvaluationOutcome::hasValue).
    const double* value(std::size_t k) const
    {
        return m_entries[k].hasValue ? &m_entries[k].value : nullptr;
    }
    /// Items 0 .. readyItems()-1 all have an outcome.
    std::size_t readyItems() const { return m_ready; }
    /// How many items from k on failed (Status::Failed).
    std::size_t failuresFrom(std::size_t k) const;
    void setFailureHandler(std::function<void()> handler) { m_failure = std::move(handler); }

    static constexpr std::chrono::milliseconds progressInterval{25};

private:
    void advanceReady()
    {
        while (m_ready < m_entries.size() &&
               m_entries[m_ready].status != EvaluationOutcome::Status::NotRun)
            ++m_ready;
    }

    // An outcome without its message, which only failures have.
    struct Entry {
        EvaluationOutcome::Status status = EvaluationOutcome::Status::NotRun;
        bool hasValue = false;
        double value = 0.0;
        bool timedOut = false;
    };

    const std::atomic<bool>& m_stop;
    const std::atomic<bool>& m_abort;
    const std::vector<Indiv>* m_population = nullptr;
    std::vector<int> m_indices;
    std::size_t m_constraintCount = 0;
    int m_programConstraints = 0;
    std::vector<double> m_constraints;
    std::size_t m_objectiveCount = 0;
    int m_programObjectives = 0;
    std::vector<double> m_objectives;
    std::vector<Entry> m_entries;
    std::vector<std::pair<std::size_t, std::string>> m_messages;
    std::size_t m_ready = 0;
    std::size_t m_shown = 0;
    std::chrono::steady_clock::time_point m_lastProgress;
    ProgressHandler m_progress;
    std::function<void()> m_failure;
};

/// Where an external task's programs run. The run hands each generation's batch to
/// evaluate, on its worker thread, and takes the outcomes back in index order.
class EvaluationBackend {
public:
    virtual ~EvaluationBackend() = default;
    /// Reports an outcome for the items of `batch` it evaluates (any order, any number at
    /// once); starts no item once batch.stopRequested(); ends a running program at once when
    /// batch.abortFlag() is set, leaving its item NotRun; and calls batch.progress() now and
    /// then, so that the values are shown as they come. A failed item stops the batch.
    virtual void evaluate(EvaluationBatch& batch) = 0;
};

/// The external program of the script, one run at a time, in index order, on the calling
/// thread: each run writes the input file, waits for the program and reads the output file.
/// A failure is "A problem with external program." followed by its reason (see
/// failureMessage); the value the program wrote, if any, still counts.
class SequentialExternalBackend : public EvaluationBackend {
public:
    /// `generation`, when given, is the run's count of finished generations, read for the
    /// messages as a batch starts.
    explicit SequentialExternalBackend(ExternalProgram program, const int* generation = nullptr)
        : m_program(std::move(program)), m_generation(generation)
    {
    }
    void evaluate(EvaluationBatch& batch) override;

    /// The counts of the current (or last) batch; any thread.
    EvaluationProgress progress() const { return m_counts.snapshot(); }
    /// Called on the evaluating thread as each program starts and ends.
    void setActivityHandler(std::function<void()> handler)
    {
        m_counts.onChange = std::move(handler);
    }

private:
    ExternalProgram m_program;
    const int* m_generation;
    ProgressCounters m_counts;
};

} // namespace zyl
