// Order search: relocate the poles at one order until they settle, add poles
// until the target error is met, and stop when one more pole no longer buys a
// meaningful decrease (noise, or a floor of the data) or at the order cap.
//
// Cost control: the poles are placed on a log-spread subset of the samples
// (smooth dielectric data are heavily oversampled for this purpose), and only
// the accepted poles are solved against every sample. Far from the target the
// search steps several orders at once, predicting the order from the rate at
// which the error has fallen, and checks downward after such a jump so that
// the fewest poles that meet the target are returned.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "bench/baseline/engine.h"

namespace polerat_baseline::detail {

namespace {

constexpr int kPolishIterations = 30;
constexpr int kSearchIterations = 3;
// Poles that move less than this (relative) between two relocations have
// converged.
constexpr double kPoleTolerance = 1e-10;
// Polishing stops after a relocation that lowers the error by less than this
// fraction; the search stops relocating once the poles move less than the
// looser tolerance.
constexpr double kPolishStale = 1e-2;
constexpr int kPolishStaleLimit = 1;
constexpr double kSearchSettled = 1e-3;
// Samples used to place the poles: at least this many, and this many per state.
constexpr int kSubsetMin = 64;
constexpr int kSubsetPerState = 4;
// Data this small (a datasheet table) get a refined check of the lower orders
// once the target is met.
constexpr int kSmallData = 100;

struct OrderResult {
    Model model;
    double error = std::numeric_limits<double>::infinity();
    int iterations = 0;
    double condition = 0.0;
    bool refined = false;
};

constexpr int kRefineIterations = 30;

// Moves the poles to the best the order can do under the constraints; pays
// off where relocation is biased (noise) or blind (active constraints).
void Refine(const Problem& prob, const Options& opt, OrderResult& res) {
    if (res.refined) return;
    int its = 0;
    res.model = RefinePoles(prob, res.model, opt, kRefineIterations, &its);
    res.error = ModelError(prob, res.model);
    res.iterations += its;
    res.refined = true;
}

double PoleChange(const PoleSet& a, const PoleSet& b) {
    if (a.size() != b.size()) return std::numeric_limits<double>::infinity();
    double worst = 0.0;
    for (std::size_t k = 0; k < a.size(); ++k) worst = std::max(worst, std::abs(a[k] - b[k]) / std::abs(a[k]));
    return worst;
}

template <typename... Args>
std::string Format(const char* fmt, Args... args) {
    char buf[200];
    std::snprintf(buf, sizeof buf, fmt, args...);
    return buf;
}

void Report(const Options& opt, double fraction, const std::string& message) {
    if (opt.progress != nullptr) opt.progress(std::clamp(fraction, 0.0, 1.0), message.c_str());
}

OrderResult Iterate(const Problem& prob, const Options& opt, PoleSet poles, bool polish, std::string& log) {
    OrderResult best;
    if (!polish) {
        // Searching: a few relocations from a warm start, judged once at the
        // end; the poles only need to be good enough to rank the order.
        const int maxIter = opt.maxIterations > 0 ? std::min(opt.maxIterations, kSearchIterations) : kSearchIterations;
        for (int it = 1; it <= maxIter; ++it) {
            PoleSet next = Relocate(prob, poles, opt, &best.condition, true);
            const double change = PoleChange(poles, next);
            poles = std::move(next);
            best.iterations = it;
            if (change < kSearchSettled) break;
        }
        best.model = SolveResidues(prob, poles, opt);
        best.error = ModelError(prob, best.model);
        return best;
    }
    const int maxIter = opt.maxIterations > 0 ? opt.maxIterations : kPolishIterations;
    best.model = SolveResidues(prob, poles, opt);
    best.error = ModelError(prob, best.model);
    int stale = 0;
    for (int it = 1; it <= maxIter; ++it) {
        double condition = 0.0;
        PoleSet next = Relocate(prob, poles, opt, &condition);
        Model model = SolveResidues(prob, next, opt);
        const double err = ModelError(prob, model);
        const double change = PoleChange(poles, next);
        poles = std::move(next);
        best.iterations = it;
        best.condition = condition;
        if (opt.verboseLog)
            log += Format("  relocation %d: error %.3e, pole change %.2e, condition %.2e\n", it, err, change,
                          condition);
        if (err < best.error) {
            stale = err < best.error * (1.0 - kPolishStale) ? 0 : stale + 1;
            best.model = std::move(model);
            best.error = err;
        } else {
            ++stale;
        }
        if (change < kPoleTolerance || stale >= kPolishStaleLimit) break;
    }
    return best;
}

// Adds `count` real poles at the frequencies where the model misses the data
// most, keeping them apart from the poles already there.
PoleSet Grow(const Problem& prob, const Model& model, int count) {
    PoleSet poles = model.poles;
    Eigen::VectorXd r = SampleResiduals(prob, model);
    for (int added = 0; added < count; ++added) {
        int at = -1;
        double worst = -1.0;
        for (int i = 0; i < prob.n; ++i) {
            if (!(prob.w(i) > 0.0) || !(r(i) > worst)) continue;
            bool crowded = false;
            for (const auto& p : poles) {
                const double ratio = prob.w(i) / std::abs(p);
                if (ratio > 1.0 / 1.2 && ratio < 1.2) crowded = true;
            }
            if (crowded) continue;
            worst = r(i);
            at = i;
        }
        double w;
        if (at >= 0) {
            w = prob.w(at);
            r(at) = -1.0;
        } else {
            // Every sample is near a pole: split the widest gap on a log scale.
            std::vector<double> mags{prob.wLow, prob.wHigh};
            for (const auto& p : poles) mags.push_back(std::abs(p));
            std::sort(mags.begin(), mags.end());
            double gap = -1.0;
            w = std::sqrt(prob.wLow * prob.wHigh);
            for (std::size_t k = 1; k < mags.size(); ++k)
                if (mags[k] / mags[k - 1] > gap) {
                    gap = mags[k] / mags[k - 1];
                    w = std::sqrt(mags[k] * mags[k - 1]);
                }
        }
        poles.emplace_back(-w, 0.0);
    }
    std::sort(poles.begin(), poles.end(), [](const auto& x, const auto& y) { return std::abs(x) < std::abs(y); });
    return poles;
}

// Drops the real pole whose term weighs least (its relaxation strength
// |r/p|), or the weakest pair when there is no real pole.
PoleSet Shrink(const Model& model) {
    PoleSet poles = model.poles;
    if (poles.empty()) return poles;
    std::size_t weakest = 0;
    double least = std::numeric_limits<double>::infinity();
    bool anyReal = false;
    for (const auto& p : poles) anyReal = anyReal || p.imag() == 0.0;
    for (std::size_t k = 0; k < poles.size(); ++k) {
        if (anyReal && poles[k].imag() != 0.0) continue;
        double strength = 0.0;
        for (const auto& res : model.residues) strength += std::abs(res[k]) / std::abs(poles[k]);
        if (strength < least) {
            least = strength;
            weakest = k;
        }
    }
    poles.erase(poles.begin() + static_cast<std::ptrdiff_t>(weakest));
    return poles;
}

// Removes the poles whose residues the constraint held at zero in every
// entry: they add nothing to the model but cost the simulator. Returns how
// many states went.
int DropDeadPoles(Model& model) {
    int dropped = 0;
    for (std::size_t k = model.poles.size(); k-- > 0;) {
        bool dead = true;
        for (const auto& res : model.residues) dead = dead && res[k] == std::complex<double>(0.0, 0.0);
        if (!dead) continue;
        dropped += model.poles[k].imag() != 0.0 ? 2 : 1;
        model.poles.erase(model.poles.begin() + static_cast<std::ptrdiff_t>(k));
        for (auto& res : model.residues) res.erase(res.begin() + static_cast<std::ptrdiff_t>(k));
    }
    return dropped;
}

// The largest number of states the samples can determine: the relocation
// solves for 2 states + 2 unknowns per entry from the counted real rows.
int Capacity(const Problem& prob, const Options& opt) {
    const int unknownsBeyondStates = opt.omitConstant ? 1 : 2;
    return std::max(0, (prob.rows - unknownsBeyondStates) / 2);
}

// The identification subset for models of up to `states` states.
int SubsetSize(int states) { return std::max(kSubsetMin, kSubsetPerState * (states + 1)); }

// Solves the residues of `poles` against every sample.
OrderResult OnAllSamples(const Problem& full, const Options& opt, const OrderResult& found) {
    OrderResult out = found;
    out.model = SolveResidues(full, found.model.poles, opt);
    out.error = ModelError(full, out.model);
    return out;
}

// One pole fewer at a time: drop the weakest pole, relocate the rest (and
// refine them when asked), judge the result on every sample, and keep it
// while `good(lower, kept)` holds, down to `floor` states or `maxSteps` steps.
template <typename Good>
OrderResult WalkDown(const Problem& sub, const Problem& full, const Options& opt, OrderResult kept, int floor,
                     int maxSteps, bool refine, Good good, Summary& summary, std::string& log) {
    for (int step = 0; step < maxSteps && StateCount(kept.model.poles) > floor; ++step) {
        OrderResult lower = Iterate(sub, opt, Shrink(kept.model), true, log);
        summary.iterations += lower.iterations;
        if (refine) Refine(sub, opt, lower);
        lower = OnAllSamples(full, opt, lower);
        const int states = StateCount(lower.model.poles);
        summary.steps.push_back({states, lower.error, lower.iterations, lower.condition});
        log += Format("order %d: error %.3e after %d steps (checking below)\n", states, lower.error, lower.iterations);
        if (!good(lower, kept)) break;
        kept = std::move(lower);
    }
    return kept;
}

}  // namespace

Model FitModel(const Problem& full, const Options& opt, Summary& summary, std::string& log) {
    summary = Summary{};
    const int capacity = Capacity(full, opt);
    static const char* const kReasons[] = {"target met", "error stalled", "order cap reached", "fixed order"};

    // Without a frequency above zero, or too few rows for even one relocated
    // pole, the data determine a constant (or one pole placed in the band).
    if (!full.anyPositive || capacity < 1) {
        PoleSet poles;
        if (full.anyPositive && (opt.fixedOrder > 0 || opt.targetError < 1.0))
            poles.emplace_back(-std::sqrt(full.wLow * full.wHigh), 0.0);
        Model m = SolveResidues(full, poles, opt);
        summary.order = StateCount(poles);
        summary.error = ModelError(full, m);
        summary.targetMet = summary.error <= opt.targetError;
        summary.termination = opt.fixedOrder > 0 ? 3 : (summary.targetMet ? 0 : 2);
        summary.steps.push_back({summary.order, summary.error, 0, 0.0});
        log += Format("order %d (as many as the samples determine): error %.3e\n", summary.order, summary.error);
        Report(opt, 1.0, "done");
        return m;
    }

    const bool pairs = opt.allowComplex && opt.startPoles == 2;
    if (opt.fixedOrder > 0) {
        const int order = std::min(opt.fixedOrder, capacity);
        Report(opt, 0.0, "fitting a fixed order");
        const Problem sub = Subset(full, SubsetSize(order));
        OrderResult res = Iterate(sub, opt, StartingPoles(sub, order, pairs), true, log);
        if (res.error > opt.targetError) Refine(sub, opt, res);
        res = OnAllSamples(full, opt, res);
        summary.order = StateCount(res.model.poles);
        summary.error = res.error;
        summary.iterations = res.iterations;
        summary.targetMet = res.error <= opt.targetError;
        summary.termination = 3;
        summary.steps.push_back({summary.order, res.error, res.iterations, res.condition});
        log += Format("order %d (fixed): error %.3e after %d relocations\n", summary.order, res.error, res.iterations);
        Report(opt, 1.0, "done");
        return std::move(res.model);
    }

    const int maxStates = std::min(opt.maxOrder, capacity);
    const auto meetsTarget = [&](const OrderResult& lower, const OrderResult&) {
        return lower.error <= opt.targetError;
    };
    int order = std::min(opt.minOrder, maxStates);
    int subsetSize = SubsetSize(order + 8);
    Problem sub = Subset(full, subsetSize);
    PoleSet poles = StartingPoles(sub, order, pairs);

    OrderResult kept;  // the last order that was a meaningful improvement
    bool haveKept = false;
    int stalls = 0, lastStep = 1;
    bool jumps = true;
    double firstError = -1.0, shown = 0.0;
    std::vector<std::pair<int, double>> history;
    for (;;) {
        if (sub.n < full.n && sub.n < SubsetSize(order)) {
            subsetSize = SubsetSize(order + 4);
            sub = Subset(full, subsetSize);
        }
        OrderResult res = Iterate(sub, opt, poles, false, log);
        summary.iterations += res.iterations;
        if (haveKept && res.error > (1.0 - opt.stallRatio) * kept.error) {
            // A warm start can trap the new pole; a fresh start at the same
            // order settles whether the order really stopped paying.
            OrderResult fresh = Iterate(sub, opt, StartingPoles(sub, order, pairs), false, log);
            summary.iterations += fresh.iterations;
            if (fresh.error < res.error) res = std::move(fresh);
        }
        int states = StateCount(res.model.poles);
        if (haveKept && res.error > opt.targetError &&
            res.error > std::pow(1.0 - opt.stallRatio, states - StateCount(kept.model.poles)) * kept.error) {
            // Before judging that more poles stopped paying, give both orders
            // their best poles.
            const double keptBefore = kept.error;
            Refine(sub, opt, kept);
            Refine(sub, opt, res);
            if (kept.error < keptBefore) log += Format("order %d: error %.3e after %d steps in all (refined)\n",
                                                     StateCount(kept.model.poles), kept.error, kept.iterations);
        }
        log += Format(res.refined ? "order %d: error %.3e after %d steps in all (refined)\n"
                                : "order %d: error %.3e after %d relocations\n",
                    states, res.error, res.iterations);

        if (res.error <= opt.targetError) {
            // Polish the poles, then judge them on every sample.
            OrderResult polished = Iterate(sub, opt, res.model.poles, true, log);
            summary.iterations += polished.iterations;
            if (polished.error < res.error) res = std::move(polished);
            res = OnAllSamples(full, opt, res);
            summary.steps.push_back({states, res.error, res.iterations, res.condition});
            if (res.error <= opt.targetError) {
                // After a jump, the orders skipped below may meet the target too.
                if (lastStep > 1)
                    res = WalkDown(sub, full, opt, std::move(res), 1, lastStep - 1, false, meetsTarget, summary, log);
                kept = std::move(res);
                haveKept = true;
                summary.termination = 0;
                break;
            }
            if (sub.n < full.n) {
                // The subset flattered the model: place the poles on more samples.
                subsetSize = std::min(full.n, subsetSize * 2);
                sub = Subset(full, subsetSize);
                poles = res.model.poles;
                continue;
            }
        } else {
            summary.steps.push_back({states, res.error, res.iterations, res.condition});
        }

        if (firstError < 0.0) firstError = res.error;
        if (firstError > opt.targetError && res.error > 0.0 && opt.targetError > 0.0)
            shown = std::max(shown, std::log(firstError / res.error) / std::log(firstError / opt.targetError));
        Report(opt, std::min(shown, 0.99), Format("order %d: error %.2e", states, res.error));

        // Meaningful means a decrease of the stall ratio per added pole.
        const int added = haveKept ? states - StateCount(kept.model.poles) : 1;
        if (haveKept && added > 1 && res.error > std::pow(1.0 - opt.stallRatio, added) * kept.error) {
            // A jump overshot into the error's floor: walk up from the last
            // kept order one pole at a time instead.
            jumps = false;
            order = StateCount(kept.model.poles) + opt.orderStep;
            lastStep = opt.orderStep;
            poles = Grow(sub, kept.model, opt.orderStep);
            continue;
        }
        if (haveKept && res.error > (1.0 - opt.stallRatio) * kept.error) {
            if (++stalls >= opt.stallPatience) {
                summary.termination = 1;
                break;
            }
        } else {
            stalls = 0;
            kept = res;
            haveKept = true;
        }
        history.emplace_back(states, res.error);
        if (order >= maxStates) {
            summary.termination = 2;
            if (res.error < kept.error) kept = std::move(res);
            break;
        }

        // Step one order, or several when the error falls at a steady rate and
        // the target is still far: jump to 60 % of the predicted gap.
        int step = opt.orderStep;
        const std::size_t h = history.size();
        if (jumps && stalls == 0 && h >= 3 && opt.targetError > 0.0) {
            const double span = history[h - 1].first - history[h - 2].first;
            const double rate = span > 0 ? std::pow(history[h - 1].second / history[h - 2].second, 1.0 / span) : 1.0;
            if (rate > 0.0 && rate < 0.9) {
                const double gap = std::log(opt.targetError / res.error) / std::log(rate);
                const int jump = std::min(static_cast<int>(0.6 * gap), std::max(1, states / 2));
                step = std::max(step, jump);
            }
        }
        const int next = std::min(order + step, maxStates);
        lastStep = next - order;
        poles = Grow(sub, res.model, next - states);
        order = next;
    }

    if (summary.termination != 0) {
        Refine(sub, opt, kept);
        kept = OnAllSamples(full, opt, kept);
        // The order that stopped paying may have been reached on a noisy
        // slope: step down while one pole fewer is not meaningfully worse.
        if (summary.termination == 1)
            kept = WalkDown(sub, full, opt, std::move(kept), opt.minOrder, maxStates, true,
                            [&](const OrderResult& lower, const OrderResult& higher) {
                                return higher.error >= (1.0 - opt.stallRatio) * lower.error;
                            },
                            summary, log);
    }
    // On a few samples relocation falls short of the best poles of an order
    // (the constraint binds, the data barely determine the poles), so the
    // search may have climbed past the fewest poles that do: refined, they
    // are cheap to check on data this small.
    if (kept.error <= opt.targetError && full.n <= kSmallData)
        kept = WalkDown(sub, full, opt, std::move(kept), opt.minOrder, maxStates, true, meetsTarget, summary, log);

    const int dropped = DropDeadPoles(kept.model);
    if (dropped > 0)
        log += "dropped " + std::to_string(dropped) + (dropped == 1 ? " pole" : " poles") +
               " whose residues came out zero\n";
    summary.order = StateCount(kept.model.poles);
    summary.error = kept.error;
    summary.targetMet = kept.error <= opt.targetError;
    if (summary.targetMet) summary.termination = 0;  // refinement can reach it last
    log += std::string("stopped: ") + kReasons[summary.termination] +
           Format(" at order %d, error %.3e, %d relocations in all\n", summary.order, summary.error, summary.iterations);
    Report(opt, 1.0, "done");
    return std::move(kept.model);
}

}  // namespace polerat_baseline::detail
