// Analysis of a fitted model: worst errors, Debye terms, passivity scan.
#include "report/analysis.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "fitting/constants.h"

namespace matmodel {
namespace {

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

// A loss rising faster than f^kSteepExponent over at least kSteepMinDecades
// is named: the margin above 1 keeps rounding and gentle noise out.
constexpr double kSteepExponent = 1.2;
constexpr double kSteepMinDecades = 0.2;

}  // namespace

WorstError Worst(const std::vector<SampleRow>& rows, double SampleRow::*value,
                 double SampleRow::*reference, bool aboveDc) {
    WorstError worst;
    for (const SampleRow& row : rows) {
        if (aboveDc && !(row.freq > 0.0)) continue;
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

std::vector<SteepLoss> FindSteepLoss(const std::vector<SampleRow>& rows) {
    // The loss eps'' = Dk Df at the positive frequencies, by frequency.
    std::vector<std::pair<double, double>> loss;
    for (const SampleRow& row : rows)
        if (row.freq > 0.0 && row.dkMeasured * row.dfMeasured > 0.0)
            loss.emplace_back(row.freq, row.dkMeasured * row.dfMeasured);
    const auto slope = [&](std::size_t a, std::size_t b) {
        return std::log(loss[b].second / loss[a].second) / std::log(loss[b].first / loss[a].first);
    };
    std::vector<SteepLoss> bands;
    for (std::size_t start = 0; start + 1 < loss.size();) {
        std::size_t end = start;
        while (end + 1 < loss.size() && slope(end, end + 1) > kSteepExponent) ++end;
        // Noise makes single steps steep on a dense grid; a band counts when
        // its ends are far enough apart and the loss rises steeply between them.
        if (end > start && std::log10(loss[end].first / loss[start].first) >= kSteepMinDecades &&
            slope(start, end) > kSteepExponent)
            bands.push_back({loss[start].first, loss[end].first, slope(start, end)});
        start = end + 1;
    }
    return bands;
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

void Analyse(ModelReport& r) {
    SplitPoles(r);
    // Summed term by term: a conduction pole's delta_eps is enormous, and
    // subtracting it from eps(0) would lose every digit of the rest.
    r.staticDk = r.epsInf;
    for (const DebyeTerm& t : r.debye)
        if (!t.conduction) r.staticDk += t.deltaEps;
    for (const ComplexPair& c : r.pairs) r.staticDk += (2.0 * c.residue / -c.pole).real();
    r.dkError = Worst(r.rows, &SampleRow::dkFitted, &SampleRow::dkCausal);
    // Every passive model's loss is 0 at 0 Hz, whatever Df floor the input had.
    r.dfError = Worst(r.rows, &SampleRow::dfFitted, &SampleRow::dfMeasured, true);
    r.causalShift = Worst(r.rows, &SampleRow::dkCausal, &SampleRow::dkMeasured);
    r.steepLoss = FindSteepLoss(r.rows);
    r.passivity = CheckPassivity(r);
}

}  // namespace matmodel
