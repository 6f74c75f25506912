#include "common/Exception.h"
#include "engine/LocalModels.h"
#include "engine/Method.h"
#include "engine/Zyl.h"
#include "support/EngineHelpers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>
#include <set>

using namespace zyl;
using namespace zyl::test;

namespace {

using Objective = std::function<double(const std::vector<double>&)>;

/// Evaluates the members a run would hand to the objective, and returns their designs.
std::vector<std::vector<double>> evaluateNew(ZYL& zyl, const Objective& f)
{
    std::vector<std::vector<double>> designs;
    for (Indiv& ind : zyl.population) {
        if (ind.evaluated)
            continue;
        designs.push_back(values(ind));
        ind.value = f(designs.back());
        ind.evaluated = true;
    }
    return designs;
}

} // namespace

TEST(TrustRegion, NeverHandsADesignForEvaluationTwice)
{
    // Reals with a whole number and a Boolean, whose rounding makes repeats easy; then a box
    // of 25 designs in all, which a population of 6 exhausts, after which the generations
    // are made of known designs with their values.
    struct Case {
        const char* kinds;
        int generations;
        std::size_t most;
    };
    for (const Case& c : {Case{"fifb", 150, 900}, Case{"ii", 12, 25}}) {
        SCOPED_TRACE(c.kinds);
        LcgRng rng(7);
        auto zyl = makeZyl(6, c.kinds, rng);
        if (c.most == 25)
            for (VariableRange& range : zyl->ranges)
                range.intHi = 4;
        for (Indiv& ind : zyl->population)
            for (int j = 0; j < ind.count(); ++j)
                ind.gene(j)->randomInit(zyl->ranges[static_cast<std::size_t>(j)], rng);
        zyl->methodSettings.method = Method::Trust;
        const Objective f = [](const std::vector<double>& x) {
            double sum = 0;
            for (std::size_t j = 0; j < x.size(); ++j)
                sum += (x[j] - 2.4) * (x[j] - 2.4) * static_cast<double>(j + 1);
            return sum;
        };
        std::set<std::vector<double>> seen;
        for (int g = 0; g < c.generations; ++g) {
            for (const auto& design : evaluateNew(*zyl, f))
                EXPECT_TRUE(seen.insert(design).second) << "generation " << g;
            ASSERT_TRUE(zyl->nextGeneration());
            for (const Indiv& ind : zyl->population)
                if (ind.evaluated) {
                    EXPECT_TRUE(seen.count(values(ind)));
                    EXPECT_EQ(ind.value, f(values(ind)));
                }
        }
        EXPECT_LE(seen.size(), c.most);
        if (c.most == 25) {
            EXPECT_EQ(seen.size(), 25u);
        }
    }
}

TEST(TrustRegion, LandsOnTheVertexOfAThinFeasibleCrescent)
{
    // g06: a cubic over the sliver between two circles, published optimum -6961.81388 at
    // (14.095, 0.84296), where both circles meet.
    LcgRng rng(3);
    auto zyl = makeZyl(2, "ff", rng);
    zyl->ranges[0].realLo = 13;
    zyl->ranges[0].realHi = 100;
    zyl->ranges[1].realLo = 0;
    zyl->ranges[1].realHi = 100;
    for (Indiv& ind : zyl->population)
        for (int j = 0; j < 2; ++j)
            ind.gene(j)->randomInit(zyl->ranges[static_cast<std::size_t>(j)], rng);
    zyl->setConstraints({"outside", "inside"}, 0);
    zyl->methodSettings.method = Method::Trust;
    Indiv best = zyl->templateIndiv;
    best.violation = INFINITY;
    for (int g = 0; g < 120; ++g) {
        for (Indiv& ind : zyl->population) {
            if (ind.evaluated)
                continue;
            const double x = ind.gene(0)->getValue(), y = ind.gene(1)->getValue();
            ind.value = std::pow(x - 10, 3) + std::pow(y - 20, 3);
            const double c[2] = {100 - (x - 5) * (x - 5) - (y - 5) * (y - 5),
                                 (x - 6) * (x - 6) + (y - 5) * (y - 5) - 82.81};
            zyl->setConstraintValues(ind, c);
            ind.evaluated = true;
            if (zyl->better(ind, best))
                best = ind;
        }
        ASSERT_TRUE(zyl->nextGeneration());
    }
    EXPECT_EQ(best.violation, 0);
    EXPECT_NEAR(best.value, -6961.81388, 1e-3);
}

TEST(TrustRegion, RefinesAnotherMethodsBestOverTheLastShareOfTheRun)
{
    LcgRng rng(9);
    auto zyl = makeZyl(10, "ff", rng);
    zyl->methodSettings.method = Method::Cmaes;
    zyl->methodSettings.trust.after = 0.5;
    zyl->maxIteration = 30;
    const Objective f = [](const std::vector<double>& x) {
        return (x[0] - 3) * (x[0] - 3) + 10 * (x[1] - 7) * (x[1] - 7);
    };
    for (int g = 0; g < 30; ++g) {
        for (Indiv& ind : zyl->population) {
            ind.value = f(values(ind));
            ind.evaluated = true;
            if (zyl->better(ind, zyl->globalMin))
                zyl->globalMin = ind;
        }
        ASSERT_TRUE(zyl->nextGeneration());
        zyl->generation++;
        // The generation just bred is the run's (g + 2)th: the first 15 are the CMA-ES's.
        const MethodState state = zyl->methodState();
        ASSERT_GE(state.counts.size(), 2u);
        ASSERT_EQ(state.counts[1], g + 2 > 15 ? 1 : 0) << "generation " << g + 2;
        if (g + 2 == 16) {
            // It starts from the best design so far.
            EXPECT_EQ(values(state.individuals.at(0)), values(zyl->globalMin));
        }
    }
    EXPECT_LT(zyl->globalMin.value, 1e-10);
    // Without the refinement the method is the plain CMA-ES again, as new.
    zyl->methodSettings.trust.after = 0;
    EXPECT_TRUE(zyl->methodState().empty());
}

TEST(TrustRegion, AStateWithADesignThatIsNotANumberIsRefused)
{
    // A store is a file anyone can write: such a design would poison every model after it.
    LcgRng rng(4);
    auto zyl = makeZyl(4, "ff", rng);
    zyl->methodSettings.method = Method::Trust;
    for (int g = 0; g < 3; ++g) {
        evaluateNew(*zyl, [](const std::vector<double>& x) { return x[0] + x[1]; });
        ASSERT_TRUE(zyl->nextGeneration());
    }
    MethodState state = zyl->methodState();
    EXPECT_NO_THROW(zyl->restoreMethod(state));
    state.individuals.back().gene(1)->setValue(std::nan(""));
    EXPECT_THROW(zyl->restoreMethod(state), Exception);
    EXPECT_TRUE(zyl->methodState().empty());
}

TEST(LocalModels, AFitRecoversAQuadraticAndKeepsTheCurvatureItIsGiven)
{
    const int n = 3;
    const std::vector<double> h = {4, 1, 0, 1, 2, -1, 0, -1, 6};
    const std::vector<double> g = {1, -2, 0.5};
    auto truth = [&](const double* s) {
        detail::Quadratic q{0.25, g, h};
        return q.at(s);
    };
    std::mt19937 draw(5);
    std::uniform_real_distribution<double> uniform(-0.1, 0.1);
    auto fit = [&](int count, bool reference) {
        std::vector<double> points(static_cast<std::size_t>(count * n)), values, weights;
        for (int i = 0; i < count; ++i) {
            for (int j = 0; j < n && i > 0; ++j)
                points[static_cast<std::size_t>(i * n + j)] = uniform(draw);
            values.push_back(truth(&points[static_cast<std::size_t>(i * n)]));
            weights.push_back(1.0 / (1 + i));
        }
        const detail::QuadraticFit f(n, true, points, weights);
        return std::make_pair(f.fit(values, reference ? h : std::vector<double>()),
                              std::make_pair(points, values));
    };
    // Twenty points for ten coefficients; then five, with the curvature known; then five
    // without it, which still pass through every point.
    for (auto [count, reference] : {std::pair{20, false}, std::pair{5, true}}) {
        const detail::Quadratic q = fit(count, reference).first;
        EXPECT_NEAR(q.c, 0.25, 1e-9) << count;
        for (int j = 0; j < n; ++j)
            EXPECT_NEAR(q.g[static_cast<std::size_t>(j)], g[static_cast<std::size_t>(j)], 1e-6);
        for (std::size_t k = 0; k < h.size(); ++k)
            EXPECT_NEAR(q.h[k], h[k], 1e-4) << count << " entry " << k;
    }
    const auto [q, data] = fit(5, false);
    for (int i = 0; i < 5; ++i)
        EXPECT_NEAR(q.at(&data.first[static_cast<std::size_t>(i * n)]), data.second[i], 1e-12);
}

TEST(LocalModels, TheStepMeetsItsBoundsAndComesClosestToRowsItCannotMeet)
{
    detail::StepProblem p;
    p.n = 2;
    p.G = {2, 0, 0, 2};
    p.g = {-4, -4}; // the minimum (2, 2), beyond the box and the row
    p.lower = {-1, -1};
    p.upper = {1, 1};
    const double r = 1 / std::sqrt(2.0);
    p.rows = {r, r};
    p.limits = {r}; // s1 + s2 <= 1
    auto s = detail::solveStep(p);
    EXPECT_NEAR(s[0], 0.5, 1e-12);
    EXPECT_NEAR(s[1], 0.5, 1e-12);

    // A fixed variable stays; the other takes the rest of the row.
    p.lower[0] = p.upper[0] = 0.25;
    s = detail::solveStep(p);
    EXPECT_EQ(s[0], 0.25);
    EXPECT_NEAR(s[1], 0.75, 1e-12);

    // s1 >= 2 cannot hold within the box: the step goes as far towards it as it can.
    p.lower = {-1, -1};
    p.upper = {1, 1};
    p.rows = {-1, 0};
    p.limits = {-2};
    s = detail::solveStep(p);
    EXPECT_NEAR(s[0], 1, 1e-12);
    EXPECT_NEAR(s[1], 1, 1e-12);

    // A model that bends down is lifted just enough to have one minimum; one that bends up
    // stays as it is.
    const std::vector<double> saddle = {1, 0, 0, -2};
    const auto lifted = detail::convexified(saddle, 2, 1e-6);
    EXPECT_GT(lifted[3], 0);
    EXPECT_LT(lifted[3], 2.1);
    EXPECT_DOUBLE_EQ(lifted[0] - saddle[0], lifted[3] - saddle[3]);
    EXPECT_EQ(detail::convexified(p.G, 2, 1e-6), p.G);
}
