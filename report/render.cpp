// Text, JSON and CSV renderings of a model report.
#include "report/render.h"

#include <cmath>
#include <string>

#include <nlohmann/json.hpp>

#include "io/number_text.h"

namespace matmodel {
namespace {

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

// One document per line; a file name that is not UTF-8 must not abort.
std::string Dump(const nlohmann::ordered_json& doc) {
    return doc.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace

std::string ReportToJson(const ModelReport& r, const OutputList& outputs) {
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
    json steep = json::array();
    for (const SteepLoss& band : r.steepLoss)
        steep.push_back({{"from_hz", band.fromHz}, {"to_hz", band.toHz}, {"exponent", band.exponent}});

    const PassivityCheck& pc = r.passivity;
    json doc = {
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
          {"causal_dk_shift_max_relative", r.causalShift.relative},
          {"causal_dk_shift_max_at_hz", r.causalShift.freq},
          {"steep_loss", steep}}},
        {"conduction",
         {{"taken_out_s_per_m", r.conduction.sigma},
          {"given", r.conduction.given},
          {"wanted_s_per_m", r.conduction.wanted}}},
        {"engine",
         {{"order", r.engine.order},
          {"rms_error", r.engine.error},
          {"rms_target", r.engine.targetError},
          {"target_met", r.engine.targetMet},
          {"stopped", r.engine.reason}}},
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
    for (const auto& [kind, path] : outputs) doc["outputs"][kind] = path;
    return Dump(doc);
}

std::string ReportToText(const ModelReport& r, const OutputList& outputs) {
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
             : in.point                ? "; fitted as given (causal already)"
                                       : "; the measured Dk fitted as given (no Kramers-Kronig correction)";
    Field(out, "model", model);
    Field(out, "eps_inf", FormatGeneral(r.epsInf, 8));
    if (!r.debye.empty()) {
        Field(out, "Debye terms", Pad("delta_eps", 14) + "relaxation frequency");
        for (const DebyeTerm& t : r.debye)
            if (!t.conduction)
                Field(out, "", Pad(FormatGeneral(t.deltaEps, 6), 14) + FormatFrequency(t.relaxationHz, 5));
    }
    if (r.conduction.sigma > 0.0)
        Field(out, "conduction", ConductionNote(r.conduction));
    else if (r.dcConductivity > 0.0)
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
              (r.causalReconstruction ? " (vs the causal Dk)" : " (vs measured)") + ", Df " +
              FormatPercent(r.dfError.relative) + " at " + FormatFrequency(r.dfError.freq) + " (vs measured)");
    if (!r.engine.targetMet)
        Field(out, "engine", EngineNote(r.engine) + (r.conduction.sigma > 0.0 ? " (over the loss left without the conduction)" : ""));
    for (const SteepLoss& band : r.steepLoss) Field(out, "steep loss", SteepLossNote(band));
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
    for (const auto& [kind, path] : outputs) Field(out, kind.c_str(), path);
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

std::string ErrorToJson(const std::string& source, const std::string& status,
                        const std::string& message, int line, const std::string& text) {
    nlohmann::ordered_json error = {{"message", message}};
    if (line > 0) error["line"] = line;
    if (!text.empty()) error["text"] = text;
    return Dump({{"source", source}, {"status", status}, {"error", error}});
}

}  // namespace matmodel
