#include "engine/Buffer.h"

#include <bit>
#include <cmath>

namespace zyl {

namespace {
std::uint64_t mix(std::uint64_t z)
{
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}
} // namespace

bool Buffer::hashOf(const Indiv& ind, std::uint64_t& hash)
{
    std::uint64_t h = mix(static_cast<std::uint64_t>(ind.count()));
    for (int j = 0; j < ind.count(); ++j) {
        const Variable_* gene = ind.gene(j);
        if (!gene)
            return false;
        double x = detail::valueOf(*gene);
        if (std::isnan(x))
            return false;
        if (x == 0.0)
            x = 0.0; // -0 hashes as 0, since they compare equal
        h = mix(h ^ std::bit_cast<std::uint64_t>(x)) + static_cast<std::uint64_t>(j);
    }
    hash = h;
    return true;
}

const Indiv& Buffer::append(const Indiv& ind)
{
    Node* node = m_list.pushBack(std::make_unique<Indiv>(ind));
    std::uint64_t hash;
    if (hashOf(ind, hash)) {
        auto [it, end] = m_index.equal_range(hash);
        bool known = false;
        for (; it != end && !known; ++it)
            known = *it->second->item == ind;
        if (!known)
            m_index.emplace(hash, node);
    }
    return *node->item;
}

const Indiv* Buffer::find(const Indiv& ind) const
{
    std::uint64_t hash;
    if (!hashOf(ind, hash))
        return nullptr;
    auto [it, end] = m_index.equal_range(hash);
    for (; it != end; ++it)
        if (*it->second->item == ind)
            return it->second->item.get();
    return nullptr;
}

const Indiv* Buffer::findByScan(const Indiv& ind) const
{
    for (const Indiv& entry : m_list)
        if (entry == ind)
            return &entry;
    return nullptr;
}

bool Buffer::lookup(Indiv& ind) const
{
    const Indiv* hit = find(ind);
    if (!hit)
        return false;
    ind = *hit;
    return true;
}

void Buffer::clear()
{
    m_index.clear();
    m_list.clear();
}

} // namespace zyl
