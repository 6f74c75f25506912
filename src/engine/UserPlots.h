#pragma once

#include "engine/Formulas.h"
#include "expr/Operators.h"
#include "expr/Tensor.h"

#include <functional>

#include <string>
#include <vector>

namespace zyl {

/// One point of a plot series: the generation and the value, stored as 32-bit floats.
struct PlotPoint {
    float x;
    float y;
};

/// The data of one user plot: a title, its expressions and one series of points per
/// expression. The window that draws it follows the series; the evaluation is core work.
struct UserPlot {
    std::string title;
    std::vector<std::string> expressions;
    std::vector<std::vector<PlotPoint>> series;
};

/// Cuts a plot's expression list at ";": "a;b" gives a and b, "a;" only a, "a;;b" a, an
/// empty expression and b, ";a" an empty expression and a. Expressions are kept as written.
std::vector<std::string> splitPlotExpressions(const std::string& list);

/// A plot with its title and expressions, and empty series.
UserPlot createUserPlot(const std::string& title, const std::string& expressionList);

/// Appends one point (generation + 1, real part of the value) to every series of every plot,
/// in order. The first failing expression ends the update: plots and expressions after it
/// get no point for this generation, and the error (InfoErr or a math error) is thrown on.
/// `updated` is told each plot index once all its series have their new point.
void updateUserPlots(std::vector<UserPlot>& plots, int generation, SymbolTable& table,
                     const std::function<void(std::size_t)>& updated = {});

/// The same, with the expressions compiled where that gives the same values: `formulas`
/// keeps them from one generation to the next (one list per plot, made on first use).
void updateUserPlots(std::vector<UserPlot>& plots, int generation, SymbolTable& table,
                     std::vector<std::vector<CompiledText>>& formulas,
                     const std::function<void(std::size_t)>& updated = {});

/// The value of a plot or export expression: a symbol's definition when the text is exactly a
/// defined name, otherwise the statement's result (which may define symbols, as in the
/// console). Numeric; the caller takes the real part.
Complex evaluateExpressionText(const std::string& text, SymbolTable& table);

} // namespace zyl
