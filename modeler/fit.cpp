// FitData: forms eps = Dk (1 - j Df) and hands it to the fitting engine.
#include <complex>
#include <exception>
#include <stdexcept>
#include <string>
#include <vector>

#include "modeler/MaterialModeler.h"

namespace {
// The engine settings a multi-pole Debye model needs: target 1e-3, automatic
// order up to 100 poles, real poles only, stable and passive.
constexpr double kTargetError = 0.001;
constexpr int kMaxOrder = 100;
}  // namespace

void MaterialModeler::FitData() {
    const std::size_t n = m_freq.size();
    DataTable table(1, std::vector<double>(1, 0.0));
    PoleratSamples samples(1, std::vector<std::vector<std::complex<double>>>(
                                  1, std::vector<std::complex<double>>(n)));

    if (m_doHilbert) DoHilbertReconstruction();

    for (std::size_t i = 0; i < n; ++i) {
        double dk = m_dk.at(i);
        double df = m_df.at(i);
        if (m_doHilbert) {
            dk = m_dkCausal.at(i);
            df = m_dfCausal.at(i);
        }
        samples[0][0][i] = std::complex<double>(dk, -(df * dk));
    }

    std::string text;
    const std::vector<double> list;
    try {
        polerat_run(m_fitterData, table, m_freq, samples, kTargetError, kMaxOrder, 1, 0, 0,
                    false, true, 0, false, text, list, nullptr, -1.0, false, 1, 1, 1);
    } catch (const std::exception& e) {
        throw std::runtime_error(e.what());
    } catch (...) {
        throw std::runtime_error("State space fitter failed!");
    }
}
