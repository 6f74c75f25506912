#include "engine/Zyl.h"

#include "support/EngineHelpers.h"
#include "support/ScriptedRng.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace zyl;
using namespace zyl::test;
using ::testing::ElementsAre;

TEST(MutationPass, EachVariableByChanceAtTheCurrentGeneration)
{
    LcgRng init(1);
    auto zyl = makeZyl(2, "ifb", init);
    ScriptedRng rng;
    zyl->setRng(rng);
    zyl->mutationType = 0;
    zyl->mutProb = 0.5;
    Indiv& ind = zyl->population[0];
    setValues(ind, {1, 1, 1});
    rng.coin(true).i31(27).coin(false).coin(true); // integer to 27 mod 10, real kept, flip
    zyl->mutate(ind);
    EXPECT_THAT(values(ind), ElementsAre(7, 1, 0));

    // Nonuniform at t = generation, T = maxIteration: with b = 1 the same draw moves three
    // quarters of the way at t = 0 and half of it at t = 50 of 100.
    zyl->mutationType = 1;
    zyl->ranges[1].uniformityCoeff = 1;
    for (auto [t, expected] : {std::pair{0, 7.5}, {50, 5.0}}) {
        zyl->generation = t;
        setValues(ind, {7, 0, 0});
        rng.coin(false).coin(true).r15(8192).coin(true).coin(false);
        zyl->mutate(ind);
        EXPECT_NEAR(values(ind)[1], expected, 1e-3) << t;
    }
    EXPECT_EQ(zyl->mutations, 4);
    EXPECT_EQ(rng.left(), 0u);
}
