// CFreqDependentMatModeler: the host's multi-pole Debye fitter.
//
// Every request stands alone: the host's sample lists (frequency in Hz, Dk, and
// Df or conductivity in S/m) go into a fresh MaterialModeler, which validates
// them, reconstructs a causal Dk curve, fits the rational model and hands back
// the result in the host's types. No exception derived from std::exception
// leaves a request once the modeler has been given the data: it becomes one
// message to the host's message manager (if there is one) and a false result,
// with the outputs reset.
//
// A request with fewer than three samples, or with a Dk or loss list shorter
// than the frequency list, returns false at once: no message, outputs untouched.
// Values past the frequency list's length in the other lists are ignored.
//
//   CFreqDependentMatModeler fitter(&hostMessages);
//   const IMatFreqDependentFittingAlgorithm& algorithm = fitter;
//   KString dkExpr, dfExpr;
//   if (algorithm.GetMultiPoleDebyeFittedExpr(freq, dk, df, dkExpr, dfExpr)) ...
#ifndef MATMODEL_ADAPTER_FREQDEPENDENTMATMODELER_H
#define MATMODEL_ADAPTER_FREQDEPENDENTMATMODELER_H

#include <complex>
#include <vector>

#include "adapter/orvelcore.h"
#include "modeler/matmodel_export.h"

class MATMODEL_API CFreqDependentMatModeler : public IMatFreqDependentFittingAlgorithm {
public:
    /// `messageManager` receives one message per failed request; it is not
    /// owned and may be null, and then only the result tells of a failure.
    explicit CFreqDependentMatModeler(IMessageManager* messageManager = nullptr);

    /// The model's poles and residues (in the plane of s = j omega, omega in
    /// rad/s) into `poles` and `residues`, and its constant term into
    /// `residueAtInfinity`. The third sample list holds loss tangents when
    /// `lossIsTangent` is true, conductivities in S/m otherwise. On failure both
    /// lists are emptied and `residueAtInfinity` keeps its value.
    bool GetMultiPoleDebyeFittedPolesResidues(const std::vector<double>& freq,
                                              const std::vector<double>& dk,
                                              const std::vector<double>& loss,
                                              std::vector<std::complex<double>>& poles,
                                              std::vector<std::complex<double>>& residues,
                                              double& residueAtInfinity,
                                              bool lossIsTangent) const;

private:
    // The host reaches these only through the interface.

    /// The Dk expression into `dkExpr`, the Df expression into `dfExpr`, both in
    /// the host's intrinsic frequency variable. Both are emptied on failure.
    bool GetMultiPoleDebyeFittedExpr(const std::vector<double>& freq,
                                     const std::vector<double>& dk,
                                     const std::vector<double>& df, KString& dkExpr,
                                     KString& dfExpr) const override;

    /// The fitted frequency, Dk and Df of every sample, replacing the lists'
    /// content. All three are emptied on failure. An output may be the same
    /// object as an input list.
    bool GetMultiPoleDebyeFittedData(const std::vector<double>& freq,
                                     const std::vector<double>& dk,
                                     const std::vector<double>& df,
                                     std::vector<double>& fittedFreq,
                                     std::vector<double>& fittedDk,
                                     std::vector<double>& fittedDf) const override;

    IMessageManager* m_messageManager;
};

#endif  // MATMODEL_ADAPTER_FREQDEPENDENTMATMODELER_H
