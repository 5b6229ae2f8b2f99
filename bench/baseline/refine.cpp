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

#include "bench/baseline/engine.h"

namespace polerat_baseline::detail {

namespace {


// Kaufman's Jacobian with respect to theta_k = log|a_k| of the real poles
// listed in `free`: the derivative with the residues held, projected off the
// span of the columns whose coefficients are free to move.
Eigen::MatrixXd Jacobian(const Problem& prob, const Model& model, const std::vector<std::size_t>& free,
                         const Options& opt) {
    const Eigen::Index n = prob.n;
    const Eigen::Index entries = static_cast<Eigen::Index>(prob.h.size());
    const Eigen::MatrixXd basis = RealBasis(prob.w, model.poles);
    Eigen::MatrixXd jac(2 * n * entries, static_cast<Eigen::Index>(free.size()));
    for (Eigen::Index e = 0; e < entries; ++e) {
        const auto& wr = prob.wRe[static_cast<std::size_t>(e)];
        const auto& wi = prob.wIm[static_cast<std::size_t>(e)];
        const auto& res = model.residues[static_cast<std::size_t>(e)];
        Eigen::MatrixXd block(2 * n, static_cast<Eigen::Index>(free.size()));
        for (std::size_t j = 0; j < free.size(); ++j) {
            const double a = model.poles[free[j]].real();
            const double r = res[free[j]].real();
            for (Eigen::Index i = 0; i < n; ++i) {
                // d/dtheta r/(s - a) = r a / (s - a)^2, s = j w
                const std::complex<double> t = 1.0 / std::complex<double>(-a, prob.w(i));
                const std::complex<double> d = r * a * t * t;
                block(i, static_cast<Eigen::Index>(j)) = wr(i) * d.real();
                block(n + i, static_cast<Eigen::Index>(j)) = wi(i) * d.imag();
            }
        }
        // Columns that move freely: every column without the constraint, the
        // ones with a positive coefficient under it.
        std::vector<Eigen::VectorXd> cols;
        Eigen::Index col = 0;
        for (std::size_t k = 0; k < model.poles.size(); ++k) {
            const bool pair = model.poles[k].imag() != 0.0;
            const bool active = !opt.enforcePassivity || res[k].real() > 0.0 || pair;
            for (int part = 0; part < (pair ? 2 : 1); ++part, ++col)
                if (active) cols.push_back(basis.col(col));
        }
        if (!opt.omitConstant && (!opt.enforcePassivity || model.d[static_cast<std::size_t>(e)] > 0.0)) {
            Eigen::VectorXd one = Eigen::VectorXd::Zero(2 * n);
            one.head(n).setOnes();
            cols.push_back(one);
        }
        if (!cols.empty()) {
            Eigen::MatrixXd act(2 * n, static_cast<Eigen::Index>(cols.size()));
            for (std::size_t c = 0; c < cols.size(); ++c) act.col(static_cast<Eigen::Index>(c)) = cols[c];
            for (Eigen::Index i = 0; i < n; ++i) {
                act.row(i) *= wr(i);
                act.row(n + i) *= wi(i);
            }
            const Eigen::Index m = std::min(act.rows(), act.cols());
            Eigen::HouseholderQR<Eigen::MatrixXd> qr(act);
            const Eigen::MatrixXd q = qr.householderQ() * Eigen::MatrixXd::Identity(act.rows(), m);
            block -= q * (q.transpose() * block);
        }
        jac.middleRows(e * 2 * n, 2 * n) = block;
    }
    return jac;
}

}  // namespace

Model RefinePoles(const Problem& prob, const Model& start, const Options& opt, int maxIter, int* iterations) {
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
    for (int it = 0; it < maxIter; ++it) {
        if (iterations != nullptr) *iterations = it + 1;
        const Eigen::MatrixXd jac = Jacobian(prob, model, free, opt);
        const Eigen::MatrixXd h = jac.transpose() * jac;
        const Eigen::VectorXd g = jac.transpose() * r;
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
            PoleSet poles = model.poles;
            for (std::size_t j = 0; j < free.size(); ++j) {
                // Steps of more than a factor e per iteration are clipped.
                const double theta = std::log(-poles[free[j]].real()) +
                                     std::clamp(step(static_cast<Eigen::Index>(j)), -1.0, 1.0);
                poles[free[j]] = {-std::exp(std::clamp(theta, thetaLo, thetaHi)), 0.0};
            }
            Model trial = SolveResidues(prob, poles, opt);
            const Eigen::VectorXd rt = WeightedResidual(prob, trial);
            const double c = rt.squaredNorm();
            if (c < cost) {
                improved = true;
                const double gain = (cost - c) / cost;
                model = std::move(trial);
                r = rt;
                cost = c;
                mu = std::max(mu / 3.0, 1e-15);
                if (gain < 1e-6) return model;
            } else {
                mu *= 4.0;
            }
        }
        if (!improved) break;
    }
    return model;
}

}  // namespace polerat_baseline::detail
