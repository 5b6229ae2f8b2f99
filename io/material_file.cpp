// Material file reader: layout detection, header units, per-line checks.
#include "io/material_file.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <numeric>
#include <utility>

namespace matmodel {
namespace {

// Long lines are cut in messages: the start of a line is what identifies it.
constexpr std::size_t kMaxQuotedText = 60;

constexpr std::size_t kColumns = 3;

enum class Layout { kWhitespace, kComma, kTab, kSemicolon };

const char* LayoutName(Layout layout) {
    switch (layout) {
        case Layout::kComma: return "csv";
        case Layout::kTab: return "tsv";
        case Layout::kSemicolon: return "semicolon";
        case Layout::kWhitespace: break;
    }
    return "whitespace";
}


// Makes a line safe and short enough to quote on one line of a terminal.
std::string Shorten(std::string_view line) {
    std::string out;
    for (char c : line) {
        const auto u = static_cast<unsigned char>(c);
        out += (u < 0x20 || u == 0x7f) ? '?' : c;
    }
    if (out.size() > kMaxQuotedText) {
        std::size_t cut = kMaxQuotedText;
        // Do not split a UTF-8 sequence.
        while (cut > 0 && (static_cast<unsigned char>(out[cut]) & 0xC0) == 0x80) --cut;
        out.resize(cut);
        out += "...";
    }
    return out;
}

std::string Quote(std::string_view s) { return "\"" + Shorten(s) + "\""; }

std::string ComposeMessage(const std::string& path, int line, const std::string& reason,
                           const std::string& text) {
    std::string msg = path;
    if (line > 0) msg += ":" + std::to_string(line);
    msg += ": " + reason;
    if (!text.empty()) msg += " in \"" + text + "\"";
    return msg;
}

// Alphanumeric runs, lower-cased: "Freq_GHz (S/m)" gives freq, ghz, s, m.
std::vector<std::string> Words(std::string_view s) {
    std::vector<std::string> words;
    std::string cur;
    for (char c : s) {
        const char l = LowerAscii(c);
        if ((l >= 'a' && l <= 'z') || (l >= '0' && l <= '9')) {
            cur += l;
        } else if (!cur.empty()) {
            words.push_back(cur);
            cur.clear();
        }
    }
    if (!cur.empty()) words.push_back(cur);
    return words;
}

std::vector<std::string_view> SplitFields(std::string_view line, Layout layout) {
    std::vector<std::string_view> fields;
    if (layout == Layout::kWhitespace) {
        std::size_t i = 0;
        while (i < line.size()) {
            while (i < line.size() && IsBlank(line[i])) ++i;
            const std::size_t start = i;
            while (i < line.size() && !IsBlank(line[i])) ++i;
            if (i > start) fields.push_back(line.substr(start, i - start));
        }
        return fields;
    }
    const char sep = layout == Layout::kComma ? ',' : layout == Layout::kTab ? '\t' : ';';
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = line.find(sep, start);
        std::string_view f = TrimBlanks(line.substr(start, end == std::string_view::npos
                                                         ? std::string_view::npos
                                                         : end - start));
        if (f.size() >= 2 && f.front() == '"' && f.back() == '"') f = f.substr(1, f.size() - 2);
        fields.push_back(f);
        if (end == std::string_view::npos) break;
        start = end + 1;
    }
    // Spreadsheets like to end every row with a separator.
    while (!fields.empty() && fields.back().empty()) fields.pop_back();
    return fields;
}

// A header's first column name starts with a letter (or is quoted); a data
// line with a typo in its first number still counts as data, so that it is
// reported as a bad number rather than taken for a header.
bool LooksLikeHeader(std::string_view line) {
    const char c = LowerAscii(line.front());
    return (c >= 'a' && c <= 'z') || c == '"' || c == '\'' || c == '_';
}

Layout DetectLayout(std::string_view firstLine, bool header) {
    if (firstLine.find(';') != std::string_view::npos) return Layout::kSemicolon;
    if (firstLine.find(',') != std::string_view::npos) {
        // "1e9 3,72 0.0085" is blank-separated with a decimal comma, not CSV:
        // its comma-separated pieces hold blanks inside.
        bool blanksInside = false;
        for (std::string_view f : SplitFields(firstLine, Layout::kComma))
            blanksInside |= std::find_if(f.begin(), f.end(), IsBlank) != f.end();
        if (header || !blanksInside) return Layout::kComma;
    }
    if (firstLine.find('\t') != std::string_view::npos) return Layout::kTab;
    return Layout::kWhitespace;
}

std::optional<FrequencyUnit> UnitFromWord(const std::string& word) {
    if (auto unit = ParseFrequencyUnit(word)) return unit;
    // "freqghz", "fghz": a unit glued to the column's name.
    if (word.size() > 2 && word[0] == 'f') {
        for (const char* u : {"thz", "ghz", "mhz", "khz", "hz"}) {
            const std::size_t n = std::strlen(u);
            if (word.size() > n && word.compare(word.size() - n, n, u) == 0)
                return ParseFrequencyUnit(u);
        }
    }
    return std::nullopt;
}

LossKind LossKindFromName(std::string_view name) {
    const std::string lower = LowerAscii(name);
    bool conductivity = lower.find("s/m") != std::string::npos;
    bool tangent = false;
    for (const std::string& w : Words(name)) {
        if (w == "sigma" || w == "conductivity" || w == "cond") conductivity = true;
        if (w == "df" || w == "tan" || w == "tand" || w == "tandelta" || w == "loss" ||
            w == "losstangent" || w == "dissipation")
            tangent = true;
    }
    if (conductivity == tangent) return LossKind::kUnspecified;
    return conductivity ? LossKind::kConductivity : LossKind::kLossTangent;
}

const char* LossName(LossKind kind) {
    return kind == LossKind::kConductivity ? "conductivity" : "loss tangent";
}

// Everything that can go wrong in one file, with the line it is on.
class Reader {
public:
    Reader(std::string_view text, const std::string& path, const ReadOptions& options)
        : m_text(text), m_path(path), m_options(options) {}

    MaterialTable Read(std::size_t minSamples) {
        m_table.path = m_path;
        if (!m_options.freqUnit.empty()) {
            auto unit = ParseFrequencyUnit(m_options.freqUnit);
            if (!unit)
                Fail(0, "unknown frequency unit \"" + m_options.freqUnit +
                            "\" (use Hz, kHz, MHz, GHz or THz)", {});
            m_table.freqUnit = *unit;
        }
        m_table.lossKind = m_options.lossKind;

        if (m_text.size() >= 3 && m_text.compare(0, 3, "\xEF\xBB\xBF") == 0) m_text.remove_prefix(3);
        if (m_text.find('\0') != std::string_view::npos)
            Fail(0, "is not a text file (it holds NUL bytes)", {});

        int lineNo = 0;
        std::size_t pos = 0;
        while (pos < m_text.size()) {
            std::size_t end = m_text.find('\n', pos);
            if (end == std::string_view::npos) end = m_text.size();
            std::string_view raw = m_text.substr(pos, end - pos);
            pos = end + 1;
            ++lineNo;
            if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
            std::string_view content = raw.substr(0, raw.find('#'));
            content = TrimBlanks(content);
            if (content.empty()) continue;
            Line(lineNo, raw, content);
        }

        if (m_table.lossKind == LossKind::kUnspecified) m_table.lossKind = LossKind::kLossTangent;
        if (m_table.format.empty()) m_table.format = LayoutName(Layout::kWhitespace);
        if (m_table.freq.empty()) Fail(0, "holds no samples", {});
        if (m_table.freq.size() < minSamples)
            Fail(0, "holds " + std::to_string(m_table.freq.size()) + " sample" +
                        (m_table.freq.size() == 1 ? "" : "s") + "; at least " +
                        std::to_string(minSamples) + " are needed",
                 {});
        CheckConductivityFrequencies();
        SortAndCheckDuplicates();
        return std::move(m_table);
    }

private:
    [[noreturn]] void Fail(int line, const std::string& reason, std::string_view text) const {
        throw MaterialFileError(m_path, line, reason, text.empty() ? "" : Shorten(text));
    }

    std::string ColumnName(std::size_t i) const {
        if (i == 0) return "frequency";
        if (i == 1) return "Dk";
        return m_table.lossKind == LossKind::kConductivity ? "conductivity" : "Df";
    }

    std::string ExpectedColumns() const {
        return "(frequency, Dk, " + ColumnName(2) + ")";
    }

    void Line(int lineNo, std::string_view raw, std::string_view content) {
        const bool first = !m_seenContent;
        const bool header = first && LooksLikeHeader(content);
        if (first) {
            m_seenContent = true;
            m_layout = DetectLayout(content, header);
            m_table.format = LayoutName(m_layout);
        }
        const std::vector<std::string_view> fields = SplitFields(content, m_layout);
        if (header && !fields.empty() && !ParseNumber(fields[0])) {
            Header(lineNo, raw, fields);
            return;
        }
        if (fields.size() != kColumns) {
            std::string reason = "expected " + std::to_string(kColumns) + " values " +
                                 ExpectedColumns() + ", found " + std::to_string(fields.size());
            if (m_layout == Layout::kComma && fields.size() > kColumns)
                reason += " (decimal commas need a semicolon between the columns)";
            Fail(lineNo, reason, raw);
        }
        double v[kColumns];
        for (std::size_t i = 0; i < kColumns; ++i) {
            const std::string name = ColumnName(i);
            if (fields[i].empty()) Fail(lineNo, "empty " + name + " field", raw);
            const std::optional<double> x = ParseField(fields[i]);
            if (!x) {
                std::string reason = name + " " + Quote(fields[i]) + " is not a number";
                if (m_layout == Layout::kWhitespace && fields[i].find(',') != std::string_view::npos)
                    reason += " (use a decimal point)";
                Fail(lineNo, reason, raw);
            }
            if (!std::isfinite(*x))
                Fail(lineNo, name + " " + Quote(fields[i]) + " is not a finite number", raw);
            v[i] = *x;
        }
        if (v[0] < 0.0) Fail(lineNo, "frequency " + Quote(fields[0]) + " is negative", raw);
        if (v[1] < 1.0) Fail(lineNo, "Dk " + Quote(fields[1]) + " is below 1", raw);
        if (v[2] < 0.0) Fail(lineNo, ColumnName(2) + " " + Quote(fields[2]) + " is negative", raw);

        m_table.freq.push_back(v[0] * m_table.freqUnit.hertz);
        m_table.dk.push_back(v[1]);
        m_table.loss.push_back(v[2]);
        m_table.line.push_back(lineNo);
        m_rawFreq.emplace_back(fields[0]);
        m_rawLines.emplace_back(Shorten(raw));
    }

    std::optional<double> ParseField(std::string_view field) const {
        if (m_layout == Layout::kSemicolon && field.find('.') == std::string_view::npos &&
            std::count(field.begin(), field.end(), ',') == 1) {
            std::string dotted(field);
            dotted[dotted.find(',')] = '.';
            return ParseNumber(dotted);
        }
        return ParseNumber(field);
    }

    void Header(int lineNo, std::string_view raw, const std::vector<std::string_view>& fields) {
        std::string freqName;
        std::string rest;
        if (m_layout == Layout::kWhitespace) {
            // Blank-separated names cannot be told from blanks inside a name;
            // take "Frequency (GHz)" or "Frequency[GHz]" as the first column.
            freqName = std::string(fields[0]);
            std::size_t next = 1;
            if (fields.size() > 1 && (fields[1].front() == '(' || fields[1].front() == '['))
                freqName += " " + std::string(fields[next++]);
            for (; next < fields.size(); ++next) rest += std::string(fields[next]) + " ";
        } else {
            if (fields.size() != kColumns)
                Fail(lineNo, "expected " + std::to_string(kColumns) + " columns " +
                                 ExpectedColumns() + " in the header, found " +
                                 std::to_string(fields.size()),
                     raw);
            freqName = std::string(fields[0]);
            rest = std::string(fields[2]);
        }
        for (std::string_view f : fields) m_table.header.emplace_back(f);

        std::optional<FrequencyUnit> unit;
        for (const std::string& w : Words(freqName)) {
            if ((unit = UnitFromWord(w))) break;
        }
        if (!unit) {
            // "(rad/s)" or "[1/s]": a unit we do not know is not silently hertz.
            const std::size_t open = freqName.find_first_of("([");
            if (open != std::string::npos) {
                const std::size_t close = freqName.find_first_of(")]", open);
                const std::string inner = freqName.substr(
                    open + 1, close == std::string::npos ? std::string::npos : close - open - 1);
                Fail(lineNo, "unknown frequency unit \"" + inner +
                                 "\" in the header (use Hz, kHz, MHz, GHz or THz)",
                     raw);
            }
        }
        if (unit) {
            if (!m_options.freqUnit.empty() && unit->name != m_table.freqUnit.name)
                Fail(lineNo, "the header gives the frequency in " + unit->name + ", not " +
                                 m_table.freqUnit.name + " as requested",
                     raw);
            m_table.freqUnit = *unit;
        }

        const LossKind named = LossKindFromName(rest);
        if (named != LossKind::kUnspecified) {
            if (m_options.lossKind != LossKind::kUnspecified && named != m_options.lossKind)
                Fail(lineNo, std::string("the header names a ") + LossName(named) +
                                 " column, but a " + LossName(m_options.lossKind) +
                                 " was requested",
                     raw);
            m_table.lossKind = named;
        }
    }

    void CheckConductivityFrequencies() const {
        if (m_table.lossKind != LossKind::kConductivity) return;
        for (std::size_t i = 0; i < m_table.freq.size(); ++i)
            if (m_table.freq[i] == 0.0)
                Fail(m_table.line[i],
                     "frequency " + Quote(m_rawFreq[i]) +
                         " with a conductivity gives no finite loss tangent",
                     m_rawLines[i]);
    }

    void SortAndCheckDuplicates() {
        const std::size_t n = m_table.freq.size();
        std::vector<std::size_t> order(n);
        std::iota(order.begin(), order.end(), std::size_t{0});
        std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
            return m_table.freq[a] < m_table.freq[b];
        });
        for (std::size_t k = 1; k < n; ++k) {
            const std::size_t a = order[k - 1], b = order[k];
            if (m_table.freq[a] == m_table.freq[b]) {
                const std::size_t later = std::max(a, b), earlier = std::min(a, b);
                Fail(m_table.line[later],
                     "frequency " + Quote(m_rawFreq[later]) + " occurs twice (also on line " +
                         std::to_string(m_table.line[earlier]) + ")",
                     m_rawLines[later]);
            }
        }
        m_table.reordered = !std::is_sorted(order.begin(), order.end());
        if (!m_table.reordered) return;
        auto permute = [&](auto& v) {
            auto copy = v;
            for (std::size_t k = 0; k < n; ++k) v[k] = copy[order[k]];
        };
        permute(m_table.freq);
        permute(m_table.dk);
        permute(m_table.loss);
        permute(m_table.line);
    }

    std::string_view m_text;
    const std::string& m_path;
    const ReadOptions& m_options;
    MaterialTable m_table;
    Layout m_layout = Layout::kWhitespace;
    bool m_seenContent = false;
    std::vector<std::string> m_rawFreq;   // as written, for messages
    std::vector<std::string> m_rawLines;  // shortened, for messages
};

}  // namespace

MaterialFileError::MaterialFileError(std::string path, int line, std::string reason,
                                     std::string text)
    : std::runtime_error(ComposeMessage(path, line, reason, text)),
      m_path(std::move(path)),
      m_line(line),
      m_reason(std::move(reason)),
      m_text(std::move(text)) {}

MaterialTable ParseMaterialText(std::string_view text, const std::string& path,
                                const ReadOptions& options, std::size_t minSamples) {
    return Reader(text, path, options).Read(minSamples);
}

namespace {

std::string ReadAll(std::FILE* file, const std::string& path) {
    std::string text;
    char buffer[1 << 14];
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, got);
    if (std::ferror(file)) throw MaterialFileError(path, 0, "cannot be read", {});
    return text;
}

}  // namespace

MaterialTable ReadMaterialFile(const std::string& path, const ReadOptions& options,
                               std::size_t minSamples) {
    if (path == kStandardInput) return ParseMaterialText(ReadAll(stdin, "stdin"), "stdin", options, minSamples);
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec))
        throw MaterialFileError(path, 0, "is a directory, not a material file", {});
    errno = 0;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"),
                                                         &std::fclose);
    if (!file) {
        const int err = errno;
        throw MaterialFileError(path, 0,
                                std::string("cannot open: ") +
                                    (err != 0 ? std::strerror(err) : "unknown error"),
                                {});
    }
    return ParseMaterialText(ReadAll(file.get(), path), path, options, minSamples);
}

}  // namespace matmodel
