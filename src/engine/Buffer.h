#pragma once

#include "common/DoubleList.h"
#include "engine/Indiv.h"

#include <cstddef>
#include <cstdint>
#include <unordered_map>

namespace zyl {

/// The individuals evaluated so far in a task, so that none is evaluated twice. The entries
/// stay in a list in the order they were added (the Buffered window's rows and the "Buffered"
/// count follow it); a hash index over the variable values makes a lookup cost
/// O(number of variables) instead of O(entries * variables).
///
/// NOTE: the index holds, for each distinct tuple of values, the oldest entry with it. Since
/// equality of non-NaN reals is transitive, that entry is the first equal one a scan from the
/// oldest entry would meet. Entries with a NaN (or an empty variable) equal nothing and are
/// left out of the index. The list only grows, so the index never has to re-point a key.
class Buffer {
public:
    Buffer() = default;
    Buffer(const Buffer&) = delete;
    Buffer& operator=(const Buffer&) = delete;

    /// Appends a copy of `ind` as the newest entry and returns it.
    const Indiv& append(const Indiv& ind);

    /// The first (oldest) entry equal to `ind`, or nullptr.
    const Indiv* find(const Indiv& ind) const;
    /// The same answer by scanning the list from the oldest entry: the reference that find()
    /// must agree with, kept for tests and benchmarks.
    const Indiv* findByScan(const Indiv& ind) const;

    /// On a hit copies the entry (variables, value and evaluated flag) over `ind` and returns
    /// true; otherwise returns false and leaves `ind` unchanged.
    bool lookup(Indiv& ind) const;

    std::size_t size() const { return m_list.size(); }
    bool empty() const { return m_list.empty(); }
    /// The entries, oldest first.
    const DoubleList<Indiv>& entries() const { return m_list; }
    void clear();
    /// Lets `change` alter each entry in place, oldest first; it must not change the
    /// variables, by which the entries are found.
    template <class Change> void updateEach(Change&& change)
    {
        for (Indiv& entry : m_list)
            change(entry);
    }

private:
    using Node = DoubleList<Indiv>::Node;

    /// Hash of the values with -0 and 0 alike; nothing when a value is NaN or missing.
    static bool hashOf(const Indiv& ind, std::uint64_t& hash);

    DoubleList<Indiv> m_list;
    std::unordered_multimap<std::uint64_t, const Node*> m_index;
};

} // namespace zyl
