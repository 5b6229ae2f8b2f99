// Internal kernels of the polerat engine. Not installed; only fitting/ and the
// engine's tests include this header.
//
// The engine follows vector fitting with relaxed pole relocation:
//   B. Gustavsen, A. Semlyen, "Rational approximation of frequency domain
//   responses by vector fitting", IEEE Trans. Power Delivery 14(3), 1999;
//   B. Gustavsen, "Improving the pole relocating properties of vector fitting",
//   IEEE Trans. Power Delivery 21(3), 2006;
//   D. Deschrijver, M. Mrozowski, T. Dhaene, D. De Zutter, "Macromodeling of
//   multiport systems using a fast implementation of the vector fitting
//   method", IEEE Microwave Wireless Compon. Lett. 18(6), 2008.
// The final residues are found by non-negative least squares
//   C. L. Lawson, R. J. Hanson, "Solving Least Squares Problems", 1974, ch. 23,
// which makes every Debye term (and the constant) non-negative, so the model's
// loss is non-negative at every frequency by construction.
#ifndef MATMODEL_BENCH_BASELINE_ENGINE_H
#define MATMODEL_BENCH_BASELINE_ENGINE_H

#include <complex>
#include <string>
#include <vector>

#include <Eigen/Dense>

#include "fitting/polerat.h"

namespace polerat_baseline::detail {

/// Poles are kept between kPoleFloor times the lowest positive sample
/// frequency and kPoleCeiling times the highest. Above the ceiling a pole is
/// indistinguishable from the constant. Far below the band a pole acts as
/// 1/s, which is how dc conduction (sigma / (j w e0)) is carried: its real
/// part r a / w^2 must stay negligible at the lowest sample, so the floor lies
/// many decades down.
inline constexpr double kPoleFloor = 1e-12;
inline constexpr double kPoleCeiling = 1e4;

/// Named form of polerat_run's positional settings.
struct Options {
    double targetError = 1e-3;
    int maxOrder = 100;
    int minOrder = 1;
    int fixedOrder = 0;        // 0: automatic order
    int maxIterations = 0;     // 0: default
    bool allowComplex = false;
    bool enforcePassivity = true;
    int weighting = 0;         // 0 per part, 1 per magnitude, 2 absolute
    bool omitConstant = false;
    double stallRatio = 0.1;
    bool verboseLog = false;
    int orderStep = 1;
    int stallPatience = 1;
    int startPoles = 1;        // 1 real log-spaced, 2 complex log-spaced
    PoleratProgress progress = nullptr;
};

/// A set of poles in normalised units. A real pole has imag() == 0; a pair is
/// stored once, with imag() > 0, and stands for p and conj(p).
using PoleSet = std::vector<std::complex<double>>;

/// Number of states (real poles count one, pairs two).
int StateCount(const PoleSet& poles);

/// Samples prepared for fitting: normalised frequency, responses and the
/// weight of every real and imaginary row.
struct Problem {
    int n = 0;                      // samples
    int ports = 1;                  // P
    double scale = 1.0;             // rad/s per normalised unit
    double wLow = 1.0, wHigh = 1.0; // smallest and largest positive normalised frequency
    bool anyPositive = false;       // some frequency above 0 Hz
    Eigen::VectorXd w;              // normalised angular frequency, s = j w
    std::vector<Eigen::VectorXcd> h;   // one per entry (p, q), row-major
    std::vector<Eigen::VectorXd> wRe;  // row weights of the real parts
    std::vector<Eigen::VectorXd> wIm;  // row weights of the imaginary parts (0 at 0 Hz)
    Eigen::VectorXd userWeight;     // the caller's weight of each sample (1 by default)
    double weightSum = 0.0;         // sum of squared user weights over the counted rows
    int rows = 0;                   // counted rows of one entry
};

/// A model in normalised units: H(s) = d + sum over poles of r/(s - p)
/// (+ conj(r)/(s - conj(p)) for a pair), per entry.
struct Model {
    PoleSet poles;
    std::vector<std::vector<std::complex<double>>> residues;  // [entry][pole]
    std::vector<double> d;                                     // [entry]
};

/// Builds the problem from validated input (see polerat_run).
Problem MakeProblem(const std::vector<double>& freqHz, const PoleratSamples& samples,
                    const std::vector<double>& userWeights, int weighting);

/// The samples at `count` frequencies spread evenly on a log scale over the
/// band (all samples at 0 Hz kept): enough to place the poles of smooth data at
/// a fraction of the cost. Returns a copy of the whole problem when `count`
/// is not below its size.
Problem Subset(const Problem& prob, int count);

/// Real poles spaced evenly on a log scale over the band (or lightly damped
/// pairs when `complexPairs`), `order` states in all.
PoleSet StartingPoles(const Problem& prob, int order, bool complexPairs);

/// True when the loss (|Im H| on the diagonal) grows toward the lowest
/// frequencies like dc conduction does.
bool LossRisesTowardDc(const Problem& prob);

/// Real-stacked partial-fraction basis: rows [0, n) real parts, [n, 2n)
/// imaginary parts; one column per real pole, two per pair (the pair's basis
/// 1/(s-p) + 1/(s-p*) and j/(s-p) - j/(s-p*)).
Eigen::MatrixXd RealBasis(const Eigen::VectorXd& w, const PoleSet& poles);

/// One relaxed relocation step: the zeros of the fitted weighting function
/// become the new poles. Reports the condition estimate of the reduced solve.
/// `coarse` trades accuracy for speed (normal equations instead of QR).
PoleSet Relocate(const Problem& prob, const PoleSet& poles, const Options& opt,
                 double* condition, bool coarse = false);

/// Residues and constants for fixed poles: non-negative least squares when
/// passivity is enforced, plain least squares otherwise.
Model SolveResidues(const Problem& prob, const PoleSet& poles, const Options& opt);

/// Moves the real poles of `start` to lower the (constrained) error further,
/// by Levenberg-Marquardt steps with the residues re-solved at every step.
/// Returns `start` unchanged when no step improves it.
Model RefinePoles(const Problem& prob, const Model& start, const Options& opt, int maxIter, int* iterations);

/// The model's deviation from the samples, each real and imaginary row times
/// its weight, stacked entry after entry (real rows, then imaginary rows).
Eigen::VectorXd WeightedResidual(const Problem& prob, const Model& model);

/// Weighted relative RMS error of `model` over the problem's counted rows.
double ModelError(const Problem& prob, const Model& model);

/// Per-sample weighted residual size, summed over entries (for placing poles).
Eigen::VectorXd SampleResiduals(const Problem& prob, const Model& model);

/// min ||A x - b|| subject to x >= 0 (Lawson-Hanson active set).
Eigen::VectorXd Nnls(const Eigen::MatrixXd& a, const Eigen::VectorXd& b);

/// Summary of a fit, in the spirit of a solver summary.
struct Summary {
    int order = 0;
    double error = 0.0;
    int iterations = 0;
    bool targetMet = false;
    int termination = 0;  // 0 target met, 1 stalled, 2 order cap, 3 fixed order
    struct Step {
        int order;
        double error;
        int iterations;
        double condition;
    };
    std::vector<Step> steps;
};

/// Runs the order search (or the fixed order) and returns the chosen model.
Model FitModel(const Problem& prob, const Options& opt, Summary& summary, std::string& log);

/// The model in rad/s as the state-space record.
void Realize(const Problem& prob, const Model& model, polerat_data& record);

}  // namespace polerat_baseline::detail

#endif  // MATMODEL_BENCH_BASELINE_ENGINE_H
