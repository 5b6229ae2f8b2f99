// The whole road of a direct caller: samples in (table, conductivity table, or
// the single-point input with a table behind it), FitData, every result
// reader and the expression writer. A fit that succeeds must give a stable,
// passive model; the readers must agree with each other, with a copy of the
// modeler and with the expression texts evaluated as a simulator would.
#include <cmath>
#include <complex>
#include <cstdint>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "expr_eval.h"
#include "fuzz_support.h"

namespace {

constexpr std::size_t kMaxSamples = 48;  // keeps one fit well under a second

// Samples shaped like a measurement: a frequency sweep that usually rises,
// with Dk and Df drifting along it, any value sometimes replaced by a hostile
// one.
DataTable Samples(FuzzedDataProvider& in, bool conductivity) {
    const std::size_t n = in.ConsumeIntegralInRange<std::size_t>(0, kMaxSamples);
    const double fLow = fuzz::Value(in, 1e-2, 1e12);
    const double decades = in.ConsumeIntegralInRange(0, 1400) / 100.0;
    const double dk0 = fuzz::Value(in, 1.0, 3e5);
    const double df0 = conductivity ? fuzz::Value(in, 1e-12, 1e2) : fuzz::Value(in, 1e-7, 1e2);
    DataTable table;
    for (std::size_t i = 0; i < n; ++i) {
        const double u = n > 1 ? static_cast<double>(i) / static_cast<double>(n - 1) : 0.0;
        double f = fLow * std::pow(10.0, decades * u);
        double dk = dk0 * (1.0 + 0.05 * (0.5 - u));
        double loss = df0 * (1.0 + 0.2 * std::sin(6.0 * u));
        const std::uint8_t edit = in.ConsumeIntegral<std::uint8_t>();
        if (edit >= 224) {
            // Replace one value by anything; rarely more than one.
            switch (edit % 3) {
                case 0: f = fuzz::AnyDouble(in); break;
                case 1: dk = fuzz::AnyDouble(in); break;
                default: loss = fuzz::AnyDouble(in); break;
            }
        } else if (edit >= 208) {
            f = fuzz::Value(in, 1e-3, 1e13);  // out of order, or a repeat
        }
        table.push_back({f, dk, loss});
    }
    return table;
}

bool Load(fuzz::Inspect& m, FuzzedDataProvider& in) {
    const std::uint8_t mode = in.ConsumeIntegralInRange<std::uint8_t>(0, 2);
    try {
        if (mode == 2) {
            const double dk = fuzz::Value(in, 1.0, 1e3);
            const double df = fuzz::Value(in, 1e-5, 1.0);
            const double freq = fuzz::Value(in, 1e3, 1e11);
            const double maxFreq = fuzz::Value(in, 1.0, 1e8);  // at most 41 grid points
            const double sigma = in.ConsumeBool() ? 0.0 : fuzz::Value(in, 1e-9, 1.0);
            m.SetInputData(dk, df, freq, maxFreq, sigma, 0.0);
            const DataTable tail = Samples(in, false);
            if (!tail.empty()) m.SetInputData(tail);
        } else if (mode == 1) {
            m.SetInputDataUsingConductivity(Samples(in, true));
        } else {
            m.SetInputData(Samples(in, false));
        }
    } catch (const std::runtime_error&) {
        // Refused input (the out_of_range of a short row cannot happen here:
        // every row has three values). What was accepted stays and is fitted.
    } catch (const std::bad_alloc&) {
        // The single-point input's grid to an infinite highest frequency.
    }
    fuzz::CheckEqualLengths(m);
    return m.Freq().size() > 0;
}

void CheckReaders(const fuzz::Inspect& m) {
    DataTable fitted;
    m.GetFittedData(fitted);
    fuzz::Require(fitted.size() == m.Freq().size(), "one fitted row per sample");
    for (std::size_t i = 0; i < fitted.size(); ++i) {
        fuzz::Require(fitted[i].size() == 3, "fitted row of the wrong length");
        fuzz::Require(fuzz::Same(fitted[i][0], m.Freq()[i]), "fitted row's frequency changed");
    }

    // A copy reads back the same, bit for bit.
    const fuzz::Inspect copy(m);
    DataTable again;
    copy.GetFittedData(again);
    for (std::size_t i = 0; i < fitted.size(); ++i)
        for (std::size_t j = 0; j < 3; ++j)
            fuzz::Require(fuzz::Same(again[i][j], fitted[i][j]), "a copy reads back differently");
    fuzz::Require(fuzz::Same(copy.GetResidueAtInfinity(), m.GetResidueAtInfinity()),
                  "a copy's constant term differs");

    // The expressions, evaluated, give the fitted values at the samples. Their
    // coefficients carry eight digits and, for a passive real-pole model, add
    // up without cancellation, so 1e-6 is ample; a model whose coefficients
    // overflow or underflow when squared is not compared.
    std::string dfText, dkText;
    m.CreateExpressions(dfText, dkText, "F");
    std::vector<std::complex<double>> poles, residues;
    m.GetPolesAndResidues(poles, residues);
    bool moderate = std::fabs(m.GetResidueAtInfinity()) < 1e100;
    for (std::size_t k = 0; k < poles.size(); ++k) {
        const double a = std::fabs(poles[k].real()), r = std::fabs(residues[k].real());
        moderate = moderate && a > 1e-100 && a < 1e100 && r < 1e100 && (r == 0.0 || r > 1e-100);
    }
    // Such a model's coefficients may be written as "inf" (a pole at 1e-155
    // rad/s gives (2 pi)^2 / 1e-310), which no simulator parses; the texts are
    // then not evaluated either.
    if (!moderate) return;
    ExpressionEvaluator dkExpr(dkText, "F");
    ExpressionEvaluator dfExpr(dfText, "F");
    for (std::size_t i = 0; i < fitted.size(); ++i) {
        const double f = fitted[i][0];
        double dk = 0.0, df = 0.0;
        try {
            dk = dkExpr(f);
            df = dfExpr(f);
        } catch (const std::invalid_argument& e) {
            fuzz::Fail("expression text does not parse", e.what());
        }
        if (!std::isfinite(f) || f > 1e100) continue;
        const double wantDk = fitted[i][1], wantDf = fitted[i][2];
        // Both NaN: a model that is zero there (0/0), from samples that are
        // not a material's.
        if (fuzz::Same(dk, wantDk) && fuzz::Same(df, wantDf)) continue;
        fuzz::Require(std::fabs(dk - wantDk) <= 1e-6 * std::fabs(wantDk),
                      "Dk expression disagrees with the fitted data",
                      fuzz::Num(f) + " Hz: " + fuzz::Num(dk) + " vs " + fuzz::Num(wantDk));
        fuzz::Require(std::fabs(df - wantDf) <= 1e-6 * std::fabs(wantDf) + 1e-300,
                      "Df expression disagrees with the fitted data",
                      fuzz::Num(f) + " Hz: " + fuzz::Num(df) + " vs " + fuzz::Num(wantDf));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    fuzz::Inspect m;
    const fuzz::Watch watch(m);
    if (!Load(m, in)) return 0;
    try {
        m.FitData();
    } catch (const std::runtime_error&) {
        // A refused fit leaves nothing to read, or the previous fit; there was
        // none here.
        try {
            std::string a, b;
            m.CreateExpressions(a, b, "F");
        } catch (const std::runtime_error&) {
            return 0;
        }
        fuzz::Fail("a failed first fit left a readable model");
    }
    fuzz::CheckEqualLengths(m);
    fuzz::CheckStableAndPassive(m);
    CheckReaders(m);
    return 0;
}
