#include "engine/Task.h"

#include "engine/Export.h"
#include "engine/Objectives.h"
#include "engine/Statistics.h"
#include "engine/backends/Backends.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <limits>
#include <mutex>
#include <optional>
#include <thread>

namespace zyl {

namespace {

/// Tells when a deadline has passed without reading the clock after every cheap step: the
/// clock is read every `m_every` steps, a number that grows while steps are cheap and shrinks
/// when they are slow, so that a slice overruns its deadline by about a millisecond at most.
class SliceClock {
public:
    using Clock = std::chrono::steady_clock;

    explicit SliceClock(Clock::time_point deadline) : m_deadline(deadline), m_last(Clock::now())
    {
    }

    bool expired()
    {
        if (++m_count < m_every)
            return false;
        m_count = 0;
        const Clock::time_point now = Clock::now();
        const auto since = now - m_last;
        m_last = now;
        if (since < std::chrono::microseconds(250) && m_every < 4096)
            m_every *= 2;
        else if (since > std::chrono::milliseconds(1) && m_every > 1)
            m_every /= 2;
        return now >= m_deadline;
    }

private:
    Clock::time_point m_deadline;
    Clock::time_point m_last;
    int m_every = 1;
    int m_count = 0;
};

} // namespace

Task::Task(RunContext context, Synchronizer& sync, RunObserver& observer)
    : m_context(context), m_sync(sync), m_observer(observer), m_batch(m_stop, m_abortExternal)
{
    m_batch.setFailureHandler([this] { terminate(); });
}

void Task::terminateWithin(double graceSeconds)
{
    if (!(graceSeconds > 0)) {
        abort();
        return;
    }
    // Within reach of the clocks: a deadline past them would fall in the past.
    const double ms = std::min(graceSeconds, maxTermGrace) * 1000.0;
    long long expected = -1;
    // A second request during the grace does not move its end.
    m_graceMs.compare_exchange_strong(expected, static_cast<long long>(ms));
    m_stop = true;
}

void Task::watchGrace(std::stop_token stop)
{
    // Polled rather than signalled: a signal handler may start the grace, and it can only
    // write atomics.
    constexpr auto poll = std::chrono::milliseconds(20);
    std::mutex mutex;
    std::condition_variable_any wake;
    std::optional<Clock::time_point> deadline;
    std::unique_lock lock(mutex);
    while (!stop.stop_requested() && !m_abortExternal) {
        const long long grace = m_graceMs.load();
        if (grace >= 0 && !deadline)
            deadline = Clock::now() + std::chrono::milliseconds(grace);
        if (deadline && Clock::now() >= *deadline) {
            m_abortExternal = true;
            return;
        }
        auto next = Clock::now() + poll;
        if (deadline && *deadline < next)
            next = *deadline;
        wake.wait_until(lock, stop, next, [] { return false; });
    }
}

void Task::execute()
{
    m_ownClock.start();
    if (m_context.settings.functionMode == FunctionMode::External) {
        std::jthread watcher;
        if (m_context.settings.termGrace > 0)
            watcher = std::jthread([this](std::stop_token stop) { watchGrace(stop); });
        executeExternal();
        return;
    }
    bool more = true;
    while (more)
        m_sync.run([&] { more = advance(Clock::now() + m_slice); });
}

bool Task::advance(Clock::time_point deadline)
{
    ZYL& zyl = m_context.zyl;
    for (;;) {
        if (!m_inGeneration) {
            if (m_loop >= m_context.settings.loopCounter || zyl.generation >= zyl.maxIteration ||
                taskFinished())
                return false;
            // The stop flag is looked at before every individual, the first one included.
            if (m_stop)
                return false;
            prepareGeneration();
            m_inGeneration = true;
        }
        if (!evaluateItems(deadline)) {
            takeBack(m_batch.readyItems());
            return !m_halted;
        }
        if (takeBack(m_batch.size()) != TakeBack::Complete)
            return false;
        m_observer.generationEvaluated();
        generationStep();
        m_inGeneration = false;
        ++m_loop;
        if (Clock::now() >= deadline)
            return true;
    }
}

bool Task::evaluateCompiledItems(Clock::time_point deadline)
{
    SliceClock clock(deadline);
    constexpr std::size_t block = CompiledExpression::blockRows;
    const Indiv* individuals[block];
    double values[block];
    ConstraintFormulas* formulas = m_context.zyl.constraintFormulas.get();
    if (formulas)
        workspace().constraintValues.resize(block * formulas->count());
    ConstraintFormulas* objectives =
        m_context.zyl.objectives ? m_context.zyl.objectives->formulas.get() : nullptr;
    if (objectives)
        workspace().objectiveValues.resize(block * objectives->count());
    for (bool first = true; m_nextItem < m_batch.size(); first = false) {
        if (m_batch.stopRequested())
            return true;
        if (!first && clock.expired())
            return false;
        const std::size_t start = m_nextItem;
        const std::size_t rows = std::min(block, m_batch.size() - start);
        for (std::size_t r = 0; r < rows; ++r)
            individuals[r] = &m_batch.individual(start + r);
        m_currentIndex.store(m_batch.index(start + rows - 1), std::memory_order_relaxed);
        std::size_t done = 0;
        std::string failure;
        try {
            if (objectives) {
                // The first objective is the value; each row's objectives go with its item.
                const std::size_t count = objectives->count();
                double* all = workspace().objectiveValues.data();
                objectives->evaluateBlock(individuals, rows, all, done);
                for (std::size_t r = 0; r < done; ++r) {
                    values[r] = all[r * count];
                    std::copy_n(all + r * count, count, m_batch.objectives(start + r));
                }
            } else {
                workspace().objective.evaluateBlock(individuals, rows, values, done);
            }
        } catch (const std::exception& error) {
            failure = error.what();
            if (objectives) {
                const std::size_t count = objectives->count();
                for (std::size_t r = 0; r < done; ++r) {
                    values[r] = workspace().objectiveValues[r * count];
                    std::copy_n(workspace().objectiveValues.data() + r * count, count,
                                m_batch.objectives(start + r));
                }
            }
        }
        if (formulas && done > 0) {
            // The constraints of a row come right after its objective: a row whose objective
            // failed has none, and the earliest row that fails either way is the one reported.
            std::size_t constrained = 0;
            try {
                formulas->evaluateBlock(individuals, done, workspace().constraintValues.data(),
                                        constrained);
            } catch (const std::exception& error) {
                failure = error.what();
                done = constrained;
            }
            const std::size_t count = formulas->count();
            for (std::size_t r = 0; r < done; ++r)
                std::copy_n(workspace().constraintValues.data() + r * count, count,
                            m_batch.constraints(start + r));
        }
        for (std::size_t r = 0; r < done; ++r)
            m_batch.reportValue(start + r, values[r]);
        if (done < rows) {
            m_batch.report(start + done, {EvaluationOutcome::Status::Failed, false, 0,
                                          std::string("Analytical function\n") + failure});
            m_nextItem = start + done + 1;
            continue;
        }
        m_nextItem = start + rows;
    }
    return true;
}

bool Task::evaluateItems(Clock::time_point deadline)
{
    if (m_compiledBatch)
        return evaluateCompiledItems(deadline);
    ZYL& zyl = m_context.zyl;
    const FunctionMode mode = m_context.settings.functionMode;
    SliceClock clock(deadline);
    for (bool first = true; m_nextItem < m_batch.size(); ++m_nextItem, first = false) {
        const std::size_t k = m_nextItem;
        if (m_batch.stopRequested())
            return true;
        if (!first && clock.expired())
            return false;
        const int i = m_batch.index(k);
        m_currentIndex.store(i, std::memory_order_relaxed);
        if (mode != FunctionMode::Analytical) {
            // A manual task's values were typed; an individual without one is taken as it is.
            m_batch.report(k, {EvaluationOutcome::Status::Evaluated, false, 0, {}});
            continue;
        }
        try {
            // The tree reads the variables from the table and is taken back at once, as a run
            // always did, so that the table and the buffer follow each individual.
            Indiv& ind = zyl.population[static_cast<std::size_t>(i)];
            const double before = ind.value;
            if (zyl.objectives && zyl.objectives->formulas)
                evaluateObjectivesByTree(ind, k);
            else
                evaluateAnalytical(ind, zyl.names, m_context.table);
            if (const ConstraintFormulas* formulas = zyl.constraintFormulas.get()) {
                try {
                    formulas->evaluateTree(m_context.table, m_batch.constraints(k));
                } catch (...) {
                    ind.value = before; // a failed evaluation leaves the old value
                    throw;
                }
            }
            m_batch.reportValue(k, ind.value);
        } catch (const std::exception& error) {
            m_batch.report(k, {EvaluationOutcome::Status::Failed, false, 0,
                               std::string("Analytical function\n") + error.what()});
        }
        takeBack(k + 1);
    }
    return true;
}

void Task::executeExternal()
{
    ZYL& zyl = m_context.zyl;
    m_batch.setProgressHandler([this](std::size_t ready) {
        m_sync.run([this, ready] { takeBack(ready); });
    });
    bool prepared = false;
    for (int loop = 0; loop < m_context.settings.loopCounter; ++loop) {
        if (zyl.generation >= zyl.maxIteration || taskFinished())
            break;
        if (m_stop)
            return;
        if (!prepared)
            m_sync.run([this] { prepareGeneration(); });
        evaluateExternalItems();
        bool completed = false;
        prepared = false;
        const bool another = loop + 1 < m_context.settings.loopCounter;
        m_sync.run([&] {
            if (takeBack(m_batch.size()) != TakeBack::Complete || stopWhenAllFailed())
                return;
            completed = true;
            m_observer.generationEvaluated();
            generationStep();
            // Ready for the worker to go on at once, without another call.
            if (another && !taskFinished()) {
                prepareGeneration();
                prepared = true;
            }
        });
        if (!completed)
            return;
    }
}

void Task::prepareGeneration()
{
    const ZYL& zyl = m_context.zyl;
    std::vector<int> pending;
    pending.reserve(static_cast<std::size_t>(zyl.popSize));
    m_screening = zyl.prescreen && zyl.constraintFormulas &&
                  m_context.settings.functionMode == FunctionMode::External;
    if (m_screening) {
        m_ruledOut.assign(static_cast<std::size_t>(zyl.popSize), 0);
        m_sectionValues.resize(static_cast<std::size_t>(zyl.popSize) *
                               zyl.constraintFormulas->count());
    }
    // Ruled out here, on the table's thread and before any program starts, so that no
    // backend, worker count or resume can send one of them to the program.
    for (int i = 0; i < zyl.popSize; ++i)
        if (!zyl.population[static_cast<std::size_t>(i)].evaluated &&
            !(m_screening && ruledOut(i)))
            pending.push_back(i);
    const std::size_t objectives = zyl.objectives ? zyl.objectives->count() : 0;
    m_batch.reset(zyl.population, std::move(pending), zyl.constraintNames.size(),
                  m_context.settings.externalConstraints, objectives,
                  m_context.settings.functionMode == FunctionMode::External
                      ? m_context.settings.externalObjectives
                      : 0);
    m_nextItem = 0;
    m_scan = 0;
    m_taken = 0;
    m_halted = false;
    m_failureValuesTaken = 0;
    m_compiledBatch = false;
    if (m_context.settings.functionMode == FunctionMode::Analytical && m_batch.size() > 0) {
        ConstraintFormulas* formulas = zyl.objectives ? zyl.objectives->formulas.get() : nullptr;
        if (formulas) {
            formulas->prepare(zyl.names, m_context.table);
            m_compiledBatch = formulas->compiled();
        } else {
            workspace().objective.prepare(zyl.names, m_context.table);
            m_compiledBatch = workspace().objective.compiled();
        }
        if (zyl.constraintFormulas) {
            zyl.constraintFormulas->prepare(zyl.names, m_context.table);
            // One way for the objective and its constraints, so that a definition changed in
            // the console reaches both in the same generation.
            m_compiledBatch = m_compiledBatch && zyl.constraintFormulas->compiled();
        }
    }
}

void Task::evaluateExternalItems()
{
    if (m_context.backend) {
        m_context.backend->evaluate(m_batch);
        return;
    }
    SequentialExternalBackend sequential(
        externalProgram(m_context.settings, m_context.zyl.names), &m_context.zyl.generation);
    sequential.evaluate(m_batch);
}

// NOTE: the take-back walks the population as a run always walked it, one individual at a
// time with the stop flag looked at before each, as that flag stood when the run was there:
// an item evaluated before a stop request was completed before it and is taken back, and an
// individual that needed no evaluation sees the stop only if the evaluation stopped before the
// next item (or had none left). A stop requested while the values are being taken back (from
// an observer, say) stops before the next individual, whose computed value is then dropped
// and computed again by the next run.
Task::TakeBack Task::takeBack(std::size_t readyItems)
{
    ZYL& zyl = m_context.zyl;
    if (m_halted)
        return TakeBack::Stopped;
    const bool stopAtStart = m_stop;
    int lastEvaluated = -1;
    while (m_scan < zyl.popSize) {
        const int i = m_scan;
        if (m_taken < m_batch.size() && m_batch.index(m_taken) == i) {
            if (m_taken >= readyItems)
                break;
            if (m_batch.status(m_taken) == EvaluationOutcome::Status::NotRun ||
                (m_stop && !stopAtStart)) {
                m_halted = true;
                break;
            }
            m_currentIndex.store(i, std::memory_order_relaxed);
            takeBackOne(zyl.population[static_cast<std::size_t>(i)], i, m_taken);
            lastEvaluated = i;
            const bool failed = m_batch.status(m_taken) == EvaluationOutcome::Status::Failed;
            ++m_taken;
            if (failed) {
                // One program after the other would have started none after the failed one:
                // what programs running beside it gave is not taken (a run store keeps it).
                // Their failures were said all the same, and are counted.
                stopState().failedEvaluations += m_batch.failuresFrom(m_taken);
                ++m_scan;
                m_halted = true;
                break;
            }
        } else {
            // The flag as a run would have found it here: set when the evaluation stopped
            // before the next item (a failure, Terminate), or after the last one.
            bool stopHere = m_stop && !stopAtStart;
            if (m_taken < m_batch.size()) {
                if (m_taken >= readyItems)
                    break; // not known yet
                stopHere = stopHere || m_batch.status(m_taken) == EvaluationOutcome::Status::NotRun;
            } else {
                stopHere = stopHere || m_stop;
            }
            if (stopHere) {
                m_halted = true;
                break;
            }
            if (m_screening && m_ruledOut[static_cast<std::size_t>(i)])
                takeBackScreened(zyl.population[static_cast<std::size_t>(i)], i);
        }
        ++m_scan;
    }
    // The table holds the variables of the last individual evaluated, as if the compiled
    // program had written each individual's values there before evaluating it.
    if (m_compiledBatch && lastEvaluated >= 0) {
        const Indiv& last = zyl.population[static_cast<std::size_t>(lastEvaluated)];
        for (int j = 0; j < last.count(); ++j)
            setSymbolValue(m_context.table, zyl.names[static_cast<std::size_t>(j)],
                           last.gene(j)->getValue());
    }
    if (m_halted)
        return TakeBack::Stopped;
    return m_scan == zyl.popSize ? TakeBack::Complete : TakeBack::Incomplete;
}

void Task::takeBackOne(Indiv& ind, int index, std::size_t item)
{
    ZYL& zyl = m_context.zyl;
    const FunctionMode mode = m_context.settings.functionMode;
    // A manual value typed since the batch was formed has been taken and recorded already.
    if (mode == FunctionMode::Manual && ind.evaluated)
        return;
    if (const double* value = m_batch.value(item)) {
        ind.value = *value;
        const bool evaluated = m_batch.status(item) == EvaluationOutcome::Status::Evaluated;
        if (zyl.constrained()) {
            double* constraints = m_batch.constraints(item);
            if (mode == FunctionMode::External && zyl.constraintFormulas && evaluated) {
                if (m_screening)
                    std::copy_n(m_sectionValues.data() + static_cast<std::size_t>(index) *
                                                             zyl.constraintFormulas->count(),
                                zyl.constraintFormulas->count(), constraints);
                else
                    externalSectionConstraints(ind, constraints);
            }
            zyl.setConstraintValues(ind, constraints);
        }
        if (zyl.objectives) {
            // A failure value comes without objective values: no objective has one.
            double* objectives = m_batch.objectives(item);
            if (mode == FunctionMode::External && zyl.objectives->formulas && evaluated)
                externalSectionObjectives(ind, objectives);
            ind.objectives.assign(objectives, objectives + m_batch.objectiveCount());
            if (evaluated && !ind.objectives.empty())
                ind.value = ind.objectives.front();
        }
    }
    // Every item of a batch was computed (a buffer hit is evaluated before the batch forms);
    // a typed value is counted where it is entered.
    if (mode != FunctionMode::Manual)
        ++stopState().evaluations;
    const EvaluationOutcome::Status status = m_batch.status(item);
    if (status == EvaluationOutcome::Status::Failed) {
        ++stopState().failedEvaluations;
        const EvaluationOutcome outcome = m_batch.outcome(item);
        m_observer.warning(outcome.message);
        m_observer.evaluationFailed(index, outcome.message, outcome.timedOut);
        terminate();
        ind.evaluated = true;
        m_observer.evaluatedValue(index);
        // A failed evaluation leaves an inherited or stale value: remembering it would hand
        // that value to every later copy of the individual.
        return;
    }
    if (status == EvaluationOutcome::Status::FailureValue) {
        ++stopState().failedEvaluations;
        ++stopState().failureValues;
        ++m_failureValuesTaken;
        ind.evaluated = true;
        // Not buffered: an outage that lasted a while must not hand its failure value to
        // every later copy of the individual.
        m_observer.evaluatedValue(index);
        return;
    }
    ind.evaluated = true;
    if (mode != FunctionMode::Manual)
        m_observer.evaluatedValue(index);
    if (const Indiv* entry = zyl.recordInBuffer(ind))
        m_observer.buffered(*entry);
}

void Task::externalSectionConstraints(const Indiv& ind, double* values)
{
    // On the table's thread, as the take-back runs: the section's formulas need the table,
    // which the programs' threads never touch.
    ZYL& zyl = m_context.zyl;
    try {
        zyl.constraintFormulas->evaluateTree(ind, zyl.names, m_context.table, values);
    } catch (const std::exception& error) {
        std::fill_n(values, zyl.constraintFormulas->count(),
                    std::numeric_limits<double>::quiet_NaN());
        m_observer.warning(std::string("Constraints\n") + error.what());
    }
}

void Task::externalSectionObjectives(const Indiv& ind, double* values)
{
    ZYL& zyl = m_context.zyl;
    const ConstraintFormulas& formulas = *zyl.objectives->formulas;
    try {
        formulas.evaluateTree(ind, zyl.names, m_context.table, values);
    } catch (const std::exception& error) {
        std::fill_n(values, formulas.count(), std::numeric_limits<double>::quiet_NaN());
        m_observer.warning(std::string("Objectives\n") + error.what());
    }
}

void Task::evaluateObjectivesByTree(Indiv& ind, std::size_t k)
{
    ZYL& zyl = m_context.zyl;
    double* objectives = m_batch.objectives(k);
    zyl.objectives->formulas->evaluateTree(ind, zyl.names, m_context.table, objectives);
    ind.value = objectives[0];
}

bool Task::ruledOut(int index)
{
    ZYL& zyl = m_context.zyl;
    const std::size_t count = zyl.constraintFormulas->count();
    double* values = m_sectionValues.data() + static_cast<std::size_t>(index) * count;
    externalSectionConstraints(zyl.population[static_cast<std::size_t>(index)], values);
    const bool out = zyl.violationOf(values, count) > 0;
    m_ruledOut[static_cast<std::size_t>(index)] = out ? 1 : 0;
    return out;
}

void Task::takeBackScreened(Indiv& ind, int index)
{
    ZYL& zyl = m_context.zyl;
    // Not an evaluation: it costs nothing, so neither max_evaluations nor the failures count it.
    zyl.screen(ind, m_sectionValues.data() +
                        static_cast<std::size_t>(index) * zyl.constraintFormulas->count());
    m_observer.evaluatedValue(index);
    if (const Indiv* entry = zyl.recordInBuffer(ind))
        m_observer.buffered(*entry);
}

bool Task::stopWhenAllFailed()
{
    if (m_batch.size() == 0 || m_failureValuesTaken < m_batch.size())
        return false;
    ZYL& zyl = m_context.zyl;
    m_allFailedGeneration = zyl.generation + 1;
    // Left without a value, so that a later Run (or a resume) evaluates them again once the
    // cause is mended, instead of breeding from values that are none.
    for (std::size_t k = 0; k < m_batch.size(); ++k)
        zyl.population[static_cast<std::size_t>(m_batch.index(k))].evaluated = false;
    m_observer.warning("Stopped: every evaluation of generation " +
                       std::to_string(m_allFailedGeneration) + " failed");
    terminate();
    return true;
}

void Task::generationStep()
{
    ZYL& zyl = m_context.zyl;
    try {
        zyl.takeGeneration();
        computeStatistics(zyl);
        m_observer.statistics();
        bool published = true;
        try {
            publishStatistics(zyl, m_context.table);
        } catch (const std::exception& error) {
            m_observer.warning(error.what());
            terminate();
            published = false;
        }
        // stop_when reads what was just published; after a failed publication the run stops
        // anyway, and the rules would see the previous generation.
        if (published)
            checkStopRules();
        try {
            exportStatistics(zyl, m_context.script, m_context.table,
                             m_context.settings.exportEveryIteration, &workspace().exportFormulas);
        } catch (const std::exception& error) {
            m_observer.warning(std::string("Export\n") + error.what());
            terminate();
        }
        try {
            updateUserPlots(m_context.plots, zyl.generation, m_context.table, workspace().plotFormulas,
                            [this](std::size_t plot) { m_observer.plotUpdated(plot); });
        } catch (const std::exception& error) {
            m_observer.warning(std::string("User Plots\n") + error.what());
            terminate();
        }
        // A stop during a very long breeding leaves the generation as it was.
        if (!zyl.nextGeneration(&m_stop))
            return;
        if (m_context.settings.showPopulation)
            m_observer.populationChanged();
        zyl.generation += 1;
        m_observer.generationDone();
    } catch (const std::exception& error) {
        m_observer.warning(std::string("Main ZYL loop\n") + error.what());
        terminate();
    }
}

void Task::checkStopRules()
{
    StopRuleState& state = stopState();
    const double seconds = m_context.clock ? m_context.clock->seconds() : m_ownClock.seconds();
    try {
        if (zyl::checkStopRules(m_context.settings.stopRules, state, m_context.zyl,
                                m_context.table, seconds))
            m_observer.stopRuleMet(state.stopReason);
    } catch (const std::exception& error) {
        m_observer.warning(std::string("Stop rule: ") + error.what());
        terminate();
    }
}

void enterManualValue(ZYL& zyl, int index, double value, RunObserver& observer,
                      StopRuleState* stop)
{
    if (index < 0 || index >= zyl.popSize)
        return;
    if (stop)
        ++stop->evaluations;
    Indiv& ind = zyl.population[index];
    ind.evaluated = false;
    ind.value = value;
    if (zyl.constrained()) {
        // The typed value is the objective only: the constraints are the section's formulas.
        std::vector<double> constraints(zyl.constraintNames.size(),
                                        std::numeric_limits<double>::quiet_NaN());
        const ConstraintFormulas* formulas = zyl.constraintFormulas.get();
        if (formulas && formulas->manualTable) {
            try {
                formulas->evaluateTree(ind, zyl.names, *formulas->manualTable,
                                       constraints.data());
            } catch (const std::exception& error) {
                // Unknown constraint values make the design infeasible; the value stays.
                std::fill(constraints.begin(), constraints.end(),
                          std::numeric_limits<double>::quiet_NaN());
                observer.warning(std::string("Constraints\n") + error.what());
            }
        }
        zyl.setConstraintValues(ind, constraints.data());
    }
    ind.evaluated = true;
    if (zyl.bufferIndividuals) {
        if (const Indiv* entry = zyl.recordInBuffer(ind))
            observer.buffered(*entry);
    }
}

} // namespace zyl
