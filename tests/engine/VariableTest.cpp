#include "engine/Variable.h"

#include "support/ScriptedRng.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <typeinfo>

using namespace zyl;
using zyl::test::ScriptedRng;

namespace {
constexpr std::int32_t intMin = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t intMax = std::numeric_limits<std::int32_t>::max();

VariableRange ints(std::int32_t lo, std::int32_t hi, double b = 2.0)
{
    VariableRange r;
    r.intLo = lo;
    r.intHi = hi;
    r.uniformityCoeff = b;
    return r;
}

VariableRange reals(double lo, double hi, double b = 2.0)
{
    VariableRange r;
    r.realLo = lo;
    r.realHi = hi;
    r.uniformityCoeff = b;
    return r;
}
} // namespace

TEST(SetValue, TruncatesTowardZeroAndSaturates)
{
    Integer_ i;
    for (auto [in, out] : {std::pair{3.9, 3},
                           {-3.9, -3},
                           {-0.5, 0},
                           {1e12, intMax},
                           {-1e12, intMin},
                           {std::nan(""), 0}}) {
        i.setValue(in);
        EXPECT_EQ(i.getValue(), out) << in;
    }
    Boolean_ b;
    b.setValue(5.7); // kept as the truncated integer, not forced into {0, 1}
    EXPECT_EQ(b.getValue(), 5);
    b.setValue(-1e9);
    EXPECT_EQ(b.getValue(), -32768);
    Floating_ f;
    f.setValue(-3.9);
    EXPECT_EQ(f.getValue(), -3.9);
}

TEST(Assign, SameClassCopiesOtherClassThrows)
{
    Integer_ a(4), b(9);
    a.assign(b);
    EXPECT_EQ(a.getValue(), 9);
    Floating_ f(1.5);
    EXPECT_THROW(a.assign(f), std::bad_cast);
    EXPECT_THROW(f.assign(Boolean_(1)), std::bad_cast);
    EXPECT_EQ(a.getValue(), 9);
    auto copy = f.clone();
    f.setValue(7);
    EXPECT_EQ(copy->getValue(), 1.5);
    EXPECT_NE(dynamic_cast<Floating_*>(copy.get()), nullptr);
}

TEST(BooleanVariable, LowBitStartAndFlipWithoutDraws)
{
    ScriptedRng rng;
    rng.i31(7).i31(8);
    Boolean_ b;
    b.randomInit({}, rng);
    EXPECT_EQ(b.getValue(), 1);
    b.randomInit({}, rng);
    EXPECT_EQ(b.getValue(), 0);
    // Flips take no draw: the script is empty now and any draw would throw.
    b.mutateUniform({}, rng);
    EXPECT_EQ(b.getValue(), 1);
    b.mutateNonuniform({}, 0, 100, rng);
    EXPECT_EQ(b.getValue(), 0);
    b.setValue(5);
    b.mutateNonuniform({}, 0, 100, rng);
    EXPECT_EQ(b.getValue(), 1); // anything but 1 becomes 1
}

TEST(IntegerVariable, UniformDrawIsLowPlusRemainder)
{
    ScriptedRng rng;
    Integer_ i;
    rng.i31(23);
    i.mutateUniform(ints(0, 9), rng);
    EXPECT_EQ(i.getValue(), 3);
    rng.i31(123456);
    i.randomInit(ints(5, 5), rng);
    EXPECT_EQ(i.getValue(), 5);
    rng.i31(7);
    i.mutateUniform(ints(-10, -8), rng);
    EXPECT_EQ(i.getValue(), -9);
    EXPECT_EQ(rng.left(), 0u);
}

TEST(IntegerVariable, ReversedRangesCountUpwardFromLow)
{
    ScriptedRng rng;
    Integer_ i;
    rng.i31(7); // span 1 - 5 + 1 = -3: 7 mod -3 leaves 1
    i.mutateUniform(ints(5, 1), rng);
    EXPECT_EQ(i.getValue(), 6);
    i.mutateUniform(ints(5, 4), rng); // span 0: the low bound, no draw
    EXPECT_EQ(i.getValue(), 5);
    // A span of almost -2^32 counted from the top would leave 32 bits: it saturates instead.
    rng.i31(0).i31(5);
    i.mutateUniform(ints(intMax, intMin), rng);
    EXPECT_EQ(i.getValue(), intMax);
    EXPECT_EQ(rng.left(), 0u);
}

TEST(IntegerVariable, FullThirtyTwoBitRangeReachesEveryHalf)
{
    // The span 2^32 needs a second 31-bit draw; 32-bit arithmetic would wrap it to 0.
    ScriptedRng rng;
    Integer_ i;
    rng.i31(0).i31(5);
    i.mutateUniform(ints(intMin, intMax), rng);
    EXPECT_EQ(i.getValue(), double(intMin) + 5);
    rng.i31(1).i31(0);
    i.mutateUniform(ints(intMin, intMax), rng);
    EXPECT_EQ(i.getValue(), 0);
    rng.i31(intMax).i31(intMax);
    i.randomInit(ints(intMin, intMax), rng);
    EXPECT_EQ(i.getValue(), intMax);
    // 2^31 values still fit one draw.
    rng.i31(intMax);
    i.mutateUniform(ints(0, intMax), rng);
    EXPECT_EQ(i.getValue(), intMax);
    EXPECT_EQ(rng.left(), 0u);
}

TEST(FloatingVariable, UniformDrawFromLowByTheLength)
{
    ScriptedRng rng;
    Floating_ f;
    rng.u(1).u(0).u(1).r15(12345);
    f.mutateUniform(reals(0, 10), rng);
    EXPECT_EQ(f.getValue(), 10);
    f.randomInit(reals(-1, 3), rng);
    EXPECT_EQ(f.getValue(), -1);
    f.mutateUniform(reals(5, 1), rng); // reversed: upward from 5 by 4
    EXPECT_EQ(f.getValue(), 9);
    f.mutateUniform(reals(2, 2), rng);
    EXPECT_EQ(f.getValue(), 2);
}

TEST(NonuniformStep, ShrinksWithTimeAndCoefficient)
{
    EXPECT_DOUBLE_EQ(detail::nonuniformStep(0.25, 0, 100, 2), 0.5); // 1 - sqrt(u) at t = 0
    EXPECT_DOUBLE_EQ(detail::nonuniformStep(0.25, 50, 100, 1), 0.5);
    EXPECT_DOUBLE_EQ(detail::nonuniformStep(0.0, 99, 100, 100), 1.0);
    EXPECT_DOUBLE_EQ(detail::nonuniformStep(1.0, 0, 100, 2), 0.0);
    EXPECT_LT(detail::nonuniformStep(0.5, 90, 100, 2), detail::nonuniformStep(0.5, 10, 100, 2));
    // Past the limit, or with no limit, nothing moves (instead of 0^negative = infinity).
    EXPECT_EQ(detail::nonuniformStep(0.0, 100, 100, 2), 0.0);
    EXPECT_EQ(detail::nonuniformStep(0.0, 5, 0, 2), 0.0);
    EXPECT_EQ(detail::nonuniformStep(0.0, 0, 100, std::nan("")), 0.0);
}

TEST(FloatingVariable, NonuniformMovesTowardTheChosenBound)
{
    ScriptedRng rng;
    Floating_ f(2);
    rng.u(0).coin(true); // step 1 upward: all the way
    f.mutateNonuniform(reals(0, 10), 0, 100, rng);
    EXPECT_EQ(f.getValue(), 10);
    f.setValue(2);
    rng.u(0).coin(false);
    f.mutateNonuniform(reals(0, 10), 0, 100, rng);
    EXPECT_EQ(f.getValue(), 0);
    f.setValue(2);
    rng.u(1).coin(true); // u = 1 leaves it
    f.mutateNonuniform(reals(0, 10), 0, 100, rng);
    EXPECT_EQ(f.getValue(), 2);
    rng.r15(8192).coin(true); // t = 50 of 100, b = 1: step = 1 - sqrt(u), about one half
    f.mutateNonuniform(reals(0, 10, 1), 50, 100, rng);
    EXPECT_NEAR(f.getValue(), 6, 1e-3);
    rng.u(0).coin(true); // at the limit the draws are taken but nothing moves
    f.mutateNonuniform(reals(0, 10), 100, 100, rng);
    EXPECT_NEAR(f.getValue(), 6, 1e-3);
    EXPECT_EQ(rng.left(), 0u);
}

TEST(IntegerVariable, NonuniformRoundsHalfAwayFromZero)
{
    ScriptedRng rng;
    Integer_ i(3);
    rng.r15(24575).coin(true); // b = 1, t = 0: step = 1 - u, just above 0.25: 4.75 -> 5
    i.mutateNonuniform(ints(0, 10, 1), 0, 100, rng);
    EXPECT_EQ(i.getValue(), 5);
    i.setValue(-3);
    rng.r15(16383).coin(false); // step just above 0.5 downward: -6.5 -> -7
    i.mutateNonuniform(ints(-10, 0, 1), 0, 100, rng);
    EXPECT_EQ(i.getValue(), -7);
    i.setValue(-3);
    rng.r15(16385).coin(false); // step just below 0.5: -6.49 -> -6
    i.mutateNonuniform(ints(-10, 0, 1), 0, 100, rng);
    EXPECT_EQ(i.getValue(), -6);
    EXPECT_EQ(rng.left(), 0u);
}

TEST(IntegerVariable, NonuniformAtTheThirtyTwoBitLimits)
{
    ScriptedRng rng;
    Integer_ i(intMax - 1);
    rng.u(0).coin(true);
    i.mutateNonuniform(ints(intMin, intMax), 0, 100, rng);
    EXPECT_EQ(i.getValue(), intMax);
    rng.u(0).coin(false);
    i.mutateNonuniform(ints(intMin, intMax), 0, 100, rng);
    EXPECT_EQ(i.getValue(), intMin);
    rng.r15(1).coin(true); // a tiny u: nearly the whole way up, still no overflow
    i.mutateNonuniform(ints(intMin, intMax), 0, 100, rng);
    EXPECT_LE(i.getValue(), intMax);
    EXPECT_GT(i.getValue(), 2e9);
}

TEST(VariableTexts, TypeRangeAndValueColumns)
{
    EXPECT_EQ(Boolean_(1).typeText(), "Boolean");
    EXPECT_EQ(Boolean_(1).rangeText({}), "{0, 1}");
    EXPECT_EQ(Boolean_(1).valueText(), "1");
    EXPECT_EQ(Integer_(-7).typeText(), "Integer");
    EXPECT_EQ(Integer_(-7).rangeText(ints(intMin, 10)), "[-2147483648; 10]");
    EXPECT_EQ(Integer_(-7).valueText(), "-7");
    EXPECT_EQ(Floating_(1.0 / 3).typeText(), "Real");
    EXPECT_EQ(Floating_(1.0 / 3).rangeText(reals(0, 0.5)), "[0; 0.5]");
    EXPECT_EQ(Floating_(1.0 / 3).valueText(), "0.333333");
}
