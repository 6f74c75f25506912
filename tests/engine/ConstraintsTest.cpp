#include "engine/Statistics.h"
#include "engine/UserPlots.h"
#include "engine/Zyl.h"
#include "expr/Evaluator.h"
#include "expr/Statement.h"
#include "support/EngineHelpers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

using namespace zyl;
using namespace zyl::test;

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
const double kNaN = std::numeric_limits<double>::quiet_NaN();

/// A constrained engine with one constraint "g" and tolerance 0.5; individual i has the
/// objective values[i] and the constraint value g[i].
class Constrained : public ::testing::Test {
protected:
    ZYL& make(const std::vector<double>& values, const std::vector<double>& g)
    {
        zyl = makeZyl(static_cast<int>(values.size()), "f", rng);
        zyl->setConstraints({"g"}, 0.5);
        for (std::size_t i = 0; i < values.size(); ++i) {
            zyl->population[i].value = values[i];
            zyl->population[i].gene(0)->setValue(static_cast<double>(i));
            zyl->setConstraintValues(zyl->population[i], &g[i]);
        }
        return *zyl;
    }

    LcgRng rng{3};
    std::unique_ptr<ZYL> zyl;
};

} // namespace

TEST_F(Constrained, TheOrderPutsFeasibleFirstThenTheSmallerViolation)
{
    // Values: the infeasible designs have the better objective, so only the order can tell.
    ZYL& z = make({5, 9, -100, -200, -300, 7}, {0.5, -3, 2.5, 1.5, 2.5, kNaN});
    const auto& p = z.population;
    EXPECT_EQ(p[0].violation, 0);   // up to the tolerance counts as met
    EXPECT_EQ(p[3].violation, 1.0); // measured from the tolerance
    EXPECT_EQ(p[5].violation, kInf);
    EXPECT_TRUE(z.better(p[0], p[1]));  // both feasible: by value
    EXPECT_TRUE(z.better(p[1], p[3]));  // feasible beats infeasible
    EXPECT_FALSE(z.better(p[3], p[1]));
    EXPECT_TRUE(z.better(p[3], p[2]));  // infeasible: the smaller violation
    EXPECT_FALSE(z.better(p[4], p[2])); // equal violations tie, whatever the value
    EXPECT_FALSE(z.better(p[2], p[4]));
    EXPECT_TRUE(z.better(p[2], p[5]));  // an unknown constraint ranks last
    z.maximise = true;
    EXPECT_TRUE(z.better(p[1], p[0]));
    EXPECT_TRUE(z.better(p[0], p[2]));
}

TEST_F(Constrained, ATournamentOfEqualViolationsKeepsTheFirstContestant)
{
    ZYL& z = make({3, 1, 2, 0}, {4, 4, 4, 4});
    z.tourSize = 50;
    LcgRng probe{11};
    z.setRng(probe);
    const int first = LcgRng{11}.randomIndex(4);
    EXPECT_EQ(z.tournamentSelect(), first);
}

TEST_F(Constrained, WithEveryDesignInfinitelyInfeasibleTheBestIsStillADesign)
{
    ZYL& z = make({4, 3, 7}, {kNaN, kNaN, kNaN});
    for (Indiv& ind : z.population)
        ind.evaluated = true;
    computeStatistics(z);
    // Not the starting value, which no design had: the first of the equally bad designs.
    EXPECT_EQ(z.globalMin.value, 4);
    EXPECT_EQ(z.globalMin.gene(0)->getValue(), 0);
    EXPECT_TRUE(std::isinf(z.globalMin.violation));
    EXPECT_EQ(z.globalMax.value, 7);
}

TEST_F(Constrained, StatisticsNameTheBestFeasibleDesign)
{
    ZYL& z = make({4, -50, 2, 3, 8}, {0, 9, -1, 3, 0.25});
    computeStatistics(z);
    EXPECT_EQ(z.currentMin.value, 2); // -50 is infeasible
    EXPECT_EQ(z.globalMin.value, 2);
    EXPECT_EQ(z.currentMax.value, 8); // the plain largest value
    EXPECT_EQ(z.range, 58);           // of the values, not of the extremes above
    EXPECT_EQ(z.feasible, 3);
    EXPECT_EQ(z.minViolation, 0);

    // A later generation without a feasible design leaves the feasible best in place; a worse
    // feasible one does not replace it either.
    for (std::size_t i = 0; i < 5; ++i) {
        double g = i == 4 ? -1 : 1 + static_cast<double>(i);
        z.population[i].value = -1000;
        if (i == 4)
            z.population[i].value = 5;
        z.setConstraintValues(z.population[i], &g);
    }
    computeStatistics(z);
    EXPECT_EQ(z.currentMin.value, 5);
    EXPECT_EQ(z.globalMin.value, 2);
    EXPECT_EQ(z.feasible, 1);

    SymbolTable table;
    table.registerBuiltinSymbols();
    publishStatistics(z, table);
    EXPECT_EQ(evaluateExpressionText("g", table).re, -1);       // at the best design
    EXPECT_EQ(evaluateExpressionText("Feasible", table).re, 1);
    EXPECT_EQ(evaluateExpressionText("BestViolation", table).re, 0);
    const auto rows = statisticsRows(z, false);
    const auto feasibleRow = std::find_if(rows.begin(), rows.end(),
                                          [](const StatisticsRow& r) { return r.what == "Feasible"; });
    ASSERT_NE(feasibleRow, rows.end());
    EXPECT_EQ(feasibleRow->value, "1");
}

TEST_F(Constrained, AnInfeasibleFirstGenerationStillHasABest)
{
    ZYL& z = make({1, 2, 3}, {7, 2, kNaN});
    computeStatistics(z);
    EXPECT_EQ(z.globalMin.value, 2);
    EXPECT_EQ(z.globalMin.violation, 1.5);
    EXPECT_EQ(z.feasible, 0);
    EXPECT_EQ(z.minViolation, 1.5);
}
