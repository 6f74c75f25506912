#include "engine/StopRules.h"

#include "common/Exception.h"
#include "common/TextConvert.h"
#include "engine/Objectives.h"
#include "engine/UserPlots.h"
#include "expr/FreeNames.h"
#include "expr/Parser.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <exception>

namespace zyl {

namespace {

/// A key's text, or nothing when it is absent or empty.
std::optional<std::string> present(std::string text)
{
    if (text.empty())
        return std::nullopt;
    return text;
}

// The names a stop rule refers to that nothing defines. Names bound inside the rule (the
// index of a sum or product, the variable of a derivative) count as defined.
std::vector<std::string> undefinedNames(const Tensor& tree, const SymbolTable& table,
                                        const std::vector<std::string>& variables)
{
    std::vector<std::string> unknown;
    for (std::string& name : freeNames(tree))
        if (!table.lookup(name) &&
            std::find(variables.begin(), variables.end(), name) == variables.end())
            unknown.push_back(std::move(name));
    return unknown;
}

/// A count of the 64-bit range the evaluations are counted in (a 32-bit read would refuse
/// large counts as negative): decimal, or hexadecimal after "0x", with an optional "+";
/// nothing for anything else, a negative number included.
std::optional<std::int64_t> parseCount(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || value < 0)
        return std::nullopt;
    return value;
}

std::string generationText(const ZYL& zyl)
{
    return " in generation " + std::to_string(static_cast<std::int64_t>(zyl.generation) + 1);
}

} // namespace

StopRuleSettings readStopRules(const ProjectScript& script, const SymbolTable& table,
                               const std::vector<std::string>& variables)
{
    StopRuleSettings rules;
    if (auto text = present(script.ReadString("OPTIONS", "time_limit", ""))) {
        const std::optional<double> seconds = parseReal(*text);
        if (!seconds || !(*seconds >= 0) || std::isinf(*seconds))
            throw Exception("Time limit ought to be a number of seconds not below 0");
        rules.timeLimit = *seconds;
    }
    if (auto text = present(script.ReadString("OPTIONS", "max_evaluations", ""))) {
        const std::optional<std::int64_t> count = parseCount(*text);
        if (!count)
            throw Exception("Max evaluations ought to be a whole number not below 0");
        rules.maxEvaluations = *count;
    }
    if (auto text = present(script.ReadString("OPTIONS", "stall_generations", ""))) {
        const std::optional<int> count = parseInteger(*text);
        if (!count || *count < 0 || *count > 30000)
            throw Exception("Stall generations ought to be a number from [0; 30000]");
        rules.stallGenerations = *count;
        if (auto tolerance = present(script.ReadString("OPTIONS", "stall_tolerance", ""))) {
            const std::optional<double> value = parseReal(*tolerance);
            if (!value || !(*value >= 0) || std::isinf(*value))
                throw Exception("Stall tolerance ought to be a number not below 0");
            rules.stallTolerance = *value;
        }
    }
    if (auto text = present(script.ReadString("OPTIONS", "stop_when", ""))) {
        // Checked now so that a typing error shows when the project is opened, not after the
        // first (perhaps hour-long) generation.
        TensorPtr tree;
        try {
            if (!parseExpression(*text, tree))
                throw InfoErr("Syntax error!");
        } catch (const std::exception& error) {
            throw Exception(std::string("Stop rule: ") + error.what());
        }
        const std::vector<std::string> unknown = undefinedNames(*tree, table, variables);
        if (!unknown.empty())
            throw Exception("Stop rule: " + unknown.front() +
                            " is not a variable, a statistic or a definition");
        rules.stopWhen = *text;
    }
    return rules;
}

void RunClock::start()
{
    if (!m_since)
        m_since = std::chrono::steady_clock::now();
}

void RunClock::stop()
{
    m_earlier = seconds();
    m_since.reset();
}

double RunClock::seconds() const
{
    if (!m_since)
        return m_earlier;
    return m_earlier +
           std::chrono::duration<double>(std::chrono::steady_clock::now() - *m_since).count();
}

bool checkStopRules(const StopRuleSettings& rules, StopRuleState& state, const ZYL& zyl,
                    SymbolTable& table, double runSeconds)
{
    if (state.finished())
        return true;

    // 1. The stall count follows every generation, also while stall_generations is off, so
    //    that the state in a store does not depend on which rules a session had. With several
    //    objectives it follows the front's hypervolume, which grows as the front improves.
    const bool front = zyl.multiObjective();
    const bool larger = front || zyl.maximise;
    const double best = front           ? zyl.objectives->hypervolume
                        : zyl.maximise ? zyl.globalMax.value
                                       : zyl.globalMin.value;
    if (!state.hasStallBest) {
        state.stallBest = best;
        state.hasStallBest = true;
        state.stallCount = 0;
    } else {
        // A best without a value (every design so far ruled out before evaluation) gives way
        // to the first that has one.
        const bool firstValue = std::isnan(state.stallBest) && !std::isnan(best);
        const double gain = larger ? best - state.stallBest : state.stallBest - best;
        if (firstValue || gain > rules.stallTolerance) {
            state.stallBest = best;
            state.stallCount = 0;
        } else {
            ++state.stallCount;
        }
    }

    // 2-3. The rules, in a fixed order so that the reason does not depend on chance.
    if (!rules.stopWhen.empty()) {
        const Complex result = evaluateExpressionText(rules.stopWhen, table);
        if (result.im != 0)
            throw Exception("The value of stop_when is not a real number: " +
                            formatNumber(result.re, result.im));
        const double value = result.re;
        if (value != 0 && !std::isnan(value)) {
            state.stopReason = "stop_when=" + rules.stopWhen + " was met" + generationText(zyl);
            return true;
        }
    }
    if (rules.maxEvaluations > 0 && state.evaluations >= rules.maxEvaluations) {
        state.stopReason = "max_evaluations=" + std::to_string(rules.maxEvaluations) +
                           " was reached" + generationText(zyl) + " (" +
                           std::to_string(state.evaluations) + " evaluations)";
        return true;
    }
    if (rules.stallGenerations > 0 && state.stallCount >= rules.stallGenerations) {
        state.stopReason = "stall_generations=" + std::to_string(rules.stallGenerations) + ": " +
                           (front           ? "Hypervolume"
                            : zyl.maximise ? "GlobalMax"
                                           : "GlobalMin") +
                           " has not improved by more than " + realToText(rules.stallTolerance) +
                           " for " + std::to_string(state.stallCount) + " generations" +
                           generationText(zyl);
        return true;
    }
    if (rules.timeLimit > 0 && runSeconds >= rules.timeLimit) {
        state.stopReason = "time_limit=" + realToText(rules.timeLimit) + " was reached" +
                           generationText(zyl) + " (" + realToText(runSeconds) + " s of run time)";
        return true;
    }
    return false;
}

} // namespace zyl
