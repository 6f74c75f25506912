#pragma once

#include "engine/External.h"
#include "engine/RunHooks.h"
#include "engine/UserPlots.h"
#include "engine/Zyl.h"
#include "expr/Tensor.h"
#include "script/ProjectScript.h"
#include "script/ProjectSettings.h"

#include <atomic>
#include <vector>

namespace zyl {

/// Everything a run works on. The owner keeps these alive for the whole run.
struct RunContext {
    ZYL& zyl;
    ProjectSettings& settings;
    const ProjectScript& script;
    SymbolTable& table;
    std::vector<UserPlot>& plots;
};

/// One run: up to `loopCounter` generations, never past `maxIteration`. `execute` is the
/// worker's loop; every step that touches the symbol table, the random generator, the buffer,
/// the statistics or the windows goes through the synchronizer, and the external program runs
/// on the calling thread itself. A failing step shows its message through the observer and
/// stops the run before the next individual.
class Task {
public:
    Task(RunContext context, Synchronizer& sync, RunObserver& observer);

    /// The loop. Returns when the generations are done, the limit is reached or a stop was
    /// requested.
    void execute();

    /// Stops the run before the next individual; the individual in hand is completed.
    void terminate() { m_stop = true; }
    /// Also ends an external program that is running now (without a message); the
    /// individual it was evaluating stays unevaluated.
    void abort()
    {
        m_abortExternal = true;
        m_stop = true;
    }
    bool stopRequested() const { return m_stop; }
    int currentIndex() const { return m_currentIndex; }

private:
    void evaluateCurrent();
    void recordCurrentInBuffer();
    void generationStep();

    RunContext m_context;
    Synchronizer& m_sync;
    RunObserver& m_observer;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_abortExternal{false};
    std::atomic<int> m_currentIndex{0};
    // Whether the evaluation of the individual in hand failed (it is then not buffered).
    bool m_evaluationFailed = false;
};

/// A value typed for individual `index` of the current population (the manual entry): the
/// individual takes it and is marked evaluated, and with the buffer on it is recorded there.
void enterManualValue(ZYL& zyl, int index, double value, RunObserver& observer);

} // namespace zyl
