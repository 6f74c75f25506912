#include "engine/UserPlots.h"

#include "expr/Evaluator.h"
#include "expr/Statement.h"

#include <cfloat>
#include <cmath>
#include <limits>

namespace zyl {

namespace {
// Doubles beyond the float range become infinities explicitly: the plain conversion of such
// a value is undefined behaviour.
float toFloat(double v)
{
    if (v > FLT_MAX)
        return std::numeric_limits<float>::infinity();
    if (v < -FLT_MAX)
        return -std::numeric_limits<float>::infinity();
    return static_cast<float>(v);
}
} // namespace

std::vector<std::string> splitPlotExpressions(const std::string& list)
{
    std::vector<std::string> expressions;
    std::string rest = list;
    while (!rest.empty()) {
        const std::size_t semicolon = rest.find(';');
        if (semicolon == std::string::npos) {
            expressions.push_back(rest);
            break;
        }
        expressions.push_back(rest.substr(0, semicolon));
        rest.erase(0, semicolon + 1);
    }
    return expressions;
}

UserPlot createUserPlot(const std::string& title, const std::string& expressionList)
{
    UserPlot plot;
    plot.title = title;
    plot.expressions = splitPlotExpressions(expressionList);
    plot.series.resize(plot.expressions.size());
    return plot;
}

Complex evaluateExpressionText(const std::string& text, SymbolTable& table)
{
    if (const Funkcja* symbol = table.lookup(text))
        return evaluateNumeric(*symbol->definition, table);
    auto temporary = makeSymbolFromStatement(text, "", false, table);
    return evaluateNumeric(*temporary->definition, table);
}

void updateUserPlots(std::vector<UserPlot>& plots, int generation, SymbolTable& table,
                     std::vector<std::vector<CompiledText>>& formulas,
                     const std::function<void(std::size_t)>& updated)
{
    const float x = static_cast<float>(generation + 1);
    if (formulas.size() != plots.size())
        formulas.resize(plots.size());
    for (std::size_t p = 0; p < plots.size(); ++p) {
        UserPlot& plot = plots[p];
        std::vector<CompiledText>& compiled = formulas[p];
        if (compiled.size() != plot.expressions.size()) {
            compiled.clear();
            for (const std::string& text : plot.expressions)
                compiled.emplace_back(text);
        }
        for (std::size_t i = 0; i < plot.expressions.size(); ++i) {
            const Complex value = compiled[i].value(table);
            plot.series[i].push_back({x, toFloat(value.re)});
        }
        if (updated)
            updated(p);
    }
}

void updateUserPlots(std::vector<UserPlot>& plots, int generation, SymbolTable& table,
                     const std::function<void(std::size_t)>& updated)
{
    const float x = static_cast<float>(generation + 1);
    for (std::size_t p = 0; p < plots.size(); ++p) {
        UserPlot& plot = plots[p];
        for (std::size_t i = 0; i < plot.expressions.size(); ++i) {
            const Complex value = evaluateExpressionText(plot.expressions[i], table);
            plot.series[i].push_back({x, toFloat(value.re)});
        }
        if (updated)
            updated(p);
    }
}

} // namespace zyl
