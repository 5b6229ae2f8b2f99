// Locale-independent number text on top of std::from_chars and std::to_chars.
#include "io/number_text.h"

#include <charconv>
#include <cmath>
#include <utility>
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

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; }

std::string_view TrimBlanks(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string LowerAscii(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = LowerAscii(c);
    return out;
}

std::optional<FrequencyUnit> ParseFrequencyUnit(std::string_view text) {
    const std::string lower = LowerAscii(TrimBlanks(text));
    static const std::pair<const char*, FrequencyUnit> kUnits[] = {
        {"hz", {"Hz", 1.0}},     {"khz", {"kHz", 1e3}},   {"mhz", {"MHz", 1e6}},
        {"ghz", {"GHz", 1e9}},   {"thz", {"THz", 1e12}},
    };
    for (const auto& [key, unit] : kUnits)
        if (lower == key) return unit;
    return std::nullopt;
}

std::optional<double> ParseNumber(std::string_view text) {
    text = TrimBlanks(text);
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
        // "+-1" and "- 1" are not numbers.
        if (text.empty() || text.front() == '+' || text.front() == '-' || IsBlank(text.front()))
            return std::nullopt;
    }
    if (text.empty()) return std::nullopt;
    double value = 0.0;
    const char* last = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), last, value);
    // A magnitude out of range is still a number the user wrote; give it its
    // limit and let the range checks reject it by value.
    if (ec == std::errc::result_out_of_range && ptr == last) {
        const std::size_t e = text.find_first_of("eE");
        const bool tiny = e != std::string_view::npos && e + 1 < text.size() && text[e + 1] == '-';
        value = tiny ? 0.0 : HUGE_VAL;
    } else if (ec != std::errc() || ptr != last) {
        return std::nullopt;
    }
    return negative ? -value : value;
}

std::optional<double> ParseFrequency(std::string_view text) {
    if (auto v = ParseNumber(text)) return v;
    const std::size_t split = text.find_last_of("0123456789.") + 1;
    if (split == 0 || split >= text.size()) return std::nullopt;
    const auto number = ParseNumber(text.substr(0, split));
    const auto unit = ParseFrequencyUnit(text.substr(split));
    if (number && unit) return *number * unit->hertz;
    return std::nullopt;
}

}  // namespace matmodel
