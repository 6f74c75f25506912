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

TEST(Indiv, CopyTakesCountVariablesValueAndFlag)
{
    Indiv source = make({1.5, -2, 7}, 42, true);
    Indiv target = make({9});
    target = source;
    ASSERT_EQ(target.count(), 3);
    EXPECT_EQ(target.gene(2)->getValue(), 7);
    EXPECT_EQ(target.value, 42);
    EXPECT_TRUE(target.evaluated);
    source.gene(0)->setValue(100); // deep
    EXPECT_EQ(target.gene(0)->getValue(), 1.5);

    // With equal counts the variable objects stay and take the values.
    const Variable_* kept = target.gene(0);
    target = source;
    EXPECT_EQ(target.gene(0), kept);
    EXPECT_EQ(target.gene(0)->getValue(), 100);
}

TEST(Indiv, CopyOfAnotherClassThrowsBeforeChangingAnything)
{
    Indiv target = make({1, 2}, 3);
    Indiv source(2);
    source.setGene(0, std::make_unique<Floating_>(10));
    source.setGene(1, std::make_unique<Integer_>(20));
    EXPECT_THROW(target = source, std::bad_cast);
    EXPECT_EQ(target.gene(0)->getValue(), 1);
    EXPECT_EQ(target.value, 3);
}

TEST(Indiv, EqualityComparesValuesAsReals)
{
    EXPECT_TRUE(make({1, 2}, 5, true) == make({1, 2}, 6, false));
    EXPECT_FALSE(make({1, 2}) == make({1, 3}));
    EXPECT_TRUE(make({-0.0}) == make({0.0}));
    EXPECT_FALSE(make({std::nan("")}) == make({std::nan("")}));
    EXPECT_FALSE(make({1, 2}) == make({1})); // no read past the shorter one
    Indiv i(1);
    i.setGene(0, std::make_unique<Integer_>(3));
    EXPECT_TRUE(i == make({3}));
}

TEST(Indiv, ExternalLineAndStatisticsText)
{
    Indiv ind(3);
    ind.setGene(0, std::make_unique<Integer_>(12345678));
    ind.setGene(1, std::make_unique<Floating_>(1.0 / 3));
    ind.setGene(2, std::make_unique<Boolean_>(1));
    // Every digit for the program, six for the eye.
    EXPECT_EQ(ind.lineText(), "12345678 0.3333333333333333 1 ");
    EXPECT_EQ(ind.text(), "= f(1.23457e+07; 0.333333; 1)");
}
