// Number text in and out, independent of the process locale: everything goes
// through std::from_chars and std::to_chars, never through scanf, printf or a
// stream that might carry a user's locale.
#ifndef MATMODEL_IO_NUMBER_TEXT_H
#define MATMODEL_IO_NUMBER_TEXT_H

#include <optional>
#include <string>
#include <string_view>

namespace matmodel {

/// A frequency unit and its size in hertz.
struct FrequencyUnit {
    std::string name;   ///< canonical spelling: "Hz", "kHz", "MHz", "GHz", "THz"
    double hertz = 1.0;
};

/// Parses a unit name, case-insensitively ("ghz" is GHz; no one means
/// millihertz). Returns nothing for anything else.
std::optional<FrequencyUnit> ParseFrequencyUnit(std::string_view text);

/// Reads a whole field as a finite or non-finite double, locale-independent:
/// optional sign, decimal or exponent notation, "inf", "nan". Leading and
/// trailing blanks are allowed; anything else makes it fail.
std::optional<double> ParseNumber(std::string_view text);

/// True for a blank or tab within a line.
bool IsBlank(char c);

/// `s` without leading and trailing blanks.
std::string_view TrimBlanks(std::string_view s);

/// `c` or `s` with ASCII capitals in lower case.
char LowerAscii(char c);
std::string LowerAscii(std::string_view s);

/// A frequency in hertz, plain ("1e9") or with a unit ("10GHz", "2.5 MHz").
std::optional<double> ParseFrequency(std::string_view text);


/// Like printf's %.*g: at most `significant` digits, trailing zeros dropped,
/// exponent form outside [1e-4, 10^significant). NaN and infinities are
/// written "nan", "inf", "-inf".
std::string FormatGeneral(double value, int significant);

/// The shortest text that reads back as exactly `value` (for tables and JSON).
std::string FormatShortest(double value);

/// Fixed-point with `decimals` digits after the point (SVG coordinates).
std::string FormatFixed(double value, int decimals);

/// A frequency with an engineering prefix: "0 Hz", "0.1 Hz", "77.47 MHz",
/// "1 GHz", "2.5 THz"; `significant` digits at most.
std::string FormatFrequency(double hertz, int significant = 4);

/// A relative value as a percentage: 0.00421 gives "0.421 %".
std::string FormatPercent(double relative, int significant = 3);

}  // namespace matmodel

#endif  // MATMODEL_IO_NUMBER_TEXT_H
