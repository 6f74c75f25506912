#include "engine/ParetoArchive.h"

#include "engine/Dominance.h"

#include <algorithm>

namespace zyl {

ParetoArchive::ParetoArchive(int objectives, int payloadSize)
    : m_objectives(objectives), m_payloadSize(payloadSize),
      m_key(static_cast<std::size_t>(objectives))
{
    // Chunks of about 256 KiB.
    while (m_chunkBits < 16 &&
           (std::size_t(2) << m_chunkBits) * static_cast<std::size_t>(std::max(payloadSize, 1)) *
                   sizeof(double) <=
               (std::size_t(256) << 10))
        ++m_chunkBits;
}

void ParetoArchive::clear()
{
    m_values.clear();
    // The chunks stay: their pages serve the next members.
    m_order.clear();
    m_dead = 0;
    m_violation = 0;
}

std::size_t ParetoArchive::lowerBound(const double* key) const
{
    std::size_t lo = 0, hi = size();
    while (lo < hi) {
        const std::size_t mid = lo + (hi - lo) / 2;
        if (std::lexicographical_compare(values(mid), values(mid) + m_objectives, key,
                                         key + m_objectives))
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

template <class Keep> void ParetoArchive::removeFrom(std::size_t from, std::size_t to, Keep keep)
{
    std::size_t write = from;
    for (std::size_t j = from; j < to; ++j) {
        if (keep(values(j)))
            m_order[write++] = m_order[j];
        else
            ++m_dead;
    }
    m_order.erase(m_order.begin() + static_cast<std::ptrdiff_t>(write),
                  m_order.begin() + static_cast<std::ptrdiff_t>(to));
}

std::uint32_t ParetoArchive::store(const double* key)
{
    const auto m = static_cast<std::size_t>(m_objectives);
    const auto slot = static_cast<std::uint32_t>(m_values.size() / m);
    m_values.insert(m_values.end(), key, key + m);
    if ((slot >> m_chunkBits) >= m_payload.size())
        m_payload.emplace_back(new double[(std::size_t(1) << m_chunkBits) *
                                          static_cast<std::size_t>(m_payloadSize)]);
    return slot;
}

void ParetoArchive::compactWhenSparse()
{
    // Slots are only ever appended, so that a design's payload is written where the last one
    // was (a slot reused in the middle of megabytes costs a cache miss a line). Once the slots
    // of members that left pass a quarter of the members, every member moves, in place, to the
    // slot of its place in the order, so that the rooms' pages serve again and a bisection
    // reads neighbouring values.
    if (m_dead < std::max<std::size_t>(size() / 4, 256))
        return;
    const auto m = static_cast<std::size_t>(m_objectives);
    const auto p = static_cast<std::size_t>(m_payloadSize);
    const std::size_t slots = m_values.size() / m;
    // Where each slot goes: the members to their places, the others after them.
    constexpr std::uint32_t none = UINT32_MAX;
    m_moved.assign(slots, none);
    for (std::size_t i = 0; i < size(); ++i)
        m_moved[m_order[i]] = static_cast<std::uint32_t>(i);
    auto spare = static_cast<std::uint32_t>(size());
    for (std::uint32_t& to : m_moved)
        if (to == none)
            to = spare++;
    // Along each cycle of that permutation, with one slot's worth in hand.
    std::vector<double> values(m), payload(p), swapValues(m), swapPayload(p);
    for (std::uint32_t start = 0; start < slots; ++start) {
        if (m_moved[start] == start)
            continue;
        std::copy_n(&m_values[start * m], m, values.begin());
        std::copy_n(slotPayload(start), p, payload.begin());
        std::uint32_t to = m_moved[start];
        m_moved[start] = start;
        while (true) {
            std::copy_n(&m_values[std::size_t(to) * m], m, swapValues.begin());
            std::copy_n(slotPayload(to), p, swapPayload.begin());
            std::copy_n(values.begin(), m, &m_values[std::size_t(to) * m]);
            std::copy_n(payload.begin(), p, slotPayload(to));
            if (to == start)
                break;
            values.swap(swapValues);
            payload.swap(swapPayload);
            const std::uint32_t next = m_moved[to];
            m_moved[to] = to;
            to = next;
        }
    }
    for (std::size_t i = 0; i < size(); ++i)
        m_order[i] = static_cast<std::uint32_t>(i);
    m_values.resize(size() * m);
    m_dead = 0;
}

void ParetoArchive::insertAt(std::size_t at, const double* key, const double* payload)
{
    const std::uint32_t slot = store(key);
    std::copy_n(payload, m_payloadSize, slotPayload(slot));
    m_order.insert(m_order.begin() + static_cast<std::ptrdiff_t>(at), slot);
}

bool ParetoArchive::refused(const double* key, std::size_t at) const
{
    const int m = m_objectives;
    if (at < size() && std::equal(key, key + m, values(at)))
        return true;
    if (m == 2)
        // Along the front the second objective falls: the member before decides.
        return at > 0 && values(at - 1)[1] <= key[1];
    for (std::size_t j = at; j-- > 0;)
        if (paretoDominance(values(j), key, m) < 0)
            return true;
    return false;
}

bool ParetoArchive::offer(const double* offered, double violation, const double* payload)
{
    const int m = m_objectives;
    for (int k = 0; k < m; ++k)
        m_key[static_cast<std::size_t>(k)] = orderKey(offered[k]);
    const double* key = m_key.data();
    const double v = feasibleViolation(violation) ? 0.0 : orderKey(violation);
    if (!empty()) {
        if (v > m_violation)
            return false;
        if (v < m_violation)
            clear();
    }
    m_violation = v;

    const std::size_t at = lowerBound(key);
    if (refused(key, at))
        return false;
    const std::size_t n = size();
    if (m == 2) {
        // The members it dominates follow it in a run.
        std::size_t end = at;
        while (end < n && values(end)[1] >= key[1])
            ++end;
        removeFrom(at, end, [](const double*) { return false; });
    } else {
        removeFrom(at, n, [&](const double* member) { return paretoDominance(key, member, m) >= 0; });
    }
    insertAt(at, key, payload);
    compactWhenSparse();
    return true;
}

std::size_t ParetoArchive::offerAll(const Evaluations& batch, std::span<const double> payloads)
{
    const auto p = static_cast<std::size_t>(m_payloadSize);
    // Only the batch's front can enter: any other design of it is dominated by one that is.
    return offerRows(
        batch, [&](std::size_t row, double* out) { std::copy_n(&payloads[row * p], p, out); },
        firstFront(batch));
}

std::size_t ParetoArchive::offerFront(const Evaluations& front, const PayloadWriter& payload)
{
    m_rows.resize(front.count());
    for (std::size_t i = 0; i < m_rows.size(); ++i)
        m_rows[i] = static_cast<int>(i);
    return offerRows(front, payload, m_rows);
}

std::size_t ParetoArchive::offerRows(const Evaluations& batch, const PayloadWriter& payload,
                                     const std::vector<int>& front)
{
    const int m = m_objectives;
    const auto mu = static_cast<std::size_t>(m);
    if (front.empty())
        return 0;
    const double given = batch.violations[static_cast<std::size_t>(front[0])];
    const double v = feasibleViolation(given) ? 0.0 : orderKey(given);
    if (!empty()) {
        if (v > m_violation)
            return 0;
        if (v < m_violation)
            clear();
    }
    m_violation = v;
    // The front in the archive's order; of designs with equal values the first offered.
    std::vector<double>& keys = m_keys;
    keys.resize(front.size() * mu);
    for (std::size_t f = 0; f < front.size(); ++f)
        for (std::size_t k = 0; k < mu; ++k)
            keys[f * mu + k] = orderKey(batch.row(static_cast<std::size_t>(front[f]))[k]);
    std::vector<std::size_t>& sorted = m_sorted;
    sorted.resize(front.size());
    for (std::size_t f = 0; f < sorted.size(); ++f)
        sorted[f] = f;
    std::sort(sorted.begin(), sorted.end(), [&](std::size_t a, std::size_t b) {
        const double* x = &keys[a * mu];
        const double* y = &keys[b * mu];
        const auto [xd, yd] = std::mismatch(x, x + mu, y);
        return xd != x + mu ? *xd < *yd : a < b;
    });

    // Each entering design, at its place in the members' order, with the run of members from
    // there that it dominates (with two objectives they follow it; with more, they are marked).
    const std::size_t n = size();
    std::vector<std::size_t>& entering = m_entering;
    std::vector<std::size_t>& places = m_places;
    std::vector<std::size_t>& runEnds = m_runEnds;
    entering.clear();
    places.clear();
    runEnds.clear();
    if (m != 2)
        m_removed.assign(n, 0);
    for (std::size_t s = 0; s < sorted.size(); ++s) {
        const double* key = &keys[sorted[s] * mu];
        if (s > 0 && std::equal(key, key + mu, &keys[sorted[s - 1] * mu]))
            continue;
        const std::size_t at = lowerBound(key);
        if (refused(key, at))
            continue;
        entering.push_back(sorted[s]);
        places.push_back(at);
        std::size_t end = at;
        if (m == 2) {
            while (end < n && values(end)[1] >= key[1])
                ++end;
        } else {
            for (std::size_t j = at; j < n; ++j)
                if (!m_removed[j] && paretoDominance(key, values(j), m) < 0)
                    m_removed[j] = 1;
        }
        runEnds.push_back(end);
    }
    if (entering.empty())
        return 0;
    // The new order in one pass: the members between the places as they were, each entering
    // design before the member at its place, the dominated ones left out.
    m_merged.clear();
    m_merged.reserve(n + entering.size());
    auto keepUpTo = [&](std::size_t& next, std::size_t to) {
        if (next >= to)
            return;
        if (m == 2) {
            m_merged.insert(m_merged.end(), m_order.begin() + static_cast<std::ptrdiff_t>(next),
                            m_order.begin() + static_cast<std::ptrdiff_t>(to));
            next = to;
        }
        for (; next < to; ++next) {
            if (m_removed[next])
                ++m_dead;
            else
                m_merged.push_back(m_order[next]);
        }
    };
    std::size_t next = 0;
    for (std::size_t e = 0; e < entering.size(); ++e) {
        keepUpTo(next, places[e]);
        const std::uint32_t slot = store(&keys[entering[e] * mu]);
        payload(static_cast<std::size_t>(front[entering[e]]), slotPayload(slot));
        m_merged.push_back(slot);
        for (; next < runEnds[e]; ++next)
            ++m_dead;
    }
    keepUpTo(next, n);
    m_order.swap(m_merged);
    compactWhenSparse();
    return entering.size();
}

} // namespace zyl
