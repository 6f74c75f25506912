#include "engine/Zyl.h"

#include <cassert>

namespace zyl {

void ZYL::mutate(Indiv& ind)
{
    if (m_lcg)
        mutateWith(*m_lcg, ind);
    else
        mutateWith(*m_rng, ind);
}

template <class G> void ZYL::mutateWith(G& rng, Indiv& ind)
{
    assert(ind.count() == count());
    for (int j = 0; j < ind.count(); ++j) {
        if (!rng.chance(mutProb))
            continue;
        ++mutations;
        if (mutationType == 0)
            ind.gene(j)->mutateUniform(ranges[j], rng);
        else
            ind.gene(j)->mutateNonuniform(ranges[j], generation, maxIteration, rng);
    }
}

} // namespace zyl
