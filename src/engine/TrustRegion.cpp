#include "engine/TrustRegion.h"

#include "common/Exception.h"
#include "engine/LocalModels.h"
#include "engine/Zyl.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>

namespace zyl {

namespace {

// Beyond this many variables the models have no cross terms: a full quadratic needs more
// designs than a small budget holds, and its fit costs the cube of their number.
constexpr int kMostCrossVariables = 20;
// Generations in a row without a better centre after which a search starts again.
constexpr std::int64_t kMostIdle = 40;
// The share of its value (or of its violation) a search must gain over kWatch generations,
// or start again.
constexpr double kLeastProgress = 1e-3;
// A predicted gain below this share of the centre's value is rounding: the search has
// converged.
constexpr double kLeastGain = 1e-13;
// Designs farther than this many radii from the centre stay out of the models when there are
// enough nearer ones.
constexpr double kReach = 1000;
// Random directions tried, per variable, when a design is placed where the models know least.
constexpr int kDirectionsPerVariable = 2;
// Attempts at a new random design before the generation takes known ones.
constexpr int kRandomAttempts = 64;
// How far a step from a feasible centre keeps inside each constraint as its models have it,
// in radii: the models of a constraint are least sure along its boundary, and a step that
// lands a hair beyond it is lost, however good. None at first (a narrow feasible region has
// no room for one); each step that the models thought feasible and was not widens it, up to
// the largest (kMostMargin), and each success narrows it.
constexpr double kFirstMargin = 0.01;
constexpr double kMarginDecay = 0.7;
constexpr double kLeastMargin = 0.001;
constexpr int kCurvaturePasses = 2;
// Radii, each half the one before, at which a step is sought before the spread takes over.
constexpr int kStepTries = 4;

std::uint64_t mix(std::uint64_t h)
{
    h ^= h >> 30;
    h *= 0xbf58476d1ce4e5b9ULL;
    h ^= h >> 27;
    h *= 0x94d049bb133111ebULL;
    return h ^ (h >> 31);
}

/// Equal designs (as Indiv::operator== has them: -0 equals 0) have equal fingerprints.
std::uint64_t fingerprint(const Indiv& ind)
{
    std::uint64_t h = 0x9e3779b97f4a7c15ULL;
    for (int j = 0; j < ind.count(); ++j) {
        double v = ind.gene(j)->getValue();
        if (v == 0)
            v = 0;
        h = mix(h ^ std::bit_cast<std::uint64_t>(v)) + static_cast<std::uint64_t>(j);
    }
    return h;
}

double finiteOr(double x, double otherwise) { return std::isfinite(x) ? x : otherwise; }

} // namespace

/// The coordinates of a search: each variable's offset from the centre as a fraction of its
/// range. Offsets are taken from the values themselves, so a step far smaller than a
/// range's rounding in the unit cube still moves a design.
struct TrustRegion::Frame {
    Frame(const ZYL& zyl, const Indiv& origin) : box(zyl), n(box.size())
    {
        const auto un = static_cast<std::size_t>(n);
        centre.resize(un);
        half.resize(un);
        low.resize(un);
        high.resize(un);
        spacing.resize(un);
        for (int j = 0; j < n; ++j) {
            const double lo = box.lower(j), hi = box.upper(j);
            const double width = hi / 2 - lo / 2;
            const auto k = static_cast<std::size_t>(j);
            centre[k] = origin.gene(j)->getValue();
            half[k] = width > 0 && std::isfinite(width) ? width : 0.0;
            low[k] = std::min(0.0, offset(j, lo));
            high[k] = std::max(0.0, offset(j, hi));
            spacing[k] = box.spacing(j);
        }
    }

    double offset(int j, double x) const
    {
        const auto k = static_cast<std::size_t>(j);
        return half[k] > 0 ? (x / 2 - centre[k] / 2) / half[k] : 0.0;
    }
    void offsets(const Indiv& ind, double* out) const
    {
        for (int j = 0; j < n; ++j)
            out[j] = offset(j, ind.gene(j)->getValue());
    }
    /// Sets `ind` at the offsets `s`, within the ranges and whole where it must be; returns
    /// the offsets it has then.
    std::vector<double> place(Indiv& ind, const std::vector<double>& s) const
    {
        std::vector<double> actual(s.size());
        for (int j = 0; j < n; ++j) {
            const auto k = static_cast<std::size_t>(j);
            box.setValue(ind, j, centre[k] + (half[k] * s[k]) * 2);
            actual[k] = offset(j, ind.gene(j)->getValue());
        }
        return actual;
    }

    detail::UnitBox box;
    int n;
    std::vector<double> centre, half, low, high, spacing;
};

struct TrustRegion::Models {
    detail::Quadratic objective;
    std::vector<detail::Quadratic> constraints;
    // The centre's own values, which the models are anchored to.
    double centreCost = 0;
    std::vector<double> centreConstraints;
    // Enough designs within twice the radius for the models to speak for the region.
    bool adequate = false;
    // The offsets of the designs the models were fitted to, a row each.
    std::vector<double> points;
};

struct TrustRegion::Candidate {
    Indiv design;
    std::vector<double> offsets;
    std::uint64_t print = 0;
    Slot slot;
};

bool TrustRegion::seen(std::uint64_t print) const
{
    return std::binary_search(m_prints.begin(), m_prints.end(), print);
}

void TrustRegion::remember(std::uint64_t print)
{
    m_prints.insert(std::lower_bound(m_prints.begin(), m_prints.end(), print), print);
}

bool TrustRegion::next(ZYL& zyl, const std::atomic<bool>*)
{
    if (zyl.count() == 0) {
        zyl.prepareForEvaluation();
        return true;
    }
    m_maximise = zyl.maximise;
    if (!m_started)
        start(zyl);
    else
        absorb(zyl);
    propose(zyl);
    return true;
}

void TrustRegion::start(ZYL& zyl)
{
    m_started = true;
    m_n = zyl.count();
    m_popSize = zyl.popSize;
    m_radius = zyl.methodSettings.trust.radius;
    // The population at hand and the best design of the task so far are the first designs
    // the models see; the best of them is the centre.
    std::vector<const Indiv*> known;
    for (const Indiv& ind : zyl.population)
        if (ind.evaluated)
            known.push_back(&ind);
    const Indiv& best = zyl.maximise ? zyl.globalMax : zyl.globalMin;
    const Indiv* centre = nullptr;
    for (const Indiv* ind : known)
        if (!centre || zyl.better(*ind, *centre))
            centre = ind;
    if (best.count() == m_n && (!centre || zyl.better(best, *centre))) {
        known.push_back(&best);
        centre = &best;
    }
    for (const Indiv* ind : known) {
        const std::uint64_t print = fingerprint(*ind);
        if (seen(print))
            continue;
        remember(print);
        m_archive.push_back(*ind);
    }
    if (!centre)
        return;
    m_centre = *centre;
    m_hasCentre = true;
    watchFromCentre();
    if (m_refining) {
        // Another method's population shows how far its search still ranges: a region that
        // wide holds what it would have found next.
        const Frame frame(zyl, m_centre);
        std::vector<double> spreads, s(static_cast<std::size_t>(m_n));
        for (const Indiv* ind : known) {
            frame.offsets(*ind, s.data());
            double longest = 0;
            for (double x : s)
                longest = std::max(longest, std::abs(x));
            if (longest > 0)
                spreads.push_back(longest);
        }
        if (!spreads.empty()) {
            std::nth_element(spreads.begin(), spreads.begin() + spreads.size() / 2, spreads.end());
            m_radius = std::clamp(spreads[spreads.size() / 2], 1e-9, m_radius);
        }
    }
}

void TrustRegion::absorb(ZYL& zyl)
{
    const Indiv* best = nullptr;
    std::size_t bestSlot = 0;
    for (std::size_t i = 0; i < m_slots.size() && i < zyl.population.size(); ++i) {
        const Indiv& ind = zyl.population[i];
        if (m_slots[i].role == Role::Known || !ind.evaluated)
            continue;
        if (m_archive.size() >= kMostKept)
            m_archive.erase(m_archive.begin());
        m_archive.push_back(ind);
        if (!best || zyl.better(ind, *best)) {
            best = &ind;
            bestSlot = i;
        }
    }
    if (!best)
        return;
    if (!m_hasCentre) {
        m_centre = *best;
        m_hasCentre = true;
        m_idle = 0;
        watchFromCentre();
        return;
    }
    const Slot* taken = nullptr;
    for (const Slot& slot : m_slots)
        if (slot.role == Role::Step) {
            taken = &slot;
            break;
        }
    // How much of the predicted gain a design realised: in value between feasible designs,
    // in violation from an infeasible centre.
    const bool feasible = m_centre.violation == 0;
    const double before = feasible ? cost(m_centre) : m_centre.violation;
    auto gain = [&](double value, double violation) {
        return feasible ? before - value : before - violation;
    };
    if (zyl.better(*best, m_centre)) {
        const Slot& won = m_slots[bestSlot];
        if (won.role == Role::Step || won.role == Role::Probe) {
            const double predicted = gain(won.value, won.violation);
            const double ratio =
                predicted > 0 ? gain(cost(*best), best->violation) / predicted : 1.0;
            if (ratio <= 0.1)
                m_radius = 0.5 * won.radius;
            else if (ratio <= 0.7)
                m_radius = std::max(0.5 * won.radius, won.length);
            else
                m_radius = std::max(0.5 * won.radius, 2 * won.length);
            if (won.length >= 0.9 * won.radius && ratio > 0.7)
                m_radius = std::max(m_radius, 2 * won.radius);
            m_radius = std::min(m_radius, kMostRadius);
            m_margin = m_margin > kLeastMargin ? m_margin * kMarginDecay : 0.0;
        }
        m_centre = *best;
        m_idle = 0;
    } else {
        ++m_idle;
        if (taken) {
            // A step from a feasible centre that landed outside: the next keep further in.
            const Indiv& stepped =
                zyl.population[static_cast<std::size_t>(taken - m_slots.data())];
            if (feasible && stepped.violation > 0)
                m_margin = std::min(kMostMargin, std::max(kFirstMargin, 2 * m_margin));
            if (m_adequate) {
                m_radius = std::clamp(taken->length, 0.1 * m_radius, 0.5 * m_radius);
                // Models that see the region well and promise nothing more: converged.
                if (!(gain(taken->value, taken->violation) > kLeastGain * std::abs(before)))
                    m_restart = true;
            }
        }
        if (m_idle >= kMostIdle || !(m_radius > 0))
            m_restart = true;
    }
    // A search that creeps (along the floor of a ripple of a rugged objective, say) has
    // found what it will find: the evaluations are better spent on a new one.
    if (++m_watched >= kWatch) {
        const bool stalled = m_watchViolation > 0
                                 ? !(m_watchViolation - m_centre.violation >
                                     kLeastProgress * m_watchViolation)
                                 : !(m_watchValue - cost(m_centre) >
                                     kLeastProgress * std::abs(m_watchValue));
        if (stalled)
            m_restart = true;
        watchFromCentre();
    }
}

void TrustRegion::watchFromCentre()
{
    m_watched = 0;
    m_watchValue = finiteOr(cost(m_centre), 0);
    m_watchViolation = finiteOr(m_centre.violation, std::numeric_limits<double>::max());
}

bool TrustRegion::fitModels(const ZYL& zyl, const Frame& frame, Models& models) const
{
    const auto n = static_cast<std::size_t>(m_n);
    const std::size_t constraintCount = zyl.constraintNames.size();
    auto usable = [constraintCount](const Indiv& ind) {
        return std::isfinite(ind.value) && ind.constraints.size() == constraintCount &&
               std::all_of(ind.constraints.begin(), ind.constraints.end(),
                           [](double c) { return std::isfinite(c); });
    };
    std::size_t free = 0;
    for (double h : frame.half)
        free += h > 0 ? 1 : 0;
    const bool cross = m_n <= kMostCrossVariables;
    const std::size_t coefficients = 1 + 2 * n + (cross ? n * (n - 1) / 2 : 0);

    // The designs nearest the centre, twice as many as the coefficients: a fit with points
    // to spare smooths what a quadratic cannot follow.
    std::vector<double> offsets(m_archive.size() * n);
    std::vector<std::pair<double, std::size_t>> near;
    for (std::size_t i = 0; i < m_archive.size(); ++i) {
        if (!usable(m_archive[i]))
            continue;
        double* s = &offsets[i * n];
        frame.offsets(m_archive[i], s);
        double squares = 0;
        for (std::size_t j = 0; j < n; ++j)
            squares += s[j] * s[j];
        if (squares > 0)
            near.emplace_back(std::sqrt(squares), i);
    }
    std::size_t keep = std::min(near.size(), 2 * coefficients);
    std::partial_sort(near.begin(), near.begin() + static_cast<std::ptrdiff_t>(keep), near.end());
    // Designs far beyond the region would drown the small differences near the centre in
    // their rounding: they stay out once there are enough for a linear fit, the curvature
    // then coming mostly from the earlier models.
    while (keep > free + 1 && near[keep - 1].first > kReach * m_radius)
        --keep;
    near.resize(keep);
    models.points.assign(n, 0.0);
    for (const auto& [distance, i] : near)
        models.points.insert(models.points.end(), offsets.begin() + static_cast<std::ptrdiff_t>(i * n),
                             offsets.begin() + static_cast<std::ptrdiff_t>((i + 1) * n));
    if (!usable(m_centre) || near.size() < free)
        return false;

    // Full weight within about twice the radius, fading fast beyond: the models speak for
    // the region, the farther designs only steadying them.
    std::vector<double> weights(1, 1.0), costs(1, cost(m_centre));
    std::size_t within = 0;
    for (const auto& [distance, i] : near) {
        const double d = distance / (2 * m_radius);
        weights.push_back(1 / (1 + d * d * d * d));
        costs.push_back(cost(m_archive[i]));
        within += d <= 1 ? 1 : 0;
    }
    const detail::QuadraticFit fit(m_n, cross, models.points, weights);
    auto reference = [this, n](std::size_t model) {
        const std::size_t size = n * n;
        return m_curvatures.size() >= (model + 1) * size
                   ? std::vector<double>(m_curvatures.begin() + static_cast<std::ptrdiff_t>(model * size),
                                         m_curvatures.begin() + static_cast<std::ptrdiff_t>((model + 1) * size))
                   : std::vector<double>();
    };
    models.objective = fit.fit(costs, reference(0));
    models.centreCost = costs[0];
    models.centreConstraints = m_centre.constraints;
    models.constraints.clear();
    std::vector<double> values(weights.size());
    for (std::size_t c = 0; c < constraintCount; ++c) {
        values[0] = m_centre.constraints[c];
        for (std::size_t k = 0; k < near.size(); ++k)
            values[k + 1] = m_archive[near[k].second].constraints[c];
        models.constraints.push_back(fit.fit(values, reference(c + 1)));
    }
    models.adequate = within >= free;
    return true;
}

std::vector<double> TrustRegion::step(const ZYL& zyl, const Frame& frame, const Models& models,
                                      double radius, const std::vector<double>& fixed) const
{
    const auto n = static_cast<std::size_t>(m_n);
    // In units of the radius, so that the subproblem's tolerances mean the same at any scale.
    detail::StepProblem p;
    p.n = m_n;
    p.lower.resize(n);
    p.upper.resize(n);
    for (std::size_t j = 0; j < n; ++j) {
        double lo = 0, hi = 0;
        if (frame.half[j] <= 0) {
        } else if (!std::isnan(fixed[j])) {
            lo = hi = fixed[j];
        } else if (frame.spacing[j] > 0) {
            // A whole variable moves by whole values; in a region much narrower than one it
            // stays, and only the neighbours try the next value.
            if (radius >= 0.25 * frame.spacing[j]) {
                const double reach = std::max(radius, frame.spacing[j]);
                lo = std::max(-reach, frame.low[j]);
                hi = std::min(reach, frame.high[j]);
            }
        } else {
            lo = std::max(-radius, frame.low[j]);
            hi = std::min(radius, frame.high[j]);
        }
        p.lower[j] = lo / radius;
        p.upper[j] = hi / radius;
    }
    std::vector<double> h(n * n);
    p.g.resize(n);
    double largest = 0;
    for (std::size_t j = 0; j < n; ++j) {
        p.g[j] = models.objective.g[j] * radius;
        largest = std::max(largest, std::abs(p.g[j]));
        for (std::size_t k = 0; k < n; ++k) {
            h[j * n + k] = models.objective.h[j * n + k] * radius * radius;
            largest = std::max(largest, std::abs(h[j * n + k]));
        }
    }
    if (!std::isfinite(largest))
        return std::vector<double>(n, 0.0);
    p.G = detail::convexified(h, m_n, 1e-8 * largest);

    const double tolerance = zyl.constraintTolerance;
    const double margin = m_centre.violation == 0 ? m_margin : 0.0;
    std::vector<std::size_t> rowOf;
    std::vector<double> norms;
    for (std::size_t c = 0; c < models.constraints.size(); ++c) {
        double squares = 0;
        for (std::size_t j = 0; j < n; ++j) {
            const double a = models.constraints[c].g[j] * radius;
            squares += a * a;
        }
        const double norm = std::sqrt(squares);
        // A constraint the model finds flat can be neither kept nor mended by a step.
        if (!(norm > 0) || !std::isfinite(norm))
            continue;
        for (std::size_t j = 0; j < n; ++j)
            p.rows.push_back(models.constraints[c].g[j] * radius / norm);
        p.limits.push_back((tolerance - models.centreConstraints[c]) / norm - margin);
        rowOf.push_back(c);
        norms.push_back(norm);
    }
    std::vector<double> v = detail::solveStep(p);
    // Again with each constraint's curvature along the step: a step to a curved boundary then
    // lands on it rather than beyond.
    for (int pass = 0; pass < kCurvaturePasses && !rowOf.empty(); ++pass) {
        std::vector<double> s(n);
        for (std::size_t j = 0; j < n; ++j)
            s[j] = v[j] * radius;
        for (std::size_t r = 0; r < rowOf.size(); ++r) {
            const std::size_t c = rowOf[r];
            const double bend = models.constraints[c].curvature(s.data());
            p.limits[r] =
                (tolerance - models.centreConstraints[c] - finiteOr(bend, 0)) / norms[r] - margin;
        }
        v = detail::solveStep(p);
    }
    for (double& x : v)
        x *= radius;
    return v;
}

void TrustRegion::spread(ZYL& zyl, const Frame& frame, const std::vector<double>& known,
                         double radius, std::vector<Candidate>& chosen, std::size_t wanted,
                         Role role) const
{
    const auto n = static_cast<std::size_t>(m_n);
    Rng& rng = zyl.rng();
    std::vector<std::vector<double>> directions;
    std::vector<double> d(n, 0.0);
    for (std::size_t j = 0; j < n; ++j) {
        if (frame.half[j] <= 0)
            continue;
        for (double sign : {1.0, -1.0}) {
            std::fill(d.begin(), d.end(), 0.0);
            d[j] = sign;
            directions.push_back(d);
        }
    }
    for (int r = 0; r < kDirectionsPerVariable * m_n; ++r) {
        double squares = 0;
        for (std::size_t j = 0; j < n; ++j) {
            d[j] = frame.half[j] > 0 ? 2 * detail::uniformOpen(rng) - 1 : 0.0;
            squares += d[j] * d[j];
        }
        const double norm = std::sqrt(squares);
        if (!(norm > 0))
            continue;
        for (double& x : d)
            x /= norm;
        directions.push_back(d);
    }
    std::vector<Candidate> pool;
    std::vector<double> s(n);
    for (const std::vector<double>& direction : directions) {
        // Whole variables round to where the radius reaches: in a region narrower than their
        // spacing they stay, and only the neighbours move them.
        for (std::size_t j = 0; j < n; ++j)
            s[j] = direction[j] * radius;
        Candidate c{zyl.templateIndiv, {}, 0, {}};
        c.offsets = frame.place(c.design, s);
        c.print = fingerprint(c.design);
        const auto same = [&c](const Candidate& o) { return o.print == c.print; };
        if (seen(c.print) || std::any_of(chosen.begin(), chosen.end(), same) ||
            std::any_of(pool.begin(), pool.end(), same))
            continue;
        pool.push_back(std::move(c));
    }
    auto distance = [n](const double* a, const double* b) {
        double squares = 0;
        for (std::size_t j = 0; j < n; ++j)
            squares += (a[j] - b[j]) * (a[j] - b[j]);
        return squares;
    };
    // Farthest from everything known, one at a time: each choice counts for the next.
    for (; wanted > 0 && !pool.empty(); --wanted) {
        std::size_t pick = 0;
        double pickScore = -1;
        for (std::size_t k = 0; k < pool.size(); ++k) {
            const double* x = pool[k].offsets.data();
            double score = std::numeric_limits<double>::infinity();
            for (std::size_t row = 0; row + n <= known.size(); row += n)
                score = std::min(score, distance(x, &known[row]));
            for (const Candidate& c : chosen)
                if (c.offsets.size() == n)
                    score = std::min(score, distance(x, c.offsets.data()));
            // Ties (the axes at the start) go to the earlier direction.
            if (score > pickScore * (1 + 1e-9)) {
                pickScore = score;
                pick = k;
            }
        }
        Candidate c = std::move(pool[pick]);
        pool.erase(pool.begin() + static_cast<std::ptrdiff_t>(pick));
        c.slot.role = role;
        c.slot.radius = radius;
        for (double x : c.offsets)
            c.slot.length = std::max(c.slot.length, std::abs(x));
        chosen.push_back(std::move(c));
    }
}

void TrustRegion::predict(const ZYL& zyl, const Models& models, const std::vector<double>& s,
                          Slot& slot) const
{
    // The models' change from the centre, added to the centre's own values.
    const double change = models.objective.at(s.data()) - models.objective.c;
    slot.value = finiteOr(models.centreCost + change, models.centreCost);
    std::vector<double> constraints(models.constraints.size());
    for (std::size_t c = 0; c < constraints.size(); ++c) {
        const detail::Quadratic& q = models.constraints[c];
        constraints[c] = models.centreConstraints[c] + (q.at(s.data()) - q.c);
    }
    slot.violation = finiteOr(zyl.violationOf(constraints.data(), constraints.size()),
                              std::numeric_limits<double>::max());
}

TrustRegion::Candidate TrustRegion::candidate(const ZYL& zyl, const Frame& frame,
                                              const Models& models, double radius,
                                              const std::vector<double>& fixed, Role role) const
{
    const auto n = static_cast<std::size_t>(m_n);
    auto make = [&](const std::vector<double>& pinned) {
        Candidate c{zyl.templateIndiv, {}, 0, {}};
        c.offsets = frame.place(c.design, step(zyl, frame, models, radius, pinned));
        c.slot.role = role;
        c.slot.radius = radius;
        predict(zyl, models, c.offsets, c.slot);
        return c;
    };
    Candidate c = make(fixed);
    bool rounded = false;
    std::vector<double> whole = fixed, kept = fixed;
    for (std::size_t j = 0; j < n; ++j)
        if (frame.spacing[j] > 0 && std::isnan(fixed[j])) {
            whole[j] = c.offsets[j];
            kept[j] = 0;
            rounded = rounded || c.offsets[j] != 0;
        }
    if (rounded) {
        // Rounding moved whole variables: the real ones are fitted again to where they are,
        // and, should the models think that worse than the centre, to where the centre has
        // them.
        c = make(whole);
        if (!ZYL::better(false, c.slot.value, c.slot.violation, cost(m_centre),
                         m_centre.violation)) {
            Candidate stay = make(kept);
            if (ZYL::better(false, stay.slot.value, stay.slot.violation, c.slot.value,
                            c.slot.violation))
                c = std::move(stay);
        }
    }
    c.print = fingerprint(c.design);
    for (double x : c.offsets)
        c.slot.length = std::max(c.slot.length, std::abs(x));
    return c;
}

void TrustRegion::restartAt(ZYL& zyl, std::vector<Candidate>& chosen)
{
    ++m_restarts;
    m_hasCentre = false;
    m_restart = false;
    m_adequate = false;
    m_idle = 0;
    m_margin = 0;
    m_radius = zyl.methodSettings.trust.radius;
    const detail::UnitBox box(zyl);
    Rng& rng = zyl.rng();
    for (int attempt = 0; attempt < kRandomAttempts; ++attempt) {
        Candidate c{zyl.templateIndiv, {}, 0, {}};
        for (int j = 0; j < m_n; ++j)
            box.set(c.design, j, detail::uniformOpen(rng));
        c.print = fingerprint(c.design);
        const auto same = [&c](const Candidate& o) { return o.print == c.print; };
        if (seen(c.print) || std::any_of(chosen.begin(), chosen.end(), same))
            continue;
        const Frame frame(zyl, c.design);
        c.offsets.assign(static_cast<std::size_t>(m_n), 0.0);
        c.slot.role = Role::Fresh;
        chosen.push_back(std::move(c));
        spread(zyl, frame, {}, m_radius, chosen,
               static_cast<std::size_t>(m_popSize) - std::min(chosen.size(), std::size_t(m_popSize)),
               Role::Fresh);
        return;
    }
}

void TrustRegion::propose(ZYL& zyl)
{
    const auto size = static_cast<std::size_t>(zyl.popSize);
    const auto n = static_cast<std::size_t>(m_n);
    std::vector<Candidate> chosen;
    auto offer = [&](Candidate&& c) {
        const auto same = [&c](const Candidate& o) { return o.print == c.print; };
        if (chosen.size() >= size || seen(c.print) ||
            std::any_of(chosen.begin(), chosen.end(), same))
            return false;
        chosen.push_back(std::move(c));
        return true;
    };
    if (m_restart || !m_hasCentre) {
        restartAt(zyl, chosen);
    } else {
        const Frame frame(zyl, m_centre);
        Models models;
        const bool fitted = fitModels(zyl, frame, models);
        m_adequate = fitted && models.adequate;
        if (fitted) {
            // The curvature learnt is the next fit's reference.
            m_curvatures = models.objective.h;
            for (const detail::Quadratic& q : models.constraints)
                m_curvatures.insert(m_curvatures.end(), q.h.begin(), q.h.end());
            if (!std::all_of(m_curvatures.begin(), m_curvatures.end(),
                             [](double x) { return std::isfinite(x); }))
                m_curvatures.clear();
        }
        const std::vector<double> free(n, std::numeric_limits<double>::quiet_NaN());
        if (fitted) {
            // A step to a design evaluated before (a corner of the box, the centre itself)
            // says the region is too wide for the models: it shrinks at once.
            for (int tries = 0; tries < kStepTries; ++tries) {
                if (offer(candidate(zyl, frame, models, m_radius, free, Role::Step)))
                    break;
                m_radius *= 0.5;
            }
            // A second step at another radius, so that a generation finds the radius the
            // models deserve: twice as far after a step that reached the region's edge and
            // came true, a quarter after one that failed. Until the models see the region well,
            // that place is the spread's.
            const bool edge = !chosen.empty() && chosen.back().slot.length >= 0.9 * m_radius;
            if (m_adequate && m_idle == 0 && edge)
                offer(candidate(zyl, frame, models, std::min(2 * m_radius, kMostRadius), free,
                                Role::Probe));
            else if (m_adequate && m_idle > 0)
                offer(candidate(zyl, frame, models, m_radius / 4, free, Role::Probe));
        }
        // Each whole variable one value up and down, the others as they are; those the
        // models find better than the centre come before the spread.
        std::vector<Candidate> neighbours;
        for (std::size_t j = 0; j < n; ++j) {
            if (frame.spacing[j] <= 0 || frame.half[j] <= 0)
                continue;
            for (double sign : {1.0, -1.0}) {
                const double target = sign * frame.spacing[j];
                if (target < frame.low[j] * (1 + 1e-12) || target > frame.high[j] * (1 + 1e-12))
                    continue;
                std::vector<double> fixed = free;
                for (std::size_t k = 0; k < n; ++k)
                    if (frame.spacing[k] > 0)
                        fixed[k] = k == j ? target : 0.0;
                if (fitted) {
                    // The real variables follow as far as the first radius: the next whole
                    // value may need them far from where the centre has them.
                    neighbours.push_back(candidate(
                        zyl, frame, models, std::max(m_radius, zyl.methodSettings.trust.radius),
                        fixed, Role::Neighbour));
                } else {
                    Candidate c{zyl.templateIndiv, {}, 0, {}};
                    for (double& x : fixed)
                        x = std::isnan(x) ? 0.0 : x;
                    c.offsets = frame.place(c.design, fixed);
                    c.print = fingerprint(c.design);
                    c.slot.role = Role::Neighbour;
                    c.slot.radius = m_radius;
                    c.slot.value = cost(m_centre);
                    neighbours.push_back(std::move(c));
                }
            }
        }
        std::stable_sort(neighbours.begin(), neighbours.end(),
                         [](const Candidate& a, const Candidate& b) {
                             return ZYL::better(false, a.slot.value, a.slot.violation,
                                                b.slot.value, b.slot.violation);
                         });
        std::vector<Candidate> later;
        for (Candidate& c : neighbours) {
            if (fitted && ZYL::better(false, c.slot.value, c.slot.violation, cost(m_centre),
                                      m_centre.violation))
                offer(std::move(c));
            else
                later.push_back(std::move(c));
        }
        if (chosen.size() < size)
            spread(zyl, frame, models.points, m_radius, chosen, size - chosen.size(),
                   Role::Spread);
        for (Candidate& c : later)
            offer(std::move(c));
        // Nothing new near the centre: the search has converged.
        if (chosen.empty())
            restartAt(zyl, chosen);
    }
    // A box too small for a generation of new designs: new ones anywhere, then known ones.
    const detail::UnitBox box(zyl);
    for (int attempt = 0; chosen.size() < size && attempt < kRandomAttempts * zyl.popSize;
         ++attempt) {
        Candidate c{zyl.templateIndiv, {}, 0, {}};
        for (int j = 0; j < m_n; ++j)
            box.set(c.design, j, detail::uniformOpen(zyl.rng()));
        c.print = fingerprint(c.design);
        c.slot.role = Role::Spread;
        offer(std::move(c));
    }

    m_slots.assign(size, Slot{});
    std::size_t recent = m_archive.size();
    std::vector<char> screened(size, 0);
    for (std::size_t i = 0; i < size; ++i) {
        if (i < chosen.size()) {
            zyl.population[i] = chosen[i].design;
            m_slots[i] = chosen[i].slot;
            remember(chosen[i].print);
        } else if (recent > 0) {
            zyl.population[i] = m_archive[--recent];
            m_slots[i].role = Role::Known;
        } else {
            zyl.population[i] = m_centre;
            m_slots[i].role = Role::Known;
        }
        screened[i] = zyl.population[i].screened;
    }
    zyl.prepareForEvaluation();
    // Known designs keep their values (or that they were ruled out): nothing is evaluated
    // twice.
    for (std::size_t i = chosen.size(); i < size; ++i) {
        zyl.population[i].evaluated = true;
        zyl.population[i].screened = screened[i] != 0;
    }
}

} // namespace zyl
