// Kernels of the Kramers-Kronig (Hilbert) reconstruction, over plain arrays.
//
// MaterialModeler::DoHilbertReconstruction is BuildLossSegments, HilbertFast
// and CausalDk in that order. The pieces are public here so that tests and
// benchmarks can set the fast kernel beside the direct evaluation and force
// each instruction set it can use.
//
//   matmodel::detail::LossSegments s;
//   matmodel::detail::BuildLossSegments(freq, dk, df, n, 6.283185307179586, s);
//   std::vector<double> r, dkCausal;
//   matmodel::detail::HilbertFast(s, r);
//   matmodel::detail::CausalDk(dk, r, dkCausal);
//
// The direct loop. r[k] is the principal value integral over the segments
// (see hilbert.cpp), summed segment by segment, each segment's terms in this
// order (lp = ln|w' + wk|, lm = ln|wk - w'| at the segment's ends):
//
//   sum = 0
//   for i in 0 .. n-1:
//       sum += (w[i+1] - w[i]) * (p[i] * 2)
//       if w[i] + wk != 0: sum += -((lp(w[i+1]) - lp(w[i])) * (p[i] wk - q[i]))
//       v = p[i] wk + q[i]
//       if i + 1 != k:     sum += lm(w[i+1]) * v
//       if i != k:         sum += -(lm(w[i]) * v)
//   r[k] = -(sum * (1/pi))
//
// with std::log for every logarithm; tests/hilbert_plain.h holds it as code,
// the tests' reference and the benchmarks' baseline.
//
// Why the fast kernel is exact. It gives the direct loop's bits: every sum has
// the same terms from the same operands, added in the same order (the tiled
// sweep, hilbert_sweep.h), and every logarithm has std::log's bits
// (hilbert_log.h). What it assumes of the C library: that its log is within
// 0.5 + 2^-9 units in the last place of the exact value (for arguments from
// 8 up), as glibc's is; the vector logarithm of AVX2 and AVX-512 relies on it
// to round as std::log does, and the tests check it. The scalar and SSE2
// levels call std::log and assume nothing.
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

/// r[k], the integral -(1/pi) P int a(w') 2w'/(w'^2 - w^2) dw' at w = w[k]:
/// the sums of the direct loop above, bit for bit, but with every logarithm
/// computed once: the two at a segment's end are those at the next segment's
/// start, and ln|w[k] -+ w[j]| serves both sample k at point j and sample j at
/// point k. Several samples run side by side in vector lanes. Replaces the
/// content of `r` with s.Size() values. Throws std::invalid_argument for a
/// level that is not available.
MATMODEL_API void HilbertFast(const LossSegments& s, std::vector<double>& r);
MATMODEL_API void HilbertFast(const LossSegments& s, std::vector<double>& r, SimdLevel level);

/// The natural logarithm HilbertFast uses at `level`, through its vector code:
/// std::log's bits (see above). Throws std::invalid_argument for a level that
/// is not available.
MATMODEL_API void KernelLog(const double* x, std::size_t n, double* y, SimdLevel level);

/// dkCausal[i] = eps_inf + r[i], eps_inf being the mean of dk[i] - r[i].
MATMODEL_API void CausalDk(const double* dk, const std::vector<double>& r,
                           std::vector<double>& dkCausal);

}  // namespace matmodel::detail

#endif  // MATMODEL_MODELER_HILBERT_KERNELS_H
