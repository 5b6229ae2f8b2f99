// The engine's innermost loops over plain arrays, built once per instruction
// set and chosen at run time (lanes.cpp, lanes_avx2.cpp, lanes_avx512.cpp).
// Not installed. Every form gives the same bits: the vector lanes hold
// different poles or different samples, never two terms of one sum, so each
// sum adds the same terms in the same order at every width, and products are
// never fused into additions.
#ifndef MATMODEL_FITTING_LANES_H
#define MATMODEL_FITTING_LANES_H

namespace polerat::detail {

/// Instruction sets of the lane kernels. kPlain is the scalar definition
/// every other set reproduces bit for bit.
enum class VectorIsa { kPlain, kBaseline, kAvx2, kAvx512 };
bool VectorIsaAvailable(VectorIsa isa);
/// The widest set this build and this processor both support.
VectorIsa BestVectorIsa();

/// Pole arrays handed to the kernels are padded to a multiple of this.
inline constexpr long kPoleLanes = 8;

/// Per-pole sums over m samples for the residue solve of real poles, with
/// q_j(i) = 1 / (sq[j] + x[i]); each added to its output:
///   s += sum alpha q,  t += sum betaX q,  u += sum beta q,
///   dA += sum alpha q^2,  dB += sum betaX q^2,
///   hA += sum alphaHr q,  hB += sum betaHiW q.
/// `poles` is a multiple of kPoleLanes (the padding's sq must be positive).
struct PoleSums {
    const double *x, *alpha, *beta, *betaX, *alphaHr, *betaHiW;
    long m;
    const double* sq;
    long poles;
    double *s, *t, *u, *dA, *dB, *hA, *hB;
};
void AddPoleSums(const PoleSums& p, VectorIsa isa);

/// Two per-pole sums over m samples, with q_j(i) = 1 / (sq[j] + x[i]), each
/// added to its output: su[j] += sum u q and sv[j] += sum v q. `poles` is a
/// multiple of kPoleLanes (the padding's sq must be positive).
void AddPoleProducts(const double* x, const double* u, const double* v, long m, const double* sq, long poles,
                     double* su, double* sv, VectorIsa isa);

/// The model d + sum_j x_j / (j w - a_j) of real poles at m frequencies w:
/// re[i] = d - sum_j a_j x_j / (a_j^2 + w_i^2) and im[i] = -w_i sum_j ...,
/// the terms subtracted in pole order.
void RealResponse(const double* w, long m, const double* a, const double* x, long poles, double d, double* re,
                  double* im, VectorIsa isa);

/// Rows of the relocation system for real poles a_j (see RelocationRows in
/// kernels.cpp) at m samples: row i of `out` holds sample i's real parts,
/// row m + i its imaginary parts, rows ld apart. Columns: the weighted basis
/// wr br_j | wi bi_j at [0, poles), the constant's column at `poles` when
/// withD, the weighting function's -h times the basis at [nA, nA + poles),
/// and -h at nA + poles, with br + j bi = 1/(j w - a), then zeros up to ld.
/// ld is a multiple of kPoleLanes and at least nA + poles rounded up to one
/// (GramWidth of the columns is). The samples h are complex numbers, real and
/// imaginary parts side by side. Adds each pole's br, summed over the
/// samples, to relax[j] when relax is given.
struct RelocationBlock {
    const double *w, *h, *wr, *wi;
    long m;
    const double* a;
    long poles, nA;
    bool withD;
    double* out;
    long ld;
    double* relax;
};
void FillRelocationRows(const RelocationBlock& p, VectorIsa isa);

/// The secular sums of the interlaced zeros (see InterlacedZeros in
/// kernels.cpp) at one point per zero. For zero r, at tau[r] in coordinates
/// centred on origin[r], with u_j = 1 / (tau[r] - (a[j] - origin[r])) and
/// t_j = c[j] u_j: the poles below it (j < r) give psi[r] = sum t_j and
/// dpsi[r] = -sum t_j u_j, the others phi[r] and dphi[r] alike, each summed in
/// pole order. a holds n poles in rising order and c their positive terms;
/// `roots` is a multiple of kPoleLanes (the padding's tau may be NaN).
struct SecularSums {
    const double *a, *c;
    long n;
    const double *origin, *tau;
    long roots;
    double *psi, *dpsi, *phi, *dphi;
};
void EvaluateSecular(const SecularSums& p, VectorIsa isa);

/// The reciprocals of one Aberth-Ehrlich step at s = sr + j si (see
/// SigmaZeros in kernels.cpp): 1/(s - a_k) as ur + j ui and 1/(s - z_k) as
/// vr + j vi for the n poles a and zeros z = zr + j zi, each as conj(d)/|d|^2.
struct AberthTerms {
    const double *a, *zr, *zi;
    long n;
    double sr, si;
    double *ur, *ui, *vr, *vi;
};
void FillAberthTerms(const AberthTerms& p, VectorIsa isa);

/// The Cholesky factor of the lower triangle of the n x n matrix at a
/// (column-major, columns ld apart), in place and right-looking: each update
/// runs down a column, the rows in the lanes. ld is a multiple of kPoleLanes
/// and at least n, and the buffer holds ld (n + 1) values: the vector forms
/// also update the rows past n (and a column past the last), which are left
/// undefined. Above the diagonal nothing is touched. False when a pivot is
/// not positive.
bool FactorLowerColumns(double* a, long n, long ld, VectorIsa isa);

/// The lower triangle of g (column-major, leading dimension ldg) += M'M for
/// M the `rows` x `cols` row-major matrix at m with rows ld apart; ld is a
/// multiple of 16 (what lies past `cols` is read but never used).
void AddGramRows(const double* m, long rows, long cols, long ld, double* g, long ldg, VectorIsa isa);

}  // namespace polerat::detail

#endif  // MATMODEL_FITTING_LANES_H
