#include "engine/Indiv.h"

#include <gtest/gtest.h>

#include <cmath>
#include <typeinfo>

using namespace zyl;

namespace {
Indiv make(std::initializer_list<double> reals, double value = 0, bool evaluated = false)
{
    Indiv ind(static_cast<int>(reals.size()));
    int j = 0;
    for (double x : reals)
        ind.setGene(j++, std::make_unique<Floating_>(x));
    ind.value = value;
    ind.evaluated = evaluated;
    return ind;
}
} // namespace

TEST(IndivCopy, TakesCountVariablesValueAndFlag)
{
    Indiv source = make({1.5, -2, 7}, 42, true);
    Indiv target = make({9}, 1, false);
    target = source;
    ASSERT_EQ(target.count(), 3);
    EXPECT_EQ(target.gene(2)->getValue(), 7);
    EXPECT_EQ(target.value, 42);
    EXPECT_TRUE(target.evaluated);
    // Deep: changing the source leaves the copy alone.
    source.gene(0)->setValue(100);
    EXPECT_EQ(target.gene(0)->getValue(), 1.5);

    Indiv fresh(source);
    EXPECT_EQ(fresh.gene(0)->getValue(), 100);
    EXPECT_NE(fresh.gene(0), source.gene(0));
}

TEST(IndivCopy, SameCountKeepsTheVariableObjects)
{
    Indiv target = make({1, 2});
    const Variable_* first = target.gene(0);
    const Indiv source = make({3, 4}, 5, true);
    target = source;
    EXPECT_EQ(target.gene(0), first); // assigned, not replaced
    EXPECT_EQ(target.gene(0)->getValue(), 3);
    Indiv& self = target;
    target = self;
    EXPECT_EQ(target.gene(1)->getValue(), 4);
    EXPECT_EQ(target.value, 5);
}

TEST(IndivCopy, EmptyEntriesAreFilledOrEmptied)
{
    Indiv target(2);
    target = make({1, 2});
    ASSERT_NE(target.gene(1), nullptr);
    EXPECT_EQ(target.gene(1)->getValue(), 2);
    Indiv holes(2);
    holes.setGene(0, std::make_unique<Floating_>(8));
    target = holes;
    EXPECT_EQ(target.gene(0)->getValue(), 8);
    EXPECT_EQ(target.gene(1), nullptr);
}

TEST(IndivCopy, OtherClassThrowsAndLeavesTheTargetAlone)
{
    Indiv target = make({1, 2}, 3, true);
    Indiv source(2);
    source.setGene(0, std::make_unique<Floating_>(10));
    source.setGene(1, std::make_unique<Integer_>(20));
    EXPECT_THROW(target = source, std::bad_cast);
    EXPECT_EQ(target.gene(0)->getValue(), 1); // checked before anything was copied
    EXPECT_EQ(target.value, 3);
}

TEST(IndivEquality, ValuesAsRealsOnly)
{
    EXPECT_TRUE(make({1, 2}, 5, true) == make({1, 2}, 6, false));
    EXPECT_FALSE(make({1, 2}) == make({1, 3}));
    EXPECT_TRUE(make({-0.0}) == make({0.0}));
    EXPECT_FALSE(make({std::nan("")}) == make({std::nan("")}));
    EXPECT_FALSE(make({1}) == make({1, 2}));
    EXPECT_FALSE(make({1, 2}) == make({1}));
    // Classes do not matter, values do: integer 3 equals real 3.
    Indiv i(1);
    i.setGene(0, std::make_unique<Integer_>(3));
    EXPECT_TRUE(i == make({3}));
    EXPECT_FALSE(Indiv(1) == Indiv(1));
}

TEST(IndivText, ExternalLineAndStatisticsForm)
{
    Indiv ind(3);
    ind.setGene(0, std::make_unique<Integer_>(12345678));
    ind.setGene(1, std::make_unique<Floating_>(1.0 / 3));
    ind.setGene(2, std::make_unique<Boolean_>(1));
    EXPECT_EQ(ind.lineText(), "1.23457e+07 0.333333 1 ");
    EXPECT_EQ(ind.text(), "= f(1.23457e+07; 0.333333; 1)");
    EXPECT_EQ(Indiv().text(), "= f()");
    EXPECT_EQ(Indiv().lineText(), "");
}
