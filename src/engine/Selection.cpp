#include "engine/Zyl.h"

namespace zyl {

int ZYL::tournamentSelect()
{
    StopPoll never(nullptr);
    return tournamentSelect(never);
}

int ZYL::tournamentSelect(StopPoll& poll)
{
    return m_lcg ? tournamentWith(*m_lcg, poll) : tournamentWith(*m_rng, poll);
}

template <class G> int ZYL::tournamentWith(G& rng, StopPoll& poll)
{
    int winner = rng.randomIndex(popSize);
    for (int round = 1; round < tourSize; ++round) {
        if (poll.step())
            return -1;
        int c = rng.randomIndex(popSize);
        if (better(population[c], population[winner]))
            winner = c;
    }
    return winner;
}

void ZYL::insertElite()
{
    // The best of the whole task replaces any member, a good one included.
    population[rng().randomIndex(popSize)] = maximise ? globalMax : globalMin;
}

} // namespace zyl
