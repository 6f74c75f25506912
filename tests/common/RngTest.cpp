#include "common/Rng.h"

#include "support/ScriptedRng.h"

#include <gtest/gtest.h>

using namespace zyl;

TEST(RandomHelpers, EndsOfUniformChanceAndIndex)
{
    test::ScriptedRng rng;
    rng.r15(0).r15(32767).r15(0).r15(1).r15(32767).i31(17);
    EXPECT_EQ(rng.uniform01(), 0.0);
    EXPECT_EQ(rng.uniform01(), 1.0);
    EXPECT_TRUE(rng.chance(0.0)); // a zero probability still succeeds on a zero draw
    EXPECT_FALSE(rng.chance(0.0));
    EXPECT_TRUE(rng.chance(1.0));
    EXPECT_EQ(rng.randomIndex(5), 2);
    EXPECT_EQ(rng.randomIndex(0), 0); // no draw taken
    EXPECT_EQ(rng.left(), 0u);
}

TEST(LcgRng, SeededSequencesRepeatWithinTheirRanges)
{
    LcgRng a(42), b(42), c(43);
    int same = 0, lowBitChanges = 0, lastBit = 0;
    for (int i = 0; i < 1000; ++i) {
        int x = a.rand15();
        std::int32_t y = a.randomInt31();
        ASSERT_EQ(x, b.rand15());
        ASSERT_EQ(y, b.randomInt31());
        ASSERT_TRUE(x >= 0 && x <= 32767 && y >= 0);
        same += x == c.rand15();
        c.randomInt31();
        lowBitChanges += (y & 1) != lastBit;
        lastBit = y & 1;
    }
    EXPECT_LT(same, 50);
    // Boolean variables take the low bit: it must neither stick nor simply alternate.
    EXPECT_GT(lowBitChanges, 400);
    EXPECT_LT(lowBitChanges, 600);
}
