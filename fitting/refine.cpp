// Pole refinement by Levenberg-Marquardt on the separable problem
//     min over poles  min over residues (constrained)  || W (A(poles) x - h) ||,
// the residues re-solved at every step: variable projection (G. H. Golub,
// V. Pereyra, "The differentiation of pseudo-inverses and nonlinear least
// squares problems whose variables separate", SIAM J. Numer. Anal. 10(2),
// 1973) with the simplified Jacobian of L. Kaufman ("A variable projection
// method for solving separable nonlinear least squares problems", BIT 15,
// 1975). Relocation places the poles well on clean data but is biased by
// noise and blind to the residue constraint; a few such steps recover the
// error that a pole set of the same order can really reach.
#include <algorithm>
#include <cmath>
#include <limits>

#include "fitting/engine.h"

namespace polerat::detail {

namespace {

// A step that lowers the squared error by less than this fraction ends the
// refinement: the search judges errors to a percent, not to parts per million.
constexpr double kSettled = 1e-4;
// Given a goal, the refinement stops once two decreases in a row have shrunk
// and their geometric continuation leaves the error above the goal by this
// factor (the caller judges on every sample, where the error may differ a
// little from the one refined here).
constexpr double kGoalMargin = 1.5;
// Two steps whose directions agree to this cosine head the same way; a leap
// to their geometric sum is tried when the newer is shorter by this ratio.
constexpr double kAligned = 0.95;
constexpr double kSteadyRatio = 0.95;
// Steps that shrink by the steady ratio sum to 1 / (1 - 0.95) = 20 times the
// first: with a goal, a start whose predicted decrease, so summed, leaves the
// cost above it is not refined.
constexpr double kReach = 1.0 / (1.0 - kSteadyRatio);

// The Gauss-Newton normal equations H = J'J and g = J'r of Kaufman's
// Jacobian J with respect to theta_k = log|a_k| of the real poles listed in
// `free`: the derivative D with the residues held, projected off the span of
// the columns A whose coefficients are free to move. Formed from small Gram
// blocks, J'J = D'D - (A'D)' (A'A)^-1 (A'D), without J itself.
void NormalEquations(const Problem& prob, const Model& model, const std::vector<std::size_t>& free,
                     const Options& opt, const Eigen::VectorXd& r, Eigen::MatrixXd& h, Eigen::VectorXd& g) {
    const Eigen::Index n = prob.n;
    const Eigen::Index nf = static_cast<Eigen::Index>(free.size());
    const Eigen::MatrixXd basis = RealBasis(prob.w, model.poles);
    h = Eigen::MatrixXd::Zero(nf, nf);
    g = Eigen::VectorXd::Zero(nf);
    // The basis column of each pole (a pair has two).
    std::vector<Eigen::Index> first(model.poles.size());
    for (std::size_t k = 0, col = 0; k < model.poles.size(); ++k) {
        first[k] = static_cast<Eigen::Index>(col);
        col += model.poles[k].imag() != 0.0 ? 2 : 1;
    }
    // [D | A | r] side by side, a sample's two rows at a time: one Gram matrix
    // holds every product needed.
    GramRows m = GramRows::Zero(2 * n, GramWidth(nf + basis.cols() + 2));
    Eigen::MatrixXd gram;
    std::vector<Eigen::Index> activeCols;
    Eigen::VectorXd dScale(nf);
    for (std::size_t e = 0; e < prob.h.size(); ++e) {
        const auto& wr = prob.wRe[e];
        const auto& wi = prob.wIm[e];
        const auto& res = model.residues[e];
        // d/dtheta r/(s - a) = r a / (s - a)^2, s = j w: r a t^2 for the
        // basis value t = 1/(s - a).
        for (Eigen::Index j = 0; j < nf; ++j) {
            const std::size_t k = free[static_cast<std::size_t>(j)];
            dScale(j) = res[k].real() * model.poles[k].real();
        }
        // Columns that move freely: every column without the constraint, the
        // ones with a positive coefficient under it.
        activeCols.clear();
        for (std::size_t k = 0; k < model.poles.size(); ++k) {
            const bool pair = model.poles[k].imag() != 0.0;
            const bool active = !opt.enforcePassivity || res[k].real() > 0.0 || pair;
            if (!active) continue;
            activeCols.push_back(first[k]);
            if (pair) activeCols.push_back(first[k] + 1);
        }
        const bool withD = !opt.omitConstant && (!opt.enforcePassivity || model.d[e] > 0.0);
        const Eigen::Index na = static_cast<Eigen::Index>(activeCols.size()) + (withD ? 1 : 0);
        const Eigen::Index rOffset = static_cast<Eigen::Index>(e) * 2 * n;
        for (Eigen::Index i = 0; i < n; ++i) {
            double* re = &m(i, 0);
            double* im = &m(n + i, 0);
            for (Eigen::Index j = 0; j < nf; ++j) {
                const Eigen::Index col = first[free[static_cast<std::size_t>(j)]];
                const double tr = basis(i, col), ti = basis(n + i, col);
                re[j] = wr(i) * (dScale(j) * (tr * tr - ti * ti));
                im[j] = wi(i) * (dScale(j) * (2.0 * tr * ti));
            }
            Eigen::Index c = nf;
            for (const Eigen::Index col : activeCols) {
                re[c] = wr(i) * basis(i, col);
                im[c] = wi(i) * basis(n + i, col);
                ++c;
            }
            if (withD) {
                re[c] = wr(i);
                im[c] = 0.0;
                ++c;
            }
            re[c] = r(rOffset + i);
            im[c] = r(rOffset + n + i);
        }
        const Eigen::Index cols = nf + na + 1;
        gram.setZero(cols, cols);
        AddGram(m, m.rows(), cols, gram);
        h += gram.topLeftCorner(nf, nf).selfadjointView<Eigen::Lower>();
        g += gram.row(nf + na).head(nf).transpose();
        if (na == 0) continue;
        // Unit columns keep A'A as well conditioned as A allows.
        Eigen::VectorXd scale(na);
        for (Eigen::Index c = 0; c < na; ++c) {
            const double norm = std::sqrt(gram(nf + c, nf + c));
            scale(c) = norm > 0.0 ? 1.0 / norm : 1.0;
        }
        // A'D and A'r side by side, solved against A'A at once.
        Eigen::MatrixXd adr(na, nf + 1);
        adr.leftCols(nf) = scale.asDiagonal() * gram.block(nf, 0, na, nf);
        adr.col(nf) = scale.cwiseProduct(gram.row(nf + na).segment(nf, na).transpose());
        const Eigen::MatrixXd gm = scale.asDiagonal() *
                                   Eigen::MatrixXd(gram.block(nf, nf, na, na).selfadjointView<Eigen::Lower>()) *
                                   scale.asDiagonal();
        // Unit columns of full rank: Cholesky; a rank-deficient set of free
        // columns needs the pivoted factorisation.
        const Eigen::LLT<Eigen::MatrixXd> llt(gm);
        const Eigen::MatrixXd sol = llt.info() == Eigen::Success ? Eigen::MatrixXd(llt.solve(adr))
                                                                 : Eigen::MatrixXd(gm.ldlt().solve(adr));
        const auto ad = adr.leftCols(nf);
        h.noalias() -= ad.transpose() * sol.leftCols(nf);
        g.noalias() -= ad.transpose() * sol.col(nf);
    }
}

// Two real poles closer than this (relative) only imitate a double pole, with
// huge residues of opposite sign that cancel: a fragile model, and no better
// one of a dielectric, which the unconstrained cost can still prefer.
constexpr double kPoleSeparation = 1e-3;

// The smallest log-distance between two real poles (infinite for fewer).
double ClosestPair(const PoleSet& poles) {
    std::vector<double> logs;
    logs.reserve(poles.size());
    for (const auto& p : poles)
        if (p.imag() == 0.0 && p.real() < 0.0) logs.push_back(std::log(-p.real()));
    std::sort(logs.begin(), logs.end());
    double closest = std::numeric_limits<double>::infinity();
    for (std::size_t k = 1; k < logs.size(); ++k) closest = std::min(closest, logs[k] - logs[k - 1]);
    return closest;
}

// A refinement step may not bring two poles closer than kPoleSeparation,
// nor closer than they already were.
bool KeepsApart(const PoleSet& next, const PoleSet& now) {
    const double closest = ClosestPair(next);
    return closest >= kPoleSeparation || closest >= ClosestPair(now);
}

// The poles with the free ones moved by `step` in log magnitude, kept
// between the bounds.
PoleSet Moved(PoleSet poles, const std::vector<std::size_t>& free, const Eigen::VectorXd& step, double thetaLo,
              double thetaHi) {
    for (std::size_t j = 0; j < free.size(); ++j) {
        const double theta = std::log(-poles[free[j]].real()) + step(static_cast<Eigen::Index>(j));
        poles[free[j]] = {-std::exp(std::clamp(theta, thetaLo, thetaHi)), 0.0};
    }
    return poles;
}

}  // namespace

Model RefinePoles(const Problem& prob, const Model& start, const Options& opt, int maxIter, int* iterations,
                  double goal) {
    std::vector<std::size_t> free;
    for (std::size_t k = 0; k < start.poles.size(); ++k)
        if (start.poles[k].imag() == 0.0 && start.poles[k].real() < 0.0) free.push_back(k);
    if (iterations != nullptr) *iterations = 0;
    if (free.empty() || maxIter <= 0) return start;

    const double thetaLo = std::log(prob.wLow * kPoleFloor), thetaHi = std::log(prob.wHigh * kPoleCeiling);
    Model model = start;
    Eigen::VectorXd r = WeightedResidual(prob, model);
    double cost = r.squaredNorm();
    double mu = -1.0;
    // The last two decreases of the cost, for the extrapolation.
    double lastDrop = 0.0, dropBefore = 0.0;
    const double goalCost = goal * kGoalMargin * goal * kGoalMargin * prob.weightSum;
    Eigen::VectorXd lastStep;
    for (int it = 0; it < maxIter; ++it) {
        if (iterations != nullptr) *iterations = it + 1;
        Eigen::MatrixXd h;
        Eigen::VectorXd g;
        NormalEquations(prob, model, free, opt, r, h, g);
        if (goal > 0.0 && cost > goalCost) {
            // Gauss-Newton's own prediction of what the linearised problem
            // still offers: when even kReach such decreases fall short of the
            // goal, the caller only learns that the order misses it.
            const Eigen::LDLT<Eigen::MatrixXd> ldlt(h);
            const double predicted = -g.dot(ldlt.solve(-g));
            if (ldlt.info() == Eigen::Success && predicted >= 0.0 && cost - kReach * predicted > goalCost)
                return model;
        }
        if (mu < 0.0) mu = 1e-3 * std::max(h.diagonal().maxCoeff(), 1e-300);
        bool improved = false;
        for (int attempt = 0; attempt < 8 && !improved; ++attempt) {
            Eigen::MatrixXd lhs = h;
            lhs.diagonal().array() += mu * (1.0 + h.diagonal().array());
            const Eigen::VectorXd step = lhs.ldlt().solve(-g);
            if (!step.allFinite()) {
                mu *= 4.0;
                continue;
            }
            Eigen::VectorXd clipped = step.cwiseMax(-1.0).cwiseMin(1.0);
            Model trial = SolveResidues(prob, Moved(model.poles, free, clipped, thetaLo, thetaHi), opt);
            Eigen::VectorXd rt = WeightedResidual(prob, trial);
            double c = rt.squaredNorm();
            if (c < cost && KeepsApart(trial.poles, model.poles)) {
                // Steps that keep their direction and shrink by a steady ratio
                // q converge linearly (the large residual of noisy data): try
                // their geometric sum, the point they are heading for.
                const bool aligned = lastStep.size() == clipped.size() &&
                                     clipped.dot(lastStep) > kAligned * clipped.norm() * lastStep.norm();
                if (aligned) {
                    const double q = clipped.norm() / lastStep.norm();
                    if (q < kSteadyRatio) {
                        const Eigen::VectorXd ahead = (clipped * (q / (1.0 - q))).cwiseMax(-1.0).cwiseMin(1.0);
                        Model leap = SolveResidues(prob, Moved(trial.poles, free, ahead, thetaLo, thetaHi), opt);
                        Eigen::VectorXd rl = WeightedResidual(prob, leap);
                        if (rl.squaredNorm() < c && KeepsApart(leap.poles, model.poles)) {
                            c = rl.squaredNorm();
                            trial = std::move(leap);
                            rt = std::move(rl);
                            clipped += ahead;
                        }
                    }
                }
                lastStep = clipped;
                improved = true;
                const double gain = (cost - c) / cost;
                const double drop = cost - c;
                model = std::move(trial);
                r = std::move(rt);
                cost = c;
                // A step that needed a larger damping keeps it: lowering it
                // again would only repeat the failed attempt next time.
                if (attempt == 0) mu = std::max(mu / 3.0, 1e-15);
                if (gain < kSettled) return model;
                if (goal > 0.0 && dropBefore > 0.0 && lastDrop < dropBefore && drop < lastDrop) {
                    // Geometric decreases: the rest sums to drop q / (1 - q).
                    const double q = std::max(drop / lastDrop, lastDrop / dropBefore);
                    if (cost - drop * q / (1.0 - q) > goalCost) return model;
                }
                dropBefore = lastDrop;
                lastDrop = drop;
            } else {
                mu *= 4.0;
            }
        }
        if (!improved) break;
    }
    return model;
}

}  // namespace polerat::detail
