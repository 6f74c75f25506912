#pragma once

#include "engine/Indiv.h"
#include "expr/CompiledExpression.h"
#include "expr/Tensor.h"

#include <string>
#include <vector>

namespace zyl {

/// The objective "f" of an analytical task as a compiled program over the decision variables:
/// what evaluateAnalytical computes, without writing the variables into the table.
class CompiledObjective {
public:
    /// Brings the program in line with the table, compiling it again when a definition it
    /// depends on has changed. On the thread that owns the table; afterwards evaluate needs
    /// the table no more, so a definition changed later takes effect at the next prepare.
    void prepare(const std::vector<std::string>& names, const SymbolTable& table);
    /// False: the formula stays with the tree (evaluateAnalytical).
    bool compiled() const { return m_program.compiled(); }
    /// The real part of f for the variables of `ind`.
    /// \throws what evaluateAnalytical would throw for the same individual.
    double evaluate(const Indiv& ind);
    /// The same for up to CompiledExpression::blockRows individuals at once: values[r] for
    /// individuals[r]. When one fails, `done` is its index and its error is thrown; the values
    /// before it are there. Otherwise `done` becomes `rows`.
    void evaluateBlock(const Indiv* const* individuals, std::size_t rows, double* values,
                       std::size_t& done);

private:
    CompiledExpression m_program;
    std::vector<std::string> m_names;
    std::vector<double> m_inputs;
    std::vector<Complex> m_results;
};

/// A plot or export expression, evaluated each generation: through a compiled program where
/// one follows the text exactly, otherwise as the text always was (a definition made by it,
/// D, sums, vectors, names still unknown).
class CompiledText {
public:
    explicit CompiledText(std::string text) : m_text(std::move(text)) {}

    const std::string& text() const { return m_text; }
    /// What evaluateExpressionText(text, table) gives.
    Complex value(SymbolTable& table);
    /// What exportColumnText(text, table) gives.
    std::string exportText(SymbolTable& table);
    /// Whether the latest value came from a compiled program (for tests).
    bool lastCompiled() const { return m_lastCompiled; }

private:
    /// The compiled program for the text as the table stands, or null.
    CompiledExpression* program(const SymbolTable& table, const Funkcja* named);

    std::string m_text;
    CompiledExpression m_named;     // the text is a symbol's name
    CompiledExpression m_statement; // the text is an expression without side effects
    TensorPtr m_parsed;
    bool m_parseTried = false;
    bool m_lastCompiled = false;
};

} // namespace zyl
