#include "engine/Hypervolume.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

using namespace zyl;

namespace {

using Points = std::vector<double>;

/// The union of the boxes by inclusion and exclusion: each subset's common box (from the
/// largest of its coordinates to the reference point), with the sign of its size.
double bruteVolume(const Points& points, int d, const Points& reference)
{
    const auto du = static_cast<std::size_t>(d);
    const std::size_t n = points.size() / du;
    double total = 0;
    for (std::uint32_t subset = 1; subset < (1u << n); ++subset) {
        Points corner(du, -INFINITY);
        int members = 0;
        for (std::size_t i = 0; i < n; ++i)
            if (subset & (1u << i)) {
                ++members;
                for (std::size_t k = 0; k < du; ++k)
                    corner[k] = std::max(corner[k], points[i * du + k]);
            }
        double box = 1;
        for (std::size_t k = 0; k < du; ++k)
            box *= std::max(reference[k] - corner[k], 0.0);
        total += members % 2 ? box : -box;
    }
    return total;
}

Points without(const Points& points, int d, std::size_t i)
{
    Points rest = points;
    const auto du = static_cast<std::size_t>(d);
    rest.erase(rest.begin() + static_cast<std::ptrdiff_t>(i * du),
               rest.begin() + static_cast<std::ptrdiff_t>((i + 1) * du));
    return rest;
}

/// n random points of d coordinates. Whole coordinates make every volume exact, and ties,
/// equal points and dominated ones common; reals make ties unlikely.
template <class Distribution>
Points randomPoints(std::mt19937& gen, std::size_t n, int d, Distribution coordinate)
{
    Points p(n * static_cast<std::size_t>(d));
    for (double& x : p)
        x = coordinate(gen);
    return p;
}

} // namespace

TEST(Hypervolume, ExactValuesInTwoAndThreeDimensions)
{
    // A staircase of three steps, with a dominated point, an equal one and one outside.
    EXPECT_EQ(hypervolume(Points{1, 3, 2, 2, 3, 1}, 2, Points{4, 4}), 6.0);
    EXPECT_EQ(hypervolume(Points{1, 3, 2, 2, 3, 1, 3, 3, 2, 2, 0, 4}, 2, Points{4, 4}), 6.0);
    EXPECT_EQ(hypervolume(Points{}, 2, Points{4, 4}), 0.0);
    EXPECT_EQ(hypervolume(Points{0, 0, 0}, 3, Points{1, 2, 3}), 6.0);
    // Two boxes of 4 and 2 sharing a unit cube.
    EXPECT_EQ(hypervolume(Points{0, 0, 1, 1, 1, 0}, 3, Points{2, 2, 2}), 5.0);
    // Three boxes of 4, pairs sharing 2, all three 1.
    EXPECT_EQ(hypervolume(Points{1, 0, 0, 0, 1, 0, 0, 0, 1}, 3, Points{2, 2, 2}), 7.0);
    // A point on the reference point's face adds nothing; not a number neither.
    EXPECT_EQ(hypervolume(Points{0, 0, 2, 0, 0, NAN}, 3, Points{2, 2, 2}), 0.0);
    EXPECT_EQ(hypervolume(Points{1, 3, 2, 2, 3, 1}, 2, Points{4, 3}), 3.0);
}

TEST(Hypervolume, AgreesWithInclusionExclusionInTwoToFiveDimensions)
{
    std::mt19937 gen(7);
    for (int d = 2; d <= 5; ++d)
        for (int round = 0; round < 40; ++round) {
            const std::size_t n = 1 + static_cast<std::size_t>(round % 10);
            const Points reference(static_cast<std::size_t>(d), round % 3 ? 10.0 : 8.0);
            const Points whole = randomPoints(gen, n, d, std::uniform_int_distribution<int>(0, 9));
            EXPECT_EQ(hypervolume(whole, d, reference), bruteVolume(whole, d, reference))
                << d << " dimensions, round " << round;
            const Points real =
                randomPoints(gen, n, d, std::uniform_real_distribution<double>(0, 1));
            const Points unit(static_cast<std::size_t>(d), 1.0);
            EXPECT_NEAR(hypervolume(real, d, unit), bruteVolume(real, d, unit), 1e-12);

            std::vector<double> share;
            hypervolumeContributions(whole, d, reference, share);
            const double all = bruteVolume(whole, d, reference);
            for (std::size_t i = 0; i < n; ++i)
                EXPECT_EQ(share[i], all - bruteVolume(without(whole, d, i), d, reference))
                    << d << " dimensions, round " << round << ", point " << i;
        }
}

TEST(Hypervolume, MoreObjectivesTakeTheLeastContributorAwayOneAtATime)
{
    std::mt19937 gen(11);
    for (int d = 3; d <= 4; ++d)
        for (int round = 0; round < 20; ++round) {
            const std::size_t n = 6 + static_cast<std::size_t>(round % 6), keep = 3;
            // Real points: no ties, so the order of removal is unique.
            Points points = randomPoints(gen, n, d, std::uniform_real_distribution<double>(0, 1));
            const Points reference(static_cast<std::size_t>(d), 1.0);
            std::vector<int> alive(n);
            for (std::size_t i = 0; i < n; ++i)
                alive[i] = static_cast<int>(i);
            while (alive.size() > keep) {
                Points rows;
                for (int i : alive)
                    rows.insert(rows.end(), &points[static_cast<std::size_t>(i * d)],
                                &points[static_cast<std::size_t>((i + 1) * d)]);
                const double all = bruteVolume(rows, d, reference);
                std::size_t least = 0;
                double leastShare = INFINITY;
                for (std::size_t k = 0; k < alive.size(); ++k) {
                    const double share = all - bruteVolume(without(rows, d, k), d, reference);
                    // Of equal shares (zero ones) the latest goes.
                    if (share <= leastShare + 1e-15) {
                        least = k;
                        leastShare = share;
                    }
                }
                alive.erase(alive.begin() + static_cast<std::ptrdiff_t>(least));
            }
            EXPECT_EQ(keepLargestHypervolume(points, d, reference, keep), alive)
                << d << " dimensions, round " << round;
        }
}

TEST(Hypervolume, TwoObjectivesKeepTheBestSubsetOfAll)
{
    std::mt19937 gen(5);
    for (int round = 0; round < 30; ++round) {
        const std::size_t n = 4 + static_cast<std::size_t>(round % 8);
        const std::size_t keep = 1 + static_cast<std::size_t>(round % 4);
        // Points on a front (and a few off it) with whole coordinates: exact areas, ties.
        Points points;
        std::uniform_int_distribution<int> coordinate(0, 20);
        for (std::size_t i = 0; i < n; ++i) {
            const int x = coordinate(gen);
            points.push_back(x);
            points.push_back(round % 3 ? 20 - x : coordinate(gen));
        }
        const Points reference{22, 22};
        double best = 0;
        for (std::uint32_t subset = 0; subset < (1u << n); ++subset) {
            if (static_cast<std::size_t>(__builtin_popcount(subset)) != std::min(keep, n))
                continue;
            Points rows;
            for (std::size_t i = 0; i < n; ++i)
                if (subset & (1u << i))
                    rows.insert(rows.end(), {points[2 * i], points[2 * i + 1]});
            best = std::max(best, hypervolume(rows, 2, reference));
        }
        const std::vector<int> kept = keepLargestHypervolume(points, 2, reference, keep);
        ASSERT_EQ(kept.size(), std::min(keep, n));
        EXPECT_TRUE(std::is_sorted(kept.begin(), kept.end()));
        Points rows;
        for (int i : kept)
            rows.insert(rows.end(), {points[2 * static_cast<std::size_t>(i)],
                                     points[2 * static_cast<std::size_t>(i) + 1]});
        EXPECT_EQ(hypervolume(rows, 2, reference), best) << "round " << round;
    }
}
