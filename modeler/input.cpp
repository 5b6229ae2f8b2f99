// Tabulated input: text files, Dk/Df tables and conductivity tables.
#include <charconv>
#include <cmath>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "modeler/MaterialModeler.h"

namespace {

constexpr double kMinDk = 1.0;
constexpr double kDfFloor = 1e-5;
constexpr double kConductivityFloor = 1e-11;      // S/m
constexpr double kConversionFreqFloor = 1e-6;     // Hz
constexpr std::size_t kMinTableRows = 3;

// Plain less-than tests, so that a NaN passes every one of them.
void Validate(double freq, double dk, double loss) {
    if (freq < 0.0) throw std::runtime_error("Frequency must be non-negative.");
    if (dk < kMinDk)
        throw std::runtime_error("Relative permittivity (Dk) values must not be less than 1.");
    if (loss < 0.0) throw std::runtime_error("Loss tangent (Df) values must be non-negative.");
}

bool IsCSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsDigit(char c, bool hex) {
    if (c >= '0' && c <= '9') return true;
    return hex && ((c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'));
}

// "0x" starts a hexadecimal number only when a hex digit follows, possibly
// after the point; otherwise "%le" reads the "0" alone.
bool StartsHex(const char* first, const char* last) {
    if (last - first < 3 || first[0] != '0' || (first[1] != 'x' && first[1] != 'X')) return false;
    const char* p = first + 2;
    if (*p == '.') ++p;
    return p < last && IsDigit(*p, true);
}

// For a number too large or too small for a double: whether its magnitude is
// below 1 (it underflows) rather than above (it overflows). The mantissa's
// first nonzero digit gives its order, the exponent (saturated) the rest.
bool BelowOne(const char* first, const char* last, bool hex) {
    long wholeDigits = 0;    // integer digits from the first nonzero one
    long zerosAfterPoint = 0;  // fraction zeros before the first nonzero digit
    bool point = false, nonzero = false;
    const char* p = first;
    for (; p < last && (IsDigit(*p, hex) || *p == '.'); ++p) {
        if (*p == '.') {
            point = true;
        } else if (!point) {
            nonzero = nonzero || *p != '0';
            if (nonzero && wholeDigits < 1000000) ++wholeDigits;
        } else if (!nonzero) {
            nonzero = *p != '0';
            if (!nonzero && zerosAfterPoint < 1000000) ++zerosAfterPoint;
        }
    }
    // 123.4 is of order 2, 0.00123 of order -3.
    const long order = wholeDigits > 0 ? wholeDigits - 1 : -(zerosAfterPoint + 1);
    long exponent = 0;
    if (p < last && (*p == 'e' || *p == 'E' || *p == 'p' || *p == 'P')) {
        ++p;
        const bool negative = p < last && *p == '-';
        if (p < last && (*p == '-' || *p == '+')) ++p;
        for (; p < last && IsDigit(*p, false); ++p)
            if (exponent < 100000000) exponent = exponent * 10 + (*p - '0');
        if (negative) exponent = -exponent;
    }
    // A hex digit is four binary orders; the binary exponent counts one each.
    return (hex ? order * 4 : order) + exponent < 0;
}

// Reads one double the way "%le" does, but independent of the process locale:
// skips white space, accepts an optional sign, decimal, exponent and
// hexadecimal notation, inf and nan. Returns false when no number starts at
// `pos`.
bool ReadDouble(const std::string& text, std::size_t& pos, double& value) {
    while (pos < text.size() && IsCSpace(text[pos])) ++pos;
    if (pos >= text.size()) return false;
    const char* first = text.data() + pos;
    const char* last = text.data() + text.size();
    bool negate = false;
    if (*first == '+' || *first == '-') {
        negate = *first == '-';
        ++first;
        // from_chars takes no sign of its own; a second sign is not a number.
        if (first == last || *first == '+' || *first == '-') return false;
    }
    const bool hex = StartsHex(first, last);
    if (hex) first += 2;  // from_chars takes the digits without the prefix
    double parsed = 0.0;
    auto [end, ec] = std::from_chars(first, last, parsed,
                                     hex ? std::chars_format::hex : std::chars_format::general);
    if (ec == std::errc::invalid_argument) return false;
    if (ec == std::errc::result_out_of_range) {
        // Like strtod: overflow gives infinity, underflow zero.
        parsed = BelowOne(first, end, hex) ? 0.0 : HUGE_VAL;
    }
    value = negate ? -parsed : parsed;
    pos = static_cast<std::size_t>(end - text.data());
    return true;
}

// Validates a (frequency, Dk, Df) sample, raises Df to its floor and appends
// it, the three lists in their fixed order.
void AppendLossTangentSample(std::vector<double>& freqs, std::vector<double>& dks, std::vector<double>& dfs,
                             double freq, double dk, double df) {
    Validate(freq, dk, df);
    if (df < kDfFloor) df = kDfFloor;
    freqs.push_back(freq);
    dks.push_back(dk);
    dfs.push_back(df);
}

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

}  // namespace

void MaterialModeler::ReadInputFile(const char* path) {
    // The handle closes on every way out, a validation failure included.
    std::unique_ptr<std::FILE, FileCloser> file(path ? std::fopen(path, "r") : nullptr);
    if (!file) throw std::runtime_error("Can't open input file for reading.");

    std::string text;
    char buffer[65536];
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) text.append(buffer, got);

    std::size_t pos = 0;
    for (;;) {
        double freq = 0.0, dk = 0.0, df = 0.0;
        if (!ReadDouble(text, pos, freq) || !ReadDouble(text, pos, dk) ||
            !ReadDouble(text, pos, df))
            return;
        AppendLossTangentSample(m_freq, m_dk, m_df, freq, dk, df);
    }
}

void MaterialModeler::SetInputData(const DataTable& table) {
    if (table.size() < kMinTableRows)
        throw std::runtime_error("Please provide at least 3 data points.");
    for (const std::vector<double>& row : table) {
        const double freq = row.at(0);
        const double dk = row.at(1);
        const double df = row.at(2);
        AppendLossTangentSample(m_freq, m_dk, m_df, freq, dk, df);
    }
}

void MaterialModeler::SetInputDataUsingConductivity(const DataTable& table) {
    for (const std::vector<double>& row : table) {
        const double freq = row.at(0);
        const double dk = row.at(1);
        double sigma = row.at(2);
        Validate(freq, dk, sigma);
        if (sigma < kConductivityFloor) sigma = kConductivityFloor;
        const double fc = kConversionFreqFloor > freq ? kConversionFreqFloor : freq;
        // The loss tangent that conduction alone gives: sigma / (2 pi f e0 Dk),
        // multiplied in this order so that the last bits are reproducible.
        const double df = sigma / (((fc * TwoPi) * E0) * dk);
        m_freq.push_back(freq);
        m_dk.push_back(dk);
        m_df.push_back(df);
    }
}
