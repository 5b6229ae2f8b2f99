// Reading material files: a table of frequency, Dk and a loss value (loss
// tangent Df, or conductivity in S/m), one sample per line.
//
// Accepted layouts, told apart by the first line that is not blank or a
// comment:
//   - white space between the numbers (the plain format that
//     MaterialModeler::ReadInputFile reads, one sample per line);
//   - comma-separated (CSV), tab-separated (TSV), or semicolon-separated, where
//     a decimal comma is also accepted ("3,72");
//   - optionally one header line before the data, e.g. "Frequency (GHz), Dk, Df".
//     The frequency unit is taken from the first column's name (Hz, kHz, MHz,
//     GHz, THz); the third column's name may say that it holds a conductivity
//     ("sigma", "conductivity", "S/m") or a loss tangent ("Df", "tan", "loss").
// "#" starts a comment, on a line of its own or after the values. A UTF-8 byte
// order mark and CRLF line ends are accepted.
//
// Every sample is checked here, so that a bad value is reported with its file
// and line rather than as an anonymous sentence from the modeler: the
// frequency is finite and >= 0 (> 0 for a conductivity), Dk is finite and
// >= 1, the loss value is finite and >= 0, no frequency occurs twice. The
// samples come back sorted by frequency, which the Kramers-Kronig
// reconstruction needs.
//
// Number text is read independently of the process locale.
//
//   matmodel::MaterialTable t = matmodel::ReadMaterialFile("examples/dense.csv", {});
//   // t.freq[i] in Hz, t.dk[i], t.loss[i] (t.lossKind says which loss it is)
#ifndef MATMODEL_IO_MATERIAL_FILE_H
#define MATMODEL_IO_MATERIAL_FILE_H

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "io/number_text.h"

namespace matmodel {

/// What the third column holds.
enum class LossKind {
    kUnspecified,   ///< in ReadOptions: let the header decide, else loss tangent
    kLossTangent,   ///< Df, dimensionless
    kConductivity,  ///< sigma, S/m
};

struct ReadOptions {
    /// Frequency unit of the first column; empty: the header's, else Hz. A
    /// header that names a different unit is an error.
    std::string freqUnit;
    /// kUnspecified lets the header decide; a header that contradicts an
    /// explicit choice is an error.
    LossKind lossKind = LossKind::kUnspecified;
};

/// The samples of one file, sorted by frequency.
struct MaterialTable {
    std::string path;
    std::string format;                ///< "whitespace", "csv", "tsv" or "semicolon"
    std::vector<std::string> header;   ///< the header's column names; empty if none
    FrequencyUnit freqUnit{"Hz", 1.0}; ///< unit the file's frequencies were in
    LossKind lossKind = LossKind::kLossTangent;  ///< never kUnspecified
    bool reordered = false;            ///< the file was not in ascending order

    std::vector<double> freq;  ///< hertz
    std::vector<double> dk;
    std::vector<double> loss;  ///< Df, or conductivity in S/m
    std::vector<int> line;     ///< 1-based source line of each sample
};

/// A file that cannot be used. what() is the full one-line message,
/// "PATH:LINE: REASON in \"TEXT\"" (or "PATH: REASON" when no line is at
/// fault); the parts are kept for callers that present them differently.
class MaterialFileError : public std::runtime_error {
public:
    MaterialFileError(std::string path, int line, std::string reason, std::string text);

    const std::string& Path() const { return m_path; }
    int Line() const { return m_line; }  ///< 0 when the file as a whole is at fault
    const std::string& Reason() const { return m_reason; }
    const std::string& Text() const { return m_text; }  ///< the offending line, shortened

private:
    std::string m_path;
    int m_line;
    std::string m_reason;
    std::string m_text;
};

/// The file name that stands for standard input.
inline constexpr char kStandardInput[] = "-";

/// Reads and checks a file ("-": standard input, named "stdin" in messages).
/// Throws MaterialFileError (cannot open, bad line, fewer than `minSamples`
/// samples).
MaterialTable ReadMaterialFile(const std::string& path, const ReadOptions& options,
                               std::size_t minSamples = 3);

/// The same for text already in memory; `path` only names it in messages.
MaterialTable ParseMaterialText(std::string_view text, const std::string& path,
                                const ReadOptions& options, std::size_t minSamples = 3);

}  // namespace matmodel

#endif  // MATMODEL_IO_MATERIAL_FILE_H
