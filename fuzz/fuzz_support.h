// Shared pieces of the fuzz targets: turning fuzz bytes into doubles, a view
// of the modeler's protected lists, and the invariant checks.
//
// A thrown std::exception is a normal outcome for every target. A violated
// invariant is not: it is printed and the process traps, so that libFuzzer
// keeps the input as a crash.
#ifndef MATMODEL_FUZZ_FUZZ_SUPPORT_H
#define MATMODEL_FUZZ_FUZZ_SUPPORT_H

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>

#include "modeler/MaterialModeler.h"
#include "probe.h"

namespace fuzz {

/// The modeler with its protected state readable (the tests' probe).
using Inspect = ::Probe;
void Describe(const Inspect& m);

/// The modeler of the current input, described when an invariant fails.
inline const Inspect*& Current() {
    static const Inspect* current = nullptr;
    return current;
}

[[noreturn]] inline void Fail(const char* what, const std::string& detail = std::string()) {
    if (Current() != nullptr) Describe(*Current());
    std::fprintf(stderr, "invariant violated: %s %s\n", what, detail.c_str());
    std::fflush(stderr);
    __builtin_trap();
}

inline void Require(bool condition, const char* what, const std::string& detail = std::string()) {
    if (!condition) Fail(what, detail);
}

inline std::string Num(double v) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.17g", v);
    return buf;
}

/// Equal as stored: the same bits, or both NaN (payloads may differ).
inline bool Same(double a, double b) {
    if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b);
    std::uint64_t x, y;
    std::memcpy(&x, &a, sizeof x);
    std::memcpy(&y, &b, sizeof y);
    return x == y;
}

inline bool Same(const std::vector<double>& a, const std::vector<double>& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (!Same(a[i], b[i])) return false;
    return true;
}

/// The samples and, when there is one, the model: printed before a trap, so
/// that a crash report says what was fitted.
inline void Describe(const Inspect& m) {
    std::fprintf(stderr, "%zu samples (frequency, Dk, Df):\n", m.Freq().size());
    for (std::size_t i = 0; i < m.Freq().size() && i < m.Dk().size() && i < m.Df().size(); ++i)
        std::fprintf(stderr, "  %.17g %.17g %.17g\n", m.Freq()[i], m.Dk()[i], m.Df()[i]);
    try {
        std::vector<std::complex<double>> poles, residues;
        m.GetPolesAndResidues(poles, residues);
        std::fprintf(stderr, "model: constant %.17g\n", m.GetResidueAtInfinity());
        for (std::size_t k = 0; k < poles.size(); ++k)
            std::fprintf(stderr, "  pole %.17g %+.17gj residue %.17g %+.17gj\n", poles[k].real(),
                         poles[k].imag(), residues[k].real(), residues[k].imag());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "no model: %s\n", e.what());
    }
}

/// Makes `m` the modeler that a failure describes, for the scope's length.
class Watch {
public:
    explicit Watch(const Inspect& m) { Current() = &m; }
    ~Watch() { Current() = nullptr; }
    Watch(const Watch&) = delete;
    Watch& operator=(const Watch&) = delete;
};

/// The three input lists always have one entry per sample, whatever failed.
inline void CheckEqualLengths(const Inspect& m) {
    Require(m.Freq().size() == m.Dk().size() && m.Dk().size() == m.Df().size(),
            "input lists of different lengths",
            std::to_string(m.Freq().size()) + " " + std::to_string(m.Dk().size()) + " " +
                std::to_string(m.Df().size()));
}

/// Values that sit on the input's boundaries or break arithmetic.
inline double SpecialValue(std::uint8_t pick) {
    static const double kValues[] = {
        0.0,
        -0.0,
        1.0,
        -1.0,
        0.999999999,
        1e-5,
        9.99999e-6,
        1e-6,
        1e-11,
        1e-12,
        2e5,
        100.0,
        1e9,
        1e12,
        159154943091.89536,
        std::numeric_limits<double>::quiet_NaN(),
        -std::numeric_limits<double>::quiet_NaN(),
        std::numeric_limits<double>::infinity(),
        -std::numeric_limits<double>::infinity(),
        std::numeric_limits<double>::denorm_min(),
        std::numeric_limits<double>::min(),
        std::numeric_limits<double>::max(),
        std::numeric_limits<double>::lowest(),
        std::numeric_limits<double>::epsilon(),
    };
    return kValues[pick % (sizeof kValues / sizeof kValues[0])];
}

/// One double from the fuzz bytes. Mostly a value spread on a log scale over
/// [lo, hi] (so that fits see data shaped like a material), sometimes a value
/// on a boundary, sometimes raw bits (NaN payloads, denormals, anything).
inline double Value(FuzzedDataProvider& in, double lo, double hi) {
    const std::uint8_t tag = in.ConsumeIntegral<std::uint8_t>();
    if (tag < 200) {
        const double u = in.ConsumeIntegral<std::uint16_t>() / 65535.0;
        return lo * std::pow(hi / lo, u);
    }
    if (tag < 236) return SpecialValue(in.ConsumeIntegral<std::uint8_t>());
    double raw = 0.0;
    std::uint64_t bits = in.ConsumeIntegral<std::uint64_t>();
    std::memcpy(&raw, &bits, sizeof raw);
    return raw;
}

/// A double of any bit pattern, boundary values made likely.
inline double AnyDouble(FuzzedDataProvider& in) {
    if (in.ConsumeBool()) return SpecialValue(in.ConsumeIntegral<std::uint8_t>());
    double raw = 0.0;
    std::uint64_t bits = in.ConsumeIntegral<std::uint64_t>();
    std::memcpy(&raw, &bits, sizeof raw);
    return raw;
}

/// Checks a fitted modeler: a model of real, stable poles whose loss tangent is
/// non-negative at every frequency of a dense grid from 0 Hz to 1e15 Hz. This is
/// what the modeler's fixed engine settings promise (real poles only, stable,
/// non-negative residues and constant).
inline void CheckStableAndPassive(const MaterialModeler& m) {
    std::vector<std::complex<double>> poles, residues;
    m.GetPolesAndResidues(poles, residues);
    const double d = m.GetResidueAtInfinity();
    Require(poles.size() == residues.size(), "poles and residues of different counts");
    Require(std::isfinite(d) && d >= 0.0, "constant term not finite and non-negative", Num(d));
    for (std::size_t k = 0; k < poles.size(); ++k) {
        const std::string where = "state " + std::to_string(k) + ": pole " + Num(poles[k].real()) +
                                  " " + Num(poles[k].imag()) + " residue " +
                                  Num(residues[k].real()) + " " + Num(residues[k].imag());
        Require(std::isfinite(poles[k].real()) && poles[k].real() < 0.0, "unstable pole", where);
        Require(poles[k].imag() == 0.0, "complex pole from a real-pole fit", where);
        Require(std::isfinite(residues[k].real()) && residues[k].imag() == 0.0,
                "residue not real and finite", where);
    }
    const double twoPi = 6.283185307179586;
    for (int step = -1; step <= 18 * 20; ++step) {
        const double f = step < 0 ? 0.0 : std::pow(10.0, -3.0 + step / 20.0);
        const std::complex<double> s(0.0, twoPi * f);
        std::complex<double> eps(d, 0.0);
        for (std::size_t k = 0; k < poles.size(); ++k) eps += residues[k] / (s - poles[k]);
        Require(eps.imag() <= 0.0, "negative loss (Df < 0)",
                "at " + Num(f) + " Hz: eps " + Num(eps.real()) + " " + Num(eps.imag()));
        Require(eps.real() >= 0.0, "negative Dk", "at " + Num(f) + " Hz: " + Num(eps.real()));
    }
}

}  // namespace fuzz

#endif  // MATMODEL_FUZZ_FUZZ_SUPPORT_H
