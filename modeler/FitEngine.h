// FitPermittivity: the one place that turns sample lists into the engine's
// samples, eps = Dk (1 - j Df), and runs polerat with chosen settings.
//
// MaterialModeler::FitData calls it with the default settings (the fixed call
// a multi-pole Debye model needs) and ignores the summary; the report calls it
// with a user's target and order cap and passes the summary on.
//
//   polerat_data* record = nullptr;
//   matmodel::EngineSummary s = matmodel::FitPermittivity(freq, dk, df, {}, record);
//   if (!s.targetMet) std::cerr << s.reason << "\n";
#ifndef MATMODEL_MODELER_FITENGINE_H
#define MATMODEL_MODELER_FITENGINE_H

#include <string>
#include <vector>

#include "fitting/polerat.h"
#include "modeler/matmodel_export.h"

namespace matmodel {

/// The settings a caller may change; the rest are a Debye model's (real
/// poles, stable and passive, each part of a sample weighed relative to its
/// own size).
struct EngineSettings {
    double targetError = 1e-3;  ///< relative RMS over all samples
    int maxOrder = 100;         ///< the automatic order's cap
    int fixedOrder = 0;         ///< 0: automatic order
    /// Per-sample weights multiplying each sample's relative error (empty:
    /// all ones); each finite and >= 0.
    std::vector<double> weights;
};

/// What the engine reports about a fit.
struct EngineSummary {
    int order = 0;
    double error = 0.0;       ///< relative RMS reached
    double targetError = 0.0; ///< what it was asked for
    bool targetMet = false;
    int termination = 0;      ///< the engine's code (fitting/polerat.h, argument 2)
    std::string reason;       ///< why it stopped, in words: "the target was met", ...
};

/// Fits eps_i = dk[i] (1 - j df[i]) at freq[i] (Hz); the engine's record goes
/// to `record`, releasing the one it held. Lists are read with bounds-tested
/// access. Throws what the engine throws (std::invalid_argument for data it
/// refuses).
MATMODEL_API EngineSummary FitPermittivity(const std::vector<double>& freq, const std::vector<double>& dk,
                                           const std::vector<double>& df, const EngineSettings& settings,
                                           polerat_data*& record);

}  // namespace matmodel

#endif  // MATMODEL_MODELER_FITENGINE_H
