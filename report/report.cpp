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

bool AllFinite(const std::vector<std::complex<double>>& v) {
    return std::all_of(v.begin(), v.end(), [](const std::complex<double>& z) {
        return std::isfinite(z.real()) && std::isfinite(z.imag());
    });
}

// The lists the engine was given, and what it said.
struct Fitted {
    std::vector<double> dkTarget;
    EngineSummary engine;
    Conduction conduction;
};

// The largest relative Dk and Df errors of `modeler`'s record against the
// Dk the fit was given and the measured Df.
double WorstOfDkAndDf(const ModelerAccess& modeler, const std::vector<double>& dkTarget) {
    DataTable fitted;
    modeler.GetFittedData(fitted);
    double worst = 0.0;
    for (std::size_t i = 0; i < fitted.size(); ++i) {
        worst = std::max(worst, std::fabs(fitted[i][1] - dkTarget[i]) / dkTarget[i]);
        if (modeler.Freq()[i] > 0.0)
            worst = std::max(worst, std::fabs(fitted[i][2] - modeler.Df()[i]) / modeler.Df()[i]);
    }
    return std::isnan(worst) ? std::numeric_limits<double>::infinity() : worst;
}

// Runs the engine on what the fit is given: the loss less any conduction, the
// Dk made causal unless the correction is off. Conduction goes back into the
// record, which is left in the modeler. With a target on the largest Dk and
// Df errors, the engine's RMS target is lowered until the model meets it or
// more poles stop helping.
Fitted Fit(ModelerAccess& modeler, const FitOptions& options) {
    const bool causal = modeler.DoesHilbert() && !options.measuredDk;
    const std::vector<double>& freq = modeler.Freq();
    Fitted out;
    if (modeler.DoesHilbert()) out.conduction = ChooseConduction(freq, modeler.Dk(), modeler.Df(), options.sigma);
    std::vector<double> df = out.conduction.sigma > 0.0
                                 ? WithoutConduction(freq, modeler.Dk(), modeler.Df(), out.conduction.sigma)
                                 : modeler.Df();
    out.dkTarget = modeler.Dk();
    if (causal) {
        ModelerAccess rest;
        rest.SetSamples(freq, modeler.Dk(), df);
        rest.ReconstructCausalDk();
        out.dkTarget = rest.DkCausal();
        df = rest.DfCausal();
    }
    EngineSettings settings;
    settings.maxOrder = options.maxOrder;
    if (options.targetError > 0.0) settings.targetError = options.targetError;
    if (out.conduction.sigma > 0.0)
        settings.weights = LossShareWeights(freq, modeler.Dk(), modeler.Df(), out.conduction.sigma);
    const double lowest = freq.empty() ? 0.0 : *std::min_element(freq.begin(), freq.end());
    for (int lastOrder = -1;;) {
        polerat_data* record = nullptr;
        try {
            out.engine = FitPermittivity(freq, out.dkTarget, df, settings, record);
        } catch (const std::exception& e) {
            polerat_cleanup(record);
            std::string why = e.what();
            // The engine refuses a negative Dk; when the correction made it
            // so, say where it came from.
            const auto low = std::min_element(out.dkTarget.begin(), out.dkTarget.end());
            if (causal && low != out.dkTarget.end() && *low < 1.0) {
                if (!why.empty() && why.back() == '.') why.pop_back();
                why += "; the Kramers-Kronig Dk falls to " + FormatGeneral(*low, 4) + " at " +
                       FormatFrequency(freq[static_cast<std::size_t>(low - out.dkTarget.begin())]) +
                       ", so the loss is too high for a causal model of this band";
            }
            throw FitError("fit failed: " + why);
        }
        if (out.conduction.sigma > 0.0) AddConduction(*record, out.conduction.sigma, lowest);
        modeler.InstallRecord(record);
        if (!(options.targetError > 0.0) || out.engine.order >= options.maxOrder || out.engine.order == lastOrder ||
            WorstOfDkAndDf(modeler, out.dkTarget) <= options.targetError)
            break;
        lastOrder = out.engine.order;
        settings.targetError *= 0.5;
    }
    return out;
}

std::string Where(const WorstError& e) {
    return FormatPercent(e.relative) + " (at " + FormatFrequency(e.freq) + ")";
}

// A model that misses Dk or Df by more than kMissedFit does not describe the
// data, whatever the engine returned: say so, with the engine's own reason and
// any band of the data that no such model can follow.
void Judge(const ModelReport& r) {
    const double limit = r.targetError > 0.0 ? r.targetError : kMissedFit;
    if (!AllFinite(r.poles) || !AllFinite(r.residues) || !std::isfinite(r.epsInf))
        throw FitError("fit failed: the model holds non-finite values");
    std::string why;
    for (const SampleRow& row : r.rows)
        if (!(row.dkFitted > 0.0) || !std::isfinite(row.dfFitted)) {
            why = "the model gives Dk " + FormatGeneral(row.dkFitted, 4) + " at " + FormatFrequency(row.freq);
            break;
        }
    if (why.empty() && !(r.dkError.relative <= limit && r.dfError.relative <= limit))
        why = (r.targetError > 0.0 ? "the model misses the target of " + FormatPercent(r.targetError) + ": Dk by up to "
                                   : std::string("the model misses Dk by up to ")) +
              Where(r.dkError) + " and Df by up to " + Where(r.dfError);
    if (why.empty()) return;
    if (!r.engine.targetMet) why += "; " + EngineNote(r.engine);
    for (const SteepLoss& band : r.steepLoss) why += "; " + SteepLossNote(band);
    throw FitError("fit failed: " + why);
}

// Everything after the fit, common to both inputs.
ModelReport Collect(const ModelerAccess& modeler, InputSummary input, const FitOptions& options,
                    const Fitted& fit) {
    ModelReport r;
    r.input = std::move(input);
    r.causalReconstruction = modeler.DoesHilbert() && !options.measuredDk;
    r.variable = options.variable;
    r.engine = fit.engine;
    r.conduction = fit.conduction;
    r.targetError = options.targetError;

    DataTable fitted;
    modeler.GetFittedData(fitted);
    modeler.GetPolesAndResidues(r.poles, r.residues);
    r.epsInf = modeler.GetResidueAtInfinity();
    modeler.CreateExpressions(r.dfExpression, r.dkExpression, options.variable);
    r.order = r.poles.size();

    const auto& freq = modeler.Freq();
    for (std::size_t i = 0; i < freq.size(); ++i) {
        SampleRow row;
        row.freq = freq[i];
        row.dkMeasured = modeler.Dk()[i];
        row.dfMeasured = modeler.Df()[i];
        row.dkCausal = fit.dkTarget[i];
        row.dkFitted = fitted[i][1];
        row.dfFitted = fitted[i][2];
        r.rows.push_back(row);
    }
    std::stable_sort(r.rows.begin(), r.rows.end(),
                     [](const SampleRow& a, const SampleRow& b) { return a.freq < b.freq; });

    Analyse(r);
    Judge(r);
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

std::string EngineNote(const EngineSummary& e) {
    return "the engine stopped at order " + std::to_string(e.order) + " with an RMS error of " +
           FormatPercent(e.error) + " (target " + FormatPercent(e.targetError) + "): " + e.reason;
}

std::string SteepLossNote(const SteepLoss& band) {
    return "the measured loss rises like f^" + FormatGeneral(band.exponent, 2) + " from " +
           FormatFrequency(band.fromHz) + " to " + FormatFrequency(band.toHz) +
           ", faster than any sum of relaxations can follow";
}

ModelReport FitMaterialTable(const MaterialTable& table, const FitOptions& options,
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
    const Fitted fit = Fit(modeler, options);

    InputSummary s;
    s.source = table.path;
    s.kind = table.lossKind == LossKind::kConductivity ? "conductivity" : "loss_tangent";
    s.format = table.format;
    s.freqUnit = table.freqUnit.name;
    s.header = !table.header.empty();
    s.reordered = table.reordered;
    Summarise(s, modeler);
    ModelReport r = Collect(modeler, std::move(s), options, fit);
    if (fitted) *fitted = modeler;
    return r;
}

ModelReport FitSinglePoint(const SinglePoint& p, const FitOptions& options,
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
    const Fitted fit = Fit(modeler, options);

    InputSummary s;
    s.source = "wideband";
    s.kind = "single_point";
    s.point = p;
    Summarise(s, modeler);
    ModelReport r = Collect(modeler, std::move(s), options, fit);
    if (fitted) *fitted = modeler;
    return r;
}

std::complex<double> EvaluateModel(const ModelReport& r, double freqHz) {
    const std::complex<double> s(0.0, kTwoPi * freqHz);
    std::complex<double> eps(r.epsInf, 0.0);
    // r / d as r conj(d) / |d|^2: the library's complex division guards
    // against overflow no pole or frequency here comes near, at many times
    // the cost, and reports evaluate the model at thousands of frequencies.
    for (std::size_t k = 0; k < r.poles.size(); ++k) {
        const std::complex<double> d = s - r.poles[k];
        eps += r.residues[k] * std::conj(d) / std::norm(d);
    }
    return eps;
}

}  // namespace matmodel
