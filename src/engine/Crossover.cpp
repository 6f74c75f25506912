#include "engine/Zyl.h"

#include <algorithm>
#include <cassert>

namespace zyl {

void ZYL::crossPair(Indiv& a, Indiv& b)
{
    StopPoll never(nullptr);
    crossPair(a, b, never);
}

bool ZYL::crossPair(Indiv& a, Indiv& b, StopPoll& poll)
{
    return m_lcg ? crossPairWith(*m_lcg, a, b, poll) : crossPairWith(*m_rng, a, b, poll);
}

template <class G> bool ZYL::crossPairWith(G& rng, Indiv& a, Indiv& b, StopPoll& poll)
{
    assert(a.count() == count() && b.count() == count());
    if (!rng.chance(crossProb))
        return true;
    ++crossovers;
    const int n = count();
    switch (crossoverType) {
    case 0:
        // Each cut exchanges the whole tail again, so the segments between successive cuts
        // alternate between the parents; a cut at 0 exchanges everything.
        for (int p = 0; p < crossPoints; ++p) {
            const int cut = rng.randomIndex(n);
            if (poll.step(static_cast<std::uint64_t>(n - cut) + 1))
                return false;
            for (int j = cut; j < n; ++j)
                a.swapGene(b, j);
        }
        break;
    case 2:
        for (int j = 0; j < n; ++j)
            if (rng.chance(crossUnifProb))
                a.swapGene(b, j);
        break;
    default: {
        // One mixing factor for the whole pair; both values are read before either changes.
        double alpha = rng.uniform01();
        for (int j = 0; j < n; ++j) {
            double x = a.gene(j)->getValue();
            double y = b.gene(j)->getValue();
            double forA = alpha * x + (1 - alpha) * y;
            double forB = alpha * y + (1 - alpha) * x;
            if (a.gene(j)->kind() != Variable_::Kind::Floating) {
                // A blend of two whole numbers can round to just outside them, and truncation
                // then moves it a whole step further: parents 3 and 3 would give a child 2,
                // outside a range [3; 3]. Inside the parents' interval truncation is harmless.
                const double lo = std::min(x, y), hi = std::max(x, y);
                forA = std::clamp(forA, lo, hi);
                forB = std::clamp(forB, lo, hi);
            }
            a.gene(j)->setValue(forA);
            b.gene(j)->setValue(forB);
        }
        break;
    }
    }
    return true;
}

} // namespace zyl
