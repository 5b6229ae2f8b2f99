// Single-point input: a wideband Debye model (a continuous spread of
// relaxations between two corner frequencies, plus dc conduction) fitted to one
// measured Dk/Df point and sampled five times per decade.
//
// Model: eps(f) = eps_inf + delta ln((f2 + j f)/(f1 + j f)) + sigma/(j 2 pi f e0)
// after A. R. Djordjevic, R. M. Biljic, V. D. Likar-Smiljanic, T. K. Sarkar,
// "Wideband frequency-domain characterization of FR-4 and time-domain
// causality", IEEE Trans. EMC 43(4), 2001.
#include <cmath>
#include <complex>
#include <new>

#include "modeler/MaterialModeler.h"

namespace {

constexpr double kUpperCorner = 159154943091.89536;  // Hz: 1e12 rad/s
constexpr double kDefaultDcFactor = 10.0;
constexpr double kGridBase = 10.0;
constexpr double kGridStep = 0.2;        // decades: five samples per decade
constexpr double kGridTolerance = 1e-12;  // keeps the top point the accumulated step rounds above

}  // namespace

void MaterialModeler::SetInputData(double dk, double df, double freq, double maxFreq,
                                   double dcConductivity, double dcDk) {
    const double f2 = kUpperCorner;
    // The order of every operation below fixes the last bits of the samples.
    // Slope: match the measured loss at freq, the lower corner taken far below.
    const double conduction = dcConductivity / ((freq * TwoPi) * E0);
    const double delta = (dk * df - conduction) / (HalfPi - std::atan(freq / f2));
    // High-frequency Dk: match the measured Dk at freq.
    const double r = f2 / freq;
    const double epsInf = dk - std::log(r * r + 1.0) * (delta * 0.5);
    // Lower corner from the Dk wanted at zero frequency.
    double x;
    if (dcDk == 0.0) {
        x = (df * kDefaultDcFactor) * epsInf;
    } else {
        x = dcDk - epsInf;
    }
    const double f1 = std::exp(-(x / delta)) * f2;

    // The exponent is accumulated, not recomputed, so it carries the rounding of
    // each addition; the tolerance keeps the grid point that lands just above.
    const double kmax = std::log10(maxFreq) + kGridTolerance;
    // An infinite highest frequency asks for a grid without end: it would
    // append until memory ran out (or the system killed the process first).
    // Fail as that would, at once and with nothing appended.
    if (kmax == HUGE_VAL) throw std::bad_alloc();
    for (double k = 0.0; k <= kmax; k = k + kGridStep) {
        const double f = std::pow(kGridBase, k);
        const std::complex<double> z(0.0, f);
        const std::complex<double> s = dcConductivity / ((TwoPi * z) * E0);
        const std::complex<double> q = (f2 + z) / (f1 + z);
        const std::complex<double> eps = (epsInf + delta * std::log(q)) + s;
        m_freq.push_back(f);
        m_dk.push_back(eps.real());
        m_df.push_back(-(eps.imag() / eps.real()));
    }
    m_doHilbert = false;
}
