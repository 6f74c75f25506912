#include "expr/MathErrors.h"

#include "common/Exception.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>

using namespace zyl;
using ::testing::StrEq;
using ::testing::ThrowsMessage;

TEST(MathErrors, MessagesByKind)
{
    EXPECT_EQ(mathErrorMessage(DomainError, "sqrt"), "DOMAIN sqrt");
    EXPECT_EQ(mathErrorMessage(Singularity, "log"), "SING ");
    EXPECT_EQ(mathErrorMessage(OverflowError, "exp"), "OVERFLOW ");
    EXPECT_EQ(mathErrorMessage(UnderflowError, "exp"), "UNDERFLOW ");
    EXPECT_EQ(mathErrorMessage(TotalLoss, "sin"), "TLOSS ");
    EXPECT_EQ(mathErrorMessage(0, "x"), "Unknown MathError!");
    EXPECT_EQ(mathErrorMessage(6, "x"), "Unknown MathError!");
}

TEST(MathErrors, CheckedLibraryCalls)
{
    EXPECT_THAT([] { checked::sqrt(-1); }, ThrowsMessage<Exception>(StrEq("DOMAIN sqrt")));
    EXPECT_THAT([] { checked::log(-1); }, ThrowsMessage<Exception>(StrEq("DOMAIN log")));
    EXPECT_THAT([] { checked::log(0); }, ThrowsMessage<Exception>(StrEq("SING ")));
    EXPECT_THAT([] { checked::exp(710); }, ThrowsMessage<Exception>(StrEq("OVERFLOW ")));
    EXPECT_THAT([] { checked::pow(0, -1); }, ThrowsMessage<Exception>(StrEq("SING ")));
    EXPECT_THAT([] { checked::pow(-8, 0.5); }, ThrowsMessage<Exception>(StrEq("DOMAIN pow")));
    EXPECT_THAT([] { checked::sin(INFINITY); }, ThrowsMessage<Exception>(StrEq("DOMAIN sin")));
    EXPECT_THAT([] { checked::cosh(1e4); }, ThrowsMessage<Exception>(StrEq("OVERFLOW ")));
    EXPECT_EQ(checked::exp(-1e4), 0.0);
    EXPECT_EQ(checked::sqrt(4), 2.0);
    EXPECT_TRUE(std::isnan(checked::log(NAN)));
    EXPECT_EQ(checked::exp(INFINITY), INFINITY);
}
