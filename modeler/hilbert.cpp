// Kramers-Kronig (Hilbert) reconstruction of Dk from the loss curve.
//
// The imaginary part a(w) = -Dk Df is taken piecewise linear between the
// samples, zero at the first sample and falling to zero a decade above the last.
// For each sample frequency w the real part follows from the principal value
//     Re eps(w) - eps_inf = -(1/pi) P int a(w') 2 w' / (w'^2 - w^2) dw',
// integrated exactly segment by segment: 2w'/(w'^2 - w^2) = 1/(w' - w) + 1/(w' + w).
// The double sum is the O(N^2) part: hilbert_kernels.h states it as a direct
// loop and gives the fast kernel that reproduces that loop's bits.
#include <cstddef>
#include <vector>

#include "modeler/MaterialModeler.h"
#include "modeler/hilbert_kernels.h"

void MaterialModeler::DoHilbertReconstruction() {
    namespace detail = matmodel::detail;
    const std::size_t n = m_df.size();
    if (n == 0) {
        m_dkCausal.clear();
        m_dfCausal.clear();
        return;
    }

    detail::LossSegments segments;
    detail::BuildLossSegments(m_freq.data(), m_dk.data(), m_df.data(), n, TwoPi, segments);
    std::vector<double> r, dkCausal;
    detail::HilbertFast(segments, r);
    detail::CausalDk(m_dk.data(), r, dkCausal);

    // The outputs change only once everything that can fail has run.
    m_dkCausal.swap(dkCausal);
    m_dfCausal.assign(m_df.begin(), m_df.end());
}
