#pragma once

#include <cmath>
#include <cstddef>
#include <span>
#include <vector>

namespace zyl {

/// The evaluations of a set of designs as the multi-objective methods see them: count() rows of
/// `objectives` values, every objective minimised, and one violation per design (0: feasible).
/// A value or a violation that is not a number counts as +inf, as it ranks after every number
/// in the single-objective order.
struct Evaluations {
    std::span<const double> values;
    std::span<const double> violations;
    int objectives = 2;

    std::size_t count() const { return violations.size(); }
    const double* row(std::size_t i) const
    {
        return values.data() + i * static_cast<std::size_t>(objectives);
    }
};

/// A value as the methods order it: not a number is +inf.
inline double orderKey(double x)
{
    return std::isnan(x) ? INFINITY : x;
}

/// Whether a design with this violation is feasible.
inline bool feasibleViolation(double violation)
{
    return !(orderKey(violation) > 0);
}

/// Constrained domination: -1 when design a dominates design b, 1 when b dominates a, 0 when
/// neither does. A feasible design dominates an infeasible one; of two infeasible designs the
/// one with the smaller violation dominates, and equal violations fall back on the objectives;
/// two feasible designs compare by Pareto dominance (no worse in every objective, better in
/// one). Equal designs dominate neither way.
int constrainedDominance(const double* a, double aViolation, const double* b, double bViolation,
                         int objectives);

/// Pareto dominance alone: -1, 1 or 0 as above.
int paretoDominance(const double* a, const double* b, int objectives);

/// The front of each design under constrained domination, into `front` (count() entries):
/// 0 for the designs that no other dominates, 1 for those that only designs of front 0
/// dominate, and so on. Feasible designs come first; infeasible ones by violation, and
/// designs of equal violation by the objectives. Returns the number of fronts.
///
/// Two objectives take O(n log n); more take the sort by the first objective with a search
/// over the fronts, which compares a design with the members of a front only.
int sortFronts(const Evaluations& evaluations, std::vector<int>& front);

/// The crowding distance of each of `members` (a front, or any set), into `distance` at the
/// members' indices (count() entries; others are left as they are): the sum over the
/// objectives of the gap between each member's two neighbours, as a share of the members'
/// range; the extremes of every objective whose range is not zero get +inf. Ties in an
/// objective are ordered by index.
void crowdingDistances(const Evaluations& evaluations, std::span<const int> members,
                       std::vector<double>& distance);

/// The indices of the designs of front 0 (see sortFronts), in increasing order.
std::vector<int> firstFront(const Evaluations& evaluations);

} // namespace zyl
