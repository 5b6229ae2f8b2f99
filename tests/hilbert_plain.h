// The direct double loop of the Kramers-Kronig reconstruction, four std::log
// calls per sample and segment: the definition the fast kernel reproduces bit
// for bit (see modeler/hilbert_kernels.h), and the benchmarks' baseline.
#ifndef MATMODEL_TESTS_HILBERT_PLAIN_H
#define MATMODEL_TESTS_HILBERT_PLAIN_H

#include <cmath>

#include "modeler/hilbert_kernels.h"

namespace matmodel::detail {

// Every product and sum rounded on its own, as the library's Hilbert sources
// are built (-ffp-contract=off): no fused multiply-adds here either.
#if defined(__GNUC__) && !defined(__clang__)
__attribute__((optimize("fp-contract=off")))
#endif
inline void HilbertPlain(const LossSegments& s, std::vector<double>& r) {
#if defined(__clang__)
#pragma clang fp contract(off)
#endif
    const std::vector<double>&w = s.w, &p = s.p, &q = s.q;
    r.assign(s.Size(), 0.0);
    for (std::size_t k = 0; k < r.size(); ++k) {
        const double wk = w[k];
        double sum = 0.0;
        for (std::size_t i = 0; i < r.size(); ++i) {
            sum += (w[i + 1] - w[i]) * (p[i] * 2.0);
            // ln|w' + w| part; both ends are zero only for a first sample at 0 Hz,
            // where q[0] = 0 makes the term vanish in the limit.
            if (w[i] + wk != 0.0)
                sum += -((std::log(std::fabs(w[i + 1] + wk)) - std::log(std::fabs(wk + w[i]))) * (p[i] * wk - q[i]));
            // ln|w' - w| part; the two infinite terms at w' = w cancel between
            // segments k-1 and k, so they are left out by index.
            const double v = p[i] * wk + q[i];
            if (i + 1 != k) sum += std::log(std::fabs(wk - w[i + 1])) * v;
            if (i != k) sum += -(std::log(std::fabs(wk - w[i])) * v);
        }
        r[k] = -(sum * 0.3183098861837907);
    }
}

}  // namespace matmodel::detail

#endif  // MATMODEL_TESTS_HILBERT_PLAIN_H
