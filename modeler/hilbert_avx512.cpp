// The lane kernels on AVX-512, eight samples per vector. Built with
// -mavx512f -mavx512dq -mavx512vl (GCC 12 was seen to extract lanes with DQ
// and VL instructions when told only of AVX-512F) and called only where the
// processor and the operating system report all three.
#include <immintrin.h>

#include "modeler/hilbert_sweep.h"

namespace matmodel::detail {
namespace {

// The operations the sweep and the table logarithm are written in (see
// hilbert_sweep.h and hilbert_log.h).
// Masks are the processor's mask registers. Fused multiply-add only where
// the logarithm asks for it.
struct Avx512 {
    using D = __m512d;
    using M = __mmask8;
    using I = __m512i;
    static constexpr std::size_t kLanes = 8;
    static constexpr std::size_t kLockstep = 2;  // vectors a logarithm step takes at once
    static constexpr bool kHasExponentOps = true;
    static constexpr bool kTableLog = true;

    static D Set1(double a) { return _mm512_set1_pd(a); }
    static D Load(const double* p) { return _mm512_loadu_pd(p); }
    static void Store(double* p, D a) { _mm512_storeu_pd(p, a); }
    static D LaneIndex() { return _mm512_set_pd(7.0, 6.0, 5.0, 4.0, 3.0, 2.0, 1.0, 0.0); }
    static D Add(D a, D b) { return _mm512_add_pd(a, b); }
    static D Sub(D a, D b) { return _mm512_sub_pd(a, b); }
    static D Mul(D a, D b) { return _mm512_mul_pd(a, b); }
    static D Fma(D a, D b, D c) { return _mm512_fmadd_pd(a, b, c); }
    static D Abs(D a) {
        return _mm512_castsi512_pd(_mm512_and_si512(_mm512_castpd_si512(a),
                                                    _mm512_set1_epi64(0x7fffffffffffffffLL)));
    }
    static D Neg(D a) {
        return _mm512_castsi512_pd(_mm512_xor_si512(_mm512_castpd_si512(a),
                                                    _mm512_set1_epi64(-0x7fffffffffffffffLL - 1)));
    }

    static M Ne(D a, D b) { return _mm512_cmp_pd_mask(a, b, _CMP_NEQ_UQ); }
    static M Lt(D a, D b) { return _mm512_cmp_pd_mask(a, b, _CMP_LT_OQ); }
    static M Ge(D a, D b) { return _mm512_cmp_pd_mask(a, b, _CMP_GE_OQ); }
    static M And(M a, M b) { return static_cast<M>(a & b); }
    static unsigned MaskBits(M m) { return m; }
    static D AddIf(M m, D sum, D t) { return _mm512_mask_add_pd(sum, m, sum, t); }
    static D SubIf(M m, D sum, D t) { return _mm512_mask_sub_pd(sum, m, sum, t); }

    static I Bits(D a) { return _mm512_castpd_si512(a); }
    static D FromBits(I a) { return _mm512_castsi512_pd(a); }
    static I Set64(std::uint64_t a) { return _mm512_set1_epi64(static_cast<long long>(a)); }
    static I And64(I a, I b) { return _mm512_and_si512(a, b); }
    // Here and below the zero-masking forms with a full mask: GCC 12 warns
    // about the undefined source operand inside the plain ones.
    template <unsigned kBits>
    static I Shr(I a) { return _mm512_maskz_srli_epi64(0xff, a, kBits); }
    // For a normal positive x, the same binary exponent and mantissa in [1, 2)
    // as the bit manipulation of the other levels.
    static D Exponent(D x) { return _mm512_maskz_getexp_pd(0xff, x); }
    static D Mantissa(D x) {
        return _mm512_maskz_getmant_pd(0xff, x, _MM_MANT_NORM_1_2, _MM_MANT_SIGN_zero);
    }
    // Sixteen entries fit two registers; the permute reads the low four bits.
    using LogTable = lanes::Table16;
    struct Table {
        D lo, hi;
    };
    static Table LoadTable(const double* column) {
        return {_mm512_load_pd(column), _mm512_load_pd(column + 8)};
    }
    static D Lookup(const Table& t, I index) { return _mm512_permutex2var_pd(t.lo, index, t.hi); }

    static void Transpose(D* rows) {
        // Pairs, then 128-bit quarters, then 256-bit halves.
        D t[8], s[8];
        for (int i = 0; i < 8; i += 2) {
            t[i] = _mm512_maskz_unpacklo_pd(0xff, rows[i], rows[i + 1]);
            t[i + 1] = _mm512_maskz_unpackhi_pd(0xff, rows[i], rows[i + 1]);
        }
        const __m512i lo = _mm512_set_epi64(13, 12, 5, 4, 9, 8, 1, 0);
        const __m512i hi = _mm512_set_epi64(15, 14, 7, 6, 11, 10, 3, 2);
        for (int i = 0; i < 8; i += 4)
            for (int j = 0; j < 2; ++j) {
                s[i + j] = _mm512_permutex2var_pd(t[i + j], lo, t[i + j + 2]);
                s[i + j + 2] = _mm512_permutex2var_pd(t[i + j], hi, t[i + j + 2]);
            }
        for (int j = 0; j < 4; ++j) {
            rows[j] = _mm512_maskz_shuffle_f64x2(0xff, s[j], s[j + 4], 0x44);
            rows[j + 4] = _mm512_maskz_shuffle_f64x2(0xff, s[j], s[j + 4], 0xee);
        }
    }

    static D Log(D x) { return lanes::Log<Avx512>(x); }
};

}  // namespace

void HilbertLanesAvx512(const LaneWork& work, double* r) { lanes::HilbertLanes<Avx512, 4>(work, r); }
void LogLanesAvx512(const double* x, std::size_t n, double* y) { lanes::LogLanes<Avx512>(x, n, y); }

}  // namespace matmodel::detail
