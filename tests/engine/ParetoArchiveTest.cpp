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
            ParetoArchive archive(m, 1), batched(m, 1), fronts(m, 1);
            std::vector<double> values, violations, payloads;
            // Infeasible designs first, then a mix: the archive must move from the smallest
            // violation to the feasible front.
            for (int i = 0; i < 300; ++i) {
                for (int k = 0; k < m; ++k)
                    values.push_back(value(gen));
                violations.push_back(i < 40 || i % 2 ? violation(gen) * 0.5 : 0.0);
                payloads.push_back(i);
                archive.offer(&values[static_cast<std::size_t>(i) * mu], violations.back(),
                              &payloads.back());
                // The same designs ten at a time: the same archive, member for member.
                if (i % 10 == 9) {
                    const std::size_t first = static_cast<std::size_t>(i) - 9;
                    const Evaluations ten{std::span(values).subspan(first * mu, 10 * mu),
                                          std::span(violations).subspan(first, 10), m};
                    batched.offerAll(ten, std::span(payloads).subspan(first, 10));
                    // And their front alone, each payload asked for as its design enters.
                    const std::vector<int> front = firstFront(ten);
                    std::vector<double> frontValues, frontViolations;
                    for (int r : front) {
                        frontValues.insert(frontValues.end(), ten.row(std::size_t(r)),
                                           ten.row(std::size_t(r)) + mu);
                        frontViolations.push_back(ten.violations[std::size_t(r)]);
                    }
                    fronts.offerFront({frontValues, frontViolations, m},
                                      [&](std::size_t row, double* out) {
                                          *out = payloads[first + std::size_t(front[row])];
                                      });
                }
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
            for (const ParetoArchive* other : {&batched, &fronts}) {
                ASSERT_EQ(other->size(), archive.size());
                for (std::size_t i = 0; i < archive.size(); ++i) {
                    EXPECT_TRUE(std::equal(archive.values(i), archive.values(i) + mu,
                                           other->values(i)));
                    EXPECT_EQ(*archive.payload(i), *other->payload(i));
                }
            }
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
    ParetoArchive archive(2, 1);
    for (double x : order) {
        const double point[2] = {x, 2000 - x};
        EXPECT_TRUE(archive.offer(point, 0, &x));
    }
    EXPECT_EQ(archive.size(), 2000u);
    const double again[2] = {5, 1995}, better[2] = {100, 100}, payload = -1;
    EXPECT_FALSE(archive.offer(again, 0, &payload));
    EXPECT_TRUE(archive.offer(better, 0, &payload));
    // Those with x from 100 to 1900 are dominated by it; the slots they leave are given back,
    // and every member keeps its payload.
    EXPECT_EQ(archive.size(), 2000u - 1801u + 1u);
    for (std::size_t i = 0; i < archive.size(); ++i) {
        if (i > 0) {
            EXPECT_LT(archive.values(i - 1)[0], archive.values(i)[0]);
        }
        const double x = archive.values(i)[0];
        EXPECT_EQ(*archive.payload(i), x == 100 && archive.values(i)[1] == 100 ? -1 : x);
    }
}
