// The Gram kernel on AVX-512, eight doubles per vector. Built with -mavx512f
// and called only where the processor reports it.
#define POLERAT_GRAM_LANES 8
#include "fitting/gram_kernel.h"

namespace polerat::detail {
void GramKernelAvx512(const double* m, long rows, long cols, long ld, double* g, long ldg) {
    GramKernel(m, rows, cols, ld, g, ldg);
}
}  // namespace polerat::detail
