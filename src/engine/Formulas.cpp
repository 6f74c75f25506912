#include "engine/Formulas.h"

#include "common/Exception.h"
#include "common/TextConvert.h"
#include "engine/Export.h"
#include "engine/UserPlots.h"
#include "expr/Evaluator.h"
#include "expr/Parser.h"

#include <algorithm>
#include <exception>
#include <limits>

namespace zyl {

namespace {

/// The variables of `rows` individuals, row after row, as a compiled block reads them.
void gatherBlock(const Indiv* const* individuals, std::size_t rows, std::size_t width,
                 std::vector<double>& inputs)
{
    inputs.resize(width * rows);
    for (std::size_t r = 0; r < rows; ++r)
        for (std::size_t j = 0; j < width; ++j)
            inputs[r * width + j] = detail::valueOf(*individuals[r]->gene(static_cast<int>(j)));
}

/// Whether evaluating the statement can change the table (a definition), or leans on what
/// only the tree does (derivatives, sums and products add and move symbols while they run).
bool hasSideEffects(const Tensor& root)
{
    std::vector<const Tensor*> work{&root};
    while (!work.empty()) {
        const Tensor* node = work.back();
        work.pop_back();
        if (node->code == op::Assign || node->code == op::Derivative || node->code == op::Sum ||
            node->code == op::Product)
            return true;
        for (const TensorPtr& element : node->elements)
            if (element)
                work.push_back(element.get());
        if (node->left)
            work.push_back(node->left.get());
        if (node->right)
            work.push_back(node->right.get());
    }
    return false;
}

/// The first of `rows` results whose value is not real, or `rows`.
std::size_t firstComplex(const Complex* results, std::size_t rows)
{
    std::size_t r = 0;
    while (r < rows && results[r].im == 0)
        ++r;
    return r;
}

} // namespace

double realObjective(Complex value)
{
    if (value.im != 0)
        throw InfoErr("f is not a real number: " + formatNumber(value.re, value.im));
    return value.re;
}

double realConstraint(Complex value)
{
    return value.im == 0 ? value.re : std::numeric_limits<double>::quiet_NaN();
}

void CompiledObjective::prepare(const std::vector<std::string>& names, const SymbolTable& table)
{
    if (names == m_names && m_program.refresh(table))
        return;
    m_names = names;
    m_inputs.assign(names.size(), 0.0);
    // Through a reference, as evaluateAnalytical reaches "f", so that a missing "f" reports
    // itself like any unknown name.
    m_program.compile(*makeSymbolRef("f"), table, FormulaRules::Numeric, names);
}

double CompiledObjective::evaluate(const Indiv& ind)
{
    for (int j = 0; j < ind.count(); ++j)
        m_inputs[static_cast<std::size_t>(j)] = detail::valueOf(*ind.gene(j));
    return realObjective(m_program.evaluate(m_inputs.data()));
}

void CompiledObjective::evaluateBlock(const Indiv* const* individuals, std::size_t rows,
                                      double* values, std::size_t& done)
{
    gatherBlock(individuals, rows, m_names.size(), m_inputs);
    m_results.resize(rows);
    std::size_t evaluated = 0;
    std::exception_ptr failure;
    try {
        m_program.evaluateBlock(m_inputs.data(), rows, m_results.data(), evaluated);
    } catch (...) {
        failure = std::current_exception();
    }
    // The earliest row that fails either way is the one reported, as row by row.
    done = firstComplex(m_results.data(), evaluated);
    for (std::size_t r = 0; r < done; ++r)
        values[r] = m_results[r].re;
    if (done < evaluated)
        realObjective(m_results[done]); // throws
    if (failure)
        std::rethrow_exception(failure);
}

ConstraintFormulas::ConstraintFormulas(std::vector<std::string> names,
                                       const std::vector<std::string>& texts, FormulaRole role)
    : m_role(role), m_names(std::move(names)), m_texts(texts), m_programs(m_names.size())
{
    const std::string kind = role == FormulaRole::Objective ? "Objective " : "Constraint ";
    for (std::size_t c = 0; c < m_names.size(); ++c) {
        TensorPtr tree;
        try {
            if (!parseExpression(m_texts[c], tree) || !tree)
                throw InfoErr("Syntax error!");
        } catch (const std::exception& error) {
            throw Exception(kind + m_names[c] + ": " + error.what());
        }
        // A constraint is looked at once per design; one that redefined something would make
        // every later value depend on the order of evaluation.
        if (hasSideEffects(*tree))
            throw Exception(kind + m_names[c] + " ought to be an expression without definitions");
        m_trees.push_back(std::move(tree));
    }
}

void ConstraintFormulas::evaluateTree(const Indiv& ind, const std::vector<std::string>& variables,
                                      SymbolTable& table, double* values) const
{
    for (int j = 0; j < ind.count(); ++j)
        setSymbolValue(table, variables[static_cast<std::size_t>(j)], ind.gene(j)->getValue());
    evaluateTree(table, values);
}

double ConstraintFormulas::realValue(std::size_t c, Complex value) const
{
    if (m_role == FormulaRole::Objective && value.im != 0)
        throw InfoErr(m_names[c] + " is not a real number: " + formatNumber(value.re, value.im));
    return realConstraint(value);
}

void ConstraintFormulas::evaluateTree(const SymbolTable& table, double* values) const
{
    for (std::size_t c = 0; c < m_trees.size(); ++c)
        values[c] = realValue(c, evaluateNumeric(*m_trees[c], table));
}

void ConstraintFormulas::prepare(const std::vector<std::string>& variables,
                                 const SymbolTable& table)
{
    const bool sameVariables = variables == m_variables;
    m_variables = variables;
    for (std::size_t c = 0; c < m_programs.size(); ++c)
        if (!sameVariables || !m_programs[c].refresh(table))
            m_programs[c].compile(*m_trees[c], table, FormulaRules::Numeric, variables);
}

bool ConstraintFormulas::compiled() const
{
    return std::all_of(m_programs.begin(), m_programs.end(),
                       [](const CompiledExpression& program) { return program.compiled(); });
}

void ConstraintFormulas::evaluateBlock(const Indiv* const* individuals, std::size_t rows,
                                       double* values, std::size_t& done)
{
    const std::size_t count = m_programs.size();
    gatherBlock(individuals, rows, m_variables.size(), m_inputs);
    m_results.resize(rows);
    // Each later constraint only over the rows before the earliest failure so far: the row
    // that fails first, and the first constraint failing there, are the tree's.
    std::size_t good = rows;
    std::exception_ptr failure;
    for (std::size_t c = 0; c < count && good > 0; ++c) {
        std::size_t evaluated = 0;
        try {
            m_programs[c].evaluateBlock(m_inputs.data(), good, m_results.data(), evaluated);
        } catch (...) {
            failure = std::current_exception();
            good = evaluated;
        }
        // An objective that is not real fails its row, as the tree would at that row.
        if (m_role == FormulaRole::Objective) {
            const std::size_t complex = firstComplex(m_results.data(), std::min(evaluated, good));
            if (complex < std::min(evaluated, good)) {
                try {
                    realValue(c, m_results[complex]);
                } catch (...) {
                    failure = std::current_exception();
                }
                good = complex;
            }
        }
        for (std::size_t r = 0; r < std::min(evaluated, good); ++r)
            values[r * count + c] = realConstraint(m_results[r]);
    }
    done = good;
    if (failure)
        std::rethrow_exception(failure);
}

CompiledExpression* CompiledText::program(const SymbolTable& table, const Funkcja* named)
{
    if (named) {
        if (!m_named.refresh(table))
            m_named.compile(*makeSymbolRef(m_text), table, FormulaRules::Numeric);
        return m_named.compiled() ? &m_named : nullptr;
    }
    if (!m_parseTried) {
        m_parseTried = true;
        try {
            TensorPtr tree;
            if (parseExpression(m_text, tree) && tree && !hasSideEffects(*tree))
                m_parsed = std::move(tree);
        } catch (const std::exception&) {
            // The statement pipeline reports it each time.
        }
    }
    if (!m_parsed)
        return nullptr;
    if (!m_statement.refresh(table))
        m_statement.compile(*m_parsed, table, FormulaRules::Symbolic);
    return m_statement.compiled() ? &m_statement : nullptr;
}

Complex CompiledText::value(SymbolTable& table)
{
    const Funkcja* named = table.lookup(m_text);
    CompiledExpression* compiled = program(table, named);
    m_lastCompiled = compiled != nullptr;
    return compiled ? compiled->evaluate(nullptr) : evaluateExpressionText(m_text, table);
}

std::string CompiledText::exportText(SymbolTable& table)
{
    const Funkcja* named = table.lookup(m_text);
    // A vector is written in its printed form, which only the tree makes.
    CompiledExpression* compiled =
        named && named->definition && nestingDepth(*named->definition) != 0
            ? nullptr
            : program(table, named);
    m_lastCompiled = compiled != nullptr;
    if (!compiled)
        return exportColumnText(m_text, table);
    return realToText(compiled->evaluate(nullptr).re);
}

} // namespace zyl
