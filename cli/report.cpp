// Model report: one fit, read out and judged.
#include "cli/report.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <limits>
#include <string>

#include <nlohmann/json.hpp>

#include "cli/number_text.h"
#include "modeler/MaterialModeler.h"

namespace matmodel {
namespace {

constexpr double kTwoPi = 6.283185307179586;
constexpr double kE0 = 8.854187817e-12;  // F/m
// A relaxation this far below the lowest sample is indistinguishable from
// dc conduction (1/s) over the whole band.
constexpr double kConductionBelow = 1e-3;

// The passivity grid runs from 0 Hz and then logarithmically from three decades
// below the lowest of the data and the relaxation frequencies to three decades
// above the highest: every Debye term has turned fully on and fully off there.
constexpr double kPassivityMargin = 1e3;
constexpr double kPassivityPointsPerDecade = 50.0;
constexpr std::size_t kPassivityMaxPoints = 20000;
// Df is a sum of non-negative terms for a passive record; a sum of ~100 terms
// rounded in double precision may come out a few ulps below zero for pairs.
constexpr double kPassivityTolerance = 1e-12;

// The engine aims at 0.1 % RMS. A model 200 times worse than that at some
// sample does not describe the data: the fit has failed, whatever it returned.
constexpr double kUnusableFitError = 0.2;

// Gives the report access to the modeler's own lists: the measured values as
// stored (Df floor, conductivity converted) and the Dk target of the fit.
class ReportingModeler : public MaterialModeler {
public:
    const std::vector<double>& Freq() const { return m_freq; }
    const std::vector<double>& Dk() const { return m_dk; }
    const std::vector<double>& Df() const { return m_df; }
    const std::vector<double>& DkCausal() const { return m_dkCausal; }
    bool HilbertRan() const { return m_doHilbert; }
};

bool AllFinite(const std::vector<std::complex<double>>& v) {
    return std::all_of(v.begin(), v.end(), [](const std::complex<double>& z) {
        return std::isfinite(z.real()) && std::isfinite(z.imag());
    });
}

void Fit(ReportingModeler& modeler) {
    try {
        modeler.FitData();
    } catch (const std::exception& e) {
        std::string why = e.what();
        // The engine sees only the causal Dk; tell the user where it came from.
        const auto& causal = modeler.DkCausal();
        const auto low = std::min_element(causal.begin(), causal.end());
        if (modeler.HilbertRan() && low != causal.end() && *low < 1.0) {
            if (!why.empty() && why.back() == '.') why.pop_back();
            const std::size_t at = static_cast<std::size_t>(low - causal.begin());
            why += "; the Kramers-Kronig Dk falls to " + FormatGeneral(*low, 4) + " at " +
                   FormatFrequency(modeler.Freq()[at]) + ", so the loss is too high for a causal model of this band";
        }
        throw FitError("fit failed: " + why);
    }
}

WorstError Worst(const std::vector<SampleRow>& rows, double SampleRow::*value,
                 double SampleRow::*reference) {
    WorstError worst;
    for (const SampleRow& row : rows) {
        const double ref = row.*reference;
        const double rel = std::fabs(row.*value - ref) / std::fabs(ref);
        if (rel > worst.relative || std::isnan(rel)) {
            worst.relative = rel;
            worst.freq = row.freq;
            if (std::isnan(rel)) break;
        }
    }
    return worst;
}

void SplitPoles(ModelReport& r) {
    double lowest = 0.0;
    for (const SampleRow& row : r.rows)
        if (row.freq > 0.0 && (lowest == 0.0 || row.freq < lowest)) lowest = row.freq;
    for (std::size_t k = 0; k < r.poles.size(); ++k) {
        const std::complex<double> p = r.poles[k];
        if (p.imag() == 0.0) {
            const double a = std::fabs(p.real());
            DebyeTerm t{r.residues[k].real() / a, a / kTwoPi, p.real(), r.residues[k].real(), false};
            t.conduction = lowest > 0.0 && t.relaxationHz < kConductionBelow * lowest;
            if (t.conduction) r.dcConductivity += t.residue * kE0;
            r.debye.push_back(t);
        } else if (p.imag() > 0.0) {
            r.pairs.push_back({p, r.residues[k]});
        }
    }
    std::stable_sort(r.debye.begin(), r.debye.end(), [](const DebyeTerm& a, const DebyeTerm& b) {
        return a.relaxationHz < b.relaxationHz;
    });
}

// The largest relative distance between the model and what it was asked to
// match, eps = Dk (1 - j Df) with the causal Dk: the complex error keeps a
// tiny Df from dominating.
WorstError TargetError(const std::vector<SampleRow>& rows) {
    WorstError worst;
    for (const SampleRow& row : rows) {
        const std::complex<double> target(row.dkCausal, -row.dkCausal * row.dfMeasured);
        const std::complex<double> model(row.dkFitted, -row.dkFitted * row.dfFitted);
        const double rel = std::abs(model - target) / std::abs(target);
        if (rel > worst.relative || std::isnan(rel)) {
            worst.relative = rel;
            worst.freq = row.freq;
            if (std::isnan(rel)) break;
        }
    }
    return worst;
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
ModelReport Collect(const ReportingModeler& modeler, InputSummary input,
                    const std::string& variable) {
    ModelReport r;
    r.input = std::move(input);
    r.causalReconstruction = modeler.HilbertRan();
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

    r.targetError = TargetError(r.rows);
    CheckUsable(r);

    SplitPoles(r);
    r.staticDk = EvaluateModel(r, 0.0).real();
    for (const DebyeTerm& t : r.debye)
        if (t.conduction) r.staticDk -= t.deltaEps;
    r.dkError = Worst(r.rows, &SampleRow::dkFitted, &SampleRow::dkMeasured);
    r.dfError = Worst(r.rows, &SampleRow::dfFitted, &SampleRow::dfMeasured);
    r.causalShift = Worst(r.rows, &SampleRow::dkCausal, &SampleRow::dkMeasured);
    r.passivity = CheckPassivity(r);
    return r;
}

void Summarise(InputSummary& s, const ReportingModeler& m) {
    s.samples = m.Freq().size();
    if (!m.Freq().empty()) {
        s.minFreq = *std::min_element(m.Freq().begin(), m.Freq().end());
        s.maxFreq = *std::max_element(m.Freq().begin(), m.Freq().end());
    }
}

nlohmann::ordered_json Complex(std::complex<double> z) {
    return {{"re", z.real()}, {"im", z.imag()}};
}

// Text report: a label column and its value.
void Field(std::string& out, const char* label, const std::string& value) {
    std::string line = "  ";
    line += label;
    line.resize(15, ' ');
    out += line + value + "\n";
}

std::string Pad(std::string s, std::size_t width) {
    if (s.size() < width) s.resize(width, ' ');
    return s;
}

}  // namespace

ModelReport FitMaterialTable(const MaterialTable& table, const std::string& variable,
                             MaterialModeler* fitted) {
    DataTable rows;
    rows.reserve(table.freq.size());
    for (std::size_t i = 0; i < table.freq.size(); ++i)
        rows.push_back({table.freq[i], table.dk[i], table.loss[i]});

    ReportingModeler modeler;
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

    ReportingModeler modeler;
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

PassivityCheck CheckPassivity(const ModelReport& r) {
    double lo = std::numeric_limits<double>::infinity();
    double hi = 0.0;
    for (const SampleRow& row : r.rows)
        if (row.freq > 0.0) {
            lo = std::min(lo, row.freq);
            hi = std::max(hi, row.freq);
        }
    for (const std::complex<double>& p : r.poles) {
        const double f = std::abs(p) / kTwoPi;
        if (f > 0.0 && std::isfinite(f)) {
            lo = std::min(lo, f);
            hi = std::max(hi, f);
        }
    }
    if (!(lo <= hi)) lo = hi = 1.0;
    lo /= kPassivityMargin;
    hi *= kPassivityMargin;
    const double decades = std::log10(hi / lo);
    const auto steps = static_cast<std::size_t>(std::min(
        static_cast<double>(kPassivityMaxPoints), std::ceil(decades * kPassivityPointsPerDecade)));

    PassivityCheck check;
    check.fromHz = 0.0;
    check.toHz = hi;
    check.minDf = std::numeric_limits<double>::infinity();
    check.minDk = std::numeric_limits<double>::infinity();
    auto visit = [&](double f) {
        const std::complex<double> eps = EvaluateModel(r, f);
        const double dk = eps.real();
        // At 0 Hz the loss of a passive model is exactly zero.
        const double df = f == 0.0 ? 0.0 : -eps.imag() / eps.real();
        ++check.points;
        if (dk < check.minDk || std::isnan(dk)) {
            check.minDk = dk;
            check.minDkFreq = f;
        }
        if (df < check.minDf || std::isnan(df)) {
            check.minDf = df;
            check.minDfFreq = f;
        }
    };
    visit(0.0);
    for (std::size_t i = 0; i <= steps; ++i)
        visit(lo * std::pow(10.0, decades * static_cast<double>(i) / static_cast<double>(steps)));
    check.passive = check.minDk > 0.0 && check.minDf >= -kPassivityTolerance;
    return check;
}

nlohmann::ordered_json ReportToJson(const ModelReport& r) {
    // Insertion order: a person reading the document sees source and status first.
    using json = nlohmann::ordered_json;
    const InputSummary& in = r.input;
    json input = {{"kind", in.kind},
                  {"samples", in.samples},
                  {"min_frequency_hz", in.minFreq},
                  {"max_frequency_hz", in.maxFreq}};
    if (in.point) {
        input["dk"] = in.point->dk;
        input["df"] = in.point->df;
        input["frequency_hz"] = in.point->freq;
        input["max_frequency_hz_requested"] = in.point->maxFreq;
        input["sigma_s_per_m"] = in.point->sigma;
        input["dc_dk"] = in.point->dcDk;
    } else {
        input["format"] = in.format;
        input["header"] = in.header;
        input["frequency_unit"] = in.freqUnit;
        input["sorted_by_tool"] = in.reordered;
    }

    json poles = json::array(), residues = json::array(), debye = json::array(),
         pairs = json::array();
    for (const auto& p : r.poles) poles.push_back(Complex(p));
    for (const auto& z : r.residues) residues.push_back(Complex(z));
    for (const DebyeTerm& t : r.debye)
        debye.push_back({{"delta_eps", t.deltaEps},
                         {"relaxation_frequency_hz", t.relaxationHz},
                         {"pole", t.pole},
                         {"residue", t.residue},
                         {"conduction", t.conduction}});
    for (const ComplexPair& c : r.pairs)
        pairs.push_back({{"pole", Complex(c.pole)}, {"residue", Complex(c.residue)}});

    const PassivityCheck& pc = r.passivity;
    return {
        {"source", in.source},
        {"status", "ok"},
        {"input", input},
        {"model",
         {{"order", r.order},
          {"causal_reconstruction", r.causalReconstruction},
          {"residue_at_infinity", r.epsInf},
          {"static_dk", r.staticDk},
          {"dc_conductivity_s_per_m", r.dcConductivity},
          {"poles", poles},
          {"residues", residues},
          {"debye_terms", debye},
          {"complex_pairs", pairs}}},
        {"errors",
         {{"dk_max_relative", r.dkError.relative},
          {"dk_max_at_hz", r.dkError.freq},
          {"df_max_relative", r.dfError.relative},
          {"df_max_at_hz", r.dfError.freq},
          {"fit_target_max_relative", r.targetError.relative},
          {"fit_target_max_at_hz", r.targetError.freq},
          {"causal_dk_shift_max_relative", r.causalShift.relative},
          {"causal_dk_shift_max_at_hz", r.causalShift.freq}}},
        {"passivity",
         {{"passive", pc.passive},
          {"min_df", pc.minDf},
          {"min_df_at_hz", pc.minDfFreq},
          {"min_dk", pc.minDk},
          {"min_dk_at_hz", pc.minDkFreq},
          {"checked_from_hz", pc.fromHz},
          {"checked_to_hz", pc.toHz},
          {"points", pc.points}}},
        {"expressions", {{"variable", r.variable}, {"dk", r.dkExpression}, {"df", r.dfExpression}}},
    };
}

std::string ReportToText(const ModelReport& r) {
    const InputSummary& in = r.input;
    std::string out = in.source + "\n";

    std::string samples = std::to_string(in.samples) + ", " + FormatFrequency(in.minFreq) +
                          " to " + FormatFrequency(in.maxFreq);
    if (in.point) {
        samples += " (single point: Dk " + FormatGeneral(in.point->dk, 6) + ", Df " +
                   FormatGeneral(in.point->df, 6) + " at " + FormatFrequency(in.point->freq);
        if (in.point->sigma > 0) samples += ", sigma " + FormatGeneral(in.point->sigma, 6) + " S/m";
        if (in.point->dcDk > 0) samples += ", dc Dk " + FormatGeneral(in.point->dcDk, 6);
        samples += ")";
    } else {
        samples += " (" + std::string(in.kind == "conductivity" ? "conductivity" : "loss tangent") +
                   "; " + in.format + ", " + in.freqUnit + (in.header ? ", header" : "") +
                   (in.reordered ? ", sorted by frequency" : "") + ")";
    }
    Field(out, "samples", samples);

    std::string model = "order " + std::to_string(r.order) + ": " +
                        std::to_string(r.debye.size()) + " real pole" +
                        (r.debye.size() == 1 ? "" : "s");
    if (!r.pairs.empty()) model += ", " + std::to_string(r.pairs.size()) + " complex pair(s)";
    model += r.causalReconstruction ? "; Dk made causal (Kramers-Kronig) before the fit"
                                    : "; fitted as given (causal already)";
    Field(out, "model", model);
    Field(out, "eps_inf", FormatGeneral(r.epsInf, 8));
    if (!r.debye.empty()) {
        Field(out, "Debye terms", Pad("delta_eps", 14) + "relaxation frequency");
        for (const DebyeTerm& t : r.debye)
            if (!t.conduction)
                Field(out, "", Pad(FormatGeneral(t.deltaEps, 6), 14) + FormatFrequency(t.relaxationHz, 5));
    }
    if (r.dcConductivity > 0.0)
        Field(out, "conduction", "sigma " + FormatGeneral(r.dcConductivity, 6) +
                                     " S/m (a pole far below the band, acting as 1/s)");
    for (const ComplexPair& c : r.pairs)
        Field(out, "complex pair",
              "pole " + FormatGeneral(c.pole.real(), 6) + " +/- j" +
                  FormatGeneral(std::fabs(c.pole.imag()), 6) + " rad/s, residue " +
                  FormatGeneral(c.residue.real(), 6) + (c.residue.imag() < 0 ? " -/+ j" : " +/- j") +
                  FormatGeneral(std::fabs(c.residue.imag()), 6));
    Field(out, "Dk at 0 Hz", FormatGeneral(r.staticDk, 6) +
                                           (r.dcConductivity > 0.0 ? " (without conduction)" : ""));
    Field(out, "max error",
          "Dk " + FormatPercent(r.dkError.relative) + " at " + FormatFrequency(r.dkError.freq) +
              ", Df " + FormatPercent(r.dfError.relative) + " at " +
              FormatFrequency(r.dfError.freq) + " (fitted vs measured)");
    if (r.causalReconstruction)
        Field(out, "causality", "the Kramers-Kronig correction moves Dk by up to " +
                                    FormatPercent(r.causalShift.relative) + " (at " +
                                    FormatFrequency(r.causalShift.freq) + ")");
    const PassivityCheck& pc = r.passivity;
    const std::string range = std::to_string(pc.points) + " frequencies from 0 Hz to " +
                              FormatFrequency(pc.toHz, 3);
    if (pc.passive)
        Field(out, "passive", "yes: Df >= 0 at " + range);
    else
        Field(out, "passive", "NO: min Df " + FormatGeneral(pc.minDf, 3) + " at " +
                                  FormatFrequency(pc.minDfFreq) + ", min Dk " +
                                  FormatGeneral(pc.minDk, 4) + " at " +
                                  FormatFrequency(pc.minDkFreq) + " (" + range + ")");
    out += "  Dk(" + r.variable + ") = " + r.dkExpression + "\n";
    out += "  Df(" + r.variable + ") = " + r.dfExpression + "\n";
    return out;
}

std::string ReportToCsv(const ModelReport& r) {
    std::string out = "frequency_hz,dk_measured,df_measured,dk_causal,dk_fitted,df_fitted\n";
    for (const SampleRow& row : r.rows) {
        out += FormatShortest(row.freq) + "," + FormatShortest(row.dkMeasured) + "," +
               FormatShortest(row.dfMeasured) + "," + FormatShortest(row.dkCausal) + "," +
               FormatShortest(row.dkFitted) + "," + FormatShortest(row.dfFitted) + "\n";
    }
    return out;
}

}  // namespace matmodel
