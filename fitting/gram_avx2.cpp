// The Gram kernel on AVX2, four doubles per vector. Built with -mavx2 and
// called only where the processor reports it.
#define POLERAT_GRAM_LANES 4
#include "fitting/gram_kernel.h"

namespace polerat::detail {
void GramKernelAvx2(const double* m, long rows, long cols, long ld, double* g, long ldg) {
    GramKernel(m, rows, cols, ld, g, ldg);
}
}  // namespace polerat::detail
