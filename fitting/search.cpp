// Order search: relocate the poles at one order until they settle, add poles
// until the target error is met, and stop when more poles no longer buy a
// meaningful decrease and what is left looks like noise, when they stop
// lowering the error at all, or at the order cap.
//
// Cost control: the poles are placed on a log-spread subset of the samples
// (smooth dielectric data are heavily oversampled for this purpose), and only
// the accepted poles are solved against every sample. Far from the target the
// search steps several orders at once, predicting the order from the rate at
// which the error has fallen, and checks downward after such a jump so that
// the fewest poles that meet the target are returned.
#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <utility>

#include "fitting/engine.h"
#include "fitting/text.h"

namespace polerat::detail {

namespace {

// Relocations at the chosen order (polishing) and per order while searching.
constexpr int kPolishIterations = 30;
constexpr int kSearchIterations = 3;
// Poles that move less than this (relative) between two relocations have
// converged.
constexpr double kPoleTolerance = 1e-10;
// Polishing stops after a relocation that lowers the error by less than this
// fraction; the search stops relocating once the poles move less than the
// looser tolerance.
constexpr double kPolishStale = 1e-2;
constexpr double kSearchSettled = 1e-2;
// Levenberg-Marquardt steps when the poles are refined.
constexpr int kRefineIterations = 30;
// Samples used to place the poles: at least this many, and this many per state.
constexpr int kSubsetMin = 64;
constexpr int kSubsetPerState = 4;
// Data this small (a datasheet table) get a refined check of the lower orders
// once the target is met.
constexpr int kSmallData = 100;
// Jumps: once the error has fallen at a steady rate (at most this ratio per
// pole) over the last orders, step this fraction of the predicted distance to
// the target, but never more than half the poles already there.
constexpr int kJumpHistory = 3;
constexpr double kSteadyRate = 0.9;
constexpr double kJumpFraction = 0.6;
// A residual whose lag-one autocorrelation lies this many standard deviations
// above white noise's still holds a feature of the data that poles may follow.
constexpr double kStructure = 4.0;
constexpr int kStructureSamples = 1000;
// Samples on which a large table's lower orders are judged while checking below.
constexpr int kJudgeSamples = 1000;
// A pole that lowers the error by less than this fraction buys nothing; after
// this many such orders in a row the search gives up even on a structured
// residual (the data have a shape no model of this kind follows).
constexpr double kNegligibleGain = 0.01;
constexpr int kNoProgressLimit = 3;

struct OrderResult {
    Model model;
    double error = std::numeric_limits<double>::infinity();
    int iterations = 0;
    double condition = 0.0;
    bool refined = false;
};

const char* Reason(Termination t) {
    switch (t) {
        case Termination::kTargetMet: return "target met";
        case Termination::kStalled: return "error stalled on noise";
        case Termination::kOrderCap: return "order cap reached";
        case Termination::kFixedOrder: return "fixed order";
        case Termination::kNoProgress: return "more poles stopped lowering the error";
    }
    return "";
}

void Report(const Options& opt, double fraction, const std::string& message) {
    if (opt.progress != nullptr) opt.progress(std::clamp(fraction, 0.0, 1.0), message.c_str());
}

// Moves the poles to the best the order can do under the constraints; pays
// off where relocation is biased (noise) or blind (active constraints).
void Refine(const Problem& prob, const Options& opt, OrderResult& res, double goal = 0.0) {
    if (res.refined) return;
    int its = 0;
    res.model = RefinePoles(prob, res.model, opt, kRefineIterations, &its, goal);
    res.error = ModelError(prob, res.model);
    res.iterations += its;
    res.refined = true;
}

// A few relocations from a warm start, judged once at the end: while
// searching, the poles only need to be good enough to rank the order.
OrderResult Search(const Problem& prob, const Options& opt, PoleSet poles) {
    OrderResult res;
    const int maxIter = opt.maxIterations > 0 ? std::min(opt.maxIterations, kSearchIterations) : kSearchIterations;
    for (int it = 1; it <= maxIter; ++it) {
        PoleSet next = Relocate(prob, poles, opt, &res.condition, true);
        const double change = PoleChange(poles, next);
        poles = std::move(next);
        res.iterations = it;
        if (change < kSearchSettled) break;
    }
    res.model = SolveResidues(prob, poles, opt);
    res.error = ModelError(prob, res.model);
    return res;
}

// Relocations from `start` (a model of `prob`) until the poles settle or stop
// lowering the error; keeps the best pole set seen.
OrderResult Polish(const Problem& prob, const Options& opt, const Model& start, double startError,
                   std::string& log) {
    OrderResult best;
    best.model = start;
    best.error = startError;
    PoleSet poles = start.poles;
    const int maxIter = opt.maxIterations > 0 ? opt.maxIterations : kPolishIterations;
    for (int it = 1; it <= maxIter; ++it) {
        double condition = 0.0;
        PoleSet next = Relocate(prob, poles, opt, &condition, true);
        Model model = SolveResidues(prob, next, opt);
        const double err = ModelError(prob, model);
        const double change = PoleChange(poles, next);
        poles = std::move(next);
        best.iterations = it;
        best.condition = condition;
        if (opt.verboseLog)
            log += "  relocation " + std::to_string(it) + ": error " + Sci(err) + ", pole change " +
                   Sci(change, 2) + ", condition " + Sci(condition, 2) + "\n";
        const bool stale = !(err < best.error * (1.0 - kPolishStale));
        if (err < best.error) {
            best.model = std::move(model);
            best.error = err;
        }
        if (change < kPoleTolerance || stale) break;
    }
    return best;
}

// The same from bare poles, their model solved first.
OrderResult Polish(const Problem& prob, const Options& opt, const PoleSet& poles, std::string& log) {
    Model start = SolveResidues(prob, poles, opt);
    const double error = ModelError(prob, start);
    return Polish(prob, opt, start, error, log);
}

// The largest number of states the samples can determine: the relocation
// solves for 2 states + 2 unknowns per entry from the counted real rows.
int Capacity(const Problem& prob, const Options& opt) {
    const int unknownsBeyondStates = opt.omitConstant ? 1 : 2;
    return std::max(0, (prob.rows - unknownsBeyondStates) / 2);
}

// The identification subset for models of up to `states` states.
int SubsetSize(int states) { return std::max(kSubsetMin, kSubsetPerState * (states + 1)); }

// Solves the residues of `found`'s poles against every sample.
OrderResult OnAllSamples(const Problem& full, const Options& opt, const OrderResult& found) {
    OrderResult out = found;
    out.model = SolveResidues(full, found.model.poles, opt);
    out.error = ModelError(full, out.model);
    return out;
}

void AddOrderLine(std::string& log, int states, const OrderResult& res, const char* what) {
    log += "order ";
    log += std::to_string(states);
    log += ": error ";
    AppendSci(log, res.error);
    log += " after ";
    log += std::to_string(res.iterations);
    log += ' ';
    log += what;
    log += '\n';
}

// The automatic order search, one named step per stage.
class OrderSearch {
public:
    OrderSearch(const Problem& full, const Options& opt, Summary& summary, std::string& log)
        : m_full(full), m_opt(opt), m_summary(summary), m_log(log),
          m_maxStates(std::min(opt.maxOrder, Capacity(full, opt))),
          m_pairs(opt.allowComplex && opt.startPoles == StartPoles::kComplexLogSpaced) {}

    Model Run() {
        int order = std::min(m_opt.minOrder, m_maxStates);
        UseSubset(SubsetSize(order + 8));
        PoleSet poles = StartingPoles(m_sub, order, m_pairs);
        for (;;) {
            if (m_sub.n < m_full.n && m_sub.n < SubsetSize(order)) UseSubset(SubsetSize(order + 4));
            OrderResult res = TryOrder(poles);
            const int states = StateCount(res.model.poles);

            if (res.error * m_optimism <= m_opt.targetError) {
                if (Confirm(res)) {
                    m_summary.termination = Termination::kTargetMet;
                    break;
                }
                if (!m_grown && m_sub.n < m_full.n) {
                    // Place the poles once more on twice the samples before
                    // reading the subset's errors as too low.
                    m_grown = true;
                    UseSubset(std::min(m_full.n, 2 * m_sub.n));
                    poles = res.model.poles;
                    continue;
                }
            }
            m_summary.steps.push_back({states, res.error, res.iterations, res.condition});
            ShowProgress(states, res.error);

            if (Overshot(res)) {
                // A jump landed in the error's floor: walk up from the last
                // kept order by the caller's step instead.
                m_jumps = false;
                order = StateCount(m_kept.model.poles) + m_opt.orderStep;
                order = std::min(order, m_maxStates);
                m_lastStep = order - StateCount(m_kept.model.poles);
                poles = Grow(m_sub, m_kept.model, m_lastStep);
                continue;
            }
            if (!Judge(std::move(res))) break;
            if (order >= m_maxStates) {
                m_summary.termination = Termination::kOrderCap;
                break;
            }
            const int next = NextOrder(order, states);
            m_lastStep = next - order;
            poles = Grow(m_sub, m_last.model, next - states);
            order = next;
        }
        Settle();
        return Finish();
    }

private:
    void UseSubset(int size) {
        m_sub = Subset(m_full, size);
    }

    // Relocates `poles` on the subset. When they fall short of a meaningful
    // gain over the last kept order, the new poles are also tried where the
    // kept model misses most, and from a fresh start: a warm start can trap
    // the new pole far from where it is needed.
    OrderResult TryOrder(const PoleSet& poles) {
        OrderResult res = Search(m_sub, m_opt, poles);
        m_summary.iterations += res.iterations;
        // A jump that fell short is retried one step at a time; no need to
        // give its poles a second chance first.
        if (Overshot(res)) return res;
        if (m_haveKept && !Meaningful(res)) {
            const int added = StateCount(poles) - StateCount(m_kept.model.poles);
            if (added > 0) Consider(res, Grow(m_sub, m_kept.model, added));
            Consider(res, StartingPoles(m_sub, StateCount(poles), m_pairs));
        }
        if (m_haveKept && res.error > m_opt.targetError && !Meaningful(res)) {
            // Before judging that more poles stopped paying, give both orders
            // their best poles.
            const double keptBefore = m_kept.error;
            Refine(m_sub, m_opt, m_kept);
            Refine(m_sub, m_opt, res);
            if (m_kept.error < keptBefore)
                AddOrderLine(m_log, StateCount(m_kept.model.poles), m_kept, "steps in all (refined)");
        }
        AddOrderLine(m_log, StateCount(res.model.poles), res, res.refined ? "steps in all (refined)" : "relocations");
        m_tried[StateCount(res.model.poles)] = res.model.poles;
        return res;
    }

    void Consider(OrderResult& best, const PoleSet& start) {
        OrderResult other = Search(m_sub, m_opt, start);
        m_summary.iterations += other.iterations;
        if (other.error < best.error) best = std::move(other);
    }

    // Meaningful: a decrease of the stall ratio per added pole.
    bool Meaningful(const OrderResult& res) const {
        const int added = std::max(1, StateCount(res.model.poles) - StateCount(m_kept.model.poles));
        return res.error <= std::pow(1.0 - m_opt.stallRatio, added) * m_kept.error;
    }

    // Polishes an order that met the target on the subset and judges it on
    // every sample; after a jump, the orders skipped below may meet it too.
    // When all the samples say otherwise, the subset flattered the model (it
    // has fewer samples per unknown, and noise fits better there): its errors
    // are read as too low by that factor from then on.
    bool Confirm(const OrderResult& found) {
        OrderResult res = found;
        OrderResult polished = Polish(m_sub, m_opt, res.model, res.error, m_log);
        m_summary.iterations += polished.iterations;
        if (polished.error < res.error) res = std::move(polished);
        const double onSubset = res.error;
        res = OnAllSamples(m_full, m_opt, res);
        m_summary.steps.push_back({StateCount(res.model.poles), res.error, res.iterations, res.condition});
        if (res.error > m_opt.targetError) {
            if (m_grown && onSubset > 0.0) m_optimism = std::max(m_optimism, res.error / onSubset);
            return false;
        }
        if (m_lastStep > 1) res = WalkDown(std::move(res), m_lastStep - 1);
        Keep(std::move(res));
        return true;
    }

    // A predicted jump whose poles bought less than the stall ratio per pole.
    bool Overshot(const OrderResult& res) const {
        return m_haveKept && m_lastStep > m_opt.orderStep && !Meaningful(res);
    }

    // Decides what an order that missed the target means for the search.
    // Returns false when the search stops.
    bool Judge(OrderResult res) {
        m_last = res;
        if (!m_haveKept || Meaningful(res)) {
            Keep(std::move(res));
            return true;
        }
        const int added = std::max(1, StateCount(res.model.poles) - StateCount(m_kept.model.poles));
        const bool structured = Structure(res.model) > kStructure;
        const bool gained = res.error <= std::pow(1.0 - kNegligibleGain, added) * m_kept.error;
        if (structured && gained) {
            // Each pole fixes only its own part of a wide band, so the overall
            // error falls slowly; the residual says there is more to follow.
            Keep(std::move(res));
            return true;
        }
        if (structured) {
            if (++m_flat >= kNoProgressLimit) {
                m_summary.termination = Termination::kNoProgress;
                return false;
            }
            return true;
        }
        if (++m_stalls >= m_opt.stallPatience) {
            m_summary.termination = Termination::kStalled;
            return false;
        }
        return true;
    }

    // The residual's structure over every sample when they are few enough to
    // resolve what the subset may miss between its samples; over the subset
    // for large tables, where noise would show a structure far below the
    // scale the poles are placed at.
    double Structure(const Model& model) const {
        if (m_full.n > kStructureSamples) return ResidualStructure(m_sub, model);
        return ResidualStructure(m_full, SolveResidues(m_full, model.poles, m_opt));
    }

    void Keep(OrderResult res) {
        m_kept = std::move(res);
        m_haveKept = true;
        m_stalls = 0;
        m_flat = 0;
        m_last = m_kept;
        m_history.emplace_back(StateCount(m_kept.model.poles), m_kept.error);
    }

    // One step of the caller's size, or several when the error falls at a
    // steady rate and the target is still far.
    int NextOrder(int order, int states) const {
        int step = m_opt.orderStep;
        const std::size_t h = m_history.size();
        if (m_jumps && m_stalls == 0 && m_flat == 0 && h >= kJumpHistory && m_opt.targetError > 0.0 &&
            m_history[h - 1].first == states) {
            const double span = m_history[h - 1].first - m_history[h - 2].first;
            const double rate =
                span > 0 ? std::pow(m_history[h - 1].second / m_history[h - 2].second, 1.0 / span) : 1.0;
            if (rate > 0.0 && rate < kSteadyRate) {
                const double gap = std::log(m_opt.targetError / m_history[h - 1].second) / std::log(rate);
                const int jump = std::min(static_cast<int>(kJumpFraction * gap), std::max(1, states / 2));
                step = std::max(step, jump);
            }
        }
        // The caller's step may be any positive int: compare before adding.
        return step >= m_maxStates - order ? m_maxStates : order + step;
    }

    void ShowProgress(int states, double error) {
        if (m_firstError < 0.0) m_firstError = error;
        const double target = m_opt.targetError;
        if (m_firstError > target && error > 0.0 && target > 0.0)
            m_shown = std::max(m_shown, std::log(m_firstError / error) / std::log(m_firstError / target));
        if (m_opt.progress != nullptr)
            Report(m_opt, std::min(m_shown, 0.99), "order " + std::to_string(states) + ": error " + Sci(error, 2));
    }

    // What an order below must also meet before the search returns to it.
    enum class Goal {
        kTarget,      // the target error
        kNoiseFloor,  // no meaningful loss and a residual that looks like noise
        kPlateau,     // no more than a negligible loss
    };

    static int Dropped(const OrderResult& lower, const OrderResult& higher) {
        return std::max(1, StateCount(higher.model.poles) - StateCount(lower.model.poles));
    }

    // The largest error of `states` states that can meet `goal` against
    // `higher` (the structure of the residual aside).
    double Needed(const OrderResult& higher, int states, Goal goal) const {
        const int dropped = std::max(1, StateCount(higher.model.poles) - states);
        switch (goal) {
            case Goal::kTarget: return m_opt.targetError;
            case Goal::kNoiseFloor: return higher.error / std::pow(1.0 - m_opt.stallRatio, dropped);
            case Goal::kPlateau: return higher.error / std::pow(1.0 - kNegligibleGain, dropped);
        }
        return 0.0;
    }

    bool Meets(const OrderResult& lower, const OrderResult& higher, Goal goal) const {
        switch (goal) {
            case Goal::kTarget: return lower.error <= m_opt.targetError;
            // The poles dropped would not have been worth adding: they buy
            // less than the stall ratio (or a negligible gain) each.
            case Goal::kNoiseFloor:
                return higher.error >= std::pow(1.0 - m_opt.stallRatio, Dropped(lower, higher)) * lower.error &&
                       Structure(lower.model) <= kStructure;
            case Goal::kPlateau:
                return higher.error >= std::pow(1.0 - kNegligibleGain, Dropped(lower, higher)) * lower.error;
        }
        return false;
    }

    // One pole fewer at a time after a jump: drop the weakest pole, relocate
    // the rest, judge the result on every sample, and keep it while it meets
    // the target, for at most `maxSteps` steps.
    OrderResult WalkDown(OrderResult kept, int maxSteps) {
        for (int step = 0; step < maxSteps && StateCount(kept.model.poles) > 1; ++step) {
            OrderResult lower = OnAllSamples(m_full, m_opt, Polish(m_sub, m_opt, Shrink(kept.model), m_log));
            m_summary.iterations += lower.iterations;
            Note(lower);
            if (!Meets(lower, kept, Goal::kTarget)) break;
            kept = std::move(lower);
        }
        return kept;
    }

    // The fewest poles, down to `floor`, whose refined fit meets `goal`
    // against `kept`, by bisection over the orders below it (the goal holds
    // from some order up). A probe starts from the lowest order found to meet
    // it so far, its weakest poles dropped. With `oneFewerFirst` the first
    // probe drops a single pole: where the search climbed one pole at a time
    // the answer is usually the kept order, and that probe alone settles it.
    OrderResult Descend(OrderResult kept, int floor, Goal goal, bool oneFewerFirst = false) {
        // On a large table a lower order is judged against the kept one on a
        // log-spread sample of the band: the goals below the target compare
        // errors, which such a sample measures alike for both, at a fraction
        // of the cost of every sample. The answer is measured on all of them.
        const bool sampled = goal != Goal::kTarget && m_full.n > 2 * kJudgeSamples;
        const Problem sample = sampled ? Subset(m_full, kJudgeSamples) : Problem{};
        const Problem& judge = sampled ? sample : m_full;
        if (sampled) kept = OnAllSamples(judge, m_opt, kept);
        OrderResult best = kept;
        int lo = std::max(1, floor), hi = StateCount(kept.model.poles);
        for (bool first = true; lo < hi; first = false) {
            const int mid = first && oneFewerFirst ? hi - 1 : lo + (hi - lo) / 2;
            OrderResult probe;
            probe.model = best.model;
            while (StateCount(probe.model.poles) > mid)
                probe.model = SolveResidues(m_sub, Shrink(probe.model), m_opt);
            // On a small table the poles the search placed at this order
            // start the refinement nearer its end than the shrunk set does.
            // (On noise, refinement from either ends near the same error, but
            // from the search's rough poles it crawls there.)
            const auto tried = m_tried.find(StateCount(probe.model.poles));
            if (goal == Goal::kTarget && tried != m_tried.end()) {
                Model placed = SolveResidues(m_sub, tried->second, m_opt);
                if (ModelError(m_sub, placed) < ModelError(m_sub, probe.model)) probe.model = std::move(placed);
            }
            Refine(m_sub, m_opt, probe, Needed(kept, StateCount(probe.model.poles), goal));
            m_summary.iterations += probe.iterations;
            probe = OnAllSamples(judge, m_opt, probe);
            Note(probe, sampled ? "steps (checking below, on a sample of the band)" : "steps (checking below)");
            if (Meets(probe, kept, goal)) {
                best = std::move(probe);
                hi = StateCount(best.model.poles);
            } else {
                lo = mid + 1;
            }
        }
        return sampled ? OnAllSamples(m_full, m_opt, best) : best;
    }

    void Note(const OrderResult& lower, const char* what = "steps (checking below)") {
        const int states = StateCount(lower.model.poles);
        m_summary.steps.push_back({states, lower.error, lower.iterations, lower.condition});
        AddOrderLine(m_log, states, lower, what);
    }

    // After the search: give the kept order its best poles when it missed the
    // target, then return to fewer poles where they meet what it met.
    void Settle() {
        const Termination t = m_summary.termination;
        if (t != Termination::kTargetMet) {
            Refine(m_sub, m_opt, m_kept);
            m_kept = OnAllSamples(m_full, m_opt, m_kept);
            if (t == Termination::kStalled)
                m_kept = Descend(std::move(m_kept), m_opt.minOrder, Goal::kNoiseFloor);
            else if (t == Termination::kNoProgress)
                m_kept = Descend(std::move(m_kept), m_opt.minOrder, Goal::kPlateau);
        }
        // On a few samples relocation falls short of the best poles of an order
        // (the constraint binds, the data barely determine the poles), so the
        // search may have climbed past the fewest poles that do: refined, they
        // are cheap to check on data this small.
        if (m_kept.error <= m_opt.targetError && m_full.n <= kSmallData)
            m_kept = Descend(std::move(m_kept), m_opt.minOrder, Goal::kTarget, true);
    }

    Model Finish() {
        const int dropped = DropDeadPoles(m_kept.model, m_full.wLow);
        if (dropped > 0)
            m_log += "dropped " + std::to_string(dropped) + (dropped == 1 ? " pole" : " poles") +
                     " whose terms came out negligible\n";
        m_summary.order = StateCount(m_kept.model.poles);
        m_summary.error = m_kept.error;
        m_summary.targetMet = m_kept.error <= m_opt.targetError;
        if (m_summary.targetMet) m_summary.termination = Termination::kTargetMet;  // refinement can reach it last
        m_log += std::string("stopped: ") + Reason(m_summary.termination) + " at order " +
                 std::to_string(m_summary.order) + ", error " + Sci(m_summary.error) + ", " +
                 std::to_string(m_summary.iterations) + " relocations in all\n";
        Report(m_opt, 1.0, "done");
        return std::move(m_kept.model);
    }

    const Problem& m_full;
    const Options& m_opt;
    Summary& m_summary;
    std::string& m_log;
    const int m_maxStates;
    const bool m_pairs;

    Problem m_sub;
    OrderResult m_kept;  // the last order that was worth its poles
    OrderResult m_last;  // the last order tried
    bool m_haveKept = false;
    int m_stalls = 0;    // orders in a row without a meaningful gain, on a noise-like residual
    int m_flat = 0;      // orders in a row without even a negligible gain
    int m_lastStep = 1;
    bool m_jumps = true;
    double m_firstError = -1.0, m_shown = 0.0;
    bool m_grown = false;     // the subset was enlarged once after a failed confirmation
    double m_optimism = 1.0;  // how much lower the subset's errors read than all the samples'

    std::vector<std::pair<int, double>> m_history;  // (states, error) of the kept orders
    std::map<int, PoleSet> m_tried;                 // the last poles tried at each order
};

// Without a frequency above zero, or too few rows for even one relocated
// pole, the data determine a constant (or one pole placed in the band).
Model FitConstant(const Problem& full, const Options& opt, Summary& summary, std::string& log) {
    PoleSet poles;
    if (full.anyPositive && (opt.fixedOrder > 0 || opt.targetError < 1.0))
        poles.emplace_back(-std::sqrt(full.wLow * full.wHigh), 0.0);
    Model m = SolveResidues(full, poles, opt);
    summary.order = StateCount(poles);
    summary.error = ModelError(full, m);
    summary.targetMet = summary.error <= opt.targetError;
    summary.termination = opt.fixedOrder > 0 ? Termination::kFixedOrder
                                             : (summary.targetMet ? Termination::kTargetMet : Termination::kOrderCap);
    summary.steps.push_back({summary.order, summary.error, 0, 0.0});
    log += "order " + std::to_string(summary.order) + " (as many as the samples determine): error " +
           Sci(summary.error) + "\n";
    Report(opt, 1.0, "done");
    return m;
}

Model FitFixedOrder(const Problem& full, const Options& opt, Summary& summary, std::string& log) {
    const int order = std::min(opt.fixedOrder, Capacity(full, opt));
    Report(opt, 0.0, "fitting a fixed order");
    const Problem sub = Subset(full, SubsetSize(order));
    const bool pairs = opt.allowComplex && opt.startPoles == StartPoles::kComplexLogSpaced;
    OrderResult res = Polish(sub, opt, StartingPoles(sub, order, pairs), log);
    if (res.error > opt.targetError) Refine(sub, opt, res);
    res = OnAllSamples(full, opt, res);
    summary.order = StateCount(res.model.poles);
    summary.error = res.error;
    summary.iterations = res.iterations;
    summary.targetMet = res.error <= opt.targetError;
    summary.termination = Termination::kFixedOrder;
    summary.steps.push_back({summary.order, res.error, res.iterations, res.condition});
    log += "order " + std::to_string(summary.order) + " (fixed): error " + Sci(res.error) + " after " +
           std::to_string(res.iterations) + " relocations\n";
    Report(opt, 1.0, "done");
    return std::move(res.model);
}

}  // namespace

const char* TerminationReason(Termination t) { return Reason(t); }

Model FitModel(const Problem& full, const Options& opt, Summary& summary, std::string& log) {
    summary = Summary{};
    if (!full.anyPositive || Capacity(full, opt) < 1) return FitConstant(full, opt, summary, log);
    if (opt.fixedOrder > 0) return FitFixedOrder(full, opt, summary, log);
    return OrderSearch(full, opt, summary, log).Run();
}

}  // namespace polerat::detail
