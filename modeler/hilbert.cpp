// Kramers-Kronig (Hilbert) reconstruction of Dk from the loss curve.
//
// The imaginary part a(w) = -Dk Df is taken piecewise linear between the
// samples, zero at the first sample and falling to zero a decade above the last.
// For each sample frequency w the real part follows from the principal value
//     Re eps(w) - eps_inf = -(1/pi) P int a(w') 2 w' / (w'^2 - w^2) dw',
// integrated exactly segment by segment: 2w'/(w'^2 - w^2) = 1/(w' - w) + 1/(w' + w).
#include <cmath>
#include <cstddef>
#include <vector>

#include "modeler/MaterialModeler.h"

namespace {
constexpr double kInvPi = 0.3183098861837907;
constexpr double kTopExtension = 10.0;  // the loss returns to zero a decade above the band
}  // namespace

void MaterialModeler::DoHilbertReconstruction() {
    const std::size_t n = m_df.size();
    if (n == 0) {
        m_dkCausal.clear();
        m_dfCausal.clear();
        return;
    }

    std::vector<double> w(n + 1), a(n + 1);
    for (std::size_t i = 0; i < n; ++i) {
        w[i] = m_freq[i] * TwoPi;
        a[i] = -(m_dk[i] * m_df[i]);
    }
    w[n] = w[n - 1] * kTopExtension;
    a[n] = 0.0;
    a[0] = 0.0;

    std::vector<double> p(n), q(n);
    for (std::size_t i = 0; i < n; ++i) {
        p[i] = (a[i + 1] - a[i]) / (w[i + 1] - w[i]);
        q[i] = a[i] - p[i] * w[i];
    }

    std::vector<double> r(n);
    for (std::size_t k = 0; k < n; ++k) {
        const double wk = w[k];
        double sum = 0.0;
        for (std::size_t i = 0; i < n; ++i) {
            sum += (w[i + 1] - w[i]) * (p[i] * 2.0);
            // ln|w' + w| part; both ends are zero only for a first sample at 0 Hz,
            // where q[0] = 0 makes the term vanish in the limit.
            if (w[i] + wk != 0.0)
                sum += -((std::log(std::fabs(w[i + 1] + wk)) - std::log(std::fabs(wk + w[i]))) *
                         (p[i] * wk - q[i]));
            // ln|w' - w| part; the two infinite terms at w' = w cancel between
            // segments k-1 and k, so they are left out by index.
            const double v = p[i] * wk + q[i];
            if (i + 1 != k) sum += std::log(std::fabs(wk - w[i + 1])) * v;
            if (i != k) sum += -(std::log(std::fabs(wk - w[i])) * v);
        }
        r[k] = -(sum * kInvPi);
    }

    // eps_inf: the mean offset between measured and integrated Dk, so that no
    // single sample anchors the curve.
    double offset = 0.0;
    for (std::size_t i = 0; i < n; ++i) offset += m_dk[i] - r[i];
    const double epsInf = offset / static_cast<double>(n);

    m_dkCausal.resize(n);
    m_dfCausal.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        m_dkCausal[i] = epsInf + r[i];
        m_dfCausal[i] = m_df[i];
    }
}
