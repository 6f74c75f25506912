#pragma once

#include "engine/RunHooks.h"
#include "engine/StopRules.h"
#include "engine/Task.h"

#include <string>

namespace zyl::test {

/// Checks the stop rules where the run loop will: after the statistics are published, which
/// today's Task tells an observer through the update of its last plot (`lastPlot`). Passes
/// every call on.
class StopChecker : public RunObserver {
public:
    StopChecker(RunObserver& inner, const StopRuleSettings& rules, StopRuleState& state,
                const ZYL& zyl, SymbolTable& table, const RunClock& clock)
        : m_inner(inner), m_rules(rules), m_state(state), m_zyl(zyl), m_table(table), m_clock(clock)
    {
    }
    void plotUpdated(std::size_t plot) override
    {
        m_inner.plotUpdated(plot);
        if (plot != lastPlot)
            return;
        try {
            if (checkStopRules(m_rules, m_state, m_zyl, m_table, m_clock.seconds()))
                stoppedIn = m_zyl.generation + 1;
        } catch (const std::exception& error) {
            warning(std::string("Stop rule\n") + error.what());
            if (task)
                task->terminate();
        }
    }
    void evaluatedValue(int index) override
    {
        if (countEvaluations)
            ++m_state.evaluations;
        m_inner.evaluatedValue(index);
    }
    void warning(const std::string& text) override
    {
        lastWarning = text;
        m_inner.warning(text);
    }
    void statistics() override { m_inner.statistics(); }
    void generationDone() override { m_inner.generationDone(); }

    /// Off when a RecordingObserver, which counts them too, sits in front.
    bool countEvaluations = true;
    std::size_t lastPlot = 0;
    int stoppedIn = 0;
    std::string lastWarning;
    Task* task = nullptr;

private:
    RunObserver& m_inner;
    const StopRuleSettings& m_rules;
    StopRuleState& m_state;
    const ZYL& m_zyl;
    SymbolTable& m_table;
    const RunClock& m_clock;
};

} // namespace zyl::test
