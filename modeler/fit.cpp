// FitData, and the engine call it shares with the report.
#include <complex>
#include <exception>
#include <stdexcept>
#include <string>
#include <vector>

#include "modeler/FitEngine.h"
#include "modeler/MaterialModeler.h"

namespace matmodel {
namespace {

const char* Reason(int termination) {
    switch (termination) {
        case 0: return "the target was met";
        case 1: return "one more pole stopped lowering the error meaningfully and the rest looks like noise";
        case 2: return "the order reached its cap (or as many poles as the samples determine)";
        case 3: return "the order was fixed";
        case 4: return "more poles stopped lowering the error, though the rest keeps a shape the model cannot follow";
    }
    return "the engine gave no reason";
}

}  // namespace

EngineSummary FitPermittivity(const std::vector<double>& freq, const std::vector<double>& dk,
                              const std::vector<double>& df, const EngineSettings& settings,
                              polerat_data*& record) {
    const std::size_t n = freq.size();
    PoleratSamples samples(1, std::vector<std::vector<std::complex<double>>>(
                                  1, std::vector<std::complex<double>>(n)));
    for (std::size_t i = 0; i < n; ++i) {
        const double k = dk.at(i);
        samples[0][0][i] = std::complex<double>(k, -(df.at(i) * k));
    }
    DataTable info(1, std::vector<double>(1, 0.0));
    std::string log;
    // Real poles only, stable and passive, per-part relative weighting, the
    // engine's default iterations, stall rule and starting poles.
    polerat_run(record, info, freq, samples, settings.targetError, settings.maxOrder, 1, settings.fixedOrder, 0,
                false, true, 0, false, log, settings.weights, nullptr, -1.0, false, 1, 1, 1);
    EngineSummary s;
    const std::vector<double>& row = info.at(0);
    s.order = static_cast<int>(row.at(0));
    s.error = row.at(1);
    s.targetError = settings.targetError;
    s.targetMet = row.at(3) != 0.0;
    s.termination = static_cast<int>(row.at(4));
    s.reason = Reason(s.termination);
    return s;
}

}  // namespace matmodel

void MaterialModeler::FitData() {
    if (m_doHilbert) DoHilbertReconstruction();
    // Every list is read with bounds-tested access, the measured ones too when
    // the reconstructed values replace them.
    for (std::size_t i = 0; i < m_freq.size(); ++i) {
        (void)m_dk.at(i);
        (void)m_df.at(i);
        if (m_doHilbert) {
            (void)m_dkCausal.at(i);
            (void)m_dfCausal.at(i);
        }
    }
    try {
        matmodel::FitPermittivity(m_freq, m_doHilbert ? m_dkCausal : m_dk, m_doHilbert ? m_dfCausal : m_df, {},
                                  m_fitterData);
    } catch (const std::exception& e) {
        throw std::runtime_error(e.what());
    } catch (...) {
        throw std::runtime_error("State space fitter failed!");
    }
}
