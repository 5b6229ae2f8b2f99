// The Gram matrix of tall row blocks, and the choice of instruction set for it.
#include "fitting/engine.h"

#if defined(__GNUC__)
#define POLERAT_GRAM_LANES 2
#include "fitting/gram_kernel.h"
#endif

namespace polerat::detail {

#if defined(POLERAT_GRAM_X86)
void GramKernelAvx2(const double* m, long rows, long cols, long ld, double* g, long ldg);
void GramKernelAvx512(const double* m, long rows, long cols, long ld, double* g, long ldg);
#endif

namespace {

// The definition every vector kernel reproduces bit for bit: each entry is
// its products summed over the rows in order, then added to g.
void GramPlain(const double* m, long rows, long cols, long ld, double* g, long ldg) {
    for (long j = 0; j < cols; ++j)
        for (long k = j; k < cols; ++k) {
            double s = 0.0;
            for (long i = 0; i < rows; ++i) s += m[i * ld + j] * m[i * ld + k];
            g[j * ldg + k] += s;
        }
}

bool CpuHas(GramIsa isa) {
    switch (isa) {
        case GramIsa::kPlain:
        case GramIsa::kBaseline:
            return true;
#if defined(POLERAT_GRAM_X86)
        case GramIsa::kAvx2:
            __builtin_cpu_init();
            return __builtin_cpu_supports("avx2");
        case GramIsa::kAvx512:
            __builtin_cpu_init();
            return __builtin_cpu_supports("avx512f");
#else
        case GramIsa::kAvx2:
        case GramIsa::kAvx512:
            return false;
#endif
    }
    return false;
}

GramIsa Widest() {
    if (CpuHas(GramIsa::kAvx512)) return GramIsa::kAvx512;
    if (CpuHas(GramIsa::kAvx2)) return GramIsa::kAvx2;
    return GramIsa::kBaseline;
}

}  // namespace

bool GramIsaAvailable(GramIsa isa) { return CpuHas(isa); }

GramIsa BestGramIsa() {
    static const GramIsa best = Widest();
    return best;
}

void AddGram(const GramRows& m, Eigen::Index rows, Eigen::Index cols, Eigen::MatrixXd& g, GramIsa isa) {
    const long ld = static_cast<long>(m.cols());
    const double* data = m.data();
    double* out = g.data();
    const long ldg = static_cast<long>(g.rows());
    switch (isa) {
#if defined(POLERAT_GRAM_X86)
        case GramIsa::kAvx512:
            if (CpuHas(isa)) return GramKernelAvx512(data, rows, cols, ld, out, ldg);
            break;
        case GramIsa::kAvx2:
            if (CpuHas(isa)) return GramKernelAvx2(data, rows, cols, ld, out, ldg);
            break;
#endif
        case GramIsa::kBaseline:
#if defined(__GNUC__)
            return GramKernel(data, rows, cols, ld, out, ldg);
#else
            break;
#endif
        default:
            break;
    }
    GramPlain(data, rows, cols, ld, out, ldg);
}

}  // namespace polerat::detail
