// Locale-independent number text on top of std::to_chars.
#include "cli/number_text.h"

#include <charconv>
#include <cmath>
#include <system_error>

namespace matmodel {
namespace {

// Enough for any double in any of the formats below (fixed notation of 1e308
// with a few decimals included).
constexpr int kBufferSize = 400;

template <typename... Args>
std::string ToChars(double value, Args... args) {
    if (std::isnan(value)) return "nan";
    if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
    char buffer[kBufferSize];
    const auto result = std::to_chars(buffer, buffer + kBufferSize, value, args...);
    if (result.ec != std::errc()) return "?";
    return std::string(buffer, result.ptr);
}

// The value as it will be shown with `significant` digits.
double RoundSignificant(double value, int significant) {
    if (value == 0.0) return 0.0;
    const double step =
        std::pow(10.0, std::floor(std::log10(std::fabs(value))) - (significant - 1));
    return std::round(value / step) * step;
}

}  // namespace

std::string FormatGeneral(double value, int significant) {
    return ToChars(value, std::chars_format::general, significant);
}

std::string FormatShortest(double value) { return ToChars(value); }

std::string FormatFixed(double value, int decimals) {
    std::string s = ToChars(value, std::chars_format::fixed, decimals);
    if (s == "-0" || s.rfind("-0.", 0) == 0) {
        // "-0.00" from a tiny negative coordinate reads as noise; drop the sign.
        if (s.find_first_not_of("-0.") == std::string::npos) s.erase(0, 1);
    }
    return s;
}

std::string FormatFrequency(double hertz, int significant) {
    if (!std::isfinite(hertz)) return FormatGeneral(hertz, significant) + " Hz";
    static const struct {
        double scale;
        const char* unit;
    } kPrefixes[] = {{1e15, "PHz"}, {1e12, "THz"}, {1e9, "GHz"}, {1e6, "MHz"}, {1e3, "kHz"}};
    const double magnitude = std::fabs(hertz);
    for (const auto& p : kPrefixes) {
        // Compare after rounding, so that 999.99 kHz shown at 4 digits is "1 MHz".
        if (RoundSignificant(magnitude / p.scale, significant) >= 1.0)
            return FormatGeneral(hertz / p.scale, significant) + " " + p.unit;
    }
    // Below 1 kHz stay with plain hertz: "mHz" is too easily read as MHz.
    return FormatGeneral(hertz, significant) + " Hz";
}

std::string FormatPercent(double relative, int significant) {
    return FormatGeneral(relative * 100.0, significant) + " %";
}

}  // namespace matmodel
