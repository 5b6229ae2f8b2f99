// Kernels of the Kramers-Kronig reconstruction: the direct double loop, the
// portable one-sample-at-a-time form of the fast kernel, and the choice of
// instruction set for the vector forms.
#include "modeler/hilbert_kernels.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <type_traits>

#include "modeler/hilbert_lanes.h"

namespace matmodel::detail {
namespace {

constexpr double kInvPi = 0.3183098861837907;
constexpr double kTopExtension = 10.0;  // the loss returns to zero a decade above the band

// Which logarithm the one-lane operations use: std::log, or the vector
// kernels' (with std::fma for the fused multiply-add) on a table.
enum class ScalarLog { kStd, kTable16, kTable8 };

// The lane operations on one double at a time. With std::log this is the
// portable fast kernel; with a vector logarithm it is that logarithm's
// reference, computed with the same operations in the same order.
template <ScalarLog kLog>
struct Scalar {
    using D = double;
    using M = bool;
    using I = std::uint64_t;
    static constexpr std::size_t kLanes = 1;
    static constexpr std::size_t kLockstep = 1;  // vectors a logarithm step takes at once
    static constexpr bool kHasExponentOps = false;
    static constexpr bool kTableLog = kLog != ScalarLog::kStd;

    static D Set1(double a) { return a; }
    static D Load(const double* p) { return *p; }
    static void Store(double* p, D a) { *p = a; }
    static D LaneIndex() { return 0.0; }
    static D Add(D a, D b) { return a + b; }
    static D Sub(D a, D b) { return a - b; }
    static D Mul(D a, D b) { return a * b; }
    static D Fma(D a, D b, D c) { return std::fma(a, b, c); }

    static D Abs(D a) { return std::fabs(a); }
    static D Neg(D a) { return -a; }

    static M Ne(D a, D b) { return a != b; }
    static M Lt(D a, D b) { return a < b; }
    static M Ge(D a, D b) { return a >= b; }
    static M And(M a, M b) { return a && b; }
    static unsigned MaskBits(M m) { return m ? 1u : 0u; }
    static D AddIf(M m, D sum, D t) { return m ? sum + t : sum; }
    static D SubIf(M m, D sum, D t) { return m ? sum - t : sum; }

    static I Bits(D a) {
        I u;
        std::memcpy(&u, &a, sizeof u);
        return u;
    }
    static D FromBits(I u) {
        D a;
        std::memcpy(&a, &u, sizeof a);
        return a;
    }
    static I Set64(std::uint64_t a) { return a; }
    static I And64(I a, I b) { return a & b; }
    static I Or64(I a, I b) { return a | b; }
    static I Sub64(I a, I b) { return a - b; }
    static I Shr52(I a) { return a >> 52; }
    template <unsigned kBits>
    static I Shr(I a) { return a >> kBits; }
    using LogTable = std::conditional_t<kLog == ScalarLog::kTable8, lanes::Table8, lanes::Table16>;
    using Table = const double*;
    static Table LoadTable(const double* column) { return column; }
    static D Lookup(Table table, I index) {
        return table[index & (kLog == ScalarLog::kTable8 ? 7 : 15)];
    }
    static void Transpose(D*) {}

    static D Log(D x) {
        if constexpr (kLog == ScalarLog::kStd)
            return std::log(x);
        else
            return lanes::Log<Scalar>(x);
    }
};

template <double (*LogFn)(double)>
void PlainLoop(const LossSegments& s, std::vector<double>& r) {
    const std::size_t n = s.Size();
    const double* w = s.w.data();
    const double* p = s.p.data();
    const double* q = s.q.data();
    r.assign(n, 0.0);
    for (std::size_t k = 0; k < n; ++k) {
        const double wk = w[k];
        double sum = 0.0;
        for (std::size_t i = 0; i < n; ++i) {
            sum += (w[i + 1] - w[i]) * (p[i] * 2.0);
            // ln|w' + w| part; both ends are zero only for a first sample at 0 Hz,
            // where q[0] = 0 makes the term vanish in the limit.
            if (w[i] + wk != 0.0)
                sum += -((LogFn(std::fabs(w[i + 1] + wk)) - LogFn(std::fabs(wk + w[i]))) *
                         (p[i] * wk - q[i]));
            // ln|w' - w| part; the two infinite terms at w' = w cancel between
            // segments k-1 and k, so they are left out by index.
            const double v = p[i] * wk + q[i];
            if (i + 1 != k) sum += LogFn(std::fabs(wk - w[i + 1])) * v;
            if (i != k) sum += -(LogFn(std::fabs(wk - w[i])) * v);
        }
        r[k] = -(sum * kInvPi);
    }
}

double StdLog(double x) { return std::log(x); }
double Table16Log(double x) { return lanes::Log<Scalar<ScalarLog::kTable16>>(x); }
double Table8Log(double x) { return lanes::Log<Scalar<ScalarLog::kTable8>>(x); }

bool CpuHas(SimdLevel level) {
#if defined(MATMODEL_HILBERT_X86)
    __builtin_cpu_init();
    switch (level) {
    case SimdLevel::kScalar:
    case SimdLevel::kSse2:
        return true;
    case SimdLevel::kAvx2:
        return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    case SimdLevel::kAvx512:
        return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq") &&
               __builtin_cpu_supports("avx512vl");
    }
    return false;
#else
    return level == SimdLevel::kScalar;
#endif
}

void RequireAvailable(SimdLevel level) {
    if (!SimdLevelAvailable(level))
        throw std::invalid_argument("This instruction set is not available here.");
}

// Runs the lane kernel of `level` over padded copies of the inputs.
void RunLanes(const LossSegments& s, std::vector<double>& r, SimdLevel level) {
    const std::size_t n = s.Size();
    const std::size_t padded = (n + kTile - 1) / kTile * kTile;
    std::vector<double> segments(n * kSegmentStride), samples(padded, s.w[n - 1]),
        state(3 * padded, 0.0), tiles(4 * kTile * kTile), out(padded);
    for (std::size_t i = 0; i < n; ++i) {
        double* seg = &segments[i * kSegmentStride];
        seg[0] = (s.w[i + 1] - s.w[i]) * (s.p[i] * 2.0);  // as the direct loop forms it
        seg[1] = s.p[i];
        seg[2] = s.q[i];
        seg[3] = s.w[i];
        samples[i] = s.w[i];
    }
    // The test w[i] + w[k] != 0 of the direct loop can only fail where some
    // sample frequency is exactly -w[i] (both zero, in practice): find those
    // segments once instead of testing every pair.
    std::vector<double> finite;
    finite.reserve(n);
    for (std::size_t k = 0; k < n; ++k)
        if (std::isfinite(s.w[k])) finite.push_back(s.w[k]);
    std::sort(finite.begin(), finite.end());
    std::vector<unsigned char> zeroSum(n, 0);
    for (std::size_t i = 0; i < n; ++i)
        zeroSum[i] = std::isfinite(s.w[i]) &&
                     std::binary_search(finite.begin(), finite.end(), -s.w[i]);

    std::vector<unsigned char> deferred(2 * kTile * kTile);
    std::vector<double> deferredArgs(2 * kTile * kTile);
    std::vector<std::uint16_t> deferredAt(2 * kTile * kTile);
    // Each block's range of samples tells the kernel what it may assume of a
    // tile's arguments (see ArgRange in hilbert_lanes.h).
    std::vector<BlockRange> blocks(padded / kTile);
    for (std::size_t b = 0; b < blocks.size(); ++b) {
        const double* first = &samples[b * kTile];
        BlockRange range{first[0], first[0]};
        for (std::size_t i = 1; i < kTile && !std::isnan(range.lo); ++i)
            range = std::isnan(first[i]) ? BlockRange{first[i], first[i]}
                                         : BlockRange{std::min(range.lo, first[i]),
                                                      std::max(range.hi, first[i])};
        blocks[b] = range;
    }
    const LaneWork work{s.w.data(),      segments.data(),     zeroSum.data(),
                        samples.data(),  n,                   padded,
                        state.data(),    tiles.data(),        deferred.data(),
                        deferredArgs.data(), deferredAt.data(), blocks.data()};
    switch (level) {
    case SimdLevel::kScalar:
        lanes::HilbertLanes<Scalar<ScalarLog::kStd>, 4>(work, out.data());
        break;
#if defined(MATMODEL_HILBERT_X86)
    case SimdLevel::kSse2:
        HilbertLanesSse2(work, out.data());
        break;
    case SimdLevel::kAvx2:
        HilbertLanesAvx2(work, out.data());
        break;
    case SimdLevel::kAvx512:
        HilbertLanesAvx512(work, out.data());
        break;
#endif
    default:
        RequireAvailable(level);
    }
    out.resize(n);
    r.swap(out);
}

}  // namespace

double StdLogOutOfLine(double x) { return std::log(x); }

void BuildLossSegments(const double* freq, const double* dk, const double* df, std::size_t n,
                       double twoPi, LossSegments& out) {
    std::vector<double> w(n + 1), a(n + 1), p(n), q(n);
    if (n > 0) {
        for (std::size_t i = 0; i < n; ++i) {
            w[i] = freq[i] * twoPi;
            a[i] = -(dk[i] * df[i]);
        }
        w[n] = w[n - 1] * kTopExtension;
        a[n] = 0.0;
        a[0] = 0.0;
        for (std::size_t i = 0; i < n; ++i) {
            p[i] = (a[i + 1] - a[i]) / (w[i + 1] - w[i]);
            q[i] = a[i] - p[i] * w[i];
        }
    }
    out.w.swap(w);
    out.p.swap(p);
    out.q.swap(q);
}

SimdLevel BestSimdLevel() {
    static const SimdLevel best = [] {
        for (SimdLevel level : {SimdLevel::kAvx512, SimdLevel::kAvx2, SimdLevel::kSse2})
            if (SimdLevelAvailable(level)) return level;
        return SimdLevel::kScalar;
    }();
    return best;
}

bool SimdLevelAvailable(SimdLevel level) { return CpuHas(level); }

const char* SimdLevelName(SimdLevel level) {
    switch (level) {
    case SimdLevel::kScalar:
        return "scalar";
    case SimdLevel::kSse2:
        return "sse2";
    case SimdLevel::kAvx2:
        return "avx2";
    case SimdLevel::kAvx512:
        return "avx512";
    }
    return "unknown";
}

void HilbertPlain(const LossSegments& s, std::vector<double>& r) { PlainLoop<StdLog>(s, r); }

void HilbertPlainKernelLog(const LossSegments& s, std::vector<double>& r, SimdLevel level) {
    switch (level) {
    case SimdLevel::kScalar:
        PlainLoop<StdLog>(s, r);
        return;
    case SimdLevel::kSse2:
        PlainLoop<StdLog>(s, r);
        return;
    case SimdLevel::kAvx2:
        PlainLoop<Table8Log>(s, r);
        return;
    case SimdLevel::kAvx512:
        PlainLoop<Table16Log>(s, r);
        return;
    }
}

void HilbertFast(const LossSegments& s, std::vector<double>& r) {
    HilbertFast(s, r, BestSimdLevel());
}

void HilbertFast(const LossSegments& s, std::vector<double>& r, SimdLevel level) {
    RequireAvailable(level);
    if (s.Size() == 0) {
        r.clear();
        return;
    }
    RunLanes(s, r, level);
}

double KernelLogReference(double x, SimdLevel level) {
    switch (level) {
    case SimdLevel::kScalar:
        return StdLog(x);
    case SimdLevel::kSse2:
        return StdLog(x);
    case SimdLevel::kAvx2:
        return Table8Log(x);
    case SimdLevel::kAvx512:
        return Table16Log(x);
    }
    return StdLog(x);
}

void KernelLog(const double* x, std::size_t n, double* y, SimdLevel level) {
    RequireAvailable(level);
    switch (level) {
#if defined(MATMODEL_HILBERT_X86)
    case SimdLevel::kSse2:
        LogLanesSse2(x, n, y);
        return;
    case SimdLevel::kAvx2:
        LogLanesAvx2(x, n, y);
        return;
    case SimdLevel::kAvx512:
        LogLanesAvx512(x, n, y);
        return;
#endif
    default:
        for (std::size_t i = 0; i < n; ++i) y[i] = KernelLogReference(x[i], level);
    }
}

void CausalDk(const double* dk, const std::vector<double>& r, std::vector<double>& dkCausal) {
    const std::size_t n = r.size();
    // eps_inf: the mean offset between measured and integrated Dk, so that no
    // single sample anchors the curve.
    double offset = 0.0;
    for (std::size_t i = 0; i < n; ++i) offset += dk[i] - r[i];
    const double epsInf = offset / static_cast<double>(n);
    dkCausal.resize(n);
    for (std::size_t i = 0; i < n; ++i) dkCausal[i] = epsInf + r[i];
}

}  // namespace matmodel::detail
