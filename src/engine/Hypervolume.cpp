#include "engine/Hypervolume.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <map>
#include <memory>
#include <numeric>

namespace zyl {

namespace {

/// Points of `d` coordinates, row by row.
using Rows = std::vector<double>;

std::size_t rowCount(const Rows& rows, int d)
{
    return rows.size() / static_cast<std::size_t>(d);
}

/// Whether a is no worse than b in every coordinate.
bool weaklyDominates(const double* a, const double* b, int d)
{
    for (int k = 0; k < d; ++k)
        if (a[k] > b[k])
            return false;
    return true;
}

bool equalRows(const double* a, const double* b, int d)
{
    return std::equal(a, a + d, b);
}

/// The indices of `rows` in lexicographic order of their coordinates (index last).
std::vector<std::size_t> lexicographicOrder(const double* rows, std::size_t n, int d)
{
    std::vector<std::size_t> order(n);
    std::iota(order.begin(), order.end(), std::size_t(0));
    std::sort(order.begin(), order.end(), [rows, d](std::size_t a, std::size_t b) {
        const double* x = rows + a * static_cast<std::size_t>(d);
        const double* y = rows + b * static_cast<std::size_t>(d);
        for (int k = 0; k < d; ++k)
            if (x[k] != y[k])
                return x[k] < y[k];
        return a < b;
    });
    return order;
}

/// Keeps the rows that no other row weakly dominates (of equal rows one), in lexicographic
/// order: in two coordinates that is the front from its first corner to its last.
void keepNondominated(Rows& rows, int d)
{
    const std::size_t n = rowCount(rows, d);
    if (n < 2)
        return;
    const std::vector<std::size_t> order = lexicographicOrder(rows.data(), n, d);
    Rows kept;
    kept.reserve(rows.size());
    for (std::size_t i : order) {
        const double* p = rows.data() + i * static_cast<std::size_t>(d);
        // Only a row before it in this order can weakly dominate it.
        bool covered = false;
        if (d == 2)
            covered = !kept.empty() && kept.back() <= p[1];
        else
            for (std::size_t j = rowCount(kept, d); j-- > 0 && !covered;)
                covered = weaklyDominates(kept.data() + j * static_cast<std::size_t>(d), p, d);
        if (!covered)
            kept.insert(kept.end(), p, p + d);
    }
    rows.swap(kept);
}

double boxVolume(const double* p, const double* reference, int d)
{
    double v = 1;
    for (int k = 0; k < d; ++k)
        v *= reference[k] - p[k];
    return v;
}

/// A step of the front of a sweep in three coordinates: the second coordinate of the point at
/// a first coordinate (the key), and which point it came from.
struct Step {
    double y;
    std::size_t from;
};
/// The front of a sweep, the first coordinate rising and the second falling along it.
using Staircase = std::map<double, Step>;

/// Adds (x, y), point `from`, to the front, dropping the members it dominates; returns the
/// area that it adds below `reference`.
double insertIntoFront(Staircase& front, double x, double y, std::size_t from,
                       const double* reference)
{
    auto next = front.upper_bound(x);
    double height = reference[1];
    if (next != front.begin()) {
        auto before = std::prev(next);
        if (before->second.y <= y)
            return 0;
        // Up to the next member, the front stood at the height of the one before (which, at
        // the same first coordinate, the new point dominates).
        height = before->second.y;
        if (before->first == x)
            front.erase(before);
    }
    double added = 0, left = x;
    while (next != front.end()) {
        added += (next->first - left) * (height - y);
        if (next->second.y < y)
            break;
        left = next->first;
        height = next->second.y;
        next = front.erase(next);
    }
    if (next == front.end())
        added += (reference[0] - left) * (height - y);
    front.emplace_hint(next, x, Step{y, from});
    return added;
}

double volume(const Rows& rows, int d, const double* reference);

/// Three coordinates: the area of the front of the first two, swept along the third.
double volume3(const Rows& rows, const double* reference)
{
    const std::size_t n = rowCount(rows, 3);
    std::vector<std::size_t> order(n);
    std::iota(order.begin(), order.end(), std::size_t(0));
    std::sort(order.begin(), order.end(),
              [&rows](std::size_t a, std::size_t b) { return rows[3 * a + 2] < rows[3 * b + 2]; });
    Staircase front;
    double area = 0, total = 0, z = 0;
    for (std::size_t k = 0; k < n; ++k) {
        const double* p = &rows[3 * order[k]];
        if (k > 0)
            total += area * (p[2] - z);
        area += insertIntoFront(front, p[0], p[1], order[k], reference);
        z = p[2];
    }
    return total + area * (reference[2] - z);
}

/// Four or more: slices along the last coordinate. Taken from the worst last coordinate to the
/// best, each point adds its slab times what it alone dominates among the points after it in
/// the other coordinates, where their limits against it share its last coordinate.
double volumeBySlices(const Rows& rows, int d, const double* reference)
{
    const std::size_t n = rowCount(rows, d);
    const auto du = static_cast<std::size_t>(d);
    std::vector<std::size_t> order(n);
    std::iota(order.begin(), order.end(), std::size_t(0));
    std::sort(order.begin(), order.end(), [&rows, du](std::size_t a, std::size_t b) {
        return rows[a * du + du - 1] > rows[b * du + du - 1];
    });
    double total = 0;
    Rows limited;
    for (std::size_t k = 0; k < n; ++k) {
        const double* p = &rows[order[k] * du];
        limited.clear();
        for (std::size_t j = k + 1; j < n; ++j) {
            const double* q = &rows[order[j] * du];
            for (std::size_t c = 0; c + 1 < du; ++c)
                limited.push_back(std::max(p[c], q[c]));
        }
        keepNondominated(limited, d - 1);
        const double alone = boxVolume(p, reference, d - 1) - volume(limited, d - 1, reference);
        total += (reference[d - 1] - p[d - 1]) * std::max(alone, 0.0);
    }
    return total;
}

/// The hypervolume of rows that lie strictly inside the reference point and that no other
/// row weakly dominates (the order of keepNondominated).
double volume(const Rows& rows, int d, const double* reference)
{
    const std::size_t n = rowCount(rows, d);
    if (n == 0)
        return 0;
    switch (d) {
    case 1:
        return reference[0] - *std::min_element(rows.begin(), rows.end());
    case 2: {
        double total = 0, above = reference[1];
        for (std::size_t i = 0; i < n; ++i) {
            total += (reference[0] - rows[2 * i]) * (above - rows[2 * i + 1]);
            above = rows[2 * i + 1];
        }
        return total;
    }
    case 3:
        return volume3(rows, reference);
    default:
        return volumeBySlices(rows, d, reference);
    }
}

/// The points strictly inside the reference point, row by row, and their indices.
void inside(std::span<const double> points, int d, std::span<const double> reference, Rows& rows,
            std::vector<int>* indices)
{
    const auto du = static_cast<std::size_t>(d);
    const std::size_t n = points.size() / du;
    rows.clear();
    for (std::size_t i = 0; i < n; ++i) {
        const double* p = &points[i * du];
        bool in = true;
        for (std::size_t k = 0; k < du && in; ++k)
            in = p[k] < reference[k];
        if (!in)
            continue;
        rows.insert(rows.end(), p, p + d);
        if (indices)
            indices->push_back(static_cast<int>(i));
    }
}

/// The exclusive contributions of a set of rows strictly inside the reference point, kept up
/// to date as rows are taken away.
class Contributions {
public:
    Contributions(const Rows& rows, int d, const double* reference)
        : m_rows(rows), m_d(d), m_reference(reference), m_count(rowCount(rows, d)),
          m_alive(m_count, 1), m_share(m_count), m_bounds(m_count),
          m_corner(static_cast<std::size_t>(d))
    {
        if (d == 3) {
            m_byThird.resize(m_count);
            std::iota(m_byThird.begin(), m_byThird.end(), std::size_t(0));
            std::stable_sort(m_byThird.begin(), m_byThird.end(),
                             [&rows](std::size_t a, std::size_t b) {
                                 return rows[3 * a + 2] < rows[3 * b + 2];
                             });
        }
        for (std::size_t i = 0; i < m_count; ++i)
            m_share[i] = compute(i);
    }

    double share(std::size_t i) const { return m_share[i]; }
    bool alive(std::size_t i) const { return m_alive[i] != 0; }

    /// Takes row r away and computes again the shares it bounded: a row's share grows only
    /// where r and it were the only ones to dominate, so only when no other row dominates
    /// their common corner (most rows find one of those among the first few they look at).
    void takeAway(std::size_t r)
    {
        m_alive[r] = 0;
        const auto du = static_cast<std::size_t>(m_d);
        const double* pr = &m_rows[r * du];
        for (std::size_t q = 0; q < m_count; ++q) {
            if (!m_alive[q])
                continue;
            bool bounded;
            if (m_d == 3) {
                const std::vector<std::size_t>& b = m_bounds[q];
                bounded = std::find(b.begin(), b.end(), r) != b.end();
            } else {
                const double* pq = &m_rows[q * du];
                for (std::size_t c = 0; c < du; ++c)
                    m_corner[c] = std::max(pq[c], pr[c]);
                bounded = true;
                for (std::size_t s = 0; s < m_count && bounded; ++s)
                    bounded = s == q || !m_alive[s] ||
                              !weaklyDominates(&m_rows[s * du], m_corner.data(), m_d);
            }
            if (bounded)
                m_share[q] = compute(q);
        }
    }

private:
    double compute(std::size_t i) { return m_d == 3 ? computeInThree(i) : computeLimited(i); }

    /// The box of row i less the union of its limits against the others (their boxes within
    /// its own).
    double computeLimited(std::size_t i)
    {
        const auto du = static_cast<std::size_t>(m_d);
        const double* p = &m_rows[i * du];
        m_limited.clear();
        for (std::size_t j = 0; j < m_count; ++j) {
            if (j == i || !m_alive[j])
                continue;
            const double* q = &m_rows[j * du];
            if (weaklyDominates(q, p, m_d))
                return 0;
            for (std::size_t c = 0; c < du; ++c)
                m_limited.push_back(std::max(p[c], q[c]));
        }
        keepNondominated(m_limited, m_d);
        return std::max(boxVolume(p, m_reference, m_d) - volume(m_limited, m_d, m_reference), 0.0);
    }

    /// Three objectives: the limits swept along the third coordinate (in which the rows are
    /// already in order), each slab adding the part of the row's rectangle that the limits
    /// below it leave uncovered, until they cover it all. The limits that no other dominates
    /// are the rows that bound its share: those on the front of the first slab, and those
    /// that cover some of it above.
    double computeInThree(std::size_t i)
    {
        const double* p = &m_rows[3 * i];
        const double full = (m_reference[0] - p[0]) * (m_reference[1] - p[1]);
        std::vector<std::size_t>& bounds = m_bounds[i];
        bounds.clear();
        m_front.clear();
        double covered = 0, total = 0, z = p[2];
        bool firstSlab = true;
        for (std::size_t j : m_byThird) {
            if (j == i || !m_alive[j])
                continue;
            const double* q = &m_rows[3 * j];
            if (q[0] <= p[0] && q[1] <= p[1] && q[2] <= p[2]) {
                bounds.assign(1, j);
                return 0;
            }
            if (q[2] > z) {
                if (firstSlab)
                    for (const auto& step : m_front)
                        bounds.push_back(step.second.from);
                firstSlab = false;
                total += (full - covered) * (q[2] - z);
                z = q[2];
            }
            const double added = insertIntoFront(m_front, std::max(p[0], q[0]),
                                                 std::max(p[1], q[1]), j, m_reference);
            if (added > 0) {
                covered += added;
                if (!firstSlab)
                    bounds.push_back(j);
                // Above here the row dominates nothing alone.
                if (covered >= full)
                    break;
            }
        }
        if (firstSlab)
            for (const auto& step : m_front)
                bounds.push_back(step.second.from);
        return covered >= full ? total : total + (full - covered) * (m_reference[2] - z);
    }

    const Rows& m_rows;
    int m_d;
    const double* m_reference;
    std::size_t m_count;
    std::vector<char> m_alive;
    std::vector<double> m_share;
    std::vector<std::size_t> m_byThird;
    Staircase m_front;
    // Per row: the rows whose limits bound its share (three objectives).
    std::vector<std::vector<std::size_t>> m_bounds;
    Rows m_limited;
    std::vector<double> m_corner;
};

/// Chooses `keep` points of a front of two objectives (`members`, lexicographic order) whose
/// hypervolume together is the largest, and marks the others taken away.
///
/// Along the front, the points chosen before point j add nothing to what j adds but through
/// the latest of them, i: the strip between their second values, (r0 - x_j)(y_i - y_j). So the
/// best c points ending at j come from the best c - 1 ending at some i before it, a maximum
/// over i of lines in t = r0 - x_j (slope y_i); the slopes fall as i grows and t falls as j
/// grows, so the upper envelope of the lines answers each layer in one pass. The c-th point
/// chosen lies among the n - keep + 1 points that leave room for the others on both sides.
void bestAlongFront(const Rows& rows, const std::vector<std::size_t>& members,
                    const double* reference, std::size_t keep, std::vector<char>& taken)
{
    const std::size_t n = members.size();
    for (std::size_t j : members)
        taken[j] = 1;
    if (keep == 0)
        return;
    const std::size_t width = n - keep + 1;
    // Per point: its slope y and its t = r0 - x, and t y.
    std::vector<double> y(n), t(n), ty(n);
    for (std::size_t j = 0; j < n; ++j) {
        y[j] = rows[2 * members[j] + 1];
        t[j] = reference[0] - rows[2 * members[j]];
        ty[j] = t[j] * y[j];
    }
    // Layer c holds the best c + 1 points ending at j = c + w, for w < width; from[c][w] is
    // the point before j among them.
    std::vector<double> last(width), best(width);
    // Written before it is read: no need to clear it.
    const std::unique_ptr<std::uint32_t[]> from(new std::uint32_t[keep * width]);
    // The envelope in three arrays, which the steps below read far more often than they write.
    std::vector<double> hullSlopeRoom(width), hullInterceptRoom(width);
    std::vector<std::uint32_t> hullPointRoom(width);
    double* hullSlope = hullSlopeRoom.data();
    double* hullIntercept = hullInterceptRoom.data();
    std::uint32_t* hullPoint = hullPointRoom.data();
    for (std::size_t w = 0; w < width; ++w)
        last[w] = t[w] * (reference[1] - y[w]);
    for (std::size_t c = 1; c < keep; ++c) {
        std::size_t head = 0, end = 0;
        const double* lastOfLayer = last.data();
        const double* slope = &y[c - 1];
        const double* tOfLayer = &t[c];
        const double* tyOfLayer = &ty[c];
        double* bestOfLayer = best.data();
        std::uint32_t* fromOfLayer = &from[c * width];
        // Line i (of the previous layer's point i = c - 1 + w) joins before point j = c + w is
        // answered.
        for (std::size_t w = 0; w < width; ++w) {
            const double lineSlope = slope[w], lineIntercept = lastOfLayer[w];
            // Of two lines of one slope only the higher counts; a line between two others is
            // of no use once the one after it overtakes the one before it no later than it.
            if (end == head || hullSlope[end - 1] != lineSlope ||
                hullIntercept[end - 1] <= lineIntercept) {
                if (end > head && hullSlope[end - 1] == lineSlope)
                    --end;
                while (end - head >= 2 &&
                       (lineIntercept - hullIntercept[end - 1]) *
                               (hullSlope[end - 2] - hullSlope[end - 1]) >=
                           (hullIntercept[end - 1] - hullIntercept[end - 2]) *
                               (hullSlope[end - 1] - lineSlope))
                    --end;
                hullSlope[end] = lineSlope;
                hullIntercept[end] = lineIntercept;
                hullPoint[end] = static_cast<std::uint32_t>(c - 1 + w);
                ++end;
            }
            const double u = tOfLayer[w];
            double at = hullIntercept[head] + u * hullSlope[head];
            while (end - head >= 2) {
                const double next = hullIntercept[head + 1] + u * hullSlope[head + 1];
                if (!(next >= at))
                    break;
                at = next;
                ++head;
            }
            bestOfLayer[w] = at - tyOfLayer[w];
            fromOfLayer[w] = hullPoint[head];
        }
        last.swap(best);
    }
    std::size_t w = 0;
    for (std::size_t v = 1; v < width; ++v)
        if (last[v] > last[w])
            w = v;
    std::size_t j = keep - 1 + w;
    for (std::size_t c = keep; c-- > 0;) {
        taken[members[j]] = 0;
        if (c > 0)
            j = from[c * width + (j - c)];
    }
}

} // namespace

double hypervolume(std::span<const double> points, int objectives,
                   std::span<const double> reference)
{
    Rows rows;
    inside(points, objectives, reference, rows, nullptr);
    keepNondominated(rows, objectives);
    return volume(rows, objectives, reference.data());
}

void hypervolumeContributions(std::span<const double> points, int objectives,
                              std::span<const double> reference, std::vector<double>& contribution)
{
    const std::size_t n = points.size() / static_cast<std::size_t>(objectives);
    contribution.assign(n, 0.0);
    Rows rows;
    std::vector<int> indices;
    inside(points, objectives, reference, rows, &indices);
    const Contributions shares(rows, objectives, reference.data());
    for (std::size_t i = 0; i < indices.size(); ++i)
        contribution[static_cast<std::size_t>(indices[i])] = shares.share(i);
}

std::vector<int> keepLargestHypervolume(std::span<const double> points, int objectives,
                                        std::span<const double> reference, std::size_t keep)
{
    const auto du = static_cast<std::size_t>(objectives);
    const std::size_t n = points.size() / du;
    std::vector<char> taken(n, 0);
    Rows rows;
    std::vector<int> indices;
    inside(points, objectives, reference, rows, &indices);
    const std::size_t m = indices.size();

    // First the points that contribute nothing whatever goes: outside the reference point, or
    // dominated by another point. The rest is a front (with perhaps equal points).
    std::vector<char> dominated(m, 0);
    std::vector<std::size_t> front;
    const std::vector<std::size_t> order = lexicographicOrder(rows.data(), m, objectives);
    for (std::size_t i : order) {
        const double* p = &rows[i * du];
        // Only a point before it in this order can dominate it; along a front of two
        // objectives, the latest one.
        auto by = [&](std::size_t j) {
            const double* q = &rows[j * du];
            return weaklyDominates(q, p, objectives) && !equalRows(q, p, objectives);
        };
        if (objectives == 2)
            dominated[i] = !front.empty() && by(front.back());
        else
            dominated[i] = std::any_of(front.rbegin(), front.rend(), by);
        if (!dominated[i])
            front.push_back(i);
    }
    std::vector<int> idle;
    for (std::size_t i = 0, next = 0; i < n; ++i) {
        if (next < m && indices[next] == static_cast<int>(i)) {
            if (dominated[next])
                idle.push_back(static_cast<int>(i));
            ++next;
        } else {
            idle.push_back(static_cast<int>(i));
        }
    }
    std::size_t left = n;
    for (auto it = idle.rbegin(); it != idle.rend() && left > keep; ++it, --left)
        taken[static_cast<std::size_t>(*it)] = 1;

    if (left > keep) {
        // Per point inside the reference point: whether it is taken away.
        std::vector<char> takenRow(m, 0);
        if (objectives == 2) {
            bestAlongFront(rows, front, reference.data(), keep, takenRow);
        } else {
            Rows frontRows;
            for (std::size_t i : front)
                frontRows.insert(frontRows.end(), &rows[i * du], &rows[i * du] + du);
            Contributions shares(frontRows, objectives, reference.data());
            const std::size_t f = front.size();
            for (std::size_t count = f; count > keep; --count) {
                std::size_t least = f;
                for (std::size_t i = 0; i < f; ++i)
                    if (shares.alive(i) &&
                        (least == f || shares.share(i) < shares.share(least) ||
                         (shares.share(i) == shares.share(least) && front[i] > front[least])))
                        least = i;
                takenRow[front[least]] = 1;
                shares.takeAway(least);
            }
        }
        for (std::size_t i = 0; i < m; ++i)
            if (takenRow[i])
                taken[static_cast<std::size_t>(indices[i])] = 1;
    }
    std::vector<int> kept;
    for (std::size_t i = 0; i < n; ++i)
        if (!taken[i])
            kept.push_back(static_cast<int>(i));
    return kept;
}

} // namespace zyl
