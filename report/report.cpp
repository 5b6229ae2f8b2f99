// Model report: one fit, read out and judged.
#include "report/report.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <limits>
#include <string>

#include "fitting/constants.h"
#include "io/number_text.h"
#include "modeler/ModelerAccess.h"
#include "report/analysis.h"

namespace matmodel {
namespace {

// The engine aims at 0.1 % RMS. A model 200 times worse than that at some
// sample does not describe the data: the fit has failed, whatever it returned.
constexpr double kUnusableFitError = 0.2;

bool AllFinite(const std::vector<std::complex<double>>& v) {
    return std::all_of(v.begin(), v.end(), [](const std::complex<double>& z) {
        return std::isfinite(z.real()) && std::isfinite(z.imag());
    });
}

void Fit(ModelerAccess& modeler) {
    try {
        modeler.FitData();
    } catch (const std::exception& e) {
        std::string why = e.what();
        // The engine sees only the causal Dk; tell the user where it came from.
        const auto& causal = modeler.DkCausal();
        const auto low = std::min_element(causal.begin(), causal.end());
        if (modeler.DoesHilbert() && low != causal.end() && *low < 1.0) {
            if (!why.empty() && why.back() == '.') why.pop_back();
            const std::size_t at = static_cast<std::size_t>(low - causal.begin());
            why += "; the Kramers-Kronig Dk falls to " + FormatGeneral(*low, 4) + " at " +
                   FormatFrequency(modeler.Freq()[at]) + ", so the loss is too high for a causal model of this band";
        }
        throw FitError("fit failed: " + why);
    }
}

// The engine returns its best model even when it is useless (for instance all
// zero, when no passive model comes near the data); say so rather than print
// a report of nonsense.
void CheckUsable(const ModelReport& r) {
    std::string why;
    for (const SampleRow& row : r.rows) {
        if (!(row.dkFitted > 0.0) || !std::isfinite(row.dfFitted)) {
            why = "the model gives Dk " + FormatGeneral(row.dkFitted, 4) + " at " +
                  FormatFrequency(row.freq);
            break;
        }
    }
    if (why.empty() && !(r.targetError.relative <= kUnusableFitError))
        why = "the model misses the samples by up to " + FormatPercent(r.targetError.relative) +
              " (at " + FormatFrequency(r.targetError.freq) + ")";
    if (why.empty()) {
        if (!AllFinite(r.poles) || !AllFinite(r.residues) || !std::isfinite(r.epsInf))
            throw FitError("fit failed: the model holds non-finite values");
        return;
    }
    const auto low = std::min_element(
        r.rows.begin(), r.rows.end(),
        [](const SampleRow& a, const SampleRow& b) { return a.dkCausal < b.dkCausal; });
    if (r.causalReconstruction && low != r.rows.end() && low->dkCausal < 1.0)
        why += "; the Kramers-Kronig Dk falls to " + FormatGeneral(low->dkCausal, 4) + " at " +
               FormatFrequency(low->freq) +
               ", so the loss is too high for a causal model of this band";
    throw FitError("fit failed: " + why);
}

// Everything after FitData, common to both inputs.
ModelReport Collect(const ModelerAccess& modeler, InputSummary input,
                    const std::string& variable) {
    ModelReport r;
    r.input = std::move(input);
    r.causalReconstruction = modeler.DoesHilbert();
    r.variable = variable;

    DataTable fitted;
    modeler.GetFittedData(fitted);
    modeler.GetPolesAndResidues(r.poles, r.residues);
    r.epsInf = modeler.GetResidueAtInfinity();
    modeler.CreateExpressions(r.dfExpression, r.dkExpression, variable);
    r.order = r.poles.size();

    const auto& freq = modeler.Freq();
    const bool causal = r.causalReconstruction && modeler.DkCausal().size() == freq.size();
    for (std::size_t i = 0; i < freq.size(); ++i) {
        SampleRow row;
        row.freq = freq[i];
        row.dkMeasured = modeler.Dk()[i];
        row.dfMeasured = modeler.Df()[i];
        row.dkCausal = causal ? modeler.DkCausal()[i] : row.dkMeasured;
        row.dkFitted = fitted[i][1];
        row.dfFitted = fitted[i][2];
        r.rows.push_back(row);
    }
    std::stable_sort(r.rows.begin(), r.rows.end(),
                     [](const SampleRow& a, const SampleRow& b) { return a.freq < b.freq; });

    Analyse(r);
    CheckUsable(r);
    return r;
}

void Summarise(InputSummary& s, const ModelerAccess& m) {
    s.samples = m.Freq().size();
    if (!m.Freq().empty()) {
        s.minFreq = *std::min_element(m.Freq().begin(), m.Freq().end());
        s.maxFreq = *std::max_element(m.Freq().begin(), m.Freq().end());
    }
}

}  // namespace

ModelReport FitMaterialTable(const MaterialTable& table, const std::string& variable,
                             MaterialModeler* fitted) {
    DataTable rows;
    rows.reserve(table.freq.size());
    for (std::size_t i = 0; i < table.freq.size(); ++i)
        rows.push_back({table.freq[i], table.dk[i], table.loss[i]});

    ModelerAccess modeler;
    try {
        if (table.lossKind == LossKind::kConductivity)
            modeler.SetInputDataUsingConductivity(rows);
        else
            modeler.SetInputData(rows);
    } catch (const std::exception& e) {
        throw InputError(e.what());
    }
    Fit(modeler);

    InputSummary s;
    s.source = table.path;
    s.kind = table.lossKind == LossKind::kConductivity ? "conductivity" : "loss_tangent";
    s.format = table.format;
    s.freqUnit = table.freqUnit.name;
    s.header = !table.header.empty();
    s.reordered = table.reordered;
    Summarise(s, modeler);
    ModelReport r = Collect(modeler, std::move(s), variable);
    if (fitted) *fitted = modeler;
    return r;
}

ModelReport FitSinglePoint(const SinglePoint& p, const std::string& variable,
                           MaterialModeler* fitted) {
    auto require = [](bool ok, const std::string& what) {
        if (!ok) throw InputError(what);
    };
    const double values[] = {p.dk, p.df, p.freq, p.maxFreq, p.sigma, p.dcDk};
    require(std::all_of(std::begin(values), std::end(values),
                        [](double v) { return std::isfinite(v); }),
            "every single-point value must be a finite number");
    require(p.dk >= 1.0, "Dk " + FormatGeneral(p.dk, 6) + " is below 1");
    require(p.df >= 0.0, "Df " + FormatGeneral(p.df, 6) + " is negative");
    require(p.freq > 0.0, "the measurement frequency must be above 0 Hz");
    require(p.sigma >= 0.0, "the conductivity " + FormatGeneral(p.sigma, 6) + " is negative");
    require(p.dcDk == 0.0 || p.dcDk >= 1.0,
            "the dc Dk " + FormatGeneral(p.dcDk, 6) + " is below 1 (0 selects the default)");

    ModelerAccess modeler;
    modeler.SetInputData(p.dk, p.df, p.freq, p.maxFreq, p.sigma, p.dcDk);
    const auto& f = modeler.Freq();
    // Five samples per decade from 1 Hz: three need a top of at least 10^0.4 Hz.
    require(f.size() >= 3, "the maximum frequency " + FormatFrequency(p.maxFreq) +
                               " gives fewer than 3 samples (the table starts at 1 Hz)");
    for (std::size_t i = 0; i < f.size(); ++i) {
        const double dk = modeler.Dk()[i], df = modeler.Df()[i];
        require(std::isfinite(dk) && std::isfinite(df),
                "the single-point model is not finite at " + FormatFrequency(f[i]));
        // A dc Dk below the model's high-frequency Dk turns the relaxation
        // around: Dk falls towards 0 Hz and the loss becomes negative.
        require(df >= 0.0, "the single-point model has a negative loss tangent (" +
                               FormatGeneral(df, 3) + " at " + FormatFrequency(f[i]) +
                               "); is the dc Dk above the measured Dk?");
        require(dk >= 1.0, "the single-point model has a Dk below 1 (" + FormatGeneral(dk, 4) +
                               " at " + FormatFrequency(f[i]) + ")");
    }
    Fit(modeler);

    InputSummary s;
    s.source = "wideband";
    s.kind = "single_point";
    s.point = p;
    Summarise(s, modeler);
    ModelReport r = Collect(modeler, std::move(s), variable);
    if (fitted) *fitted = modeler;
    return r;
}

std::complex<double> EvaluateModel(const ModelReport& r, double freqHz) {
    const std::complex<double> s(0.0, kTwoPi * freqHz);
    std::complex<double> eps(r.epsInf, 0.0);
    for (std::size_t k = 0; k < r.poles.size(); ++k) eps += r.residues[k] / (s - r.poles[k]);
    return eps;
}

}  // namespace matmodel
