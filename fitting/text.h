// Number text for the engine's messages and log, independent of the process
// locale: these sentences reach the host, and printf's "%g" would write a
// decimal comma under some locales. Internal to fitting/.
#ifndef MATMODEL_FITTING_TEXT_H
#define MATMODEL_FITTING_TEXT_H

#include <charconv>
#include <string>

namespace polerat::detail {

/// As printf's "%.<significant>g" in the C locale.
inline std::string Num(double value, int significant = 6) {
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, significant);
    return std::string(buf, r.ptr);
}

/// As printf's "%.<decimals>e" in the C locale.
inline std::string Sci(double value, int decimals = 3) {
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific, decimals);
    return std::string(buf, r.ptr);
}

/// Sci(value, decimals) appended to `out`, without a string of its own (the
/// log is written on every fit).
inline void AppendSci(std::string& out, double value, int decimals = 3) {
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific, decimals);
    out.append(buf, r.ptr);
}

}  // namespace polerat::detail

#endif  // MATMODEL_FITTING_TEXT_H
