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

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>

namespace matmodel::detail {

constexpr std::size_t kTile = 32;          // samples per block; a multiple of every lane count
constexpr std::size_t kSegmentStride = 4;  // doubles per segment in LaneWork::segments

/// The least and greatest sample frequency of a block; NaN if any is NaN.
struct BlockRange {
    double lo, hi;
};

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
    unsigned char* deferred;      // 2 * kTile * kTile: per vector of a tile, the lanes left to std::log
    double* deferredArgs;         // 2 * kTile * kTile: their arguments ...
    std::uint16_t* deferredAt;    // ... and places in the tiles
    const BlockRange* blocks;     // padded / kTile: the range of each block's samples
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
// and leaves the rest to std::log: about one lane in 140, plus zero,
// negatives, infinity, NaN, subnormals and x below 8.
//
// For x = 2^k m, m in [1, 2), the top bits of m pick one of 2^b equal parts of
// [1, 2) and, from a table, a number invC close to the reciprocal of the
// part's middle:
//     log(x) = k ln2 + L + log1p(r),   r = m invC - 1,   L = -log(invC),
//     log1p(r) = r + r^2 (-1/2 + r Q(r)),
// Q being a Chebyshev fit of (log1p(r) - r + r^2/2) / r^3 over the range of r.
// Each invC was searched among the doubles within 2e-7 of 1/middle for one
// whose L lies within 2^-64 of a multiple of 2^-42 (Gal's accurate tables):
// the table holds that multiple, and the rest is left in the error bound. As
// ln2's head kLn2Hi is a multiple of 2^-42 too, hi = k kLn2Hi + L is exact, and
// only k kLn2Lo joins the polynomial's small tail. r is rounded once, by a
// fused multiply-add. (Without fused multiply-add the kernels call std::log.)
//
// The rounding test. With s = r + tail (rounded) and y = hi + s (rounded),
// yl = (hi - y) + s is exact (|hi| > 2 > |s|: Fast2Sum), so y + yl = hi + s,
// which is within kError of log(x). If |yl| + kError is below half an ulp of y
// less 2^-9 ulp, log(x) is more than 2^-9 ulp away from the midpoints on
// either side of y, and std::log, within 0.5 + 2^-9 ulp of log(x), returns y.

constexpr double kLn2Hi = 0x1.62e42fefa38p-1;  // a multiple of 2^-42; k kLn2Hi is exact
constexpr double kLn2Lo = 0x1.ef35793c7673p-45;
// std::log (glibc) is within 0.5 + 2^-9 ulp of the exact value for x >= 8: a
// few times the largest excess measured over millions of arguments near
// midpoints. Lanes that close to a midpoint go to std::log.
constexpr double kNearMidpoint = 1.0 - 0x1p-8;  // of half an ulp
constexpr double kTableBottom = 8.0;
constexpr std::uint64_t kMantissaMask = 0x000fffffffffffffULL;
constexpr std::uint64_t kExponentMask = 0x7ff0000000000000ULL;
constexpr std::uint64_t kOneBits = 0x3ff0000000000000ULL;
constexpr std::uint64_t kTwoTo52Bits = 0x4330000000000000ULL;  // or-ed into n < 2^52: 2^52 + n
constexpr double kTwoTo52 = 4503599627370496.0;

// Sixteen parts, |r| <= 0.0304, degree-6 Q (fit error in log1p 1.1e-18); one
// AVX-512 permute of two registers looks a column up.
struct Table16 {
    static constexpr unsigned kShift = 48;  // x's bits shifted: the index in the low 4 bits
    // A bound on |hi + s - log(x)|: the rounding of r (1.8e-18) and of s
    // (1.8e-18), the fit (1.1e-18), the rest of the polynomial's roundings
    // (2e-19) and of the table (5e-20).
    static constexpr double kError = 6e-18;
    static constexpr double kSpan = 0x1p-5;  // above |s| = |r + tail| (0.0308)
    alignas(64) static constexpr double kInvC[16] = {
        0x1.f07c1b5cf1147p-1, 0x1.d41d3ff7246d6p-1, 0x1.bacf9335fcd49p-1, 0x1.a41a429665a02p-1,
        0x1.8f9c19c07319bp-1, 0x1.7d05f6245467cp-1, 0x1.6c16c1b047af3p-1, 0x1.5c9884ea88915p-1,
        0x1.4e5e0b71b19f2p-1, 0x1.4141441a7983ep-1, 0x1.3521d04a59184p-1, 0x1.29e40f3566a27p-1,
        0x1.1f7044b3648c2p-1, 0x1.15b1e676230ep-1,  0x1.0c9717a00f726p-1, 0x1.041041eb40bccp-1};
    // -log(kInvC), to the nearest multiple of 2^-42 (within 2^-64).
    alignas(64) static constexpr double kLogC[16] = {
        0x1.f82a29ec7p-6,   0x1.6f0d38fbd8p-4,  0x1.295526a84ep-3,  0x1.9525a53216p-3,
        0x1.fb9182db96p-3,  0x1.2e8e262c6fp-2,  0x1.5d1bdb35b7p-2,  0x1.89a331fb23p-2,
        0x1.b44f74b099p-2,  0x1.dd469737b9p-2,  0x1.0255295f398p-1, 0x1.154c430b85p-1,
        0x1.2795e6c91p-1,   0x1.393e0c4b92p-1,  0x1.4a4f80d1e68p-1, 0x1.5ad402fc328p-1};

    // r2 (-1/2 + r Q(r)) + c for N vectors, Q by Estrin's scheme (short
    // dependency chains); r2 = r r.
    template <class V, std::size_t N>
    static void Poly(const typename V::D* r, const typename V::D* r2, const typename V::D* c,
                     typename V::D* out) {
        typename V::D p01[N], p23[N], p45[N], p67[N];
        for (std::size_t n = 0; n < N; ++n) {
            p01[n] = V::Fma(r[n], V::Set1(0x1.5555555555555p-2), V::Set1(-0.5));
            p23[n] = V::Fma(r[n], V::Set1(0x1.99999999dd6a9p-3), V::Set1(-0x1.00000000254c5p-2));
            p45[n] = V::Fma(r[n], V::Set1(0x1.24924020f13f6p-3), V::Set1(-0x1.55554b6afd6d9p-3));
            p67[n] = V::Fma(r[n], V::Set1(0x1.c7b5c7b9c1a0ap-4), V::Set1(-0x1.0054555a7a0ebp-3));
        }
        for (std::size_t n = 0; n < N; ++n) {
            p01[n] = V::Fma(r2[n], p23[n], p01[n]);
            p45[n] = V::Fma(r2[n], p67[n], p45[n]);
        }
        for (std::size_t n = 0; n < N; ++n) p01[n] = V::Fma(V::Mul(r2[n], r2[n]), p45[n], p01[n]);
        for (std::size_t n = 0; n < N; ++n) out[n] = V::Fma(r2[n], p01[n], c[n]);
    }
};

// Eight parts, |r| <= 0.0589, degree-8 Q (fit error in log1p 6e-19); two
// AVX2 permutes of one register each look a column up.
struct Table8 {
    static constexpr unsigned kShift = 49;  // the index in the low 3 bits
    // Rounding of r (3.7e-18) and of s (3.5e-18), the fit (6e-19), the rest
    // of the polynomial (7e-19) and the table (6e-20).
    static constexpr double kError = 1e-17;
    static constexpr double kSpan = 0x1p-4;  // above |s| = |r + tail| (0.0607)
    alignas(64) static constexpr double kInvC[8] = {
        0x1.e1e1e1b115119p-1, 0x1.af286db20a5edp-1, 0x1.861861648b92ap-1, 0x1.642c84d8fcdefp-1,
        0x1.47ae15ea292a7p-1, 0x1.2f684e78ac40ap-1, 0x1.1a7b95e2e893dp-1, 0x1.08420ff8dee4ap-1};
    alignas(64) static constexpr double kLogC[8] = {
        0x1.f0a30f3ebp-5,   0x1.5ff2fdfcc8p-3,  0x1.1675cb12ccp-2, 0x1.739d817be6p-2,
        0x1.c8ff77fde9p-2,  0x1.0be729d6bp-1,   0x1.307d7389ab8p-1, 0x1.52a2d3738c8p-1};

    template <class V, std::size_t N>
    static void Poly(const typename V::D* r, const typename V::D* r2, const typename V::D* c,
                     typename V::D* out) {
        typename V::D p01[N], p23[N], p45[N], p67[N], p89[N], r4[N];
        for (std::size_t n = 0; n < N; ++n) {
            p01[n] = V::Fma(r[n], V::Set1(0x1.5555555555555p-2), V::Set1(-0.5));
            p23[n] = V::Fma(r[n], V::Set1(0x1.99999999962abp-3), V::Set1(-0x1.fffffffffc47fp-3));
            p45[n] = V::Fma(r[n], V::Set1(0x1.249249583c6e4p-3), V::Set1(-0x1.5555558d4ca0fp-3));
            p67[n] = V::Fma(r[n], V::Set1(0x1.c71ace18f6814p-4), V::Set1(-0x1.fffe39603fe0cp-4));
            p89[n] = V::Fma(r[n], V::Set1(0x1.76d3e6c322184p-4), V::Set1(-0x1.9c44f1b68465fp-4));
        }
        for (std::size_t n = 0; n < N; ++n) {
            r4[n] = V::Mul(r2[n], r2[n]);
            p01[n] = V::Fma(r2[n], p23[n], p01[n]);
            p45[n] = V::Fma(r2[n], p67[n], p45[n]);
        }
        for (std::size_t n = 0; n < N; ++n)
            p01[n] = V::Fma(V::Mul(r4[n], r4[n]), p89[n], V::Fma(r4[n], p45[n], p01[n]));
        for (std::size_t n = 0; n < N; ++n) out[n] = V::Fma(r2[n], p01[n], c[n]);
    }
};

// The two table columns in the form V looks them up from; loaded once per tile.
template <class V>
struct LogTables {
    using T = typename V::LogTable;
    typename V::Table invC = V::LoadTable(T::kInvC);
    typename V::Table logC = V::LoadTable(T::kLogC);
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

// What a caller knows of the logarithm's arguments. kAny: nothing. kTable:
// finite and at least 8, so the range is not tested. kOneBinade: that, and
// all have the same binary exponent k and all logarithms lie inside one
// binade, so k, the table heads k kLn2Hi + L and the rounding test's limit
// are constants, and the table's invC can be scaled by 2^-k to take x itself.
enum class ArgRange { kAny, kTable, kOneBinade };

// The constants of kOneBinade.
template <class V>
struct BinadeConstants {
    typename V::Table invC, hi;  // per table entry: invC 2^-k, k kLn2Hi + L (exact)
    typename V::D klo, limit;    // k kLn2Lo, the rounding test's limit
};

// log(x) for the lanes it can round with certainty; the lanes left to
// std::log are returned in `fromStd`, their values undefined. kAbsolute: the
// logarithm of |x| is wanted (the exponent and mantissa instructions ignore
// the sign; the other levels must be given |x|). Outside kAny, x >= 0.
template <class V, bool kAbsolute = false, ArgRange kRange = ArgRange::kAny, std::size_t N = 1>
inline void LogOrDefer(const typename V::D* x, typename V::D* y, unsigned* fromStd,
                       const LogTables<V>& tables, const BinadeConstants<V>* binade = nullptr) {
    // N vectors in lock step, one step of each in turn: what a step needs was
    // issued a step earlier, so few operations wait in the processor's
    // queues for their operands.
    using D = typename V::D;
    using T = typename V::LogTable;
    typename V::I index[N];
    D k[N], r[N], hi[N], klo[N], r2[N], tail[N], s[N], yl[N], limit[N];
    for (std::size_t n = 0; n < N; ++n) index[n] = V::template Shr<T::kShift>(V::Bits(x[n]));
    if constexpr (kRange == ArgRange::kOneBinade) {
        // x invC 2^-k = m invC: the same r, rounded once.
        for (std::size_t n = 0; n < N; ++n)
            r[n] = V::Fma(x[n], V::Lookup(binade->invC, index[n]), V::Set1(-1.0));
        for (std::size_t n = 0; n < N; ++n) {
            hi[n] = V::Lookup(binade->hi, index[n]);
            klo[n] = binade->klo;
        }
    } else {
        D m[N];
        for (std::size_t n = 0; n < N; ++n) {
            if constexpr (V::kHasExponentOps) {
                k[n] = V::Exponent(x[n]);
                m[n] = V::Mantissa(x[n]);
            } else {
                const auto bits = V::Bits(x[n]);
                k[n] = V::Sub(V::FromBits(V::Or64(V::Shr52(bits), V::Set64(kTwoTo52Bits))),
                              V::Set1(kTwoTo52 + 1023.0));
                m[n] = V::FromBits(
                    V::Or64(V::And64(bits, V::Set64(kMantissaMask)), V::Set64(kOneBits)));
            }
        }
        for (std::size_t n = 0; n < N; ++n)
            r[n] = V::Fma(m[n], V::Lookup(tables.invC, index[n]), V::Set1(-1.0));
        for (std::size_t n = 0; n < N; ++n) {
            hi[n] = V::Fma(k[n], V::Set1(kLn2Hi), V::Lookup(tables.logC, index[n]));  // exact
            klo[n] = V::Mul(k[n], V::Set1(kLn2Lo));
        }
    }
    for (std::size_t n = 0; n < N; ++n) r2[n] = V::Mul(r[n], r[n]);
    T::template Poly<V, N>(r, r2, klo, tail);
    for (std::size_t n = 0; n < N; ++n) s[n] = V::Add(r[n], tail[n]);
    for (std::size_t n = 0; n < N; ++n) y[n] = V::Add(hi[n], s[n]);
    for (std::size_t n = 0; n < N; ++n) yl[n] = V::Sub(hi[n], y[n]);
    for (std::size_t n = 0; n < N; ++n) yl[n] = V::Add(yl[n], s[n]);  // y + yl = hi + s exactly
    for (std::size_t n = 0; n < N; ++n) {
        if constexpr (kRange == ArgRange::kOneBinade) {
            limit[n] = binade->limit;
        } else {
            // Half an ulp of y is 2^-53 times y with its mantissa cleared. It
            // is taken from hi - T::kSpan instead, never above y (|s| <
            // T::kSpan), so that it is ready before y: no worse than y's own
            // but at the bottom of a binade, and there it is the finer
            // spacing below a power of two that counts anyway.
            const D floor = V::FromBits(
                V::And64(V::Bits(V::Sub(hi[n], V::Set1(T::kSpan))), V::Set64(kExponentMask)));
            limit[n] = V::Fma(floor, V::Set1(0x1p-53 * kNearMidpoint), V::Set1(-T::kError));
        }
    }
    for (std::size_t n = 0; n < N; ++n) {
        auto keep = V::Lt(V::Abs(yl[n]), limit[n]);
        if constexpr (kRange == ArgRange::kAny) {
            // Ordered compares: NaN fails. Infinity fails through yl (NaN)
            // where the exponent comes from its instruction, through k
            // elsewhere.
            if constexpr (V::kHasExponentOps)
                keep = V::And(
                    V::Ge(kAbsolute ? k[n] : x[n], V::Set1(kAbsolute ? 3.0 : kTableBottom)), keep);
            else
                keep = V::And(
                    V::And(V::Ge(x[n], V::Set1(kTableBottom)), V::Lt(k[n], V::Set1(1024.0))), keep);
        }
        fromStd[n] = ~V::MaskBits(keep) & ((1u << V::kLanes) - 1u);
    }
}

// The index of the lowest set bit of x != 0.
inline unsigned LowestBit(std::uint64_t x) {
#if defined(__GNUC__) || defined(__clang__)
    return static_cast<unsigned>(__builtin_ctzll(x));
#else
    unsigned n = 0;
    for (; (x & 1u) == 0; x >>= 1) ++n;
    return n;
#endif
}

// The binary exponent of a positive normal double, and 2^e as a double.
inline int Exponent(double x) {
    std::uint64_t u;
    std::memcpy(&u, &x, sizeof u);
    return static_cast<int>(u >> 52) - 1023;
}
inline double PowerOfTwo(int e) {
    const std::uint64_t u = static_cast<std::uint64_t>(e + 1023) << 52;
    double x;
    std::memcpy(&x, &u, sizeof x);
    return x;
}

// The constants of kOneBinade for arguments in [lo, hi], 8 <= lo <= hi, if
// there they hold. Called per half tile, so it avoids library calls where it
// can.
template <class V>
bool OneBinade(double lo, double hi, BinadeConstants<V>& out) {
    using T = typename V::LogTable;
    constexpr std::size_t kEntries = sizeof T::kInvC / sizeof T::kInvC[0];
    const int k = Exponent(lo);
    // Up to 2^1000 the scaled invC stays a normal number.
    if (Exponent(hi) != k || k > 1000) return false;
    // Every lane's y is within an ulp (2^-43 at most) of log(x) in
    // [k ln2, (k + 1) ln2), and std::log within an ulp of it: 2^-40 leaves
    // room, and keeps y off the power of two itself. Only where a power of
    // two falls in that range are the logarithms of lo and hi needed.
    int e = Exponent(k * 0.6931471805599453 - 0x1p-40);
    if (Exponent((k + 1) * 0.6931471805599453 + 0x1p-40) != e) {
        e = Exponent(std::log(lo) - 0x1p-40);
        if (Exponent(std::log(hi) + 0x1p-40) != e) return false;
    }
    const double dk = k, scale = PowerOfTwo(-k);
    alignas(64) double invC[kEntries], heads[kEntries];
    for (std::size_t j = 0; j < kEntries; ++j) {
        invC[j] = T::kInvC[j] * scale;
        heads[j] = dk * kLn2Hi + T::kLogC[j];
    }
    out.invC = V::LoadTable(invC);
    out.hi = V::LoadTable(heads);
    out.klo = V::Set1(dk * kLn2Lo);
    out.limit = V::Set1(PowerOfTwo(e - 53) * kNearMidpoint - T::kError);
    return true;
}

template <class V>
inline typename V::D Log(typename V::D x) {
    unsigned fromStd;
    const LogTables<V> tables;
    typename V::D y;
    LogOrDefer<V>(&x, &y, &fromStd, tables);
    return fromStd == 0 ? y : WithStdLog<V>(x, y, fromStd);
}

// The logarithm FillTile applies, of |x|: the table logarithm with its
// deferred lanes, or (levels without fused multiply-add) std::log, none
// deferred.
template <class V, bool = V::kTableLog>
struct TileLog {
    static typename V::D Arg(typename V::D x) { return V::kHasExponentOps ? x : V::Abs(x); }
    LogTables<V> tables;
    template <ArgRange kRange, std::size_t N>
    void Of(const typename V::D* x, typename V::D* y, unsigned* fromStd,
            const BinadeConstants<V>* binade) const {
        LogOrDefer<V, true, kRange, N>(x, y, fromStd, tables, binade);
    }
};
template <class V>
struct TileLog<V, false> {
    static typename V::D Arg(typename V::D x) { return V::Abs(x); }
    template <ArgRange, std::size_t N>
    void Of(const typename V::D* x, typename V::D* y, unsigned* fromStd, const void*) const {
        for (std::size_t n = 0; n < N; ++n) {
            y[n] = V::Log(x[n]);
            fromStd[n] = 0;
        }
    }
};

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

// How one half of a tile forms its arguments: |w_b + w_a|, |w_a - w_b|, or,
// where the blocks are known apart, w_b - w_a (w_b >= w_a) or w_a - w_b.
enum class ArgForm { kSum, kDifference, kPointAbove, kPointBelow };

// One half of a tile: row b holds the logarithms at point b (of block b) for
// the samples a (of block a) in turn. The vector loop only records which
// lanes it left to std::log, one byte of lane bits per vector; a branch there
// would mispredict on about one vector in twenty and throw away a
// logarithm's worth of work in flight each time. Returns the lane bits or-ed.

template <class V, ArgForm kForm, ArgRange kRange>
unsigned FillHalf(const double* wa, const double* wb, const TileLog<V>& log,
                  const BinadeConstants<V>* binade, double* tile, unsigned char* deferred) {
    using D = typename V::D;
    constexpr std::size_t N = V::kLockstep;
    static_assert(kTile % (N * V::kLanes) == 0, "lock-step vectors must tile a row");
    unsigned any = 0;
    std::size_t v = 0;
    for (std::size_t b = 0; b < kTile; ++b) {
        const D point = V::Set1(wb[b]);
        for (std::size_t a = 0; a < kTile; a += N * V::kLanes, v += N) {
            D x[N], y[N];
            unsigned lanes[N];
            for (std::size_t n = 0; n < N; ++n) {
                const D samples = V::Load(wa + a + n * V::kLanes);
                if constexpr (kForm == ArgForm::kSum)
                    x[n] = V::Add(point, samples);
                else if constexpr (kForm == ArgForm::kPointAbove)
                    x[n] = V::Sub(point, samples);  // = -(w_a - w_b) exactly
                else
                    x[n] = V::Sub(samples, point);
                // Outside kAny the arguments are known to be >= 0.
                if constexpr (kRange == ArgRange::kAny) x[n] = log.Arg(x[n]);
            }
            log.template Of<kRange, N>(x, y, lanes, binade);
            for (std::size_t n = 0; n < N; ++n) {
                V::Store(tile + (v + n) * V::kLanes, y[n]);
                deferred[v + n] = static_cast<unsigned char>(lanes[n]);
                any |= lanes[n];
            }
        }
    }
    return any;
}

// Bounds on one half's arguments from the blocks' ranges, where the blocks
// are finite and non-negative (and, for differences, apart); `form` says how
// to form them. Rounding is monotonic, so the bounds hold for the rounded
// sums and differences too.
inline bool ArgumentBounds(const BlockRange& A, const BlockRange& B, bool sum, double& lo,
                           double& hi, ArgForm& form) {
    if (!(A.lo >= 0.0 && B.lo >= 0.0 && A.hi + B.hi <= std::numeric_limits<double>::max()))
        return false;
    if (sum) {
        lo = A.lo + B.lo;
        hi = A.hi + B.hi;
        form = ArgForm::kSum;
    } else if (B.lo >= A.hi) {
        lo = B.lo - A.hi;
        hi = B.hi - A.lo;
        form = ArgForm::kPointAbove;
    } else if (A.lo >= B.hi) {
        lo = A.lo - B.hi;
        hi = A.hi - B.lo;
        form = ArgForm::kPointBelow;
    } else {
        return false;
    }
    return true;
}

template <class V, ArgForm kForm>
unsigned FillKnownHalf(const double* wa, const double* wb, const TileLog<V>& log, double lo,
                       double hi, double* tile, unsigned char* deferred) {
    BinadeConstants<V> binade;
    if (OneBinade<V>(lo, hi, binade))
        return FillHalf<V, kForm, ArgRange::kOneBinade>(wa, wb, log, &binade, tile, deferred);
    return FillHalf<V, kForm, ArgRange::kTable>(wa, wb, log, nullptr, tile, deferred);
}

// The half of the sums (kSum) or of the differences, with what the blocks'
// ranges tell of their arguments.
template <class V, bool kSum>
unsigned FillHalfOf(const LaneWork& work, std::size_t a, std::size_t b, const TileLog<V>& log,
                    double* tile, unsigned char* deferred) {
    const double* const wa = work.samples + a * kTile;
    const double* const wb = work.samples + b * kTile;
    if constexpr (V::kTableLog) {
        double lo, hi;
        ArgForm form;
        if (ArgumentBounds(work.blocks[a], work.blocks[b], kSum, lo, hi, form) &&
            lo >= kTableBottom) {
            if (form == ArgForm::kSum)
                return FillKnownHalf<V, ArgForm::kSum>(wa, wb, log, lo, hi, tile, deferred);
            if (form == ArgForm::kPointAbove)
                return FillKnownHalf<V, ArgForm::kPointAbove>(wa, wb, log, lo, hi, tile, deferred);
            return FillKnownHalf<V, ArgForm::kPointBelow>(wa, wb, log, lo, hi, tile, deferred);
        }
    }
    constexpr ArgForm kForm = kSum ? ArgForm::kSum : ArgForm::kDifference;
    return FillHalf<V, kForm, ArgRange::kAny>(wa, wb, log, nullptr, tile, deferred);
}

// The tile of blocks a (samples) and b (points): ln|w_b + w_a| in lpTile and
// ln|w_a - w_b| in lmTile, right after it; the lanes the vector loop left to
// std::log are done after it.
template <class V>
void FillTile(const LaneWork& work, std::size_t a, std::size_t b, double* lpTile) {
    constexpr std::size_t kArea = kTile * kTile;
    constexpr std::size_t kVectors = 2 * kArea / V::kLanes;
    unsigned char* const deferred = work.deferred;
    const TileLog<V> log;
    const unsigned any = FillHalfOf<V, true>(work, a, b, log, lpTile, deferred) |
                         FillHalfOf<V, false>(work, a, b, log, lpTile + kArea, deferred + kVectors / 2);
    if (any == 0) return;
    const double* const wa = work.samples + a * kTile;
    const double* const wb = work.samples + b * kTile;
    // Bit i of word w is lane i % 8 of vector 8 w + i / 8. A word holds a
    // deferred lane about once in three and rarely two, so the words are
    // listed first and the first lane of each is taken without a test: few
    // mispredicted branches. The arguments are gathered first and std::log
    // runs on them in a loop of its own, where the calls overlap.
    constexpr std::size_t kWords = kVectors / 8;
    std::uint64_t words[kWords], listed[(kWords + 63) / 64] = {};
    for (std::size_t w = 0; w < kWords; ++w) {
        std::memcpy(&words[w], deferred + 8 * w, sizeof words[w]);
        listed[w / 64] |= static_cast<std::uint64_t>(words[w] != 0) << (w % 64);
    }
    double* const args = work.deferredArgs;
    std::uint16_t* const where = work.deferredAt;
    std::size_t count = 0;
    for (std::size_t chunk = 0; chunk < (kWords + 63) / 64; ++chunk)
        for (std::uint64_t list = listed[chunk]; list != 0; list &= list - 1) {
            const std::size_t w = 64 * chunk + LowestBit(list);
            std::uint64_t bits = words[w];
            do {
                const unsigned i = LowestBit(bits);
                const std::size_t at = (8 * w + i / 8) * V::kLanes + i % 8;
                const std::size_t row = (at / kTile) % kTile, column = at % kTile;
                args[count] = at < kArea ? wb[row] + wa[column] : wa[column] - wb[row];
                where[count++] = static_cast<std::uint16_t>(at);
                bits &= bits - 1;
            } while (bits != 0);
        }
    for (std::size_t i = 0; i < count; ++i) args[i] = StdLogOutOfLine(std::fabs(args[i]));
    for (std::size_t i = 0; i < count; ++i) lpTile[where[i]] = args[i];
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
            FillTile<V>(work, a, b, lp);
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
