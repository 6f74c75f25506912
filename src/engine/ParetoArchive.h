#pragma once

#include "engine/Dominance.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
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
/// kept as +inf. The values and payloads stay in slots of their own, and only a list of slot
/// numbers keeps the order: a design entering the middle of thousands moves that list, not
/// thousands of payloads. Most designs that enter leave again soon; their slots are given back
/// all at once, the members moving to the slots of their places in the order.
class ParetoArchive {
public:
    /// \pre objectives >= 1, payloadSize >= 0
    ParetoArchive(int objectives, int payloadSize);

    /// Offers a design: it enters unless a member dominates it or has the same values, and the
    /// members it dominates leave. Returns whether it entered.
    bool offer(const double* values, double violation, const double* payload);
    /// Offers every design of `batch` (payloads row by row in `payloads`), with the same
    /// result as offering each in turn: only the batch's own front can enter, its designs do
    /// not dominate one another, so each is judged against the members alone and they join
    /// in one merge. Returns how many entered.
    std::size_t offerAll(const Evaluations& batch, std::span<const double> payloads);
    /// Writes the payload of the batch's design `row` into `out` (payloadSize() reals).
    using PayloadWriter = std::function<void(std::size_t row, double* out)>;
    /// offerAll for a batch known to be a front already: none of its designs dominates another
    /// (so they are all feasible, or all of one violation). The payloads are asked for only
    /// for the designs that enter.
    std::size_t offerFront(const Evaluations& front, const PayloadWriter& payload);

    std::size_t size() const { return m_order.size(); }
    bool empty() const { return m_order.empty(); }
    int objectives() const { return m_objectives; }
    int payloadSize() const { return m_payloadSize; }
    /// The violation all members share: 0 when they are feasible.
    double violation() const { return m_violation; }
    /// Member i's values and payload, in the archive's order. \pre i < size()
    const double* values(std::size_t i) const
    {
        return m_values.data() + m_order[i] * static_cast<std::size_t>(m_objectives);
    }
    const double* payload(std::size_t i) const
    {
        return slotPayload(m_order[i]);
    }

    void clear();

private:
    /// The first member not lexicographically before `values`.
    std::size_t lowerBound(const double* values) const;
    /// Frees the slots of the members from `from` to `to` that `keep` (of a member's values)
    /// rejects, and closes the gaps in the order.
    template <class Keep> void removeFrom(std::size_t from, std::size_t to, Keep keep);
    void insertAt(std::size_t at, const double* values, const double* payload);
    /// A new slot holding these values, its payload to be written.
    std::uint32_t store(const double* values);
    double* slotPayload(std::uint32_t slot) const
    {
        const std::size_t mask = (std::size_t(1) << m_chunkBits) - 1;
        return m_payload[slot >> m_chunkBits].get() +
               (slot & mask) * static_cast<std::size_t>(m_payloadSize);
    }
    void compactWhenSparse();
    /// Whether a member dominates the design of these values or has them; `at` is their
    /// lowerBound.
    bool refused(const double* values, std::size_t at) const;
    /// offerAll of the rows `front` of `batch`, which form a front.
    std::size_t offerRows(const Evaluations& batch, const PayloadWriter& payload,
                          const std::vector<int>& front);

    int m_objectives;
    int m_payloadSize;
    double m_violation = 0;
    std::vector<double> m_values;
    // The payloads, in chunks of 2^m_chunkBits slots that never move: a growing archive then
    // neither copies what it holds nor touches memory before it writes there.
    std::vector<std::unique_ptr<double[]>> m_payload;
    unsigned m_chunkBits = 0;
    std::vector<std::uint32_t> m_order;
    // Slots of members that left, until the next compaction, and where each slot moves in it.
    std::size_t m_dead = 0;
    std::vector<std::uint32_t> m_moved;
    // offerAll's rooms.
    std::vector<char> m_removed;
    std::vector<std::uint32_t> m_merged;
    std::vector<int> m_rows;
    std::vector<double> m_keys;
    std::vector<std::size_t> m_sorted, m_entering, m_places, m_runEnds;
    // The design on offer, its values as the archive keeps them.
    std::vector<double> m_key;
};

} // namespace zyl
