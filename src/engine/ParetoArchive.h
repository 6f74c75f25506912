#pragma once

#include <cstddef>
#include <span>
#include <vector>

namespace zyl {

/// Every design found that no other found dominates, under constrained domination (see
/// constrainedDominance): the feasible front once a feasible design is known, until then the
/// front of the designs with the smallest violation. Each member keeps its objective values,
/// its violation and a payload of a fixed number of reals (its variables, say).
///
/// The members are kept in lexicographic order of their values (with two objectives: along the
/// front), where a design can only be dominated by members before it and can only dominate
/// members after it. Two objectives find both by bisection; more scan outward from the
/// design's place, where a dominating member is likeliest. A value that is not a number is
/// kept as +inf.
class ParetoArchive {
public:
    /// \pre objectives >= 1, payloadSize >= 0
    ParetoArchive(int objectives, int payloadSize);

    /// Offers a design: it enters unless a member dominates it or has the same values, and the
    /// members it dominates leave. Returns whether it entered.
    bool offer(const double* values, double violation, const double* payload);

    std::size_t size() const { return m_values.size() / static_cast<std::size_t>(m_objectives); }
    bool empty() const { return m_values.empty(); }
    int objectives() const { return m_objectives; }
    int payloadSize() const { return m_payloadSize; }
    /// The violation all members share: 0 when they are feasible.
    double violation() const { return m_violation; }
    /// Member i's values and payload. \pre i < size()
    const double* values(std::size_t i) const
    {
        return m_values.data() + i * static_cast<std::size_t>(m_objectives);
    }
    const double* payload(std::size_t i) const
    {
        return m_payload.data() + i * static_cast<std::size_t>(m_payloadSize);
    }
    /// Every member's values, row by row (the form hypervolume() takes).
    std::span<const double> allValues() const { return m_values; }

    void clear();

private:
    /// The first member not lexicographically before `values`.
    std::size_t lowerBound(const double* values) const;
    void insertAt(std::size_t at, const double* values, const double* payload);

    int m_objectives;
    int m_payloadSize;
    double m_violation = 0;
    std::vector<double> m_values;
    std::vector<double> m_payload;
    // The design on offer, its values as the archive keeps them.
    std::vector<double> m_key;
};

} // namespace zyl
