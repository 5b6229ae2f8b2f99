// Non-negative least squares by the active-set method of Lawson and Hanson
// ("Solving Least Squares Problems", 1974, ch. 23, algorithm NNLS).
#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "fitting/engine.h"

namespace polerat::detail {

namespace {

// Least squares on the columns `set` (ascending) of the upper triangle `a`:
// each column then reaches below the diagonal by the columns left out before
// it, which Givens rotations clear in O(k m) per column instead of a fresh
// factorisation. False when the result is too close to singular for a solve
// without pivoting.
bool SolveOnTriangle(const Eigen::MatrixXd& a, Eigen::VectorXd b, const std::vector<int>& set,
                     Eigen::VectorXd& zs) {
    const auto k = static_cast<Eigen::Index>(set.size());
    Eigen::MatrixXd sub(a.rows(), k);
    for (Eigen::Index t = 0; t < k; ++t) sub.col(t) = a.col(set[static_cast<std::size_t>(t)]);
    for (Eigen::Index t = 0; t < k; ++t)
        for (Eigen::Index row = set[static_cast<std::size_t>(t)]; row > t; --row) {
            if (sub(row, t) == 0.0) continue;
            Eigen::JacobiRotation<double> g;
            g.makeGivens(sub(row - 1, t), sub(row, t));
            sub.rightCols(k - t).applyOnTheLeft(row - 1, row, g.adjoint());
            b.applyOnTheLeft(row - 1, row, g.adjoint());
        }
    return k > 0 && SolveRotatedTriangle(sub, b, zs);
}

// Least squares on the columns listed in `set`; the others stay zero.
Eigen::VectorXd SolveOnSet(const Eigen::MatrixXd& a, const Eigen::VectorXd& b, const std::vector<int>& set,
                           bool triangle) {
    Eigen::VectorXd zs;
    if (!triangle || !SolveOnTriangle(a, b, set, zs)) {
        Eigen::MatrixXd sub(a.rows(), static_cast<Eigen::Index>(set.size()));
        for (std::size_t k = 0; k < set.size(); ++k) sub.col(static_cast<Eigen::Index>(k)) = a.col(set[k]);
        // Pivoting keeps a nearly dependent pair of columns from blowing up.
        zs = sub.colPivHouseholderQr().solve(b);
    }
    Eigen::VectorXd z = Eigen::VectorXd::Zero(a.cols());
    for (std::size_t k = 0; k < set.size(); ++k) z(set[k]) = zs(static_cast<Eigen::Index>(k));
    return z;
}

// Guesses the solution's support: all columns, less those whose least-squares
// coefficient comes out non-positive, a few times over. The guess is kept only
// when it meets the optimality conditions the active-set method ends on (no
// column left out could lower the residual), so it returns the same solution
// in a fraction of the steps when only a few terms are held at zero, as after
// a small move of the poles.
bool GuessSupport(const Eigen::MatrixXd& a, const Eigen::VectorXd& b, double tol, bool triangle, Eigen::VectorXd& x) {
    constexpr int kRounds = 3;
    std::vector<int> set(static_cast<std::size_t>(a.cols()));
    for (std::size_t j = 0; j < set.size(); ++j) set[j] = static_cast<int>(j);
    for (int round = 0; round < kRounds && !set.empty(); ++round) {
        const Eigen::VectorXd z = SolveOnSet(a, b, set, triangle);
        std::vector<int> kept;
        for (int j : set)
            if (z(j) > 0.0) kept.push_back(j);
        if (kept.size() == set.size()) {
            if (!z.allFinite()) return false;
            const Eigen::VectorXd grad = a.transpose() * (b - a * z);
            std::vector<bool> in(static_cast<std::size_t>(a.cols()), false);
            for (int j : set) in[static_cast<std::size_t>(j)] = true;
            for (Eigen::Index j = 0; j < a.cols(); ++j)
                if (!in[static_cast<std::size_t>(j)] && grad(j) > tol) return false;
            x = z;
            return true;
        }
        set = std::move(kept);
    }
    return false;
}

}  // namespace

bool SolveRotatedTriangle(const Eigen::Ref<const Eigen::MatrixXd>& r, const Eigen::Ref<const Eigen::VectorXd>& b,
                          Eigen::VectorXd& y) {
    // A diagonal spread wider than this leaves (near) dependent columns to a
    // pivoted factorisation.
    constexpr double kUnpivotedRange = 1e-12;
    const Eigen::Index n = r.cols();
    const auto diag = r.diagonal().head(n).cwiseAbs();
    if (!(diag.minCoeff() > kUnpivotedRange * diag.maxCoeff())) return false;
    y = r.topRows(n).triangularView<Eigen::Upper>().solve(b.head(n));
    return y.allFinite();
}

Eigen::VectorXd Nnls(const Eigen::MatrixXd& a, const Eigen::VectorXd& b) {
    const Eigen::Index cols = a.cols();
    Eigen::VectorXd x = Eigen::VectorXd::Zero(cols);
    if (cols == 0) return x;
    std::vector<bool> passive(static_cast<std::size_t>(cols), false);

    // Dual-feasibility tolerance relative to the problem's size.
    const double tol = 10.0 * std::numeric_limits<double>::epsilon() * a.cwiseAbs().maxCoeff() *
                       std::max(b.cwiseAbs().maxCoeff(), 1e-300) *
                       static_cast<double>(std::max(a.rows(), cols));
    const int maxOuter = 3 * static_cast<int>(cols) + 10;
    // A square upper triangle (the factor the residue solve hands over) has
    // its column subsets solved by rotations.
    const bool triangle = a.rows() == cols && a.triangularView<Eigen::StrictlyLower>().toDenseMatrix().isZero(0.0);
    if (GuessSupport(a, b, tol, triangle, x)) return x;

    Eigen::VectorXd grad = a.transpose() * (b - a * x);
    for (int outer = 0; outer < maxOuter; ++outer) {
        Eigen::Index t = -1;
        double best = tol;
        for (Eigen::Index j = 0; j < cols; ++j)
            if (!passive[static_cast<std::size_t>(j)] && grad(j) > best) {
                best = grad(j);
                t = j;
            }
        if (t < 0) break;
        passive[static_cast<std::size_t>(t)] = true;

        for (int inner = 0; inner <= maxOuter; ++inner) {
            std::vector<int> set;
            for (Eigen::Index j = 0; j < cols; ++j)
                if (passive[static_cast<std::size_t>(j)]) set.push_back(static_cast<int>(j));
            const Eigen::VectorXd z = SolveOnSet(a, b, set, triangle);
            bool feasible = true;
            for (int j : set)
                if (!(z(j) > 0.0)) feasible = false;
            if (feasible) {
                x = z;
                break;
            }
            // Step from x toward z as far as feasibility allows, then drop the
            // variables that reached zero.
            double alpha = 1.0;
            for (int j : set)
                if (!(z(j) > 0.0)) {
                    const double denom = x(j) - z(j);
                    const double ratio = denom > 0.0 ? x(j) / denom : 0.0;
                    alpha = std::min(alpha, ratio);
                }
            x += alpha * (z - x);
            for (int j : set)
                if (x(j) <= 0.0 || !std::isfinite(z(j))) {
                    x(j) = 0.0;
                    passive[static_cast<std::size_t>(j)] = false;
                }
            // The variable just added can be dropped at once when it was not
            // really improving the fit; avoid cycling on it.
            if (!passive[static_cast<std::size_t>(t)]) break;
        }
        grad = a.transpose() * (b - a * x);
        // A column that cannot move the residual any more stays out.
        if (!passive[static_cast<std::size_t>(t)]) grad(t) = 0.0;
    }
    return x;
}

}  // namespace polerat::detail
