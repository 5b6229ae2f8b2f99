// The natural logarithm of the Hilbert kernel's vector levels: std::log's own
// bits, computed in vector lanes. Internal to the library; the tiled sweep
// (hilbert_sweep.h) is its user.
//
// Why std::log's bits. The fast kernel must give the sums of the direct loop
// bit for bit (see hilbert_kernels.h), and the sums amplify a change of one
// bit in a logarithm by up to the ratio of the band's edges (rough loss curves
// on dense grids lose nine digits to cancellation), so a logarithm that agreed
// with std::log "to the last bit or so" would not give the same sums. This one
// computes log(x) with an error bound far below half an ulp, keeps the rounded
// result where the exact value is clearly away from the midpoint between two
// doubles (there the correctly rounded result is the only one std::log can
// return), and leaves the rest to std::log: about one lane in 140, plus zero,
// negatives, infinity, NaN, subnormals and x below 8.
//
// What it assumes of the C library: std::log within 0.5 + 2^-9 units in the
// last place (ulp) of the exact value for x >= 8. glibc's is, and the tests
// check it on arguments whose logarithms lie near rounding midpoints. On a
// library that is not, a lane may differ from std::log in its last bit, and
// the vector levels from the direct loop; the scalar and SSE2 levels call
// std::log and assume nothing.
//
// How. For x = 2^k m, m in [1, 2), the top bits of m pick one of 2^b equal
// parts of [1, 2) and, from a table, a number invC close to the reciprocal of
// the part's middle:
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
//
// How it is compiled. The code is written once over a small set of vector
// operations, an "Ops" type V, and compiled once per instruction set: each of
// hilbert_sse2.cpp, hilbert_avx2.cpp, hilbert_avx512.cpp (and, for the sweep,
// hilbert_scalar.cpp) defines its V and includes this file. Everything below
// the entry-point declarations has internal linkage on purpose: each source
// gets its own copy built for its own instruction set, so no inline function
// compiled for a wide machine can be picked by the linker for code that runs
// on a narrower one.
//
// What V provides for the table logarithm (hilbert_avx2.cpp is an example):
// D, a vector of kLanes doubles, with Set1, Load, Store, Add, Sub, Mul, Fma,
// Abs; M, its masks, from Lt and Ge, joined by And, read by MaskBits as lane
// bits; I, 64-bit integer lanes, with Bits and FromBits (reinterpretation),
// Set64, And64 and Shr<n>; LogTable (Table8 or Table16 below), Table,
// LoadTable (a column of it in registers) and Lookup (the entry each lane's
// index picks); kHasExponentOps: if true, Exponent and Mantissa give k and m
// of a positive normal x, else they are taken from its bits with Or64 and
// Shr52.
#ifndef MATMODEL_MODELER_HILBERT_LOG_H
#define MATMODEL_MODELER_HILBERT_LOG_H

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace matmodel::detail {

// The logarithm of n values through the vector code of one instruction set,
// each in its own source file (for KernelLog).
void LogLanesSse2(const double* x, std::size_t n, double* y);
void LogLanesAvx2(const double* x, std::size_t n, double* y);
void LogLanesAvx512(const double* x, std::size_t n, double* y);
// std::log, compiled for the baseline target (the vector levels' deferred lanes).
double StdLogOutOfLine(double x);

namespace {
namespace lanes {

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

// log(x) for each lane of x: std::log's bits, the rounding test's failures
// done by std::log.
template <class V>
inline typename V::D Log(typename V::D x) {
    unsigned fromStd;
    const LogTables<V> tables;
    typename V::D y;
    LogOrDefer<V>(&x, &y, &fromStd, tables);
    return fromStd == 0 ? y : WithStdLog<V>(x, y, fromStd);
}

// log(x) for each lane of x, std::log's bits; n values from x to y.
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

#endif  // MATMODEL_MODELER_HILBERT_LOG_H
