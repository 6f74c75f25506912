#include "engine/Zyl.h"

#include "support/EngineHelpers.h"
#include "support/ScriptedRng.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace zyl;
using namespace zyl::test;
using ::testing::ElementsAre;

namespace {
class CrossoverTest : public ::testing::Test {
protected:
    void build(std::string_view kinds, std::vector<double> a, std::vector<double> b)
    {
        LcgRng init(1);
        m_zyl = makeZyl(2, kinds, init);
        m_zyl->setRng(m_rng);
        m_zyl->crossProb = 1;
        setValues(m_zyl->population[0], a);
        setValues(m_zyl->population[1], b);
    }
    void cross() { m_zyl->crossPair(m_zyl->population[0], m_zyl->population[1]); }
    std::vector<double> a() const { return values(m_zyl->population[0]); }
    std::vector<double> b() const { return values(m_zyl->population[1]); }

    ScriptedRng m_rng;
    std::unique_ptr<ZYL> m_zyl;
};
} // namespace

TEST_F(CrossoverTest, ProbabilityDecidesAndCounts)
{
    build("f", {1}, {2});
    m_zyl->crossProb = 0;
    m_rng.r15(1);
    cross();
    EXPECT_THAT(a(), ElementsAre(1));
    EXPECT_EQ(m_zyl->crossovers, 0);
    m_rng.r15(0).u(0); // a zero draw still crosses, even at probability 0
    cross();
    EXPECT_THAT(a(), ElementsAre(2));
    EXPECT_EQ(m_zyl->crossovers, 1);
    EXPECT_EQ(m_rng.left(), 0u);
}

TEST_F(CrossoverTest, MultipointAlternatesSegmentsAndMovesObjects)
{
    build("ifbf", {1, 2, 1, 4}, {5, 6, 0, 8});
    m_zyl->population[0].value = 7;
    const Variable_* aThird = m_zyl->population[0].gene(2);
    m_zyl->crossoverType = 0;
    m_zyl->crossPoints = 2;
    m_rng.u(1).i31(1).i31(3); // cuts at 1 and 3
    cross();
    EXPECT_THAT(a(), ElementsAre(1, 6, 0, 4));
    EXPECT_THAT(b(), ElementsAre(5, 2, 1, 8));
    EXPECT_EQ(m_zyl->population[1].gene(2), aThird); // moved, not copied
    EXPECT_NE(dynamic_cast<const Boolean_*>(m_zyl->population[0].gene(2)), nullptr);
    EXPECT_EQ(m_zyl->population[0].value, 7); // the objective value stays with the individual
    m_rng.u(1).i31(4).i31(7); // 4 mod 4 = 0 exchanges all, then 7 mod 4 = 3 the last one back
    cross();
    EXPECT_THAT(a(), ElementsAre(5, 2, 1, 4));
    EXPECT_EQ(m_rng.left(), 0u);
}

TEST_F(CrossoverTest, MultipointDegenerateCases)
{
    build("f", {1}, {2});
    m_zyl->crossoverType = 0;
    m_zyl->crossPoints = 2; // one variable: two exchanges undo each other
    m_rng.u(1).i31(9).i31(4);
    cross();
    EXPECT_THAT(a(), ElementsAre(1));
    m_zyl->crossPoints = 0; // counted, nothing moves, no cut drawn
    m_rng.u(1);
    cross();
    EXPECT_THAT(a(), ElementsAre(1));
    EXPECT_EQ(m_zyl->crossovers, 2);
    EXPECT_EQ(m_rng.left(), 0u);
}

TEST_F(CrossoverTest, ArithmeticalTruncatesIntegersAndBooleans)
{
    build("iib", {3, -3, 1}, {6, -6, 0});
    m_rng.u(1).r15(16384); // alpha just above one half
    cross();
    EXPECT_THAT(a(), ElementsAre(4, -4, 0));
    EXPECT_THAT(b(), ElementsAre(4, -4, 0));
    // alpha 1 keeps everything, so a Boolean 1 survives only at the ends.
    setValues(m_zyl->population[0], {3, -3, 1});
    m_rng.u(1).u(1);
    cross();
    EXPECT_THAT(a(), ElementsAre(3, -3, 1));
    EXPECT_THAT(b(), ElementsAre(4, -4, 0));
    EXPECT_EQ(m_rng.left(), 0u);
}

TEST_F(CrossoverTest, ArithmeticalNeverLeavesTheParentsInterval)
{
    // alpha = 65/32767 blends 3 and 3 into 2.9999999999999996, which truncation made 2: a
    // variable of range [3; 3] took a value outside it.
    build("iii", {3, -3, 5}, {3, -3, 7});
    m_zyl->crossoverType = 1;
    m_rng.u(1).r15(65);
    cross();
    EXPECT_THAT(a(), ElementsAre(3, -3, 6));
    EXPECT_THAT(b(), ElementsAre(3, -3, 5));
    EXPECT_EQ(m_rng.left(), 0u);
}

TEST_F(CrossoverTest, UniformExchangesPositionByPosition)
{
    build("fff", {1, 2, 3}, {4, 5, 6});
    m_zyl->crossoverType = 2;
    m_rng.u(1).coin(true).coin(false).coin(true);
    cross();
    EXPECT_THAT(a(), ElementsAre(4, 2, 6));
    EXPECT_THAT(b(), ElementsAre(1, 5, 3));
    m_zyl->crossUnifProb = 1;
    m_rng.u(1).u(1).u(1).u(1);
    cross();
    EXPECT_THAT(a(), ElementsAre(1, 5, 3));
    EXPECT_EQ(m_rng.left(), 0u);
}
