// The fast Hilbert kernel against the direct loop, bit for bit, at every
// instruction set this processor has; its logarithm against std::log; and
// what both rest on: std::log within 0.5 + 2^-9 ulp of the exact value.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <ios>
#include <limits>
#include <random>
#include <stdexcept>
#include <vector>

#include <gtest/gtest.h>

#include "fitting/constants.h"
#include "hilbert_plain.h"
#include "modeler/hilbert_kernels.h"

namespace {

namespace detail = matmodel::detail;
using detail::SimdLevel;

constexpr std::uint64_t kSeed = 20240611;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
const bool kExtendedLongDouble = std::numeric_limits<long double>::digits >= 64;

const SimdLevel kLevels[] = {SimdLevel::kScalar, SimdLevel::kSse2, SimdLevel::kAvx2,
                             SimdLevel::kAvx512};

// Same bits, or both not-a-number (whatever the payload).
bool SameValue(double a, double b) {
    return (std::isnan(a) && std::isnan(b)) || std::memcmp(&a, &b, sizeof a) == 0;
}

// n frequencies from f0 to f1: evenly spaced, or log-uniform at random.
std::vector<double> Spread(std::size_t n, double f0, double f1, bool even, std::mt19937_64& rng) {
    std::uniform_real_distribution<double> t(0.0, 1.0);
    std::vector<double> f(n);
    for (std::size_t i = 0; i < n; ++i)
        f[i] = even ? f0 + (f1 - f0) * i / (n - 1.0) : f0 * std::pow(f1 / f0, t(rng));
    std::sort(f.begin(), f.end());
    return f;
}

std::vector<std::vector<double>> Frequencies(std::mt19937_64& rng) {
    std::vector<std::vector<double>> grids = {
        {}, {0.0, 1e9, 2e9, 4e9}, {0.0}, {1e9, 2e9, 2e9, 4e9},  // 0 Hz; equal neighbours
        {-3e9, -1e9, 0.0, 1e9, 3e9},          // w[i] + w[k] = 0 off the first segment
        {0.01, 0.05, 0.2, 0.3, 1.0},          // logarithms of arguments below 8
        {5e9, 1e9, 3e9, 2e9, 8e9},            // unsorted
        {1e9, kNaN, 3e9}, {1e9, 2e9, kInf},   // not finite
        {1e305, 3e305, 5e305, 9e305},         // near the top of the range
        {2.5e307, 1e9, 2e9, 3e9},             // sums past the largest double
        // Blocks whose sums and differences cross powers of two, or whose
        // logarithms cross 8 or 16 (e^16 is near 1.4 MHz in angular frequency).
        Spread(333, 1e5, 1e7, false, rng), Spread(257, 10.0, 1e6, false, rng),
        Spread(290, 1e6, 3e6, true, rng), Spread(130, 1e9, 2e9, true, rng),
        Spread(40, 1e306, 1.1e306, true, rng), Spread(2500, 1e6, 1e11, false, rng)};
    grids.push_back(Spread(70, 1e6, 1e11, false, rng));
    grids.back()[0] = 0.0;
    // Around the edges of blocks (32 samples) and vectors (up to 8 lanes).
    for (std::size_t n : {1, 2, 3, 7, 8, 9, 31, 32, 33, 63, 64, 65, 97, 150, 400})
        grids.push_back(Spread(n, 1e3, 1e12, false, rng));
    return grids;
}

TEST(HilbertFast, GivesTheBitsOfTheDirectLoopAtEveryLevel) {
    std::mt19937_64 rng(kSeed);  // seed printed on failure
    // A rough loss, drawn sample by sample: the sums cancel to about nine
    // digits on dense grids, so a logarithm one bit off would show.
    std::uniform_real_distribution<double> dkOf(2.0, 5.0), dfOf(0.0, 0.05);
    std::vector<double> plain, fast;  // each time replacing the last grid's values
    for (const std::vector<double>& f : Frequencies(rng)) {
        SCOPED_TRACE(testing::Message() << f.size() << " samples, seed " << kSeed);
        std::vector<double> dk(f.size()), df(f.size());
        for (std::size_t i = 0; i < f.size(); ++i) dk[i] = dkOf(rng), df[i] = dfOf(rng);
        detail::LossSegments s;
        detail::BuildLossSegments(f.data(), dk.data(), df.data(), f.size(), matmodel::kTwoPi, s);
        detail::HilbertPlain(s, plain);
        for (SimdLevel level : kLevels) {
            // The widest level this processor has is the modeler's.
            EXPECT_EQ(detail::SimdLevelAvailable(level), level <= detail::BestSimdLevel());
            if (!detail::SimdLevelAvailable(level)) {
                EXPECT_THROW(detail::HilbertFast(s, fast, level), std::invalid_argument);
                continue;
            }
            detail::HilbertFast(s, fast, level);
            ASSERT_EQ(fast.size(), plain.size());
            for (std::size_t i = 0; i < plain.size(); ++i)
                ASSERT_TRUE(SameValue(fast[i], plain[i]))
                    << detail::SimdLevelName(level) << " at " << i << ": " << fast[i] << " vs "
                    << plain[i];
        }
    }
}

// --- The logarithm -------------------------------------------------------

// How many ulps y is from the exact logarithm of x (a long double's).
double UlpsOff(double x, double y) {
    const long double exact = std::log(static_cast<long double>(x));
    return static_cast<double>(std::fabs(y - exact) / std::ldexp(1.0L, std::ilogb(exact) - 52));
}

// Arguments from 8 up whose logarithms are hard to round, the nearest double
// almost half an ulp off: random mantissas in every binade, and differences
// of band frequencies (the kind of arguments the sums take).
std::vector<double> HardArguments() {
    std::mt19937_64 rng(kSeed);
    std::uniform_real_distribution<double> m(1.0, 2.0), logW(std::log(1e3), std::log(1e13));
    std::vector<double> x;
    for (int i = 0; kExtendedLongDouble && i < 300000; ++i) {
        const double v = i % 2 ? std::ldexp(m(rng), 3 + i % 1021)
                               : std::fabs(std::exp(logW(rng)) - std::exp(logW(rng)));
        const double nearest = static_cast<double>(std::log(static_cast<long double>(v)));
        if (v >= 8.0 && UlpsOff(v, nearest) > 0.5 - 0x1p-7) x.push_back(v);
    }
    return x;
}

TEST(StdLog, IsWithinHalfAnUlpAndTwoToTheMinusNineAsTheVectorLogarithmAssumes) {
    if (!kExtendedLongDouble) GTEST_SKIP() << "no extended long double for the reference";
    const std::vector<double> x = HardArguments();
    ASSERT_GT(x.size(), 2000u);
    // Less the reference's own error: two ulps of a 64-bit long double.
    for (double v : x)
        ASSERT_LE(UlpsOff(v, std::log(v)), 0.5 + 0x1p-9 - 0x1p-10) << std::hexfloat << v;
}

TEST(KernelLog, GivesTheBitsOfStdLogAtEveryLevel) {
    std::vector<double> x = HardArguments();
    std::mt19937_64 rng(kSeed);
    for (int i = 0; i < 100000; ++i) {  // random bits: signs, subnormals, infinities, NaN
        const std::uint64_t bits = rng();
        x.push_back(0.0);
        std::memcpy(&x.back(), &bits, sizeof bits);
    }
    // Powers of two, the tables' part boundaries and their neighbours; where
    // logarithms cross a power of two; zero, 8, the largest double.
    for (int e = -1074; e <= 1023; e += 3)
        for (int j = 0; j < 16; ++j) {
            const double v = std::ldexp(1.0 + j / 16.0, e);
            x.insert(x.end(), {v, std::nextafter(v, 0.0), std::nextafter(v, kInf)});
        }
    for (int j = 1; j <= 9; ++j)
        for (int i = -40; i <= 40; ++i)
            x.push_back(std::exp(std::ldexp(1.0, j)) * (1.0 + i * 0x1p-50));
    x.insert(x.end(),
             {0.0, -0.0, 8.0, std::nextafter(8.0, 0.0), std::numeric_limits<double>::max()});
    x.resize(x.size() | 1, 3.0);  // an odd count: the last vector is part filled
    std::vector<double> y(x.size());
    for (SimdLevel level : kLevels) {
        if (!detail::SimdLevelAvailable(level)) {
            EXPECT_THROW(detail::KernelLog(x.data(), 1, y.data(), level), std::invalid_argument);
            continue;
        }
        detail::KernelLog(x.data(), x.size(), y.data(), level);
        for (std::size_t i = 0; i < x.size(); ++i)
            ASSERT_TRUE(SameValue(y[i], std::log(x[i])))
                << detail::SimdLevelName(level) << std::hexfloat << ", log of " << x[i];
    }
}

}  // namespace
