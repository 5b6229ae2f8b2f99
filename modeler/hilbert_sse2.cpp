// The lane kernels on SSE2, two samples per vector: the floor of every x86-64
// processor. Without fused multiply-add the vector logarithm cannot round
// as it must, so the logarithms are std::log's, called lane by lane.
#include <emmintrin.h>

#include "modeler/hilbert_sweep.h"

namespace matmodel::detail {
namespace {

// The operations the sweep is written in (see hilbert_sweep.h).
// Masks are all-ones or all-zero lanes.
struct Sse2 {
    using D = __m128d;
    using M = __m128d;
    using I = __m128i;
    static constexpr std::size_t kLanes = 2;
    static constexpr std::size_t kLockstep = 1;  // vectors a logarithm step takes at once
    static constexpr bool kTableLog = false;

    static D Set1(double a) { return _mm_set1_pd(a); }
    static D Load(const double* p) { return _mm_loadu_pd(p); }
    static void Store(double* p, D a) { _mm_storeu_pd(p, a); }
    static D LaneIndex() { return _mm_set_pd(1.0, 0.0); }
    static D Add(D a, D b) { return _mm_add_pd(a, b); }
    static D Sub(D a, D b) { return _mm_sub_pd(a, b); }
    static D Mul(D a, D b) { return _mm_mul_pd(a, b); }
    static D Abs(D a) { return _mm_andnot_pd(_mm_set1_pd(-0.0), a); }
    static D Neg(D a) { return _mm_xor_pd(_mm_set1_pd(-0.0), a); }

    static M Ne(D a, D b) { return _mm_cmpneq_pd(a, b); }  // true when unordered
    static D Select(M m, D a, D b) { return _mm_or_pd(_mm_and_pd(m, a), _mm_andnot_pd(m, b)); }
    static D AddIf(M m, D sum, D t) { return Select(m, _mm_add_pd(sum, t), sum); }
    static D SubIf(M m, D sum, D t) { return Select(m, _mm_sub_pd(sum, t), sum); }

    static void Transpose(D* rows) {
        const D r0 = rows[0];
        rows[0] = _mm_unpacklo_pd(r0, rows[1]);
        rows[1] = _mm_unpackhi_pd(r0, rows[1]);
    }

    static D Log(D x) { return lanes::StdLog<Sse2>(x); }
};

}  // namespace

void HilbertLanesSse2(const LaneWork& work, double* r) { lanes::HilbertLanes<Sse2, 4>(work, r); }
void LogLanesSse2(const double* x, std::size_t n, double* y) { lanes::LogLanes<Sse2>(x, n, y); }

}  // namespace matmodel::detail
