#include "engine/Dominance.h"

#include <gtest/gtest.h>

#include <random>

using namespace zyl;

namespace {

int dominance(std::vector<double> a, double va, std::vector<double> b, double vb)
{
    return constrainedDominance(a.data(), va, b.data(), vb, static_cast<int>(a.size()));
}

/// The fronts by peeling: each time, the designs that none of those left dominates.
std::vector<int> peeledFronts(const Evaluations& e)
{
    const std::size_t n = e.count();
    std::vector<int> front(n, -1);
    for (int f = 0;; ++f) {
        std::vector<std::size_t> peel;
        for (std::size_t i = 0; i < n; ++i) {
            if (front[i] >= 0)
                continue;
            bool dominated = false;
            for (std::size_t j = 0; j < n && !dominated; ++j)
                dominated =
                    front[j] < 0 && constrainedDominance(e.row(j), e.violations[j], e.row(i),
                                                         e.violations[i], e.objectives) < 0;
            if (!dominated)
                peel.push_back(i);
        }
        if (peel.empty())
            return front;
        for (std::size_t i : peel)
            front[i] = f;
    }
}

} // namespace

TEST(Dominance, ConstrainedDominationAndItsTies)
{
    EXPECT_EQ(dominance({1, 1}, 0, {2, 2}, 0), -1);
    EXPECT_EQ(dominance({2, 2}, 0, {1, 2}, 0), 1);
    EXPECT_EQ(dominance({1, 2}, 0, {2, 1}, 0), 0);
    EXPECT_EQ(dominance({1, 2}, 0, {1, 2}, 0), 0);
    // Feasible before infeasible, whatever the objectives.
    EXPECT_EQ(dominance({5, 5}, 0, {0, 0}, 1), -1);
    EXPECT_EQ(dominance({0, 0}, 1e-9, {5, 5}, -0.0), 1);
    // Infeasible ones by violation; equal violations by the objectives.
    EXPECT_EQ(dominance({9, 9}, 1, {0, 0}, 2), -1);
    EXPECT_EQ(dominance({1, 1}, 2, {2, 2}, 2), -1);
    EXPECT_EQ(dominance({1, 2}, 2, {2, 1}, 2), 0);
    EXPECT_EQ(dominance({1, 2}, 2, {1, 2}, 2), 0);
    // Not a number is +inf, for a value and for a violation.
    EXPECT_EQ(dominance({NAN, 1}, 0, {5, 1}, 0), 1);
    EXPECT_EQ(dominance({NAN, 1}, 0, {NAN, 1}, 0), 0);
    EXPECT_EQ(dominance({0, 0}, NAN, {9, 9}, 1e300), 1);
    EXPECT_EQ(dominance({0, 0}, NAN, {9, 9}, INFINITY), -1);
}

TEST(Dominance, SortedFrontsAgreeWithPeeling)
{
    std::mt19937 gen(3);
    std::uniform_int_distribution<int> value(0, 5), violation(0, 3);
    for (int m = 1; m <= 4; ++m)
        for (int round = 0; round < 25; ++round) {
            const std::size_t n = 1 + static_cast<std::size_t>(round * 7 % 60);
            std::vector<double> values(n * static_cast<std::size_t>(m)), violations(n);
            for (double& v : values)
                v = value(gen);
            // A third infeasible, with violations that tie; now and then a value not a number.
            for (double& v : violations)
                v = round % 3 == 0 ? 0.0 : std::max(0, violation(gen) - 1) * 0.5;
            if (round % 5 == 4)
                values[0] = NAN;
            const Evaluations e{values, violations, m};
            std::vector<int> front;
            const int fronts = sortFronts(e, front);
            const std::vector<int> peeled = peeledFronts(e);
            EXPECT_EQ(front, peeled) << m << " objectives, round " << round;
            EXPECT_EQ(fronts, *std::max_element(peeled.begin(), peeled.end()) + 1);
        }
}

TEST(Dominance, CrowdingDistance)
{
    const std::vector<double> values{0, 4, 1, 2, 2, 1, 4, 0, 9, 9};
    const std::vector<double> violations(5, 0.0);
    const Evaluations e{values, violations, 2};
    std::vector<double> distance(5, -1.0);
    crowdingDistances(e, std::vector<int>{0, 1, 2, 3}, distance);
    EXPECT_EQ(distance[0], INFINITY);
    EXPECT_DOUBLE_EQ(distance[1], 2.0 / 4 + 3.0 / 4);
    EXPECT_DOUBLE_EQ(distance[2], 3.0 / 4 + 2.0 / 4);
    EXPECT_EQ(distance[3], INFINITY);
    EXPECT_EQ(distance[4], -1.0);

    // An objective with no range separates nobody; a lone member is an extreme.
    const std::vector<double> flat{0, 1, 1, 1, 2, 1};
    crowdingDistances({flat, std::vector<double>(3, 0.0), 2}, std::vector<int>{0, 1, 2}, distance);
    EXPECT_EQ(distance, (std::vector<double>{INFINITY, 1.0, INFINITY}));
    crowdingDistances(e, std::vector<int>{4}, distance);
    EXPECT_EQ(distance[4], INFINITY);
}
