#pragma once

#include "engine/Variable.h"

#include <memory>
#include <string>
#include <vector>

namespace zyl {

/// A candidate solution: one decision variable per entry of the VARIABLES section, in that
/// order, with its objective value. Copies are deep and carry `value`, `evaluated`, the
/// constraint values and the objective values along.
class Indiv {
public:
    /// Objective-function value ("f"); in a task with several objectives, the first of them.
    double value = 0.0;
    /// True once `value` is known for the current variable values.
    bool evaluated = false;
    /// How far the design lies outside the feasible region: the sum of the constraint values
    /// above the task's tolerance, +inf when one of them is not a number. 0 is feasible, and
    /// every design of a task without constraints is.
    double violation = 0.0;
    /// The constraint values that came with `value`, in the task's order; empty in a task
    /// without constraints (and before the first evaluation).
    std::vector<double> constraints;
    /// Every objective value, in the task's order (see Objectives::names), as computed: a
    /// maximised one is not negated. Empty in a task with one objective (and before the first
    /// evaluation).
    std::vector<double> objectives;
    /// Ruled out before evaluation: a CONSTRAINTS formula already made it infeasible, so it
    /// has no objective value (`value` is NaN), the program's constraint values are NaN and
    /// `violation` is that of the section's formulas alone (see ZYL::screen). `evaluated` is
    /// true: nothing more is to be learnt of it.
    bool screened = false;

    Indiv() = default;
    /// `count` empty entries (negative counts as 0).
    explicit Indiv(int count);

    Indiv(const Indiv& other);
    /// Nothing happens on self-assignment. When the counts differ the target drops its
    /// variables and takes the source's count; then each existing variable takes the source's
    /// value by assign() and each empty entry receives a clone (an empty source entry empties
    /// it). \throws std::bad_cast when a position holds variables of different classes; the
    /// check comes first, so the target is then unchanged.
    Indiv& operator=(const Indiv& other);
    Indiv(Indiv&&) noexcept = default;
    Indiv& operator=(Indiv&&) noexcept = default;
    ~Indiv() = default;

    int count() const { return static_cast<int>(m_genes.size()); }
    /// The variable at position j, or nullptr for an empty entry. \pre 0 <= j < count()
    Variable_* gene(int j) { return m_genes[j].get(); }
    const Variable_* gene(int j) const { return m_genes[j].get(); }
    void setGene(int j, std::unique_ptr<Variable_> variable) { m_genes[j] = std::move(variable); }
    /// Moves the variable objects at position j between the two individuals.
    void swapGene(Indiv& other, int j) { m_genes[j].swap(other.m_genes[j]); }

    /// Equal when both have the same count and every variable's value is equal as a real
    /// (-0 equals 0, NaN equals nothing; an empty entry equals nothing). `value`, `evaluated`,
    /// the constraint values and the objective values are not compared.
    bool operator==(const Indiv& other) const;

    /// The input line of the external program: each value by realToExactText (every digit
    /// the design has) followed by one space.
    std::string lineText() const;
    /// "= f(" the values by realToText separated by "; " ")", for the Statistics window.
    std::string text() const;

private:
    /// Whether every position holds, on both sides, a variable of the same of the three
    /// classes. \pre same count.
    bool sameKnownClasses(const Indiv& other) const;

    std::vector<std::unique_ptr<Variable_>> m_genes;
};

} // namespace zyl
