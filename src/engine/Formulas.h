#pragma once

#include "engine/Indiv.h"
#include "expr/CompiledExpression.h"
#include "expr/Tensor.h"

#include <string>
#include <vector>

namespace zyl {

/// The value of the objective "f" as a real. A value with a non-zero imaginary part (the square
/// root of a negative number, say) is no result: its real part would rank a design that no
/// formula gave that value. \throws InfoErr "f is not a real number: VALUE".
double realObjective(Complex value);
/// The value of a constraint as a real: one with a non-zero imaginary part counts as not a
/// number, which is an infinite violation.
double realConstraint(Complex value);

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
    /// realObjective of f for the variables of `ind`.
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

/// What a set of named formulas stands for: constraints, or the objectives of a task with
/// several. A constraint whose value is not real counts as not a number (an infinite
/// violation); an objective's is no result, and fails its evaluation as f's would.
enum class FormulaRole { Constraint, Objective };

/// The CONSTRAINTS of an analytical or manual task: one formula of the variables (and the
/// EQUATIONS definitions) per constraint, evaluated right after the objective, through
/// compiled programs where the objective's rules allow it and otherwise by the tree. The
/// OBJECTIVES of a task with several take the same form, in the role of objectives.
class ConstraintFormulas {
public:
    /// Parses the texts, one per name.
    /// \throws Exception "Constraint NAME: " (or "Objective NAME: ") and the parser's message
    /// for a text that does not parse, or "Constraint NAME ought to be an expression without
    /// definitions" for one that would change the table (an "=", D, a sum or a product).
    ConstraintFormulas(std::vector<std::string> names, const std::vector<std::string>& texts,
                       FormulaRole role = FormulaRole::Constraint);

    FormulaRole role() const { return m_role; }
    std::size_t count() const { return m_names.size(); }
    const std::vector<std::string>& names() const { return m_names; }
    const std::vector<std::string>& texts() const { return m_texts; }
    /// Constraint c's parsed formula.
    const Tensor& tree(std::size_t c) const { return *m_trees[c]; }

    /// Writes the variables of `ind` into the table under `variables` and evaluates every
    /// constraint by the tree into values[0 .. count()-1].
    /// \throws what evaluating the formula by the tree throws; for an objective also InfoErr
    /// "NAME is not a real number: VALUE".
    void evaluateTree(const Indiv& ind, const std::vector<std::string>& variables,
                      SymbolTable& table, double* values) const;
    /// The same with the variables already in the table.
    void evaluateTree(const SymbolTable& table, double* values) const;

    /// Compiles the programs as the table stands (again where a definition changed). On the
    /// table's thread; evaluateBlock then needs it no more.
    void prepare(const std::vector<std::string>& variables, const SymbolTable& table);
    /// True when every constraint has a program.
    bool compiled() const;
    /// Every constraint for up to CompiledExpression::blockRows individuals: row r's values
    /// at values + r * count(). When a row fails (the first constraint in order that fails, at
    /// the earliest row), `done` is its index and its error is thrown; the rows before it are
    /// there. Otherwise `done` becomes `rows`. \pre compiled()
    void evaluateBlock(const Indiv* const* individuals, std::size_t rows, double* values,
                       std::size_t& done);

    /// The table a manual task's typed values are checked against (the project's); null:
    /// none, and typed values get no constraint values.
    SymbolTable* manualTable = nullptr;

private:
    /// The value of formula c as a real in the set's role.
    double realValue(std::size_t c, Complex value) const;

    FormulaRole m_role;
    std::vector<std::string> m_names, m_texts;
    std::vector<TensorPtr> m_trees;
    std::vector<CompiledExpression> m_programs;
    std::vector<std::string> m_variables;
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
