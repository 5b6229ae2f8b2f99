// Number text for the tool's outputs, independent of the process locale:
// everything goes through std::to_chars, never through printf or a stream
// that might carry a user's locale.
#ifndef MATMODEL_CLI_NUMBER_TEXT_H
#define MATMODEL_CLI_NUMBER_TEXT_H

#include <string>

namespace matmodel {

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

#endif  // MATMODEL_CLI_NUMBER_TEXT_H
