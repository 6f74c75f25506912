#include "engine/LocalModels.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>

namespace zyl::detail {

namespace {

// The penalties on the first and second derivatives, as shares of their columns' weight in
// the fit: small enough to vanish wherever the points settle a coefficient (whatever its
// scale: the points near a small region's centre hardly show its curvature against those
// farther out), large enough to settle what the points leave open. The first derivatives'
// is far the fainter: where the points leave the curvature open, it must change rather than
// the slope, which the points do settle.
constexpr double kGradientPenalty = 1e-19;
constexpr double kCurvaturePenalty = 1e-11;
// A column this much lighter than the heaviest is all but empty (a variable the points hardly
// move): its coefficient is held at its reference, rather than taking up the others' rounding.
constexpr double kEmptyColumn = 1e-8;

std::size_t columnCount(int n, bool cross)
{
    const auto un = static_cast<std::size_t>(n);
    return 1 + 2 * un + (cross ? un * (un - 1) / 2 : 0);
}

/// Solves A x = b in place by Gaussian elimination with partial pivoting (A is k x k, row by
/// row); false when a pivot is negligible against the largest entry.
bool solveDense(std::vector<double>& a, std::vector<double>& b, std::size_t k)
{
    double largest = 0;
    for (double x : a)
        largest = std::max(largest, std::abs(x));
    if (!(largest > 0) || !std::isfinite(largest))
        return false;
    for (std::size_t col = 0; col < k; ++col) {
        std::size_t pivot = col;
        for (std::size_t r = col + 1; r < k; ++r)
            if (std::abs(a[r * k + col]) > std::abs(a[pivot * k + col]))
                pivot = r;
        if (!(std::abs(a[pivot * k + col]) > 1e-14 * largest))
            return false;
        if (pivot != col) {
            for (std::size_t c = 0; c < k; ++c)
                std::swap(a[col * k + c], a[pivot * k + c]);
            std::swap(b[col], b[pivot]);
        }
        const double diagonal = a[col * k + col];
        for (std::size_t r = col + 1; r < k; ++r) {
            const double factor = a[r * k + col] / diagonal;
            if (factor == 0)
                continue;
            for (std::size_t c = col; c < k; ++c)
                a[r * k + c] -= factor * a[col * k + c];
            b[r] -= factor * b[col];
        }
    }
    for (std::size_t r = k; r-- > 0;) {
        double sum = b[r];
        for (std::size_t c = r + 1; c < k; ++c)
            sum -= a[r * k + c] * b[c];
        b[r] = sum / a[r * k + r];
    }
    return true;
}

/// Whether the symmetric matrix `a` (k x k) has a Cholesky factor whose pivots all exceed
/// `least`.
bool definite(const std::vector<double>& a, std::size_t k, double least)
{
    std::vector<double> l(k * k, 0.0);
    for (std::size_t j = 0; j < k; ++j) {
        double d = a[j * k + j];
        for (std::size_t p = 0; p < j; ++p)
            d -= l[j * k + p] * l[j * k + p];
        if (!(d > least))
            return false;
        const double root = std::sqrt(d);
        l[j * k + j] = root;
        for (std::size_t i = j + 1; i < k; ++i) {
            double s = a[i * k + j];
            for (std::size_t p = 0; p < j; ++p)
                s -= l[i * k + p] * l[j * k + p];
            l[i * k + j] = s / root;
        }
    }
    return true;
}

} // namespace

double Quadratic::curvature(const double* s) const
{
    const std::size_t n = g.size();
    double sum = 0;
    for (std::size_t r = 0; r < n; ++r) {
        double row = 0;
        for (std::size_t c = 0; c < n; ++c)
            row += h[r * n + c] * s[c];
        sum += s[r] * row;
    }
    return sum / 2;
}

double Quadratic::at(const double* s) const
{
    double linear = 0;
    for (std::size_t j = 0; j < g.size(); ++j)
        linear += g[j] * s[j];
    return c + linear + curvature(s);
}

QuadraticFit::QuadraticFit(int n, bool crossTerms, const std::vector<double>& points,
                           const std::vector<double>& weights)
    : m_n(n), m_cross(crossTerms), m_points(points)
{
    const auto un = static_cast<std::size_t>(n);
    const std::size_t count = weights.size();
    const std::size_t columns = columnCount(n, crossTerms);
    const std::size_t rows = count + columns - 1;
    m_rows = static_cast<int>(rows);
    m_columns = static_cast<int>(columns);
    // The points scaled into the unit cube, so that the penalties mean the same at any radius.
    double reach = 0;
    for (double x : points)
        reach = std::max(reach, std::abs(x));
    m_scale = reach > 0 && std::isfinite(reach) ? reach : 1.0;
    m_weights.resize(count);
    for (std::size_t i = 0; i < count; ++i)
        m_weights[i] = std::sqrt(weights[i]);

    // Column by column: the point rows, then one penalty row per coefficient but the level.
    m_qr.assign(rows * columns, 0.0);
    auto at = [this, rows](std::size_t r, std::size_t c) -> double& { return m_qr[c * rows + r]; };
    for (std::size_t i = 0; i < count; ++i) {
        const double w = m_weights[i];
        const double* y = &points[i * un];
        std::size_t c = 0;
        at(i, c++) = w;
        for (std::size_t j = 0; j < un; ++j)
            at(i, c++) = w * (y[j] / m_scale);
        for (std::size_t j = 0; j < un; ++j) {
            const double z = y[j] / m_scale;
            at(i, c++) = w * z * z / 2;
        }
        if (crossTerms)
            for (std::size_t j = 0; j < un; ++j)
                for (std::size_t k = j + 1; k < un; ++k)
                    at(i, c++) = w * (y[j] / m_scale) * (y[k] / m_scale);
    }
    std::vector<double> filled(columns, 0.0);
    for (std::size_t c = 0; c < columns; ++c)
        for (std::size_t i = 0; i < count; ++i)
            filled[c] += at(i, c) * at(i, c);
    // Each column against the heaviest of its kind: the second-order ones are lighter than
    // the first-order ones by the square of the points' reach.
    const auto firstOrder = filled.begin() + 1, secondOrder = firstOrder + static_cast<std::ptrdiff_t>(un);
    const double emptySlope =
        std::max(kEmptyColumn * *std::max_element(firstOrder, secondOrder), 1e-300);
    const double emptyBend =
        std::max(kEmptyColumn * *std::max_element(secondOrder, filled.end()), 1e-300);
    for (std::size_t c = 1; c < columns; ++c) {
        // A cross term stands for two entries of H.
        const double penalty =
            c <= un ? kGradientPenalty : (c <= 2 * un ? kCurvaturePenalty : 2 * kCurvaturePenalty);
        const double empty = c <= un ? emptySlope : emptyBend;
        at(count + c - 1, c) = std::sqrt(filled[c] < empty ? empty : penalty * filled[c]);
    }

    m_squares.assign(columns, 0.0);
    m_diagonal.assign(columns, 0.0);
    for (std::size_t k = 0; k < columns; ++k) {
        double norm = 0;
        for (std::size_t r = k; r < rows; ++r)
            norm = std::hypot(norm, at(r, k));
        const double alpha = at(k, k) > 0 ? -norm : norm;
        m_diagonal[k] = alpha;
        if (norm == 0)
            continue;
        // The reflector v = x - alpha e1 takes the column's place; R's diagonal is kept apart.
        at(k, k) -= alpha;
        double vv = 0;
        for (std::size_t r = k; r < rows; ++r)
            vv += at(r, k) * at(r, k);
        for (std::size_t c = k + 1; c < columns; ++c) {
            double dot = 0;
            for (std::size_t r = k; r < rows; ++r)
                dot += at(r, k) * at(r, c);
            const double factor = 2 * dot / vv;
            for (std::size_t r = k; r < rows; ++r)
                at(r, c) -= factor * at(r, k);
        }
        m_squares[k] = vv;
    }
}

Quadratic QuadraticFit::fit(const std::vector<double>& values,
                           const std::vector<double>& reference) const
{
    const auto un = static_cast<std::size_t>(m_n);
    const auto rows = static_cast<std::size_t>(m_rows);
    const auto columns = static_cast<std::size_t>(m_columns);
    const std::size_t count = m_weights.size();
    // What the reference's curvature leaves to explain.
    std::vector<double> rest(values.begin(), values.end());
    if (!reference.empty()) {
        Quadratic bend;
        bend.g.resize(un);
        bend.h = reference;
        for (std::size_t i = 0; i < count; ++i)
            rest[i] -= bend.curvature(&m_points[i * un]);
    }
    const double level = rest.empty() ? 0.0 : rest[0];
    double spread = 0;
    for (double v : rest)
        spread = std::max(spread, std::abs(v - level));
    if (!(spread > 0) || !std::isfinite(spread))
        spread = 1;
    std::vector<double> b(rows, 0.0);
    for (std::size_t i = 0; i < count; ++i)
        b[i] = m_weights[i] * ((rest[i] - level) / spread);
    auto at = [this, rows](std::size_t r, std::size_t c) { return m_qr[c * rows + r]; };
    for (std::size_t k = 0; k < columns; ++k) {
        if (!(m_squares[k] > 0))
            continue;
        double dot = 0;
        for (std::size_t r = k; r < rows; ++r)
            dot += at(r, k) * b[r];
        const double factor = 2 * dot / m_squares[k];
        for (std::size_t r = k; r < rows; ++r)
            b[r] -= factor * at(r, k);
    }
    std::vector<double> theta(columns, 0.0);
    for (std::size_t k = columns; k-- > 0;) {
        double sum = b[k];
        for (std::size_t c = k + 1; c < columns; ++c)
            sum -= at(k, c) * theta[c];
        theta[k] = m_diagonal[k] != 0 ? sum / m_diagonal[k] : 0.0;
    }

    Quadratic q;
    q.c = level + spread * theta[0];
    q.g.resize(un);
    q.h.assign(un * un, 0.0);
    const double s1 = spread / m_scale, s2 = spread / (m_scale * m_scale);
    std::size_t c = 1;
    for (std::size_t j = 0; j < un; ++j)
        q.g[j] = s1 * theta[c++];
    for (std::size_t j = 0; j < un; ++j)
        q.h[j * un + j] = s2 * theta[c++];
    if (m_cross)
        for (std::size_t j = 0; j < un; ++j)
            for (std::size_t k = j + 1; k < un; ++k)
                q.h[j * un + k] = q.h[k * un + j] = s2 * theta[c++];
    if (!reference.empty())
        for (std::size_t k = 0; k < un * un; ++k)
            q.h[k] += reference[k];
    return q;
}

std::vector<double> convexified(const std::vector<double>& h, int n, double least)
{
    const auto un = static_cast<std::size_t>(n);
    std::vector<double> g = h;
    least = std::max(least, std::numeric_limits<double>::min());
    if (definite(g, un, least))
        return g;
    // Enough by Gershgorin's circles: every eigenvalue then exceeds `least`.
    double bound = 0;
    for (std::size_t r = 0; r < un; ++r) {
        double off = 0;
        for (std::size_t c = 0; c < un; ++c)
            if (c != r)
                off += std::abs(h[r * un + c]);
        bound = std::max(bound, off - h[r * un + r]);
    }
    bound = std::max(bound, 0.0) + 2 * least;
    // Doubling from the margin up to the bound: at most about a thousand tries in doubles.
    double shift = least;
    for (; shift < bound; shift *= 2) {
        for (std::size_t j = 0; j < un; ++j)
            g[j * un + j] = h[j * un + j] + shift;
        if (definite(g, un, least))
            return g;
    }
    for (std::size_t j = 0; j < un; ++j)
        g[j * un + j] = h[j * un + j] + bound;
    return g;
}

std::vector<double> solveStep(const StepProblem& p)
{
    const auto n = static_cast<std::size_t>(p.n);
    const std::size_t rowCount = p.limits.size();
    std::vector<double> s(n, 0.0);
    // The fixed variables leave the problem; the others are numbered anew.
    std::vector<std::size_t> free;
    for (std::size_t j = 0; j < n; ++j) {
        s[j] = std::clamp(0.0, p.lower[j], p.upper[j]);
        if (p.lower[j] < p.upper[j])
            free.push_back(j);
    }
    const std::size_t nf = free.size();
    const bool elastic = rowCount > 0;
    const std::size_t dim = nf + (elastic ? 1 : 0);
    if (dim == 0)
        return s;

    // Objective over v = (free s, t): Q and q, with the fixed variables' share in q, scaled
    // to entries of at most 1 so that the tolerances below mean the same for any objective.
    std::vector<double> Q(dim * dim, 0.0), q(dim, 0.0);
    double largest = 0, reach = 1;
    for (std::size_t a = 0; a < nf; ++a) {
        const std::size_t ja = free[a];
        double linear = p.g[ja];
        for (std::size_t j = 0; j < n; ++j)
            if (p.lower[j] == p.upper[j])
                linear += p.G[ja * n + j] * s[j];
        q[a] = linear;
        largest = std::max(largest, std::abs(linear));
        for (std::size_t b = 0; b < nf; ++b) {
            Q[a * dim + b] = p.G[ja * n + free[b]];
            largest = std::max(largest, std::abs(Q[a * dim + b]));
        }
        reach = std::max({reach, std::abs(p.lower[ja]), std::abs(p.upper[ja])});
    }
    if (largest > 0 && std::isfinite(largest))
        for (std::size_t a = 0; a < nf; ++a) {
            q[a] /= largest;
            for (std::size_t b = 0; b < nf; ++b)
                Q[a * dim + b] /= largest;
        }
    if (elastic) {
        // More than the objective's slope anywhere within the bounds, with room to spare for
        // rows that meet at a narrow angle.
        const double dn = static_cast<double>(nf);
        q[nf] = 1e4 * dn * (1 + dn * reach);
        // A faint curvature keeps Q definite; against the penalty it moves no solution.
        Q[nf * dim + nf] = 1e-9;
    }

    // The constraints c.v <= d: both bounds of each free variable, t >= 0, the rows.
    std::vector<double> normals, limits;
    auto addConstraint = [&](const std::vector<double>& normal, double limit) {
        normals.insert(normals.end(), normal.begin(), normal.end());
        limits.push_back(limit);
    };
    std::vector<double> normal(dim, 0.0);
    for (std::size_t a = 0; a < nf; ++a) {
        std::fill(normal.begin(), normal.end(), 0.0);
        normal[a] = 1;
        addConstraint(normal, p.upper[free[a]]);
        normal[a] = -1;
        addConstraint(normal, -p.lower[free[a]]);
    }
    std::vector<double> v(dim, 0.0);
    for (std::size_t a = 0; a < nf; ++a)
        v[a] = s[free[a]];
    if (elastic) {
        std::fill(normal.begin(), normal.end(), 0.0);
        normal[nf] = -1;
        addConstraint(normal, 0);
        double worst = 0;
        for (std::size_t i = 0; i < rowCount; ++i) {
            double fixedPart = 0;
            for (std::size_t j = 0; j < n; ++j)
                if (p.lower[j] == p.upper[j])
                    fixedPart += p.rows[i * n + j] * s[j];
            for (std::size_t a = 0; a < nf; ++a)
                normal[a] = p.rows[i * n + free[a]];
            normal[nf] = -1;
            const double limit = p.limits[i] - fixedPart;
            addConstraint(normal, limit);
            double lhs = 0;
            for (std::size_t a = 0; a < nf; ++a)
                lhs += normal[a] * v[a];
            worst = std::max(worst, lhs - limit);
        }
        v[nf] = worst;
    }
    const std::size_t constraintCount = limits.size();
    auto dot = [&](std::size_t c, const std::vector<double>& x) {
        double sum = 0;
        for (std::size_t k = 0; k < dim; ++k)
            sum += normals[c * dim + k] * x[k];
        return sum;
    };

    std::vector<std::size_t> working;
    std::vector<char> inWorking(constraintCount, 0);
    std::vector<double> kkt, rhs, step(dim);
    const std::size_t most = 20 * (dim + constraintCount);
    for (std::size_t iteration = 0; iteration < most; ++iteration) {
        const std::size_t k = dim + working.size();
        kkt.assign(k * k, 0.0);
        rhs.assign(k, 0.0);
        for (std::size_t a = 0; a < dim; ++a) {
            double gradient = q[a];
            for (std::size_t b = 0; b < dim; ++b) {
                kkt[a * k + b] = Q[a * dim + b];
                gradient += Q[a * dim + b] * v[b];
            }
            rhs[a] = -gradient;
        }
        for (std::size_t w = 0; w < working.size(); ++w)
            for (std::size_t a = 0; a < dim; ++a)
                kkt[(dim + w) * k + a] = kkt[a * k + dim + w] = normals[working[w] * dim + a];
        if (!solveDense(kkt, rhs, k))
            break;
        double length = 0, size = 1;
        for (std::size_t a = 0; a < dim; ++a) {
            step[a] = rhs[a];
            length = std::max(length, std::abs(rhs[a]));
            size = std::max(size, std::abs(v[a]));
        }
        if (!(length > 1e-13 * size)) {
            // At the minimum on the working set: done unless a constraint pulls the wrong way.
            std::size_t drop = working.size();
            double mostNegative = -1e-12;
            for (std::size_t w = 0; w < working.size(); ++w)
                if (rhs[dim + w] < mostNegative) {
                    mostNegative = rhs[dim + w];
                    drop = w;
                }
            if (drop == working.size())
                break;
            inWorking[working[drop]] = 0;
            working.erase(working.begin() + static_cast<std::ptrdiff_t>(drop));
            continue;
        }
        double alpha = 1;
        std::size_t blocking = constraintCount;
        for (std::size_t c = 0; c < constraintCount; ++c) {
            if (inWorking[c])
                continue;
            const double towards = dot(c, step);
            if (!(towards > 1e-14 * length))
                continue;
            const double room = std::max(0.0, limits[c] - dot(c, v));
            if (room < alpha * towards) {
                alpha = room / towards;
                blocking = c;
            }
        }
        for (std::size_t a = 0; a < dim; ++a)
            v[a] += alpha * step[a];
        if (blocking < constraintCount) {
            working.push_back(blocking);
            inWorking[blocking] = 1;
        }
    }
    for (std::size_t a = 0; a < nf; ++a)
        s[free[a]] = std::clamp(v[a], p.lower[free[a]], p.upper[free[a]]);
    return s;
}

} // namespace zyl::detail
