#include "common/Rng.h"

#include "support/ScriptedRng.h"

#include <gtest/gtest.h>

#include <set>
#include <vector>

using namespace zyl;
using zyl::test::ScriptedRng;

TEST(RandomHelpers, UniformReachesBothEndsAndChanceIsAtMost)
{
    ScriptedRng rng;
    rng.r15(0).r15(32767).r15(0).r15(1).r15(32767).r15(32767);
    EXPECT_EQ(rng.uniform01(), 0.0);
    EXPECT_EQ(rng.uniform01(), 1.0);
    EXPECT_TRUE(rng.chance(0.0)); // a zero probability still succeeds on a zero draw
    EXPECT_FALSE(rng.chance(0.0));
    EXPECT_TRUE(rng.chance(1.0));
    EXPECT_FALSE(rng.chance(0.999));
    EXPECT_EQ(rng.left(), 0u);
}

TEST(RandomHelpers, RandomIndexIsTheRemainder)
{
    ScriptedRng rng;
    rng.i31(17).i31(2147483647);
    EXPECT_EQ(rng.randomIndex(5), 2);
    EXPECT_EQ(rng.randomIndex(1000), 647);
    EXPECT_EQ(rng.randomIndex(0), 0); // no draw taken
    EXPECT_EQ(rng.randomIndex(-3), 0);
    EXPECT_EQ(rng.left(), 0u);
}

TEST(LcgRng, SeededSequencesRepeatAndStayInRange)
{
    LcgRng a(42), b(42), c(43);
    bool differs = false;
    for (int i = 0; i < 1000; ++i) {
        int x = a.rand15();
        EXPECT_EQ(x, b.rand15());
        EXPECT_GE(x, 0);
        EXPECT_LE(x, 32767);
        std::int32_t y = a.randomInt31();
        EXPECT_EQ(y, b.randomInt31());
        EXPECT_GE(y, 0);
        differs = differs || x != c.rand15();
        c.randomInt31();
    }
    EXPECT_TRUE(differs);
    a.reseed(7);
    b.reseed(7);
    EXPECT_EQ(a.randomInt31(), b.randomInt31());
}

TEST(LcgRng, LowBitsDoNotCycle)
{
    // Boolean variables take the low bit of a 31-bit draw; it must not simply alternate.
    LcgRng rng(1);
    std::set<std::vector<int>> patterns;
    for (int block = 0; block < 64; ++block) {
        std::vector<int> bits;
        for (int i = 0; i < 4; ++i)
            bits.push_back(rng.randomInt31() % 2);
        patterns.insert(bits);
    }
    EXPECT_GE(patterns.size(), 10u); // all 16 four-bit patterns are expected, 2 if it cycled
}
