// Pure kernels of the engine over plain arrays: problem set-up, starting
// poles, the partial-fraction basis, pole relocation, the residue solve, the
// error measure and the state-space realisation.
#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <memory>
#include <utility>
#include <vector>

#include "fitting/constants.h"
#include "fitting/engine.h"

namespace polerat::detail {

using matmodel::kTwoPi;

namespace {

// Each part of a sample is measured relative to its own size, but never to
// less than this fraction of the sample's magnitude: an imaginary part of
// exactly zero (a lossless sample) must not get an infinite weight.
constexpr double kRelativeFloor = 1e-6;

// Where a conduction pole starts, relative to the lowest sample frequency.
constexpr double kConductionStart = 1e-6;

// Relaxed relocation: the constant of the weighting function is kept away
// from zero (and infinity) by these bounds, as in the relaxed method.
constexpr double kSigmaConstLow = 1e-8;
constexpr double kSigmaConstHigh = 1e8;

// The least damping of a pair of poles, relative to its frequency.
constexpr double kAxisDamping = 1e-9;

// An eigenvalue whose imaginary part is below this fraction of its modulus is
// treated as real.
constexpr double kRealTolerance = 1e-10;

}  // namespace

namespace {

// Rows that count in the error (a sample at 0 Hz has only a real row) and the
// normalising sum of squared weights over them.
void CountRows(Problem& prob) {
    prob.rows = 0;
    prob.weightSum = 0.0;
    for (int i = 0; i < prob.n; ++i) {
        const double u = prob.userWeight(i);
        const int rows = prob.w(i) > 0.0 ? 2 : 1;
        prob.rows += rows;
        prob.weightSum += u * u * rows;
    }
    prob.weightSum *= static_cast<double>(prob.ports * prob.ports);
}

}  // namespace

int StateCount(const PoleSet& poles) {
    int n = 0;
    for (const auto& p : poles) n += p.imag() != 0.0 ? 2 : 1;
    return n;
}

Problem MakeProblem(const std::vector<double>& freqHz, const PoleratSamples& samples,
                    const std::vector<double>& userWeights, Weighting weighting) {
    Problem prob;
    prob.n = static_cast<int>(freqHz.size());
    prob.ports = static_cast<int>(samples.size());
    const int n = prob.n;

    double wMin = std::numeric_limits<double>::infinity(), wMax = 0.0;
    for (double f : freqHz) {
        const double w = f * kTwoPi;
        if (w > 0.0) {
            wMin = std::min(wMin, w);
            wMax = std::max(wMax, w);
        }
    }
    prob.anyPositive = wMax > 0.0;
    // Normalise by the geometric centre of the band so that the basis values
    // spread evenly around 1.
    prob.scale = prob.anyPositive ? std::sqrt(wMin * wMax) : 1.0;
    prob.wLow = prob.anyPositive ? wMin / prob.scale : 1.0;
    prob.wHigh = prob.anyPositive ? wMax / prob.scale : 1.0;
    prob.w.resize(n);
    for (int i = 0; i < n; ++i) prob.w(i) = freqHz[static_cast<std::size_t>(i)] * kTwoPi / prob.scale;
    prob.byFrequency.resize(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) prob.byFrequency[static_cast<std::size_t>(i)] = i;
    const auto rising = [&](int a, int b) { return prob.w(a) < prob.w(b); };
    if (!std::is_sorted(prob.byFrequency.begin(), prob.byFrequency.end(), rising))
        std::stable_sort(prob.byFrequency.begin(), prob.byFrequency.end(), rising);

    double hMax = 0.0;
    for (const auto& row : samples)
        for (const auto& entry : row)
            for (const auto& v : entry)  // |re| + |im| >= |v|: skip the hypot where it cannot win
                if (std::fabs(v.real()) + std::fabs(v.imag()) > hMax) hMax = std::max(hMax, std::abs(v));
    // A power of two: dividing by it is exact, so scaled samples give the same
    // fit up to the rounding of the caller's own scaling.
    if (hMax > 0.0) prob.hScale = std::ldexp(1.0, std::ilogb(hMax));
    if (weighting == Weighting::kAbsolute) prob.errorScale = prob.hScale;

    // The fit and its error depend only on the weights' ratios; divided by a
    // power of two near the largest, their squares and sums stay in range
    // whatever finite weights the caller gives.
    double uMax = 0.0;
    for (double u : userWeights) uMax = std::max(uMax, u);
    const double uScale = uMax > 0.0 ? std::ldexp(1.0, std::ilogb(uMax)) : 1.0;
    prob.userWeight.resize(n);
    for (int i = 0; i < n; ++i)
        prob.userWeight(i) = userWeights.empty() ? 1.0 : userWeights[static_cast<std::size_t>(i)] / uScale;
    CountRows(prob);

    for (const auto& row : samples)
        for (const auto& entry : row) {
            Eigen::VectorXcd h(n);
            Eigen::VectorXd wr(n), wi(n);
            for (int i = 0; i < n; ++i) {
                const std::complex<double> v = entry[static_cast<std::size_t>(i)] / prob.hScale;
                h(i) = v;
                const double u = prob.userWeight(i);
                double sr = 1.0, si = 1.0;
                if (weighting != Weighting::kAbsolute && hMax > 0.0) {
                    // |v| < 2 once scaled: the squares cannot overflow, and
                    // where they underflow the floor below takes over.
                    const double magnitude = std::sqrt(v.real() * v.real() + v.imag() * v.imag());
                    const double floor = std::max(kRelativeFloor * magnitude, 1e-12 * hMax / prob.hScale);
                    if (weighting == Weighting::kPerPart) {
                        sr = std::max(std::fabs(v.real()), floor);
                        si = std::max(std::fabs(v.imag()), floor);
                    } else {
                        sr = si = std::max(magnitude, floor);
                    }
                }
                wr(i) = u / sr;
                // At 0 Hz every rational model with real coefficients is real:
                // the imaginary part carries no information and is not fitted.
                wi(i) = prob.w(i) > 0.0 ? u / si : 0.0;
            }
            prob.h.push_back(std::move(h));
            prob.wRe.push_back(std::move(wr));
            prob.wIm.push_back(std::move(wi));
        }
    return prob;
}

Problem Subset(const Problem& prob, int count) {
    if (count >= prob.n || !prob.anyPositive) return prob;
    // In rising frequency (the caller's order is free), take the sample
    // nearest to each of `count` log-spaced targets.
    const std::vector<int>& idx = prob.byFrequency;
    std::vector<int> pick;
    std::size_t first = 0;
    while (first < idx.size() && !(prob.w(idx[first]) > 0.0)) pick.push_back(idx[first++]);
    const double lo = std::log(prob.wLow), hi = std::log(prob.wHigh);
    std::size_t cursor = first;
    for (int k = 0; k < count; ++k) {
        const double target = std::exp(lo + (hi - lo) * k / std::max(1, count - 1));
        while (cursor + 1 < idx.size() && prob.w(idx[cursor + 1]) <= target) ++cursor;
        std::size_t best = cursor;
        if (cursor + 1 < idx.size() &&
            std::fabs(std::log(prob.w(idx[cursor + 1]) / target)) < std::fabs(std::log(prob.w(idx[cursor]) / target)))
            best = cursor + 1;
        if (pick.empty() || pick.back() != idx[best]) pick.push_back(idx[best]);
    }

    Problem sub;
    sub.n = static_cast<int>(pick.size());
    sub.ports = prob.ports;
    sub.scale = prob.scale;
    sub.wLow = prob.wLow;
    sub.wHigh = prob.wHigh;
    sub.anyPositive = prob.anyPositive;
    sub.hScale = prob.hScale;
    sub.errorScale = prob.errorScale;
    // `pick` runs in rising frequency.
    sub.byFrequency.resize(pick.size());
    for (std::size_t i = 0; i < pick.size(); ++i) sub.byFrequency[i] = static_cast<int>(i);
    sub.w.resize(sub.n);
    sub.userWeight.resize(sub.n);
    for (int i = 0; i < sub.n; ++i) {
        sub.w(i) = prob.w(pick[static_cast<std::size_t>(i)]);
        sub.userWeight(i) = prob.userWeight(pick[static_cast<std::size_t>(i)]);
    }
    for (std::size_t e = 0; e < prob.h.size(); ++e) {
        Eigen::VectorXcd h(sub.n);
        Eigen::VectorXd wr(sub.n), wi(sub.n);
        for (int i = 0; i < sub.n; ++i) {
            const int j = pick[static_cast<std::size_t>(i)];
            h(i) = prob.h[e](j);
            wr(i) = prob.wRe[e](j);
            wi(i) = prob.wIm[e](j);
        }
        sub.h.push_back(std::move(h));
        sub.wRe.push_back(std::move(wr));
        sub.wIm.push_back(std::move(wi));
    }
    CountRows(sub);
    return sub;
}

PoleSet StartingPoles(const Problem& prob, int order, bool complexPairs) {
    PoleSet poles;
    if (order <= 0) return poles;
    const double lo = std::log(prob.wLow), hi = std::log(prob.wHigh);
    if (complexPairs) {
        // Lightly damped pairs spread over the band (damping 1 %), plus one
        // real pole when the order is odd.
        const int pairs = order / 2;
        for (int k = 0; k < pairs; ++k) {
            const double t = pairs == 1 ? 0.5 : static_cast<double>(k) / (pairs - 1);
            const double beta = std::exp(lo + (hi - lo) * t);
            poles.emplace_back(-0.01 * beta, beta);
        }
        if (order % 2 == 1) poles.emplace_back(-std::exp(0.5 * (lo + hi)), 0.0);
        return poles;
    }
    // A loss that keeps rising toward the lowest frequency comes from a pole
    // below the band (dc conduction, ~1/w): start one there, where relocation
    // from inside the band would not reach.
    int inBand = order;
    if (LossRisesTowardDc(prob) && order >= 2) {
        poles.emplace_back(-prob.wLow * kConductionStart, 0.0);
        --inBand;
    }
    // Real poles at the centres of equal slices of the log band: the natural
    // start for relaxation data, whose loss peaks are wide on a log scale.
    for (int k = 0; k < inBand; ++k) {
        const double t = (k + 0.5) / inBand;
        poles.emplace_back(-std::exp(lo + (hi - lo) * t), 0.0);
    }
    return poles;
}

bool LossRisesTowardDc(const Problem& prob) {
    // Slope of log|Im H| against log w over the lowest few positive samples,
    // summed over the diagonal: about -1 for conduction, +1 below a relaxation.
    std::vector<std::pair<double, double>> low;
    for (int i = 0; i < prob.n; ++i) {
        if (!(prob.w(i) > 0.0)) continue;
        double im = 0.0;
        for (int p = 0; p < prob.ports; ++p) im += std::fabs(prob.h[static_cast<std::size_t>(p * prob.ports + p)](i).imag());
        if (im > 0.0) low.emplace_back(std::log(prob.w(i)), std::log(im));
    }
    if (low.size() < 3) return false;
    std::sort(low.begin(), low.end());
    low.resize(std::min<std::size_t>(low.size(), 5));
    double mx = 0.0, my = 0.0;
    for (const auto& [x, y] : low) {
        mx += x;
        my += y;
    }
    mx /= static_cast<double>(low.size());
    my /= static_cast<double>(low.size());
    double sxy = 0.0, sxx = 0.0;
    for (const auto& [x, y] : low) {
        sxy += (x - mx) * (y - my);
        sxx += (x - mx) * (x - mx);
    }
    return sxx > 0.0 && sxy / sxx < -0.5;
}

Eigen::MatrixXd RealBasis(const Eigen::Ref<const Eigen::VectorXd>& w, const PoleSet& poles) {
    const Eigen::Index n = w.size();
    Eigen::MatrixXd basis(2 * n, StateCount(poles));
    Eigen::Index col = 0;
    for (const auto& p : poles) {
        const double a = p.real();
        if (p.imag() == 0.0) {
            // 1/(j w - a) = (-a - j w)/(a^2 + w^2)
            for (Eigen::Index i = 0; i < n; ++i) {
                const double q = 1.0 / (a * a + w(i) * w(i));
                basis(i, col) = -a * q;
                basis(n + i, col) = -w(i) * q;
            }
            col += 1;
        } else {
            const double b = p.imag();
            for (Eigen::Index i = 0; i < n; ++i) {
                // 1/(j w - p) = (-a - j (w - b))/d1,  1/(j w - p*) = (-a - j (w + b))/d2
                const double wm = w(i) - b, wp = w(i) + b;
                const double d1 = a * a + wm * wm, d2 = a * a + wp * wp;
                basis(i, col) = -a / d1 - a / d2;
                basis(n + i, col) = -wm / d1 - wp / d2;
                basis(i, col + 1) = wm / d1 - wp / d2;
                basis(n + i, col + 1) = -a / d1 + a / d2;
            }
            col += 2;
        }
    }
    return basis;
}

namespace {

// Scales every column to unit norm; returns the factors applied.
void NormaliseColumns(Eigen::Ref<Eigen::MatrixXd> m, Eigen::Ref<Eigen::VectorXd> s) {
    for (Eigen::Index j = 0; j < m.cols(); ++j) {
        const double norm = m.col(j).norm();
        s(j) = norm > 0.0 && std::isfinite(norm) ? 1.0 / norm : 1.0;
        m.col(j) *= s(j);
    }
}

Eigen::VectorXd NormaliseColumns(Eigen::MatrixXd& m) {
    Eigen::VectorXd s(m.cols());
    NormaliseColumns(m, s);
    return s;
}

// Keeps a pole inside the band's wide surroundings and, when asked, in the
// left half plane.
std::complex<double> Condition(std::complex<double> p, const Problem& prob, bool stable) {
    double a = p.real(), b = std::fabs(p.imag());
    if (stable && a > 0.0) a = -a;  // reflect an unstable pole
    const double lo = prob.wLow * kPoleFloor, hi = prob.wHigh * kPoleCeiling;
    const double mag = b == 0.0 ? std::fabs(a) : std::hypot(a, b);
    if (b == 0.0) {
        const double m = std::clamp(std::fabs(a), lo, hi);
        return {a < 0.0 || (a == 0.0 && stable) ? -m : m, 0.0};
    }
    if (mag > hi || mag < lo) {
        const double f = std::clamp(mag, lo, hi) / mag;
        a *= f;
        b *= f;
    }
    // A pair on the imaginary axis is a lossless resonance, infinite at its
    // own frequency (a sample there makes the basis infinite): give it a trace
    // of damping, which also keeps it strictly stable when that is asked for.
    if (stable ? a >= -kAxisDamping * b : std::fabs(a) < kAxisDamping * b) a = -kAxisDamping * b;
    return {a, b};
}

// Converts the eigenvalues of the relocation into a pole set.
template <typename Values>
PoleSet ToPoles(const Values& ev, const Problem& prob, const Options& opt) {
    PoleSet out;
    out.reserve(static_cast<std::size_t>(ev.size()) + 1);
    for (Eigen::Index k = 0; k < ev.size(); ++k) {
        const std::complex<double> z = ev(k);
        if (!std::isfinite(z.real()) || !std::isfinite(z.imag())) continue;
        const double mag = Magnitude(z);
        const bool nearlyReal = std::fabs(z.imag()) <= kRealTolerance * mag;
        if (z.imag() < 0.0 && !nearlyReal) continue;  // its partner is kept
        if (nearlyReal) {
            out.push_back(Condition({z.real(), 0.0}, prob, opt.enforcePassivity));
        } else if (opt.allowComplex) {
            out.push_back(Condition(z, prob, opt.enforcePassivity));
        } else {
            // Real poles only: replace the pair by two real poles of the same
            // geometric mean, spread by the pair's angle.
            const double q = 1.0 + std::fabs(z.imag()) / mag;
            const double re = z.real() > 0.0 && !opt.enforcePassivity ? mag : -mag;
            out.push_back(Condition({re * q, 0.0}, prob, opt.enforcePassivity));
            out.push_back(Condition({re / q, 0.0}, prob, opt.enforcePassivity));
        }
    }
    // Coincident poles make the basis singular: nudge duplicates apart.
    std::sort(out.begin(), out.end(), [](const auto& x, const auto& y) {
        return Magnitude(x) < Magnitude(y);
    });
    for (std::size_t k = 1; k < out.size(); ++k)
        if (Magnitude(out[k] - out[k - 1]) <= 1e-9 * Magnitude(out[k])) out[k] *= 1.0 + 1e-6;
    return out;
}

// A working array of `size` values: on the stack up to N of them (the sizes
// a search reaches), else on the heap, so that the hot paths do not allocate.
// Neither is initialised.
template <typename T, std::size_t N>
class Scratch {
public:
    explicit Scratch(std::size_t size) : m_heap(size > N ? new T[size] : nullptr) {}
    T* data() { return m_heap ? m_heap.get() : m_stack.data(); }
    // The next `count` values after those already taken: one buffer carved
    // into consecutive arrays.
    T* Take(std::size_t count) {
        T* at = data() + m_taken;
        m_taken += count;
        return at;
    }

private:
    std::array<T, N> m_stack;
    std::unique_ptr<T[]> m_heap;
    std::size_t m_taken = 0;
};

// Zeros up to this many are found in stack arrays.
constexpr std::size_t kStackZeros = 64;

}  // namespace

// Aberth-Ehrlich iteration on the monic polynomial prod (s - a_k) sigma(s).
// The zeros start a little off the poles, alternately above and below the
// real axis so that pairs can form.
bool SigmaZeros(const Eigen::Ref<const Eigen::VectorXd>& a, const Eigen::Ref<const Eigen::VectorXd>& c,
                Eigen::VectorXcd& z) {
    using Complex = std::complex<double>;
    constexpr int kSweeps = 60;
    constexpr double kStart = 1e-3;
    // A zero has settled when its step is this small relative to it, or when
    // its steps, once below the looser bound, stop shrinking (rounding has
    // taken over, as for a zero held on a pole by a vanishing term).
    const double settled = 4.0 * std::numeric_limits<double>::epsilon();
    constexpr double kRounding = 1e-11;
    // 1/d without the library's guarded complex division, which would be most
    // of a sweep's cost: d is neither zero nor huge here.
    const auto inverse = [](Complex d) {
        const double m = 1.0 / (d.real() * d.real() + d.imag() * d.imag());
        return Complex(d.real() * m, -d.imag() * m);
    };
    const Eigen::Index n = a.size();
    const auto count = static_cast<std::size_t>(n);
    // The zeros' parts, then each step's reciprocals (found in the lanes and
    // summed here in order), then per zero its last step size and whether it
    // is done.
    constexpr std::size_t kArrays = 8;
    Scratch<double, kArrays * kStackZeros> scratch(kArrays * count);
    double *const zr = scratch.Take(count), *const zi = scratch.Take(count);
    double *const ur = scratch.Take(count), *const ui = scratch.Take(count);
    double *const vr = scratch.Take(count), *const vi = scratch.Take(count);
    double *const lastStep = scratch.Take(count), *const done = scratch.Take(count);
    for (std::size_t k = 0; k < count; ++k) {
        const Complex start = a(static_cast<Eigen::Index>(k)) * Complex(1.0, k % 2 == 0 ? kStart : -kStart);
        zr[k] = start.real();
        zi[k] = start.imag();
        lastStep[k] = std::numeric_limits<double>::infinity();
        done[k] = 0.0;
    }
    AberthTerms terms{a.data(), zr, zi, n, 0.0, 0.0, ur, ui, vr, vi};
    const VectorIsa isa = BestVectorIsa();
    Eigen::Index left = n;
    for (int sweep = 0; sweep < kSweeps && left > 0; ++sweep) {
        for (Eigen::Index i = 0; i < n; ++i) {
            const auto ui0 = static_cast<std::size_t>(i);
            if (done[ui0] != 0.0) continue;
            const Complex s(zr[ui0], zi[ui0]);
            Complex poles(0.0), sigma(1.0), slope(0.0), others(0.0);
            // A term too weak to move its pole leaves the zero exactly on it.
            bool found = s.imag() == 0.0 && (a.array() == s.real()).any();
            if (!found) {
                terms.sr = s.real();
                terms.si = s.imag();
                FillAberthTerms(terms, isa);
            }
            for (std::size_t k = 0; k < count && !found; ++k) {
                const Complex u(ur[k], ui[k]);
                poles += u;
                sigma += c(static_cast<Eigen::Index>(k)) * u;
                slope -= c(static_cast<Eigen::Index>(k)) * u * u;
                if (k != ui0) others += Complex(vr[k], vi[k]);
            }
            if (!found && sigma != 0.0) {
                // Newton's step for the polynomial, 1 / (p'/p), bent away
                // from the other zeros.
                const Complex newton = inverse(poles + slope * inverse(sigma));
                const Complex step = newton * inverse(1.0 - newton * others);
                if (!std::isfinite(step.real()) || !std::isfinite(step.imag())) return false;
                const Complex next = s - step;
                zr[ui0] = next.real();
                zi[ui0] = next.imag();
                // Squares rather than two hypots: zeros and steps are
                // normalised frequencies, far from the range's ends.
                const double size = std::sqrt((step.real() * step.real() + step.imag() * step.imag()) /
                                              (next.real() * next.real() + next.imag() * next.imag()));
                found = size <= settled || (size <= kRounding && size >= 0.5 * lastStep[ui0]);
                lastStep[ui0] = size;
            }
            if (found || sigma == 0.0) {
                done[ui0] = 1.0;
                --left;
            }
        }
    }
    if (left > 0) return false;
    z.resize(n);
    for (std::size_t k = 0; k < count; ++k) z(static_cast<Eigen::Index>(k)) = Complex(zr[k], zi[k]);
    int above = 0, below = 0;
    for (Eigen::Index k = 0; k < n; ++k)
        if (std::fabs(z(k).imag()) > kRealTolerance * std::abs(z(k))) (z(k).imag() > 0.0 ? above : below) += 1;
    return above == below;
}

bool InterlacedZeros(const Eigen::Ref<const Eigen::VectorXd>& poles, const Eigen::Ref<const Eigen::VectorXd>& terms,
                     Eigen::VectorXd& z) {
    constexpr int kIterations = 64;
    constexpr double kQuadraticSettle = 1e-9;
    const double eps = std::numeric_limits<double>::epsilon();
    const Eigen::Index n = poles.size();
    if (n == 0 || terms.size() != n) return false;
    // Terms all negative: s -> -s turns them positive.
    const double sign = terms(0) > 0.0 ? 1.0 : -1.0;
    for (Eigen::Index k = 0; k < n; ++k)
        if (!(sign * terms(k) > 0.0) || !std::isfinite(poles(k)) || !std::isfinite(terms(k))) return false;
    // Every zero's state, one array each, on the stack for the orders a
    // search reaches: the poles in rising order with their terms, then per
    // zero its origin, point, bracket and the secular sums there.
    const auto count = static_cast<std::size_t>(n);
    const auto lanes = static_cast<std::size_t>((n + kPoleLanes - 1) / kPoleLanes * kPoleLanes);
    constexpr std::size_t kArrays = 10;
    Scratch<double, kArrays * kStackZeros> scratch(kArrays * lanes);
    double *const a = scratch.Take(lanes), *const c = scratch.Take(lanes);
    double *const origin = scratch.Take(lanes), *const tau = scratch.Take(lanes);
    double *const lo = scratch.Take(lanes), *const hi = scratch.Take(lanes);
    double *const psi = scratch.Take(lanes), *const dpsi = scratch.Take(lanes);
    double *const phi = scratch.Take(lanes), *const dphi = scratch.Take(lanes);
    Scratch<Eigen::Index, kStackZeros> orderScratch(count);
    Eigen::Index* const order = orderScratch.data();
    for (Eigen::Index k = 0; k < n; ++k) order[k] = k;
    std::sort(order, order + n, [&](Eigen::Index x, Eigen::Index y) { return sign * poles(x) < sign * poles(y); });
    double total = 0.0;
    for (std::size_t k = 0; k < count; ++k) {
        a[k] = sign * poles(order[k]);
        c[k] = sign * terms(order[k]);
        total += c[k];
        // Poles too close to tell apart hold a zero between them that no
        // iteration can place better than the eigensolver does.
        if (k > 0 && !(a[k] - a[k - 1] > 4.0 * eps * std::max(std::fabs(a[k]), std::fabs(a[k - 1])))) return false;
    }
    // f = 1 + sum c/(s - a) falls from +inf to -inf between two poles, and
    // from 1 to -inf below the lowest: one zero in each of those intervals.
    // Zero k lies below pole k and above pole k - 1. Each is sought in
    // coordinates centred on the nearer pole, so that its distance from it
    // keeps its relative accuracy however wide the poles spread; between two
    // poles the first evaluation, at the middle, tells which is nearer.
    Scratch<unsigned char, kStackZeros> stateScratch(lanes);
    unsigned char* const state = stateScratch.data();
    enum : unsigned char { kUncentred, kCentred, kSettled };
    for (std::size_t k = 0; k < lanes; ++k) {
        if (k >= count) {
            origin[k] = 0.0;
            tau[k] = std::numeric_limits<double>::quiet_NaN();  // lanes past the last zero
            continue;
        }
        const bool lowest = k == 0;
        origin[k] = lowest ? a[0] : a[k - 1];
        // Below the lowest pole, f >= 1 - total / (a[0] - s): the zero lies
        // at or above a[0] - total (at it for one pole), so a little below
        // that bounds it.
        lo[k] = lowest ? -total * (1.0 + 4.0 * eps) : 0.0;
        hi[k] = lowest ? 0.0 : a[k] - origin[k];
        tau[k] = 0.5 * (lo[k] + hi[k]);
        state[k] = lowest ? kCentred : kUncentred;
    }
    // The lowest zero usually lies close to its pole, where halving the
    // bracket's distance takes many steps: it starts where the other terms,
    // frozen at that pole, put it.
    double rest = 1.0;
    for (std::size_t k = 1; k < count; ++k) rest -= c[k] / (a[k] - a[0]);
    const double guess = rest > 0.0 ? -c[0] / rest : 0.0;
    if (guess > lo[0] && guess < hi[0]) tau[0] = guess;
    // All zeros at once, a step each per evaluation of the sums.
    const SecularSums sums{a, c, n, origin, tau, static_cast<long>(lanes), psi, dpsi, phi, dphi};
    const VectorIsa isa = BestVectorIsa();
    std::size_t open = count;
    for (int it = 0; it < kIterations && open > 0; ++it) {
        EvaluateSecular(sums, isa);
        for (std::size_t k = 0; k < count; ++k) {
            if (state[k] == kSettled) continue;
            const double f = 1.0 + psi[k] + phi[k];
            const double size = 1.0 + psi[k] - phi[k];  // the terms below are positive, those above negative
            if (f > 0.0) lo[k] = tau[k];
            if (f < 0.0) hi[k] = tau[k];
            if (f == 0.0 || std::fabs(f) <= 4.0 * eps * static_cast<double>(n) * size) {
                state[k] = kSettled;
                --open;
                continue;
            }
            if (state[k] == kUncentred && f >= 0.0) {
                // The zero lies in the upper half: centre on the upper pole.
                const double shift = a[k] - origin[k];
                origin[k] = a[k];
                tau[k] -= shift;
                lo[k] -= shift;
                hi[k] -= shift;
            }
            const bool lowest = k == 0;
            const double t = tau[k], left = lowest ? 0.0 : a[k - 1] - origin[k], right = a[k] - origin[k];
            // The zero of the model that keeps the two nearest poles and
            // matches f and its slope here: C + s/(x - left) + S/(x - right).
            // (S / (t - right) is -dphi (t - right): no division needed.)
            const double bigS = -dphi[k] * (t - right) * (t - right);
            const double cc = 1.0 + phi[k] + dphi[k] * (t - right);
            double next = std::numeric_limits<double>::quiet_NaN();
            if (lowest) {
                next = cc > 0.0 ? right - bigS / cc : next;
            } else {
                const double smallS = -dpsi[k] * (t - left) * (t - left);
                const double cm = cc + psi[k] + dpsi[k] * (t - left);
                // cm (x - l)(x - r) + s (x - r) + S (x - l) = 0; l r = 0.
                const double b = -cm * (left + right) + smallS + bigS;
                const double c0 = -smallS * right - bigS * left;
                const double disc = b * b - 4.0 * cm * c0;
                if (disc >= 0.0) {
                    const double q = -0.5 * (b + std::copysign(std::sqrt(disc), b));
                    const double x1 = cm != 0.0 ? q / cm : std::numeric_limits<double>::quiet_NaN();
                    const double x2 = q != 0.0 ? c0 / q : std::numeric_limits<double>::quiet_NaN();
                    next = x1 > lo[k] && x1 < hi[k] ? x1 : x2;
                }
            }
            // Outside what is known to hold the zero: bisect.
            if (!(next > lo[k] && next < hi[k])) next = 0.5 * (lo[k] + hi[k]);
            // The model's steps converge quadratically: a step this small
            // leaves an error far below rounding once taken.
            const bool done = std::fabs(next - t) <= kQuadraticSettle * std::fabs(next) ||
                              !(hi[k] - lo[k] > 2.0 * eps * std::max(std::fabs(lo[k]), std::fabs(hi[k])));
            tau[k] = next;
            state[k] = done ? kSettled : kCentred;
            if (done) --open;
        }
    }
    if (open > 0) return false;
    z.resize(n);
    for (std::size_t k = 0; k < count; ++k) z(static_cast<Eigen::Index>(k)) = sign * (origin[k] + tau[k]);
    return true;
}

namespace {

// Samples per block when the relocation's Gram matrix is accumulated: the
// system's rows are built a block at a time, so that no relocation allocates
// (and, on a table of any size, faults in) the whole system.
constexpr Eigen::Index kRelocationBlock = 128;
// Real poles up to this many go to the lane kernels from stack arrays.
constexpr Eigen::Index kLanePoles = 256;
// Poles up to this many keep the residue solve's per-pole sums on the stack.
constexpr std::size_t kStackPoles = 64;
// A relocation's rows, Gram matrix and reduced system on the stack up to
// these sizes: a block of 64 samples (a search's subset) with up to 15 poles
// of one entry. About 45 kB, so that a host's worker threads with small
// stacks are safe.
constexpr std::size_t kStackRelocationRows = 2 * 64 * 32;
constexpr std::size_t kStackGram = 32 * 33;
constexpr std::size_t kStackReduced = 2 * 17 * 16 + 17 + 16 + 2 * 15;

// Rows [i0, i0 + m) of entry `e`'s relocation system, weighted: first the
// columns of the entry's own residues (the basis, then the constant unless
// omitted), then those of the common weighting function (-h times the basis,
// then -h), zeros past them. Writes row i at out + i * ld, for ld at least
// GramWidth of the columns. Adds the basis's real rows, summed, to `relax`
// when it is given.
void RelocationRows(const Problem& prob, const PoleSet& poles, std::size_t e, bool withD, Eigen::Index i0,
                    Eigen::Index m, double* outData, Eigen::Index ld, Eigen::RowVectorXd* relax) {
    const Eigen::Index states = StateCount(poles);
    const Eigen::Index nA = states + (withD ? 1 : 0);
    const auto h = prob.h[e].segment(i0, m);
    const auto wr = prob.wRe[e].segment(i0, m);
    const auto wi = prob.wIm[e].segment(i0, m);
    const Eigen::Index cols = nA + states + 1;
    Eigen::Map<GramRows> out(outData, 2 * m, ld);
    if (states == static_cast<Eigen::Index>(poles.size()) && states <= kLanePoles) {
        // Real poles (the usual case) in the lane kernel.
        Eigen::Array<double, Eigen::Dynamic, 1, 0, kLanePoles, 1> a(states);
        for (Eigen::Index k = 0; k < states; ++k) a(k) = poles[static_cast<std::size_t>(k)].real();
        const RelocationBlock block{prob.w.data() + i0, reinterpret_cast<const double*>(h.data()), wr.data(),
                                    wi.data(), m, a.data(), states, nA, withD, out.data(), out.cols(),
                                    relax != nullptr ? relax->data() : nullptr};
        FillRelocationRows(block, BestVectorIsa());
        return;
    }
    out.rightCols(out.cols() - cols).setZero();
    const Eigen::MatrixXd basis = RealBasis(prob.w.segment(i0, m), poles);
    // A sample's two rows at a time, written where the Gram kernel reads them.
    for (Eigen::Index i = 0; i < m; ++i) {
        double* re = &out(i, 0);
        double* im = &out(m + i, 0);
        const double hr = h(i).real(), hi = h(i).imag(), wri = wr(i), wii = wi(i);
        for (Eigen::Index j = 0; j < states; ++j) {
            const double br = basis(i, j), bi = basis(m + i, j);
            re[j] = wri * br;
            im[j] = wii * bi;
            re[nA + j] = -wri * (hr * br - hi * bi);
            im[nA + j] = -wii * (hr * bi + hi * br);
        }
        if (withD) {
            re[states] = wri;
            im[states] = 0.0;
        }
        re[nA + states] = -hr * wri;
        im[nA + states] = -hi * wii;
    }
    if (relax != nullptr) relax->head(states) += basis.topRows(m).colwise().sum();
}

// Scales the first `count` columns (the entry's own residues) to unit norm:
// the reduced block does not change, the factorisation is helped.
void UnitColumns(Eigen::MatrixXd& m, Eigen::Index count) {
    for (Eigen::Index j = 0; j < count; ++j) {
        const double norm = m.col(j).norm();
        if (norm > 0.0) m.col(j) /= norm;
    }
}

// The trailing block of R for [A | B] from the lower triangle of the Gram
// matrix [A | B]'[A | B] (factorised in place, with the padding that
// FactorLowerColumns asks for): the trailing block of its Cholesky factor,
// whose square is the Schur complement of A'A. Half the work of a QR, at the
// price of squaring the condition number, which the coarse relocations can
// afford. Returns false when the Gram matrix is not positive definite.
bool ReduceGram(Eigen::Ref<Eigen::MatrixXd, 0, Eigen::OuterStride<>> lower, Eigen::Index nB,
                Eigen::Ref<Eigen::MatrixXd> out, Eigen::Index row) {
    if (!FactorLowerColumns(lower.data(), lower.rows(), lower.outerStride(), BestVectorIsa())) return false;
    out.block(row, 0, nB, nB) = lower.bottomRightCorner(nB, nB).transpose().triangularView<Eigen::Upper>();
    return true;
}

// min ||m y - rhs|| for m an upper triangle over one more row: Givens
// rotations fold the row into the triangle (O(N^2) instead of a pivoted QR's
// O(N^3)), which is then solved. Leaves the folded triangle in m and the
// rotated right-hand side in rhs. False when the triangle comes out too close
// to singular for a solve without pivoting.
bool FoldRow(Eigen::Ref<Eigen::MatrixXd> m, Eigen::Ref<Eigen::VectorXd> rhs, Eigen::VectorXd& y) {
    const Eigen::Index n = m.cols(), last = m.rows() - 1;
    for (Eigen::Index j = 0; j < n; ++j) {
        if (m(last, j) == 0.0) continue;
        Eigen::JacobiRotation<double> g;
        g.makeGivens(m(j, j), m(last, j));
        m.rightCols(n - j).applyOnTheLeft(j, last, g.adjoint());
        rhs.applyOnTheLeft(j, last, g.adjoint());
    }
    return SolveRotatedTriangle(m, rhs, y);
}

}  // namespace

PoleSet Relocate(const Problem& prob, const PoleSet& poles, const Options& opt,
                 double* condition, bool coarse) {
    // No pole to move (a lone pair shrunk away while checking lower orders);
    // Eigen's eigensolver must not see the empty matrix.
    if (poles.empty()) return poles;
    const Eigen::Index n = prob.n;
    const Eigen::Index states = StateCount(poles);
    const bool withD = !opt.omitConstant;
    const Eigen::Index nA = states + (withD ? 1 : 0);
    const Eigen::Index nB = states + 1;
    const int entries = static_cast<int>(prob.h.size());

    // For each entry, eliminate its own residues and keep the block of R that
    // involves only the common weighting function (the fast variant): from
    // the Gram matrix accumulated block by block when coarse, else (or when
    // that fails) by QR of the whole system.
    // The reduced system, its scaled copy and right-hand side, the column
    // scales, then the weighting function's terms and the poles, in one
    // working array.
    const Eigen::Index rows = static_cast<Eigen::Index>(entries) * nB + 1;
    Scratch<double, kStackReduced> small(static_cast<std::size_t>(2 * rows * nB + rows + nB + 2 * states));
    const auto take = [&](Eigen::Index length) { return small.Take(static_cast<std::size_t>(length)); };
    Eigen::Map<Eigen::MatrixXd> reduced(take(rows * nB), rows, nB), scaled(take(rows * nB), rows, nB);
    Eigen::Map<Eigen::VectorXd> rhs(take(rows), rows), colScale(take(nB), nB), c(take(states), states),
        diagonal(take(states), states);
    reduced.setZero();
    // The rows and the Gram matrix on the stack for the sizes a search
    // reaches.
    const Eigen::Index ld = GramWidth(nA + nB), blockRows = 2 * std::min(kRelocationBlock, n);
    const bool blocked = coarse && 2 * n >= nA + nB;
    Scratch<double, kStackRelocationRows> rowScratch(static_cast<std::size_t>(blocked ? blockRows * ld : 0));
    // The Gram matrix's columns padded to whole vectors, one more column
    // behind, for the factorisation's lanes.
    const Eigen::Index size = blocked ? nA + nB : 0, ldg = (size + kPoleLanes - 1) / kPoleLanes * kPoleLanes;
    Scratch<double, kStackGram> gramScratch(static_cast<std::size_t>(ldg * (size + 1)));
    Eigen::Map<Eigen::MatrixXd, 0, Eigen::OuterStride<>> gram(gramScratch.data(), size, size,
                                                               Eigen::OuterStride<>(ldg));
    double hNorm2 = 0.0;
    Eigen::RowVectorXd relax = Eigen::RowVectorXd::Zero(nB);
    bool relaxSummed = false;
    // One entry whose block is a full triangle: the relaxation row is folded
    // into it instead of factorising the whole.
    bool triangle = entries == 1;
    for (int e = 0; e < entries; ++e) {
        const auto ue = static_cast<std::size_t>(e);
        const Eigen::Index row = static_cast<Eigen::Index>(e) * nB;
        if (blocked) {
            std::fill(gramScratch.data(), gramScratch.data() + ldg * (size + 1), 0.0);
            for (Eigen::Index i0 = 0; i0 < n; i0 += kRelocationBlock) {
                const Eigen::Index m = std::min(kRelocationBlock, n - i0);
                RelocationRows(prob, poles, ue, withD, i0, m, rowScratch.data(), ld, relaxSummed ? nullptr : &relax);
                AddGramRows(rowScratch.data(), 2 * m, nA + nB, ld, gram.data(), ldg, BestVectorIsa());
            }
            relaxSummed = true;
            const double hh = gram(nA + states, nA + states);
            hNorm2 += hh;
            // Unit columns for the entry's own residues (as the QR below has),
            // in place, on the lower triangle the factorisation reads.
            for (Eigen::Index j = 0; j < nA; ++j) {
                const double diagonal = gram(j, j);
                if (!(diagonal > 0.0)) continue;
                const double scale = 1.0 / std::sqrt(diagonal);
                gram.col(j).tail(nA + nB - j) *= scale;
                gram.row(j).segment(0, j + 1) *= scale;  // (j, j) scaled twice
            }
            if (ReduceGram(gram, nB, reduced, row)) continue;
            hNorm2 -= hh;  // counted again below
        }
        GramRows all(2 * n, ld);
        RelocationRows(prob, poles, ue, withD, 0, n, all.data(), ld, relaxSummed ? nullptr : &relax);
        relaxSummed = true;
        Eigen::MatrixXd system = all.leftCols(nA + nB);
        hNorm2 += system.col(nA + states).squaredNorm();
        UnitColumns(system, nA);
        Eigen::HouseholderQR<Eigen::MatrixXd> qr(system);
        const Eigen::Index rTop = std::min<Eigen::Index>(2 * n, nA + nB);
        const Eigen::MatrixXd r = qr.matrixQR().topRows(rTop).triangularView<Eigen::Upper>();
        const Eigen::Index avail = std::max<Eigen::Index>(0, rTop - nA);
        if (avail > 0) reduced.block(row, 0, avail, nB) = r.block(nA, nA, avail, nB);
        if (avail < nB) triangle = false;
    }

    // Relaxation: the mean real part of the weighting function over the
    // samples is tied to 1 instead of fixing its constant (Gustavsen 2006).
    const double count = static_cast<double>(n);
    const double lambda = std::sqrt(hNorm2) / count;
    relax(states) = count;
    const Eigen::Index last = reduced.rows() - 1;
    reduced.row(last) = lambda * relax;
    rhs.setZero();
    rhs(last) = lambda * count;

    scaled = reduced;
    NormaliseColumns(scaled, colScale);
    Eigen::VectorXd y;
    double dmin = 0.0, dmax = 0.0;
    if (triangle && FoldRow(scaled, rhs, y)) {
        dmin = scaled.diagonal().cwiseAbs().minCoeff();
        dmax = scaled.diagonal().cwiseAbs().maxCoeff();
    } else {
        if (triangle) {
            // The fold changed both: start again from the unfolded system.
            scaled = reduced;
            NormaliseColumns(scaled, colScale);
            rhs.setZero();
            rhs(last) = lambda * count;
        }
        Eigen::ColPivHouseholderQR<Eigen::MatrixXd> solver(scaled);
        y = solver.solve(rhs);
        dmin = solver.matrixR().diagonal().cwiseAbs().minCoeff();
        dmax = solver.matrixR().diagonal().cwiseAbs().maxCoeff();
    }
    y = colScale.cwiseProduct(y);
    if (condition != nullptr) *condition = dmin > 0.0 ? dmax / dmin : std::numeric_limits<double>::infinity();

    double dSigma = y(states);
    if (!(std::fabs(dSigma) >= kSigmaConstLow) || std::fabs(dSigma) > kSigmaConstHigh ||
        !y.allFinite()) {
        // The relaxed solution is degenerate: fix the constant at its bound
        // and solve again without the relaxation row.
        const double sign = !std::isnan(dSigma) && dSigma < 0.0 ? -1.0 : 1.0;
        dSigma = sign * (std::fabs(dSigma) > kSigmaConstHigh ? kSigmaConstHigh : kSigmaConstLow);
        Eigen::MatrixXd a = reduced.topRows(last).leftCols(states);
        Eigen::VectorXd b = -dSigma * reduced.topRows(last).col(states);
        Eigen::VectorXd cs = NormaliseColumns(a);
        y.head(states) = cs.cwiseProduct(a.colPivHouseholderQr().solve(b));
        y(states) = dSigma;
    }

    // Zeros of sigma(s) = d + c^T (sI - A)^-1 b are the eigenvalues of
    // A - b c^T / d. A is diagonal for real poles and holds a 2x2 block
    // [[a, beta], [-beta, a]] with b = (2, 0) for each pair.
    c = y.head(states) / dSigma;
    if (!c.allFinite()) return poles;
    const bool allReal = StateCount(poles) == static_cast<int>(poles.size());
    if (allReal) {
        for (Eigen::Index k = 0; k < states; ++k) diagonal(k) = poles[static_cast<std::size_t>(k)].real();
        if (c.minCoeff() > 0.0 || c.maxCoeff() < 0.0) {
            // Terms of one sign: the zeros are real and interlace the poles.
            Eigen::VectorXd zeros;
            if (InterlacedZeros(diagonal, c, zeros)) {
                PoleSet next = ToPoles(zeros, prob, opt);
                if (!next.empty()) return next;
            }
            // The similarity diag(sqrt|c|) turns A - 1 c^T into the symmetric
            // A - sign w w^T.
            const Eigen::VectorXd w = c.cwiseAbs().cwiseSqrt();
            Eigen::MatrixXd sym = -(c(0) > 0.0 ? 1.0 : -1.0) * w * w.transpose();
            sym.diagonal() += diagonal;
            Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd> eig(sym, Eigen::EigenvaluesOnly);
            if (eig.info() == Eigen::Success) {
                PoleSet next = ToPoles(eig.eigenvalues(), prob, opt);
                if (!next.empty()) return next;
            }
        } else {
            // Terms of both signs (noise): zeros may pair off the axis; found
            // without the dense solver all the same.
            Eigen::VectorXcd zeros;
            if (SigmaZeros(diagonal, c, zeros)) {
                PoleSet next = ToPoles(zeros, prob, opt);
                if (!next.empty()) return next;
            }
        }
    }
    Eigen::MatrixXd hm = Eigen::MatrixXd::Zero(states, states);
    Eigen::VectorXd bvec = Eigen::VectorXd::Zero(states);
    Eigen::Index k = 0;
    for (const auto& p : poles) {
        if (p.imag() == 0.0) {
            hm(k, k) = p.real();
            bvec(k) = 1.0;
            k += 1;
        } else {
            hm(k, k) = p.real();
            hm(k, k + 1) = p.imag();
            hm(k + 1, k) = -p.imag();
            hm(k + 1, k + 1) = p.real();
            bvec(k) = 2.0;
            k += 2;
        }
    }
    hm -= bvec * c.transpose();
    if (!hm.allFinite()) return poles;
    Eigen::EigenSolver<Eigen::MatrixXd> eig(hm, false);
    if (eig.info() != Eigen::Success) return poles;
    PoleSet next = ToPoles(eig.eigenvalues(), prob, opt);
    if (static_cast<int>(next.size()) == 0 && !poles.empty()) return poles;
    return next;
}

namespace {

// Many more rows than this per column, and the Gram matrix is cheaper to form
// than a QR factorisation.
constexpr Eigen::Index kGramRowsPerColumn = 32;
// Samples per block when the Gram matrix of a tall system is accumulated
// without storing the system: large tables never allocate (and fault in) a
// matrix of thousands of rows per solve.
constexpr Eigen::Index kBlockSamples = 512;

// The residue solve's columns for the samples at normalised frequencies `w`
// (real rows, then imaginary rows), before the row weights. With passivity
// enforced, a pair's coefficients (x, y) of r = x + j y are replaced by u = x
// and v = x (a^2 - b^2) + 2 a b y: the pair's loss
// w [(Q R - P S) + P w^2] / |den|^2 is non-negative for all w exactly when
// u >= 0 and v >= 0, so bounds on (u, v) are the whole constraint.
Eigen::MatrixXd Design(const Eigen::Ref<const Eigen::VectorXd>& w, const PoleSet& poles, bool passive, bool withD) {
    const Eigen::Index n = w.size();
    const Eigen::MatrixXd basis = RealBasis(w, poles);
    const Eigen::Index states = basis.cols();
    Eigen::MatrixXd design(2 * n, states + (withD ? 1 : 0));
    design.leftCols(states) = basis;
    Eigen::Index col = 0;
    for (const auto& p : poles) {
        if (p.imag() != 0.0 && passive) {
            const double a = p.real(), b = p.imag();
            const double g = 2.0 * a * b;
            design.col(col) = basis.col(col) - basis.col(col + 1) * ((a * a - b * b) / g);
            design.col(col + 1) = basis.col(col + 1) / g;
        }
        col += p.imag() != 0.0 ? 2 : 1;
    }
    if (withD) {
        design.col(states).head(n).setOnes();
        design.col(states).tail(n).setZero();
    }
    return design;
}

// A Cholesky factor of a Gram matrix of unit columns is used when its
// pivots span less than this: the columns are then far enough from dependent
// for the squared condition number of the semi-normal equations to stay
// harmless.
constexpr double kUsablePivots = 1e-6;

// The Cholesky factor of the Gram matrix of unit columns, when it exists and
// its pivots are usable.
bool UsableCholesky(const Eigen::MatrixXd& gram, Eigen::LLT<Eigen::MatrixXd>& llt) {
    llt.compute(gram);
    if (llt.info() != Eigen::Success) return false;
    const auto d = llt.matrixLLT().diagonal().cwiseAbs();
    return d.minCoeff() > kUsablePivots * d.maxCoeff();
}

// A partial-fraction entry is used only where the difference of two per-pole
// sums keeps at least this fraction of the larger one (see RealPoleGram).
constexpr double kPartialFractionLoss = 1.0 / 16.0;

// One block of at most kBlockSamples samples of entry `e`, held on the stack:
// large tables are walked block by block, so that no pass over them
// allocates (and faults in) arrays of their size.
struct SampleBlock {
    using Array = Eigen::Array<double, Eigen::Dynamic, 1, 0, kBlockSamples, 1>;
    Array w, x, alpha, beta, betaX, alphaHr, betaHiW;
    SampleBlock(const Problem& prob, std::size_t e, Eigen::Index i0, Eigen::Index m)
        : w(prob.w.segment(i0, m)), x(w.square()), alpha(prob.wRe[e].segment(i0, m).array().square()),
          beta(prob.wIm[e].segment(i0, m).array().square()), betaX(beta * x),
          alphaHr(alpha * prob.h[e].segment(i0, m).real().array()),
          betaHiW(beta * prob.h[e].segment(i0, m).imag().array() * w) {}
};

// The lower triangle of the Gram matrix A'A and A'b of the weighted residue
// solve of entry `e` when every pole is real (into zeroed `gram` and `atb`),
// in O(n N) work instead of the O(n N^2) of forming the products. With
// x = w^2 and q_j = 1/(a_j^2 + x), a column is (-a_j q_j) in the real rows and
// (-w q_j) in the imaginary ones, and the product of two columns splits into
// partial fractions:
//   q_j q_k = (q_j - q_k) / (a_k^2 - a_j^2),
//   x q_j q_k = (a_k^2 q_k - a_j^2 q_j) / (a_k^2 - a_j^2),
// so an off-diagonal entry is a difference of per-pole sums of positive
// terms. Each sum is exact to a few ulps, but their difference loses what
// they share: where it is below kPartialFractionLoss of the larger sum (poles
// close together, or both far below or above the samples) the entry is summed
// directly instead. Of the imaginary rows' two equal forms the one that
// cancels less is taken.
void RealPoleGram(const Problem& prob, const PoleSet& poles, bool withD, std::size_t e, Eigen::MatrixXd& gram,
                  Eigen::VectorXd& atb) {
    const Eigen::Index states = static_cast<Eigen::Index>(poles.size());
    // Per pole: S = sum alpha q, T = sum beta x q, U = a^2 sum beta q, and
    // the diagonal and A'b, from one pass of the lane kernel per block. The
    // poles' arrays (a, a^2 padded for the lanes, then the seven sums) share
    // one buffer, on the stack unless the poles are many.
    const Eigen::Index padded = (states + kPoleLanes - 1) / kPoleLanes * kPoleLanes;
    const Eigen::Index size = 9 * padded;
    Scratch<double, 9 * kStackPoles> scratch(static_cast<std::size_t>(size));
    double* const buffer = scratch.data();
    std::fill(buffer, buffer + size, 0.0);
    Eigen::Map<Eigen::VectorXd> a(buffer, states), sq(buffer + padded, states);
    Eigen::Map<Eigen::MatrixXd> sums(buffer + 2 * padded, padded, 7);
    for (Eigen::Index j = 0; j < padded; ++j) {
        const double aj = j < states ? poles[static_cast<std::size_t>(j)].real() : 1.0;
        buffer[j] = aj;
        buffer[padded + j] = aj * aj;  // the padding's poles are harmless ones
    }
    const VectorIsa isa = BestVectorIsa();
    for (Eigen::Index i0 = 0; i0 < prob.n; i0 += kBlockSamples) {
        const Eigen::Index m = std::min<Eigen::Index>(kBlockSamples, prob.n - i0);
        const SampleBlock b(prob, e, i0, m);
        double* out = sums.data();  // column c at out + c * padded (no pole: nothing is written)
        const PoleSums p{b.x.data(),          b.alpha.data(),      b.beta.data(),       b.betaX.data(),
                         b.alphaHr.data(),    b.betaHiW.data(),    m,                   sq.data(),
                         padded,              out,                 out + padded,        out + 2 * padded,
                         out + 3 * padded,    out + 4 * padded,    out + 5 * padded,    out + 6 * padded};
        AddPoleSums(p, isa);
        if (withD) {
            gram(states, states) += b.alpha.sum();
            atb(states) += b.alphaHr.sum();
        }
    }
    const auto s = sums.col(0).head(states), t = sums.col(1).head(states);
    auto u = sums.col(2).head(states);
    for (Eigen::Index j = 0; j < states; ++j) {
        u(j) *= sq(j);
        gram(j, j) += sq(j) * sums(j, 3) + sums(j, 4);
        atb(j) -= a(j) * sums(j, 5) + sums(j, 6);
    }
    if (withD)
        for (Eigen::Index j = 0; j < states; ++j) gram(states, j) = -a(j) * s(j);
    std::vector<std::pair<Eigen::Index, Eigen::Index>> direct;
    for (Eigen::Index j = 0; j < states; ++j)
        for (Eigen::Index k = j + 1; k < states; ++k) {
            const double gap = sq(k) - sq(j);
            const double dS = s(j) - s(k);
            const bool useT = std::max(t(j), t(k)) <= std::max(u(j), u(k));
            const double dI = useT ? t(j) - t(k) : u(k) - u(j);
            const double sizeI = useT ? std::max(t(j), t(k)) : std::max(u(j), u(k));
            if (gap != 0.0 && std::fabs(dS) >= kPartialFractionLoss * std::max(s(j), s(k)) &&
                std::fabs(dI) >= kPartialFractionLoss * sizeI)
                gram(k, j) = (a(j) * a(k) * dS + dI) / gap;
            else
                direct.emplace_back(k, j);
        }
    if (direct.empty()) return;
    SampleBlock::Array q, qk;
    for (Eigen::Index i0 = 0; i0 < prob.n; i0 += kBlockSamples) {
        const SampleBlock b(prob, e, i0, std::min<Eigen::Index>(kBlockSamples, prob.n - i0));
        for (const auto& [k, j] : direct) {
            q = 1.0 / (sq(j) + b.x);
            qk = 1.0 / (sq(k) + b.x);
            q *= qk;
            gram(k, j) += a(j) * a(k) * (b.alpha * q).sum() + (b.betaX * q).sum();
        }
    }
}

// The weighted residual at the samples [i0, i0 + m), m at most kBlockSamples,
// of entry `e` against the terms of `poles` with `residues` and the constant
// `d`: real parts into `re`, imaginary parts into `im`. The model is summed
// term by term (the basis of RealBasis without storing it).
void BlockResidual(const Problem& prob, const PoleSet& poles, const std::vector<std::complex<double>>& residues,
                   double d, std::size_t e, Eigen::Index i0, Eigen::Index m, SampleBlock::Array& re,
                   SampleBlock::Array& im) {
    const SampleBlock::Array w = prob.w.segment(i0, m);
    re.resize(m);
    im.resize(m);
    // Real poles (the usual case) in the lane kernel.
    const auto count = static_cast<Eigen::Index>(poles.size());
    if (count <= kLanePoles && StateCount(poles) == count) {
        Eigen::Array<double, Eigen::Dynamic, 1, 0, kLanePoles, 1> a(count), x(count);
        for (Eigen::Index k = 0; k < count; ++k) {
            a(k) = poles[static_cast<std::size_t>(k)].real();
            x(k) = residues[static_cast<std::size_t>(k)].real();
        }
        RealResponse(w.data(), m, a.data(), x.data(), count, d, re.data(), im.data(), BestVectorIsa());
        re = prob.wRe[e].segment(i0, m).array() * (re - prob.h[e].segment(i0, m).real().array());
        im = prob.wIm[e].segment(i0, m).array() * (im - prob.h[e].segment(i0, m).imag().array());
        return;
    }
    SampleBlock::Array d1(m), d2(m);
    re.setConstant(m, d);
    im.setZero(m);
    for (std::size_t k = 0; k < poles.size(); ++k) {
        const double a = poles[k].real(), b = poles[k].imag();
        const double x = residues[k].real(), y = residues[k].imag();
        if (b == 0.0) {
            d1 = x / (a * a + w.square());
            re -= a * d1;
            im -= w * d1;
        } else {
            // x (1/(s-p) + 1/(s-p*)) + y (j/(s-p) - j/(s-p*))
            d1 = 1.0 / (a * a + (w - b).square());
            d2 = 1.0 / (a * a + (w + b).square());
            re += (-a * x - y * b + w * y) * d1 + (-a * x - y * b - w * y) * d2;
            im += (-x * w + x * b - a * y) * d1 + (-x * w - x * b + a * y) * d2;
        }
    }
    re = prob.wRe[e].segment(i0, m).array() * (re - prob.h[e].segment(i0, m).real().array());
    im = prob.wIm[e].segment(i0, m).array() * (im - prob.h[e].segment(i0, m).imag().array());
}

// A'(b - A x) of entry `e`'s weighted residue solve for real poles and the
// coefficients x (residues, then the constant), block by block without A.
Eigen::VectorXd RealPoleResidualProducts(const Problem& prob, const PoleSet& poles, bool withD, std::size_t e,
                                         const Eigen::VectorXd& coef) {
    const Eigen::Index states = static_cast<Eigen::Index>(poles.size());
    std::vector<std::complex<double>> residues(poles.size());
    for (Eigen::Index j = 0; j < states; ++j) residues[static_cast<std::size_t>(j)] = coef(j);
    Eigen::VectorXd out = Eigen::VectorXd::Zero(coef.size());
    // Per pole, a^2 (padded for the lanes with harmless poles) and the sums
    // of the real and the imaginary rows' residuals against q.
    const Eigen::Index padded = (states + kPoleLanes - 1) / kPoleLanes * kPoleLanes;
    Scratch<double, 3 * kStackPoles> scratch(static_cast<std::size_t>(3 * padded));
    const auto count = static_cast<std::size_t>(padded);
    double *const sq = scratch.Take(count), *const sumRe = scratch.Take(count), *const sumIm = scratch.Take(count);
    for (Eigen::Index j = 0; j < padded; ++j) {
        const double a = j < states ? poles[static_cast<std::size_t>(j)].real() : 1.0;
        sq[j] = a * a;
        sumRe[j] = sumIm[j] = 0.0;
    }
    SampleBlock::Array re, im, x, wIm;
    const VectorIsa isa = BestVectorIsa();
    for (Eigen::Index i0 = 0; i0 < prob.n; i0 += kBlockSamples) {
        const Eigen::Index m = std::min<Eigen::Index>(kBlockSamples, prob.n - i0);
        BlockResidual(prob, poles, residues, withD ? coef(states) : 0.0, e, i0, m, re, im);
        // b - A x, times the row weights a second time for A's rows.
        re *= -prob.wRe[e].segment(i0, m).array();
        im *= -prob.wIm[e].segment(i0, m).array();
        x = prob.w.segment(i0, m).array().square();
        wIm = prob.w.segment(i0, m).array() * im;
        AddPoleProducts(x.data(), re.data(), wIm.data(), m, sq, padded, sumRe, sumIm, isa);
        if (withD) out(states) += re.sum();
    }
    // Column j: -a q in the real rows, -w q in the imaginary ones.
    for (Eigen::Index j = 0; j < states; ++j) out(j) = -(poles[static_cast<std::size_t>(j)].real() * sumRe[j] + sumIm[j]);
    return out;
}

// R and Q'b of min ||A S x - b|| for the unit-column scaling S of the tall,
// weighted design A of entry `e`, from the Cholesky factor of S A'A S
// accumulated block by block: a quarter of a QR's work and no storage of A.
// Its squared condition number stays harmless for unit columns unless they
// are nearly dependent; then it returns false and the caller factorises.
bool GramFactor(const Problem& prob, const PoleSet& poles, bool passive, bool withD, std::size_t e,
                Eigen::Index cols, Eigen::MatrixXd& r, Eigen::VectorXd& qtb, Eigen::VectorXd& scale) {
    const auto& h = prob.h[e];
    const auto& wr = prob.wRe[e];
    const auto& wi = prob.wIm[e];
    // Columns padded to whole vectors, one more column behind, for the
    // factorisation's lanes.
    const Eigen::Index ldg = (cols + kPoleLanes - 1) / kPoleLanes * kPoleLanes;
    Eigen::MatrixXd padded = Eigen::MatrixXd::Zero(ldg, cols + 1);
    auto gram = padded.topLeftCorner(cols, cols);
    Eigen::VectorXd atb = Eigen::VectorXd::Zero(cols);
    const bool allReal = StateCount(poles) == static_cast<int>(poles.size());
    if (allReal) RealPoleGram(prob, poles, withD, e, padded, atb);
    for (Eigen::Index i0 = 0; !allReal && i0 < prob.n; i0 += kBlockSamples) {
        const Eigen::Index m = std::min<Eigen::Index>(kBlockSamples, prob.n - i0);
        Eigen::MatrixXd block = Design(prob.w.segment(i0, m), poles, passive, withD);
        Eigen::VectorXd rowW(2 * m), rhs(2 * m);
        rowW << wr.segment(i0, m), wi.segment(i0, m);
        rhs << h.segment(i0, m).real().cwiseProduct(wr.segment(i0, m)),
            h.segment(i0, m).imag().cwiseProduct(wi.segment(i0, m));
        block = rowW.asDiagonal() * block;
        gram.selfadjointView<Eigen::Lower>().rankUpdate(block.transpose());
        atb.noalias() += block.transpose() * rhs;
    }
    scale.resize(cols);
    for (Eigen::Index j = 0; j < cols; ++j) {
        const double norm = std::sqrt(gram(j, j));
        scale(j) = norm > 0.0 && std::isfinite(norm) ? 1.0 / norm : 1.0;
    }
    // Unit columns, scaled in place: the factorisation reads the lower triangle.
    for (Eigen::Index j = 0; j < cols; ++j)
        gram.col(j).tail(cols - j) = gram.col(j).tail(cols - j).cwiseProduct(scale.tail(cols - j)) * scale(j);
    if (!FactorLowerColumns(padded.data(), cols, ldg, BestVectorIsa())) return false;
    const auto d = gram.diagonal().cwiseAbs();
    if (!(d.minCoeff() > kUsablePivots * d.maxCoeff())) return false;
    const auto lower = gram.triangularView<Eigen::Lower>();
    r = lower.transpose();
    qtb = lower.solve(scale.cwiseProduct(atb));
    return qtb.allFinite();
}

// min ||a x - b|| subject to x >= 0 for tall a: reduced to a square
// triangular problem once, so that the active-set iterations work on
// cols x cols instead of rows x cols. Clean relaxation data usually give
// non-negative residues at once; the active set is needed only when they do
// not.
Eigen::VectorXd NonNegativeTriangular(const Eigen::MatrixXd& r, const Eigen::VectorXd& qtb) {
    const double rMax = r.diagonal().cwiseAbs().maxCoeff();
    const double rMin = r.diagonal().cwiseAbs().minCoeff();
    if (rMin > 1e-10 * rMax) {
        Eigen::VectorXd x = r.triangularView<Eigen::Upper>().solve(qtb);
        if (x.allFinite() && x.minCoeff() >= 0.0) return x;
    }
    return Nnls(r, qtb);
}

// min ||a x - b|| subject to x >= 0 for a stored, unit-column a, by the
// Cholesky factor R of a'a (R'R x = a'b) instead of a QR factorisation: a
// third of the work. When no bound is active, one correction step
// R'R dx = a'(b - a x) recovers the accuracy of QR (corrected semi-normal
// equations, Björck 1987). Returns false when R is too ill-conditioned for
// either; the caller factorises.
bool SemiNormal(const Eigen::MatrixXd& a, const Eigen::VectorXd& b, Eigen::VectorXd& x) {
    const Eigen::Index cols = a.cols();
    Eigen::MatrixXd gram = Eigen::MatrixXd::Zero(cols, cols);
    gram.selfadjointView<Eigen::Lower>().rankUpdate(a.transpose());
    Eigen::LLT<Eigen::MatrixXd> llt;
    if (!UsableCholesky(gram, llt)) return false;
    const Eigen::MatrixXd r = llt.matrixU();
    const Eigen::VectorXd qtb = llt.matrixL().solve(a.transpose() * b);
    if (!qtb.allFinite()) return false;
    x = NonNegativeTriangular(r, qtb);
    if (x.minCoeff() > 0.0) {
        const Eigen::VectorXd dx = llt.solve(a.transpose() * (b - a * x));
        const Eigen::VectorXd corrected = x + dx;
        if (corrected.allFinite() && corrected.minCoeff() >= 0.0) x = corrected;
    }
    return true;
}

}  // namespace

Model SolveResidues(const Problem& prob, const PoleSet& poles, const Options& opt) {
    const Eigen::Index n = prob.n;
    const Eigen::Index states = StateCount(poles);
    const bool withD = !opt.omitConstant;
    const Eigen::Index cols = states + (withD ? 1 : 0);
    const bool passive = opt.enforcePassivity;
    const bool tall = cols > 0 && 2 * n >= kGramRowsPerColumn * cols;
    // Tall systems, and the passive solves of real poles, are solved from
    // their Gram matrix without storing them (a small one then gets the
    // correction step of the semi-normal equations); the others are stored
    // whole, once for every entry.
    const bool allReal = StateCount(poles) == static_cast<int>(poles.size());
    const bool fromGram = tall || (passive && allReal && 2 * n > cols);
    Eigen::MatrixXd design;
    const auto stored = [&]() -> const Eigen::MatrixXd& {
        if (design.size() == 0) design = Design(prob.w, poles, passive, withD);
        return design;
    };

    Model model;
    model.poles = poles;
    const int entries = static_cast<int>(prob.h.size());
    for (int e = 0; e < entries; ++e) {
        const auto ue = static_cast<std::size_t>(e);
        Eigen::VectorXd x, scale;
        Eigen::MatrixXd r;
        Eigen::VectorXd qtb;
        if (cols == 0) {
            // No pole and no constant (a pair shrunk away from a strictly
            // proper model): nothing to solve, and Eigen's kernels must not
            // see the empty system.
        } else if (fromGram && GramFactor(prob, poles, passive, withD, ue, cols, r, qtb, scale)) {
            x = passive ? NonNegativeTriangular(r, qtb) : Eigen::VectorXd(r.triangularView<Eigen::Upper>().solve(qtb));
            if (!tall && x.minCoeff() > 0.0) {
                // No bound active: one correction step R'R dx = S A'(b - A S x)
                // recovers the accuracy of QR (Björck 1987).
                const Eigen::VectorXd v = scale.cwiseProduct(RealPoleResidualProducts(prob, poles, withD, ue,
                                                                                       scale.cwiseProduct(x)));
                const Eigen::VectorXd dx =
                    r.triangularView<Eigen::Upper>().solve(r.transpose().triangularView<Eigen::Lower>().solve(v));
                const Eigen::VectorXd corrected = x + dx;
                if (corrected.allFinite() && corrected.minCoeff() >= 0.0) x = corrected;
            }
        } else {
            const auto& h = prob.h[ue];
            const auto& wr = prob.wRe[ue];
            const auto& wi = prob.wIm[ue];
            Eigen::VectorXd rowW(2 * n), rhs(2 * n);
            rowW << wr, wi;
            rhs << h.real().cwiseProduct(wr), h.imag().cwiseProduct(wi);
            Eigen::MatrixXd a = rowW.asDiagonal() * stored();
            scale = NormaliseColumns(a);
            if (!passive) {
                x = a.colPivHouseholderQr().solve(rhs);
            } else if (a.rows() > a.cols()) {
                if (!SemiNormal(a, rhs, x)) {
                    Eigen::HouseholderQR<Eigen::MatrixXd> qr(a);
                    r = qr.matrixQR().topRows(cols).triangularView<Eigen::Upper>();
                    qtb = (qr.householderQ().adjoint() * rhs).head(cols);
                    x = NonNegativeTriangular(r, qtb);
                }
            } else {
                x = Nnls(a, rhs);
            }
        }
        if (cols > 0) x = x.cwiseProduct(scale);

        std::vector<std::complex<double>> res;
        res.reserve(poles.size());
        Eigen::Index col = 0;
        for (const auto& p : poles) {
            if (p.imag() == 0.0) {
                res.emplace_back(x(col), 0.0);
                col += 1;
            } else {
                double re = x(col), im = x(col + 1);
                if (passive) {
                    const double a2 = p.real(), b2 = p.imag();
                    const double u = x(col), v = x(col + 1);
                    re = u;
                    im = (v - u * (a2 * a2 - b2 * b2)) / (2.0 * a2 * b2);
                }
                res.emplace_back(re, im);
                col += 2;
            }
        }
        model.residues.push_back(std::move(res));
        model.d.push_back(withD ? x(states) : 0.0);
    }
    return model;
}

Eigen::VectorXd WeightedResidual(const Problem& prob, const Model& model) {
    const Eigen::Index n = prob.n;
    Eigen::VectorXd r(2 * n * static_cast<Eigen::Index>(prob.h.size()));
    SampleBlock::Array re, im;
    for (std::size_t e = 0; e < prob.h.size(); ++e) {
        const Eigen::Index off = static_cast<Eigen::Index>(e) * 2 * n;
        for (Eigen::Index i0 = 0; i0 < n; i0 += kBlockSamples) {
            const Eigen::Index m = std::min<Eigen::Index>(kBlockSamples, n - i0);
            BlockResidual(prob, model.poles, model.residues[e], model.d[e], e, i0, m, re, im);
            r.segment(off + i0, m) = re.matrix();
            r.segment(off + n + i0, m) = im.matrix();
        }
    }
    return r;
}

double ModelError(const Problem& prob, const Model& model) {
    if (!(prob.weightSum > 0.0)) return 0.0;
    // Block by block, without the residual of every sample.
    double sum = 0.0;
    SampleBlock::Array re, im;
    for (std::size_t e = 0; e < prob.h.size(); ++e)
        for (Eigen::Index i0 = 0; i0 < prob.n; i0 += kBlockSamples) {
            BlockResidual(prob, model.poles, model.residues[e], model.d[e], e, i0,
                          std::min<Eigen::Index>(kBlockSamples, prob.n - i0), re, im);
            sum += re.square().sum() + im.square().sum();
        }
    return std::sqrt(sum / prob.weightSum);
}

double ResidualStructure(const Problem& prob, const Model& model) {
    const Eigen::VectorXd r = WeightedResidual(prob, model);
    const Eigen::Index n = prob.n;
    double lagged = 0.0, energy = 0.0;
    int pairs = 0;
    for (Eigen::Index e = 0; e < static_cast<Eigen::Index>(prob.h.size()); ++e)
        for (Eigen::Index part = 0; part < 2; ++part) {
            const Eigen::Index off = (2 * e + part) * n;
            double prev = 0.0;
            bool havePrev = false;
            for (int i : prob.byFrequency) {
                // Rows without weight (the imaginary part at 0 Hz) carry nothing.
                const double weight = part == 0 ? prob.wRe[static_cast<std::size_t>(e)](i)
                                                : prob.wIm[static_cast<std::size_t>(e)](i);
                if (!(weight > 0.0)) continue;
                const double v = r(off + i);
                energy += v * v;
                if (havePrev) {
                    lagged += prev * v;
                    ++pairs;
                }
                prev = v;
                havePrev = true;
            }
        }
    if (!(energy > 0.0) || pairs == 0) return 0.0;
    return lagged / energy * std::sqrt(static_cast<double>(pairs));
}

Eigen::VectorXd SampleResiduals(const Problem& prob, const Model& model) {
    const Eigen::VectorXd r = WeightedResidual(prob, model);
    const Eigen::Index n = prob.n;
    Eigen::VectorXd out = Eigen::VectorXd::Zero(n);
    for (Eigen::Index e = 0; e < static_cast<Eigen::Index>(prob.h.size()); ++e)
        out += r.segment(2 * n * e, n).cwiseAbs2() + r.segment(2 * n * e + n, n).cwiseAbs2();
    return out;
}

void Realize(const Problem& prob, const Model& model, polerat_data& record) {
    const int ports = prob.ports;
    const double scale = prob.scale;
    const double hScale = prob.hScale;
    // Order the poles by their magnitude: relaxation frequencies read upward.
    std::vector<std::size_t> order(model.poles.size());
    for (std::size_t k = 0; k < order.size(); ++k) order[k] = k;
    std::stable_sort(order.begin(), order.end(), [&](std::size_t x, std::size_t y) {
        return Magnitude(model.poles[x]) < Magnitude(model.poles[y]);
    });
    const int states = StateCount(model.poles);
    const int total = states * ports;

    record.pole_re.assign(static_cast<std::size_t>(total), 0.0);
    record.pole_im.assign(static_cast<std::size_t>(total), 0.0);
    record.b.assign(static_cast<std::size_t>(total), std::vector<double>(static_cast<std::size_t>(ports), 0.0));
    record.c.assign(static_cast<std::size_t>(ports), std::vector<double>(static_cast<std::size_t>(total), 0.0));
    record.d.assign(static_cast<std::size_t>(ports), std::vector<double>(static_cast<std::size_t>(ports), 0.0));

    // One copy of the poles per input column q; the states of column q feed
    // only that column, and row p of c holds the residues of entry (p, q).
    std::size_t s = 0;
    for (int q = 0; q < ports; ++q)
        for (std::size_t idx : order) {
            const auto p = model.poles[idx];
            if (p.imag() == 0.0) {
                record.pole_re[s] = p.real() * scale;
                record.b[s][static_cast<std::size_t>(q)] = 1.0;
                for (int row = 0; row < ports; ++row) {
                    const auto& r = model.residues[static_cast<std::size_t>(row * ports + q)][idx];
                    record.c[static_cast<std::size_t>(row)][s] = r.real() * scale * hScale;
                }
                s += 1;
            } else {
                record.pole_re[s] = record.pole_re[s + 1] = p.real() * scale;
                record.pole_im[s] = p.imag() * scale;
                record.pole_im[s + 1] = -p.imag() * scale;
                record.b[s][static_cast<std::size_t>(q)] = 2.0;
                for (int row = 0; row < ports; ++row) {
                    const auto& r = model.residues[static_cast<std::size_t>(row * ports + q)][idx];
                    record.c[static_cast<std::size_t>(row)][s] = r.real() * scale * hScale;
                    record.c[static_cast<std::size_t>(row)][s + 1] = r.imag() * scale * hScale;
                }
                s += 2;
            }
        }
    for (int row = 0; row < ports; ++row)
        for (int q = 0; q < ports; ++q)
            record.d[static_cast<std::size_t>(row)][static_cast<std::size_t>(q)] =
                model.d[static_cast<std::size_t>(row * ports + q)] * hScale;
}

}  // namespace polerat::detail
