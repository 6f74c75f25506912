#include "engine/Cmaes.h"

#include "common/Exception.h"
#include "engine/RadixSort.h"
#include "engine/Zyl.h"

#include <algorithm>
#include <cmath>

namespace zyl {

namespace {

constexpr std::int64_t kStateFormat = 1;
// Samples of an iteration times variables: the best half of an iteration that spans several
// generations is kept in memory and in every snapshot of a run store, so a restart stops
// growing the population at about a quarter of a million values.
constexpr std::int64_t kMostSampleValues = std::int64_t(1) << 18;
// When a search has converged, in widths of the unit cube and relative to the best value.
constexpr double kLeastStep = 1e-12;
constexpr double kFlatValues = 1e-12;
// Beyond this ratio of the longest axis to the shortest, the covariance is mostly rounding.
constexpr double kMostCondition = 1e14;
// A step of a thousand cube widths samples the box as a uniform draw would: nothing to adapt.
constexpr double kWidestStep = 1e3;
// The least spread of a whole-numbered variable, in steps between two of its values: a sample
// at the middle of a value's cell then takes a neighbour about once in 160 draws.
constexpr double kWholeMargin = 0.2;

/// The value in [0; 1] that x reaches when the unit interval is mirrored at each of its ends,
/// again and again: continuous, and the identity inside the interval.
double reflect(double x)
{
    if (!std::isfinite(x))
        return 0.5;
    // Without a branch on the value: whether a sample lies inside or not is a coin toss when
    // the step is wide.
    const double r = x - 2 * std::floor(x / 2);
    return std::min(r, 2 - r);
}

/// The weights of the best `mu` samples in a recombination: decreasing, summing to 1.
std::vector<double> recombinationWeights(std::int64_t mu)
{
    std::vector<double> w(static_cast<std::size_t>(mu));
    double sum = 0;
    for (std::int64_t i = 0; i < mu; ++i)
        sum += w[static_cast<std::size_t>(i)] =
            std::log(static_cast<double>(mu) + 0.5) - std::log(static_cast<double>(i + 1));
    for (double& x : w)
        x /= sum;
    return w;
}

/// The learning rates and damping of one iteration, by the usual formulas of the method.
struct Rates {
    Rates(int n, const std::vector<double>& weights)
        : mu(static_cast<std::int64_t>(weights.size())), weights(weights)
    {
        double squares = 0;
        for (double w : weights)
            squares += w * w;
        const double dn = n;
        mueff = 1 / squares;
        cs = (mueff + 2) / (dn + mueff + 5);
        ds = 1 + 2 * std::max(0.0, std::sqrt((mueff - 1) / (dn + 1)) - 1) + cs;
        cc = (4 + mueff / dn) / (dn + 4 + 2 * mueff / dn);
        c1 = 2 / ((dn + 1.3) * (dn + 1.3) + mueff);
        cmu = std::min(1 - c1, 2 * (mueff - 2 + 1 / mueff) / ((dn + 2) * (dn + 2) + mueff));
        chiN = std::sqrt(dn) * (1 - 1 / (4 * dn) + 1 / (21 * dn * dn));
    }
    std::int64_t mu;
    const std::vector<double>& weights;
    double mueff, cs, ds, cc, c1, cmu, chiN;
};

/// The share of the recombined step that the mean moves, when the script leaves it open.
/// An iteration that selects more samples than there are variables is that large to see past
/// a rugged objective's local structure, and a whole step lets that structure's noise steer
/// the mean: with half steps, Rastrigin's function in 10 variables (population 100) ended
/// below 1 in 59 of 66 runs at 20000 evaluations, against 34 with whole ones. Moving by part
/// of each step averages the steps of a few iterations, much as a larger population would,
/// so an iteration that a restart has already grown takes whole steps: it has fewer
/// iterations left to converge in (Schwefel's function in 30 variables at 100000
/// evaluations: within 1 in 8 of 11 runs so, 1 of 11 with half steps). The step size's path
/// still follows the whole step, so on a smooth objective the step size grows to make up
/// for a smaller rate.
double meanRate(double chosen, int n, double mueff, bool grown)
{
    if (chosen > 0)
        return chosen;
    if (grown)
        return 1.0;
    return std::clamp(static_cast<double>(n) / mueff, 0.5, 1.0);
}

/// Iterations whose best values are compared before a search counts as flat.
std::size_t historyLength(int n, std::int64_t lambda)
{
    return static_cast<std::size_t>(10 + (30 * std::int64_t(n) + lambda - 1) / lambda);
}

/// Generations per iteration at a (re)start: the method wants at least 4 + 3 ln n samples.
std::int64_t firstFactor(std::int64_t n, std::int64_t popSize)
{
    const double wanted = 4 + std::floor(3 * std::log(static_cast<double>(n)));
    return std::max<std::int64_t>(
        1, static_cast<std::int64_t>(std::ceil(wanted / static_cast<double>(popSize))));
}

/// The most generations per iteration the restarts grow to.
std::int64_t mostFactor(std::int64_t n, std::int64_t popSize)
{
    return popSize * n > 0 ? std::max<std::int64_t>(1, kMostSampleValues / (popSize * n)) : 1;
}

} // namespace

std::int64_t Cmaes::lambda(const ZYL& zyl) const { return m_factor * zyl.popSize; }

bool Cmaes::next(ZYL& zyl, const std::atomic<bool>*)
{
    if (zyl.count() == 0) {
        zyl.prepareForEvaluation();
        return true;
    }
    m_maximise = zyl.maximise;
    if (m_mean.empty()) {
        start(zyl);
        beginIteration(zyl);
        install(zyl);
        return true;
    }
    const bool ends = m_slice + 1 >= m_factor;
    admit(zyl, !ends);
    if (!ends) {
        ++m_slice;
        install(zyl);
        return true;
    }
    const std::vector<Ranked>& ranked = rankIteration(zyl);
    update(zyl, ranked);
    const Indiv& best = *ranked.front().individual;
    const Indiv& lastChosen = *ranked.back().individual;
    if (worthRestarting(zyl, best, lastChosen))
        restart(zyl);
    beginIteration(zyl);
    install(zyl);
    return true;
}

void Cmaes::admit(const ZYL& zyl, bool copy)
{
    // Only the best half of an iteration moves the distribution. The candidates pile up
    // unordered and are cut back to the best half whenever they reach twice as many, the worst
    // of that half turning later samples away with one comparison: a constant cost per
    // sample, where ranking every generation against all that were kept cost as much as the
    // rest of the method.
    const std::size_t keep = static_cast<std::size_t>(std::max<std::int64_t>(1, lambda(zyl) / 2));
    const std::int64_t base = m_slice * zyl.popSize;
    for (std::size_t i = 0; i < zyl.population.size(); ++i) {
        const Indiv& individual = zyl.population[i];
        Kept entrant{individual.value, individual.violation,
                     base + static_cast<std::int64_t>(i), -1, static_cast<int>(i),
                     individual.screened};
        // Every sample kept has a lower number: the entrant must rank strictly better.
        if (m_bar && !before(entrant, *m_bar))
            continue;
        if (copy) {
            if (m_free.empty()) {
                entrant.slot = static_cast<int>(m_pool.size());
                m_pool.push_back(individual);
            } else {
                entrant.slot = m_free.back();
                m_free.pop_back();
                m_pool[static_cast<std::size_t>(entrant.slot)] = individual;
            }
        }
        m_kept.push_back(entrant);
        if (m_kept.size() > 2 * keep)
            cutKept(keep);
    }
}

void Cmaes::orderKept(std::vector<Kept>& kept, OrderRoom& room) const
{
    const bool plain = std::all_of(kept.begin(), kept.end(), [](const Kept& k) {
        return k.violation == 0 && !std::isnan(k.value) && !k.screened;
    });
    if (!plain) {
        std::sort(kept.begin(), kept.end(),
                  [this](const Kept& a, const Kept& b) { return before(a, b); });
        return;
    }
    // The values decide, -0 and 0 alike, by a stable sort: among equal values the candidates
    // are in sample order already (those kept by an earlier cut first, then the later ones as
    // they came), so the ties end in sample order, as before() has them.
    room.keys.resize(kept.size());
    for (std::size_t i = 0; i < kept.size(); ++i) {
        const double value = m_maximise ? -kept[i].value : kept[i].value;
        room.keys[i] = {detail::orderedBits(value == 0 ? 0.0 : value),
                        static_cast<std::uint32_t>(i)};
    }
    detail::radixSort(room.keys, room.spareKeys, [](const KeyIndex& k) { return k.key; });
    room.spareKept.resize(kept.size());
    for (std::size_t i = 0; i < room.keys.size(); ++i)
        room.spareKept[i] = kept[room.keys[i].index];
    kept.swap(room.spareKept);
}

void Cmaes::cutKept(std::size_t keep)
{
    orderKept(m_kept, m_room);
    if (m_kept.size() <= keep)
        return;
    m_bar = m_kept[keep - 1];
    for (std::size_t k = keep; k < m_kept.size(); ++k)
        if (m_kept[k].slot >= 0)
            m_free.push_back(m_kept[k].slot);
    m_kept.resize(keep);
}

const std::vector<Cmaes::Ranked>& Cmaes::rankIteration(const ZYL& zyl)
{
    cutKept(static_cast<std::size_t>(std::max<std::int64_t>(1, lambda(zyl) / 2)));
    m_ranked.clear();
    for (const Kept& k : m_kept)
        m_ranked.push_back({k.slot >= 0 ? &m_pool[static_cast<std::size_t>(k.slot)]
                                        : &zyl.population[static_cast<std::size_t>(k.index)],
                            k.sample});
    return m_ranked;
}

void Cmaes::start(const ZYL& zyl)
{
    m_n = zyl.count();
    m_popSize = zyl.popSize;
    m_factor = firstFactor(m_n, zyl.popSize);
    m_restarts = 0;
    resetDistribution(zyl, zyl.methodSettings.cmaes.step);
    // The population at hand has been evaluated: the weighted mean of its better half is a
    // better place to begin than any point drawn blind.
    std::vector<const Indiv*> order;
    detail::rankOrder(zyl, zyl.population.data(), zyl.population.size(), order);
    const std::vector<double> w =
        recombinationWeights(std::max<std::int64_t>(1, std::int64_t(order.size()) / 2));
    const detail::UnitBox box(zyl);
    for (int j = 0; j < m_n; ++j) {
        double mean = 0;
        for (std::size_t i = 0; i < w.size(); ++i)
            mean += w[i] * box.toUnit(j, order[i]->gene(j)->getValue());
        m_mean[static_cast<std::size_t>(j)] = mean;
    }
}

void Cmaes::resetDistribution(const ZYL& zyl, double step)
{
    const std::size_t n = static_cast<std::size_t>(m_n);
    m_sigma = step;
    m_mean.assign(n, 0.5);
    m_ps.assign(n, 0.0);
    m_pc.assign(n, 0.0);
    m_C.assign(n * n, 0.0);
    m_B.assign(n * n, 0.0);
    for (std::size_t j = 0; j < n; ++j)
        m_C[j * n + j] = m_B[j * n + j] = 1.0;
    m_D.assign(n, 1.0);
    m_iteration = 0;
    m_decomposed = 0;
    m_history.clear();
    m_history.reserve(historyLength(m_n, lambda(zyl)));
}

void Cmaes::beginIteration(ZYL& zyl)
{
    Rng& rng = zyl.rng();
    const auto high = static_cast<std::uint64_t>(rng.randomInt31());
    m_seed = (high << 31) | static_cast<std::uint64_t>(rng.randomInt31());
    drawSamples(zyl);
    m_slice = 0;
    // The pool's individuals stay, to be overwritten by the next iteration's samples.
    m_kept.clear();
    m_bar.reset();
    m_free.resize(m_pool.size());
    for (std::size_t slot = 0; slot < m_pool.size(); ++slot)
        m_free[slot] = static_cast<int>(m_pool.size() - 1 - slot);
}

void Cmaes::install(ZYL& zyl)
{
    const detail::UnitBox box(zyl);
    const std::size_t n = static_cast<std::size_t>(m_n);
    const std::size_t first = static_cast<std::size_t>(m_slice * zyl.popSize);
    m_u.resize(n);
    for (std::size_t i = 0; i < zyl.population.size(); ++i) {
        const double* y = &m_y[(first + i) * n];
        for (std::size_t j = 0; j < n; ++j)
            m_u[j] = reflect(m_mean[j] + m_sigma * y[j]);
        box.setAll(zyl.population[i], m_u.data());
    }
    zyl.prepareForEvaluation();
}

void Cmaes::drawSamples(const ZYL& zyl)
{
    // The whole iteration at once, from a generator of its own: a resumed run draws the same
    // samples again from the seed, so they need not be stored.
    const std::size_t n = static_cast<std::size_t>(m_n);
    const std::size_t count = static_cast<std::size_t>(lambda(zyl)) * n;
    m_z.resize(count);
    m_y.resize(count);
    LcgRng generator(m_seed);
    detail::NormalSource normal(generator);
    normal.fill(m_z.data(), m_z.size());
    for (std::size_t start = 0; start < count; start += n)
        for (std::size_t r = 0; r < n; ++r) {
            double sum = 0;
            for (std::size_t c = 0; c < n; ++c)
                sum += m_B[r * n + c] * (m_D[c] * m_z[start + c]);
            m_y[start + r] = sum;
        }
}

void Cmaes::update(const ZYL& zyl, const std::vector<Ranked>& ranked)
{
    const std::size_t n = static_cast<std::size_t>(m_n);
    const std::int64_t lambda = this->lambda(zyl);
    const std::size_t half = static_cast<std::size_t>(std::max<std::int64_t>(1, lambda / 2));
    if (m_weights.size() != half)
        m_weights = recombinationWeights(static_cast<std::int64_t>(half));
    const Rates k(m_n, m_weights);
    const std::size_t mu = static_cast<std::size_t>(k.mu);
    std::vector<double> zw(n, 0.0), yw(n, 0.0);
    std::vector<const double*> ys(mu);
    for (std::size_t i = 0; i < mu; ++i) {
        const std::size_t row = static_cast<std::size_t>(ranked[i].sample) * n;
        const double* z = &m_z[row];
        const double* y = ys[i] = &m_y[row];
        const double w = k.weights[i];
        for (std::size_t j = 0; j < n; ++j) {
            zw[j] += w * z[j];
            yw[j] += w * y[j];
        }
    }
    const double rate = meanRate(zyl.methodSettings.cmaes.meanRate, m_n, k.mueff,
                                 m_factor > firstFactor(m_n, zyl.popSize));
    for (std::size_t j = 0; j < n; ++j)
        m_mean[j] += rate * m_sigma * yw[j];

    // The conjugate path: the mean's steps as if the covariance were the identity.
    const double psWeight = std::sqrt(k.cs * (2 - k.cs) * k.mueff);
    double psSquares = 0;
    for (std::size_t r = 0; r < n; ++r) {
        double bz = 0;
        for (std::size_t c = 0; c < n; ++c)
            bz += m_B[r * n + c] * zw[c];
        m_ps[r] = (1 - k.cs) * m_ps[r] + psWeight * bz;
        psSquares += m_ps[r] * m_ps[r];
    }
    const double psNorm = std::sqrt(psSquares);
    // A long conjugate path means the step size is growing: the covariance's own path then
    // stalls, so that the covariance does not stretch too fast.
    const double unbiased =
        psNorm / std::sqrt(1 - std::pow(1 - k.cs, 2.0 * static_cast<double>(m_iteration + 1)));
    const bool steady = unbiased / k.chiN < 1.4 + 2.0 / (static_cast<double>(n) + 1);
    const double pcWeight = std::sqrt(k.cc * (2 - k.cc) * k.mueff);
    for (std::size_t j = 0; j < n; ++j)
        m_pc[j] = (1 - k.cc) * m_pc[j] + (steady ? pcWeight * yw[j] : 0.0);

    const double keep = 1 - k.c1 - k.cmu + (steady ? 0.0 : k.c1 * k.cc * (2 - k.cc));
    for (std::size_t r = 0; r < n; ++r)
        for (std::size_t c = 0; c <= r; ++c) {
            double rankMu = 0;
            for (std::size_t i = 0; i < mu; ++i)
                rankMu += k.weights[i] * ys[i][r] * ys[i][c];
            const double v = keep * m_C[r * n + c] + k.c1 * m_pc[r] * m_pc[c] + k.cmu * rankMu;
            m_C[r * n + c] = m_C[c * n + r] = v;
        }
    m_sigma *= std::exp(std::min(1.0, (k.cs / k.ds) * (psNorm / k.chiN - 1)));
    ++m_iteration;

    // An integer (or Boolean) variable whose spread has shrunk inside one whole value would
    // never take another: its variance is kept wide enough that a neighbouring value is
    // still drawn now and then, as a real variable would still move a little.
    const detail::UnitBox box(zyl);
    bool widened = false;
    for (std::size_t j = 0; j < n; ++j) {
        const double least = kWholeMargin * box.spacing(static_cast<int>(j)) / m_sigma;
        if (m_C[j * n + j] < least * least) {
            m_C[j * n + j] = least * least;
            widened = true;
        }
    }

    m_history.push_back(ranked.front().individual->value);
    const std::size_t length = historyLength(m_n, lambda);
    if (m_history.size() > length)
        m_history.erase(m_history.begin(),
                        m_history.begin() + static_cast<std::ptrdiff_t>(m_history.size() - length));

    // The decomposition costs n^3: it is renewed only as often as the covariance changes
    // noticeably.
    const double gap = static_cast<double>(lambda) / ((k.c1 + k.cmu) * static_cast<double>(n) * 10);
    if (widened || static_cast<double>(m_iteration - m_decomposed) >= std::max(1.0, gap)) {
        decompose();
        m_decomposed = m_iteration;
    }
}

bool Cmaes::worthRestarting(const ZYL& zyl, const Indiv& best, const Indiv& lastChosen) const
{
    const std::size_t n = static_cast<std::size_t>(m_n);
    if (!(m_sigma > 0) || !std::isfinite(m_sigma))
        return true;
    const auto [least, most] = std::minmax_element(m_D.begin(), m_D.end());
    if (!(*least > 0) || !std::isfinite(*most) || *most > *least * std::sqrt(kMostCondition))
        return true;
    if (m_sigma * *most > kWidestStep)
        return true;
    const detail::UnitBox box(zyl);
    // Only real variables can shrink to nothing: without one, the values going flat are what
    // ends a search.
    bool tiny = true, anyReal = false;
    for (std::size_t j = 0; j < n; ++j) {
        if (!std::isfinite(m_mean[j]))
            return true;
        // Whole-numbered variables keep a spread of their own (see update).
        if (box.spacing(static_cast<int>(j)) > 0)
            continue;
        anyReal = true;
        const double spread = std::sqrt(m_C[j * n + j]);
        // A step that no longer changes the mean in some coordinate.
        if (m_mean[j] + 0.2 * m_sigma * spread == m_mean[j])
            return true;
        tiny = tiny && m_sigma * std::max(std::abs(m_pc[j]), spread) < kLeastStep;
    }
    if (anyReal && tiny)
        return true;
    // A step along one principal axis (a different one each iteration) that changes nothing.
    const std::size_t axis = static_cast<std::size_t>(m_iteration % m_n);
    bool moves = false;
    for (std::size_t j = 0; j < n && !moves; ++j)
        moves = m_mean[j] + 0.1 * m_sigma * m_D[axis] * m_B[j * n + axis] != m_mean[j];
    if (!moves)
        return true;
    // Values that no longer differ: the best of the latest iterations, and the samples that
    // this one chose.
    if (m_history.size() >= historyLength(m_n, lambda(zyl))) {
        const auto [low, high] = std::minmax_element(m_history.begin(), m_history.end());
        const double tolerance = kFlatValues * std::max(1.0, std::abs(best.value));
        if (*high - *low <= tolerance && std::abs(lastChosen.value - best.value) <= tolerance)
            return true;
    }
    const double dn = static_cast<double>(m_n);
    return static_cast<double>(m_iteration) >=
           100 + 50 * (dn + 3) * (dn + 3) / std::sqrt(static_cast<double>(lambda(zyl)));
}

void Cmaes::restart(ZYL& zyl)
{
    const CmaesSettings& settings = zyl.methodSettings.cmaes;
    const bool healthy = m_sigma > 0 && std::isfinite(m_sigma) &&
                         std::all_of(m_D.begin(), m_D.end(), [](double d) {
                             return d > 0 && std::isfinite(d);
                         });
    if (m_restarts >= settings.restarts) {
        // The restarts are spent: a converged search refines its optimum to the end; one whose
        // numbers broke down starts again, without a larger population.
        if (healthy)
            return;
    } else {
        ++m_restarts;
        const std::int64_t cap = mostFactor(m_n, zyl.popSize);
        m_factor = std::max(m_factor, std::min(m_factor * std::max(1, settings.growth), cap));
    }
    resetDistribution(zyl, settings.step);
    for (double& x : m_mean)
        x = detail::uniformOpen(zyl.rng());
}

void Cmaes::decompose()
{
    // Cyclic Jacobi rotations: slower than a tridiagonal reduction for many variables, but
    // simple and accurate, and the covariance is decomposed only every so many iterations.
    const std::size_t n = static_cast<std::size_t>(m_n);
    std::vector<double> a = m_C;
    std::vector<double> v(n * n, 0.0);
    for (std::size_t j = 0; j < n; ++j)
        v[j * n + j] = 1.0;
    for (int sweep = 0; sweep < 64; ++sweep) {
        double off = 0, diagonal = 0;
        for (std::size_t p = 0; p < n; ++p) {
            diagonal += a[p * n + p] * a[p * n + p];
            for (std::size_t q = p + 1; q < n; ++q)
                off += a[p * n + q] * a[p * n + q];
        }
        if (!(off > 1e-30 * diagonal))
            break;
        for (std::size_t p = 0; p + 1 < n; ++p)
            for (std::size_t q = p + 1; q < n; ++q) {
                const double apq = a[p * n + q];
                if (apq == 0)
                    continue;
                const double theta = (a[q * n + q] - a[p * n + p]) / (2 * apq);
                const double t = std::abs(theta) > 1e150
                                     ? 1 / (2 * theta)
                                     : (theta < 0 ? -1.0 : 1.0) /
                                           (std::abs(theta) + std::sqrt(theta * theta + 1));
                const double c = 1 / std::sqrt(t * t + 1), s = t * c;
                for (std::size_t r = 0; r < n; ++r) {
                    const double arp = a[r * n + p], arq = a[r * n + q];
                    a[r * n + p] = c * arp - s * arq;
                    a[r * n + q] = s * arp + c * arq;
                }
                for (std::size_t r = 0; r < n; ++r) {
                    const double apr = a[p * n + r], aqr = a[q * n + r];
                    a[p * n + r] = c * apr - s * aqr;
                    a[q * n + r] = s * apr + c * aqr;
                }
                a[p * n + q] = a[q * n + p] = 0;
                for (std::size_t r = 0; r < n; ++r) {
                    const double vrp = v[r * n + p], vrq = v[r * n + q];
                    v[r * n + p] = c * vrp - s * vrq;
                    v[r * n + q] = s * vrp + c * vrq;
                }
            }
    }
    m_B = v;
    // A covariance that rounding made slightly indefinite gets a tiny axis, which the
    // condition test then takes for the breakdown it is.
    for (std::size_t j = 0; j < n; ++j)
        m_D[j] = std::sqrt(std::max(a[j * n + j], 1e-300));
}

MethodState Cmaes::save() const
{
    MethodState state;
    if (m_mean.empty())
        return state;
    // The best half so far, in rank order, as a whole iteration would be ranked.
    std::vector<Kept> kept = m_kept;
    const auto keep = static_cast<std::size_t>(std::max<std::int64_t>(1, m_factor * m_popSize / 2));
    OrderRoom room;
    orderKept(kept, room);
    kept.resize(std::min(kept.size(), keep));
    state.counts = {kStateFormat,
                    m_n,
                    m_popSize,
                    m_factor,
                    m_restarts,
                    m_iteration,
                    m_decomposed,
                    static_cast<std::int64_t>(m_seed),
                    m_slice,
                    static_cast<std::int64_t>(m_history.size()),
                    static_cast<std::int64_t>(kept.size())};
    for (const Kept& k : kept)
        state.counts.push_back(k.sample);
    state.reals.push_back(m_sigma);
    for (const auto* part : {&m_mean, &m_ps, &m_pc, &m_C, &m_B, &m_D, &m_history})
        state.reals.insert(state.reals.end(), part->begin(), part->end());
    for (const Kept& k : kept)
        state.individuals.push_back(m_pool[static_cast<std::size_t>(k.slot)]);
    return state;
}

void Cmaes::restore(const MethodState& state, const ZYL& zyl)
{
    *this = Cmaes();
    const auto& c = state.counts;
    auto refuse = [](const char* what) {
        throw Exception(std::string("the state of the CMA-ES ") + what);
    };
    constexpr std::size_t fixed = 11;
    if (c.size() < fixed || c[0] != kStateFormat || c[1] != zyl.count() || zyl.count() == 0 ||
        c[2] != zyl.popSize)
        refuse("is not of this task");
    const std::int64_t n = c[1], factor = c[3], slice = c[8], history = c[9], kept = c[10];
    const std::int64_t popSize = zyl.popSize;
    if (factor < 1 || factor > kMostSampleValues || factor * popSize > 2 * kMostSampleValues ||
        c[4] < 0 || c[5] < 0 || c[6] < 0 || c[6] > c[5] || slice < 0 || slice >= factor ||
        history < 0 || history > 100000 || kept < 0 ||
        kept > factor * popSize / 2 || c.size() != fixed + static_cast<std::size_t>(kept))
        refuse("holds impossible counts");
    // A run grows its population only up to the cap of restart(): beyond it a state would
    // make every sample of an iteration held at once cost more than memory holds.
    if (factor > std::max(firstFactor(n, popSize), mostFactor(n, popSize)))
        refuse("holds impossible counts");
    for (std::size_t k = fixed; k < c.size(); ++k)
        if (c[k] < 0 || c[k] >= slice * popSize)
            refuse("holds impossible counts");
    const auto un = static_cast<std::size_t>(n);
    if (state.reals.size() != 1 + 4 * un + 2 * un * un + static_cast<std::size_t>(history) ||
        state.individuals.size() != static_cast<std::size_t>(kept))
        refuse("has the wrong size");
    for (double x : state.reals)
        if (!std::isfinite(x))
            refuse("holds a number that is not finite");
    for (const Indiv& ind : state.individuals)
        if (ind.count() != zyl.count())
            refuse("has the wrong size");

    Cmaes restored;
    restored.m_n = static_cast<int>(n);
    restored.m_popSize = zyl.popSize;
    restored.m_factor = factor;
    restored.m_restarts = c[4];
    restored.m_iteration = c[5];
    restored.m_decomposed = c[6];
    restored.m_seed = static_cast<std::uint64_t>(c[7]);
    restored.m_slice = slice;
    std::size_t from = 0;
    auto take = [&state, &from](std::vector<double>& part, std::size_t length) {
        part.assign(state.reals.begin() + static_cast<std::ptrdiff_t>(from),
                    state.reals.begin() + static_cast<std::ptrdiff_t>(from + length));
        from += length;
    };
    restored.m_sigma = state.reals[from++];
    take(restored.m_mean, un);
    take(restored.m_ps, un);
    take(restored.m_pc, un);
    take(restored.m_C, un * un);
    take(restored.m_B, un * un);
    take(restored.m_D, un);
    take(restored.m_history, static_cast<std::size_t>(history));
    if (!(restored.m_sigma > 0) ||
        !std::all_of(restored.m_D.begin(), restored.m_D.end(), [](double d) { return d > 0; }))
        refuse("holds a step that is not positive");
    restored.m_maximise = zyl.maximise;
    restored.m_pool = state.individuals;
    for (std::size_t slot = 0; slot < restored.m_pool.size(); ++slot) {
        const Indiv& individual = restored.m_pool[slot];
        restored.m_kept.push_back({individual.value, individual.violation,
                                   c[fixed + slot], static_cast<int>(slot), -1,
                                   individual.screened});
    }

    restored.drawSamples(zyl);
    *this = std::move(restored);
}

} // namespace zyl
