// matmodel: fit a causal multi-pole Debye model to measured dielectric data
// and show how good it is. Option parsing here; the work is in report.h,
// svg_plot.h and material_file.h.
#include <algorithm>
#include <exception>
#include <filesystem>
#include <iostream>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "adapter/orvelcore.h"
#include "cli/atomic_file.h"
#include "cli/material_file.h"
#include "cli/report.h"
#include "cli/svg_plot.h"

namespace {

// Exit statuses, in rank order: with several inputs the highest is returned,
// so bad input outranks a failed fit.
constexpr int kOk = 0;
constexpr int kFitFailed = 1;
constexpr int kBadInput = 2;

constexpr char kPlaceholder[] = "{}";

const char kDescription[] =
    "matmodel turns measured dielectric data (frequency, Dk, Df) into a causal, passive\n"
    "multi-pole Debye model, reports its terms, its error and its passivity, and writes\n"
    "the two expressions Dk(Freq) and Df(Freq) a field simulator evaluates.";

const char kInputHelp[] = R"(Input files:
  One sample per line: frequency, Dk, and Df (or a conductivity in S/m with
  --conductivity). Numbers separated by blanks, commas, tabs or semicolons
  (then a decimal comma is fine). An optional header line names the columns and
  may give the frequency unit, e.g. "Frequency (GHz), Dk, Df". '#' starts a
  comment.
)";

const char kFitExamples[] = R"(
Examples:
  matmodel fit examples/laminate.txt --plot laminate.svg
  matmodel fit examples/broadband.csv --table fitted.csv --json
  matmodel fit --conductivity examples/conductive.tsv
  matmodel fit --freq-unit GHz mydata.txt
  matmodel fit examples/*.txt examples/*.csv --plot '{}.svg'
)";

const char kWidebandExamples[] = R"(
Examples:
  matmodel wideband --dk 4.0 --df 0.02 --freq 1e9 --max-freq 1e10
  matmodel wideband --dk 3.5 --df 0.004 --freq 10GHz --max-freq 100GHz --dc-dk 3.7 --plot w.svg
)";

const char kExitStatus[] = R"(
Exit status: 0 when every input was fitted; 2 for bad input, options or output
paths (also when other inputs failed to fit); 1 when a fit failed.)";

class OutputError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct Outputs {
    bool json = false;
    std::string table;  // path template, "{}" stands for the input's name
    std::string plot;
    std::string variable;
};

std::string DefaultVariable() { return KString(val::kIntrinsicFreq).OEM(); }

std::string Expand(const std::string& pattern, const std::string& stem) {
    std::string out = pattern;
    for (std::size_t at; (at = out.find(kPlaceholder)) != std::string::npos;)
        out.replace(at, 2, stem);
    return out;
}

// A plain number, or one with a frequency unit when `unitAllowed`:
// "1e9", "10GHz", "2.5 MHz".
double ParseQuantity(const std::string& option, const std::string& text, bool unitAllowed) {
    if (auto v = matmodel::ParseNumber(text)) return *v;
    if (unitAllowed) {
        const std::size_t split = text.find_last_of("0123456789.") + 1;
        if (split > 0 && split < text.size()) {
            const auto number = matmodel::ParseNumber(text.substr(0, split));
            const auto unit = matmodel::ParseFrequencyUnit(text.substr(split));
            if (number && unit) return *number * unit->hertz;
        }
        throw UsageError(option + ": \"" + text +
                         "\" is not a frequency (a number in Hz, or with kHz, MHz, GHz, THz)");
    }
    throw UsageError(option + ": \"" + text + "\" is not a number");
}

bool IsIdentifier(const std::string& s) {
    if (s.empty()) return false;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const char c = s[i];
        const bool alpha = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
        if (!alpha && !(i > 0 && c >= '0' && c <= '9')) return false;
    }
    return true;
}

std::string Stem(const std::string& path) {
    return std::filesystem::path(path).stem().string();
}

// Output names must not collide with each other or overwrite an input.
// `inputs` pairs each input's path (empty for none) with its stem.
void CheckOutputNames(const Outputs& out,
                      const std::vector<std::pair<std::string, std::string>>& inputs) {
    std::set<std::filesystem::path> sources;
    std::error_code ec;
    for (const auto& in : inputs)
        if (!in.first.empty()) sources.insert(std::filesystem::weakly_canonical(in.first, ec));
    std::map<std::filesystem::path, std::string> written;
    for (const std::string* pattern : {&out.table, &out.plot}) {
        if (pattern->empty()) continue;
        if (inputs.size() > 1 && pattern->find(kPlaceholder) == std::string::npos)
            throw UsageError("with several input files, an output name must contain {} (the "
                             "input's name without extension): \"" +
                             *pattern + "\"");
        for (const auto& in : inputs) {
            const std::string name = Expand(*pattern, in.second);
            const auto canon = std::filesystem::weakly_canonical(name, ec);
            if (sources.count(canon))
                throw UsageError("output \"" + name + "\" would overwrite an input file");
            const auto [it, fresh] = written.emplace(canon, in.first);
            if (!fresh)
                throw UsageError("output \"" + name + "\" would be written twice (for " +
                                 it->second + " and " + in.first + ")");
        }
    }
}

nlohmann::ordered_json ErrorDocument(const std::string& source, const char* status,
                                     const std::string& message, int line,
                                     const std::string& text) {
    nlohmann::ordered_json error = {{"message", message}};
    if (line > 0) error["line"] = line;
    if (!text.empty()) error["text"] = text;
    return {{"source", source}, {"status", status}, {"error", error}};
}

void PrintJson(const nlohmann::ordered_json& doc) {
    // One document per line; a file name that is not UTF-8 must not abort.
    std::cout << doc.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << "\n"
              << std::flush;
}

// Writes the requested files, then prints the report. Throws OutputError.
// Text reports after the first are set off by a blank line.
void Emit(const matmodel::ModelReport& report, const Outputs& out, const std::string& stem,
          bool& printedBefore) {
    std::string table, plot;
    try {
        if (!out.table.empty()) {
            table = Expand(out.table, stem);
            matmodel::WriteFileAtomically(table, matmodel::ReportToCsv(report));
        }
        if (!out.plot.empty()) {
            plot = Expand(out.plot, stem);
            matmodel::WriteFileAtomically(plot, matmodel::RenderSvgPlot(report));
        }
    } catch (const std::runtime_error& e) {
        throw OutputError(e.what());
    }
    if (out.json) {
        nlohmann::ordered_json doc = matmodel::ReportToJson(report);
        if (!table.empty()) doc["outputs"]["table"] = table;
        if (!plot.empty()) doc["outputs"]["plot"] = plot;
        PrintJson(doc);
        return;
    }
    std::string text = matmodel::ReportToText(report);
    if (!table.empty()) text += "  table        " + table + "\n";
    if (!plot.empty()) text += "  plot         " + plot + "\n";
    std::cout << (printedBefore ? "\n" : "") << text << std::flush;
    printedBefore = true;
}

// Runs one input through `fit` and reports its outcome; never throws.
template <typename FitFn>
int RunOne(const std::string& source, const std::string& stem, const Outputs& out,
           bool& printedBefore, FitFn fit) {
    auto fail = [&](int status, const std::string& message, int line = 0,
                    const std::string& text = {}) {
        std::cerr << message << "\n" << std::flush;
        if (out.json)
            PrintJson(ErrorDocument(source, status == kBadInput ? "bad_input" : "fit_failed",
                                    message, line, text));
        return status;
    };
    try {
        Emit(fit(), out, stem, printedBefore);
        return kOk;
    } catch (const matmodel::MaterialFileError& e) {
        return fail(kBadInput, e.what(), e.Line(), e.Text());
    } catch (const matmodel::InputError& e) {
        return fail(kBadInput, source + ": " + e.what());
    } catch (const OutputError& e) {
        return fail(kBadInput, source + ": " + e.what());
    } catch (const matmodel::FitError& e) {
        return fail(kFitFailed, source + ": " + e.what());
    } catch (const std::exception& e) {
        return fail(kFitFailed, source + ": " + e.what());
    } catch (...) {
        return fail(kFitFailed, source + ": fit failed");
    }
}

void AddOutputOptions(CLI::App& cmd, Outputs& out) {
    cmd.add_flag("--json", out.json, "Print one JSON document per input (one per line)");
    cmd.add_option("--table", out.table,
                   "Write frequency, measured Dk/Df, causal Dk, fitted Dk/Df as CSV")
        ->type_name("OUT.csv");
    cmd.add_option("--plot", out.plot, "Write an SVG plot of measured against fitted Dk and Df")
        ->type_name("OUT.svg");
    cmd.add_option("--var", out.variable,
                   "Frequency variable of the expressions (default: " + DefaultVariable() + ")")
        ->type_name("NAME");
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{kDescription, "matmodel"};
    // The top-level help shows every example under one heading.
    const std::string examplesHeading = "\nExamples:\n";
    app.footer(std::string(kInputHelp) + kFitExamples +
               std::string(kWidebandExamples).substr(examplesHeading.size()) + kExitStatus);
    app.set_version_flag("--version", std::string("matmodel ") + MATMODEL_VERSION);
    app.require_subcommand(1);

    Outputs out;
    std::vector<std::string> files;
    std::string freqUnit;
    bool conductivity = false;
    CLI::App* fit = app.add_subcommand("fit", "Fit the samples of one or more material files");
    fit->add_option("FILE", files, "Material file(s): frequency, Dk, Df per line")
        ->required()
        ->type_name("");
    fit->add_flag("--conductivity", conductivity,
                  "The third column is a conductivity in S/m, not a loss tangent");
    fit->add_option("--freq-unit", freqUnit,
                    "Unit of the frequency column: Hz, kHz, MHz, GHz or THz (default: the "
                    "header's, else Hz)")
        ->type_name("UNIT");
    AddOutputOptions(*fit, out);
    fit->footer(std::string(kInputHelp) + kFitExamples + kExitStatus);

    std::string dk, df, freq, maxFreq, sigma = "0", dcDk = "0";
    CLI::App* wide = app.add_subcommand(
        "wideband", "Model a material from one measured point (wideband Debye model)");
    wide->add_option("--dk", dk, "Dk measured at --freq")->required()->type_name("D");
    wide->add_option("--df", df, "Df measured at --freq")->required()->type_name("F");
    wide->add_option("--freq", freq, "Measurement frequency (Hz, or e.g. 1GHz)")
        ->required()
        ->type_name("HZ");
    wide->add_option("--max-freq", maxFreq, "Highest frequency of the model's table")
        ->required()
        ->type_name("HZ");
    wide->add_option("--sigma", sigma, "dc conductivity in S/m (default 0)")->type_name("S");
    wide->add_option("--dc-dk", dcDk, "Dk at 0 Hz (default: 1 + 10 Df times the high-frequency Dk)")
        ->type_name("D");
    AddOutputOptions(*wide, out);
    wide->footer(std::string(kWidebandExamples).substr(1) + kExitStatus);

    if (argc <= 1) {
        std::cerr << app.help();
        return kBadInput;
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0) return app.exit(e);  // --help, --version
        std::cerr << "matmodel: " << e.what() << " (see matmodel --help)\n";
        return kBadInput;
    }

    try {
        if (out.variable.empty()) out.variable = DefaultVariable();
        if (!IsIdentifier(out.variable))
            throw UsageError("--var: \"" + out.variable +
                             "\" is not a name (letters, digits and _, not starting with a digit)");

        int status = kOk;
        bool printed = false;
        if (fit->parsed()) {
            matmodel::ReadOptions options;
            if (!freqUnit.empty()) {
                const auto unit = matmodel::ParseFrequencyUnit(freqUnit);
                if (!unit)
                    throw UsageError("--freq-unit: \"" + freqUnit +
                                     "\" is not one of Hz, kHz, MHz, GHz, THz");
                options.freqUnit = unit->name;
            }
            if (conductivity) options.lossKind = matmodel::LossKind::kConductivity;
            std::vector<std::pair<std::string, std::string>> inputs;
            for (const auto& f : files) inputs.emplace_back(f, Stem(f));
            CheckOutputNames(out, inputs);
            for (const std::string& path : files) {
                status = std::max(status, RunOne(path, Stem(path), out, printed, [&] {
                                      return matmodel::FitMaterialTable(
                                          matmodel::ReadMaterialFile(path, options),
                                          out.variable);
                                  }));
            }
        } else {
            matmodel::SinglePoint p;
            p.dk = ParseQuantity("--dk", dk, false);
            p.df = ParseQuantity("--df", df, false);
            p.freq = ParseQuantity("--freq", freq, true);
            p.maxFreq = ParseQuantity("--max-freq", maxFreq, true);
            p.sigma = ParseQuantity("--sigma", sigma, false);
            p.dcDk = ParseQuantity("--dc-dk", dcDk, false);
            CheckOutputNames(out, {{std::string(), "wideband"}});
            status = RunOne("wideband", "wideband", out, printed,
                            [&] { return matmodel::FitSinglePoint(p, out.variable); });
        }
        return status;
    } catch (const UsageError& e) {
        std::cerr << "matmodel: " << e.what() << "\n";
        return kBadInput;
    } catch (const std::exception& e) {
        std::cerr << "matmodel: " << e.what() << "\n";
        return kFitFailed;
    } catch (...) {
        std::cerr << "matmodel: unexpected failure\n";
        return kFitFailed;
    }
}
