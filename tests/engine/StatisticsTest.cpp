#include "engine/Statistics.h"

#include "common/Exception.h"
#include "common/TextConvert.h"
#include "engine/Zyl.h"
#include "expr/Printer.h"
#include "expr/Statement.h"
#include "support/EngineHelpers.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdint>

#include <cfloat>
#include <cmath>
#include <limits>
#include <random>

using namespace zyl;
using namespace zyl::test;
using ::testing::ElementsAre;

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
const double kNaN = std::numeric_limits<double>::quiet_NaN();

/// An engine with one real variable per individual ("f" kinds) whose objective values are
/// given; individual i has x1 = 10 + i, so the copies can be told apart.
class StatisticsTest : public ::testing::Test {
protected:
    ZYL& make(const std::vector<double>& objective, std::string_view kinds = "f")
    {
        m_zyl = makeZyl(static_cast<int>(objective.size()), kinds, m_rng);
        setValues(objective);
        for (std::size_t i = 0; i < objective.size(); ++i) {
            Indiv& ind = m_zyl->population[i];
            for (int j = 0; j < ind.count(); ++j)
                ind.gene(j)->setValue(10.0 * (j + 1) + static_cast<double>(i));
        }
        return *m_zyl;
    }
    /// A new generation: only the objective values change (and x1 = 20 + i marks it).
    void setValues(const std::vector<double>& objective, double mark = 10)
    {
        for (std::size_t i = 0; i < objective.size(); ++i) {
            Indiv& ind = m_zyl->population[i];
            ind.value = objective[i];
            ind.evaluated = true;
            ind.gene(0)->setValue(mark + static_cast<double>(i));
        }
    }

    LcgRng m_rng{7};
    std::unique_ptr<ZYL> m_zyl;
};

/// A symbol table as the main window and the loader leave it for a task of `n` variables.
void prepareTable(SymbolTable& table, int n)
{
    table.registerBuiltinSymbols();
    std::string statement = "{3";
    for (int j = 1; j < n; ++j)
        statement += ",3";
    statement += "}";
    for (const char* name :
         {"GlobalMinIndiv", "GlobalMaxIndiv", "CurrentMinIndiv", "CurrentMaxIndiv"})
        table.pushBack(makeSymbolFromStatement(statement, name, false, table));
}

double valueOf(const SymbolTable& table, const char* name)
{
    const Funkcja* symbol = table.lookup(name);
    EXPECT_NE(symbol, nullptr) << name;
    EXPECT_TRUE(symbol && symbol->definition->isNumber()) << name;
    return symbol ? symbol->definition->re : kNaN;
}

std::string printed(const SymbolTable& table, const char* name)
{
    const Funkcja* symbol = table.lookup(name);
    return symbol ? printToString(*symbol->definition) : "(missing)";
}

} // namespace

TEST(Quantile, PositionRuleForOddAndEvenCounts)
{
    const std::vector<double> ten = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    EXPECT_EQ(quantile(ten, 0.25), 2); // the 2nd smallest
    EXPECT_EQ(quantile(ten, 0.5), 5);  // the 5th
    EXPECT_EQ(quantile(ten, 0.75), 7); // the 7th
    const std::vector<double> five = {1, 2, 3, 4, 5};
    EXPECT_EQ(quantile(five, 0.25), 2); // 1.25 -> position 1
    EXPECT_EQ(quantile(five, 0.5), 3);
    EXPECT_EQ(quantile(five, 0.75), 4);
    EXPECT_EQ(quantile(five, 1.0), 5); // position 5 clamped to the last
    // Population of 2: the Q1 position (0 - 1) lies before the array; the smallest value.
    const std::vector<double> two = {3, 8};
    EXPECT_EQ(quantile(two, 0.25), 3);
    EXPECT_EQ(quantile(two, 0.5), 3);
    EXPECT_EQ(quantile(two, 0.75), 3); // 1.5 -> 1 -> position 0
    EXPECT_EQ(quantile({4}, 0.25), 4);
    EXPECT_TRUE(std::isnan(quantile({}, 0.5)));
    EXPECT_TRUE(std::isnan(quantile(ten, kNaN)));
    EXPECT_EQ(quantile(ten, 7.0), 10);
    EXPECT_EQ(quantile(ten, -1.0), 1);
}

TEST_F(StatisticsTest, AllValuesEqual)
{
    ZYL& zyl = make({5, 5, 5, 5});
    computeStatistics(zyl);
    EXPECT_EQ(zyl.different, 1);
    EXPECT_EQ(zyl.entropy, 0);
    EXPECT_FALSE(std::signbit(zyl.entropy)); // shown as "0", not "-0"
    EXPECT_EQ(zyl.range, 0);
    EXPECT_EQ(zyl.discrepancy, 0);
    EXPECT_EQ(zyl.stdDev, 0);
    EXPECT_EQ(zyl.meanDev, 0);
    EXPECT_EQ(zyl.medianDev, 0);
    EXPECT_EQ(zyl.average, 5);
    EXPECT_EQ(zyl.q1, 5);
    EXPECT_EQ(zyl.q2, 5);
    EXPECT_EQ(zyl.q3, 5);
    EXPECT_EQ(zyl.iqr, 0);
    // Of equal values the first in population order is both extremes.
    EXPECT_THAT(values(zyl.currentMax), ElementsAre(10));
    EXPECT_THAT(values(zyl.currentMin), ElementsAre(10));
}

TEST_F(StatisticsTest, OneTwoThreeFourInAnyOrder)
{
    ZYL& zyl = make({3, 1, 4, 2});
    computeStatistics(zyl);
    EXPECT_EQ(zyl.average, 2.5);
    EXPECT_EQ(zyl.q1, 1);
    EXPECT_EQ(zyl.q2, 2);
    EXPECT_EQ(zyl.q3, 3);
    EXPECT_EQ(zyl.iqr, 2);
    EXPECT_DOUBLE_EQ(zyl.stdDev, std::sqrt(1.25));
    EXPECT_EQ(zyl.meanDev, 1);
    EXPECT_EQ(zyl.medianDev, 1);
    EXPECT_EQ(zyl.range, 3);
    EXPECT_EQ(zyl.different, 4);
    EXPECT_DOUBLE_EQ(zyl.entropy, 2);
    EXPECT_DOUBLE_EQ(zyl.discrepancy, 0.25);
    EXPECT_EQ(zyl.currentMax.value, 4);
    EXPECT_THAT(values(zyl.currentMax), ElementsAre(12));
    EXPECT_EQ(zyl.currentMin.value, 1);
    EXPECT_THAT(values(zyl.currentMin), ElementsAre(11));
    // The first generation replaces both starting extremes (-DBL_MAX, +DBL_MAX).
    EXPECT_EQ(zyl.globalMax.value, 4);
    EXPECT_EQ(zyl.globalMin.value, 1);
}

TEST_F(StatisticsTest, RepeatedValuesFormGroups)
{
    ZYL& zyl = make({1, 4, 1, 1});
    computeStatistics(zyl);
    EXPECT_EQ(zyl.different, 2);
    EXPECT_NEAR(zyl.entropy, -(0.75 * std::log2(0.75) + 0.25 * std::log2(0.25)), 1e-15);
    EXPECT_EQ(realToText(zyl.entropy), "0.811278");
    EXPECT_DOUBLE_EQ(zyl.discrepancy, 0.75);
    EXPECT_EQ(zyl.q1, 1);
    EXPECT_EQ(zyl.q2, 1);
    EXPECT_EQ(zyl.q3, 1);
}

TEST_F(StatisticsTest, TiesKeepTheFirstAndCopiesAreFull)
{
    ZYL& zyl = make({2, 7, 1, 7, 1, 0.5}, "fib");
    zyl.population[1].gene(1)->setValue(4);
    zyl.population[1].gene(2)->setValue(1);
    computeStatistics(zyl);
    EXPECT_EQ(zyl.currentMax.value, 7);
    EXPECT_THAT(values(zyl.currentMax), ElementsAre(11, 4, 1)); // individual 1, not 3
    EXPECT_TRUE(zyl.currentMax.evaluated);
    EXPECT_EQ(zyl.currentMin.value, 0.5);
    EXPECT_THAT(values(zyl.currentMin), ElementsAre(15, 25, 35));

    // Copies, not references: changing the population leaves them as they were.
    zyl.population[1].gene(0)->setValue(-1);
    zyl.population[1].value = -100;
    EXPECT_EQ(zyl.currentMax.value, 7);
    EXPECT_THAT(values(zyl.currentMax), ElementsAre(11, 4, 1));
    EXPECT_THAT(values(zyl.globalMax), ElementsAre(11, 4, 1));

    // Equal minima: the first in population order.
    setValues({3, 1, 5, 1, 9, 1}, 40);
    computeStatistics(zyl);
    EXPECT_THAT(values(zyl.currentMin), ElementsAre(41, 4, 1));
}

TEST_F(StatisticsTest, GlobalExtremesKeepTheEarlierBest)
{
    ZYL& zyl = make({3, 4});
    computeStatistics(zyl);
    EXPECT_THAT(values(zyl.globalMin), ElementsAre(10));
    EXPECT_THAT(values(zyl.globalMax), ElementsAre(11));

    // A worse generation for minimisation: globalMin stays, globalMax moves on.
    setValues({6, 5}, 20);
    computeStatistics(zyl);
    EXPECT_EQ(zyl.globalMin.value, 3);
    EXPECT_THAT(values(zyl.globalMin), ElementsAre(10));
    EXPECT_EQ(zyl.globalMax.value, 6);
    EXPECT_THAT(values(zyl.globalMax), ElementsAre(20));
    EXPECT_EQ(zyl.currentMin.value, 5);

    // An equal later value does not replace the stored one (strict comparison).
    setValues({3, 6}, 30);
    computeStatistics(zyl);
    EXPECT_THAT(values(zyl.globalMin), ElementsAre(10));
    EXPECT_THAT(values(zyl.globalMax), ElementsAre(20));
    EXPECT_THAT(values(zyl.currentMin), ElementsAre(30));

    // And the published vector keeps the earlier best's variables.
    SymbolTable table;
    prepareTable(table, 1);
    publishStatistics(zyl, table);
    EXPECT_EQ(printed(table, "GlobalMinIndiv"), "{10}");
    EXPECT_EQ(printed(table, "CurrentMinIndiv"), "{30}");
    EXPECT_EQ(valueOf(table, "GlobalMin"), 3);
}

TEST_F(StatisticsTest, NaNSortsLastAndNeverBecomesAnExtreme)
{
    const double negativeNaN = -std::numeric_limits<double>::quiet_NaN();
    ZYL& zyl = make({kNaN, 2, negativeNaN, 1});
    computeStatistics(zyl);
    EXPECT_EQ(zyl.different, 3); // 1, 2 and one group of NaNs
    EXPECT_DOUBLE_EQ(zyl.entropy, 1.5);
    EXPECT_EQ(zyl.q1, 1);
    EXPECT_EQ(zyl.q2, 2);
    EXPECT_TRUE(std::isnan(zyl.q3)); // its position falls among the NaNs
    EXPECT_TRUE(std::isnan(zyl.iqr));
    EXPECT_TRUE(std::isnan(zyl.average));
    EXPECT_TRUE(std::isnan(zyl.stdDev));
    EXPECT_TRUE(std::isnan(zyl.meanDev));
    EXPECT_TRUE(std::isnan(zyl.discrepancy));
    // Every NaN result is the positive one.
    for (double x :
         {zyl.q3, zyl.iqr, zyl.average, zyl.stdDev, zyl.meanDev, zyl.medianDev, zyl.discrepancy})
        EXPECT_EQ(realToText(x), "nan");
    EXPECT_EQ(zyl.currentMax.value, 2);
    EXPECT_THAT(values(zyl.currentMax), ElementsAre(11));
    EXPECT_EQ(zyl.currentMin.value, 1);
    EXPECT_THAT(values(zyl.currentMin), ElementsAre(13));
    EXPECT_EQ(zyl.range, 1);
    EXPECT_EQ(zyl.globalMax.value, 2);
    EXPECT_EQ(zyl.globalMin.value, 1);
}

TEST_F(StatisticsTest, AllNaNGivesGlobalExtremesThatAreDesigns)
{
    ZYL& zyl = make({kNaN, kNaN});
    computeStatistics(zyl);
    EXPECT_EQ(zyl.different, 1);
    EXPECT_EQ(zyl.entropy, 0);
    EXPECT_EQ(zyl.range, 0);
    EXPECT_EQ(zyl.discrepancy, 0);
    EXPECT_TRUE(std::isnan(zyl.q2));
    EXPECT_TRUE(std::isnan(zyl.currentMax.value));
    EXPECT_THAT(values(zyl.currentMax), ElementsAre(10));
    EXPECT_THAT(values(zyl.currentMin), ElementsAre(10));
    // Not the starting values, which no design had.
    EXPECT_TRUE(std::isnan(zyl.globalMax.value) && std::isnan(zyl.globalMin.value));
    EXPECT_THAT(values(zyl.globalMin), ElementsAre(10));

    // A later generation with numbers takes over.
    setValues({kNaN, 4}, 20);
    computeStatistics(zyl);
    EXPECT_EQ(zyl.globalMin.value, 4);
    EXPECT_THAT(values(zyl.globalMin), ElementsAre(21));
}

TEST_F(StatisticsTest, Infinities)
{
    ZYL& zyl = make({kInf, 1, -kInf, 1});
    computeStatistics(zyl);
    EXPECT_EQ(zyl.different, 3);
    EXPECT_EQ(zyl.q1, -kInf);
    EXPECT_EQ(zyl.q2, 1);
    EXPECT_EQ(zyl.q3, 1);
    EXPECT_EQ(zyl.iqr, kInf);
    EXPECT_EQ(zyl.currentMax.value, kInf);
    EXPECT_EQ(zyl.currentMin.value, -kInf);
    EXPECT_EQ(zyl.range, kInf);
    EXPECT_TRUE(std::isnan(zyl.average)); // kInf + -kInf
    EXPECT_EQ(realToText(zyl.average), "nan");
    EXPECT_DOUBLE_EQ(zyl.entropy, 1.5);
    EXPECT_EQ(zyl.globalMax.value, kInf);
    EXPECT_EQ(zyl.globalMin.value, -kInf);

    // All +kInf: one group, range 0 rather than kInf - kInf.
    setValues({kInf, kInf, kInf, kInf});
    computeStatistics(zyl);
    EXPECT_EQ(zyl.range, 0);
    EXPECT_EQ(zyl.discrepancy, 0);
    EXPECT_EQ(zyl.average, kInf);
}

TEST_F(StatisticsTest, RandomNonFiniteValuesGiveConsistentFigures)
{
    // Run under the sanitizers this also shows that nothing reads out of bounds.
    const double pool[] = {0.0, -0.0, 1.0, -1.0, 2.5, kNaN, -kNaN, kInf, -kInf, 1e308, -1e308};
    std::mt19937 gen(20240607);
    std::uniform_real_distribution<double> spread(-1e3, 1e3);
    for (int round = 0; round < 400; ++round) {
        // Every tenth population is large enough for the statistics' radix sort.
        const int n = 2 * (round % 10 == 0 ? 128 + static_cast<int>(gen() % 300)
                                            : 1 + static_cast<int>(gen() % 20));
        std::vector<double> objective;
        for (int i = 0; i < n; ++i)
            objective.push_back(gen() % 3 == 0 ? spread(gen) : pool[gen() % std::size(pool)]);
        ZYL& zyl = make(objective);
        computeStatistics(zyl);
        ASSERT_GE(zyl.different, 1);
        ASSERT_LE(zyl.different, n);
        ASSERT_TRUE(std::isfinite(zyl.entropy));
        ASSERT_GE(zyl.entropy, 0);
        ASSERT_LE(zyl.entropy, std::log2(n) + 1e-12);
        auto notAfter = [](double a, double b) { // a <= b with NaN last
            if (std::isnan(b))
                return true;
            return !std::isnan(a) && a <= b;
        };
        ASSERT_TRUE(notAfter(zyl.q1, zyl.q2) && notAfter(zyl.q2, zyl.q3));
        // The quartiles are those of a stable sort, a zero's sign included.
        std::vector<double> reference;
        for (double x : objective)
            reference.push_back(std::isnan(x) ? kNaN : x);
        std::stable_sort(reference.begin(), reference.end(), [](double a, double b) {
            return !std::isnan(a) && (std::isnan(b) || a < b);
        });
        for (auto [q, p] : {std::pair{zyl.q1, 0.25}, {zyl.q2, 0.5}, {zyl.q3, 0.75}})
            ASSERT_EQ(std::bit_cast<std::uint64_t>(q),
                      std::bit_cast<std::uint64_t>(quantile(reference, p)));
        // The groups of equal values, and the entropy to the last bit, summed in sorted order.
        int groups = 0;
        double entropy = 0;
        for (std::size_t start = 0; start < reference.size();) {
            std::size_t end = start + 1;
            while (end < reference.size() &&
                   (reference[end] == reference[start] ||
                    (std::isnan(reference[end]) && std::isnan(reference[start]))))
                ++end;
            const double p = static_cast<double>(end - start) / n;
            entropy -= p * std::log(p) / std::log(2.0);
            ++groups;
            start = end;
        }
        ASSERT_EQ(zyl.different, groups);
        ASSERT_EQ(std::bit_cast<std::uint64_t>(zyl.entropy), std::bit_cast<std::uint64_t>(entropy));
        ASSERT_TRUE(std::isnan(zyl.discrepancy) || (zyl.discrepancy >= 0 && zyl.discrepancy <= 1));
        bool allNaN = true;
        for (double x : objective)
            allNaN = allNaN && std::isnan(x);
        ASSERT_EQ(std::isnan(zyl.currentMin.value), allNaN);
        if (!allNaN) {
            ASSERT_LE(zyl.currentMin.value, zyl.currentMax.value);
            for (double x : objective)
                ASSERT_TRUE(std::isnan(x) ||
                            (zyl.currentMin.value <= x && x <= zyl.currentMax.value));
        }
    }
}

TEST_F(StatisticsTest, PublishWritesTheScalarsAndVectors)
{
    ZYL& zyl = make({3, 1, 4, 2}, "fi");
    zyl.population[1].gene(0)->setValue(1.23456789);
    zyl.population[1].gene(1)->setValue(-7);
    zyl.mutations = 5'000'000'000; // above 2^31
    zyl.crossovers = 12;
    zyl.crossPoints = 2;
    zyl.tourSize = 4;
    zyl.crossUnifProb = 0.25;
    zyl.crossProb = 0.6;
    zyl.mutProb = 0.1;
    zyl.buffer.append(zyl.population[0]);
    zyl.buffer.append(zyl.population[1]);
    computeStatistics(zyl);

    SymbolTable table;
    prepareTable(table, 2);
    const std::size_t size = table.size();
    publishStatistics(zyl, table);
    EXPECT_EQ(table.size(), size);

    EXPECT_EQ(valueOf(table, "Average"), 2.5);
    EXPECT_DOUBLE_EQ(valueOf(table, "StdDev"), std::sqrt(1.25));
    EXPECT_EQ(valueOf(table, "Generation"), 1); // generation is still 0
    EXPECT_EQ(valueOf(table, "Mutations"), 5e9);
    EXPECT_EQ(valueOf(table, "Crossovers"), 12);
    EXPECT_EQ(valueOf(table, "PopSize"), 4);
    EXPECT_EQ(valueOf(table, "Different"), 4);
    EXPECT_EQ(valueOf(table, "MeanDev"), 1);
    EXPECT_EQ(valueOf(table, "MedianDev"), 1);
    EXPECT_EQ(valueOf(table, "Range"), 3);
    EXPECT_EQ(valueOf(table, "Q1"), 1);
    EXPECT_EQ(valueOf(table, "Q2"), 2);
    EXPECT_EQ(valueOf(table, "Q3"), 3);
    EXPECT_EQ(valueOf(table, "IQR"), 2);
    EXPECT_DOUBLE_EQ(valueOf(table, "Entropy"), 2);
    EXPECT_DOUBLE_EQ(valueOf(table, "Discrepancy"), 0.25);
    EXPECT_EQ(valueOf(table, "GlobalMax"), 4);
    EXPECT_EQ(valueOf(table, "GlobalMin"), 1);
    EXPECT_EQ(valueOf(table, "CurrentMax"), 4);
    EXPECT_EQ(valueOf(table, "CurrentMin"), 1);
    EXPECT_EQ(valueOf(table, "CrossPoints"), 2);
    EXPECT_EQ(valueOf(table, "TourSize"), 4);
    EXPECT_EQ(valueOf(table, "Buffered"), 2);
    EXPECT_EQ(valueOf(table, "CrossUnifProb"), 0.25);
    EXPECT_EQ(valueOf(table, "CrossProb"), 0.6);
    EXPECT_EQ(valueOf(table, "MutProb"), 0.1);

    // The scalars print as their new values, not as the text they had when created (0).
    EXPECT_EQ(printed(table, "Average"), "2.5");
    EXPECT_EQ(printed(table, "Mutations"), "5e+09");
    EXPECT_EQ(printed(table, "Generation"), "1");

    // Element j: the value, im 0, text realToText (so listing shows the new values).
    const Tensor& minIndiv = *table.lookup("GlobalMinIndiv")->definition;
    ASSERT_EQ(minIndiv.dimension, 2);
    EXPECT_EQ(minIndiv.elements[0]->re, 1.23456789);
    EXPECT_EQ(minIndiv.elements[0]->im, 0);
    EXPECT_EQ(minIndiv.elements[0]->text, "1.23457");
    EXPECT_EQ(minIndiv.elements[1]->text, "-7");
    EXPECT_EQ(printed(table, "GlobalMinIndiv"), "{1.23457,-7}");
    EXPECT_EQ(printed(table, "CurrentMinIndiv"), "{1.23457,-7}");
    EXPECT_EQ(printed(table, "GlobalMaxIndiv"), "{12,22}");
    EXPECT_EQ(printed(table, "CurrentMaxIndiv"), "{12,22}");

    // The generation counter published is the one of the generation just evaluated.
    zyl.generation = 41;
    publishStatistics(zyl, table);
    EXPECT_EQ(valueOf(table, "Generation"), 42);
}

TEST_F(StatisticsTest, PublishRecreatesRemovedOrRedefinedSymbols)
{
    ZYL& zyl = make({3, 1}, "ff");
    computeStatistics(zyl);
    SymbolTable table;
    prepareTable(table, 2);

    table.remove(table.lookup("Average"));
    table.lookup("Q1")->definition =
        makeSymbolFromStatement("{1,2}", "", false, table)->definition->clone();
    table.remove(table.lookup("CurrentMaxIndiv"));
    table.lookup("GlobalMinIndiv")->definition = makeNumber(7);
    table.lookup("GlobalMaxIndiv")->definition =
        makeSymbolFromStatement("{1,2,3}", "", false, table)->definition->clone();
    table.lookup("CurrentMinIndiv")->definition =
        makeSymbolFromStatement("{a,b}", "", false, table)->definition->clone();
    publishStatistics(zyl, table);

    EXPECT_EQ(valueOf(table, "Average"), 2);
    EXPECT_EQ(valueOf(table, "Q1"), 1);
    EXPECT_EQ(printed(table, "GlobalMinIndiv"), "{11,21}");
    EXPECT_EQ(printed(table, "GlobalMaxIndiv"), "{10,20}");
    EXPECT_EQ(printed(table, "CurrentMinIndiv"), "{11,21}");
    EXPECT_EQ(printed(table, "CurrentMaxIndiv"), "{10,20}");
    EXPECT_FALSE(table.lookup("CurrentMaxIndiv")->isProtected);
    // A shorter vector too.
    table.lookup("GlobalMinIndiv")->definition =
        makeSymbolFromStatement("{1}", "", false, table)->definition->clone();
    publishStatistics(zyl, table);
    EXPECT_EQ(printed(table, "GlobalMinIndiv"), "{11,21}");
}

TEST_F(StatisticsTest, RowsOfTheStatisticsWindow)
{
    ZYL& zyl = make({3, 1, 4, 2}, "fi");
    // x1 = 10, 11, 12, 13; x2 = 20..23 as integers
    zyl.mutations = 17;
    zyl.crossovers = 3;
    zyl.buffer.append(zyl.population[0]);
    computeStatistics(zyl);

    const std::vector<StatisticsRow> expected = {
        {"Generation", "1", "4 individuals"},
        {"GlobalMax", "4", "= f(12; 22)"},
        {"GlobalMin", "1", "= f(11; 21)"},
        {"CurrentMax", "4", "= f(12; 22)"},
        {"CurrentMin", "1", "= f(11; 21)"},
        {"Average", "2.5", "= f(11.5; 21.5)"},
        {"Q2", "2", "Median"},
        {"Range", "3", "CurrentMax-CurrentMin"},
        {"IQR", "2", "Interquartile range (Q3-Q1)"},
        {"StdDev", "1.11803", ""},
        {"MeanDev", "1", ""},
        {"MedianDev", "1", ""},
        {"Entropy", "2", "(bit), 2^Entropy = 4"},
        {"Discrepancy", "0.25", "function value discrepancy"},
        {"Different", "4", "Number of different function values"},
        {"Mutations", "17", ""},
        {"Crossovers", "3", ""},
        {"", "", ""},
    };
    EXPECT_EQ(statisticsRows(zyl, false), expected);

    std::vector<StatisticsRow> withBuffered = expected;
    withBuffered.insert(withBuffered.begin() + 15, StatisticsRow{"Buffered", "1", ""});
    EXPECT_EQ(statisticsRows(zyl, true), withBuffered);
    EXPECT_EQ(statisticsRows(zyl, true).size(), 19u);

    zyl.generation = 9;
    setValues({5, 5, 5, 5});
    computeStatistics(zyl);
    const auto rows = statisticsRows(zyl, false);
    EXPECT_EQ(rows[0], (StatisticsRow{"Generation", "10", "4 individuals"}));
    EXPECT_EQ(rows[12], (StatisticsRow{"Entropy", "0", "(bit), 2^Entropy = 1"}));
    EXPECT_EQ(rows[14], (StatisticsRow{"Different", "1", "Number of different function values"}));
}
