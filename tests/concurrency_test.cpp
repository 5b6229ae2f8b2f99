// Requests on several threads at once. The library keeps no shared mutable
// state, so distinct modelers and adapter calls running together must give what
// the same requests give one after another, bit for bit (the engine is
// deterministic). CI runs this under ThreadSanitizer, where a data race fails
// the run even when the values happen to agree.
#include <cmath>
#include <complex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "adapter/FreqDependentMatModeler.h"
#include "adapter/orvelcore.h"
#include "modeler/MaterialModeler.h"

namespace {

using List = std::vector<double>;

struct Manager : IMessageManager {
    void AddMessage(KestrelMessage& message) override { text += message.Args().at(0).OEM(); }
    std::string text;
};

// Everything request `which` gives back, with 17 digits so that two runs compare
// exactly. Each has its own material: one Debye relaxation and a little loss;
// every fourth is refused, its message posted on the calling thread.
std::string Request(int which) {
    List f, dk, loss;
    for (int i = 0; i < 12 + 2 * which; ++i) {
        f.push_back(1e7 * std::pow(10.0, 4.0 * i / (11 + 2 * which)));
        const double x = f.back() / (1e8 * (1 + which));
        dk.push_back(2.5 + 0.1 * which + 0.4 / (1.0 + x * x));
        loss.push_back((0.4 * x / (1.0 + x * x) + 1e-3) / dk.back());
    }
    if (which % 4 == 3) dk[4] = 0.5;
    Manager manager;
    const CFreqDependentMatModeler adapter(&manager);
    std::ostringstream out;
    out.precision(17);
    KString dkExpr, dfExpr;
    std::vector<std::complex<double>> poles, residues;
    double atInfinity = 0.0;
    out << static_cast<const IMatFreqDependentFittingAlgorithm&>(adapter).GetMultiPoleDebyeFittedExpr(
               f, dk, loss, dkExpr, dfExpr)
        << dkExpr.OEM().c_str() << dfExpr.OEM().c_str()
        << adapter.GetMultiPoleDebyeFittedPolesResidues(f, dk, loss, poles, residues, atInfinity, which % 2 == 0);
    for (const auto* list : {&poles, &residues})
        for (const auto& x : *list) out << ' ' << x;
    out << ' ' << atInfinity << manager.text;
    return out.str();
}

TEST(ConcurrentRequests, GiveWhatTheSameRequestsGiveOneByOne) {
    constexpr int kRequests = 8;
    constexpr int kThreads = 4;
    std::vector<std::string> expected;
    for (int j = 0; j < kRequests; ++j) expected.push_back(Request(j));
    // The comparison proves little unless the requests did their work.
    EXPECT_GT(expected[0].size(), 500u);
    EXPECT_NE(expected[3].find("(Dk)"), std::string::npos);

    // Every thread runs every request, each thread starting at a different one.
    std::vector<std::vector<std::string>> got(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&got, t] {
            for (int j = 0; j < kRequests; ++j) got[t].push_back(Request((j + 3 * t) % kRequests));
        });
    for (std::thread& thread : threads) thread.join();
    for (int t = 0; t < kThreads; ++t)
        for (int j = 0; j < kRequests; ++j)
            EXPECT_EQ(got[t][j], expected[(j + 3 * t) % kRequests]) << "thread " << t;
}

}  // namespace
