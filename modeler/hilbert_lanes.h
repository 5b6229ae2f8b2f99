// The lane-parallel Hilbert kernel and its logarithm, written once over a small
// set of vector operations (an "Ops" type, see hilbert_sse2.cpp) and compiled
// once per instruction set. Internal to the library.
//
// Everything below the entry-point declarations has internal linkage on
// purpose: each source that includes this file gets its own copy built for its
// own instruction set, so no inline function compiled for a wide machine can be
// picked by the linker for code that runs on a narrower one.
#ifndef MATMODEL_MODELER_HILBERT_LANES_H
#define MATMODEL_MODELER_HILBERT_LANES_H

#include <cstddef>
#include <cstdint>

namespace matmodel::detail {

/// What the lane kernels read. The samples are padded so that whole vectors
/// of them can be loaded; r must have room for samplesPadded values.
struct LaneInput {
    const double* w;         // n + 1 angular frequencies
    const double* segments;  // per segment: w[i+1], (w[i+1] - w[i]) (2 p[i]), p[i], q[i]
    const double* samples;   // w[0 .. n), then copies of w[n-1] up to samplesPadded
    std::size_t n;
    std::size_t samplesPadded;
};

// Every block of samples the kernels take is a multiple of this.
constexpr std::size_t kLaneBlock = 32;
constexpr std::size_t kSegmentStride = 4;

// One entry point per instruction set, each in its own source file.
void HilbertLanesSse2(const LaneInput& in, double* r);
void HilbertLanesAvx2(const LaneInput& in, double* r);
void HilbertLanesAvx512(const LaneInput& in, double* r);
void LogLanesSse2(const double* x, std::size_t n, double* y);
void LogLanesAvx2(const double* x, std::size_t n, double* y);
void LogLanesAvx512(const double* x, std::size_t n, double* y);

namespace {
namespace lanes {

constexpr double kInvPi = 0.3183098861837907;

// log(m) for m in [sqrt(1/2), sqrt(2)) as in the classic reduction: with
// f = m - 1 and s = f / (2 + f), log(m) = f - f^2/2 + s (f^2/2 + R), where
// R = 2 atanh(s)/s - 2 - ... = z (2/3 + 2/5 z + ...), z = s^2. The
// coefficients are a degree-6 Chebyshev fit of R/z over z in [0, 0.02944]
// (|s| <= (sqrt 2 - 1)/(sqrt 2 + 1)); the fit error in R is below 1e-17,
// a few hundredths of a unit in the last place of the result.
constexpr double kLogR0 = 0.666666666666667;
constexpr double kLogR1 = 0.39999999999899505;
constexpr double kLogR2 = 0.28571428625975487;
constexpr double kLogR3 = 0.2222221113479508;
constexpr double kLogR4 = 0.18182889125261723;
constexpr double kLogR5 = 0.15331721600556042;
constexpr double kLogR6 = 0.14616449685043406;
// ln 2 split so that k * kLn2Hi is exact for every binary exponent k of a
// double, subnormals included (|k| < 2^11, kLn2Hi has 42 significant bits).
constexpr double kLn2Hi = 0x1.62e42fefa38p-1;
constexpr double kLn2Lo = 0x1.ef35793c7673p-45;
// Bits of the double nearest sqrt(1/2), and what takes a double's bits to
// the exponent field of x / sqrt(1/2) (that of 1.0 minus those bits).
constexpr std::uint64_t kSqrtHalfBits = 0x3fe6a09e667f3bcdULL;
constexpr std::uint64_t kToExponent = 0x3ff0000000000000ULL - kSqrtHalfBits;
constexpr std::uint64_t kMantissaMask = 0x000fffffffffffffULL;
// Or-ed into a small integer's bits, gives 2^52 + that integer.
constexpr std::uint64_t kTwoTo52Bits = 0x4330000000000000ULL;
constexpr double kTwoTo52 = 4503599627370496.0;
constexpr double kSmallestNormal = 0x1p-1022;
constexpr double kInf = __builtin_inf();

// log for normal positive x; kAdjust is added to the binary exponent.
template <class V>
inline typename V::D LogCore(typename V::D x, typename V::D kAdjust) {
    using D = typename V::D;
    // x = 2^k m with m in [sqrt(1/2), sqrt(2)): adding kToExponent carries
    // into the exponent field exactly when the mantissa is at least sqrt 2.
    const auto u = V::Add64(V::Bits(x), V::Set64(kToExponent));
    const D m = V::FromBits(V::Add64(V::And64(u, V::Set64(kMantissaMask)), V::Set64(kSqrtHalfBits)));
    const D biased = V::FromBits(V::Or64(V::Shr52(u), V::Set64(kTwoTo52Bits)));
    const D k = V::Add(V::Sub(biased, V::Set1(kTwoTo52 + 1023.0)), kAdjust);

    const D f = V::Sub(m, V::Set1(1.0));  // exact: m is within a factor 2 of 1
    const D s = V::Div(f, V::Add(V::Set1(2.0), f));
    const D z = V::Mul(s, s);
    D r = V::Set1(kLogR6);
    r = V::Add(V::Mul(r, z), V::Set1(kLogR5));
    r = V::Add(V::Mul(r, z), V::Set1(kLogR4));
    r = V::Add(V::Mul(r, z), V::Set1(kLogR3));
    r = V::Add(V::Mul(r, z), V::Set1(kLogR2));
    r = V::Add(V::Mul(r, z), V::Set1(kLogR1));
    r = V::Add(V::Mul(r, z), V::Set1(kLogR0));
    r = V::Mul(r, z);
    const D hfsq = V::Mul(V::Mul(V::Set1(0.5), f), f);
    // k ln2 + f - hfsq + s (hfsq + R), summed small to large.
    const D tail = V::Add(V::Mul(s, V::Add(hfsq, r)), V::Mul(k, V::Set1(kLn2Lo)));
    return V::Sub(V::Mul(k, V::Set1(kLn2Hi)), V::Sub(V::Sub(hfsq, tail), f));
}

// Natural logarithm, lane by lane, with the special values of std::log.
// The same operations in the same order on every instruction set, none fused,
// so that every level gives the same bits.
template <class V>
inline typename V::D Log(typename V::D x) {
    using D = typename V::D;
    const D zero = V::Set1(0.0);
    if (V::All(V::And(V::Ge(x, V::Set1(kSmallestNormal)), V::Lt(x, V::Set1(kInf)))))
        return LogCore<V>(x, zero);
    // Rare lanes: subnormals are scaled into the normal range first; zero,
    // negatives, infinity and NaN get their values after.
    const auto tiny = V::Lt(x, V::Set1(kSmallestNormal));
    const D scaled = V::Select(tiny, V::Mul(x, V::Set1(kTwoTo52)), x);
    const D result = LogCore<V>(scaled, V::Select(tiny, V::Set1(-52.0), zero));
    D special = V::Select(V::Lt(x, zero), V::Set1(__builtin_nan("")), V::Add(x, x));
    special = V::Select(V::Eq(x, zero), V::Set1(-kInf), special);
    return V::Select(V::And(V::Gt(x, zero), V::Lt(x, V::Set1(kInf))), result, special);
}

// One step of the sum over segments for U vectors of samples. lp, lm and xp
// carry ln|w[i] + wk|, ln|wk - w[i]| and w[i] + wk from the previous segment;
// on return they hold the values at w[i+1]. Terms are added exactly as in the
// direct loop. Near the diagonal the index tests of the direct loop become
// per-lane masks; elsewhere they cannot fire.
template <class V, std::size_t U, bool kNearDiagonal>
inline void Segment(const double* seg, std::size_t i, const typename V::D* wk,
                    const typename V::D* kIndex, typename V::D* sum, typename V::D* xp,
                    typename V::D* lp, typename V::D* lm) {
    using D = typename V::D;
    const D wNext = V::Set1(seg[0]);
    const D c = V::Set1(seg[1]);
    const D p = V::Set1(seg[2]);
    const D q = V::Set1(seg[3]);
    for (std::size_t u = 0; u < U; ++u) {
        const D xpNext = V::Add(wNext, wk[u]);
        const D lpNext = V::Log(V::Abs(xpNext));
        const D lmNext = V::Log(V::Abs(V::Sub(wk[u], wNext)));
        D acc = V::Add(sum[u], c);
        const D pw = V::Mul(p, wk[u]);
        // The term vanishes in the limit where w[i] + wk is exactly zero.
        acc = V::SubIf(V::Ne(xp[u], V::Set1(0.0)), acc, V::Mul(V::Sub(lpNext, lp[u]), V::Sub(pw, q)));
        const D v = V::Add(pw, q);
        if (kNearDiagonal) {
            const D idx = kIndex[u];
            acc = V::AddIf(V::Ne(idx, V::Set1(static_cast<double>(i + 1))), acc, V::Mul(lmNext, v));
            acc = V::SubIf(V::Ne(idx, V::Set1(static_cast<double>(i))), acc, V::Mul(lm[u], v));
        } else {
            acc = V::Add(acc, V::Mul(lmNext, v));
            acc = V::Sub(acc, V::Mul(lm[u], v));
        }
        sum[u] = acc;
        xp[u] = xpNext;
        lp[u] = lpNext;
        lm[u] = lmNext;
    }
}

// r for the U * V::kLanes samples from k0 on.
template <class V, std::size_t U>
inline void SampleBlock(const LaneInput& in, std::size_t k0, double* r) {
    using D = typename V::D;
    constexpr std::size_t kSpan = U * V::kLanes;
    D wk[U], kIndex[U], sum[U], xp[U], lp[U], lm[U];
    const D w0 = V::Set1(in.w[0]);
    for (std::size_t u = 0; u < U; ++u) {
        const std::size_t first = k0 + u * V::kLanes;
        wk[u] = V::Load(in.samples + first);
        kIndex[u] = V::Add(V::Set1(static_cast<double>(first)), V::LaneIndex());
        sum[u] = V::Set1(0.0);
        xp[u] = V::Add(wk[u], w0);
        lp[u] = V::Log(V::Abs(xp[u]));
        lm[u] = V::Log(V::Abs(V::Sub(wk[u], w0)));
    }
    // Segments i with i == k or i + 1 == k for a sample k of this block.
    const std::size_t n = in.n;
    const std::size_t lo = k0 == 0 ? 0 : k0 - 1;
    const std::size_t hi = k0 + kSpan < n ? k0 + kSpan : n;
    const double* seg = in.segments;
    std::size_t i = 0;
    for (; i < lo; ++i)
        Segment<V, U, false>(seg + i * kSegmentStride, i, wk, kIndex, sum, xp, lp, lm);
    for (; i < hi; ++i)
        Segment<V, U, true>(seg + i * kSegmentStride, i, wk, kIndex, sum, xp, lp, lm);
    for (; i < n; ++i)
        Segment<V, U, false>(seg + i * kSegmentStride, i, wk, kIndex, sum, xp, lp, lm);
    for (std::size_t u = 0; u < U; ++u)
        V::Store(r + u * V::kLanes, V::Neg(V::Mul(sum[u], V::Set1(kInvPi))));
}

template <class V, std::size_t U>
void HilbertLanes(const LaneInput& in, double* r) {
    constexpr std::size_t kSpan = U * V::kLanes;
    static_assert(kLaneBlock % kSpan == 0, "blocks must tile the padded samples");
    for (std::size_t k0 = 0; k0 < in.n; k0 += kSpan) SampleBlock<V, U>(in, k0, r + k0);
}

template <class V>
void LogLanes(const double* x, std::size_t n, double* y) {
    std::size_t i = 0;
    for (; i + V::kLanes <= n; i += V::kLanes) V::Store(y + i, Log<V>(V::Load(x + i)));
    if (i == n) return;
    double in[V::kLanes], out[V::kLanes];
    for (std::size_t j = 0; j < V::kLanes; ++j) in[j] = i + j < n ? x[i + j] : 1.0;
    V::Store(out, Log<V>(V::Load(in)));
    for (std::size_t j = 0; i + j < n; ++j) y[i + j] = out[j];
}

}  // namespace lanes
}  // namespace
}  // namespace matmodel::detail

#endif  // MATMODEL_MODELER_HILBERT_LANES_H
