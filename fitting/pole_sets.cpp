// Operations on pole sets between the orders the search tries: adding poles
// where the model misses most, dropping the weakest, and the dead ones.
#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "fitting/engine.h"

namespace polerat::detail {

namespace {

// A new pole is not placed within this ratio of an existing one: two poles
// that close span almost the same basis and only worsen the conditioning.
constexpr double kCrowdedRatio = 1.2;
// A term this small against the model's size (the constant and every term's
// strength together) in every entry is rounding, not data: whether its
// residue comes out zero or a few ulps above depends on the order of sums.
constexpr double kNegligibleTerm = 1e-14;

}  // namespace

double PoleChange(const PoleSet& a, const PoleSet& b) {
    if (a.size() != b.size()) return std::numeric_limits<double>::infinity();
    double worst = 0.0;
    for (std::size_t k = 0; k < a.size(); ++k) worst = std::max(worst, Magnitude(a[k] - b[k]) / Magnitude(a[k]));
    return worst;
}

PoleSet Grow(const Problem& prob, const Model& model, int count) {
    PoleSet poles = model.poles;
    Eigen::VectorXd r = SampleResiduals(prob, model);
    for (int added = 0; added < count; ++added) {
        int at = -1;
        double worst = -1.0;
        for (int i = 0; i < prob.n; ++i) {
            if (!(prob.w(i) > 0.0) || !(r(i) > worst)) continue;
            bool crowded = false;
            for (const auto& p : poles) {
                const double ratio = prob.w(i) / Magnitude(p);
                if (ratio > 1.0 / kCrowdedRatio && ratio < kCrowdedRatio) crowded = true;
            }
            if (crowded) continue;
            worst = r(i);
            at = i;
        }
        double w;
        if (at >= 0) {
            w = prob.w(at);
            r(at) = -1.0;
        } else {
            // Every sample is near a pole: split the widest gap on a log scale.
            std::vector<double> mags{prob.wLow, prob.wHigh};
            for (const auto& p : poles) mags.push_back(Magnitude(p));
            std::sort(mags.begin(), mags.end());
            double gap = -1.0;
            w = std::sqrt(prob.wLow * prob.wHigh);
            for (std::size_t k = 1; k < mags.size(); ++k)
                if (mags[k] / mags[k - 1] > gap) {
                    gap = mags[k] / mags[k - 1];
                    w = std::sqrt(mags[k] * mags[k - 1]);
                }
        }
        poles.emplace_back(-w, 0.0);
    }
    std::sort(poles.begin(), poles.end(), [](const auto& x, const auto& y) { return Magnitude(x) < Magnitude(y); });
    return poles;
}

PoleSet Shrink(const Model& model) {
    PoleSet poles = model.poles;
    if (poles.empty()) return poles;
    std::size_t weakest = 0;
    double least = std::numeric_limits<double>::infinity();
    bool anyReal = false;
    for (const auto& p : poles) anyReal = anyReal || p.imag() == 0.0;
    for (std::size_t k = 0; k < poles.size(); ++k) {
        if (anyReal && poles[k].imag() != 0.0) continue;
        double strength = 0.0;
        for (const auto& res : model.residues) strength += Magnitude(res[k]) / Magnitude(poles[k]);
        if (strength < least) {
            least = strength;
            weakest = k;
        }
    }
    poles.erase(poles.begin() + static_cast<std::ptrdiff_t>(weakest));
    return poles;
}

// Poles whose residues the constraint held at zero, or that came out at the
// level of rounding, add nothing to the model but cost the simulator.
int DropDeadPoles(Model& model, double wLow) {
    // A term's strength in an entry: a bound on its size over the samples,
    // |r| / max(|p|, lowest frequency) (for a pair, that of its two halves).
    const auto strength = [&](std::size_t e, std::size_t k) {
        const double scale = model.poles[k].imag() != 0.0 ? 2.0 : 1.0;
        return scale * Magnitude(model.residues[e][k]) / std::max(Magnitude(model.poles[k]), wLow);
    };
    std::vector<double> size(model.residues.size());
    for (std::size_t e = 0; e < model.residues.size(); ++e) {
        size[e] = std::fabs(model.d[e]);
        for (std::size_t k = 0; k < model.poles.size(); ++k) size[e] += strength(e, k);
    }
    int dropped = 0;
    for (std::size_t k = model.poles.size(); k-- > 0;) {
        bool dead = true;
        for (std::size_t e = 0; e < model.residues.size(); ++e)
            dead = dead && !(strength(e, k) > kNegligibleTerm * size[e]);
        if (!dead) continue;
        dropped += model.poles[k].imag() != 0.0 ? 2 : 1;
        model.poles.erase(model.poles.begin() + static_cast<std::ptrdiff_t>(k));
        for (auto& res : model.residues) res.erase(res.begin() + static_cast<std::ptrdiff_t>(k));
    }
    return dropped;
}

}  // namespace polerat::detail
