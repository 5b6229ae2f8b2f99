// The host adapter: what the host gets back from each request, how a failure
// reaches its message manager, and the host stand-in's own services.
#include <array>
#include <complex>
#include <limits>
#include <string>
#include <tuple>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "adapter/FreqDependentMatModeler.h"
#include "adapter/orvelcore.h"
#include "modeler/MaterialModeler.h"

namespace {

using ::testing::ElementsAre;
using Complex = std::complex<double>;
using List = std::vector<double>;

// Keeps a copy of every message: the adapter destroys its own after the call.
struct RecordingManager : IMessageManager {
    void AddMessage(KestrelMessage& message) override { messages.push_back(message); }
    std::vector<KestrelMessage> messages;
};

// The four requests (fitted data, expressions, poles and residues with the
// third list as loss tangents, then as conductivities), each into outputs that
// held something, so that a reset or a replacement shows.
struct Requests {
    std::array<bool, 4> ok{};
    List f{9.0, 9.0, 9.0, 9.0, 9.0}, dk{8.0}, df{7.0, 7.0};
    KString dkExpr{"old Dk"}, dfExpr{"old Df"};
    std::array<std::vector<Complex>, 2> poles{{{{1.0, 1.0}}, {{1.0, 1.0}}}};
    std::array<std::vector<Complex>, 2> residues{{{{2.0, 2.0}, {3.0, 3.0}}, {{2.0, 2.0}}}};
    std::array<double, 2> atInfinity{42.0, 42.0};

    Requests(IMessageManager* manager, const List& freq, const List& dkIn, const List& loss) {
        const CFreqDependentMatModeler adapter(manager);
        const IMatFreqDependentFittingAlgorithm& host = adapter;
        ok[0] = host.GetMultiPoleDebyeFittedData(freq, dkIn, loss, f, dk, df);
        ok[1] = host.GetMultiPoleDebyeFittedExpr(freq, dkIn, loss, dkExpr, dfExpr);
        for (int t = 0; t < 2; ++t)
            ok[2 + t] = adapter.GetMultiPoleDebyeFittedPolesResidues(
                freq, dkIn, loss, poles[t], residues[t], atInfinity[t], t == 0);
    }
    auto Outputs() const {
        return std::tie(f, dk, df, dkExpr, dfExpr, poles, residues, atInfinity);
    }
};

MaterialModeler FitDirectly(const List& f, const List& dk, const List& loss, bool lossIsTangent) {
    DataTable table;
    for (std::size_t i = 0; i < f.size(); ++i) table.push_back({f[i], dk[i], loss[i]});
    MaterialModeler m;
    lossIsTangent ? m.SetInputData(table) : m.SetInputDataUsingConductivity(table);
    m.FitData();
    return m;
}

TEST(HostAdapter, RequestsGiveWhatTheModelerGivesInTheHostsTypes) {
    // Three samples, the fewest a request takes; the values past them, which
    // the modeler would refuse, are ignored.
    const List f{1e9, 3e9, 10e9}, dk{3.72, 3.68, 3.65, 0.5}, loss{0.0085, 0.009, 0.0095, -1.0};
    RecordingManager manager;
    const Requests got(&manager, f, dk, loss);
    EXPECT_THAT(got.ok, ElementsAre(true, true, true, true));
    EXPECT_TRUE(manager.messages.empty());

    const MaterialModeler direct = FitDirectly(f, dk, loss, true);
    DataTable rows;
    direct.GetFittedData(rows);
    EXPECT_EQ(got.f.size() + got.dk.size() + got.df.size(), 9u) << "replaced, not appended to";
    for (std::size_t i = 0; i < rows.size(); ++i)
        EXPECT_EQ(rows[i], (List{got.f.at(i), got.dk.at(i), got.df.at(i)}));
    std::string dfText, dkText;
    direct.CreateExpressions(dfText, dkText, "Freq");
    EXPECT_EQ(got.dkExpr, KString(dkText.c_str()));  // the Dk text first, unlike the modeler
    EXPECT_EQ(got.dfExpr, KString(dfText.c_str()));
    for (int t = 0; t < 2; ++t) {
        const MaterialModeler m = t == 0 ? direct : FitDirectly(f, dk, loss, false);
        std::vector<Complex> poles, residues;
        m.GetPolesAndResidues(poles, residues);
        EXPECT_EQ(std::tie(got.poles[t], got.residues[t], got.atInfinity[t]),
                  std::make_tuple(poles, residues, m.GetResidueAtInfinity()));
    }
    // The inputs are copied before an output is written: an output may be an input.
    List sf = f, sdk = dk, sdf = loss;
    const IMatFreqDependentFittingAlgorithm& host = CFreqDependentMatModeler();
    ASSERT_TRUE(host.GetMultiPoleDebyeFittedData(sf, sdk, sdf, sf, sdk, sdf));
    EXPECT_EQ(std::tie(sf, sdk, sdf), std::tie(got.f, got.dk, got.df));
}

std::string FailureOf(const List& dk, bool lossIsTangent) {
    try {
        FitDirectly({1e9, 2e9, 5e9, 10e9}, dk, {0.0085, 0.0088, 0.0092, 0.0095}, lossIsTangent);
    } catch (const std::exception& e) {
        return e.what();
    }
    return "<no failure>";
}

TEST(HostAdapter, AFailureBecomesOneHostMessageAndFalseWithTheOutputsReset) {
    // Fewer than three samples, or lists shorter than the frequencies: refused
    // without a message, the outputs as they were.
    const List f{1e9, 2e9, 5e9, 10e9}, df{0.0085, 0.0088, 0.0092, 0.0095};
    const Requests untouched(nullptr, {}, {}, {});
    for (const auto& [freq, dkIn, loss] : std::vector<std::array<List, 3>>{
             {List{1e9, 2e9}, List{3.7, 3.6}, List{0.01, 0.01}}, {f, List{3.72, 3.70, 3.67}, df},
             {f, List{3.72, 3.70, 3.67, 3.65}, List{0.0085}}}) {
        RecordingManager manager;
        const Requests got(&manager, freq, dkIn, loss);
        EXPECT_THAT(got.ok, ElementsAre(false, false, false, false));
        EXPECT_TRUE(manager.messages.empty());
        EXPECT_EQ(got.Outputs(), untouched.Outputs());
    }
    const double nan = std::numeric_limits<double>::quiet_NaN();
    // Refused by validation, and by the fitting engine (a NaN passes validation).
    for (const List& dk : {List{3.72, 0.99, 3.67, 3.65}, List{3.72, nan, 3.67, 3.65}}) {
        const std::string tangent = FailureOf(dk, true), conductivity = FailureOf(dk, false);
        RecordingManager manager;
        for (IMessageManager* sink : {&manager, static_cast<RecordingManager*>(nullptr)}) {
            const Requests got(sink, {1e9, 2e9, 5e9, 10e9}, dk, {0.0085, 0.0088, 0.0092, 0.0095});
            EXPECT_THAT(got.ok, ElementsAre(false, false, false, false));
            const std::vector<Complex> none;
            EXPECT_EQ(got.Outputs(),
                      std::make_tuple(List{}, List{}, List{}, KString(""), KString(""),
                                      std::array{none, none}, std::array{none, none},
                                      std::array{42.0, 42.0}));
        }
        ASSERT_EQ(manager.messages.size(), 4u) << "one per request, none without a manager";
        for (std::size_t i = 0; i < 4; ++i) {
            const KestrelMessage& m = manager.messages[i];
            EXPECT_EQ(static_cast<int>(m.Severity()), 1);
            EXPECT_THAT(m.Codes(), ElementsAre(0, 24464, -1, 6));
            EXPECT_THAT(m.Texts(), ElementsAre(MessageManagerStrings::kNullStr,
                                               MessageManagerStrings::kNullStr));
            EXPECT_FALSE(m.Flag());
            EXPECT_THAT(m.Args(), ElementsAre(KString((i < 3 ? tangent : conductivity).c_str())));
            EXPECT_THAT(m.ArgKinds(), ElementsAre(0));
        }
    }
}

TEST(HostStandIn, NarrowsWideTextWithoutTheLocaleAndTakesEveryArgument) {
    // Outside ASCII a wide character has no locale-free narrow form.
    EXPECT_EQ(KString(L"Freq \x7f\x80\u00b5"), KString("Freq \x7f??"));
    EXPECT_EQ(KString(val::kIntrinsicFreq), KString("Freq"));
    EXPECT_TRUE(ArgumentManager().AddArg("argument", 0));  // as the host's does
}

}  // namespace
