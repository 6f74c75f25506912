#include "engine/Zyl.h"

#include "support/EngineHelpers.h"
#include "support/ScriptedRng.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace zyl;
using namespace zyl::test;
using ::testing::ElementsAre;

namespace {
/// An engine of one integer variable (individual i holds i) with the given objective values.
std::unique_ptr<ZYL> withValues(std::vector<double> objective, ScriptedRng& rng)
{
    LcgRng init(1);
    auto zyl = makeZyl(static_cast<int>(objective.size()), "i", init);
    for (std::size_t i = 0; i < objective.size(); ++i) {
        zyl->population[i].value = objective[i];
        setValues(zyl->population[i], {double(i)});
    }
    zyl->setRng(rng);
    return zyl;
}
} // namespace

TEST(Tournament, StrictComparisonKeepsTheEarlierContestant)
{
    ScriptedRng rng;
    auto zyl = withValues({1, 5, 5}, rng);
    zyl->maximise = true;
    zyl->tourSize = 2;
    rng.i31(1).i31(2).i31(0).i31(4);
    EXPECT_EQ(zyl->tournamentSelect(), 1); // 5 against 5
    EXPECT_EQ(zyl->tournamentSelect(), 1); // 4 mod 3 = 1: the larger wins
    zyl->maximise = false;
    zyl->tourSize = 5; // larger than the population: contestants repeat
    rng.i31(1).i31(2).i31(1).i31(0).i31(2);
    EXPECT_EQ(zyl->tournamentSelect(), 0);
    for (int size : {1, 0, -4}) { // one uniform draw
        zyl->tourSize = size;
        rng.i31(5);
        EXPECT_EQ(zyl->tournamentSelect(), 2) << size;
    }
    EXPECT_EQ(rng.left(), 0u);
}

TEST(Elite, TheBestOfTheTaskReplacesARandomMember)
{
    ScriptedRng rng;
    auto zyl = withValues({1, 2, 3}, rng);
    setValues(zyl->globalMin, {7});
    zyl->globalMin.value = -1;
    setValues(zyl->globalMax, {8});
    rng.i31(2).i31(0);
    zyl->insertElite();
    EXPECT_THAT(values(zyl->population[2]), ElementsAre(7));
    EXPECT_EQ(zyl->population[2].value, -1);
    zyl->maximise = true;
    zyl->insertElite();
    EXPECT_THAT(values(zyl->population[0]), ElementsAre(8));
    EXPECT_THAT(values(zyl->population[1]), ElementsAre(1));
    EXPECT_EQ(rng.left(), 0u);
}
