// Reading the fitted model: Dk and Df at the input frequencies, poles and
// residues, and the constant term.
#include <complex>
#include <cstddef>
#include <stdexcept>
#include <vector>

#include "modeler/MaterialModeler.h"
#include "modeler/pole_walk.h"

using matmodel::detail::ConstantTerm;
using matmodel::detail::HasFittedModel;
using matmodel::detail::PairStates;
using matmodel::detail::RealState;
using matmodel::detail::WalkPoles;

namespace {

using Complex = std::complex<double>;

void RequireFit(const polerat_data* record) {
    if (!HasFittedModel(record)) throw std::runtime_error("Must call FitData() first.");
}

}  // namespace

void MaterialModeler::GetFittedData(DataTable& table) const {
    RequireFit(m_fitterData);
    const polerat_data& record = *m_fitterData;
    const double d = ConstantTerm(record);

    const std::size_t m = m_freq.size();
    table.resize(m);
    for (std::size_t i = 0; i < m; ++i) {
        const Complex s(0.0, m_freq[i] * TwoPi);
        Complex eps(0.0, 0.0);
        WalkPoles(
            record,
            [&](const RealState& p) { eps += (p.c0 * p.b0) / (s - p.a); },
            [&](const PairStates& p) {
                // The pair's two conjugate terms summed over a real denominator
                // polynomial, so the record's real b and c enter directly.
                const Complex A = s - p.a;
                const Complex B(p.beta, 0.0);
                const Complex den = A * A + B * B;
                Complex num = A * p.b0 + p.beta * p.b1;
                num *= p.c0;
                num += p.c1 * (-(p.beta * p.b0) + A * p.b1);
                eps += num / den;
            });
        eps.real(eps.real() + d);

        std::vector<double>& row = table[i];
        row.resize(3);
        row[0] = m_freq[i];
        row[1] = eps.real();
        row[2] = -(eps.imag() / eps.real());
    }
}

void MaterialModeler::GetPolesAndResidues(std::vector<std::complex<double>>& poles,
                                          std::vector<std::complex<double>>& residues) const {
    RequireFit(m_fitterData);
    const polerat_data& record = *m_fitterData;

    const std::size_t n = record.pole_re.size();
    poles.resize(n);
    residues.resize(n);
    WalkPoles(
        record,
        [&](const RealState& p) {
            poles[p.k] = Complex(p.a, 0.0);
            residues[p.k] = Complex(p.c0 * p.b0, 0.0);
        },
        [&](const PairStates& p) {
            poles[p.k] = Complex(p.a, p.beta);
            poles[p.k + 1] = Complex(p.a, -p.beta);
            const Complex r = (0.5 * Complex(p.b0, -p.b1)) * Complex(p.c0, p.c1);
            residues[p.k] = r;
            residues[p.k + 1] = std::conj(r);
        });
}

double MaterialModeler::GetResidueAtInfinity() const {
    RequireFit(m_fitterData);
    return ConstantTerm(*m_fitterData);
}
