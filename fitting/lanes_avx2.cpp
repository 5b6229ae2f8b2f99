// The lane kernels on AVX2, 4 doubles per vector. Built with -mavx2 and
// called only where the processor reports it.
#define POLERAT_LANES 4
#include "fitting/lane_kernels.h"

namespace polerat::detail {
void GramKernelAvx2(const double* m, long rows, long cols, long ld, double* g, long ldg) {
    GramKernel(m, rows, cols, ld, g, ldg);
}
void PoleSumsAvx2(const PoleSums& p) { PoleSumsKernel(p); }
void ResponseAvx2(const double* w, long m, const double* a, const double* x, long poles, double d, double* re,
                   double* im) {
    ResponseKernel(w, m, a, x, poles, d, re, im);
}
void RelocationRowsAvx2(const RelocationBlock& p) { RelocationRowsKernel(p); }
void SecularAvx2(const SecularSums& p) { SecularKernel(p); }
bool FactorLowerAvx2(double* a, long n, long ld) { return FactorLowerKernel(a, n, ld); }
void AberthTermsAvx2(const AberthTerms& p) { AberthTermsKernel(p); }
void PoleProductsAvx2(const double* x, const double* u, const double* v, long m, const double* sq, long poles,
                     double* su, double* sv) {
    PoleProductsKernel(x, u, v, m, sq, poles, su, sv);
}
}  // namespace polerat::detail
