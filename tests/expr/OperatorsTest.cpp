#include "ExprSupport.h"

#include <cmath>

using namespace zyl;
using namespace zyl::test;

class Operators : public LanguageTest {};

TEST_F(Operators, VectorsElementByElement)
{
    EXPECT_EQ(run("{1, 2, 3} + 10"), "{11,12,13}");
    EXPECT_EQ(run("10 - {1, 2}"), "{9,8}");
    EXPECT_EQ(run("{1, 2} * {3, 4}"), "{3,8}");
    EXPECT_EQ(run("{{1,2},{3,4}} / 2"), "{{0.5,1},{1.5,2}}");
    EXPECT_EQ(run("{1, 2} + {1, 2, 3}"), "Different dimensions");
    EXPECT_EQ(run("{{1, 2}, 3} + {{1}, 3}"), "Different dimensions");
    EXPECT_EQ(run("{1, x} * 2"), "{2,x*2}");
    EXPECT_EQ(run("-{1,{2,x}}"), "{-1,{-2,-x}}");
}

TEST_F(Operators, Powers)
{
    EXPECT_EQ(run("0 ^ 0"), "0^0!");
    EXPECT_EQ(run("0 ^ (-1)"), "0");
    EXPECT_EQ(run("0 ^ I"), "0");
    EXPECT_EQ(run("2 ^ 0"), "1");
    EXPECT_EQ(run("2 ^ 10"), "1024");
    Complex root = numeric("(-1)^0.5");
    EXPECT_NEAR(root.re, 0, 1e-15);
    EXPECT_DOUBLE_EQ(root.im, 1); // +I, not -I: the imaginary zero of -1 stays positive
    Complex square = numeric("I^2");
    EXPECT_DOUBLE_EQ(square.re, -1);
    EXPECT_NE(square.im, 0);
    EXPECT_NEAR(square.im, 0, 1e-15);
    Complex cube = numeric("(-8)^(1/3)");
    EXPECT_NEAR(cube.re, 1, 1e-12);
    EXPECT_NEAR(cube.im, std::sqrt(3.0), 1e-12);
}

TEST_F(Operators, SignedZerosNeverFlipABranch)
{
    // (-1)*(-1) and -(-1) would carry a negative imaginary zero without care.
    EXPECT_DOUBLE_EQ(numeric("((-1)*(-1)*(-1))^0.5").im, 1);
    EXPECT_DOUBLE_EQ(numeric("(-(1))^0.5").im, 1);
    EXPECT_DOUBLE_EQ(numeric("(0-1)^0.5").im, 1);
    EXPECT_DOUBLE_EQ(numeric("log(10,-1)").im, M_PI / std::log(10.0));
    EXPECT_DOUBLE_EQ(numeric("log(10,(-2)*(0.5))").im, M_PI / std::log(10.0));
    EXPECT_EQ(run("(-1)^0.5"), "6.12323e-17+I");
}

TEST_F(Operators, Logarithms)
{
    EXPECT_EQ(run("log(2, 8)"), "3");
    EXPECT_EQ(run("log(10,-1)"), "1.36438*I");
    EXPECT_EQ(run("log(2, x)"), "log(2,x)");
}

TEST_F(Operators, ComparisonsAndLogic)
{
    EXPECT_EQ(run("3 > 2"), "1");
    EXPECT_EQ(run("2 >= 3"), "0");
    EXPECT_EQ(run("2 <= 2"), "1");
    EXPECT_EQ(run("I > 0"), "Not a real type");
    EXPECT_EQ(run("{1} > 0"), "Not a scalar type !");
    EXPECT_EQ(run("!{1}"), "Not a scalar type !");
    EXPECT_EQ(run("x > 0"), "x>0");
    EXPECT_EQ(run("2 && 0"), "0");
    EXPECT_EQ(run("0 || -3"), "1");
    EXPECT_EQ(run("!0"), "1");
    EXPECT_EQ(run("!5"), "0");
    EXPECT_EQ(run("!x"), "!x");
}

TEST_F(Operators, Equality)
{
    EXPECT_EQ(run("{1, 2} == {1, 2}"), "1");
    EXPECT_EQ(run("{1, 2} == {1, 3}"), "0");
    EXPECT_EQ(run("{1, 2} != {1, 3}"), "1");
    EXPECT_EQ(run("{1, 2} != {1, 2}"), "0");
    EXPECT_EQ(run("{1, 2} == 1"), "0");
    EXPECT_EQ(run("{1, 2} != 1"), "1");
    EXPECT_EQ(run("{1,{2,3}} == {1,{2}}"), "0");
    EXPECT_EQ(run("1 + I == 1"), "0");
    EXPECT_EQ(run("I == I"), "1");
    EXPECT_EQ(run("(x + 1) == (y + 2)"), "1");
    EXPECT_EQ(run("x == y"), "0");
    EXPECT_EQ(run("x != x"), "0");
}

TEST_F(Operators, ZeroDivisorIsASingularity)
{
    EXPECT_EQ(run("1/0"), "SING ");
    EXPECT_EQ(run("0/0"), "SING ");
    EXPECT_EQ(run("1/(I-I)"), "SING ");
    EXPECT_EQ(numericError("x/0"), "Unknown variable: x");
    EXPECT_EQ(numericError("2/0"), "SING ");
}
