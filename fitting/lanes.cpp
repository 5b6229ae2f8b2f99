// The lane kernels' scalar definitions, the baseline build of the vector
// forms, and the choice of instruction set.
#include "fitting/lanes.h"

#if defined(__GNUC__)
#define POLERAT_LANES 2
#include "fitting/lane_kernels.h"
#endif

namespace polerat::detail {

#if defined(POLERAT_LANES_X86)
void GramKernelAvx2(const double* m, long rows, long cols, long ld, double* g, long ldg);
void GramKernelAvx512(const double* m, long rows, long cols, long ld, double* g, long ldg);
void PoleSumsAvx2(const PoleSums& p);
void PoleSumsAvx512(const PoleSums& p);
void RelocationRowsAvx2(const RelocationBlock& p);
void SecularAvx2(const SecularSums& p);
void SecularAvx512(const SecularSums& p);
void RelocationRowsAvx512(const RelocationBlock& p);
bool FactorLowerAvx2(double* a, long n, long ld);
void AberthTermsAvx2(const AberthTerms& p);
void PoleProductsAvx2(const double* x, const double* u, const double* v, long m, const double* sq, long poles,
                      double* su, double* sv);
void PoleProductsAvx512(const double* x, const double* u, const double* v, long m, const double* sq, long poles,
                        double* su, double* sv);
void AberthTermsAvx512(const AberthTerms& p);
bool FactorLowerAvx512(double* a, long n, long ld);
void ResponseAvx2(const double* w, long m, const double* a, const double* x, long poles, double d, double* re,
                  double* im);
void ResponseAvx512(const double* w, long m, const double* a, const double* x, long poles, double d, double* re,
                    double* im);
#endif

namespace {

// The definitions, one term at a time.
void GramPlain(const double* m, long rows, long cols, long ld, double* g, long ldg) {
    for (long j = 0; j < cols; ++j)
        for (long k = j; k < cols; ++k) {
            double s = 0.0;
            for (long i = 0; i < rows; ++i) s += m[i * ld + j] * m[i * ld + k];
            g[j * ldg + k] += s;
        }
}

void PoleSumsPlain(const PoleSums& p) {
    for (long j = 0; j < p.poles; ++j) {
        double s = 0.0, t = 0.0, u = 0.0, dA = 0.0, dB = 0.0, hA = 0.0, hB = 0.0;
        for (long i = 0; i < p.m; ++i) {
            const double q = 1.0 / (p.sq[j] + p.x[i]);
            const double q2 = q * q;
            s += p.alpha[i] * q;
            t += p.betaX[i] * q;
            u += p.beta[i] * q;
            dA += p.alpha[i] * q2;
            dB += p.betaX[i] * q2;
            hA += p.alphaHr[i] * q;
            hB += p.betaHiW[i] * q;
        }
        p.s[j] += s;
        p.t[j] += t;
        p.u[j] += u;
        p.dA[j] += dA;
        p.dB[j] += dB;
        p.hA[j] += hA;
        p.hB[j] += hB;
    }
}

void ResponsePlain(const double* w, long m, const double* a, const double* x, long poles, double d, double* re,
                   double* im) {
    for (long i = 0; i < m; ++i) {
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

void RelocationRowsPlain(const RelocationBlock& p) {
    for (long i = 0; i < p.m; ++i) {
        double* re = p.out + i * p.ld;
        double* im = p.out + (p.m + i) * p.ld;
        const double w = p.w[i], hr = p.h[2 * i], hi = p.h[2 * i + 1], wr = p.wr[i], wi = p.wi[i];
        for (long j = 0; j < p.poles; ++j) {
            const double q = 1.0 / (p.a[j] * p.a[j] + w * w);
            const double br = -p.a[j] * q, bi = -w * q;
            re[j] = wr * br;
            im[j] = wi * bi;
            re[p.nA + j] = -wr * (hr * br - hi * bi);
            im[p.nA + j] = -wi * (hr * bi + hi * br);
            if (p.relax != nullptr) p.relax[j] += br;
        }
        if (p.withD) {
            re[p.poles] = wr;
            im[p.poles] = 0.0;
        }
        re[p.nA + p.poles] = -hr * wr;
        im[p.nA + p.poles] = -hi * wi;
        for (long c = p.nA + p.poles + 1; c < p.ld; ++c) re[c] = im[c] = 0.0;
    }
}

void SecularPlain(const SecularSums& p) {
    for (long r = 0; r < p.roots; ++r) {
        double psi = 0.0, dpsi = 0.0, phi = 0.0, dphi = 0.0;
        for (long j = 0; j < p.n; ++j) {
            const double u = 1.0 / (p.tau[r] - (p.a[j] - p.origin[r]));
            const double t = p.c[j] * u;
            if (j < r) {
                psi += t;
                dpsi -= t * u;
            } else {
                phi += t;
                dphi -= t * u;
            }
        }
        p.psi[r] = psi;
        p.dpsi[r] = dpsi;
        p.phi[r] = phi;
        p.dphi[r] = dphi;
    }
}

void PoleProductsPlain(const double* x, const double* u, const double* v, long m, const double* sq, long poles,
                       double* su, double* sv) {
    for (long j = 0; j < poles; ++j) {
        double a = 0.0, b = 0.0;
        for (long i = 0; i < m; ++i) {
            const double q = 1.0 / (sq[j] + x[i]);
            a += u[i] * q;
            b += v[i] * q;
        }
        su[j] += a;
        sv[j] += b;
    }
}

void AberthTermsPlain(const AberthTerms& p) {
    for (long k = 0; k < p.n; ++k) {
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

bool FactorLowerPlain(double* a, long n, long ld) {
    for (long j = 0; j < n; ++j) {
        double* cj = a + j * ld;
        if (!(cj[j] > 0.0)) return false;
        const double l = __builtin_sqrt(cj[j]), inverse = 1.0 / l;
        cj[j] = l;
        for (long i = j + 1; i < n; ++i) cj[i] = cj[i] * inverse;
        for (long k = j + 1; k < n; ++k) {
            const double f = cj[k];
            double* ck = a + k * ld;
            for (long i = k; i < n; ++i) ck[i] = ck[i] - cj[i] * f;
        }
    }
    return true;
}

bool CpuHas(VectorIsa isa) {
    switch (isa) {
        case VectorIsa::kPlain:
        case VectorIsa::kBaseline:
            return true;
#if defined(POLERAT_LANES_X86)
        case VectorIsa::kAvx2:
            __builtin_cpu_init();
            return __builtin_cpu_supports("avx2");
        case VectorIsa::kAvx512:
            __builtin_cpu_init();
            return __builtin_cpu_supports("avx512f");
#else
        case VectorIsa::kAvx2:
        case VectorIsa::kAvx512:
            return false;
#endif
    }
    return false;
}

VectorIsa Widest() {
    if (CpuHas(VectorIsa::kAvx512)) return VectorIsa::kAvx512;
    if (CpuHas(VectorIsa::kAvx2)) return VectorIsa::kAvx2;
    return VectorIsa::kBaseline;
}

// The set to run: the one asked for when this processor has it, else the
// plain loop (the same bits).
VectorIsa Usable(VectorIsa isa) {
#if !defined(__GNUC__)
    if (isa == VectorIsa::kBaseline) return VectorIsa::kPlain;
#endif
    return CpuHas(isa) ? isa : VectorIsa::kPlain;
}

}  // namespace

bool VectorIsaAvailable(VectorIsa isa) { return CpuHas(isa); }

VectorIsa BestVectorIsa() {
    static const VectorIsa best = Widest();
    return best;
}

void AddGramRows(const double* m, long rows, long cols, long ld, double* g, long ldg, VectorIsa isa) {
    switch (Usable(isa)) {
#if defined(POLERAT_LANES_X86)
        case VectorIsa::kAvx512: return GramKernelAvx512(m, rows, cols, ld, g, ldg);
        case VectorIsa::kAvx2: return GramKernelAvx2(m, rows, cols, ld, g, ldg);
#endif
#if defined(__GNUC__)
        case VectorIsa::kBaseline: return GramKernel(m, rows, cols, ld, g, ldg);
#endif
        default: return GramPlain(m, rows, cols, ld, g, ldg);
    }
}

void AddPoleSums(const PoleSums& p, VectorIsa isa) {
    switch (Usable(isa)) {
#if defined(POLERAT_LANES_X86)
        case VectorIsa::kAvx512: return PoleSumsAvx512(p);
        case VectorIsa::kAvx2: return PoleSumsAvx2(p);
#endif
#if defined(__GNUC__)
        case VectorIsa::kBaseline: return PoleSumsKernel(p);
#endif
        default: return PoleSumsPlain(p);
    }
}

void RealResponse(const double* w, long m, const double* a, const double* x, long poles, double d, double* re,
                  double* im, VectorIsa isa) {
    switch (Usable(isa)) {
#if defined(POLERAT_LANES_X86)
        case VectorIsa::kAvx512: return ResponseAvx512(w, m, a, x, poles, d, re, im);
        case VectorIsa::kAvx2: return ResponseAvx2(w, m, a, x, poles, d, re, im);
#endif
#if defined(__GNUC__)
        case VectorIsa::kBaseline: return ResponseKernel(w, m, a, x, poles, d, re, im);
#endif
        default: return ResponsePlain(w, m, a, x, poles, d, re, im);
    }
}

void FillRelocationRows(const RelocationBlock& p, VectorIsa isa) {
    // The vector forms store whole vectors up to the row's end.
    const long room = p.nA + (p.poles + kPoleLanes - 1) / kPoleLanes * kPoleLanes;
    if (p.ld % kPoleLanes != 0 || p.ld < room) isa = VectorIsa::kPlain;
    switch (Usable(isa)) {
#if defined(POLERAT_LANES_X86)
        case VectorIsa::kAvx512: return RelocationRowsAvx512(p);
        case VectorIsa::kAvx2: return RelocationRowsAvx2(p);
#endif
#if defined(__GNUC__)
        case VectorIsa::kBaseline: return RelocationRowsKernel(p);
#endif
        default: return RelocationRowsPlain(p);
    }
}

void AddPoleProducts(const double* x, const double* u, const double* v, long m, const double* sq, long poles,
                     double* su, double* sv, VectorIsa isa) {
    switch (Usable(isa)) {
#if defined(POLERAT_LANES_X86)
        case VectorIsa::kAvx512: return PoleProductsAvx512(x, u, v, m, sq, poles, su, sv);
        case VectorIsa::kAvx2: return PoleProductsAvx2(x, u, v, m, sq, poles, su, sv);
#endif
#if defined(__GNUC__)
        case VectorIsa::kBaseline: return PoleProductsKernel(x, u, v, m, sq, poles, su, sv);
#endif
        default: return PoleProductsPlain(x, u, v, m, sq, poles, su, sv);
    }
}

void FillAberthTerms(const AberthTerms& p, VectorIsa isa) {
    switch (Usable(isa)) {
#if defined(POLERAT_LANES_X86)
        case VectorIsa::kAvx512: return AberthTermsAvx512(p);
        case VectorIsa::kAvx2: return AberthTermsAvx2(p);
#endif
#if defined(__GNUC__)
        case VectorIsa::kBaseline: return AberthTermsKernel(p);
#endif
        default: return AberthTermsPlain(p);
    }
}

bool FactorLowerColumns(double* a, long n, long ld, VectorIsa isa) {
    if (ld % kPoleLanes != 0 || ld < n) isa = VectorIsa::kPlain;
    switch (Usable(isa)) {
#if defined(POLERAT_LANES_X86)
        case VectorIsa::kAvx512: return FactorLowerAvx512(a, n, ld);
        case VectorIsa::kAvx2: return FactorLowerAvx2(a, n, ld);
#endif
#if defined(__GNUC__)
        case VectorIsa::kBaseline: return FactorLowerKernel(a, n, ld);
#endif
        default: return FactorLowerPlain(a, n, ld);
    }
}

void EvaluateSecular(const SecularSums& p, VectorIsa isa) {
    switch (Usable(isa)) {
#if defined(POLERAT_LANES_X86)
        case VectorIsa::kAvx512: return SecularAvx512(p);
        case VectorIsa::kAvx2: return SecularAvx2(p);
#endif
#if defined(__GNUC__)
        case VectorIsa::kBaseline: return SecularKernel(p);
#endif
        default: return SecularPlain(p);
    }
}

}  // namespace polerat::detail
