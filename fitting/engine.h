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
#ifndef MATMODEL_FITTING_ENGINE_H
#define MATMODEL_FITTING_ENGINE_H

#include <cmath>
#include <complex>
#include <string>
#include <vector>

#include <Eigen/Dense>

#include "fitting/lanes.h"
#include "fitting/polerat.h"

namespace polerat::detail {

/// Poles are kept between kPoleFloor times the lowest positive sample
/// frequency and kPoleCeiling times the highest. Above the ceiling a pole is
/// indistinguishable from the constant. Far below the band a pole acts as
/// 1/s, which is how dc conduction (sigma / (j w e0)) is carried: its real
/// part r a / w^2 must stay negligible at the lowest sample, so the floor lies
/// many decades down.
inline constexpr double kPoleFloor = 1e-12;
inline constexpr double kPoleCeiling = 1e4;

/// How a sample's deviation is measured (polerat_run's argument 12).
enum class Weighting {
    kPerPart = 0,       // real and imaginary part each relative to its own size
    kPerMagnitude = 1,  // both parts relative to the sample's magnitude
    kAbsolute = 2,      // no scaling
};

/// Where the search starts its poles (polerat_run's argument 21).
enum class StartPoles {
    kRealLogSpaced = 1,     // real poles spread evenly on a log scale
    kComplexLogSpaced = 2,  // lightly damped pairs spread the same way
};

/// Why a fit stopped (the summary's termination code, polerat_run's info).
enum class Termination {
    kTargetMet = 0,   // the error reached the target
    kStalled = 1,     // one more pole stopped paying and the rest looks like noise
    kOrderCap = 2,    // the largest order (or as many as the samples determine)
    kFixedOrder = 3,  // the caller fixed the order
    kNoProgress = 4,  // more poles stopped lowering the error though the
                      // residual keeps a structure: the model cannot follow it
};

/// Named form of polerat_run's positional settings.
struct Options {
    double targetError = 1e-3;
    int maxOrder = 100;
    int minOrder = 1;
    int fixedOrder = 0;        // 0: automatic order
    int maxIterations = 0;     // 0: default
    bool allowComplex = false;
    bool enforcePassivity = true;
    Weighting weighting = Weighting::kPerPart;
    bool omitConstant = false;
    double stallRatio = 0.1;
    bool verboseLog = false;
    int orderStep = 1;
    int stallPatience = 1;
    StartPoles startPoles = StartPoles::kRealLogSpaced;
    PoleratProgress progress = nullptr;
};

/// A set of poles in normalised units. A real pole has imag() == 0; a pair is
/// stored once, with imag() > 0, and stands for p and conj(p).
using PoleSet = std::vector<std::complex<double>>;

/// |z| without the cost of a hypot for the real poles that most sets hold
/// (the same value: hypot(x, 0) is |x|).
inline double Magnitude(std::complex<double> z) { return z.imag() == 0.0 ? std::fabs(z.real()) : std::abs(z); }

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
    // The samples are divided by hScale (a power of two near the largest
    // magnitude), so that no square or sum of squares leaves the range of a
    // double whatever their units; errors are multiplied by errorScale to
    // give them in the caller's units (hScale for absolute weighting, else 1).
    double hScale = 1.0;
    double errorScale = 1.0;
    std::vector<int> byFrequency;   // sample indices in rising frequency
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
                    const std::vector<double>& userWeights, Weighting weighting);

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
Eigen::MatrixXd RealBasis(const Eigen::Ref<const Eigen::VectorXd>& w, const PoleSet& poles);

/// One relaxed relocation step: the zeros of the fitted weighting function
/// become the new poles. Reports the condition estimate of the reduced solve.
/// `coarse` trades accuracy for speed (normal equations instead of QR).
PoleSet Relocate(const Problem& prob, const PoleSet& poles, const Options& opt,
                 double* condition, bool coarse = false);

/// The zeros of sigma(s) = 1 + sum_k c_k / (s - a_k) for distinct real a_k,
/// that is the eigenvalues of diag(a) - 1 c', in O(N^2) work per sweep (a
/// dense eigensolver takes O(N^3)), each to its own relative accuracy rather
/// than to that of the largest pole. False when they do not settle, or those
/// off the real axis do not come in conjugate pairs.
bool SigmaZeros(const Eigen::Ref<const Eigen::VectorXd>& a, const Eigen::Ref<const Eigen::VectorXd>& c,
                Eigen::VectorXcd& z);

/// The same zeros when the c_k share one sign: they are all real, one between
/// each two neighbouring poles and one beyond the last pole on the side the
/// signs point to. Each is found in its own interval by a safeguarded
/// iteration on a model keeping the two nearest poles, O(N) per step, to its
/// own relative accuracy. False (leaving z unspecified) when the poles are
/// not distinct or a term is not of the common sign.
bool InterlacedZeros(const Eigen::Ref<const Eigen::VectorXd>& poles, const Eigen::Ref<const Eigen::VectorXd>& terms,
                     Eigen::VectorXd& z);

/// Residues and constants for fixed poles: non-negative least squares when
/// passivity is enforced, plain least squares otherwise.
Model SolveResidues(const Problem& prob, const PoleSet& poles, const Options& opt);

/// Moves the real poles of `start` to lower the (constrained) error further,
/// by Levenberg-Marquardt steps with the residues re-solved at every step.
/// Returns `start` unchanged when no step improves it. With a positive
/// `goal` it also stops once its progress, extrapolated, cannot bring the
/// error down to the goal: the caller only needs to know the order misses it.
Model RefinePoles(const Problem& prob, const Model& start, const Options& opt, int maxIter, int* iterations,
                  double goal = 0.0);

/// The model's deviation from the samples, each real and imaginary row times
/// its weight, stacked entry after entry (real rows, then imaginary rows).
Eigen::VectorXd WeightedResidual(const Problem& prob, const Model& model);

/// Weighted relative RMS error of `model` over the problem's counted rows
/// (in the normalised units of the problem: see Problem::errorScale).
double ModelError(const Problem& prob, const Model& model);

/// How far the weighted residual of `model` is from looking like noise: the
/// lag-one autocorrelation of the residual taken in rising frequency, in
/// standard deviations of its value for white noise (about 0 for noise, large
/// where the model misses a smooth feature of the data).
double ResidualStructure(const Problem& prob, const Model& model);

/// Per-sample weighted residual size, summed over entries (for placing poles).
Eigen::VectorXd SampleResiduals(const Problem& prob, const Model& model);

/// Solves the leading upper triangle of `r` against the head of `b` after
/// rotations have made it triangular; false when its diagonal spans more than
/// a solve without pivoting can trust (the caller then factorises afresh).
bool SolveRotatedTriangle(const Eigen::Ref<const Eigen::MatrixXd>& r, const Eigen::Ref<const Eigen::VectorXd>& b,
                          Eigen::VectorXd& y);

/// Rows whose Gram matrix AddGram forms: row-major, each row GramWidth(cols)
/// wide (what lies past the columns in use is read but never used).
using GramRows = Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>;
inline constexpr Eigen::Index kGramPad = 16;
inline Eigen::Index GramWidth(Eigen::Index cols) { return (cols + kGramPad - 1) / kGramPad * kGramPad; }

/// The lower triangle of g += A'A for A the first `rows` rows and `cols`
/// columns of m (see AddGramRows).
inline void AddGram(const GramRows& m, Eigen::Index rows, Eigen::Index cols, Eigen::MatrixXd& g,
                    VectorIsa isa = BestVectorIsa()) {
    AddGramRows(m.data(), rows, cols, m.cols(), g.data(), g.rows(), isa);
}

/// min ||A x - b|| subject to x >= 0 (Lawson-Hanson active set).
Eigen::VectorXd Nnls(const Eigen::MatrixXd& a, const Eigen::VectorXd& b);

/// Adds `count` real poles at the frequencies where `model` misses the data
/// most, keeping them apart from the poles already there.
PoleSet Grow(const Problem& prob, const Model& model, int count);

/// The poles of `model` without its weakest term (the real pole of least
/// relaxation strength |r/p|, or the weakest pair when there is no real pole).
PoleSet Shrink(const Model& model);

/// Removes the poles whose terms came out zero or negligible (rounding) over
/// samples from the normalised frequency `wLow` up, in every entry; returns
/// how many states went.
int DropDeadPoles(Model& model, double wLow);

/// The largest relative move of a pole between two sets (infinite when their
/// sizes differ).
double PoleChange(const PoleSet& a, const PoleSet& b);

/// Summary of a fit, in the spirit of a solver summary.
struct Summary {
    int order = 0;
    double error = 0.0;
    int iterations = 0;
    bool targetMet = false;
    Termination termination = Termination::kTargetMet;
    struct Step {
        int order;
        double error;
        int iterations;
        double condition;
    };
    std::vector<Step> steps;
};

/// A few words on why a fit stopped, for the log.
const char* TerminationReason(Termination t);

/// Runs the order search (or the fixed order) and returns the chosen model.
Model FitModel(const Problem& prob, const Options& opt, Summary& summary, std::string& log);

/// The model in rad/s as the state-space record.
void Realize(const Problem& prob, const Model& model, polerat_data& record);

}  // namespace polerat::detail

#endif  // MATMODEL_FITTING_ENGINE_H
