// The host adapter: one fresh MaterialModeler per request, failures turned into
// host messages.
#include "adapter/FreqDependentMatModeler.h"

#include <cstddef>
#include <exception>
#include <string>
#include <vector>

#include "fitting/polerat.h"
#include "modeler/MaterialModeler.h"

namespace {

// The modeler needs three samples; with fewer the host gets a plain false, as
// it expects, rather than a message.
constexpr std::size_t kMinSamples = 3;

// The host's classification of a failed fit request, passed through unchanged.
constexpr int kFailureSeverity = 1;
constexpr int kFailureCode0 = 0;
constexpr int kFailureCode1 = 24464;
constexpr int kFailureCode2 = -1;
constexpr int kFailureCode3 = 6;
constexpr int kArgumentKind = 0;

// Copies the host's lists into rows of (frequency, Dk, loss) before anything
// is written, so an output list may be the caller's input list. False for a
// request the modeler cannot take: too few samples, or a list too short to
// give every sample its values.
bool TakeSamples(const std::vector<double>& freq, const std::vector<double>& dk,
                 const std::vector<double>& loss, DataTable& input) {
    const std::size_t n = freq.size();
    if (n < kMinSamples) return false;
    if (dk.size() < n || loss.size() < n) return false;
    input.resize(n);
    for (std::size_t i = 0; i < n; ++i) input[i] = {freq[i], dk[i], loss[i]};
    return true;
}

void Report(IMessageManager* manager, const char* text) {
    if (manager == nullptr) return;
    KestrelMessage message(static_cast<MessageSeverity>(kFailureSeverity), kFailureCode0,
                           kFailureCode1, kFailureCode2, kFailureCode3,
                           MessageManagerStrings::kNullStr, MessageManagerStrings::kNullStr,
                           false);
    const KString argument(text);
    static_cast<ArgumentManager&>(message).AddArg(argument, kArgumentKind);
    manager->AddMessage(message);
    // The manager copies what it keeps: argument, then message, end here.
}

// Loads `input` into a fresh modeler, fits it and lets `fill` read the result.
// A std::exception from any of these becomes one host message; `reset` then
// clears the outputs. Everything else propagates to the host untouched.
template <typename Fill, typename Reset>
bool RunGuarded(IMessageManager* manager, const DataTable& input, bool lossIsTangent,
                Fill&& fill, Reset&& reset) {
    try {
        MaterialModeler modeler;
        if (lossIsTangent)
            modeler.SetInputData(input);
        else
            modeler.SetInputDataUsingConductivity(input);
        modeler.FitData();
        fill(modeler);
    } catch (const std::exception& e) {
        // The modeler and its fitted record are gone by now.
        Report(manager, e.what());
        reset();
        return false;
    }
    return true;
}

}  // namespace

CFreqDependentMatModeler::CFreqDependentMatModeler(IMessageManager* messageManager)
    : m_messageManager(messageManager) {}

bool CFreqDependentMatModeler::GetMultiPoleDebyeFittedExpr(const std::vector<double>& freq,
                                                          const std::vector<double>& dk,
                                                          const std::vector<double>& df,
                                                          KString& dkExpr,
                                                          KString& dfExpr) const {
    DataTable input;
    if (!TakeSamples(freq, dk, df, input)) return false;
    const std::string variable = KString(val::kIntrinsicFreq).OEM();

    return RunGuarded(
        m_messageManager, input, true,
        [&](const MaterialModeler& modeler) {
            std::string dfText;
            std::string dkText;
            modeler.CreateExpressions(dfText, dkText, variable);
            dkExpr = dkText.c_str();
            dfExpr = dfText.c_str();
        },
        [&] {
            const KString empty(L"");
            dkExpr = empty;
            dfExpr = empty;
        });
}

bool CFreqDependentMatModeler::GetMultiPoleDebyeFittedData(
    const std::vector<double>& freq, const std::vector<double>& dk,
    const std::vector<double>& df, std::vector<double>& fittedFreq,
    std::vector<double>& fittedDk, std::vector<double>& fittedDf) const {
    DataTable input;
    if (!TakeSamples(freq, dk, df, input)) return false;

    return RunGuarded(
        m_messageManager, input, true,
        [&](const MaterialModeler& modeler) {
            DataTable fitted;
            modeler.GetFittedData(fitted);
            fittedFreq.clear();
            fittedDk.clear();
            fittedDf.clear();
            for (const std::vector<double>& row : fitted) {
                if (row.size() < 3) continue;
                fittedFreq.push_back(row[0]);
                fittedDk.push_back(row[1]);
                fittedDf.push_back(row[2]);
            }
        },
        [&] {
            fittedFreq.clear();
            fittedDk.clear();
            fittedDf.clear();
        });
}

bool CFreqDependentMatModeler::GetMultiPoleDebyeFittedPolesResidues(
    const std::vector<double>& freq, const std::vector<double>& dk,
    const std::vector<double>& loss, std::vector<std::complex<double>>& poles,
    std::vector<std::complex<double>>& residues, double& residueAtInfinity,
    bool lossIsTangent) const {
    DataTable input;
    if (!TakeSamples(freq, dk, loss, input)) return false;

    return RunGuarded(
        m_messageManager, input, lossIsTangent,
        [&](const MaterialModeler& modeler) {
            modeler.GetPolesAndResidues(poles, residues);
            // Written last, so a failure above leaves the caller's value.
            residueAtInfinity = modeler.GetResidueAtInfinity();
        },
        [&] {
            poles.clear();
            residues.clear();
        });
}
