#include "engine/Zyl.h"

#include "support/EngineHelpers.h"
#include "support/ScriptedRng.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace zyl;
using namespace zyl::test;
using ::testing::ElementsAre;

TEST(MutationPass, EachVariableByChanceInOrder)
{
    LcgRng init(1);
    auto zyl = makeZyl(2, "ifb", init);
    ScriptedRng rng;
    zyl->setRng(rng);
    zyl->mutationType = 0;
    zyl->mutProb = 0.5;
    Indiv& ind = zyl->population[0];
    setValues(ind, {1, 1, 1});
    rng.coin(true).i31(27); // integer: 27 mod 10
    rng.coin(false);        // real untouched
    rng.coin(true);         // Boolean flips, no draw
    zyl->mutate(ind);
    EXPECT_THAT(values(ind), ElementsAre(7, 1, 0));
    EXPECT_EQ(zyl->mutations, 2);
    EXPECT_EQ(rng.left(), 0u);
}

TEST(MutationPass, NonuniformUsesTheGenerationAndItsLimit)
{
    LcgRng init(1);
    auto zyl = makeZyl(2, "f", init);
    ScriptedRng rng;
    zyl->setRng(rng);
    zyl->mutProb = 1;
    zyl->ranges[0].uniformityCoeff = 1;
    zyl->generation = 50;
    zyl->maxIteration = 100;
    Indiv& ind = zyl->population[0];
    setValues(ind, {0});
    rng.u(1).r15(8192).coin(true); // step = 1 - u^(1/2): about one half at t = 50 of 100
    zyl->mutate(ind);
    EXPECT_NEAR(values(ind)[0], 5, 1e-3);
    zyl->generation = 0; // the same draw moves three quarters of the way at t = 0
    setValues(ind, {0});
    rng.u(1).r15(8192).coin(true);
    zyl->mutate(ind);
    EXPECT_NEAR(values(ind)[0], 7.5, 1e-3);
    EXPECT_EQ(zyl->mutations, 2);
    EXPECT_EQ(rng.left(), 0u);
}
