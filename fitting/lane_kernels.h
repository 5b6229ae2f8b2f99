// The lane kernels' bodies (see lanes.h), compiled once per instruction set
// with POLERAT_LANES doubles per vector.
//
// Only plain loops and compiler builtins live here: a library function
// instantiated under a wider instruction set could be merged by the linker
// with the baseline's copy and run where that instruction set is missing.
#ifndef MATMODEL_FITTING_LANE_KERNELS_H
#define MATMODEL_FITTING_LANE_KERNELS_H

#ifndef POLERAT_LANES
#error "define POLERAT_LANES before including lane_kernels.h"
#endif

#include "fitting/lanes.h"

namespace {

using polerat::detail::AberthTerms;
using polerat::detail::PoleSums;
using polerat::detail::RelocationBlock;
using polerat::detail::SecularSums;

constexpr long kLanes = POLERAT_LANES;
typedef double Lanes __attribute__((vector_size(POLERAT_LANES * sizeof(double))));

inline Lanes LoadLanes(const double* p) {
    Lanes v;
    __builtin_memcpy(&v, p, sizeof v);
    return v;
}

inline void StoreLanes(double* p, Lanes v) { __builtin_memcpy(p, &v, sizeof v); }

inline void AddLanes(double* p, Lanes v) { StoreLanes(p, LoadLanes(p) + v); }

// The Gram kernel's two register blocks: four rows of g against two vectors
// of columns, or eight rows against one. Each entry sums over the rows in
// order, so the choice (by which wastes less on the triangle's edge) does
// not change the bits.
inline void AddBlock(const Lanes* sums, long vectors, long j0, long k0, long rowsOfG, long cols, double* g, long ldg) {
    for (long jj = 0; jj < rowsOfG && j0 + jj < cols; ++jj)
        for (long kk = 0; kk < vectors * kLanes && k0 + kk < cols; ++kk)
            if (k0 + kk >= j0 + jj) g[(j0 + jj) * ldg + k0 + kk] += sums[jj * vectors + kk / kLanes][kk % kLanes];
}

void GramFourByTwo(const double* m, long rows, long cols, long ld, double* g, long ldg) {
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
            const Lanes sums[8] = {a0, a1, b0, b1, c0, c1, d0, d1};
            AddBlock(sums, 2, j0, k0, 4, cols, g, ldg);
        }
    }
}

void GramEightByOne(const double* m, long rows, long cols, long ld, double* g, long ldg) {
    for (long k0 = 0; k0 < cols; k0 += kLanes) {
        const long jEnd = k0 + kLanes < cols ? k0 + kLanes : cols;
        for (long j0 = 0; j0 < jEnd; j0 += 8) {
            Lanes a0 = {}, a1 = {}, a2 = {}, a3 = {}, a4 = {}, a5 = {}, a6 = {}, a7 = {};
            const double* row = m;
            for (long i = 0; i < rows; ++i, row += ld) {
                const Lanes x = LoadLanes(row + k0);
                a0 += row[j0] * x;
                a1 += row[j0 + 1] * x;
                a2 += row[j0 + 2] * x;
                a3 += row[j0 + 3] * x;
                a4 += row[j0 + 4] * x;
                a5 += row[j0 + 5] * x;
                a6 += row[j0 + 6] * x;
                a7 += row[j0 + 7] * x;
            }
            const Lanes sums[8] = {a0, a1, a2, a3, a4, a5, a6, a7};
            AddBlock(sums, 1, j0, k0, 8, cols, g, ldg);
        }
    }
}

// Register blocks each form needs for `cols` columns. Per row a block costs
// sixteen vector operations and its loads: six (two vectors, four scalars)
// for four rows by two vectors, nine for eight by one; with AVX-512 the
// multiplication reads a scalar straight into all lanes, and eight by one
// needs only its vector's load.
inline long Blocks(long cols, long width, long height) {
    long count = 0;
    for (long k0 = 0; k0 < cols; k0 += width) {
        const long jEnd = k0 + width < cols ? k0 + width : cols;
        count += (jEnd + height - 1) / height;
    }
    return count;
}

// Columns [k0, k0 + KC) past the last whole vector: their entries against
// every column up to them, with those columns in the lanes and the KC
// columns' values broadcast. The blocks above would spend most of their
// lanes on columns past the end.
template <int KC>
void GramTailColumns(const double* m, long rows, long k0, long ld, double* g, long ldg) {
    for (long j0 = 0; j0 < k0 + KC; j0 += kLanes) {
        Lanes sums[KC] = {};
        const double* row = m;
        for (long i = 0; i < rows; ++i, row += ld) {
            const Lanes x = LoadLanes(row + j0);
            for (int c = 0; c < KC; ++c) sums[c] += x * row[k0 + c];
        }
        for (int c = 0; c < KC; ++c)
            for (long l = 0; l < kLanes && j0 + l <= k0 + c; ++l) g[(j0 + l) * ldg + k0 + c] += sums[c][l];
    }
}

void GramKernel(const double* m, long rows, long cols, long ld, double* g, long ldg) {
    const long whole = cols / kLanes * kLanes;
    constexpr long kEightByOne = kLanes == 8 ? 17 : 25, kFourByTwo = 22;
    if (kEightByOne * Blocks(whole, kLanes, 8) < kFourByTwo * Blocks(whole, 2 * kLanes, 4))
        GramEightByOne(m, rows, whole, ld, g, ldg);
    else
        GramFourByTwo(m, rows, whole, ld, g, ldg);
    for (long k0 = whole; k0 < cols; k0 += 4) {
        switch (cols - k0) {
            case 1: GramTailColumns<1>(m, rows, k0, ld, g, ldg); break;
            case 2: GramTailColumns<2>(m, rows, k0, ld, g, ldg); break;
            case 3: GramTailColumns<3>(m, rows, k0, ld, g, ldg); break;
            default: GramTailColumns<4>(m, rows, k0, ld, g, ldg); break;
        }
    }
}

// Poles and zeros in the lanes; the last ones a term at a time with the same
// operations.
void AberthTermsKernel(const AberthTerms& p) {
    long k = 0;
    for (; k + kLanes <= p.n; k += kLanes) {
        const Lanes dr = p.sr - LoadLanes(p.a + k);
        const Lanes m = 1.0 / (dr * dr + p.si * p.si);
        StoreLanes(p.ur + k, dr * m);
        StoreLanes(p.ui + k, -p.si * m);
        const Lanes er = p.sr - LoadLanes(p.zr + k), ei = p.si - LoadLanes(p.zi + k);
        const Lanes mm = 1.0 / (er * er + ei * ei);
        StoreLanes(p.vr + k, er * mm);
        StoreLanes(p.vi + k, -ei * mm);
    }
    for (; k < p.n; ++k) {
        const double dr = p.sr - p.a[k];
        const double m = 1.0 / (dr * dr + p.si * p.si);
        p.ur[k] = dr * m;
        p.ui[k] = -p.si * m;
        const double er = p.sr - p.zr[k], ei = p.si - p.zi[k];
        const double mm = 1.0 / (er * er + ei * ei);
        p.vr[k] = er * mm;
        p.vi[k] = -ei * mm;
    }
}

// Rows in the lanes, whole vectors down each column (past row n into the
// padding the caller provides); each entry gets the plain loop's operations
// in its order.
bool FactorLowerKernel(double* a, long n, long ld) {
    for (long j = 0; j < n; ++j) {
        double* cj = a + j * ld;
        if (!(cj[j] > 0.0)) return false;
        const double l = __builtin_sqrt(cj[j]), inverse = 1.0 / l;
        cj[j] = l;
        for (long i = j + 1; i < n; i += kLanes) StoreLanes(cj + i, LoadLanes(cj + i) * inverse);
        for (long k = j + 1; k < n; ++k) {
            const double f = cj[k];
            double* ck = a + k * ld;
            for (long i = k; i < n; i += kLanes) StoreLanes(ck + i, LoadLanes(ck + i) - LoadLanes(cj + i) * f);
        }
    }
    return true;
}

// Poles in the lanes, samples in order.
void PoleSumsKernel(const PoleSums& p) {
    for (long j = 0; j < p.poles; j += kLanes) {
        const Lanes sq = LoadLanes(p.sq + j);
        Lanes s = {}, t = {}, u = {}, dA = {}, dB = {}, hA = {}, hB = {};
        for (long i = 0; i < p.m; ++i) {
            const Lanes q = 1.0 / (sq + p.x[i]);
            const Lanes q2 = q * q;
            s += p.alpha[i] * q;
            t += p.betaX[i] * q;
            u += p.beta[i] * q;
            dA += p.alpha[i] * q2;
            dB += p.betaX[i] * q2;
            hA += p.alphaHr[i] * q;
            hB += p.betaHiW[i] * q;
        }
        AddLanes(p.s + j, s);
        AddLanes(p.t + j, t);
        AddLanes(p.u + j, u);
        AddLanes(p.dA + j, dA);
        AddLanes(p.dB + j, dB);
        AddLanes(p.hA + j, hA);
        AddLanes(p.hB + j, hB);
    }
}

// Poles in the lanes, samples in order.
void PoleProductsKernel(const double* x, const double* u, const double* v, long m, const double* sq, long poles,
                        double* su, double* sv) {
    for (long j = 0; j < poles; j += kLanes) {
        const Lanes s = LoadLanes(sq + j);
        Lanes a = {}, b = {};
        for (long i = 0; i < m; ++i) {
            const Lanes q = 1.0 / (s + x[i]);
            a += u[i] * q;
            b += v[i] * q;
        }
        AddLanes(su + j, a);
        AddLanes(sv + j, b);
    }
}

// Samples in the lanes, poles in order; the tail a sample at a time with the
// same operations.
void ResponseKernel(const double* w, long m, const double* a, const double* x, long poles, double d, double* re,
                    double* im) {
    long i = 0;
    for (; i + kLanes <= m; i += kLanes) {
        const Lanes wv = LoadLanes(w + i);
        const Lanes w2 = wv * wv;
        Lanes r = d - Lanes{}, s = {};
        for (long j = 0; j < poles; ++j) {
            const Lanes d1 = x[j] / (a[j] * a[j] + w2);
            r -= a[j] * d1;
            s -= wv * d1;
        }
        StoreLanes(re + i, r);
        StoreLanes(im + i, s);
    }
    for (; i < m; ++i) {
        const double w2 = w[i] * w[i];
        double r = d, s = 0.0;
        for (long j = 0; j < poles; ++j) {
            const double d1 = x[j] / (a[j] * a[j] + w2);
            r -= a[j] * d1;
            s -= w[i] * d1;
        }
        re[i] = r;
        im[i] = s;
    }
}

// Poles in the lanes, a sample's two rows at a time. The last poles fill a
// vector padded with a harmless pole whose lanes are multiplied by zero. It
// is stored first: its stores run past the last pole's column, into columns
// written after it or meant to hold zeros (see lanes.h for the room needed).
void RelocationRowsKernel(const RelocationBlock& p) {
    const long full = p.poles / kLanes * kLanes, rest = p.poles - full;
    const long zeroFrom = (p.nA + p.poles + 1) / kLanes * kLanes;
    Lanes last = {}, keep = {}, lastRelax = {};
    for (long l = 0; l < rest; ++l) {
        last[l] = p.a[full + l];
        keep[l] = 1.0;
        if (p.relax != nullptr) lastRelax[l] = p.relax[full + l];
    }
    for (long l = rest; l < kLanes; ++l) last[l] = 1.0;
    for (long i = 0; i < p.m; ++i) {
        double* re = p.out + i * p.ld;
        double* im = p.out + (p.m + i) * p.ld;
        const double w = p.w[i], w2 = w * w, hr = p.h[2 * i], hi = p.h[2 * i + 1], wr = p.wr[i], wi = p.wi[i];
        for (long c = zeroFrom; c < p.ld; c += kLanes) {
            StoreLanes(re + c, Lanes{});
            StoreLanes(im + c, Lanes{});
        }
        if (rest > 0) {
            const Lanes q = 1.0 / (last * last + w2);
            const Lanes br = -last * q * keep, bi = -w * q * keep;
            StoreLanes(re + full, wr * br);
            StoreLanes(im + full, wi * bi);
            StoreLanes(re + p.nA + full, -wr * (hr * br - hi * bi));
            StoreLanes(im + p.nA + full, -wi * (hr * bi + hi * br));
            lastRelax += br;
        }
        for (long j = 0; j < full; j += kLanes) {
            const Lanes a = LoadLanes(p.a + j);
            const Lanes q = 1.0 / (a * a + w2);
            const Lanes br = -a * q, bi = -w * q;
            StoreLanes(re + j, wr * br);
            StoreLanes(im + j, wi * bi);
            StoreLanes(re + p.nA + j, -wr * (hr * br - hi * bi));
            StoreLanes(im + p.nA + j, -wi * (hr * bi + hi * br));
            if (p.relax != nullptr) AddLanes(p.relax + j, br);
        }
        if (p.withD) {
            re[p.poles] = wr;
            im[p.poles] = 0.0;
        }
        re[p.nA + p.poles] = -hr * wr;
        im[p.nA + p.poles] = -hi * wi;
    }
    if (p.relax != nullptr)
        for (long l = 0; l < rest; ++l) p.relax[full + l] = lastRelax[l];
}

// Zeros in the lanes, poles in order. Lane l of a vector starting at zero r0
// counts pole j below it when j < r0 + l: all lanes for j < r0, none from
// r0 + kLanes - 1 on, and a 0/1 weight between (adding t * 0 leaves a sum as
// it is, so the bits are those of the plain loop's branch).
void SecularKernel(const SecularSums& p) {
    for (long r0 = 0; r0 < p.roots; r0 += kLanes) {
        const Lanes origin = LoadLanes(p.origin + r0), tau = LoadLanes(p.tau + r0);
        Lanes psi = {}, dpsi = {}, phi = {}, dphi = {};
        const long allBelow = r0 < p.n ? r0 : p.n;
        const long noneBelow = r0 + kLanes - 1 < p.n ? r0 + kLanes - 1 : p.n;
        long j = 0;
        for (; j < allBelow; ++j) {
            const Lanes u = 1.0 / (tau - (p.a[j] - origin));
            const Lanes t = p.c[j] * u;
            psi += t;
            dpsi -= t * u;
        }
        for (; j < noneBelow; ++j) {
            const Lanes u = 1.0 / (tau - (p.a[j] - origin));
            const Lanes t = p.c[j] * u;
            Lanes below, above;
            for (long l = 0; l < kLanes; ++l) {
                below[l] = j < r0 + l ? 1.0 : 0.0;
                above[l] = 1.0 - below[l];
            }
            psi += t * below;
            dpsi -= t * u * below;
            phi += t * above;
            dphi -= t * u * above;
        }
        for (; j < p.n; ++j) {
            const Lanes u = 1.0 / (tau - (p.a[j] - origin));
            const Lanes t = p.c[j] * u;
            phi += t;
            dphi -= t * u;
        }
        StoreLanes(p.psi + r0, psi);
        StoreLanes(p.dpsi + r0, dpsi);
        StoreLanes(p.phi + r0, phi);
        StoreLanes(p.dphi + r0, dphi);
    }
}

}  // namespace

#endif  // MATMODEL_FITTING_LANE_KERNELS_H
