// Requests on many threads at once. The library keeps no shared mutable state,
// so adapters and modelers used concurrently must give what the same requests
// give one after another, bit for bit (the engine is deterministic). Run under
// ThreadSanitizer in CI, where a data race fails the run even when the values
// happen to agree.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <limits>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "adapter/FreqDependentMatModeler.h"
#include "adapter/orvelcore.h"
#include "modeler/MaterialModeler.h"

namespace {

using List = std::vector<double>;
using Complex = std::complex<double>;

constexpr int kThreads = 8;
constexpr double kTwoPi = 6.283185307179586;
constexpr double kE0 = 8.854187817e-12;  // F/m
constexpr int kRounds = 2;

// Everything a request gives back, flattened so that two runs can be compared
// exactly.
struct Outcome {
    bool ok = false;
    std::vector<std::uint64_t> bits;  // every number, as stored
    std::vector<std::string> texts;   // expressions and host messages

    void Add(double x) {
        std::uint64_t b;
        std::memcpy(&b, &x, sizeof b);
        bits.push_back(b);
    }
    void Add(const List& xs) {
        for (double x : xs) Add(x);
    }
    void Add(const std::vector<Complex>& xs) {
        for (const Complex& x : xs) {
            Add(x.real());
            Add(x.imag());
        }
    }
    bool operator==(const Outcome& o) const {
        return ok == o.ok && bits == o.bits && texts == o.texts;
    }
};

class RecordingManager : public IMessageManager {
public:
    void AddMessage(KestrelMessage& message) override {
        for (const KString& arg : message.Args()) texts.push_back(arg.OEM());
    }
    std::vector<std::string> texts;
};

// A material with one Debye relaxation and a little conduction, different
// for every `which`: measured at `n` frequencies from 10 MHz upwards.
struct Material {
    List freq, dk, df, sigma;
};

Material MakeMaterial(int which, int n) {
    Material m;
    const double eInf = 2.5 + 0.3 * which;
    const double step = 0.4 + 0.05 * which;
    const double fRelax = 1e8 * std::pow(3.0, which);
    for (int i = 0; i < n; ++i) {
        const double f = 1e7 * std::pow(10.0, 4.0 * i / (n - 1));
        const double x = f / fRelax;
        const double re = eInf + step / (1.0 + x * x);
        const double im = step * x / (1.0 + x * x) + 1e-3 * (1 + which % 3);
        m.freq.push_back(f);
        m.dk.push_back(re);
        m.df.push_back(im / re);
        m.sigma.push_back(im * kTwoPi * f * kE0);  // the same loss as a conductivity
    }
    return m;
}

// One request of the kinds the host and a direct caller make.
using Job = std::function<Outcome()>;

std::vector<Job> MakeJobs(const std::string& file) {
    std::vector<Job> jobs;
    for (int which = 0; which < 4; ++which) {
        const Material m = MakeMaterial(which, 16 + 6 * which);
        jobs.push_back([m] {
            Outcome o;
            RecordingManager manager;
            const CFreqDependentMatModeler adapter(&manager);
            const IMatFreqDependentFittingAlgorithm& host = adapter;
            List f, dk, df;
            o.ok = host.GetMultiPoleDebyeFittedData(m.freq, m.dk, m.df, f, dk, df);
            o.Add(f);
            o.Add(dk);
            o.Add(df);
            o.texts = manager.texts;
            return o;
        });
        jobs.push_back([m] {
            Outcome o;
            const CFreqDependentMatModeler adapter;
            const IMatFreqDependentFittingAlgorithm& host = adapter;
            KString dkExpr, dfExpr;
            o.ok = host.GetMultiPoleDebyeFittedExpr(m.freq, m.dk, m.df, dkExpr, dfExpr);
            o.texts = {dkExpr.OEM(), dfExpr.OEM()};
            return o;
        });
        jobs.push_back([m, which] {
            Outcome o;
            const CFreqDependentMatModeler adapter;
            std::vector<Complex> poles, residues;
            double atInfinity = 0.0;
            const bool tangent = which % 2 == 0;
            o.ok = adapter.GetMultiPoleDebyeFittedPolesResidues(
                m.freq, m.dk, tangent ? m.df : m.sigma, poles, residues, atInfinity, tangent);
            o.Add(poles);
            o.Add(residues);
            o.Add(atInfinity);
            return o;
        });
    }
    // Requests that fail: in validation, and in the engine (a NaN passes
    // validation); each posts its message on the calling thread.
    jobs.push_back([] {
        Outcome o;
        RecordingManager manager;
        const CFreqDependentMatModeler adapter(&manager);
        const Material m = MakeMaterial(1, 12);
        List dk = m.dk;
        dk[5] = 0.5;
        std::vector<Complex> poles, residues;
        double atInfinity = 0.0;
        o.ok = adapter.GetMultiPoleDebyeFittedPolesResidues(m.freq, dk, m.df, poles, residues,
                                                            atInfinity, true);
        o.texts = manager.texts;
        return o;
    });
    jobs.push_back([] {
        Outcome o;
        RecordingManager manager;
        const CFreqDependentMatModeler adapter(&manager);
        const IMatFreqDependentFittingAlgorithm& host = adapter;
        const Material m = MakeMaterial(2, 12);
        List df = m.df;
        df[3] = std::numeric_limits<double>::quiet_NaN();
        KString dkExpr, dfExpr;
        o.ok = host.GetMultiPoleDebyeFittedExpr(m.freq, m.dk, df, dkExpr, dfExpr);
        o.texts = manager.texts;
        return o;
    });
    // Direct callers: the single-point input, and the same file read by all.
    jobs.push_back([] {
        Outcome o;
        MaterialModeler modeler;
        modeler.SetInputData(4.3, 0.018, 1e9, 1e11, 1e-4, 0.0);
        modeler.FitData();
        DataTable fitted;
        modeler.GetFittedData(fitted);
        for (const List& row : fitted) o.Add(row);
        std::string df, dk;
        modeler.CreateExpressions(df, dk, "f");
        o.texts = {df, dk};
        o.ok = true;
        return o;
    });
    jobs.push_back([file] {
        Outcome o;
        MaterialModeler modeler;
        modeler.ReadInputFile(file.c_str());
        modeler.FitData();
        std::vector<Complex> poles, residues;
        modeler.GetPolesAndResidues(poles, residues);
        o.Add(poles);
        o.Add(residues);
        o.Add(modeler.GetResidueAtInfinity());
        o.ok = true;
        return o;
    });
    return jobs;
}

class ConcurrentRequests : public ::testing::Test {
protected:
    void SetUp() override {
        m_file = ::testing::TempDir() + "matmodel_concurrency_material.txt";
        const Material m = MakeMaterial(3, 20);
        std::ofstream out(m_file);
        out.precision(17);
        for (std::size_t i = 0; i < m.freq.size(); ++i)
            out << m.freq[i] << ' ' << m.dk[i] << ' ' << m.df[i] << '\n';
    }
    void TearDown() override { std::remove(m_file.c_str()); }

    std::string m_file;
};

// Starts `count` threads that wait for each other before running `body`, so
// that their work overlaps as much as it can.
void RunTogether(int count, const std::function<void(int)>& body) {
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < count; ++t) {
        threads.emplace_back([&, t] {
            ready.fetch_add(1);
            while (ready.load() < count) std::this_thread::yield();
            body(t);
        });
    }
    for (std::thread& th : threads) th.join();
}

TEST_F(ConcurrentRequests, GiveWhatTheSameRequestsGiveOneByOne) {
    const std::vector<Job> jobs = MakeJobs(m_file);
    std::vector<Outcome> expected;
    for (const Job& job : jobs) expected.push_back(job());
    // All but the two failing requests succeed, and those two post their
    // message, or the comparison would prove little.
    ASSERT_EQ(std::count_if(expected.begin(), expected.end(), [](const Outcome& o) { return o.ok; }),
              static_cast<std::ptrdiff_t>(jobs.size()) - 2);
    ASSERT_EQ(std::count_if(expected.begin(), expected.end(),
                            [](const Outcome& o) { return !o.ok && o.texts.size() == 1; }),
              2);

    // Every thread runs every job, each thread starting at a different one.
    const std::size_t n = jobs.size();
    std::vector<std::vector<Outcome>> got(kThreads, std::vector<Outcome>(n * kRounds));
    RunTogether(kThreads, [&](int t) {
        for (std::size_t r = 0; r < n * kRounds; ++r) {
            const std::size_t j = (r + static_cast<std::size_t>(t) * 3) % n;
            got[t][r] = jobs[j]();
        }
    });
    for (int t = 0; t < kThreads; ++t)
        for (std::size_t r = 0; r < n * kRounds; ++r) {
            const std::size_t j = (r + static_cast<std::size_t>(t) * 3) % n;
            EXPECT_TRUE(got[t][r] == expected[j]) << "thread " << t << ", job " << j;
        }
}

TEST(ConcurrentReaders, ShareOneFittedModelerAndOneAdapter) {
    // Reading a fitted modeler does not change it, so readers may share it; an
    // adapter without a message manager is only read by its requests.
    const Material m = MakeMaterial(0, 24);
    DataTable table;
    for (std::size_t i = 0; i < m.freq.size(); ++i) table.push_back({m.freq[i], m.dk[i], m.df[i]});
    MaterialModeler fitted;
    fitted.SetInputData(table);
    fitted.FitData();
    const MaterialModeler& shared = fitted;
    const CFreqDependentMatModeler adapter;
    const IMatFreqDependentFittingAlgorithm& host = adapter;

    auto read = [&] {
        Outcome o;
        DataTable rows;
        shared.GetFittedData(rows);
        for (const List& row : rows) o.Add(row);
        std::vector<Complex> poles, residues;
        shared.GetPolesAndResidues(poles, residues);
        o.Add(poles);
        o.Add(residues);
        o.Add(shared.GetResidueAtInfinity());
        std::string df, dk;
        shared.CreateExpressions(df, dk, "F");
        o.texts = {df, dk};
        List f, fdk, fdf;
        o.ok = host.GetMultiPoleDebyeFittedData(m.freq, m.dk, m.df, f, fdk, fdf);
        o.Add(f);
        o.Add(fdk);
        o.Add(fdf);
        return o;
    };
    const Outcome expected = read();
    ASSERT_TRUE(expected.ok);

    std::vector<Outcome> got(kThreads);
    RunTogether(kThreads, [&](int t) { got[t] = read(); });
    for (int t = 0; t < kThreads; ++t) EXPECT_TRUE(got[t] == expected) << "thread " << t;
}

}  // namespace
