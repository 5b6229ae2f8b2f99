// The Gram kernel's body, compiled once per instruction set (gram.cpp,
// gram_avx2.cpp, gram_avx512.cpp) with POLERAT_GRAM_LANES doubles per vector.
//
// Every entry is summed over the rows in order, one product at a time: the
// vector lanes hold different columns, never different rows, so every width
// adds the same terms in the same order and gives the same bits. Products are
// not fused into the additions (these sources are built without contraction).
//
// Only plain loops and compiler builtins live here: a library function
// instantiated under a wider instruction set could be merged by the linker
// with the baseline's copy and run where that instruction set is missing.
#ifndef MATMODEL_FITTING_GRAM_KERNEL_H
#define MATMODEL_FITTING_GRAM_KERNEL_H

#ifndef POLERAT_GRAM_LANES
#error "define POLERAT_GRAM_LANES before including gram_kernel.h"
#endif

namespace {

constexpr long kLanes = POLERAT_GRAM_LANES;
typedef double Lanes __attribute__((vector_size(POLERAT_GRAM_LANES * sizeof(double))));

inline Lanes LoadLanes(const double* p) {
    Lanes v;
    __builtin_memcpy(&v, p, sizeof v);
    return v;
}

// Lower triangle of g (column-major, leading dimension ldg) += sum over the
// rows of row' row, for `rows` rows of `cols` values at a stride of ld, a
// multiple of 2 kLanes (the values past `cols` are read, but feed only sums
// that are not stored). Four rows of g against two vectors of columns at a
// time, all in registers.
void GramKernel(const double* m, long rows, long cols, long ld, double* g, long ldg) {
    for (long k0 = 0; k0 < cols; k0 += 2 * kLanes) {
        const long jEnd = k0 + 2 * kLanes < cols ? k0 + 2 * kLanes : cols;
        for (long j0 = 0; j0 < jEnd; j0 += 4) {
            Lanes a0 = {}, a1 = {}, b0 = {}, b1 = {}, c0 = {}, c1 = {}, d0 = {}, d1 = {};
            const double* row = m;
            for (long i = 0; i < rows; ++i, row += ld) {
                const Lanes x0 = LoadLanes(row + k0), x1 = LoadLanes(row + k0 + kLanes);
                const double p = row[j0], q = row[j0 + 1], r = row[j0 + 2], s = row[j0 + 3];
                a0 += p * x0;
                a1 += p * x1;
                b0 += q * x0;
                b1 += q * x1;
                c0 += r * x0;
                c1 += r * x1;
                d0 += s * x0;
                d1 += s * x1;
            }
            const Lanes sums[4][2] = {{a0, a1}, {b0, b1}, {c0, c1}, {d0, d1}};
            for (long jj = 0; jj < 4 && j0 + jj < cols; ++jj)
                for (long kk = 0; kk < 2 * kLanes && k0 + kk < cols; ++kk)
                    if (k0 + kk >= j0 + jj) g[(j0 + jj) * ldg + k0 + kk] += sums[jj][kk / kLanes][kk % kLanes];
        }
    }
}

}  // namespace

#endif  // MATMODEL_FITTING_GRAM_KERNEL_H
