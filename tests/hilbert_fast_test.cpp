// The fast Hilbert kernel against the direct double loop, on every
// instruction set this processor has, and the logarithm it uses.
#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstring>
#include <ios>
#include <limits>
#include <random>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "modeler/hilbert_kernels.h"
#include "modeler/hilbert_lanes.h"
#include "probe.h"

namespace {

using matmodel::detail::BestSimdLevel;
using matmodel::detail::BuildLossSegments;
using matmodel::detail::CausalDk;
using matmodel::detail::HilbertFast;
using matmodel::detail::HilbertPlain;
using matmodel::detail::HilbertPlainKernelLog;
using matmodel::detail::KernelLog;
using matmodel::detail::KernelLogReference;
using matmodel::detail::LossSegments;
using matmodel::detail::SimdLevel;
using matmodel::detail::SimdLevelAvailable;
using matmodel::detail::SimdLevelName;

constexpr double kTwoPi = 6.283185307179586;
// A logarithm that differs from std::log only in the last bit moves each
// term of a sum by a unit in its last place; on ordinary data the sums then
// agree to far better than this.
constexpr double kAgreement = 1e-12;
// Rounded to nearest from an error far below an ulp: half a unit in the last
// place and a little (the reference's own rounding included).
constexpr double kLogUlps = 0.501;
constexpr std::uint64_t kSeed = 20240611;

const SimdLevel kAllLevels[] = {SimdLevel::kScalar, SimdLevel::kSse2, SimdLevel::kAvx2,
                                SimdLevel::kAvx512};

std::vector<SimdLevel> AvailableLevels() {
    std::vector<SimdLevel> levels;
    for (SimdLevel level : kAllLevels)
        if (SimdLevelAvailable(level)) levels.push_back(level);
    return levels;
}

bool SameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Same value, or both not-a-number (whatever the payload).
bool SameValue(double a, double b) {
    return (std::isnan(a) && std::isnan(b)) || SameBits(a, b);
}

struct Samples {
    std::string name;
    std::vector<double> freq, dk, df;
};

// Frequencies log-uniform over [fmin, fmax] and sorted; Dk in [2, 5] and Df in
// [0, 0.05], independent from sample to sample (a rough, noisy loss curve).
Samples RandomSamples(std::mt19937_64& rng, std::size_t n, double fmin, double fmax) {
    std::uniform_real_distribution<double> logF(std::log(fmin), std::log(fmax));
    std::uniform_real_distribution<double> dk(2.0, 5.0), df(0.0, 0.05);
    Samples s{"random n=" + std::to_string(n), {}, {}, {}};
    for (std::size_t i = 0; i < n; ++i) {
        s.freq.push_back(std::exp(logF(rng)));
        s.dk.push_back(dk(rng));
        s.df.push_back(df(rng));
    }
    std::sort(s.freq.begin(), s.freq.end());
    return s;
}

// A smooth two-pole Debye material with random poles, on a log grid.
Samples SmoothSamples(std::mt19937_64& rng, std::size_t n) {
    std::uniform_real_distribution<double> logPole(std::log(1e7), std::log(1e11));
    std::uniform_real_distribution<double> strength(0.1, 1.5);
    const double f1 = std::exp(logPole(rng)), f2 = std::exp(logPole(rng));
    const double d1 = strength(rng), d2 = strength(rng);
    Samples s{"smooth n=" + std::to_string(n), {}, {}, {}};
    for (std::size_t i = 0; i < n; ++i) {
        const double f = 1e6 * std::pow(1e5, static_cast<double>(i) / static_cast<double>(n - 1));
        const std::complex<double> e = 3.0 + d1 / std::complex<double>(1.0, f / f1) +
                                       d2 / std::complex<double>(1.0, f / f2);
        s.freq.push_back(f);
        s.dk.push_back(e.real());
        s.df.push_back(-e.imag() / e.real());
    }
    return s;
}

// Edge cases of the input: each is a place where the fast kernel's
// bookkeeping (tiles, masks, shared logarithms) could go wrong.
std::vector<Samples> EdgeCases() {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    std::vector<Samples> cases = {
        {"one sample", {1e9}, {4.2}, {0.02}},
        {"one sample at 0 Hz", {0.0}, {4.2}, {0.02}},
        {"two samples", {1e9, 3e9}, {4.0, 3.9}, {0.02, 0.01}},
        {"zero first frequency", {0.0, 1e9, 2e9, 4e9}, {4.1, 4.0, 3.9, 3.8}, {0.0, 0.02, 0.02, 0.02}},
        {"equal neighbours", {1e9, 2e9, 2e9, 4e9}, {4.0, 3.9, 3.9, 3.8}, {0.02, 0.02, 0.02, 0.02}},
        {"lossless", {1e9, 2e9, 5e9}, {4.0, 3.5, 3.0}, {0.0, 0.0, 0.0}},
        {"NaN Dk", {1e9, 2e9, 3e9, 4e9}, {4.0, nan, 3.9, 3.8}, {0.02, 0.02, 0.02, 0.02}},
        {"NaN Df at the first sample", {1e9, 2e9, 3e9}, {4.0, 3.9, 3.8}, {nan, 0.02, 0.02}},
        {"NaN frequency", {1e9, nan, 3e9}, {4.0, 3.9, 3.8}, {0.02, 0.02, 0.02}},
        {"infinite frequency", {1e9, 2e9, inf}, {4.0, 3.9, 3.8}, {0.02, 0.02, 0.02}},
        {"infinite Dk", {1e9, 2e9, 3e9}, {4.0, inf, 3.8}, {0.02, 0.02, 0.02}},
        // Pairs with w[i] + w[k] == 0 away from the first segment.
        {"frequencies of both signs", {-3e9, -1e9, 0.0, 1e9, 2e9, 3e9},
         {4.0, 3.9, 3.8, 3.7, 3.6, 3.5}, {0.02, 0.01, 0.03, 0.02, 0.01, 0.02}},
        // Sub-hertz spacing: arguments of the logarithm near and below 1.
        {"sub-hertz spacing", {0.01, 0.05, 0.2, 0.3, 1.0}, {4.0, 3.9, 3.8, 3.7, 3.6},
         {0.02, 0.02, 0.02, 0.02, 0.02}},
    };
    // Sums past the largest double: no tile may assume finite arguments.
    cases.push_back({"frequencies near the top of the range", {1e305, 3e305, 5e305, 9e305},
                     {4.0, 3.9, 3.8, 3.7}, {0.02, 0.02, 0.02, 0.02}});
    // Not rising: the kernel must not rely on the order.
    Samples shuffled{"unsorted", {5e9, 1e9, 3e9, 2e9, 8e9}, {4.0, 3.9, 3.8, 3.7, 3.6},
                     {0.02, 0.03, 0.01, 0.02, 0.02}};
    cases.push_back(shuffled);
    // Block boundaries of the kernel (32 samples a block, up to 8 a vector).
    std::mt19937_64 rng(kSeed);
    for (std::size_t n : {3, 7, 8, 9, 31, 32, 33, 63, 64, 65, 97})
        cases.push_back(RandomSamples(rng, n, 1e6, 1e11));
    Samples zeroFirst = RandomSamples(rng, 70, 1e6, 1e11);
    zeroFirst.freq[0] = 0.0;
    zeroFirst.name = "random n=70, first at 0 Hz";
    cases.push_back(zeroFirst);
    return cases;
}

// Log-spaced from f0 to f1 with a smooth loss: the tiles of blocks apart,
// whose arguments the kernel bounds from the blocks' ranges, and among them
// ones whose sums and differences cross a power of two or whose logarithms
// cross one (e^16 lies in [2^23, 2^24), near 1.4 MHz in angular frequency).
Samples GridSamples(const std::string& name, std::size_t n, double f0, double f1, bool linear) {
    Samples s{name, {}, {}, {}};
    for (std::size_t i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / static_cast<double>(n - 1);
        const double f = linear ? f0 + (f1 - f0) * t : f0 * std::pow(f1 / f0, t);
        const std::complex<double> e = 3.0 + 0.9 / std::complex<double>(1.0, f / 2e6);
        s.freq.push_back(f);
        s.dk.push_back(e.real());
        s.df.push_back(-e.imag() / e.real());
    }
    return s;
}

std::vector<Samples> GridCases() {
    return {GridSamples("log grid 100 kHz to 10 MHz", 333, 1e5, 1e7, false),
            GridSamples("log grid 10 Hz to 1 MHz", 257, 10.0, 1e6, false),
            GridSamples("linear grid 1 to 3 MHz", 290, 1e6, 3e6, true),
            GridSamples("linear grid 1 to 2 GHz", 130, 1e9, 2e9, true)};
}

LossSegments Segments(const Samples& s) {
    LossSegments segments;
    BuildLossSegments(s.freq.data(), s.dk.data(), s.df.data(), s.freq.size(), kTwoPi, segments);
    return segments;
}

// Asserts a and b equal bit for bit, NaN payloads aside.
void ExpectSameValues(const std::vector<double>& a, const std::vector<double>& b) {
    ASSERT_EQ(a.size(), b.size());
    for (std::size_t i = 0; i < a.size(); ++i)
        ASSERT_TRUE(SameValue(a[i], b[i])) << "at " << i << ": " << a[i] << " vs " << b[i];
}

void ExpectAgreement(const std::vector<double>& fast, const std::vector<double>& plain) {
    ASSERT_EQ(fast.size(), plain.size());
    for (std::size_t i = 0; i < fast.size(); ++i) {
        if (!std::isfinite(plain[i])) {
            ASSERT_TRUE(SameValue(fast[i], plain[i])) << "at " << i << ": " << fast[i];
            continue;
        }
        ASSERT_NEAR(fast[i], plain[i], kAgreement * std::fabs(plain[i])) << "at " << i;
    }
}

// The causal Dk the fast path gives at `level`, and the one the direct loop gives.
std::vector<double> FastDk(const Samples& s, SimdLevel level) {
    std::vector<double> r, dk;
    HilbertFast(Segments(s), r, level);
    CausalDk(s.dk.data(), r, dk);
    return dk;
}

std::vector<double> PlainDk(const Samples& s) {
    std::vector<double> r, dk;
    HilbertPlain(Segments(s), r);
    CausalDk(s.dk.data(), r, dk);
    return dk;
}

TEST(HilbertFast, AddsTheTermsOfTheDirectLoopInItsOrder) {
    // With the same logarithm the two must agree bit for bit: same terms,
    // same operands, same order, for every sample.
    std::mt19937_64 rng(kSeed);
    std::vector<Samples> cases = EdgeCases();
    for (std::size_t n : {150, 400}) cases.push_back(RandomSamples(rng, n, 1e3, 1e12));
    cases.push_back(SmoothSamples(rng, 3000));
    for (Samples& s : GridCases()) cases.push_back(std::move(s));
    for (SimdLevel level : AvailableLevels())
        for (const Samples& s : cases) {
            SCOPED_TRACE(std::string(SimdLevelName(level)) + ", " + s.name +
                         ", seed " + std::to_string(kSeed));
            const LossSegments segments = Segments(s);
            std::vector<double> fast, plain;
            HilbertFast(segments, fast, level);
            HilbertPlainKernelLog(segments, plain, level);
            ExpectSameValues(fast, plain);
        }
}

TEST(HilbertFast, PortableFormReproducesThePlainEvaluationExactly) {
    std::mt19937_64 rng(kSeed);
    std::vector<Samples> cases = EdgeCases();
    cases.push_back(RandomSamples(rng, 300, 1e3, 1e12));
    for (const Samples& s : cases) {
        SCOPED_TRACE(s.name + ", seed " + std::to_string(kSeed));
        const LossSegments segments = Segments(s);
        std::vector<double> fast, plain;
        HilbertFast(segments, fast, SimdLevel::kScalar);
        HilbertPlain(segments, plain);
        ExpectSameValues(fast, plain);
    }
}

TEST(HilbertFast, AgreesWithThePlainEvaluation) {
    std::mt19937_64 rng(kSeed);
    std::vector<Samples> cases = EdgeCases();
    for (int i = 0; i < 20; ++i)
        cases.push_back(RandomSamples(rng, 1 + rng() % 200, 1e4, 1e11));
    cases.push_back(SmoothSamples(rng, 3000));
    // Rough loss on a dense grid: the sums cancel to about nine digits, so
    // only the same logarithms, bit for bit, give the same result here.
    cases.push_back(RandomSamples(rng, 2000, 1e6, 1e11));
    for (Samples& s : GridCases()) cases.push_back(std::move(s));
    for (SimdLevel level : AvailableLevels())
        for (const Samples& s : cases) {
            SCOPED_TRACE(std::string(SimdLevelName(level)) + ", " + s.name +
                         ", seed " + std::to_string(kSeed));
            ExpectAgreement(FastDk(s, level), PlainDk(s));
        }
}

TEST(HilbertFast, DoHilbertReconstructionUsesIt) {
    std::mt19937_64 rng(kSeed);
    const Samples s = SmoothSamples(rng, 500);
    Probe p;
    p.SetSamples(s.freq, s.dk, s.df);
    p.ReconstructCausalDk();
    ExpectAgreement(p.DkCausal(), PlainDk(s));
    EXPECT_EQ(p.DfCausal(), s.df);
}

TEST(HilbertFast, BestLevelIsAvailableAndOthersThrow) {
    EXPECT_TRUE(SimdLevelAvailable(BestSimdLevel()));
    EXPECT_TRUE(SimdLevelAvailable(SimdLevel::kScalar));
    const LossSegments segments = Segments({"", {1e9, 2e9}, {4.0, 3.9}, {0.02, 0.02}});
    std::vector<double> r;
    for (SimdLevel level : kAllLevels) {
        if (SimdLevelAvailable(level)) continue;
        SCOPED_TRACE(SimdLevelName(level));
        EXPECT_THROW(HilbertFast(segments, r, level), std::invalid_argument);
    }
}

TEST(HilbertFast, NoSamplesGiveNoValues) {
    std::vector<double> r{1.0};
    HilbertFast(LossSegments{}, r);
    EXPECT_TRUE(r.empty());
}

// --- The logarithm -------------------------------------------------------

// Positive doubles with random bits over the whole range, subnormals included,
// and the places a table or a range reduction could slip: around 1 and 2,
// the sixteenth-steps of the table, powers of two and sqrt(2) multiples.
std::vector<double> LogArguments(std::mt19937_64& rng) {
    std::vector<double> x;
    for (int i = 0; i < 200000; ++i) {
        const std::uint64_t bits = rng() & 0x7fffffffffffffffULL;
        double v;
        std::memcpy(&v, &bits, sizeof v);
        if (std::isfinite(v) && v > 0.0) x.push_back(v);
    }
    std::uniform_real_distribution<double> near(0.5, 2.5);
    for (int i = 0; i < 20000; ++i) x.push_back(near(rng));
    for (int e = -1074; e <= 1023; e += 7) {
        const double p = std::ldexp(1.0, e);
        x.push_back(p);
        x.push_back(std::nextafter(p, 0.0));
        x.push_back(std::nextafter(p, 1e300));
        x.push_back(p * std::sqrt(2.0));
        for (int j = 1; j < 16; ++j) x.push_back(p * (1.0 + j / 16.0));
    }
    for (double v : {1.0, 2.0, 0.5, std::nextafter(1.0, 0.0), std::nextafter(1.0, 2.0),
                     std::nextafter(2.0, 0.0), std::numeric_limits<double>::max(),
                     std::numeric_limits<double>::min(), std::numeric_limits<double>::denorm_min()})
        x.push_back(v);
    return x;
}

// The levels with their own logarithm (a table of 8 for AVX2, of 16 for
// AVX-512); the others call std::log.
const SimdLevel kTableLevels[] = {SimdLevel::kAvx2, SimdLevel::kAvx512};

TEST(KernelLog, IsWithinHalfAnUlpAndABitOfTheTrueLogarithm) {
    if (std::numeric_limits<long double>::digits < 64)
        GTEST_SKIP() << "needs an extended long double for the reference";
    std::mt19937_64 rng(kSeed);
    const std::vector<double> x = LogArguments(rng);
    for (SimdLevel level : kTableLevels) {
        double worst = 0.0, worstAt = 0.0;
        for (double v : x) {
            if (v < 8.0) continue;  // std::log's own values (next test)
            const double y = KernelLogReference(v, level);
            const long double exact = std::log(static_cast<long double>(v));
            const double ulp = std::nextafter(std::fabs(y), 1e300) - std::fabs(y);
            const double err = static_cast<double>(std::fabs(y - exact)) / ulp;
            if (err > worst) {
                worst = err;
                worstAt = v;
            }
        }
        EXPECT_LE(worst, kLogUlps) << SimdLevelName(level) << ", worst at " << worstAt
                                   << ", seed " << kSeed;
    }
}

TEST(KernelLog, ReturnsTheBitsOfStdLog) {
    // What makes the fast sums those of the direct loop. It rests on std::log
    // being within 0.5 + 2^-9 ulp of the exact value, as glibc's is.
    std::mt19937_64 rng(kSeed);
    std::vector<double> x = LogArguments(rng);
    // Arguments of the kind the sums take: |w_k -+ w_j| for band frequencies.
    std::uniform_real_distribution<double> logW(std::log(1e3), std::log(1e13));
    for (int i = 0; i < 200000; ++i) x.push_back(std::fabs(std::exp(logW(rng)) - std::exp(logW(rng))));
    for (SimdLevel level : kTableLevels)
        for (double v : x)
            ASSERT_TRUE(SameBits(KernelLogReference(v, level), std::log(v)))
                << SimdLevelName(level) << std::hexfloat << ", log of " << v << ", seed "
                << std::dec << kSeed;
}

// The tables of the vector logarithm: each -log(invC) within 2^-64 of its
// entry, a multiple of 2^-42 (as is ln 2's head), so that the head of a
// logarithm is exact and its error bound holds; each invC near the reciprocal
// of its part's middle, so that r stays in the range Q was fitted on.
template <class T>
void ExpectAccurateTable(const char* name) {
    constexpr int kEntries = sizeof T::kInvC / sizeof T::kInvC[0];
    for (int j = 0; j < kEntries; ++j) {
        SCOPED_TRACE(std::string(name) + ", entry " + std::to_string(j));
        const double scaled = std::ldexp(T::kLogC[j], 42);
        EXPECT_EQ(scaled, std::nearbyint(scaled));
        // The long double logarithm is good to about 2^-64 here.
        const long double L = -std::log(static_cast<long double>(T::kInvC[j]));
        EXPECT_LE(std::fabs(static_cast<double>(L - T::kLogC[j])), 0x1p-63);
        const double middle = 1.0 + (2.0 * j + 1.0) / (2.0 * kEntries);
        EXPECT_NEAR(T::kInvC[j] * middle, 1.0, 2e-7);
    }
}

TEST(KernelLog, TablesAreAccurate) {
    if (std::numeric_limits<long double>::digits < 64)
        GTEST_SKIP() << "needs an extended long double for the reference";
    namespace lanes = matmodel::detail::lanes;
    const double ln2Hi = std::ldexp(lanes::kLn2Hi, 42);
    EXPECT_EQ(ln2Hi, std::nearbyint(ln2Hi));
    const long double ln2 = std::log(2.0L);
    EXPECT_LE(std::fabs(static_cast<double>(ln2 - lanes::kLn2Hi - lanes::kLn2Lo)), 0x1p-64);
    ExpectAccurateTable<lanes::Table16>("16 parts");
    ExpectAccurateTable<lanes::Table8>("8 parts");
}

TEST(KernelLog, GivesTheSpecialValuesOfStdLog) {
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (SimdLevel level : kTableLevels) {
        SCOPED_TRACE(SimdLevelName(level));
        EXPECT_EQ(KernelLogReference(0.0, level), -inf);
        EXPECT_EQ(KernelLogReference(-0.0, level), -inf);
        EXPECT_EQ(KernelLogReference(inf, level), inf);
        EXPECT_EQ(KernelLogReference(1.0, level), 0.0);
        for (double v : {nan, -1.0, -inf, -1e300, -std::numeric_limits<double>::denorm_min()})
            EXPECT_TRUE(std::isnan(KernelLogReference(v, level))) << "log of " << v;
    }
}

TEST(KernelLog, VectorCodeGivesTheBitsOfTheOneValueForm) {
    std::mt19937_64 rng(kSeed);
    std::vector<double> x = LogArguments(rng);
    const double inf = std::numeric_limits<double>::infinity();
    // Specials mixed into vectors of ordinary values, and an odd length so
    // that the last vector is partly filled.
    for (double v : {0.0, -0.0, -1.0, inf, -inf, std::numeric_limits<double>::quiet_NaN(), 3.0})
        x.insert(x.begin() + static_cast<std::ptrdiff_t>(rng() % x.size()), v);
    if (x.size() % 2 == 0) x.push_back(7.0);
    for (SimdLevel level : AvailableLevels()) {
        SCOPED_TRACE(std::string(SimdLevelName(level)) + ", seed " + std::to_string(kSeed));
        std::vector<double> y(x.size());
        KernelLog(x.data(), x.size(), y.data(), level);
        for (std::size_t i = 0; i < x.size(); ++i)
            ASSERT_TRUE(SameValue(y[i], KernelLogReference(x[i], level))) << "log of " << x[i];
    }
}

}  // namespace
