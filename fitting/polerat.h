// polerat: a rational (pole-residue) fitting engine for frequency-domain data.
//
// Given complex samples H(s_i) of a P x P response at N frequencies f_i (hertz,
// s_i = j 2 pi f_i), polerat_run finds a common set of poles a_k and, for every
// entry, residues r_k and a constant d such that
//
//     H(s) ~ d + sum_k r_k / (s - a_k)
//
// and returns the model as a real state-space record (polerat_data). Poles and
// residues are in the plane of s = j*omega with omega in radians per second.
//
// Record layout with n states (P = 1):
//   pole_re[k]   real part of state k's pole
//   pole_im[k]   0 for a real pole; for a complex-conjugate pair the first of two
//                adjacent states holds +beta (!= 0) and the second -beta, and the
//                pair's poles are pole_re[k] +/- j beta
//   b[k][q]      input map (n rows, P columns)
//   c[p][k]      output map (P rows, n columns)
//   d[p][q]      constant term (P rows, P columns); d[0][0] is the residue at
//                infinity
// A real pole contributes c[0][k] b[k][0] / (s - a); a pair (k, k+1) contributes
// r/(s - p) + conj(r)/(s - conj(p)) with p = a + j beta and
// r = 0.5 (b[k][0] - j b[k+1][0]) (c[0][k] + j c[0][k+1]).
//
// Typical use (a one-port dielectric fit):
//   polerat_data* record = nullptr;
//   DataTable info;  std::string log;
//   double err = polerat_run(record, info, freq, samples, 1e-3, 100, 1, 0, 0,
//                            false, true, 0, false, log, {}, nullptr, -1.0,
//                            false, 1, 1, 1);
//   ...
//   polerat_cleanup(record);
#ifndef MATMODEL_FITTING_POLERAT_H
#define MATMODEL_FITTING_POLERAT_H

#include <complex>
#include <string>
#include <vector>

/// A table of rows of doubles; rows may differ in length.
using DataTable = std::vector<std::vector<double>>;

/// Sample array indexed [p][q][i]: response entry (p, q) at frequency i.
using PoleratSamples = std::vector<std::vector<std::vector<std::complex<double>>>>;

/// Progress report: a fraction of the work done in [0, 1] and a short message.
using PoleratProgress = void (*)(double fraction, const char* message);

/// The engine's state-space record. Exactly these five lists.
struct polerat_data {
    std::vector<double> pole_re;
    std::vector<double> pole_im;
    DataTable b;
    DataTable c;
    DataTable d;
};

/// Fits a common-pole rational model to `samples` and stores it in `record`.
///
/// Returns the error reached: the weighted relative RMS of the model's
/// deviation from the samples (see `weighting`).
///
/// Throws std::invalid_argument with a sentence naming the fault when the input
/// cannot be fitted: no frequencies, a sample array that is not P x P x N, a
/// negative or non-finite frequency, a frequency outside 1e-30 to 1e30 Hz
/// (0 Hz is fine), a non-finite sample or one above 1e100 in magnitude, a
/// negative real part on the diagonal when a passive model of real poles is
/// asked for (no such model can follow it), a weight list of the wrong length
/// or with a negative or non-finite weight, or settings out of range. The
/// earlier record, if any, is then left as it was.
///
/// Settings in positional order; the values a dielectric model asks for are
/// given in brackets.
double polerat_run(
    // 1. In: an earlier record or null, released before the new one is stored.
    //    Out: the record of this fit, allocated with new; release it with
    //    polerat_cleanup.
    polerat_data*& record,
    // 2. Out: row 0 is the summary (order, error reached, relocation
    //    iterations, 1 if the target was met else 0, termination code:
    //    0 target met, 1 error stalled, 2 order cap reached, 3 fixed order);
    //    then one row per order tried (order, error, iterations, condition
    //    number of the last relocation solve).
    DataTable& info,
    // 3. Frequencies in hertz, N entries, each finite and >= 0.
    const std::vector<double>& freq,
    // 4. Samples [p][q][i], P x P x N, every value finite.
    const PoleratSamples& samples,
    // 5. Target error [1e-3]: the automatic order search stops at the first
    //    order whose error is at or below it.
    double target_error,
    // 6. Largest number of poles the automatic search may use [100].
    int max_order,
    // 7. Number of poles the automatic search starts with [1].
    int min_order,
    // 8. Fixed number of poles; 0 selects the automatic search [0].
    int fixed_order,
    // 9. Pole relocation iterations per order; 0 selects the engine's
    //    default (iterate to convergence, at most 30) [0].
    int max_iterations,
    // 10. Allow complex-conjugate pole pairs [false: real poles only, as a
    //     sum of Debye relaxations needs].
    bool allow_complex,
    // 11. Enforce a stable, passive model [true]: every pole strictly in the
    //     left half plane (unstable ones are reflected); for a one-port, every
    //     real-pole residue >= 0 and d >= 0, and for a pair the two linear
    //     conditions that keep its loss >= 0 at every frequency; for an
    //     array, the same entry by entry. Then Im H(j w) <= 0 for all w >= 0.
    bool enforce_passivity,
    // 12. Weighting of the error [0]: 0 each sample's real and imaginary part
    //     relative to its own size; 1 both parts relative to |H(s_i)|;
    //     2 absolute (no scaling).
    int weighting,
    // 13. Leave out the constant term d (a strictly proper model) [false].
    bool omit_constant,
    // 14. Out: a readable account of the fit (orders tried, errors, poles).
    std::string& log,
    // 15. Per-sample weights, N entries, each finite and >= 0, multiplying the
    //     weighting above; empty for all ones [empty].
    const std::vector<double>& weights,
    // 16. Progress callback, or null for none [null].
    PoleratProgress progress,
    // 17. Relative decrease of the error that counts as meaningful when one
    //     more pole is tried; the search stops when `stall_patience` orders in
    //     a row fall short of it. A negative value selects the default 0.1 [-1].
    double stall_ratio,
    // 18. Write every relocation iteration to the log, not only each order
    //     [false].
    bool verbose_log,
    // 19. Poles added at each step of the automatic search [1].
    int order_step,
    // 20. Orders in a row without a meaningful decrease before the search
    //     stops [1].
    int stall_patience,
    // 21. Starting poles [1]: 1 real poles spaced evenly on a logarithmic
    //     scale over the band; 2 lightly damped complex pairs over the band
    //     (for resonant data; needs allow_complex).
    int start_poles);

/// Releases a record made by polerat_run or by `new polerat_data`, and sets the
/// pointer to null. A null pointer is left alone.
void polerat_cleanup(polerat_data*& record);

#endif  // MATMODEL_FITTING_POLERAT_H
