// The tool's job over many inputs: outputs named per input, written
// atomically, reports printed in input order, one exit status.
#include "report/run.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <complex>
#include <condition_variable>
#include <exception>
#include <filesystem>
#include <map>
#include <mutex>
#include <ostream>
#include <set>
#include <thread>
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
    std::vector<std::string> patterns = {out.table, out.plot, out.evalOut};
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

// What one input left for the streams: its report (or error document), its
// error line, and its exit status.
struct Outcome {
    int status = kExitOk;
    std::string out;
    std::string err;
    bool textReport = false;  // set off from an earlier text report by a blank line
};

// The model's Dk and Df at N log-spaced frequencies, as CSV.
std::string EvaluationCsv(const ModelReport& report, const Evaluation& eval) {
    std::string csv = "frequency_hz,dk,df\n";
    for (int i = 0; i < eval.points; ++i) {
        // Powers of ten land on round numbers this way (1e9, not 999999999.99...).
        const double lo = std::log10(eval.fromHz), hi = std::log10(eval.toHz);
        const double f = eval.points == 1 ? eval.fromHz
                                          : std::pow(10.0, lo + (hi - lo) * i / (eval.points - 1));
        const std::complex<double> eps = EvaluateModel(report, f);
        csv += FormatShortest(f) + "," + FormatShortest(eps.real()) + "," +
               FormatShortest(-eps.imag() / eps.real()) + "\n";
    }
    return csv;
}

// Writes the requested files and renders the report. Throws OutputError.
Outcome Emit(const ModelReport& report, const Outputs& out, const std::string& stem) {
    OutputList written;
    const auto write = [&](const char* kind, const std::string& pattern, const std::string& text) {
        written.emplace_back(kind, Expand(pattern, stem));
        WriteFileAtomically(written.back().second, text);
    };
    try {
        if (!out.table.empty()) write("table", out.table, ReportToCsv(report));
        if (!out.plot.empty()) write("plot", out.plot, RenderSvgPlot(report));
        if (!out.evalOut.empty()) write("evaluated", out.evalOut, EvaluationCsv(report, out.eval));
        for (const std::string& request : out.exports) {
            const auto [format, path] = SplitExport(request);
            written.emplace_back(format, Expand(path, stem));
            WriteFileAtomically(written.back().second,
                                ExportModel(report, format, {stem, out.c0, out.fmax}));
        }
    } catch (const std::runtime_error& e) {
        throw OutputError(e.what());
    }
    if (out.json) return {kExitOk, ReportToJson(report, written) + "\n", {}, false};
    return {kExitOk, ReportToText(report, written), {}, true};
}

// Runs one input through `fit` and collects its outcome; never throws.
template <typename FitFn>
Outcome RunOne(const Input& in, const std::string& source, const Outputs& out, FitFn fit) {
    auto fail = [&](int status, const std::string& message, int line = 0, const std::string& text = {}) {
        Outcome o{status, {}, message + "\n", false};
        if (out.json)
            o.out = ErrorToJson(source, status == kExitBadInput ? "bad_input" : "fit_failed", message, line, text) +
                    "\n";
        return o;
    };
    try {
        return Emit(fit(), out, in.stem);
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

// Prints outcomes in input order as they become ready and ranks their status.
class Printer {
public:
    Printer(std::ostream& out, std::ostream& err) : m_out(out), m_err(err) {}
    int Print(const Outcome& o) {
        m_out << (o.textReport && m_printedText ? "\n" : "") << o.out << std::flush;
        m_err << o.err << std::flush;
        m_printedText = m_printedText || o.textReport;
        m_status = std::max(m_status, o.status);
        return m_status;
    }
    int Status() const { return m_status; }

private:
    std::ostream& m_out;
    std::ostream& m_err;
    bool m_printedText = false;
    int m_status = kExitOk;
};

// Runs `count` inputs on up to `threads` threads; `run(k)` gives input k's
// outcome. Outcomes are printed in input order, each as soon as it and all
// before it are done.
template <typename RunFn>
int RunAll(std::size_t count, int threads, Printer& printer, RunFn run) {
    const std::size_t workers = std::min<std::size_t>(static_cast<std::size_t>(std::max(threads, 1)), count);
    if (workers <= 1) {
        for (std::size_t k = 0; k < count; ++k) printer.Print(run(k));
        return printer.Status();
    }
    std::vector<Outcome> outcomes(count);
    std::vector<char> done(count, 0);
    std::mutex mutex;
    std::condition_variable ready;
    std::atomic<std::size_t> next{0};
    std::vector<std::thread> pool;
    for (std::size_t w = 0; w < workers; ++w)
        pool.emplace_back([&] {
            for (std::size_t k; (k = next++) < count;) {
                Outcome o = run(k);
                const std::lock_guard<std::mutex> lock(mutex);
                outcomes[k] = std::move(o);
                done[k] = 1;
                ready.notify_all();
            }
        });
    for (std::size_t k = 0; k < count; ++k) {
        std::unique_lock<std::mutex> lock(mutex);
        ready.wait(lock, [&] { return done[k] != 0; });
        const Outcome o = std::move(outcomes[k]);
        lock.unlock();
        printer.Print(o);
    }
    for (std::thread& t : pool) t.join();
    return printer.Status();
}

}  // namespace

Evaluation ParseEvaluation(const std::string& text) {
    const std::size_t a = text.find(':');
    const std::size_t b = a == std::string::npos ? a : text.find(':', a + 1);
    if (b != std::string::npos) {
        const auto from = ParseFrequency(text.substr(0, a));
        const auto to = ParseFrequency(text.substr(a + 1, b - a - 1));
        const double points = ParseNumber(text.substr(b + 1)).value_or(0.0);
        if (from && to && points >= 1.0 && points <= 1e6 && points == std::floor(points))
            return {*from, *to, static_cast<int>(points)};
    }
    throw UsageError("--eval: \"" + text +
                     "\" is not F1:F2:N (two frequencies and a count of points, e.g. 1e6:1e11:201)");
}

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
    if (o.eval.points > 0 || !o.evalOut.empty()) {
        if (o.eval.points < 1 || o.evalOut.empty())
            throw UsageError("--eval F1:F2:N and --eval-out PATH go together");
        if (!(o.eval.fromHz > 0.0 && o.eval.toHz >= o.eval.fromHz && std::isfinite(o.eval.toHz)))
            throw UsageError("--eval: the frequencies must be above 0 Hz and rise (" +
                             FormatShortest(o.eval.fromHz) + " to " + FormatShortest(o.eval.toHz) + " Hz)");
    }
    if (job.jobs < 1) throw UsageError("--jobs: " + std::to_string(job.jobs) + " is not a number of threads");
    Printer printer(out, err);
    if (job.singlePoint) {
        const Input in{std::string(), "wideband"};
        CheckOutputNames(o, {in});
        return printer.Print(RunOne(in, "wideband", o, [&] { return FitSinglePoint(job.point, job.fit); }));
    }
    if (std::count(job.files.begin(), job.files.end(), kStandardInput) > 1)
        throw UsageError("standard input (-) can be read only once");
    std::vector<Input> inputs;
    for (const std::string& f : job.files)
        inputs.push_back({f == kStandardInput ? std::string() : f, f == kStandardInput ? "stdin" : Stem(f)});
    CheckOutputNames(o, inputs);
    return RunAll(inputs.size(), job.jobs, printer, [&](std::size_t k) {
        const std::string& path = job.files[k];
        const std::string source = path == kStandardInput ? "stdin" : path;
        return RunOne(inputs[k], source, o,
                      [&] { return FitMaterialTable(ReadMaterialFile(path, job.read), job.fit); });
    });
}

}  // namespace matmodel
