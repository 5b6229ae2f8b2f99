// The tool's job over many inputs: outputs named per input, written
// atomically, reports printed in input order, one exit status.
#include "report/run.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <filesystem>
#include <map>
#include <ostream>
#include <set>
#include <utility>

#include "io/atomic_file.h"
#include "io/number_text.h"
#include "report/render.h"
#include "report/svg_plot.h"

namespace matmodel {
namespace {

constexpr char kPlaceholder[] = "{}";

// An output file could not be written: bad input to the tool, not a failed fit.
class OutputError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

std::string Expand(const std::string& pattern, const std::string& stem) {
    std::string out = pattern;
    for (std::size_t at; (at = out.find(kPlaceholder)) != std::string::npos;)
        out.replace(at, 2, stem);
    return out;
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

// One input: its path (empty for none) and the stem its outputs are named by.
struct Input {
    std::string path;
    std::string stem;
};

// "FORMAT:PATH" of --export as its format and path. Throws UsageError.
std::pair<std::string, std::string> SplitExport(const std::string& request) {
    const std::size_t colon = request.find(':');
    const std::string format = LowerAscii(request.substr(0, colon));
    if (colon == std::string::npos || colon + 1 == request.size() || !IsExportFormat(format))
        throw UsageError("--export: \"" + request +
                         "\" is not FORMAT:PATH with FORMAT spice, openems or gprmax");
    return {format, request.substr(colon + 1)};
}

// Output names must not collide with each other or overwrite an input.
void CheckOutputNames(const Outputs& out, const std::vector<Input>& inputs) {
    std::set<std::filesystem::path> sources;
    std::error_code ec;
    for (const Input& in : inputs)
        if (!in.path.empty()) sources.insert(std::filesystem::weakly_canonical(in.path, ec));
    std::map<std::filesystem::path, std::string> written;
    std::vector<std::string> patterns = {out.table, out.plot};
    for (const std::string& e : out.exports) patterns.push_back(SplitExport(e).second);
    for (const std::string& pattern : patterns) {
        if (pattern.empty()) continue;
        if (inputs.size() > 1 && pattern.find(kPlaceholder) == std::string::npos)
            throw UsageError("with several input files, an output name must contain {} (the "
                             "input's name without extension): \"" +
                             pattern + "\"");
        for (const Input& in : inputs) {
            const std::string name = Expand(pattern, in.stem);
            const auto canon = std::filesystem::weakly_canonical(name, ec);
            if (sources.count(canon))
                throw UsageError("output \"" + name + "\" would overwrite an input file");
            const auto [it, fresh] = written.emplace(canon, in.path);
            if (!fresh)
                throw UsageError("output \"" + name + "\" would be written twice (for " +
                                 it->second + " and " + in.path + ")");
        }
    }
}

// Writes the requested files, then prints the report. Throws OutputError.
// Text reports after the first are set off by a blank line.
void Emit(const ModelReport& report, const Outputs& out, const std::string& stem,
          std::ostream& os, bool& printedBefore) {
    OutputList written;
    try {
        if (!out.table.empty()) {
            written.emplace_back("table", Expand(out.table, stem));
            WriteFileAtomically(written.back().second, ReportToCsv(report));
        }
        if (!out.plot.empty()) {
            written.emplace_back("plot", Expand(out.plot, stem));
            WriteFileAtomically(written.back().second, RenderSvgPlot(report));
        }
        for (const std::string& request : out.exports) {
            const auto [format, path] = SplitExport(request);
            written.emplace_back(format, Expand(path, stem));
            WriteFileAtomically(written.back().second,
                                ExportModel(report, format, {stem, out.c0, out.fmax}));
        }
    } catch (const std::runtime_error& e) {
        throw OutputError(e.what());
    }
    if (out.json) {
        os << ReportToJson(report, written) << "\n" << std::flush;
        return;
    }
    os << (printedBefore ? "\n" : "") << ReportToText(report, written) << std::flush;
    printedBefore = true;
}

// Runs one input through `fit` and reports its outcome; never throws.
template <typename FitFn>
int RunOne(const Input& in, const std::string& source, const Outputs& out, std::ostream& os,
           std::ostream& err, bool& printedBefore, FitFn fit) {
    auto fail = [&](int status, const std::string& message, int line = 0,
                    const std::string& text = {}) {
        err << message << "\n" << std::flush;
        if (out.json)
            os << ErrorToJson(source, status == kExitBadInput ? "bad_input" : "fit_failed", message,
                              line, text)
               << "\n"
               << std::flush;
        return status;
    };
    try {
        Emit(fit(), out, in.stem, os, printedBefore);
        return kExitOk;
    } catch (const MaterialFileError& e) {
        return fail(kExitBadInput, e.what(), e.Line(), e.Text());
    } catch (const InputError& e) {
        return fail(kExitBadInput, source + ": " + e.what());
    } catch (const OutputError& e) {
        return fail(kExitBadInput, source + ": " + e.what());
    } catch (const std::exception& e) {
        return fail(kExitFitFailed, source + ": " + e.what());
    } catch (...) {
        return fail(kExitFitFailed, source + ": fit failed");
    }
}

}  // namespace

double ParseOptionValue(const std::string& option, const std::string& text, bool frequency) {
    if (frequency) {
        if (auto v = ParseFrequency(text)) return *v;
        throw UsageError(option + ": \"" + text +
                         "\" is not a frequency (a number in Hz, or with kHz, MHz, GHz, THz)");
    }
    if (auto v = ParseNumber(text)) return *v;
    throw UsageError(option + ": \"" + text + "\" is not a number");
}

int RunJob(const Job& job, std::ostream& out, std::ostream& err) {
    const Outputs& o = job.outputs;
    if (!IsIdentifier(job.fit.variable))
        throw UsageError("--var: \"" + job.fit.variable +
                         "\" is not a name (letters, digits and _, not starting with a digit)");
    if (!(o.c0 > 0.0 && std::isfinite(o.c0)))
        throw UsageError("--c0: " + FormatShortest(o.c0) + " F is not a positive capacitance");
    if (!(o.fmax >= 0.0 && std::isfinite(o.fmax)))
        throw UsageError("--fmax: " + FormatShortest(o.fmax) + " Hz is not a positive frequency");
    int status = kExitOk;
    bool printed = false;
    if (job.singlePoint) {
        const Input in{std::string(), "wideband"};
        CheckOutputNames(o, {in});
        return RunOne(in, "wideband", o, out, err, printed,
                      [&] { return FitSinglePoint(job.point, job.fit); });
    }
    std::vector<Input> inputs;
    for (const std::string& f : job.files) inputs.push_back({f, Stem(f)});
    CheckOutputNames(o, inputs);
    for (const Input& in : inputs)
        status = std::max(status, RunOne(in, in.path, o, out, err, printed, [&] {
                              return FitMaterialTable(ReadMaterialFile(in.path, job.read), job.fit);
                          }));
    return status;
}

}  // namespace matmodel
