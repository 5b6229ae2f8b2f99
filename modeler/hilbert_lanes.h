// The lane-parallel Hilbert kernel and its logarithms, written once over a
// small set of vector operations (an "Ops" type, see hilbert_sse2.cpp) and
// compiled once per instruction set. Internal to the library.
//
// Everything below the entry-point declarations has internal linkage on
// purpose: each source that includes this file gets its own copy built for its
// own instruction set, so no inline function compiled for a wide machine can be
// picked by the linker for code that runs on a narrower one.
//
// How the work is shared. Sample k's sum needs ln|w[k] + w[j]| and
// ln|w[k] - w[j]| at every point j (each segment i uses points i and i + 1).
// Both are symmetric in k and j, and the subtraction is exact up to sign, so
// the value sample k needs at point j is bit for bit the one sample j needs at
// point k. The samples are cut into blocks of kTile; for each pair of blocks
// (A <= B) one tile of logarithms is computed and used twice: block A sweeps
// the points of B, and, transposed, block B sweeps the points of A. Taking the
// pairs in the order (0,0), (0,1), ..., (1,1), (1,2), ... hands every block its
// points in rising order, so each sample still adds its terms segment by
// segment in the order of the direct loop.
#ifndef MATMODEL_MODELER_HILBERT_LANES_H
#define MATMODEL_MODELER_HILBERT_LANES_H

#include <cstddef>
#include <cstdint>

namespace matmodel::detail {

constexpr std::size_t kTile = 32;          // samples per block; a multiple of every lane count
constexpr std::size_t kSegmentStride = 4;  // doubles per segment in LaneWork::segments

/// What the lane kernels read and the scratch they write, all owned by the caller.
struct LaneWork {
    const double* w;              // n + 1 angular frequencies
    const double* segments;       // per segment i: (w[i+1] - w[i]) (2 p[i]), p[i], q[i], w[i]
    const unsigned char* zeroSum; // per segment i: w[i] + w[k] is exactly 0 for some sample k
    const double* samples;        // w[0 .. n), then copies of w[n-1] up to `padded`
    std::size_t n;
    std::size_t padded;           // a multiple of kTile
    double* state;                // 3 * padded, zero: per sample the sum and the two last logarithms
    double* tiles;                // 4 * kTile * kTile
    double* stdArgs;              // 2 * kTile * kTile: arguments left to std::log ...
    std::uint32_t* stdAt;         // ... and where in the tiles their logarithms go
};

// One entry point per instruction set, each in its own source file.
void HilbertLanesSse2(const LaneWork& work, double* r);
void HilbertLanesAvx2(const LaneWork& work, double* r);
void HilbertLanesAvx512(const LaneWork& work, double* r);
void LogLanesSse2(const double* x, std::size_t n, double* y);
void LogLanesAvx2(const double* x, std::size_t n, double* y);
void LogLanesAvx512(const double* x, std::size_t n, double* y);
// std::log, compiled for the baseline target (the kernels' few exact lanes).
double StdLogOutOfLine(double x);

namespace {
namespace lanes {

constexpr double kInvPi = 0.3183098861837907;

// --- The logarithm ----------------------------------------------------------
//
// The sums amplify a change of one bit in a logarithm by up to the ratio of
// the band's edges (rough loss curves on dense grids lose nine digits to
// cancellation), so agreeing with std::log "to the last bit or so" would not
// give the same sums. This logarithm returns std::log's own bits: it computes
// log(x) with an error bound far below half an ulp, keeps the rounded result
// where the exact value is clearly away from the midpoint between two doubles
// (there the correctly rounded result is the only one std::log can return),
// and calls std::log for the rest: about one lane in a hundred, plus zero,
// negatives, infinity, NaN, subnormals and x below 8.
//
// For x = 2^k m, m in [1, 2), the top bits of m pick the middle c of one of
// 2^b equal parts of [1, 2) and a one-term reduction r = m/c - 1:
//     log(x) = k ln2 + log(c) + log1p(r),   log1p(r) = r + r^2 (-1/2 + r Q(r)),
// Q being a Chebyshev fit of (log1p(r) - r + r^2/2) / r^3 over the range of r
// (see the two tables below). ln 2 and log(c) are split into a part on the
// 2^-42 grid and the rest, so that k ln2hi + log(c)hi is exact.
// r = m invC - 1 is rounded once by a fused multiply-add, and log(c) stands
// for -log(invC), invC being the double nearest 1/c. (Without fused
// multiply-add the kernels call std::log lane by lane.)

constexpr double kLn2Hi = 0x1.62e42fefa38p-1;
constexpr double kLn2Lo = 0x1.ef35793c7673p-45;
// std::log (glibc) is within 0.5 + 2^-9 ulp of the exact value for x >= 8: a
// few times the largest excess measured over millions of arguments near
// midpoints. Lanes that close to a midpoint go to std::log.
constexpr double kNearMidpoint = 1.0 - 0x1p-8;  // of half an ulp
constexpr double kTableBottom = 8.0;
constexpr double kTableTop = 0x1p1022;
constexpr std::uint64_t kMantissaMask = 0x000fffffffffffffULL;
constexpr std::uint64_t kExponentMask = 0x7ff0000000000000ULL;
constexpr std::uint64_t kOneBits = 0x3ff0000000000000ULL;
constexpr std::uint64_t kTwoTo52Bits = 0x4330000000000000ULL;  // or-ed into n < 2^52: 2^52 + n
constexpr double kTwoTo52 = 4503599627370496.0;

// Sixteen parts, |r| <= 1/33, degree-6 Q (fit error in log1p below 1.1e-18);
// two registers of AVX-512 hold a column.
struct Table16 {
    static constexpr unsigned kShift = 48;  // x's bits shifted: the index in the low 4 bits
    // A bound on the error of hi + s before its last rounding: approximation
    // (1.1e-18), the rounding of r (1.7e-18) and of s (1.7e-18), and less.
    static constexpr double kError = 6e-18;
    alignas(64) static constexpr double kInvC[16] = {
        0x1.f07c1f07c1f08p-1, 0x1.d41d41d41d41dp-1, 0x1.bacf914c1bad0p-1, 0x1.a41a41a41a41ap-1,
        0x1.8f9c18f9c18fap-1, 0x1.7d05f417d05f4p-1, 0x1.6c16c16c16c17p-1, 0x1.5c9882b931057p-1,
        0x1.4e5e0a72f0539p-1, 0x1.4141414141414p-1, 0x1.3521cfb2b78c1p-1, 0x1.29e4129e4129ep-1,
        0x1.1f7047dc11f70p-1, 0x1.15b1e5f75270dp-1, 0x1.0c9714fbcda3bp-1, 0x1.0410410410410p-1};
    // -log(invC): on the 2^-42 grid, and the rest.
    alignas(64) static constexpr double kLogCHi[16] = {
        0x1.f829b0e780000p-6, 0x1.6f0d28ae58000p-4, 0x1.29552f8200000p-3, 0x1.9525a9cf46000p-3,
        0x1.fb9186d5e4000p-3, 0x1.2e8e2bae12000p-2, 0x1.5d1bdbf581000p-2, 0x1.89a3386c14000p-2,
        0x1.b44f77bcc9000p-2, 0x1.dd46a04c1c000p-2, 0x1.02552a5a5d000p-1, 0x1.154c3d2f4d800p-1,
        0x1.2795e1289b000p-1, 0x1.393e0d3562800p-1, 0x1.4a4f85db04000p-1, 0x1.5ad404c35a000p-1};
    alignas(64) static constexpr double kLogCLo[16] = {
        0x1.97c267c7e09e4p-45,  -0x1.4b2241b664613p-44, -0x1.5bd67f4471dfcp-44,
        -0x1.294937d9f158fp-44, -0x1.d6b2aab993c87p-47, -0x1.6791e99b72bd8p-45,
        -0x1.8d97dc9c7c238p-44, 0x1.2d92d38c40882p-45,  -0x1.38068224aa2cep-47,
        0x1.283fb989a9274p-44,  0x1.fe3d38d2bafddp-46,  -0x1.0af338662e34dp-44,
        0x1.1b6b783f3db97p-45,  0x1.0cd8e221301b7p-44,  -0x1.4575d840b8591p-45,
        -0x1.a509acaab41fcp-46};

    // -1/2 + r Q(r)
    template <class V>
    static typename V::D Poly(typename V::D r) {
        using D = typename V::D;
        D q = V::Fma(r, V::Set1(0.11125737138673407), V::Set1(-0.12516088393386643));
        q = V::Fma(r, q, V::Set1(0.14285707567065423));
        q = V::Fma(r, q, V::Set1(-0.16666659276294388));
        q = V::Fma(r, q, V::Set1(0.20000000000771423));
        q = V::Fma(r, q, V::Set1(-0.2500000000084855));
        q = V::Fma(r, q, V::Set1(0.3333333333333333));
        return V::Fma(r, q, V::Set1(-0.5));
    }
};

// Eight parts, |r| <= 1/17, degree-8 Q (fit error in log1p below 6e-19); two
// AVX2 registers hold a column.
struct Table8 {
    static constexpr unsigned kShift = 49;  // the index in the low 3 bits
    // Approximation (0.6e-18), rounding of r (3.7e-18) and of s (3.5e-18), and less.
    static constexpr double kError = 1e-17;
    alignas(64) static constexpr double kInvC[8] = {
        0x1.e1e1e1e1e1e1ep-1, 0x1.af286bca1af28p-1, 0x1.8618618618618p-1, 0x1.642c8590b2164p-1,
        0x1.47ae147ae147bp-1, 0x1.2f684bda12f68p-1, 0x1.1a7b9611a7b96p-1, 0x1.0842108421084p-1};
    alignas(64) static constexpr double kLogCHi[8] = {
        0x1.f0a30c0118000p-5, 0x1.5ff3070a7a000p-3, 0x1.1675cababa000p-2, 0x1.739d7f6bbd000p-2,
        0x1.c8ff7c79aa000p-2, 0x1.0be72e4252800p-1, 0x1.307d7334f1000p-1, 0x1.52a2d265bc800p-1};
    alignas(64) static constexpr double kLogCLo[8] = {
        -0x1.d579e83368e91p-45, -0x1.8546f183bebf2p-44, 0x1.83c0e731f55c4p-44,
        0x1.c7389314feb50p-52,  -0x1.77acf689f8434p-44, 0x1.419b4c4bdd99fp-44,
        0x1.7c7f6b2143eadp-46,  -0x1.2a68c41ba8752p-44};

    template <class V>
    static typename V::D Poly(typename V::D r) {
        using D = typename V::D;
        D q = V::Fma(r, V::Set1(0.09151079822817348), V::Set1(-0.1006518172944716));
        q = V::Fma(r, q, V::Set1(0.1111095470598457));
        q = V::Fma(r, q, V::Set1(-0.12499830572145083));
        q = V::Fma(r, q, V::Set1(0.1428571443616759));
        q = V::Fma(r, q, V::Set1(-0.16666666829646046));
        q = V::Fma(r, q, V::Set1(0.19999999999960938));
        q = V::Fma(r, q, V::Set1(-0.24999999999957687));
        q = V::Fma(r, q, V::Set1(0.3333333333333333));
        return V::Fma(r, q, V::Set1(-0.5));
    }
};

// std::log lane by lane: the logarithm of the levels without fused multiply-add.
template <class V>
typename V::D StdLog(typename V::D x) {
    double xs[V::kLanes];
    V::Store(xs, x);
    for (std::size_t j = 0; j < V::kLanes; ++j) xs[j] = StdLogOutOfLine(xs[j]);
    return V::Load(xs);
}

// Lanes whose bit in `fromStd` is set take std::log(x).
template <class V>
typename V::D WithStdLog(typename V::D x, typename V::D y, unsigned fromStd) {
    double xs[V::kLanes], ys[V::kLanes];
    V::Store(xs, x);
    V::Store(ys, y);
    for (std::size_t j = 0; j < V::kLanes; ++j)
        if ((fromStd >> j) & 1u) ys[j] = StdLogOutOfLine(xs[j]);
    return V::Load(ys);
}

// log(x) for the lanes it can round with certainty; the lanes left to
// std::log are returned in `fromStd`, their values undefined.
template <class V>
inline typename V::D LogOrDefer(typename V::D x, unsigned& fromStd) {
    using D = typename V::D;
    const auto bits = V::Bits(x);
    D k, m;
    if constexpr (V::kHasExponentOps) {
        k = V::Exponent(x);
        m = V::Mantissa(x);
    } else {
        // For a negative x the sign lands in k; such lanes are not kept anyway.
        k = V::Sub(V::FromBits(V::Or64(V::Shr52(bits), V::Set64(kTwoTo52Bits))),
                   V::Set1(kTwoTo52 + 1023.0));
        m = V::FromBits(V::Or64(V::And64(bits, V::Set64(kMantissaMask)), V::Set64(kOneBits)));
    }
    using T = typename V::LogTable;
    const auto index = V::template Shr<T::kShift>(bits);
    const D invC = V::Lookup(T::kInvC, index);
    const D logCHi = V::Lookup(T::kLogCHi, index);
    const D r = V::Fma(m, invC, V::Set1(-1.0));
    const D lo = V::Fma(k, V::Set1(kLn2Lo), V::Lookup(T::kLogCLo, index));
    const D hi = V::Fma(k, V::Set1(kLn2Hi), logCHi);  // exact
    const D p = V::Mul(V::Mul(r, r), T::template Poly<V>(r));
    const D s = V::Add(r, V::Add(p, lo));
    const D y = V::Add(hi, s);
    // y + e = hi + s exactly (|hi| > 2 > |s|). The exact logarithm is within
    // T::kError of that; keep y if it is clearly closer than half an ulp.
    const D e = V::Add(V::Sub(hi, y), s);
    // Half an ulp of y is 2^-53 times y with its mantissa cleared.
    const D limit = V::Fma(V::FromBits(V::And64(V::Bits(y), V::Set64(kExponentMask))),
                           V::Set1(0x1p-53 * kNearMidpoint), V::Set1(-T::kError));
    // Ordered compares: NaN fails.
    const auto keep = V::And(V::And(V::Ge(x, V::Set1(kTableBottom)), V::Lt(x, V::Set1(kTableTop))),
                             V::Lt(V::Abs(e), limit));
    fromStd = ~V::MaskBits(keep) & ((1u << V::kLanes) - 1u);
    return y;
}

template <class V>
inline typename V::D Log(typename V::D x) {
    unsigned fromStd;
    const typename V::D y = LogOrDefer<V>(x, fromStd);
    return fromStd == 0 ? y : WithStdLog<V>(x, y, fromStd);
}

// --- The kernel -------------------------------------------------------------

// The terms of segment i (points i and i + 1) for U vectors of samples, added
// exactly as in the direct loop. lp and lm hold ln|w[i] + wk| and ln|wk - w[i]|
// on entry and the values at point i + 1 (lpNext, lmNext) on return. Near the
// diagonal the index tests of the direct loop become per-lane masks; elsewhere
// they cannot fire. The zero-sum test runs only on segments where it can fail.
template <class V, std::size_t U, bool kNearDiagonal>
inline void Segment(const LaneWork& work, std::size_t i, const typename V::D* wk,
                    const typename V::D* kIndex, const double* lpNext, const double* lmNext,
                    typename V::D* sum, typename V::D* lp, typename V::D* lm) {
    using D = typename V::D;
    const double* seg = work.segments + i * kSegmentStride;
    const D c = V::Set1(seg[0]);
    const D p = V::Set1(seg[1]);
    const D q = V::Set1(seg[2]);
    const bool zeroSum = work.zeroSum[i] != 0;
    for (std::size_t u = 0; u < U; ++u) {
        const D lpN = V::Load(lpNext + u * V::kLanes);
        const D lmN = V::Load(lmNext + u * V::kLanes);
        D acc = V::Add(sum[u], c);
        const D pw = V::Mul(p, wk[u]);
        const D t = V::Mul(V::Sub(lpN, lp[u]), V::Sub(pw, q));
        if (zeroSum)
            acc = V::SubIf(V::Ne(V::Add(V::Set1(seg[3]), wk[u]), V::Set1(0.0)), acc, t);
        else
            acc = V::Sub(acc, t);
        const D v = V::Add(pw, q);
        if (kNearDiagonal) {
            acc = V::AddIf(V::Ne(kIndex[u], V::Set1(static_cast<double>(i + 1))), acc, V::Mul(lmN, v));
            acc = V::SubIf(V::Ne(kIndex[u], V::Set1(static_cast<double>(i))), acc, V::Mul(lm[u], v));
        } else {
            acc = V::Add(acc, V::Mul(lmN, v));
            acc = V::Sub(acc, V::Mul(lm[u], v));
        }
        sum[u] = acc;
        lp[u] = lpN;
        lm[u] = lmN;
    }
}

// Rows b of the tiles: ln|w_b + w_a| (lpTile) and ln|w_a - w_b| (lmTile, right
// after lpTile) for the samples a of the block at a0 (columns) and the points
// b of the block at b0. Lanes left to std::log are listed while the tile is
// filled and done after, keeping the calls out of the vector loop.
template <class V>
std::size_t Defer(typename V::D x, std::size_t at, unsigned lanes, double* args,
                  std::uint32_t* where, std::size_t count) {
    double xs[V::kLanes];
    V::Store(xs, x);
    for (std::size_t j = 0; j < V::kLanes; ++j)
        if ((lanes >> j) & 1u) {
            args[count] = xs[j];
            where[count] = static_cast<std::uint32_t>(at + j);
            ++count;
        }
    return count;
}

template <class V>
void FillTile(const LaneWork& work, std::size_t a0, std::size_t b0, double* lpTile) {
    using D = typename V::D;
    // Locals: the stores below could alias anything reached through `work`.
    const double* const wa = work.samples + a0;
    const double* const wb = work.samples + b0;
    double* const args = work.stdArgs;
    std::uint32_t* const where = work.stdAt;
    std::size_t count = 0;
    for (std::size_t b = 0; b < kTile; ++b) {
        const D point = V::Set1(wb[b]);
        for (std::size_t a = 0; a < kTile; a += V::kLanes) {
            const std::size_t at = b * kTile + a;
            const D x = V::Abs(V::Add(point, V::Load(wa + a)));
            unsigned lanes;
            V::Store(lpTile + at, V::LogOrDefer(x, lanes));
            if (lanes != 0) count = Defer<V>(x, at, lanes, args, where, count);
        }
    }
    for (std::size_t b = 0; b < kTile; ++b) {
        const D point = V::Set1(wb[b]);
        for (std::size_t a = 0; a < kTile; a += V::kLanes) {
            const std::size_t at = kTile * kTile + b * kTile + a;
            const D x = V::Abs(V::Sub(V::Load(wa + a), point));
            unsigned lanes;
            V::Store(lpTile + at, V::LogOrDefer(x, lanes));
            if (lanes != 0) count = Defer<V>(x, at, lanes, args, where, count);
        }
    }
    for (std::size_t i = 0; i < count; ++i) lpTile[where[i]] = StdLogOutOfLine(args[i]);
}

template <class V>
void TransposeTile(const double* from, double* to) {
    using D = typename V::D;
    constexpr std::size_t L = V::kLanes;
    for (std::size_t b = 0; b < kTile; b += L)
        for (std::size_t a = 0; a < kTile; a += L) {
            D rows[L];
            for (std::size_t j = 0; j < L; ++j) rows[j] = V::Load(from + (b + j) * kTile + a);
            V::Transpose(rows);
            for (std::size_t j = 0; j < L; ++j) V::Store(to + (a + j) * kTile + b, rows[j]);
        }
}

// The samples of the block at x0 take the points [p0, p1) in turn; row j - p0
// of the tiles holds the logarithms at point j.
template <class V, std::size_t U, bool kNearDiagonal>
void Sweep(const LaneWork& work, std::size_t x0, std::size_t p0, std::size_t p1,
           const double* lpTile, const double* lmTile) {
    using D = typename V::D;
    constexpr std::size_t kSpan = U * V::kLanes;
    static_assert(kTile % kSpan == 0, "vectors must tile a block");
    double* sumState = work.state;
    double* lpState = work.state + work.padded;
    double* lmState = work.state + 2 * work.padded;
    for (std::size_t a = 0; a < kTile; a += kSpan) {
        D wk[U], kIndex[U], sum[U], lp[U], lm[U];
        for (std::size_t u = 0; u < U; ++u) {
            const std::size_t k = x0 + a + u * V::kLanes;
            wk[u] = V::Load(work.samples + k);
            kIndex[u] = V::Add(V::Set1(static_cast<double>(k)), V::LaneIndex());
            sum[u] = V::Load(sumState + k);
            lp[u] = V::Load(lpState + k);
            lm[u] = V::Load(lmState + k);
        }
        std::size_t j = p0;
        if (j == 0) {  // the first point opens every sum
            for (std::size_t u = 0; u < U; ++u) {
                lp[u] = V::Load(lpTile + a + u * V::kLanes);
                lm[u] = V::Load(lmTile + a + u * V::kLanes);
            }
            ++j;
        }
        for (; j < p1; ++j) {
            const std::size_t row = (j - p0) * kTile + a;
            Segment<V, U, kNearDiagonal>(work, j - 1, wk, kIndex, lpTile + row, lmTile + row, sum,
                                         lp, lm);
        }
        for (std::size_t u = 0; u < U; ++u) {
            const std::size_t k = x0 + a + u * V::kLanes;
            V::Store(sumState + k, sum[u]);
            V::Store(lpState + k, lp[u]);
            V::Store(lmState + k, lm[u]);
        }
    }
}

// The last segment, up to the point a decade above the band, and r.
template <class V>
void Finish(const LaneWork& work, std::size_t x0, double* r) {
    using D = typename V::D;
    const D top = V::Set1(work.w[work.n]);
    double lpTop[kTile], lmTop[kTile];
    for (std::size_t a = 0; a < kTile; a += V::kLanes) {
        const D wk = V::Load(work.samples + x0 + a);
        V::Store(lpTop + a, V::Log(V::Abs(V::Add(top, wk))));
        V::Store(lmTop + a, V::Log(V::Abs(V::Sub(wk, top))));
    }
    Sweep<V, 1, true>(work, x0, work.n, work.n + 1, lpTop, lmTop);
    for (std::size_t a = 0; a < kTile; a += V::kLanes) {
        const D sum = V::Load(work.state + x0 + a);
        V::Store(r + x0 + a, V::Neg(V::Mul(sum, V::Set1(kInvPi))));
    }
}

// r for every sample; r has room for work.padded values.
template <class V, std::size_t U>
void HilbertLanes(const LaneWork& work, double* r) {
    const std::size_t blocks = work.padded / kTile;
    double* lp = work.tiles;
    double* lm = lp + kTile * kTile;
    double* lpT = lm + kTile * kTile;
    double* lmT = lpT + kTile * kTile;
    for (std::size_t a = 0; a < blocks; ++a) {
        const std::size_t a0 = a * kTile;
        for (std::size_t b = a; b < blocks; ++b) {
            const std::size_t b0 = b * kTile;
            const std::size_t b1 = b0 + kTile < work.n ? b0 + kTile : work.n;
            FillTile<V>(work, a0, b0, lp);
            // Points k and k + 1 are where sample k's index tests fire.
            if (b <= a + 1)
                Sweep<V, U, true>(work, a0, b0, b1, lp, lm);
            else
                Sweep<V, U, false>(work, a0, b0, b1, lp, lm);
            if (b == a) continue;
            TransposeTile<V>(lp, lpT);
            TransposeTile<V>(lm, lmT);
            Sweep<V, U, false>(work, b0, a0, a0 + kTile, lpT, lmT);
        }
        Finish<V>(work, a0, r);
    }
}

template <class V>
void LogLanes(const double* x, std::size_t n, double* y) {
    std::size_t i = 0;
    for (; i + V::kLanes <= n; i += V::kLanes) V::Store(y + i, V::Log(V::Load(x + i)));
    if (i == n) return;
    double in[V::kLanes], out[V::kLanes];
    for (std::size_t j = 0; j < V::kLanes; ++j) in[j] = i + j < n ? x[i + j] : 1.0;
    V::Store(out, V::Log(V::Load(in)));
    for (std::size_t j = 0; i + j < n; ++j) y[i + j] = out[j];
}

}  // namespace lanes
}  // namespace
}  // namespace matmodel::detail

#endif  // MATMODEL_MODELER_HILBERT_LANES_H
