// Kernels of the Kramers-Kronig reconstruction: the loss segments, the causal
// Dk, and the fast kernel's preparation of its inputs and choice of
// instruction set. The sweep itself is in hilbert_sweep.h, built per level in
// hilbert_scalar.cpp, hilbert_sse2.cpp, hilbert_avx2.cpp, hilbert_avx512.cpp.
#include "modeler/hilbert_kernels.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <stdexcept>

#include "modeler/hilbert_sweep.h"

namespace matmodel::detail {
namespace {

constexpr double kTopExtension = 10.0;  // the loss returns to zero a decade above the band

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
    // tile's arguments (see ArgRange in hilbert_log.h).
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
        HilbertLanesScalar(work, out.data());
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
        for (std::size_t i = 0; i < n; ++i) y[i] = std::log(x[i]);
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
