// Shared pieces of the fuzz targets: fuzz bytes into values and samples shaped
// like a material's, and the checks more than one target makes.
//
// A thrown exception of the documented type is a normal outcome. A violated
// property is not: it is printed and the process traps, so that libFuzzer
// keeps the input as a crash.
#ifndef MATMODEL_FUZZ_FUZZ_SUPPORT_H
#define MATMODEL_FUZZ_FUZZ_SUPPORT_H

#include <cmath>
#include <cstdio>
#include <stdexcept>

// With <algorithm>, <cstdint>, <cstring>, <limits>, <string> and <vector>.
#include <fuzzer/FuzzedDataProvider.h>

#include "fitting/polerat.h"  // with <complex> and DataTable

namespace fuzz {

using Cx = std::complex<double>;

inline void Require(bool holds, const char* what, const std::string& detail = std::string()) {
    if (!holds) std::fprintf(stderr, "property violated: %s %s\n", what, detail.c_str()), __builtin_trap();
}

/// Runs `call`; true when it threw E, whose message must be a sentence: some
/// text, on one line. Any other exception escapes: libFuzzer reports a crash.
template <class E, class F>
bool Throws(F&& call) try {
    call();
    return false;
} catch (const E& e) {
    Require(*e.what() != '\0' && !std::strchr(e.what(), '\n'), "message empty or not one line", e.what());
    return true;
}

/// Equal as stored: the same bits, or both NaN (payloads may differ).
inline bool Same(double a, double b) { return std::isnan(a) ? std::isnan(b) : std::memcmp(&a, &b, sizeof a) == 0; }

/// A value spread on a log scale over [lo, hi].
inline double Log(FuzzedDataProvider& in, double lo, double hi) {
    return lo * std::pow(hi / lo, in.ConsumeIntegral<std::uint16_t>() / 65535.0);
}

/// One double: mostly Log(lo, hi); sometimes (always when `hostile`) a value on
/// a boundary of the inputs or one that breaks arithmetic, or a power of ten
/// of either sign anywhere in the range of a double.
inline double Value(FuzzedDataProvider& in, double lo, double hi, bool hostile = false) {
    static const double kSpecial[] = {0.0,  -0.0,  1.0,   -1.0, 0.999999999, 1e-5,      1e-6,   1e-11, 1e-30,
                                      1e30, 1e100, 2e100, NAN,  HUGE_VAL,    -HUGE_VAL, 5e-324, 1.7976931348623157e308};
    const std::uint8_t tag = in.ConsumeIntegral<std::uint8_t>();
    if (!hostile && tag < 240) return Log(in, lo, hi);
    if (tag % 4 != 0) return kSpecial[in.ConsumeIntegral<std::uint8_t>() % (sizeof kSpecial / sizeof(double))];
    return (tag % 8 ? 1.0 : -1.0) * std::pow(10.0, in.ConsumeIntegralInRange(-330, 310));
}

/// True for about one draw in `odds`, never once the bytes run out: where a
/// value is replaced by a hostile one or a list misshapen.
inline bool Now(FuzzedDataProvider& in, int odds) { return in.ConsumeIntegral<std::uint8_t>() >= 256 - 256 / odds; }

/// Up to 40 frequencies rising on a log scale over up to 15 decades, any of
/// them sometimes replaced (out of order, repeated, negative, not a number).
inline std::vector<double> Sweep(FuzzedDataProvider& in) {
    std::vector<double> f(in.ConsumeIntegralInRange(0, 40));
    const double low = Log(in, 1e-2, 1e12), decades = in.ConsumeIntegralInRange(0, 1500) / 100.0;
    for (std::size_t i = 0; i < f.size(); ++i)
        f[i] = Now(in, 32) ? Value(in, 1e-3, 1e13, in.ConsumeBool()) : low * std::pow(10.0, decades * i / f.size());
    return f;
}

/// A material's eps = Dk (1 - j Df) at `f`: a constant and up to four
/// relaxations, with `resonances` also resonances of quality q (a response
/// that dips below zero above them); some noise on top, any sample sometimes
/// replaced by anything.
inline std::vector<Cx> Material(FuzzedDataProvider& in, const std::vector<double>& f, bool resonances) {
    std::vector<Cx> eps(f.size(), Log(in, 1.0, 1e3));
    for (int k = in.ConsumeIntegralInRange(0, 4); k > 0; --k) {
        const double strength = Log(in, 1e-3, 1e3), corner = Log(in, 1e-2, 1e13);
        const double q = resonances && in.ConsumeBool() ? Log(in, 1.0, 1e3) : 0.0;
        for (std::size_t i = 0; i < f.size(); ++i)
            eps[i] += strength / (q > 0.0 ? Cx(1.0 - f[i] * f[i] / (corner * corner), f[i] / (q * corner))
                                          : Cx(1.0, f[i] / corner));
    }
    const double noise = Now(in, 3) ? Log(in, 1e-6, 0.5) : 0.0;
    for (Cx& e : eps)
        e = Now(in, 32) ? Cx(Value(in, 1.0, 1e3, true), Value(in, 1e-3, 1e3, true))
                        : e * (1.0 + noise * in.ConsumeIntegral<std::int8_t>() / 128.0);
    return eps;
}

/// A material's rows (frequency, Dk, Df or conductivity in S/m), a row
/// sometimes short or long.
inline DataTable Rows(FuzzedDataProvider& in, bool conductivity) {
    const std::vector<double> f = Sweep(in);
    const std::vector<Cx> eps = Material(in, f, false);
    DataTable table;
    for (std::size_t i = 0; i < f.size(); ++i) {
        table.push_back({f[i], eps[i].real(), -eps[i].imag() * (conductivity ? 5.56e-11 * f[i] : 1 / eps[i].real())});
        if (Now(in, 64)) table.back().resize(in.ConsumeIntegralInRange(0, 5), 1.0);
    }
    return table;
}

/// A stable, passive Debye model: real poles left of the axis, real residues
/// and constant finite and >= 0; each term then has Dk >= 0 and Df >= 0 at
/// every frequency. Returns whether every pole and nonzero residue lies within
/// 1e+-100, so that their squares and quotients stay in range.
inline bool CheckDebye(const std::vector<Cx>& poles, const std::vector<Cx>& residues, double constant) {
    Require(poles.size() == residues.size() && std::isfinite(constant) && constant >= 0.0, "bad constant or counts");
    bool moderate = constant < 1e100;
    for (std::size_t k = 0; k < poles.size(); ++k) {
        const double a = -poles[k].real(), r = residues[k].real();
        Require(std::isfinite(a) && a > 0.0 && poles[k].imag() == 0.0 && std::isfinite(r) && r >= 0.0 &&
                    residues[k].imag() == 0.0,
                "a term not a stable, passive Debye relaxation", std::to_string(k));
        moderate = moderate && std::fabs(std::log10(a)) < 100 && (r == 0.0 || std::fabs(std::log10(r)) < 100);
    }
    return moderate;
}

}  // namespace fuzz

#endif  // MATMODEL_FUZZ_FUZZ_SUPPORT_H
