// polerat entry points: a thin shim that checks the input, names the
// positional settings, runs the fit and fills the record, the summary and the
// log.
#include "fitting/polerat.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <stdexcept>
#include <string>

#include "fitting/engine.h"
#include "fitting/text.h"

namespace {

using polerat::detail::AppendSci;
using polerat::detail::Num;
using polerat::detail::Options;

// The model's coefficients are products of samples, pole frequencies and their
// squares; within these limits none of them leaves the range of a double.
constexpr double kLowestFrequency = 1e-30;   // Hz
constexpr double kHighestFrequency = 1e30;   // Hz
constexpr double kLargestSample = 1e100;

[[noreturn]] void Reject(const std::string& sentence) { throw std::invalid_argument(sentence); }

void CheckSettings(const Options& o, int weighting, int startPoles) {
    if (!(o.targetError >= 0.0) || !std::isfinite(o.targetError))
        Reject("The target error must be a finite number of at least 0; it is " + Num(o.targetError) + ".");
    if (o.maxOrder < 1) Reject("The largest order must be at least 1; it is " + std::to_string(o.maxOrder) + ".");
    if (o.minOrder < 1 || o.minOrder > o.maxOrder)
        Reject("The starting order must lie between 1 and the largest order (" +
               std::to_string(o.maxOrder) + "); it is " + std::to_string(o.minOrder) + ".");
    if (o.fixedOrder < 0) Reject("The fixed order must be 0 (automatic) or more; it is " + std::to_string(o.fixedOrder) + ".");
    if (o.maxIterations < 0)
        Reject("The number of iterations must be 0 (default) or more; it is " + std::to_string(o.maxIterations) + ".");
    if (weighting < 0 || weighting > 2)
        Reject("The weighting must be 0, 1 or 2; it is " + std::to_string(weighting) + ".");
    if (o.orderStep < 1) Reject("The order step must be at least 1; it is " + std::to_string(o.orderStep) + ".");
    if (o.stallPatience < 1)
        Reject("The stall patience must be at least 1; it is " + std::to_string(o.stallPatience) + ".");
    if (!(o.stallRatio < 1.0)) Reject("The stall ratio must be below 1; it is " + Num(o.stallRatio) + ".");
    if (startPoles != 1 && startPoles != 2)
        Reject("The starting poles must be 1 (real) or 2 (complex pairs); it is " + std::to_string(startPoles) + ".");
    if (startPoles == 2 && !o.allowComplex)
        Reject("Complex starting poles need complex pairs to be allowed.");
}

// A frequency listed twice, if any: equal neighbours are the usual reason for
// not-a-number samples upstream (a derivative over a zero-width step).
bool FindRepeated(const std::vector<double>& freq, double& repeated) {
    std::vector<double> sorted(freq);
    std::sort(sorted.begin(), sorted.end());
    for (std::size_t k = 1; k < sorted.size(); ++k)
        if (sorted[k] == sorted[k - 1]) {
            repeated = sorted[k];
            return true;
        }
    return false;
}

void CheckData(const std::vector<double>& freq, const PoleratSamples& samples,
               const std::vector<double>& weights, bool realPassive) {
    const std::size_t n = freq.size();
    if (n == 0) Reject("No samples to fit: the frequency list is empty.");
    for (std::size_t i = 0; i < n; ++i) {
        if (!std::isfinite(freq[i]))
            Reject("The frequency at index " + std::to_string(i) + " is not a finite number.");
        if (freq[i] < 0.0)
            Reject("The frequency at index " + std::to_string(i) + " is negative (" + Num(freq[i]) + " Hz).");
        if (freq[i] != 0.0 && (freq[i] < kLowestFrequency || freq[i] > kHighestFrequency))
            Reject("The frequency at index " + std::to_string(i) + " (" + Num(freq[i]) +
                   " Hz) lies outside the range a model can represent (" + Num(kLowestFrequency) + " to " +
                   Num(kHighestFrequency) + " Hz, or 0).");
    }
    const std::size_t ports = samples.size();
    if (ports == 0) Reject("The sample array is empty; it must hold P x P entries of " + std::to_string(n) + " samples.");
    for (std::size_t p = 0; p < ports; ++p) {
        if (samples[p].size() != ports)
            Reject("The sample array must be square: row " + std::to_string(p) + " holds " +
                   std::to_string(samples[p].size()) + " entries, not " + std::to_string(ports) + ".");
        for (std::size_t q = 0; q < ports; ++q) {
            const auto& entry = samples[p][q];
            const std::string where =
                ports == 1 ? std::string() : " of entry (" + std::to_string(p) + ", " + std::to_string(q) + ")";
            if (entry.size() != n)
                Reject("There are " + std::to_string(n) + " frequencies but " + std::to_string(entry.size()) +
                       " samples" + where + ".");
            for (std::size_t i = 0; i < n; ++i) {
                // |re| + |im| bounds the magnitude: most samples need no hypot.
                if (std::isfinite(entry[i].real()) && std::isfinite(entry[i].imag()) &&
                    std::fabs(entry[i].real()) + std::fabs(entry[i].imag()) > kLargestSample &&
                    std::abs(entry[i]) > kLargestSample)
                    Reject("The sample at index " + std::to_string(i) + where + " (" + Num(freq[i]) +
                           " Hz) is too large to fit (magnitude " + Num(std::abs(entry[i])) + "; at most " +
                           Num(kLargestSample) + ").");
                if (!std::isfinite(entry[i].real()) || !std::isfinite(entry[i].imag())) {
                    std::string msg = "The sample at index " + std::to_string(i) + where + " (" +
                                      Num(freq[i]) + " Hz) is not a finite number";
                    double repeated = 0.0;
                    if (FindRepeated(freq, repeated))
                        msg += "; the frequency " + Num(repeated) + " Hz occurs more than once in the list";
                    Reject(msg + ".");
                }
            }
        }
    }
    // With real poles only, a passive model's diagonal has Re H >= d >= 0 and
    // Im H <= 0 above 0 Hz: a negative real part or a positive imaginary part
    // (gain) there cannot be followed, and the best constrained fit would be
    // useless. (A resonance, a complex pair, may dip below zero.)
    if (realPassive)
        for (std::size_t p = 0; p < ports; ++p)
            for (std::size_t i = 0; i < n; ++i) {
                const std::complex<double> v = samples[p][p][i];
                const auto sample = [&] {
                    return "The sample at index " + std::to_string(i) +
                           (ports == 1 ? std::string()
                                       : " of entry (" + std::to_string(p) + ", " + std::to_string(p) + ")") +
                           " (" + Num(freq[i]) + " Hz)";
                };
                if (v.real() < 0.0)
                    Reject(sample() + " has a negative real part (" + Num(v.real()) +
                           "); a passive model with real poles only is never negative there.");
                if (v.imag() > 0.0 && freq[i] > 0.0)
                    Reject(sample() + " has a positive imaginary part (" + Num(v.imag()) +
                           ", a gain); a passive model with real poles only has none.");
            }
    if (!weights.empty()) {
        if (weights.size() != n)
            Reject("The weight list holds " + std::to_string(weights.size()) + " values but there are " +
                   std::to_string(n) + " samples.");
        bool any = false;
        for (std::size_t i = 0; i < n; ++i) {
            if (!(weights[i] >= 0.0) || !std::isfinite(weights[i]))
                Reject("The weight at index " + std::to_string(i) + " must be a finite number of at least 0; it is " +
                       Num(weights[i]) + ".");
            any = any || weights[i] > 0.0;
        }
        if (!any) Reject("Every weight is zero: nothing would be fitted.");
    }
}

std::string Describe(const polerat_data& r, int ports) {
    std::string out = "poles (rad/s) and residues of entry (0, 0):\n";
    const std::size_t states = r.pole_re.size() / static_cast<std::size_t>(ports);
    out.reserve(out.size() + 64 * (states + 1));
    const auto number = [&](const char* before, double v, bool sign = false) {
        out += before;
        if (sign && !(v < 0.0)) out += '+';
        AppendSci(out, v, 6);
    };
    for (std::size_t k = 0; k < states; ++k) {
        if (r.pole_im[k] != 0.0 && k + 1 < states) {
            number("  ", r.pole_re[k]);
            number(" ", r.pole_im[k], true);
            number("j  residue ", 0.5 * r.b[k][0] * r.c[0][k]);
            number(" ", 0.5 * r.b[k][0] * r.c[0][k + 1], true);
            out += "j (and conjugate)\n";
            ++k;
        } else {
            number("  ", r.pole_re[k]);
            number("  residue ", r.b[k][0] * r.c[0][k]);
            out += '\n';
        }
    }
    out += "  constant " + Num(r.d[0][0]) + "\n";
    return out;
}

}  // namespace

double polerat_run(polerat_data*& record, DataTable& info, const std::vector<double>& freq,
                   const PoleratSamples& samples, double target_error, int max_order, int min_order,
                   int fixed_order, int max_iterations, bool allow_complex, bool enforce_passivity,
                   int weighting, bool omit_constant, std::string& log, const std::vector<double>& weights,
                   PoleratProgress progress, double stall_ratio, bool verbose_log, int order_step,
                   int stall_patience, int start_poles) {
    Options opt;
    opt.targetError = target_error;
    opt.maxOrder = max_order;
    opt.minOrder = min_order;
    opt.fixedOrder = fixed_order;
    opt.maxIterations = max_iterations;
    opt.allowComplex = allow_complex;
    opt.enforcePassivity = enforce_passivity;
    opt.weighting = static_cast<polerat::detail::Weighting>(weighting);
    opt.omitConstant = omit_constant;
    opt.stallRatio = stall_ratio < 0.0 ? 0.1 : stall_ratio;
    opt.verboseLog = verbose_log;
    opt.orderStep = order_step;
    opt.stallPatience = stall_patience;
    opt.startPoles = static_cast<polerat::detail::StartPoles>(start_poles);
    opt.progress = progress;

    // Everything is checked before the earlier record is touched.
    CheckSettings(opt, weighting, start_poles);
    CheckData(freq, samples, weights, enforce_passivity && !allow_complex);

    const polerat::detail::Problem prob = polerat::detail::MakeProblem(freq, samples, weights, opt.weighting);
    // The search works on normalised samples; an absolute target follows them.
    opt.targetError /= prob.errorScale;
    polerat::detail::Summary summary;
    std::string text;
    text += "polerat: " + std::to_string(prob.n) + " samples, " + std::to_string(prob.ports) + " x " +
            std::to_string(prob.ports) + " array, " + (allow_complex ? "complex pairs allowed" : "real poles only") +
            ", " + (enforce_passivity ? "stable and passive" : "unconstrained") + ", target " + Num(target_error) +
            "\n";
    const polerat::detail::Model model = polerat::detail::FitModel(prob, opt, summary, text);
    summary.error *= prob.errorScale;
    for (auto& step : summary.steps) step.error *= prob.errorScale;

    auto fresh = std::make_unique<polerat_data>();
    polerat::detail::Realize(prob, model, *fresh);
    text += Describe(*fresh, prob.ports);

    info.clear();
    info.push_back({static_cast<double>(summary.order), summary.error, static_cast<double>(summary.iterations),
                    summary.targetMet ? 1.0 : 0.0, static_cast<double>(static_cast<int>(summary.termination))});
    for (const auto& s : summary.steps)
        info.push_back({static_cast<double>(s.order), s.error, static_cast<double>(s.iterations), s.condition});
    log = std::move(text);

    polerat_cleanup(record);
    record = fresh.release();
    return summary.error;
}

void polerat_cleanup(polerat_data*& record) {
    delete record;
    record = nullptr;
}
