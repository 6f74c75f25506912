#include "engine/ParetoArchive.h"

#include "engine/Dominance.h"

#include <algorithm>

namespace zyl {

ParetoArchive::ParetoArchive(int objectives, int payloadSize)
    : m_objectives(objectives), m_payloadSize(payloadSize),
      m_key(static_cast<std::size_t>(objectives))
{
}

void ParetoArchive::clear()
{
    m_values.clear();
    m_payload.clear();
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

void ParetoArchive::insertAt(std::size_t at, const double* key, const double* payload)
{
    const auto m = static_cast<std::size_t>(m_objectives);
    const auto p = static_cast<std::size_t>(m_payloadSize);
    m_values.insert(m_values.begin() + static_cast<std::ptrdiff_t>(at * m), key, key + m);
    m_payload.insert(m_payload.begin() + static_cast<std::ptrdiff_t>(at * p), payload, payload + p);
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
    const std::size_t n = size();
    if (at < n && std::equal(key, key + m, values(at)))
        return false;
    std::size_t end = at;
    if (m == 2) {
        // Along the front the second objective falls: the member before decides, and the
        // members it dominates follow it in a run.
        if (at > 0 && values(at - 1)[1] <= key[1])
            return false;
        while (end < n && values(end)[1] >= key[1])
            ++end;
    } else {
        for (std::size_t j = at; j-- > 0;)
            if (paretoDominance(values(j), key, m) < 0)
                return false;
        end = n;
    }
    // Keep the members from `at` to `end` that the design does not dominate, in order.
    const auto mu = static_cast<std::size_t>(m);
    const auto pu = static_cast<std::size_t>(m_payloadSize);
    std::size_t write = at;
    for (std::size_t j = at; j < end; ++j) {
        if (m != 2 && paretoDominance(key, values(j), m) >= 0) {
            if (write != j) {
                std::copy_n(values(j), mu,
                            m_values.begin() + static_cast<std::ptrdiff_t>(write * mu));
                std::copy_n(ParetoArchive::payload(j), pu,
                            m_payload.begin() + static_cast<std::ptrdiff_t>(write * pu));
            }
            ++write;
        }
    }
    if (write != end) {
        m_values.erase(m_values.begin() + static_cast<std::ptrdiff_t>(write * mu),
                       m_values.begin() + static_cast<std::ptrdiff_t>(end * mu));
        m_payload.erase(m_payload.begin() + static_cast<std::ptrdiff_t>(write * pu),
                        m_payload.begin() + static_cast<std::ptrdiff_t>(end * pu));
    }
    insertAt(at, key, payload);
    return true;
}

} // namespace zyl
