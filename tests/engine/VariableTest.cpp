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

VariableRange ints(std::int32_t lo, std::int32_t hi, double b = 1.0)
{
    return {.intLo = lo, .intHi = hi, .uniformityCoeff = b};
}
VariableRange reals(double lo, double hi, double b = 1.0)
{
    return {.realLo = lo, .realHi = hi, .uniformityCoeff = b};
}
} // namespace

TEST(Variable, SetValueTruncatesAndSaturatesAssignChecksTheClass)
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
    EXPECT_THROW(i.assign(Floating_(1.5)), std::bad_cast);
    i.assign(Integer_(9));
    EXPECT_EQ(i.getValue(), 9);
}

TEST(Variable, BooleanTakesTheLowBitAndFlipsWithoutDraws)
{
    ScriptedRng rng;
    rng.i31(7);
    Boolean_ b;
    b.randomInit({}, rng);
    EXPECT_EQ(b.getValue(), 1);
    b.mutateUniform({}, rng); // the script is empty now: a draw would throw
    EXPECT_EQ(b.getValue(), 0);
    b.setValue(5);
    b.mutateNonuniform({}, 0, 100, rng);
    EXPECT_EQ(b.getValue(), 1); // anything but 1 becomes 1
}

TEST(Variable, IntegerUniformDrawIsLowPlusRemainder)
{
    ScriptedRng rng;
    Integer_ i;
    auto draw = [&](VariableRange r) {
        i.mutateUniform(r, rng);
        return i.getValue();
    };
    rng.i31(23).i31(123456).i31(7);
    EXPECT_EQ(draw(ints(0, 9)), 3);
    EXPECT_EQ(draw(ints(5, 5)), 5);
    EXPECT_EQ(draw(ints(5, 1)), 6); // span -3: the remainder 1 counts upward from 5
    EXPECT_EQ(draw(ints(5, 4)), 5); // span 0: the low bound, no draw
    // The span 2^32 of the full range takes a second draw; 32-bit arithmetic would wrap it to
    // 0 and always give the low bound.
    rng.i31(0).i31(5).i31(1).i31(0).i31(intMax).i31(intMax);
    EXPECT_EQ(draw(ints(intMin, intMax)), intMin + 5.0);
    EXPECT_EQ(draw(ints(intMin, intMax)), 0);
    EXPECT_EQ(draw(ints(intMin, intMax)), intMax);
    rng.i31(0).i31(5); // a reversed span near -2^32 saturates instead of overflowing
    EXPECT_EQ(draw(ints(intMax, intMin)), intMax);
    EXPECT_EQ(rng.left(), 0u);
}

TEST(Variable, FloatingUniformDrawFromLowByTheLength)
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

TEST(Variable, FloatingNonuniformMovesTowardTheChosenBound)
{
    ScriptedRng rng;
    Floating_ f(2);
    auto mutate = [&](int t, double b = 2) {
        f.mutateNonuniform(reals(0, 10, b), t, 100, rng);
        return f.getValue();
    };
    rng.u(0).coin(true);
    EXPECT_EQ(mutate(0), 10); // u = 0: all the way up
    rng.u(0).coin(false);
    EXPECT_EQ(mutate(0), 0);
    f.setValue(2);
    rng.u(1).coin(true);
    EXPECT_EQ(mutate(0), 2);  // u = 1 leaves it
    rng.r15(8192).coin(true); // t = 0, b = 2: step = 1 - sqrt(u), about one half
    EXPECT_NEAR(mutate(0), 6, 1e-3);
    rng.r15(8192).coin(false); // t = 50, b = 1: the same step
    EXPECT_NEAR(mutate(50, 1), 3, 1e-3);
    rng.u(0).coin(true); // at the limit the draws are taken and nothing moves
    EXPECT_NEAR(mutate(100), 3, 1e-3);
    EXPECT_EQ(rng.left(), 0u);
}

TEST(Variable, IntegerNonuniformRoundsHalfAwayFromZeroWithoutOverflow)
{
    ScriptedRng rng;
    Integer_ i;
    auto mutate = [&](double x, VariableRange r) {
        i.setValue(x);
        i.mutateNonuniform(r, 0, 100, rng);
        return i.getValue();
    };
    rng.r15(24575).coin(true);            // b = 1: step = 1 - u, just above 0.25
    EXPECT_EQ(mutate(3, ints(0, 10)), 5); // 4.75
    rng.r15(16383).coin(false);
    EXPECT_EQ(mutate(-3, ints(-10, 0)), -7); // -6.50...
    rng.r15(16385).coin(false);
    EXPECT_EQ(mutate(-3, ints(-10, 0)), -6); // -6.49...
    rng.u(0).coin(true).u(0).coin(false);
    EXPECT_EQ(mutate(intMax - 1, ints(intMin, intMax)), intMax);
    EXPECT_EQ(mutate(intMax, ints(intMin, intMax)), intMin);
    EXPECT_EQ(rng.left(), 0u);
}
