// Conduction before the reconstruction: estimate, take out, put back.
#include "report/conduction.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "fitting/constants.h"
#include "io/number_text.h"

namespace matmodel {
namespace {

// The loss counts as rising toward dc like 1/f when its log-log slope over
// the lowest samples is at most this (conduction gives -1, a relaxation's
// low-frequency side +1).
constexpr double kConductionSlope = -0.5;
constexpr std::size_t kLowestSamples = 5;
// Where taking sigma out would leave less than this fraction of a sample's
// loss, sigma is lowered: the rest must stay a loss.
constexpr double kKeptLoss = 1e-6;
// The conduction pole's distance below the lowest sample: its term then
// differs from sigma / (j w e0) by a part in 1e15 across the band.
constexpr double kPoleBelowBand = 1e-15;

double Loss(double dk, double df) { return dk * df; }

}  // namespace

Conduction ChooseConduction(const std::vector<double>& freq, const std::vector<double>& dk,
                            const std::vector<double>& df, std::optional<double> given) {
    // The lowest positive samples by frequency: (w, loss).
    std::vector<std::pair<double, double>> low;
    for (std::size_t i = 0; i < freq.size(); ++i)
        if (freq[i] > 0.0 && Loss(dk[i], df[i]) > 0.0) low.emplace_back(kTwoPi * freq[i], Loss(dk[i], df[i]));
    std::sort(low.begin(), low.end());
    Conduction c;
    c.given = given.has_value();
    if (given) {
        c.wanted = *given;
    } else if (low.size() >= 3) {
        low.resize(std::min(low.size(), kLowestSamples));
        double mx = 0.0, my = 0.0;
        for (const auto& [w, loss] : low) {
            mx += std::log(w);
            my += std::log(loss);
        }
        mx /= static_cast<double>(low.size());
        my /= static_cast<double>(low.size());
        double sxy = 0.0, sxx = 0.0;
        for (const auto& [w, loss] : low) {
            sxy += (std::log(w) - mx) * (std::log(loss) - my);
            sxx += (std::log(w) - mx) * (std::log(w) - mx);
        }
        if (sxx > 0.0 && sxy / sxx <= kConductionSlope) {
            // loss = sigma / (w e0) + beta w, a relaxation's tail below its
            // peak: least squares over the lowest samples, each relative to
            // its own loss.
            double a11 = 0.0, a12 = 0.0, a22 = 0.0, b1 = 0.0, b2 = 0.0;
            for (const auto& [w, loss] : low) {
                const double u = 1.0 / (w * kE0 * loss), v = w / loss;
                a11 += u * u;
                a12 += u * v;
                a22 += v * v;
                b1 += u;
                b2 += v;
            }
            const double det = a11 * a22 - a12 * a12;
            double sigma = det > 0.0 ? (b1 * a22 - b2 * a12) / det : 0.0;
            const double beta = det > 0.0 ? (a11 * b2 - a12 * b1) / det : 0.0;
            if (!(beta >= 0.0 && sigma > 0.0)) sigma = b1 / a11;  // conduction alone
            c.wanted = sigma;
        }
    }
    // No sample may lose more than all but kKeptLoss of its loss.
    double cap = std::numeric_limits<double>::infinity();
    for (std::size_t i = 0; i < freq.size(); ++i)
        if (freq[i] > 0.0) cap = std::min(cap, (1.0 - kKeptLoss) * kTwoPi * freq[i] * kE0 * Loss(dk[i], df[i]));
    c.sigma = std::max(0.0, std::min(c.wanted, cap));
    return c;
}

std::vector<double> WithoutConduction(const std::vector<double>& freq, const std::vector<double>& dk,
                                      const std::vector<double>& df, double sigma) {
    std::vector<double> out(df);
    for (std::size_t i = 0; i < freq.size(); ++i)
        if (freq[i] > 0.0) out[i] = (Loss(dk[i], df[i]) - sigma / (kTwoPi * freq[i] * kE0)) / dk[i];
    return out;
}

void AddConduction(polerat_data& record, double sigma, double lowestHz) {
    record.pole_re.insert(record.pole_re.begin(), -kPoleBelowBand * kTwoPi * lowestHz);
    record.pole_im.insert(record.pole_im.begin(), 0.0);
    record.b.insert(record.b.begin(), std::vector<double>{1.0});
    record.c.at(0).insert(record.c.at(0).begin(), sigma / kE0);
}

std::vector<double> LossShareWeights(const std::vector<double>& freq, const std::vector<double>& dk,
                                     const std::vector<double>& df, double sigma) {
    std::vector<double> w(freq.size(), 1.0);
    for (std::size_t i = 0; i < freq.size(); ++i)
        if (freq[i] > 0.0 && Loss(dk[i], df[i]) > 0.0)
            w[i] = std::clamp(1.0 - sigma / (kTwoPi * freq[i] * kE0 * Loss(dk[i], df[i])), kKeptLoss, 1.0);
    return w;
}

std::string ConductionNote(const Conduction& c) {
    std::string note = "sigma " + FormatGeneral(c.sigma, 4) + " S/m taken out before the fit (" +
                       (c.given ? "given" : "estimated from the lowest samples") + ")";
    if (c.Lowered())
        note += "; lowered from " + FormatGeneral(c.wanted, 4) + " S/m, which would leave a negative loss";
    return note;
}

}  // namespace matmodel
