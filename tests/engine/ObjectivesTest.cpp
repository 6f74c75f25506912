#include "engine/Objectives.h"

#include "common/Exception.h"
#include "engine/Zyl.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

using namespace zyl;

namespace {

/// A task of two reals and `objectives` objectives whose population the test gives values.
class Front : public ::testing::Test {
protected:
    void make(int size, std::vector<char> maximised)
    {
        Indiv tmpl(2);
        tmpl.setGene(0, std::make_unique<Floating_>(0.0));
        tmpl.setGene(1, std::make_unique<Floating_>(0.0));
        std::vector<VariableRange> ranges(2);
        for (VariableRange& range : ranges) {
            range.realLo = 0;
            range.realHi = 10;
        }
        zyl = std::make_unique<ZYL>(size, tmpl, std::vector<std::string>{"x", "y"}, ranges, rng);
        std::vector<std::string> names;
        for (std::size_t k = 0; k < maximised.size(); ++k)
            names.push_back("f" + std::to_string(k + 1));
        zyl->objectives = std::make_unique<Objectives>(names, maximised, 2);
        zyl->methodSettings.method = Method::SmsEmoa;
    }

    /// Gives member i these objective values and violation, evaluated.
    void set(std::size_t i, std::vector<double> values, double violation = 0)
    {
        Indiv& ind = zyl->population[i];
        ind.objectives = std::move(values);
        ind.value = ind.objectives[0];
        ind.violation = violation;
        ind.evaluated = true;
    }

    LcgRng rng{5};
    std::unique_ptr<ZYL> zyl;
};

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

} // namespace

TEST_F(Front, StatisticsAgainstExactValuesInTwoAndThreeObjectives)
{
    // (3, 3) is dominated by (2, 2); against (5, 5) the boxes of the others add up to
    // 1*1 + 2*3 + 1*4 = 11.
    make(4, {0, 0});
    zyl->objectives->reference = {5, 5};
    set(0, {1, 4});
    set(1, {2, 2});
    set(2, {4, 1});
    set(3, {3, 3});
    zyl->takeGeneration();
    const Objectives& o = *zyl->objectives;
    EXPECT_EQ(o.onFront, (std::vector<char>{1, 1, 1, 0}));
    EXPECT_EQ(o.frontSize, 3);
    EXPECT_EQ(o.hypervolume, 11);
    EXPECT_EQ(o.frontMin, (std::vector<double>{1, 1}));
    EXPECT_EQ(o.frontMax, (std::vector<double>{4, 4}));

    // The same designs with the second objective maximised as its negation: the same volume,
    // its values and extremes as computed.
    make(4, {0, 1});
    zyl->objectives->reference = {5, -5};
    set(0, {1, -4});
    set(1, {2, -2});
    set(2, {4, -1});
    set(3, {3, -3});
    zyl->takeGeneration();
    EXPECT_EQ(zyl->objectives->hypervolume, 11);
    EXPECT_EQ(zyl->objectives->frontMin, (std::vector<double>{1, -4}));
    EXPECT_EQ(zyl->objectives->frontMax, (std::vector<double>{4, -1}));

    // An infeasible (2, 2) leaves the front to the feasible ones: 2*1 + 1*2 + 1*4.
    make(4, {0, 0});
    zyl->objectives->reference = {5, 5};
    set(0, {1, 4});
    set(1, {2, 2}, 0.5);
    set(2, {4, 1});
    set(3, {3, 3});
    zyl->takeGeneration();
    EXPECT_EQ(zyl->objectives->onFront, (std::vector<char>{1, 0, 1, 1}));
    EXPECT_EQ(zyl->objectives->hypervolume, 8);

    // None feasible: the front is the least violation's, and counts nothing.
    make(2, {0, 0});
    zyl->objectives->reference = {5, 5};
    set(0, {1, 1}, 2);
    set(1, {2, 2}, 1);
    zyl->takeGeneration();
    EXPECT_EQ(zyl->objectives->onFront, (std::vector<char>{0, 1}));
    EXPECT_EQ(zyl->objectives->frontSize, 0);
    EXPECT_EQ(zyl->objectives->hypervolume, 0);
    EXPECT_TRUE(std::isnan(zyl->objectives->frontMin[0]));

    // Three mutually non-dominated points against (4, 4, 4): three boxes of 6, three
    // overlaps of 2 and one of 1 common to all: 18 - 6 + 1.
    make(4, {0, 0, 0});
    zyl->objectives->reference = {4, 4, 4};
    set(0, {1, 2, 3});
    set(1, {3, 1, 2});
    set(2, {2, 3, 1});
    set(3, {3, 3, 3});
    zyl->takeGeneration();
    EXPECT_EQ(zyl->objectives->frontSize, 3);
    EXPECT_EQ(zyl->objectives->hypervolume, 13);
}

TEST_F(Front, TheReferencePointIsChosenOnceFromTheFirstGeneration)
{
    // f1 from 1 to 4 and the maximised f2 from -4 to -1: a tenth of each range beyond the
    // worst, the feasible designs only; the infeasible (9, -9) does not count.
    make(6, {0, 1});
    set(0, {1, -4});
    set(1, {2, -2});
    set(2, {4, -1});
    set(3, {3, -3});
    set(4, {9, -9}, 1);
    set(5, {kNaN, 0}); // no result: not measured by
    zyl->takeGeneration();
    const std::vector<double> first = zyl->objectives->reference;
    ASSERT_EQ(first.size(), 2u);
    EXPECT_DOUBLE_EQ(first[0], 4.3);
    EXPECT_DOUBLE_EQ(first[1], -4.3);
    // A later generation with other values keeps it.
    for (std::size_t i = 0; i < 6; ++i)
        set(i, {20.0 + i, 5.0 - i});
    zyl->nextGeneration();
    for (std::size_t i = 0; i < 6; ++i)
        set(i, {20.0 + i, 5.0 - i});
    zyl->takeGeneration();
    EXPECT_EQ(zyl->objectives->reference, first);

    // All values equal: one beyond.
    make(2, {0, 0});
    set(0, {2, 3});
    set(1, {2, 3});
    zyl->takeGeneration();
    EXPECT_EQ(zyl->objectives->reference, (std::vector<double>{3, 4}));
}

TEST_F(Front, TheArchiveKeepsEveryNonDominatedDesignFoundAsATable)
{
    make(2, {0, 1});
    zyl->population[0].gene(0)->setValue(0.1);
    zyl->population[0].gene(1)->setValue(7);
    set(0, {1, -2});
    set(1, {2, -3});
    zyl->takeGeneration();
    zyl->nextGeneration();
    zyl->population[0].gene(0)->setValue(0.5);
    zyl->population[0].gene(1)->setValue(2.25);
    set(0, {0.5, -1.5}); // dominates both of the first generation, f2 being maximised
    set(1, {3, -1});
    zyl->takeGeneration();
    const std::string table = archiveTable(*zyl);
    EXPECT_EQ(table.substr(0, table.find('\n')), "x\ty\tf1\tf2\tviolation");
    EXPECT_NE(table.find("\n0.5\t2.25\t0.5\t-1.5\t0\n"), std::string::npos) << table;
    EXPECT_EQ(table.find("\t1\t-2\t"), std::string::npos) << table;
    EXPECT_EQ(zyl->objectives->archive.size(), 2u);

    // A task with one objective has no front to take.
    zyl->objectives.reset();
    EXPECT_EQ(archiveTable(*zyl), "x\ty\tviolation\n");
    zyl->methodSettings.method = Method::Nsga2;
    EXPECT_THROW(zyl->nextGeneration(), Exception);
}
