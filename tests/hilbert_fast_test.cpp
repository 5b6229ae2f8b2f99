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

constexpr std::uint64_t kSeed = 20240611;  // printed on failure
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN(), kInf = std::numeric_limits<double>::infinity();

// `run` at every level: a level this processor lacks is refused, the others
// give `want` bit for bit (or not-a-number where it does, whatever the payload).
template <class Run>
void ExpectBitsAtEveryLevel(const std::vector<double>& want, Run run) {
    for (SimdLevel level : {SimdLevel::kScalar, SimdLevel::kSse2, SimdLevel::kAvx2, SimdLevel::kAvx512}) {
        // The widest level this processor has is the modeler's.
        EXPECT_EQ(detail::SimdLevelAvailable(level), level <= detail::BestSimdLevel());
        std::vector<double> got(want.size());
        if (!detail::SimdLevelAvailable(level)) {
            EXPECT_THROW(run(level, got), std::invalid_argument);
            continue;
        }
        run(level, got);
        ASSERT_EQ(got.size(), want.size());
        for (std::size_t i = 0; i < want.size(); ++i)
            ASSERT_TRUE((std::isnan(got[i]) && std::isnan(want[i])) || std::memcmp(&got[i], &want[i], 8) == 0)
                << detail::SimdLevelName(level) << " at " << i << std::hexfloat << ": " << got[i] << " vs " << want[i];
    }
}

TEST(HilbertFast, GivesTheBitsOfTheDirectLoopAtEveryLevel) {
    std::mt19937_64 rng(kSeed);
    // n frequencies from f0 to f1: evenly spaced, or log-uniform at random and sorted.
    const auto spread = [&rng](int n, double f0, double f1, bool even) {
        std::uniform_real_distribution<double> t(0.0, 1.0);
        std::vector<double> f(n);
        for (int i = 0; i < n; ++i) f[i] = even ? f0 + (f1 - f0) * i / (n - 1.0) : f0 * std::pow(f1 / f0, t(rng));
        std::sort(f.begin(), f.end());
        return f;
    };
    // None; 0 Hz; equal neighbours; w[i] + w[k] = 0 off the first segment;
    // logarithms of arguments below 8; unsorted; not finite; near the top of
    // the range, and sums past it. Then blocks whose sums and differences
    // cross powers of two or whose logarithms cross 8 or 16 (e^16 rad/s is
    // near 1.4 MHz), and sizes around blocks (32 samples) and vectors (8 lanes).
    std::vector<std::vector<double>> grids = {{}, {0.0, 1e9, 2e9, 4e9}, {0.0}, {1e9, 2e9, 2e9, 4e9},
        {-3e9, -1e9, 0.0, 1e9, 3e9}, {0.01, 0.05, 0.2, 0.3, 1.0}, {5e9, 1e9, 3e9, 2e9, 8e9}, {1e9, kNaN, 3e9},
        {1e9, 2e9, kInf}, {1e305, 3e305, 5e305, 9e305}, {2.5e307, 1e9, 2e9, 3e9}, spread(333, 1e5, 1e7, false),
        spread(257, 10.0, 1e6, false), spread(290, 1e6, 3e6, true), spread(130, 1e9, 2e9, true),
        spread(40, 1e306, 1.1e306, true), spread(2500, 1e6, 1e11, false), spread(70, 1e6, 1e11, false)};
    grids.back()[0] = 0.0;
    for (int n : {1, 2, 3, 7, 8, 9, 31, 32, 33, 63, 64, 65, 97, 150, 400}) grids.push_back(spread(n, 1e3, 1e12, false));
    // A rough loss, drawn sample by sample: the sums cancel to about nine
    // digits on dense grids, so a logarithm one bit off would show.
    std::uniform_real_distribution<double> dkOf(2.0, 5.0), dfOf(0.0, 0.05);
    for (const std::vector<double>& f : grids) {
        SCOPED_TRACE(testing::Message() << f.size() << " samples, seed " << kSeed);
        std::vector<double> dk(f.size()), df(f.size()), plain;
        for (std::size_t i = 0; i < f.size(); ++i) dk[i] = dkOf(rng), df[i] = dfOf(rng);
        detail::LossSegments s;
        detail::BuildLossSegments(f.data(), dk.data(), df.data(), f.size(), matmodel::kTwoPi, s);
        detail::HilbertPlain(s, plain);
        ExpectBitsAtEveryLevel(plain, [&s](SimdLevel l, std::vector<double>& r) { detail::HilbertFast(s, r, l); });
    }
}

// How many ulps y is from the exact logarithm of x (a long double's).
double UlpsOff(double x, double y) {
    const long double exact = std::log(static_cast<long double>(x));
    return static_cast<double>(std::fabs(y - exact) / std::ldexp(1.0L, std::ilogb(exact) - 52));
}

TEST(KernelLog, GivesTheBitsOfStdLogAtEveryLevelWhichIsWithinHalfAnUlpAndTwoToTheMinusNine) {
    // Arguments from 8 up whose logarithms are hard to round, the nearest
    // double almost half an ulp off: random mantissas in every binade, and
    // differences of band frequencies (the kind of arguments the sums take).
    const bool extended = std::numeric_limits<long double>::digits >= 64;  // for the exact reference
    std::mt19937_64 rng(kSeed);
    std::uniform_real_distribution<double> m(1.0, 2.0), lw(std::log(1e3), std::log(1e13));
    std::vector<double> x;
    for (int i = 0; extended && i < 300000; ++i) {
        const double v = i % 2 ? std::ldexp(m(rng), 3 + i % 1021) : std::fabs(std::exp(lw(rng)) - std::exp(lw(rng)));
        if (v >= 8.0 && UlpsOff(v, static_cast<double>(std::log(static_cast<long double>(v)))) > 0.5 - 0x1p-7)
            x.push_back(v);
    }
    // std::log is within 0.5 + 2^-9 ulp there (less the reference's own error,
    // two ulps of a 64-bit long double), as the vector logarithm assumes.
    EXPECT_TRUE(!extended || x.size() > 2000u) << x.size();
    for (double v : x) ASSERT_LE(UlpsOff(v, std::log(v)), 0.5 + 0x1p-9 - 0x1p-10) << std::hexfloat << v;
    // Then random bits (signs, subnormals, infinities, NaN); powers of two, the
    // tables' part boundaries and their neighbours; where logarithms cross a
    // power of two; zero, 8 and the largest double.
    for (int i = 0; i < 100000; ++i) {
        const std::uint64_t bits = rng();
        std::memcpy(&x.emplace_back(), &bits, sizeof bits);
    }
    const auto around = [&x](double v) { x.insert(x.end(), {v, std::nextafter(v, 0.0), std::nextafter(v, kInf)}); };
    for (int e = -1074; e <= 1023; e += 3)
        for (int j = 0; j < 16; ++j) around(std::ldexp(1.0 + j / 16.0, e));
    for (int j = 1; j <= 9; ++j)
        for (int i = -40; i <= 40; ++i) x.push_back(std::exp(std::ldexp(1.0, j)) * (1.0 + i * 0x1p-50));
    x.insert(x.end(), {0.0, -0.0, 8.0, std::nextafter(8.0, 0.0), std::numeric_limits<double>::max()});
    x.resize(x.size() | 1, 3.0);  // an odd count: the last vector is part filled
    std::vector<double> want;
    for (double v : x) want.push_back(std::log(v));
    ExpectBitsAtEveryLevel(want, [&x](SimdLevel level, std::vector<double>& y) {
        detail::KernelLog(x.data(), x.size(), y.data(), level);
    });
}

}  // namespace
