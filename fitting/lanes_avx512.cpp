// The lane kernels on AVX-512, 8 doubles per vector. Built with -mavx512f and
// called only where the processor reports it.
#define POLERAT_LANES 8
#include "fitting/lane_kernels.h"

namespace polerat::detail {
void GramKernelAvx512(const double* m, long rows, long cols, long ld, double* g, long ldg) {
    GramKernel(m, rows, cols, ld, g, ldg);
}
void PoleSumsAvx512(const PoleSums& p) { PoleSumsKernel(p); }
void ResponseAvx512(const double* w, long m, const double* a, const double* x, long poles, double d, double* re,
                   double* im) {
    ResponseKernel(w, m, a, x, poles, d, re, im);
}
void RelocationRowsAvx512(const RelocationBlock& p) { RelocationRowsKernel(p); }
void SecularAvx512(const SecularSums& p) { SecularKernel(p); }
bool FactorLowerAvx512(double* a, long n, long ld) { return FactorLowerKernel(a, n, ld); }
void AberthTermsAvx512(const AberthTerms& p) { AberthTermsKernel(p); }
void PoleProductsAvx512(const double* x, const double* u, const double* v, long m, const double* sq, long poles,
                     double* su, double* sv) {
    PoleProductsKernel(x, u, v, m, sq, poles, su, sv);
}
}  // namespace polerat::detail
