// The host adapter's three entry points on host lists of any lengths and
// values, with and without a message manager, the data outputs sometimes the
// input lists themselves. Checks what the host relies on: a request it cannot
// take (fewer than 3 samples, a list shorter than the frequencies) returns
// false with the outputs untouched and no message; a failed one resets the
// outputs (the constant term excepted) and sends exactly one one-line
// message; a successful one fills them: the samples' frequencies, a Df text
// that holds the Dk text (crossed outputs would not), a stable, passive model.
#include "adapter/FreqDependentMatModeler.h"  // and the host's types
#include "fuzz_support.h"

namespace {

struct CountingManager : IMessageManager {
    void AddMessage(KestrelMessage& message) override {
        fuzz::Require(message.Args().size() == 1 && ++count == 1, "not one message of one argument");
        const std::string text = message.Args()[0].OEM();
        fuzz::Require(!text.empty() && text.find('\n') == std::string::npos, "message empty or not one line", text);
    }
    int count = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const int entry = in.ConsumeIntegralInRange(0, 3);  // 3: the poles from conductivities
    const bool withManager = in.ConsumeBool(), alias = fuzz::Now(in, 5);
    // The lists by column; a short row leaves a list shorter than the one
    // before it (the request is refused) or the frequencies shorter (the rest
    // of the other lists is ignored).
    std::vector<double> freq, dk, loss;
    for (const std::vector<double>& row : fuzz::Rows(in, entry == 3))
        for (std::size_t j = 0; j < row.size() && j < 3; ++j) (j == 0 ? freq : j == 1 ? dk : loss).push_back(row[j]);
    const bool takes = freq.size() >= 3 && dk.size() >= freq.size() && loss.size() >= freq.size();

    CountingManager manager;
    const CFreqDependentMatModeler adapter(withManager ? &manager : nullptr);
    const IMatFreqDependentFittingAlgorithm& host = adapter;
    bool ok = false;
    if (entry == 0) {
        // Outputs hold something beforehand, so that a reset shows.
        std::vector<double> outF{7.0}, outDk{8.0, 8.0}, outDf, inF = freq, inDk = dk, inDf = loss;
        ok = alias ? host.GetMultiPoleDebyeFittedData(inF, inDk, inDf, inF, inDk, inDf)
                   : host.GetMultiPoleDebyeFittedData(freq, dk, loss, outF, outDk, outDf);
        if (alias) outF = inF, outDk = inDk, outDf = inDf;
        fuzz::Require(!takes ? !ok && outF.size() == (alias ? freq.size() : 1u) && (alias || outDf.empty())
                      : ok ? outF == freq && outDk.size() == freq.size() && outDf.size() == freq.size()
                           : outF.empty() && outDk.empty() && outDf.empty(),
                      "fitted data not as the result says");
    } else if (entry == 1) {
        KString dkExpr("old"), dfExpr("old");
        ok = host.GetMultiPoleDebyeFittedExpr(freq, dk, loss, dkExpr, dfExpr);
        const std::string dkText = dkExpr.OEM(), dfText = dfExpr.OEM();
        fuzz::Require(!takes ? !ok && dkText == "old" && dfText == "old"
                      : ok   ? !dkText.empty() && dfText.find(dkText) != std::string::npos
                             : dkText.empty() && dfText.empty(),
                      "expressions not as the result says");
    } else {
        std::vector<fuzz::Cx> poles{{1.0, 1.0}}, residues{{2.0, 2.0}};
        double atInfinity = -42.0;
        ok = adapter.GetMultiPoleDebyeFittedPolesResidues(freq, dk, loss, poles, residues, atInfinity, entry == 2);
        if (ok) fuzz::CheckDebye(poles, residues, atInfinity);
        fuzz::Require(ok ? takes : poles.size() == !takes && residues.size() == !takes && atInfinity == -42.0,
                      "poles and residues not as the result says");
    }
    fuzz::Require(manager.count == (withManager && takes && !ok), "a message for a request that did not fail");
    return 0;
}
