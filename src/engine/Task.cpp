#include "engine/Task.h"

#include "engine/Evaluation.h"
#include "engine/Export.h"
#include "engine/Statistics.h"

#include <exception>

namespace zyl {

Task::Task(RunContext context, Synchronizer& sync, RunObserver& observer)
    : m_context(context), m_sync(sync), m_observer(observer)
{
}

void Task::execute()
{
    ZYL& zyl = m_context.zyl;
    const FunctionMode mode = m_context.settings.functionMode;
    for (int loop = 0; loop < m_context.settings.loopCounter; ++loop) {
        if (zyl.generation >= zyl.maxIteration)
            break;
        for (int i = 0; i < zyl.popSize; ++i) {
            if (m_stop)
                return;
            m_currentIndex = i;
            if (zyl.population[i].evaluated)
                continue;
            m_evaluationFailed = false;
            if (mode == FunctionMode::Analytical) {
                m_sync.run([this] { evaluateCurrent(); });
            } else if (mode == FunctionMode::External) {
                evaluateCurrent();
                // An aborted program evaluated nothing: the individual stays as it was.
                if (m_abortExternal)
                    return;
            }
            zyl.population[i].evaluated = true;
            if (mode != FunctionMode::Manual)
                m_sync.run([this, i] { m_observer.evaluatedValue(i); });
            m_sync.run([this] { recordCurrentInBuffer(); });
        }
        m_sync.run([this] { generationStep(); });
    }
}

void Task::evaluateCurrent()
{
    ZYL& zyl = m_context.zyl;
    Indiv& ind = zyl.population[m_currentIndex];
    if (m_context.settings.functionMode == FunctionMode::Analytical) {
        try {
            evaluateAnalytical(ind, zyl.names, m_context.table);
        } catch (const std::exception& error) {
            m_evaluationFailed = true;
            m_observer.warning(std::string("Analytical function\n") + error.what());
            terminate();
        }
        return;
    }
    const ProjectSettings& settings = m_context.settings;
    ExternalProgram program{settings.inputName, settings.externalName, settings.outputName,
                            settings.externalTimeout};
    bool succeeded = false;
    try {
        succeeded = evaluateExternal(program, ind, m_abortExternal);
    } catch (const std::exception&) {
        succeeded = false;
    }
    if (!succeeded && !m_abortExternal) {
        m_evaluationFailed = true;
        m_sync.run([this] { m_observer.warning("A problem with external program."); });
        terminate();
    }
}

void Task::recordCurrentInBuffer()
{
    ZYL& zyl = m_context.zyl;
    // A failed evaluation leaves an inherited or stale value: remembering it would hand that
    // value to every later copy of the individual.
    if (m_evaluationFailed)
        return;
    if (const Indiv* entry = zyl.recordInBuffer(zyl.population[m_currentIndex]))
        m_observer.buffered(*entry);
}

void Task::generationStep()
{
    ZYL& zyl = m_context.zyl;
    try {
        computeStatistics(zyl);
        m_observer.statistics();
        try {
            publishStatistics(zyl, m_context.table);
        } catch (const std::exception& error) {
            m_observer.warning(error.what());
            terminate();
        }
        try {
            exportStatistics(zyl, m_context.script, m_context.table,
                             m_context.settings.exportEveryIteration);
        } catch (const std::exception& error) {
            m_observer.warning(std::string("Export\n") + error.what());
            terminate();
        }
        try {
            updateUserPlots(m_context.plots, zyl.generation, m_context.table,
                            [this](std::size_t plot) { m_observer.plotUpdated(plot); });
        } catch (const std::exception& error) {
            m_observer.warning(std::string("User Plots\n") + error.what());
            terminate();
        }
        zyl.nextGeneration();
        if (m_context.settings.showPopulation)
            m_observer.populationChanged();
        zyl.generation += 1;
        m_observer.generationDone();
    } catch (const std::exception& error) {
        m_observer.warning(std::string("Main ZYL loop\n") + error.what());
        terminate();
    }
}

void enterManualValue(ZYL& zyl, int index, double value, RunObserver& observer)
{
    if (index < 0 || index >= zyl.popSize)
        return;
    Indiv& ind = zyl.population[index];
    ind.evaluated = false;
    ind.value = value;
    ind.evaluated = true;
    if (zyl.bufferIndividuals) {
        if (const Indiv* entry = zyl.recordInBuffer(ind))
            observer.buffered(*entry);
    }
}

} // namespace zyl
