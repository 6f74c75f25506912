#include "engine/ParetoArchive.h"

#include "engine/Dominance.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

using namespace zyl;

TEST(ParetoArchive, KeepsTheFirstOfEveryDesignNoOtherOfferedDominates)
{
    std::mt19937 gen(9);
    std::uniform_int_distribution<int> value(0, 9), violation(1, 3);
    for (int m = 2; m <= 3; ++m)
        for (int round = 0; round < 10; ++round) {
            const auto mu = static_cast<std::size_t>(m);
            ParetoArchive archive(m, 1);
            std::vector<double> values, violations;
            // Infeasible designs first, then a mix: the archive must move from the smallest
            // violation to the feasible front.
            for (int i = 0; i < 300; ++i) {
                for (int k = 0; k < m; ++k)
                    values.push_back(value(gen));
                violations.push_back(i < 40 || i % 2 ? violation(gen) * 0.5 : 0.0);
                const double payload = i;
                archive.offer(&values[static_cast<std::size_t>(i) * mu], violations.back(),
                              &payload);
            }
            std::vector<std::vector<double>> expected, actual;
            for (std::size_t i = 0; i < violations.size(); ++i) {
                bool out = false;
                for (std::size_t j = 0; j < violations.size() && !out; ++j) {
                    const int d = constrainedDominance(&values[j * mu], violations[j],
                                                       &values[i * mu], violations[i], m);
                    out = d < 0 ||
                          (j < i && d == 0 && violations[j] == violations[i] &&
                           std::equal(&values[j * mu], &values[j * mu] + mu, &values[i * mu]));
                }
                if (!out) {
                    expected.emplace_back(&values[i * mu], &values[i * mu] + mu);
                    expected.back().push_back(static_cast<double>(i));
                }
            }
            for (std::size_t i = 0; i < archive.size(); ++i) {
                actual.emplace_back(archive.values(i), archive.values(i) + mu);
                actual.back().push_back(*archive.payload(i));
            }
            std::sort(expected.begin(), expected.end());
            EXPECT_EQ(actual, expected) << m << " objectives, round " << round;
            EXPECT_EQ(archive.violation(), 0.0);
        }
}

TEST(ParetoArchive, AWholeFrontOfferedInAnyOrder)
{
    // Every point of a front enters, whatever the order; a point below it then takes the
    // place of all those it dominates.
    std::vector<double> order(2000);
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i] = static_cast<double>(i);
    std::shuffle(order.begin(), order.end(), std::mt19937(4));
    ParetoArchive archive(2, 0);
    for (double x : order) {
        const double point[2] = {x, 2000 - x};
        EXPECT_TRUE(archive.offer(point, 0, nullptr));
    }
    EXPECT_EQ(archive.size(), 2000u);
    const double again[2] = {5, 1995}, better[2] = {100, 100};
    EXPECT_FALSE(archive.offer(again, 0, nullptr));
    EXPECT_TRUE(archive.offer(better, 0, nullptr));
    // Those with x from 100 to 1900 are dominated by it.
    EXPECT_EQ(archive.size(), 2000u - 1801u + 1u);
    for (std::size_t i = 1; i < archive.size(); ++i)
        EXPECT_LT(archive.values(i - 1)[0], archive.values(i)[0]);
}
