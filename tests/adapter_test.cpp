// The host stand-in's services, and the adapter's shape as the host sees it.
// (What the adapter does with a request is in adapter_fit_test.cpp.)
#include <complex>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "adapter/FreqDependentMatModeler.h"
#include "adapter/orvelcore.h"

namespace {

using ::testing::ElementsAre;

std::string Text(const KString& s) { return s.OEM(); }

TEST(HostString, KeepsNarrowTextAndNarrowsWideTextWithoutTheLocale) {
    EXPECT_EQ(Text(KString("State space fitter failed!")), "State space fitter failed!");
    EXPECT_EQ(Text(KString(L"Freq")), "Freq");
    // Outside ASCII a wide character has no locale-free narrow form.
    EXPECT_EQ(Text(KString(L"\u00b5m \u03b5r")), "?m ?r");
    // Narrow bytes pass untouched, whatever they encode.
    EXPECT_EQ(Text(KString("\xc2\xb5m")), "\xc2\xb5m");
    EXPECT_EQ(Text(KString(static_cast<const char*>(nullptr))), "");
    EXPECT_EQ(Text(KString(static_cast<const wchar_t*>(nullptr))), "");
    EXPECT_TRUE(KString(L"").IsEmpty());
}

TEST(HostString, AssignmentReplacesTheText) {
    KString s("a long first text");
    s = "two";
    EXPECT_EQ(Text(s), "two");
    const KString other(L"three");
    s = other;
    EXPECT_EQ(Text(s), "three");
    EXPECT_EQ(s, other);
    s = KString(L"");
    EXPECT_TRUE(s.IsEmpty());
}

TEST(HostString, NarrowCopyConvertsToAStdStringUpToTheNull) {
    const KString_const<char> copy = KString("Dk").OEM();
    const std::string text = copy;
    EXPECT_EQ(text, "Dk");
    EXPECT_STREQ(copy.c_str(), "Dk");
}

TEST(HostConstants, NullStringIsEmptyAndTheFrequencyIsFreq) {
    EXPECT_TRUE(MessageManagerStrings::kNullStr.IsEmpty());
    static_assert(std::is_same_v<decltype(val::kIntrinsicFreq), const wchar_t* const>);
    EXPECT_STREQ(val::kIntrinsicFreq, L"Freq");
}

TEST(HostMessage, KeepsWhatItWasBuiltWithAndItsArgumentsThroughCopies) {
    KestrelMessage message(static_cast<MessageSeverity>(1), 0, 24464, -1, 6, KString("a"),
                           KString(L"b"), true);
    ArgumentManager& args = message;  // the virtual base
    EXPECT_TRUE(args.AddArg(KString("first"), 0));
    EXPECT_TRUE(args.AddArg(KString("second"), 3));

    const KestrelMessage kept = message;  // what a manager would store
    EXPECT_EQ(static_cast<int>(kept.Severity()), 1);
    EXPECT_THAT(kept.Codes(), ElementsAre(0, 24464, -1, 6));
    EXPECT_EQ(Text(kept.Texts()[0]), "a");
    EXPECT_EQ(Text(kept.Texts()[1]), "b");
    EXPECT_TRUE(kept.Flag());
    EXPECT_THAT(kept.Args(), ElementsAre(KString("first"), KString("second")));
    EXPECT_THAT(kept.ArgKinds(), ElementsAre(0, 3));
    static_assert(std::is_base_of_v<ArgumentManager, KestrelMessage>);
}

TEST(HostMessageManager, AManagerThatOverridesOnlyAddMessageReceivesMessages) {
    struct Counting : IMessageManager {
        int seen = 0;
        void AddMessage(KestrelMessage&) override { ++seen; }
    };
    Counting counting;
    IMessageManager& manager = counting;
    KestrelMessage message(static_cast<MessageSeverity>(1), 0, 0, 0, 0,
                           MessageManagerStrings::kNullStr, MessageManagerStrings::kNullStr,
                           false);
    manager.BeginMessageGroup();
    manager.AddMessage(message);
    manager.EndMessageGroup();
    EXPECT_EQ(counting.seen, 1);

    IMessageManager silent;  // the defaults do nothing
    silent.AddMessage(message);
    static_assert(std::has_virtual_destructor_v<IMessageManager>);
}

// The host reaches the fitted-curve and expression requests only through its
// interface; the poles-and-residues request is a public member.
template <typename T, typename = void>
struct CanCallDataDirectly : std::false_type {};
template <typename T>
struct CanCallDataDirectly<
    T, std::void_t<decltype(std::declval<const T&>().GetMultiPoleDebyeFittedData(
           std::declval<const std::vector<double>&>(), std::declval<const std::vector<double>&>(),
           std::declval<const std::vector<double>&>(), std::declval<std::vector<double>&>(),
           std::declval<std::vector<double>&>(), std::declval<std::vector<double>&>()))>>
    : std::true_type {};

template <typename T, typename = void>
struct CanCallExprDirectly : std::false_type {};
template <typename T>
struct CanCallExprDirectly<
    T, std::void_t<decltype(std::declval<const T&>().GetMultiPoleDebyeFittedExpr(
           std::declval<const std::vector<double>&>(), std::declval<const std::vector<double>&>(),
           std::declval<const std::vector<double>&>(), std::declval<KString&>(),
           std::declval<KString&>()))>>
    : std::true_type {};

// Checked where it is compiled: the shape is part of the host contract.
static_assert(std::is_base_of_v<IMatFreqDependentFittingAlgorithm, CFreqDependentMatModeler>);
static_assert(!CanCallDataDirectly<CFreqDependentMatModeler>::value);
static_assert(!CanCallExprDirectly<CFreqDependentMatModeler>::value);
static_assert(CanCallDataDirectly<IMatFreqDependentFittingAlgorithm>::value);
static_assert(CanCallExprDirectly<IMatFreqDependentFittingAlgorithm>::value);
static_assert(!std::has_virtual_destructor_v<CFreqDependentMatModeler>);
static_assert(!std::has_virtual_destructor_v<IMatFreqDependentFittingAlgorithm>);
static_assert(std::is_default_constructible_v<CFreqDependentMatModeler>);
static_assert(std::is_copy_constructible_v<CFreqDependentMatModeler>);
static_assert(std::is_copy_assignable_v<CFreqDependentMatModeler>);
using PolesResidues = bool (CFreqDependentMatModeler::*)(
    const std::vector<double>&, const std::vector<double>&, const std::vector<double>&,
    std::vector<std::complex<double>>&, std::vector<std::complex<double>>&, double&, bool)
    const;
static_assert(std::is_same_v<decltype(&CFreqDependentMatModeler::
                                          GetMultiPoleDebyeFittedPolesResidues),
                             PolesResidues>);

}  // namespace
