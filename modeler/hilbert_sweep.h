// The tiled sweep: the lane-parallel Hilbert kernel. Internal to the library.
//
// What it computes. For every sample k the sum of the direct loop (see
// hilbert_kernels.h), term by term: the same terms, from the same operands,
// added in the same order, so that with the same logarithms every sum has the
// same bits. The logarithms are std::log's bits at every level: std::log
// itself (scalar, SSE2) or the vector logarithm of hilbert_log.h (AVX2,
// AVX-512), which returns them on a C library whose log is within 0.5 + 2^-9
// ulp of the exact value, as glibc's is. All Hilbert sources are built with
// -ffp-contract=off, so that no multiply and add are fused behind our back.
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
// segment in the order of the direct loop. The two logarithms at a segment's
// end are carried over as those at the next segment's start.
//
// How it is compiled: like hilbert_log.h, once per instruction set, with
// internal linkage (see there). Each of hilbert_scalar.cpp, hilbert_sse2.cpp,
// hilbert_avx2.cpp and hilbert_avx512.cpp defines an "Ops" type V and
// instantiates HilbertLanes<V, U> in its entry point. What V provides for the
// sweep (hilbert_scalar.cpp is the simplest): D, a vector of kLanes doubles,
// with Set1, Load, Store, LaneIndex (0, 1, ... by lane), Add, Sub, Mul, Abs,
// Neg, Log (std::log's bits, lane by lane); M, its masks, from Ne, used by
// AddIf and SubIf (add or subtract where the mask is set); Transpose (of
// kLanes rows of kLanes); kLockstep, the vectors a logarithm step takes at
// once; kTableLog, whether the tiles use the table logarithm of hilbert_log.h
// (then V also provides what that needs).
#ifndef MATMODEL_MODELER_HILBERT_SWEEP_H
#define MATMODEL_MODELER_HILBERT_SWEEP_H

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>

#include "modeler/hilbert_log.h"

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

// One entry point per level, each in its own source file: r for every
// sample, r having room for work.padded values.
void HilbertLanesScalar(const LaneWork& work, double* r);
void HilbertLanesSse2(const LaneWork& work, double* r);
void HilbertLanesAvx2(const LaneWork& work, double* r);
void HilbertLanesAvx512(const LaneWork& work, double* r);

namespace {
namespace lanes {

constexpr double kInvPi = 0.3183098861837907;

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

}  // namespace lanes
}  // namespace
}  // namespace matmodel::detail

#endif  // MATMODEL_MODELER_HILBERT_SWEEP_H
