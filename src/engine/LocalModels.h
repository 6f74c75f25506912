#pragma once

#include <vector>

namespace zyl::detail {

/// A quadratic of n variables s around a centre: c + g.s + s.H s / 2.
struct Quadratic {
    double c = 0;
    std::vector<double> g;
    /// n x n, row by row, symmetric.
    std::vector<double> h;

    double at(const double* s) const;
    /// The second-order part alone, s.H s / 2.
    double curvature(const double* s) const;
};

/// Quadratics fitted by weighted least squares to values at the same points, with a faint
/// penalty on the second derivatives' departure from a reference: with more points than
/// coefficients the penalty is lost in the fit, with fewer it picks, among the quadratics
/// through the points, the one whose curvature changes least from the reference (the
/// curvature an earlier fit learnt from points since dropped). The points are factorised
/// once for every set of values.
class QuadraticFit {
public:
    /// `points`: `count` rows of n coordinates (relative to the centre); one weight in (0; 1]
    /// per point. `crossTerms` false fits a separable quadratic (a diagonal H), for many
    /// variables.
    QuadraticFit(int n, bool crossTerms, const std::vector<double>& points,
                 const std::vector<double>& weights);

    /// The quadratic that fits these values, one per point; the first value is taken as the
    /// level the others are measured from. `reference`: n x n, or empty for none.
    Quadratic fit(const std::vector<double>& values, const std::vector<double>& reference) const;

private:
    int m_n;
    bool m_cross;
    std::vector<double> m_points;
    int m_rows = 0, m_columns = 0;
    double m_scale = 1;
    std::vector<double> m_weights;
    // The Householder factorisation, column by column: each reflector from the diagonal
    // down with its squared length apart, R above the diagonal and its diagonal apart.
    std::vector<double> m_qr, m_squares, m_diagonal;
};

/// The step subproblem: minimise g.s + s.G s / 2 (G positive definite) over
/// lower <= s <= upper and the rows a_i.s <= b_i. The rows are softened by one elastic slack
/// t >= 0 (a_i.s - t <= b_i) that costs far more per unit than the objective can gain within
/// the bounds, so a step exists even where the rows cannot all hold: it then comes as close
/// as it can, by the largest excess, and only then minds the objective. Variables with
/// lower == upper are fixed there. The bounds are expected to be of the order of 1.
struct StepProblem {
    int n = 0;
    std::vector<double> G, g, lower, upper;
    /// Row by row, n entries each, of length 1 (the slack is a distance), and the limit of
    /// each.
    std::vector<double> rows, limits;
};

/// The solution by a primal active-set method from the feasible point nearest 0. A problem
/// that cycles or loses rank ends at the best point reached, which is always feasible.
std::vector<double> solveStep(const StepProblem& problem);

/// G = H + sigma I with the least sigma >= 0 (within a factor of 2) that makes it positive
/// definite by the margin `least`: a model that bends down somewhere still gets a subproblem
/// with one minimum.
std::vector<double> convexified(const std::vector<double>& h, int n, double least);

} // namespace zyl::detail
