// The lane kernels on AVX2 with FMA, four samples per vector. Built with
// -mavx2 -mfma and called only where the processor reports both.
#include <immintrin.h>

#include "modeler/hilbert_sweep.h"

namespace matmodel::detail {
namespace {

// The operations the sweep and the table logarithm are written in (see
// hilbert_sweep.h and hilbert_log.h).
// Fused multiply-add only where the logarithm asks for it.
struct Avx2 {
    using D = __m256d;
    using M = __m256d;
    using I = __m256i;
    static constexpr std::size_t kLanes = 4;
    static constexpr std::size_t kLockstep = 2;  // vectors a logarithm step takes at once
    static constexpr bool kHasExponentOps = false;
    static constexpr bool kTableLog = true;

    static D Set1(double a) { return _mm256_set1_pd(a); }
    static D Load(const double* p) { return _mm256_loadu_pd(p); }
    static void Store(double* p, D a) { _mm256_storeu_pd(p, a); }
    static D LaneIndex() { return _mm256_set_pd(3.0, 2.0, 1.0, 0.0); }
    static D Add(D a, D b) { return _mm256_add_pd(a, b); }
    static D Sub(D a, D b) { return _mm256_sub_pd(a, b); }
    static D Mul(D a, D b) { return _mm256_mul_pd(a, b); }
    static D Fma(D a, D b, D c) { return _mm256_fmadd_pd(a, b, c); }
    static D Abs(D a) { return _mm256_andnot_pd(_mm256_set1_pd(-0.0), a); }
    static D Neg(D a) { return _mm256_xor_pd(_mm256_set1_pd(-0.0), a); }

    static M Ne(D a, D b) { return _mm256_cmp_pd(a, b, _CMP_NEQ_UQ); }
    static M Lt(D a, D b) { return _mm256_cmp_pd(a, b, _CMP_LT_OQ); }
    static M Ge(D a, D b) { return _mm256_cmp_pd(a, b, _CMP_GE_OQ); }
    static M And(M a, M b) { return _mm256_and_pd(a, b); }
    static unsigned MaskBits(M m) { return static_cast<unsigned>(_mm256_movemask_pd(m)); }
    static D Select(M m, D a, D b) { return _mm256_blendv_pd(b, a, m); }
    static D AddIf(M m, D sum, D t) { return Select(m, _mm256_add_pd(sum, t), sum); }
    static D SubIf(M m, D sum, D t) { return Select(m, _mm256_sub_pd(sum, t), sum); }

    static I Bits(D a) { return _mm256_castpd_si256(a); }
    static D FromBits(I a) { return _mm256_castsi256_pd(a); }
    static I Set64(std::uint64_t a) { return _mm256_set1_epi64x(static_cast<long long>(a)); }
    static I And64(I a, I b) { return _mm256_and_si256(a, b); }
    static I Or64(I a, I b) { return _mm256_or_si256(a, b); }
    static I Shr52(I a) { return _mm256_srli_epi64(a, 52); }
    // Eight entries: the low 32-bit halves in one register, the high halves in
    // another. The index (x's bits shifted) is copied into both halves of its
    // lane; one permute picks each half, and a blend joins them.
    using LogTable = lanes::Table8;
    struct Table {
        __m256 lo, hi;
    };
    static Table LoadTable(const double* column) {
        const __m256i split = _mm256_setr_epi32(0, 2, 4, 6, 1, 3, 5, 7);
        const __m256 a = _mm256_permutevar8x32_ps(_mm256_castpd_ps(_mm256_load_pd(column)), split);
        const __m256 b =
            _mm256_permutevar8x32_ps(_mm256_castpd_ps(_mm256_load_pd(column + 4)), split);
        return {_mm256_permute2f128_ps(a, b, 0x20), _mm256_permute2f128_ps(a, b, 0x31)};
    }
    template <unsigned kBits>
    static I Shr(I a) {
        return _mm256_shuffle_epi32(_mm256_srli_epi64(a, kBits), _MM_SHUFFLE(2, 2, 0, 0));
    }
    static D Lookup(const Table& t, I index) {
        const __m256i lo = _mm256_castps_si256(_mm256_permutevar8x32_ps(t.lo, index));
        const __m256i hi = _mm256_castps_si256(_mm256_permutevar8x32_ps(t.hi, index));
        return _mm256_castsi256_pd(_mm256_blend_epi32(lo, hi, 0xaa));
    }

    static void Transpose(D* rows) {
        const D t0 = _mm256_unpacklo_pd(rows[0], rows[1]);
        const D t1 = _mm256_unpackhi_pd(rows[0], rows[1]);
        const D t2 = _mm256_unpacklo_pd(rows[2], rows[3]);
        const D t3 = _mm256_unpackhi_pd(rows[2], rows[3]);
        rows[0] = _mm256_permute2f128_pd(t0, t2, 0x20);
        rows[1] = _mm256_permute2f128_pd(t1, t3, 0x20);
        rows[2] = _mm256_permute2f128_pd(t0, t2, 0x31);
        rows[3] = _mm256_permute2f128_pd(t1, t3, 0x31);
    }

    static D Log(D x) { return lanes::Log<Avx2>(x); }
};

}  // namespace

void HilbertLanesAvx2(const LaneWork& work, double* r) { lanes::HilbertLanes<Avx2, 2>(work, r); }
void LogLanesAvx2(const double* x, std::size_t n, double* y) { lanes::LogLanes<Avx2>(x, n, y); }

}  // namespace matmodel::detail
