#include "engine/Dominance.h"

#include <algorithm>

namespace zyl {

namespace {

/// Whether a is no worse than b in every objective and better in one.
bool dominates(const double* a, const double* b, int objectives)
{
    bool better = false;
    for (int k = 0; k < objectives; ++k) {
        const double x = orderKey(a[k]), y = orderKey(b[k]);
        if (x > y)
            return false;
        better = better || x < y;
    }
    return better;
}

/// Orders `members` by their objectives, the first one first, then by index: a design can
/// only be dominated by designs before it. The order keys are taken once, into `keys`.
void sortLexicographic(const Evaluations& e, std::vector<int>& members, std::vector<double>& keys)
{
    const auto m = static_cast<std::size_t>(e.objectives);
    keys.resize(e.count() * m);
    for (int i : members)
        for (std::size_t k = 0; k < m; ++k)
            keys[static_cast<std::size_t>(i) * m + k] =
                orderKey(e.row(static_cast<std::size_t>(i))[k]);
    std::sort(members.begin(), members.end(), [&keys, m](int a, int b) {
        const double* x = &keys[static_cast<std::size_t>(a) * m];
        const double* y = &keys[static_cast<std::size_t>(b) * m];
        for (std::size_t k = 0; k < m; ++k)
            if (x[k] != y[k])
                return x[k] < y[k];
        return a < b;
    });
}

/// Gives `members`, designs that compare by the objectives alone, the fronts from `first` on.
/// Returns how many fronts they take.
///
/// In lexicographic order a design goes to the first front none of whose members dominates
/// it; whether a front dominates it is monotone in the front's number (a dominating member of
/// front k + 1 has a dominating member in front k), so the front is found by bisection.
int paretoFronts(const Evaluations& e, std::vector<int>& members, int first,
                 std::vector<int>& front)
{
    if (e.objectives == 2) {
        // The points sorted as such; a front's member with the smallest second objective is its
        // latest, and it dominates the point in hand whenever any member does.
        struct Point {
            double x, y;
            int i;
        };
        std::vector<Point> points;
        points.reserve(members.size());
        for (int i : members) {
            const double* p = e.row(static_cast<std::size_t>(i));
            points.push_back({orderKey(p[0]), orderKey(p[1]), i});
        }
        std::sort(points.begin(), points.end(), [](const Point& a, const Point& b) {
            return a.x < b.x || (a.x == b.x && (a.y < b.y || (a.y == b.y && a.i < b.i)));
        });
        std::vector<Point> last;
        for (const Point& p : points) {
            auto dominated = [&p](const Point& q) {
                return q.y <= p.y && (q.x < p.x || q.y < p.y);
            };
            const auto k = static_cast<std::size_t>(
                std::partition_point(last.begin(), last.end(), dominated) - last.begin());
            if (k == last.size())
                last.push_back(p);
            else
                last[k] = p;
            front[static_cast<std::size_t>(p.i)] = first + static_cast<int>(k);
        }
        return static_cast<int>(last.size());
    }
    std::vector<double> keys;
    sortLexicographic(e, members, keys);
    std::vector<std::vector<int>> frontMembers;
    for (int i : members) {
        const double* p = e.row(static_cast<std::size_t>(i));
        auto dominated = [&e, p](const std::vector<int>& f) {
            // The latest members lie nearest in the first objective: the likeliest to dominate.
            for (auto it = f.rbegin(); it != f.rend(); ++it)
                if (dominates(e.row(static_cast<std::size_t>(*it)), p, e.objectives))
                    return true;
            return false;
        };
        const auto at = std::partition_point(frontMembers.begin(), frontMembers.end(), dominated);
        const auto k = at - frontMembers.begin();
        if (at == frontMembers.end())
            frontMembers.emplace_back();
        frontMembers[static_cast<std::size_t>(k)].push_back(i);
        front[static_cast<std::size_t>(i)] = first + static_cast<int>(k);
    }
    return static_cast<int>(frontMembers.size());
}

} // namespace

int paretoDominance(const double* a, const double* b, int objectives)
{
    if (dominates(a, b, objectives))
        return -1;
    return dominates(b, a, objectives) ? 1 : 0;
}

int constrainedDominance(const double* a, double aViolation, const double* b, double bViolation,
                         int objectives)
{
    const double va = orderKey(aViolation), vb = orderKey(bViolation);
    const bool fa = feasibleViolation(va), fb = feasibleViolation(vb);
    if (fa != fb)
        return fa ? -1 : 1;
    if (!fa && va != vb)
        return va < vb ? -1 : 1;
    return paretoDominance(a, b, objectives);
}

int sortFronts(const Evaluations& e, std::vector<int>& front)
{
    const std::size_t n = e.count();
    front.assign(n, 0);
    std::vector<int> feasible, infeasible;
    for (std::size_t i = 0; i < n; ++i)
        (feasibleViolation(e.violations[i]) ? feasible : infeasible).push_back(static_cast<int>(i));
    int fronts = feasible.empty() ? 0 : paretoFronts(e, feasible, 0, front);
    std::stable_sort(infeasible.begin(), infeasible.end(), [&e](int a, int b) {
        return orderKey(e.violations[static_cast<std::size_t>(a)]) <
               orderKey(e.violations[static_cast<std::size_t>(b)]);
    });
    std::vector<int> group;
    for (std::size_t i = 0; i < infeasible.size();) {
        const double v = orderKey(e.violations[static_cast<std::size_t>(infeasible[i])]);
        group.clear();
        for (; i < infeasible.size() &&
               orderKey(e.violations[static_cast<std::size_t>(infeasible[i])]) == v;
             ++i)
            group.push_back(infeasible[i]);
        fronts += paretoFronts(e, group, fronts, front);
    }
    return fronts;
}

void crowdingDistances(const Evaluations& e, std::span<const int> members,
                       std::vector<double>& distance)
{
    distance.resize(e.count());
    for (int i : members)
        distance[static_cast<std::size_t>(i)] = 0;
    if (members.size() < 2) {
        for (int i : members)
            distance[static_cast<std::size_t>(i)] = INFINITY;
        return;
    }
    std::vector<int> order(members.begin(), members.end());
    for (int k = 0; k < e.objectives; ++k) {
        auto value = [&e, k](int i) { return orderKey(e.row(static_cast<std::size_t>(i))[k]); };
        std::sort(order.begin(), order.end(), [&value](int a, int b) {
            const double x = value(a), y = value(b);
            return x < y || (x == y && a < b);
        });
        const double range = value(order.back()) - value(order.front());
        // An objective that is the same for every member separates none of them; an infinite
        // range leaves no share to measure.
        if (!(range > 0))
            continue;
        distance[static_cast<std::size_t>(order.front())] = INFINITY;
        distance[static_cast<std::size_t>(order.back())] = INFINITY;
        if (!std::isfinite(range))
            continue;
        for (std::size_t j = 1; j + 1 < order.size(); ++j)
            distance[static_cast<std::size_t>(order[j])] +=
                (value(order[j + 1]) - value(order[j - 1])) / range;
    }
}

std::vector<int> firstFront(const Evaluations& e)
{
    std::vector<int> front, members;
    sortFronts(e, front);
    for (std::size_t i = 0; i < front.size(); ++i)
        if (front[i] == 0)
            members.push_back(static_cast<int>(i));
    return members;
}

} // namespace zyl
