#pragma once

#include "engine/Evaluation.h"
#include "engine/External.h"
#include "engine/Formulas.h"
#include "engine/RunHooks.h"
#include "engine/StopRules.h"
#include "engine/UserPlots.h"
#include "engine/Zyl.h"
#include "expr/Tensor.h"
#include "script/ProjectScript.h"
#include "script/ProjectSettings.h"

#include <atomic>
#include <chrono>
#include <stop_token>
#include <vector>

namespace zyl {

/// What a run compiles and allocates for its task, kept by the owner of the task so that the
/// next run starts where this one ended: a batch optimiser may start a run per generation,
/// and compiling the formulas and allocating their room anew each time cost more than the
/// generation itself. Definitions changed between runs are caught up by the formulas as
/// within a run.
struct RunWorkspace {
    CompiledObjective objective;
    std::vector<std::vector<CompiledText>> plotFormulas;
    std::vector<CompiledText> exportFormulas;
    std::vector<double> constraintValues;
    std::vector<double> objectiveValues;
};

/// Everything a run works on. The owner keeps these alive for the whole run.
struct RunContext {
    ZYL& zyl;
    ProjectSettings& settings;
    const ProjectScript& script;
    SymbolTable& table;
    std::vector<UserPlot>& plots;
    /// Where an external task's programs run; null: one at a time, as the script names them
    /// (SequentialExternalBackend).
    EvaluationBackend* backend = nullptr;
    /// What the stop rules carry from run to run (a run store keeps it too); null: the run
    /// keeps its own, so the rules see this run only.
    StopRuleState* stopState = nullptr;
    /// The task's run time for time_limit, running while the run goes; null: this run's time.
    const RunClock* clock = nullptr;
    /// Kept from run to run of the task; null: the run has its own.
    RunWorkspace* workspace = nullptr;
};

/// One run: up to `loopCounter` generations, never past `maxIteration`. `execute` is the
/// worker's loop. Per generation:
///
/// 1. The individuals without a value go, in index order, as one EvaluationBatch to the
///    evaluation of the task's mode.
/// 2. The values are taken back into the population in index order, each followed by the
///    buffer; the observer is told (evaluatedValue, buffered, generationEvaluated).
/// 3. The generation step: statistics, publication, the stop rules, export, plots, the next
///    generation. A stop rule that is met ends the task after the step, like max_iteration
///    (the observer is told why: stopRuleMet).
///
/// An analytical (or manual) task does all three through the synchronizer, in slices of about
/// 20 ms (setSlice): a compiled objective needs no other thread, and keeping the population on
/// one thread (one processor's cache) is what makes a generation fast; between slices that
/// thread answers its windows, Terminate included. An objective the tree must evaluate is
/// taken back value by value, as it is computed. An external task runs its programs on the
/// worker, through the EvaluationBackend of the context (by default one program after the
/// other), and has their values taken back as they come (at most every
/// EvaluationBatch::progressInterval); steps 2 and 3 then cost one synchronized call.
///
/// A failing step shows its message through the observer and stops the run before the next
/// individual. A definition changed in the console while a generation is evaluated takes
/// effect with the next generation: the objective is brought in line with the table before
/// each batch and evaluates without it.
class Task {
public:
    Task(RunContext context, Synchronizer& sync, RunObserver& observer);

    /// The loop. Returns when the generations are done, the limit is reached or a stop was
    /// requested.
    void execute();

    /// Stops the run before the next individual; the individual in hand is completed. Also
    /// abandons the breeding of a next generation that has gone on for long (a huge tournament
    /// or number of cut points); the population then stays as it was.
    void terminate() { m_stop = true; }
    /// Also ends an external program that is running now (without a message); the
    /// individual it was evaluating stays unevaluated.
    void abort()
    {
        m_abortExternal = true;
        m_stop = true;
    }
    /// SIGTERM or Terminate with a grace: starts nothing more at once, lets the programs that
    /// run finish (and their values be taken) for `graceSeconds`, then ends the rest as abort()
    /// does. 0 is abort() itself. Only stores atomics, so a signal handler may call it.
    void terminateWithin(double graceSeconds);
    bool stopRequested() const { return m_stop; }
    /// The generation (counted from 1) in which every evaluation took the failure value,
    /// which stopped the run before its generation step; 0 when none did.
    int allFailedGeneration() const { return m_allFailedGeneration; }
    int currentIndex() const { return m_currentIndex.load(std::memory_order_relaxed); }

    /// How long a synchronized slice of an analytical run lasts, about: at least one block of
    /// individuals or one generation step. 20 ms unless changed (tests make it 0).
    void setSlice(std::chrono::nanoseconds slice) { m_slice = slice; }

private:
    enum class TakeBack { Incomplete, Complete, Stopped };
    using Clock = std::chrono::steady_clock;

    /// Runs an analytical or manual task's generations on the table's thread until
    /// `deadline`. False once the run is over.
    bool advance(Clock::time_point deadline);
    /// Evaluates items of the batch from m_nextItem on. True when the batch is done (every
    /// item reported, or a stop came first); false when the deadline came first.
    bool evaluateItems(Clock::time_point deadline);
    /// The same for a compiled objective: blocks of individuals at once.
    bool evaluateCompiledItems(Clock::time_point deadline);
    void executeExternal();
    /// Ends running programs once a grace asked for by terminateWithin has passed; runs on a
    /// thread of its own for as long as executeExternal does.
    void watchGrace(std::stop_token stop);
    /// True when every item of the generation's batch took the failure value: the values are
    /// then no result, and the run stops before the generation step (see allFailedGeneration).
    bool stopWhenAllFailed();
    void prepareGeneration();
    void evaluateExternalItems();
    TakeBack takeBack(std::size_t readyItems);
    void takeBackOne(Indiv& ind, int index, std::size_t item);
    /// The CONSTRAINTS formulas of an external task for `ind`, into values[0 ..]; a formula
    /// that fails leaves them all NaN (infeasible) with a warning.
    void externalSectionConstraints(const Indiv& ind, double* values);
    /// The same for the OBJECTIVES formulas of an external task with several objectives: one
    /// that fails leaves them all NaN (no result) with a warning.
    void externalSectionObjectives(const Indiv& ind, double* values);
    /// Item k of an analytical task with several objectives, by the tree: every objective into
    /// the batch, the first into `ind.value`. \throws what a formula throws; `ind.value` is
    /// then unchanged.
    void evaluateObjectivesByTree(Indiv& ind, std::size_t k);
    /// With prescreen: computes the formulas of individual `index` before its program would
    /// run, and whether they rule it out.
    bool ruledOut(int index);
    /// A ruled-out individual is taken back in its place, as if evaluated.
    void takeBackScreened(Indiv& ind, int index);
    void generationStep();
    void checkStopRules();
    StopRuleState& stopState() { return m_context.stopState ? *m_context.stopState : m_ownStop; }
    bool taskFinished() const
    {
        return (m_context.stopState ? *m_context.stopState : m_ownStop).finished();
    }

    RunContext m_context;
    Synchronizer& m_sync;
    RunObserver& m_observer;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_abortExternal{false};
    std::atomic<int> m_currentIndex{0};
    /// The grace terminateWithin asked for, in milliseconds; negative: none asked.
    std::atomic<long long> m_graceMs{-1};
    int m_allFailedGeneration = 0;

    RunWorkspace& workspace() { return m_context.workspace ? *m_context.workspace : m_ownWorkspace; }

    EvaluationBatch m_batch;
    RunWorkspace m_ownWorkspace;
    bool m_compiledBatch = false;
    std::chrono::nanoseconds m_slice = std::chrono::milliseconds(20);
    // Where an analytical run stands between slices.
    int m_loop = 0;
    bool m_inGeneration = false;
    std::size_t m_nextItem = 0;
    // Where the take-back of the current generation stands.
    int m_scan = 0;
    std::size_t m_taken = 0;
    bool m_halted = false;
    std::size_t m_failureValuesTaken = 0;
    // With prescreen, per individual of the generation: the CONSTRAINTS formulas' values (a
    // row each), computed once before the programs run, and whether they ruled it out.
    bool m_screening = false;
    std::vector<double> m_sectionValues;
    std::vector<char> m_ruledOut;
    StopRuleState m_ownStop;
    RunClock m_ownClock;
};

/// A value typed for individual `index` of the current population (the manual entry): the
/// individual takes it and is marked evaluated, and with the buffer on it is recorded there.
/// A typed value counts as an evaluation for max_evaluations in `stop`, when given.
void enterManualValue(ZYL& zyl, int index, double value, RunObserver& observer,
                      StopRuleState* stop = nullptr);

} // namespace zyl
