#pragma once

#include <cstddef>
#include <span>
#include <vector>

namespace zyl {

/// The hypervolume of `points` (rows of `objectives` values, every objective minimised)
/// against `reference` (one value per objective): the volume of the union of the boxes
/// between each point and the reference point. A point that is not strictly better than the
/// reference point in every objective (a value that is not a number included) adds nothing.
///
/// Exact: two objectives by one sort, three by a sweep over the third objective that keeps
/// the front of the first two in an ordered map (O(n log n) both), more by slicing along the
/// last objective down to three.
double hypervolume(std::span<const double> points, int objectives,
                   std::span<const double> reference);

/// Each point's exclusive contribution, into `contribution` (one per point): the volume that
/// it dominates and no other point does. Equal points have none, nor has a dominated one.
void hypervolumeContributions(std::span<const double> points, int objectives,
                              std::span<const double> reference, std::vector<double>& contribution);

/// Chooses `keep` of the points whose hypervolume together is the largest; returns their
/// indices in increasing order. Points that contribute nothing whatever is chosen go first
/// (outside the reference point, or dominated by another point; of those the latest first).
///
/// Two objectives: exactly, in O(n log n + keep (n - keep)). More: by taking away, one at a
/// time, the point with the smallest exclusive contribution among those left (of equal ones the
/// latest), which is exact for one point and near for more; the exact choice is then too
/// costly. A contribution is computed again only when the point taken away bounded it: three
/// objectives remember the points that bound each one, more look for a point that dominates
/// the corner the two shared.
std::vector<int> keepLargestHypervolume(std::span<const double> points, int objectives,
                                        std::span<const double> reference, std::size_t keep);

} // namespace zyl
