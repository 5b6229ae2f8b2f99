// Kernels of the Kramers-Kronig (Hilbert) reconstruction, over plain arrays.
//
// MaterialModeler::DoHilbertReconstruction is BuildLossSegments, HilbertFast
// and CausalDk in that order. The pieces are public here so that tests and
// benchmarks can run the direct evaluation (HilbertPlain) beside the fast one
// and force each instruction set the fast one can use.
//
//   matmodel::detail::LossSegments s;
//   matmodel::detail::BuildLossSegments(freq, dk, df, n, 6.283185307179586, s);
//   std::vector<double> r, dkCausal;
//   matmodel::detail::HilbertFast(s, r);
//   matmodel::detail::CausalDk(dk, r, dkCausal);
#ifndef MATMODEL_MODELER_HILBERT_KERNELS_H
#define MATMODEL_MODELER_HILBERT_KERNELS_H

#include <cstddef>
#include <vector>

#include "modeler/matmodel_export.h"

namespace matmodel::detail {

/// The loss curve a(w) = -Dk Df as n straight segments over angular frequency:
/// a(w) = p[i] w + q[i] on [w[i], w[i+1]]. `w` has n + 1 entries (the last a
/// decade above the top sample), `p` and `q` have n.
struct LossSegments {
    std::vector<double> w, p, q;
    std::size_t Size() const { return p.size(); }
};

/// Fills `out` from n samples (frequency in Hz, Dk, Df). The loss is forced to
/// zero at the first sample and falls to zero at ten times the last frequency.
MATMODEL_API void BuildLossSegments(const double* freq, const double* dk, const double* df,
                                    std::size_t n, double twoPi, LossSegments& out);

/// Instruction sets the fast kernel can run on, narrowest first.
enum class SimdLevel { kScalar, kSse2, kAvx2, kAvx512 };

/// The widest level both this build and this processor support.
MATMODEL_API SimdLevel BestSimdLevel();
MATMODEL_API bool SimdLevelAvailable(SimdLevel level);
MATMODEL_API const char* SimdLevelName(SimdLevel level);

/// r[k], the integral -(1/pi) P int a(w') 2w'/(w'^2 - w^2) dw' at w = w[k], by
/// the direct double loop: four logarithms per sample and segment. Replaces
/// the content of `r` with s.Size() values.
MATMODEL_API void HilbertPlain(const LossSegments& s, std::vector<double>& r);

/// The same sums as HilbertPlain, each added term by term in the same order,
/// but every logarithm computed once: the two at a segment's end are those at
/// the next segment's start, and ln|w[k] -+ w[j]| serves both sample k at point
/// j and sample j at point k. Several samples run side by side in vector lanes.
/// kScalar calls std::log and reproduces HilbertPlain bit for bit. The vector
/// levels use KernelLog, which returns std::log's bits wherever std::log is
/// within 0.5 + 2^-9 units in the last place of the exact value (so they too
/// reproduce HilbertPlain on such a library; glibc's is). Throws
/// std::invalid_argument for a level that is not available.
MATMODEL_API void HilbertFast(const LossSegments& s, std::vector<double>& r);
MATMODEL_API void HilbertFast(const LossSegments& s, std::vector<double>& r, SimdLevel level);

/// The natural logarithm HilbertFast uses at `level`, one value at a time in
/// portable code, whatever this processor supports. std::log for kScalar and
/// kSse2. For kAvx2 and kAvx512 it is computed with an error far below half a
/// unit in the last place and rounded to nearest; within 2^-9 ulp of a
/// rounding midpoint, and for x below 8, it is std::log(x). Hence log(+-0) =
/// -inf, log(x < 0) = NaN, log(NaN) = NaN, log(inf) = inf.
MATMODEL_API double KernelLogReference(double x, SimdLevel level);
/// The same logarithm through the vector code of `level`; gives the bits of
/// KernelLogReference. Throws std::invalid_argument for a level that is not
/// available.
MATMODEL_API void KernelLog(const double* x, std::size_t n, double* y, SimdLevel level);

/// HilbertPlain with KernelLogReference(level) in place of std::log: what
/// HilbertFast at `level` reproduces bit for bit. (Where a tile's arguments
/// let the kernel round more logarithms itself than the one-value form does,
/// it returns the correctly rounded value, std::log's on a library within
/// 0.5 + 2^-9 ulp, as glibc's is.)
MATMODEL_API void HilbertPlainKernelLog(const LossSegments& s, std::vector<double>& r,
                                        SimdLevel level);

/// dkCausal[i] = eps_inf + r[i], eps_inf being the mean of dk[i] - r[i].
MATMODEL_API void CausalDk(const double* dk, const std::vector<double>& r,
                           std::vector<double>& dkCausal);

}  // namespace matmodel::detail

#endif  // MATMODEL_MODELER_HILBERT_KERNELS_H
