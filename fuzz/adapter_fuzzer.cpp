// The host adapter's three entry points on host lists of any lengths and
// values, with and without a message manager, outputs sometimes aliasing the
// inputs. Checks what the host relies on: a false result either leaves the
// outputs alone (too few samples, no message) or resets them with exactly one
// message; a true result fills them consistently with a stable, passive model.
#include <complex>
#include <cstdint>
#include <string>
#include <vector>

#include "adapter/FreqDependentMatModeler.h"
#include "adapter/orvelcore.h"
#include "fuzz_support.h"

namespace {

using List = std::vector<double>;
using Complex = std::complex<double>;

class CountingManager : public IMessageManager {
public:
    void AddMessage(KestrelMessage& message) override {
        ++count;
        fuzz::Require(message.Args().size() == 1, "a message without exactly one argument");
        const std::string text = message.Args()[0].OEM();
        fuzz::Require(!text.empty(), "a message with an empty argument");
    }
    int count = 0;
};

List Values(FuzzedDataProvider& in, std::size_t n, double lo, double hi) {
    List out(n);
    for (double& v : out) v = fuzz::Value(in, lo, hi);
    return out;
}

// A sweep that rises, with any value sometimes replaced.
List Sweep(FuzzedDataProvider& in, std::size_t n) {
    const double fLow = fuzz::Value(in, 1.0, 1e11);
    const double ratio = 1.0 + in.ConsumeIntegralInRange(1, 2000) / 100.0;
    List f(n);
    double x = fLow;
    for (double& v : f) {
        v = in.ConsumeIntegral<std::uint8_t>() < 240 ? x : fuzz::AnyDouble(in);
        x *= ratio;
    }
    return f;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const std::uint8_t entry = in.ConsumeIntegralInRange<std::uint8_t>(0, 3);
    const bool withManager = in.ConsumeBool();
    const bool alias = in.ConsumeIntegral<std::uint8_t>() < 48;

    const std::size_t n = in.ConsumeIntegralInRange<std::size_t>(0, 40);
    // The other lists are usually as long as the frequency list, sometimes
    // longer (the rest is ignored) or shorter (refused).
    auto otherLength = [&] {
        const std::uint8_t pick = in.ConsumeIntegral<std::uint8_t>();
        if (pick < 224) return n;
        return static_cast<std::size_t>(pick % 8) + (n > 4 ? n - 4 : 0);
    };
    const List freq = in.ConsumeBool() ? Sweep(in, n) : Values(in, n, 1e-3, 1e13);
    const bool conductivity = entry == 3;
    const List dk = Values(in, otherLength(), 1.0, 1e5);
    const List loss = conductivity ? Values(in, otherLength(), 1e-12, 1e3)
                                   : Values(in, otherLength(), 1e-7, 10.0);
    const bool takesRequest = n >= 3 && dk.size() >= n && loss.size() >= n;

    // The same samples in a modeler of our own, to tell whether they lie where
    // the engine is known to return a model that is not finite.
    bool checkModel = true;
    fuzz::Inspect m;
    const fuzz::Watch watch(m);
    if (takesRequest) {
        DataTable table;
        for (std::size_t i = 0; i < n; ++i) table.push_back({freq[i], dk[i], loss[i]});
        try {
            if (conductivity)
                m.SetInputDataUsingConductivity(table);
            else
                m.SetInputData(table);
            checkModel = true;
        } catch (const std::exception&) {
            // refused input: the adapter must refuse it too, checked below
        }
    }

    CountingManager manager;
    const CFreqDependentMatModeler adapter(withManager ? &manager : nullptr);
    const IMatFreqDependentFittingAlgorithm& host = adapter;

    bool ok = false;
    if (entry == 0) {
        // Outputs hold something beforehand, so that a reset shows.
        List outF{7.0}, outDk{8.0, 8.0}, outDf;
        List inF = freq, inDk = dk, inDf = loss;
        if (alias) {
            ok = host.GetMultiPoleDebyeFittedData(inF, inDk, inDf, inF, inDk, inDf);
            outF = inF;
            outDk = inDk;
            outDf = inDf;
        } else {
            ok = host.GetMultiPoleDebyeFittedData(freq, dk, loss, outF, outDk, outDf);
        }
        if (!takesRequest) {
            fuzz::Require(!ok, "a request the adapter cannot take succeeded");
            fuzz::Require(fuzz::Same(outF, alias ? freq : List{7.0}), "refused request wrote output");
        } else if (ok) {
            fuzz::Require(outF.size() == n && outDk.size() == n && outDf.size() == n,
                          "fitted lists of the wrong length");
            for (std::size_t i = 0; i < n; ++i)
                fuzz::Require(fuzz::Same(outF[i], freq[i]), "fitted frequency differs");
        } else {
            fuzz::Require(outF.empty() && outDk.empty() && outDf.empty(),
                          "failed request left output");
        }
    } else if (entry == 1) {
        KString dkExpr("old"), dfExpr("old");
        ok = host.GetMultiPoleDebyeFittedExpr(freq, dk, loss, dkExpr, dfExpr);
        if (!takesRequest) {
            fuzz::Require(!ok && dkExpr == KString("old") && dfExpr == KString("old"),
                          "refused request wrote output");
        } else if (ok) {
            const std::string dkText = dkExpr.OEM(), dfText = dfExpr.OEM();
            fuzz::Require(!dkText.empty() && !dfText.empty(), "empty expression on success");
            // The Df text is the quotient over the Dk text: crossed outputs
            // would show here.
            fuzz::Require(dfText.find(dkText) != std::string::npos,
                          "the Df text does not contain the Dk text");
        } else {
            fuzz::Require(dkExpr.IsEmpty() && dfExpr.IsEmpty(), "failed request left output");
        }
    } else {
        std::vector<Complex> poles{{1.0, 1.0}}, residues{{2.0, 2.0}};
        double atInfinity = -42.0;
        ok = adapter.GetMultiPoleDebyeFittedPolesResidues(freq, dk, loss, poles, residues,
                                                          atInfinity, !conductivity);
        if (!takesRequest) {
            fuzz::Require(!ok && poles.size() == 1 && atInfinity == -42.0,
                          "refused request wrote output");
        } else if (ok && checkModel) {
            fuzz::Require(poles.size() == residues.size(), "poles and residues differ in count");
            fuzz::Require(atInfinity >= 0.0, "negative constant term", fuzz::Num(atInfinity));
            for (std::size_t k = 0; k < poles.size(); ++k) {
                fuzz::Require(poles[k].real() < 0.0 && poles[k].imag() == 0.0,
                              "pole not real and stable", fuzz::Num(poles[k].real()));
                fuzz::Require(residues[k].real() >= 0.0 && residues[k].imag() == 0.0,
                              "residue not real and non-negative", fuzz::Num(residues[k].real()));
            }
        } else if (!ok) {
            fuzz::Require(poles.empty() && residues.empty() && atInfinity == -42.0,
                          "failed request left output or touched the constant term");
        }
    }

    // One message per failed request that the modeler saw, none otherwise.
    const int expected = withManager && takesRequest && !ok ? 1 : 0;
    fuzz::Require(manager.count == expected, "wrong number of host messages",
                  std::to_string(manager.count) + " vs " + std::to_string(expected));
    return 0;
}
