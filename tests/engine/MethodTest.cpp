#include "engine/Method.h"

#include "common/Exception.h"
#include "engine/RadixSort.h"
#include "engine/Zyl.h"
#include "support/EngineHelpers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <functional>
#include <limits>
#include <random>

using namespace zyl;
using namespace zyl::test;

namespace {

using Objective = std::function<double(const std::vector<double>&)>;

/// Gives every member its value, as a run does before it breeds.
void evaluate(ZYL& zyl, const Objective& f)
{
    for (Indiv& ind : zyl.population) {
        ind.value = f(values(ind));
        ind.evaluated = true;
    }
}

/// Evaluates and breeds `generations` times; returns the best value seen.
double run(ZYL& zyl, const Objective& f, int generations)
{
    double best = zyl.maximise ? -INFINITY : INFINITY;
    for (int g = 0; g < generations; ++g) {
        evaluate(zyl, f);
        for (const Indiv& ind : zyl.population)
            best = zyl.maximise ? std::max(best, ind.value) : std::min(best, ind.value);
        EXPECT_TRUE(zyl.nextGeneration());
        zyl.generation++;
    }
    return best;
}

double rastrigin(const std::vector<double>& x)
{
    double sum = 10.0 * static_cast<double>(x.size());
    for (double v : x)
        sum += (v - 5) * (v - 5) - 10 * std::cos(2 * M_PI * (v - 5));
    return sum;
}

std::vector<std::vector<double>> populationValues(const ZYL& zyl)
{
    std::vector<std::vector<double>> all;
    for (const Indiv& ind : zyl.population) {
        all.push_back(values(ind));
        all.back().push_back(ind.evaluated);
    }
    return all;
}

class Methods : public ::testing::TestWithParam<Method> {};

} // namespace

TEST(MethodOrder, NotANumberRanksLastAndMaximisationTurnsTheOrder)
{
    LcgRng rng(1);
    auto zyl = makeZyl(2, "f", rng);
    Indiv a = zyl->templateIndiv, b = a, nan = a;
    a.value = 1;
    b.value = 2;
    nan.value = std::numeric_limits<double>::quiet_NaN();
    EXPECT_TRUE(zyl->better(a, b));
    EXPECT_FALSE(zyl->better(b, a));
    EXPECT_FALSE(zyl->better(a, a));
    EXPECT_TRUE(zyl->better(b, nan));
    EXPECT_FALSE(zyl->better(nan, b));
    EXPECT_FALSE(zyl->better(nan, nan));
    zyl->maximise = true;
    EXPECT_TRUE(zyl->better(b, a));
    EXPECT_TRUE(zyl->better(a, nan));
}

// Ranking takes a short way when every design is feasible and every value a number: both
// ways must give the order's answer, ties in position order.
TEST(MethodOrder, RankingAgreesWithTheOrderOnTiesSignsAndViolations)
{
    LcgRng rng(1);
    auto zyl = makeZyl(2, "f", rng);
    const double inf = std::numeric_limits<double>::infinity();
    const std::vector<double> values{2, -0.0, 0.0, 1, 2, -inf, inf, 1, -3};
    for (int variant = 0; variant < 6; ++variant) {
        zyl->maximise = variant % 2 == 1;
        std::vector<Indiv> designs(values.size(), zyl->templateIndiv);
        for (std::size_t i = 0; i < values.size(); ++i)
            designs[i].value = values[i];
        if (variant >= 2)
            designs[3].value = std::numeric_limits<double>::quiet_NaN();
        if (variant >= 4)
            designs[0].violation = designs[5].violation = 0.5;
        std::vector<const Indiv*> expected;
        for (const Indiv& d : designs)
            expected.push_back(&d);
        std::stable_sort(expected.begin(), expected.end(),
                         [&](const Indiv* a, const Indiv* b) { return zyl->better(*a, *b); });
        std::vector<const Indiv*> ranked;
        detail::rankOrder(*zyl, designs.data(), designs.size(), ranked);
        EXPECT_EQ(ranked, expected) << "variant " << variant;
    }
}

// The strips, the corners beside them and the tail beyond the base are three ways to a draw:
// a wrong table or edge shows as a bin far off its share.
TEST(RadixSort, OrdersLikeTheNumbersAndKeepsTiesInPlace)
{
    // The covariance method relies on the stability: equal values stay in sample order.
    const std::vector<double> ascending = {-INFINITY, -1e308, -2.5, -1.0, -4.9e-324, -0.0,
                                           0.0,       4.9e-324, 1e-300, 1.0, 3.0,  1e308,
                                           INFINITY};
    for (std::size_t i = 0; i < ascending.size(); ++i) {
        EXPECT_EQ(std::bit_cast<std::uint64_t>(detail::fromOrderedBits(
                      detail::orderedBits(ascending[i]))),
                  std::bit_cast<std::uint64_t>(ascending[i]));
        if (i > 0) {
            EXPECT_LT(detail::orderedBits(ascending[i - 1]), detail::orderedBits(ascending[i]))
                << ascending[i - 1] << " before " << ascending[i];
        }
    }
    std::mt19937_64 gen(5);
    for (const std::size_t n : {1u, 2u, 300u, 5000u}) {
        std::vector<std::pair<std::uint64_t, std::size_t>> items, spare;
        for (std::size_t i = 0; i < n; ++i)
            // Few distinct keys (ties) in some digits, every bit random in others.
            items.push_back({i % 3 == 0 ? gen() % 7 : gen(), i});
        auto expected = items;
        std::stable_sort(expected.begin(), expected.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        detail::radixSort(items, spare, [](const auto& item) { return item.first; });
        EXPECT_EQ(items, expected) << n << " items";
    }
}

TEST(NormalSource, DrawsTheStandardNormalDistribution)
{
    LcgRng rng(7);
    detail::NormalSource normal(rng);
    const std::vector<double> edges{-1e300, -4, -3.44, -3, -2, -1, -0.5, 0, 0.25,
                                    0.5,    1,  2,     3,  3.44, 4, 1e300};
    std::vector<int> counts(edges.size() - 1, 0);
    const int draws = 2'000'000;
    double sum = 0, squares = 0;
    for (int i = 0; i < draws; ++i) {
        const double x = normal.next();
        sum += x;
        squares += x * x;
        const auto bin = std::upper_bound(edges.begin(), edges.end(), x) - edges.begin() - 1;
        ++counts[static_cast<std::size_t>(bin)];
    }
    const auto phi = [](double x) { return 0.5 * std::erfc(-x / std::sqrt(2.0)); };
    for (std::size_t b = 0; b < counts.size(); ++b) {
        const double p = phi(edges[b + 1]) - phi(edges[b]);
        const double expected = p * draws, spread = std::sqrt(expected * (1 - p));
        EXPECT_NEAR(counts[b], expected, 5 * spread + 1) << "between " << edges[b] << " and "
                                                         << edges[b + 1];
    }
    EXPECT_NEAR(sum / draws, 0, 5 / std::sqrt(double(draws)));
    EXPECT_NEAR(squares / draws, 1, 5 * std::sqrt(2.0 / draws));
}

TEST_P(Methods, StayWithinTheRangesAndKeepWholeNumbersWhole)
{
    LcgRng rng(3);
    auto zyl = makeZyl(20, "fibf", rng);
    // A reversed integer range counts upward from its lower bound, as the genetic algorithm's
    // own operators read it: 5 and 6 here.
    zyl->ranges[1].intLo = 5;
    zyl->ranges[1].intHi = 2;
    zyl->methodSettings.method = GetParam();
    // The minimum lies outside the box, so the search presses against the bounds.
    const Objective f = [](const std::vector<double>& x) {
        return (x[0] - 12) * (x[0] - 12) + x[1] + x[2] + (x[3] + 3) * (x[3] + 3);
    };
    double best = INFINITY;
    for (int g = 0; g < 150; ++g) {
        evaluate(*zyl, f);
        for (const Indiv& ind : zyl->population)
            best = std::min(best, ind.value);
        ASSERT_TRUE(zyl->nextGeneration());
        for (const Indiv& ind : zyl->population) {
            const auto v = values(ind);
            EXPECT_FALSE(ind.evaluated);
            for (int j : {0, 3}) {
                EXPECT_GE(v[j], 0);
                EXPECT_LE(v[j], 10);
            }
            EXPECT_TRUE(v[1] == 5 || v[1] == 6) << v[1];
            EXPECT_TRUE(v[2] == 0 || v[2] == 1) << v[2];
        }
    }
    // The corner (10, 5, 0, 0): 4 + 5 + 0 + 9.
    EXPECT_LT(best, 18 + 1e-3);
}

TEST_P(Methods, FindTheOptimumOfANarrowSlantingValleyEitherWay)
{
    for (bool maximise : {false, true}) {
        SCOPED_TRACE(maximise ? "maximising" : "minimising");
        LcgRng rng(5);
        auto zyl = makeZyl(20, "ffff", rng);
        zyl->methodSettings.method = GetParam();
        zyl->maximise = maximise;
        // The minimum 0 at (5, 5, 5, 5), at the bottom of a valley a hundred times narrower
        // than it is long and slanting across the axes.
        const double best = run(*zyl, [&](const std::vector<double>& x) {
            const double along = x[0] + x[1] - 10, across = x[0] - x[1];
            const double f = along * along + 1e4 * across * across + (x[2] - 5) * (x[2] - 5) +
                             (x[3] - 5) * (x[3] - 5);
            return maximise ? -f : f;
        }, 300);
        EXPECT_LT(std::abs(best), 1e-6);
    }
}

TEST_P(Methods, ASavedStateContinuesBitForBit)
{
    // Integers make a converged search flat, so restarts come early; four individuals for four
    // variables make an iteration of the covariance method span several generations.
    const Objective f = [](const std::vector<double>& x) {
        double sum = 0;
        for (double v : x)
            sum += (v - 4) * (v - 4);
        return sum;
    };
    LcgRng rng(11);
    auto zyl = makeZyl(4, "iiib", rng);
    zyl->methodSettings.method = GetParam();
    zyl->methodSettings.cmaes.growth = 3;
    run(*zyl, f, 120);
    const MethodState state = zyl->methodState();
    ASSERT_FALSE(state.empty());
    if (GetParam() == Method::Cmaes) {
        EXPECT_GT(state.counts.at(4), 0) << "no restart yet";
        EXPECT_GT(state.counts.at(3), 2) << "no growth";
    }

    LcgRng other(11);
    auto copy = makeZyl(4, "iiib", other);
    copy->methodSettings = zyl->methodSettings;
    other.setState(rng.state());
    for (std::size_t i = 0; i < zyl->population.size(); ++i)
        copy->population[i] = zyl->population[i];
    copy->generation = zyl->generation;
    copy->restoreMethod(state);
    for (int g = 0; g < 150; ++g) {
        evaluate(*zyl, f);
        evaluate(*copy, f);
        ASSERT_TRUE(zyl->nextGeneration());
        ASSERT_TRUE(copy->nextGeneration());
        ASSERT_EQ(populationValues(*zyl), populationValues(*copy)) << "generation " << g;
    }
}

TEST_P(Methods, StatesThatDoNotFitAreRefused)
{
    LcgRng rng(2);
    // Midway through an iteration of two generations, the covariance method keeps samples.
    auto zyl = makeZyl(4, "fif", rng);
    zyl->methodSettings.method = GetParam();
    EXPECT_TRUE(zyl->methodState().empty());
    run(*zyl, rastrigin, 4);
    const MethodState good = zyl->methodState();
    ASSERT_FALSE(good.individuals.empty());
    std::vector<std::function<void(MethodState&)>> damages = {
        [](MethodState& s) { s.counts.at(1) += 1; },
        [](MethodState& s) { s.counts.pop_back(); },
        [](MethodState& s) { s.reals.push_back(0.5); },
        [](MethodState& s) { s.reals.at(0) = std::numeric_limits<double>::quiet_NaN(); },
        [](MethodState& s) { s.individuals.pop_back(); },
        [](MethodState& s) { s.individuals.at(0) = Indiv(); },
    };
    // An iteration longer than the restarts ever make it would hold too many samples.
    if (GetParam() == Method::Cmaes)
        damages.push_back([](MethodState& s) { s.counts.at(3) = std::int64_t(1) << 17; });
    for (std::size_t d = 0; d < damages.size(); ++d) {
        MethodState bad = good;
        damages[d](bad);
        EXPECT_THROW(zyl->restoreMethod(bad), Exception) << "damage " << d;
        // The method is then as new and starts from the population at hand.
        EXPECT_TRUE(zyl->methodState().empty());
    }
    LcgRng smaller(2);
    auto fewer = makeZyl(6, "fif", smaller);
    fewer->methodSettings.method = GetParam();
    EXPECT_THROW(fewer->restoreMethod(good), Exception);
    zyl->methodSettings.method = Method::Ga;
    EXPECT_THROW(zyl->restoreMethod(good), Exception);
    EXPECT_NO_THROW(zyl->restoreMethod(MethodState{}));
}

TEST_P(Methods, TakeOverFromAnotherMethodAtAnyGeneration)
{
    LcgRng rng(8);
    auto zyl = makeZyl(20, "fff", rng);
    run(*zyl, rastrigin, 10);
    zyl->methodSettings.method = GetParam();
    EXPECT_TRUE(zyl->methodState().empty());
    run(*zyl, rastrigin, 10);
    EXPECT_FALSE(zyl->methodState().empty());
    zyl->methodSettings.method = Method::Ga;
    EXPECT_TRUE(zyl->methodState().empty());
    run(*zyl, rastrigin, 3);
}

TEST(Cmaes, TheAutomaticMeanRateHalvesStepsOnlyWhereSelectedSamplesOutnumberTheVariables)
{
    // Twenty samples select ten, about six in effect: half steps for two variables, whole
    // ones for eight.
    auto generations = [](const char* kinds, double rate) {
        LcgRng rng(4);
        auto zyl = makeZyl(20, kinds, rng);
        zyl->methodSettings.method = Method::Cmaes;
        zyl->methodSettings.cmaes.meanRate = rate;
        std::vector<std::vector<std::vector<double>>> all;
        for (int g = 0; g < 12; ++g) {
            evaluate(*zyl, rastrigin);
            EXPECT_TRUE(zyl->nextGeneration());
            zyl->generation++;
            all.push_back(populationValues(*zyl));
        }
        return all;
    };
    EXPECT_EQ(generations("ff", 0), generations("ff", 0.5));
    EXPECT_NE(generations("ff", 0), generations("ff", 1));
    EXPECT_EQ(generations("ffffffff", 0), generations("ffffffff", 1));

    // Whole numbers converge and restart early; the grown iterations after a restart take
    // whole steps, so the automatic rate parts from a chosen half there and only there.
    const Objective f = [](const std::vector<double>& x) {
        return (x[0] - 4) * (x[0] - 4) + (x[1] - 6) * (x[1] - 6);
    };
    LcgRng a(6), b(6);
    auto automatic = makeZyl(20, "ii", a), half = makeZyl(20, "ii", b);
    automatic->methodSettings.method = half->methodSettings.method = Method::Cmaes;
    half->methodSettings.cmaes.meanRate = 0.5;
    int restartedAt = -1;
    bool parted = false;
    for (int g = 0; g < 150 && !parted; ++g) {
        evaluate(*automatic, f);
        evaluate(*half, f);
        ASSERT_TRUE(automatic->nextGeneration());
        ASSERT_TRUE(half->nextGeneration());
        const MethodState state = automatic->methodState();
        if (restartedAt < 0 && !state.empty() && state.counts.at(4) > 0)
            restartedAt = g;
        if (restartedAt < 0) {
            ASSERT_EQ(state.reals, half->methodState().reals) << g;
        }
        parted = state.reals != half->methodState().reals;
    }
    // Without a real variable, a search ends when its values go flat, not at once.
    EXPECT_GT(restartedAt, 5) << "no restart, or one after the first iteration";
    EXPECT_TRUE(parted);
}

INSTANTIATE_TEST_SUITE_P(, Methods, ::testing::Values(Method::Cmaes, Method::De, Method::Trust),
                         [](const auto& info) { return std::string(methodName(info.param)); });
