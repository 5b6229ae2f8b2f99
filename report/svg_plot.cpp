// SVG rendering of a model report, built as an XML tree (pugixml) so that
// escaping and nesting are the library's business, not string concatenation's.
#include "report/svg_plot.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <filesystem>
#include <initializer_list>
#include <limits>
#include <utility>
#include <vector>

#include <pugixml.hpp>

#include "io/number_text.h"

namespace matmodel {
namespace {

// Page geometry in SVG user units (pixels at 100 % zoom).
constexpr double kWidth = 960.0;
constexpr double kHeight = 740.0;
constexpr double kLeft = 96.0;
constexpr double kRight = kWidth - 28.0;
constexpr double kDkTop = 112.0;
constexpr double kPanelHeight = 255.0;
constexpr double kPanelGap = 34.0;
constexpr double kDfTop = kDkTop + kPanelHeight + kPanelGap;

constexpr double kCurvePointsPerDecade = 80.0;
// A log axis wider than this hides the data in a corner; the curve is clipped.
constexpr double kMaxDfDecades = 9.0;

// Markers: full size with a white rim while they stand apart; see MarkerStyle.
constexpr double kMarkerRadius = 3.8;
constexpr double kMinMarkerRadius = 1.5;

constexpr char kFitLineWidth[] = "2.2";
constexpr char kCausalLineWidth[] = "1.2";

constexpr char kFont[] = "DejaVu Sans, Helvetica, Arial, sans-serif";
constexpr char kMeasuredColour[] = "#1f5fa6";
constexpr char kCausalColour[] = "#2a9d55";
constexpr char kFitColour[] = "#d1492e";
constexpr char kGridMajor[] = "#dcdcdc";
constexpr char kGridMinor[] = "#efefef";
constexpr char kBandColour[] = "#f2f6fb";
constexpr char kInk[] = "#222222";
constexpr char kMuted[] = "#555555";
constexpr char kAlarm[] = "#c00000";

constexpr char kMinus[] = "\xE2\x88\x92";  // U+2212, reads better than a hyphen
constexpr char kTimes[] = "\xC3\x97";
constexpr char kDot[] = "  \xC2\xB7  ";

std::string Num(double v) { return FormatFixed(v, 2); }

std::string TypographicMinus(std::string s) {
    if (!s.empty() && s[0] == '-') s.replace(0, 1, kMinus);
    return s;
}

using Attributes = std::initializer_list<std::pair<const char*, std::string>>;

// A child element with its attributes and, optionally, text.
pugi::xml_node Add(pugi::xml_node parent, const char* name, Attributes attributes,
                   const std::string& text = {}) {
    pugi::xml_node node = parent.append_child(name);
    for (const auto& [key, value] : attributes) node.append_attribute(key).set_value(value.c_str());
    if (!text.empty()) node.append_child(pugi::node_pcdata).set_value(text.c_str());
    return node;
}

void AddText(pugi::xml_node parent, const std::string& text) {
    parent.append_child(pugi::node_pcdata).set_value(text.c_str());
}

// Axis label text, with an optional superscript exponent at its end ("10⁻⁵").
struct Label {
    std::string text;
    std::string exponent;
};

void AddLabel(pugi::xml_node parent, const Label& label) {
    AddText(parent, label.text);
    if (!label.exponent.empty())
        Add(parent, "tspan", {{"dy", "-0.55em"}, {"font-size", "72%"}}, label.exponent);
}

Label PowerOfTen(const std::string& mantissa, int exponent) {
    return {mantissa + "10", TypographicMinus(std::to_string(exponent))};
}

struct Axis {
    double lo, hi;  // data units (log10 of the value for a log axis)
    double p0, p1;  // pixel positions of lo and hi
    double Map(double v) const { return p0 + (v - lo) / (hi - lo) * (p1 - p0); }
};

struct Tick {
    double value;  // data units (log10 for a log axis)
    bool major;
    bool labelled;
    Label label;
};

// 1, 2 or 5 times a power of ten, about `target` steps over the range.
double NiceStep(double range, int target) {
    const double raw = range / target;
    const double mag = std::pow(10.0, std::floor(std::log10(raw)));
    const double f = raw / mag;
    return (f < 1.5 ? 1.0 : f < 3.5 ? 2.0 : f < 7.5 ? 5.0 : 10.0) * mag;
}

// Ticks of a logarithmic axis over [lo, hi] (log10 units). `decadeLabel`
// writes the label of a power of ten, `plainLabel` that of m times one.
template <typename DecadeLabel, typename PlainLabel>
std::vector<Tick> LogTicks(double lo, double hi, DecadeLabel decadeLabel, PlainLabel plainLabel) {
    std::vector<Tick> ticks;
    const double span = hi - lo;
    // Label every decade, or every second or third when there are many.
    const int every = span > 20 ? 4 : span > 13 ? 3 : span > 8 ? 2 : 1;
    const bool minorGrid = span <= 5;
    // Within two decades the decades alone are too few labels.
    const std::vector<int> minorLabels =
        span < 0.8 ? std::vector<int>{2, 3, 4, 5, 6, 7, 8, 9}
                   : span < 2.2 ? std::vector<int>{2, 5} : std::vector<int>{};
    for (int e = static_cast<int>(std::floor(lo)) - 1; e <= static_cast<int>(std::ceil(hi)); ++e) {
        for (int m = 1; m <= 9; ++m) {
            const double v = e + std::log10(static_cast<double>(m));
            if (v < lo - 1e-9 || v > hi + 1e-9) continue;
            if (m == 1) {
                const bool lab = ((e % every) + every) % every == 0;
                ticks.push_back({v, true, lab, lab ? decadeLabel(e) : Label{}});
            } else if (minorGrid) {
                const bool lab =
                    std::find(minorLabels.begin(), minorLabels.end(), m) != minorLabels.end();
                ticks.push_back({v, false, lab, lab ? plainLabel(m, e) : Label{}});
            }
        }
    }
    return ticks;
}

Label FrequencyLabel(double hertz) { return {FormatFrequency(hertz, 3), {}}; }

// How the samples are drawn, from how close neighbours sit on the page.
// Apart, they are round markers with a white rim that separates them from the
// curve, and the causal Dk is a diamond at each. Once neighbouring markers
// overlap (a few hundred samples per decade), each rim paints over its
// neighbours' fill and the series washes out to a pale band. So a dense
// series loses the rim; its markers shrink with the spacing, down to a dot
// that still reads at 100 % zoom, and stay dark where they pile up; the causal
// Dk, computed rather than measured, becomes a thin line where thousands of
// diamonds would be one green smear; and the model curve goes over both rather
// than under, or they would hide it.
struct MarkerStyle {
    double radius = kMarkerRadius;
    bool dense = false;
};

MarkerStyle StyleForSpacing(double spacing) {
    // Markers overlap when they sit closer than their diameter.
    if (spacing >= 2.0 * kMarkerRadius) return {};
    return {std::clamp(0.45 * spacing + 1.0, kMinMarkerRadius, kMarkerRadius), true};
}

class Plot {
public:
    explicit Plot(const ModelReport& r) : m_r(r) {}

    std::string Render() {
        ComputeCurve();
        pugi::xml_document doc;
        pugi::xml_node decl = doc.append_child(pugi::node_declaration);
        decl.append_attribute("version").set_value("1.0");
        decl.append_attribute("encoding").set_value("UTF-8");
        m_svg = Add(doc, "svg",
                    {{"xmlns", "http://www.w3.org/2000/svg"},
                     {"width", Num(kWidth)},
                     {"height", Num(kHeight)},
                     {"viewBox", "0 0 " + Num(kWidth) + " " + Num(kHeight)},
                     {"font-family", kFont}});
        Header();
        Legend();
        DkPanel();
        DfPanel();
        FrequencyAxisLabels();

        struct Writer : pugi::xml_writer {
            std::string out;
            void write(const void* data, std::size_t size) override {
                out.append(static_cast<const char*>(data), size);
            }
        } writer;
        // One element a line, unindented; control characters have no place in
        // XML 1.0 and are left out of the text.
        doc.save(writer, "", pugi::format_indent | pugi::format_skip_control_chars,
                 pugi::encoding_utf8);
        return std::move(writer.out);
    }

private:
    struct CurvePoint {
        double logFreq;
        double dk;
        double df;
    };

    void ComputeCurve() {
        double fMin = std::numeric_limits<double>::infinity(), fMax = 0.0;
        for (const SampleRow& row : m_r.rows)
            if (row.freq > 0.0) {
                fMin = std::min(fMin, row.freq);
                fMax = std::max(fMax, row.freq);
            }
        if (!(fMin <= fMax)) fMin = fMax = 1.0;
        m_bandLo = std::log10(fMin);
        m_bandHi = std::log10(fMax);
        // At least a decade beyond the samples, out to whole decades.
        const double lo = std::floor(m_bandLo - 1.0);
        const double hi = std::ceil(m_bandHi + 1.0);
        m_x = {lo, hi, kLeft, kRight};

        const auto n = static_cast<std::size_t>(std::ceil((hi - lo) * kCurvePointsPerDecade));
        for (std::size_t i = 0; i <= n; ++i) {
            const double lf = lo + (hi - lo) * static_cast<double>(i) / static_cast<double>(n);
            const std::complex<double> eps = EvaluateModel(m_r, std::pow(10.0, lf));
            m_curve.push_back({lf, eps.real(), -eps.imag() / eps.real()});
        }

        // The median gap between neighbouring samples: a few close pairs in
        // a sparse table should not shrink every marker.
        std::vector<double> gaps;
        double previous = std::numeric_limits<double>::quiet_NaN();
        for (const SampleRow& row : m_r.rows) {
            if (row.freq <= 0.0) continue;
            const double px = m_x.Map(std::log10(row.freq));
            if (std::isfinite(previous)) gaps.push_back(std::fabs(px - previous));
            previous = px;
        }
        if (!gaps.empty()) {
            std::nth_element(gaps.begin(), gaps.begin() + gaps.size() / 2, gaps.end());
            m_marker = StyleForSpacing(gaps[gaps.size() / 2]);
        }
    }

    void Header() {
        const std::string name =
            m_r.input.point ? "single point (Dk " + FormatGeneral(m_r.input.point->dk, 6) +
                                  ", Df " + FormatGeneral(m_r.input.point->df, 6) + " at " +
                                  FormatFrequency(m_r.input.point->freq) + ")"
                            : std::filesystem::path(m_r.input.source).filename().string();
        const std::string title = name + ": " + std::to_string(m_r.order) + "-pole Debye model";
        const std::string errors = "max error Dk " + FormatPercent(m_r.dkError.relative) +
                                   ", Df " + FormatPercent(m_r.dfError.relative) +
                                   " (fitted vs measured)";
        Add(m_svg, "title", {}, title + "; " + errors);
        Add(m_svg, "rect", {{"width", "100%"}, {"height", "100%"}, {"fill", "#ffffff"}});
        Add(m_svg, "text",
            {{"x", Num(kLeft)}, {"y", "34"}, {"font-size", "19"}, {"font-weight", "bold"},
             {"fill", kInk}},
            title);
        pugi::xml_node sub =
            Add(m_svg, "text",
                {{"x", Num(kLeft)}, {"y", "58"}, {"font-size", "13.5"}, {"fill", kMuted}},
                errors + kDot);
        if (m_r.passivity.passive)
            AddText(sub, "passive");
        else
            Add(sub, "tspan", {{"fill", kAlarm}, {"font-weight", "bold"}}, "NOT passive");
        std::string tail =
            std::string(kDot) + "\xCE\xB5\xE2\x88\x9E = " + FormatGeneral(m_r.epsInf, 5);
        if (m_r.causalReconstruction) tail += std::string(kDot) + "Dk made causal before the fit";
        AddText(sub, tail);
    }

    void Legend() {
        double x = kLeft;
        const double y = 86.0;
        pugi::xml_node g =
            Add(m_svg, "g", {{"class", "legend"}, {"font-size", "13"}, {"fill", kInk}});
        auto label = [&](const std::string& text) {
            Add(g, "text", {{"x", Num(x + 24)}, {"y", Num(y + 4.5)}}, text);
            x += 24 + 7.3 * static_cast<double>(text.size()) + 26;
        };
        // Full-size symbols: the plot's smallest dots would not read here.
        Marker(g, x + 10, y, {4.0, m_marker.dense});
        label("measured");
        if (m_r.causalReconstruction) {
            if (m_marker.dense)
                Add(g, "line",
                    {{"x1", Num(x)}, {"y1", Num(y)}, {"x2", Num(x + 20)}, {"y2", Num(y)},
                     {"stroke", kCausalColour}, {"stroke-width", kCausalLineWidth}});
            else
                Diamond(g, x + 10, y, 4.5);
            label("causal Dk (Kramers-Kronig)");
        }
        Add(g, "line",
            {{"x1", Num(x)}, {"y1", Num(y)}, {"x2", Num(x + 20)}, {"y2", Num(y)},
             {"stroke", kFitColour}, {"stroke-width", kFitLineWidth}});
        label("fitted model");
        Add(g, "rect",
            {{"x", Num(x)}, {"y", Num(y - 7)}, {"width", "20"}, {"height", "14"},
             {"fill", kBandColour}, {"stroke", "#c9d6e6"}});
        label("measured band");
    }

    static void Marker(pugi::xml_node parent, double x, double y, MarkerStyle style) {
        pugi::xml_node c = Add(parent, "circle",
                               {{"cx", Num(x)}, {"cy", Num(y)}, {"r", Num(style.radius)},
                                {"fill", kMeasuredColour}});
        if (!style.dense) {
            c.append_attribute("stroke").set_value("#ffffff");
            c.append_attribute("stroke-width").set_value("0.8");
        }
    }

    static void Diamond(pugi::xml_node parent, double x, double y, double r) {
        Add(parent, "path",
            {{"d", "M" + Num(x) + " " + Num(y - r) + "L" + Num(x + r) + " " + Num(y) + "L" +
                       Num(x) + " " + Num(y + r) + "L" + Num(x - r) + " " + Num(y) + "Z"},
             {"fill", "none"},
             {"stroke", kCausalColour},
             {"stroke-width", "1.3"}});
    }

    // Shared frame of a panel: band, grid, and the clip path for its curve.
    pugi::xml_node OpenPanel(const std::string& id, const Axis& y,
                             const std::vector<Tick>& yTicks) {
        const double top = std::min(y.p0, y.p1), bottom = std::max(y.p0, y.p1);
        pugi::xml_node g = Add(m_svg, "g", {{"class", "panel"}, {"id", "panel-" + id}});
        Add(Add(g, "clipPath", {{"id", "clip-" + id}}), "rect",
            {{"x", Num(kLeft)}, {"y", Num(top)}, {"width", Num(kRight - kLeft)},
             {"height", Num(bottom - top)}});
        const double b0 = m_x.Map(m_bandLo), b1 = m_x.Map(m_bandHi);
        Add(g, "rect",
            {{"x", Num(b0)}, {"y", Num(top)}, {"width", Num(std::max(1.0, b1 - b0))},
             {"height", Num(bottom - top)}, {"fill", kBandColour}});
        for (const Tick& t : m_xTicks) {
            const std::string px = Num(m_x.Map(t.value));
            Add(g, "line",
                {{"x1", px}, {"y1", Num(top)}, {"x2", px}, {"y2", Num(bottom)},
                 {"stroke", t.major ? kGridMajor : kGridMinor}});
        }
        for (const Tick& t : yTicks) {
            const double py = y.Map(t.value);
            Add(g, "line",
                {{"x1", Num(kLeft)}, {"y1", Num(py)}, {"x2", Num(kRight)}, {"y2", Num(py)},
                 {"stroke", t.major ? kGridMajor : kGridMinor}});
            if (t.labelled)
                AddLabel(Add(g, "text",
                             {{"x", Num(kLeft - 8)}, {"y", Num(py + 4.5)}, {"font-size", "12.5"},
                              {"text-anchor", "end"}, {"fill", kInk}}),
                         t.label);
        }
        return g;
    }

    void ClosePanel(pugi::xml_node g, const std::string& axisTitle, const Axis& y) {
        const double top = std::min(y.p0, y.p1), bottom = std::max(y.p0, y.p1);
        // Tick marks on the frame, outward, at every decade.
        for (const Tick& t : m_xTicks) {
            if (!t.major) continue;
            const std::string px = Num(m_x.Map(t.value));
            Add(g, "line",
                {{"x1", px}, {"y1", Num(bottom)}, {"x2", px}, {"y2", Num(bottom + 5)},
                 {"stroke", kInk}});
        }
        Add(g, "rect",
            {{"x", Num(kLeft)}, {"y", Num(top)}, {"width", Num(kRight - kLeft)},
             {"height", Num(bottom - top)}, {"fill", "none"}, {"stroke", "#444444"},
             {"stroke-width", "1"}});
        Add(g, "text",
            {{"transform",
              "translate(" + Num(26) + " " + Num((top + bottom) / 2) + ") rotate(-90)"},
             {"text-anchor", "middle"}, {"font-size", "14"}, {"fill", kInk}},
            axisTitle);
    }

    // A path through (log10 f, value) points, broken where a value cannot be
    // drawn (not finite, or not positive on a log axis).
    template <typename Points>
    std::string PathThrough(const Axis& y, bool logValue, const Points& points) const {
        std::string d;
        bool pen = false;
        for (auto [logFreq, v] : points) {
            if (logValue) v = v > 0.0 ? std::log10(v) : std::numeric_limits<double>::quiet_NaN();
            if (!std::isfinite(v) || !std::isfinite(logFreq)) {
                pen = false;
                continue;
            }
            // Keep far-off points finite for the renderer; the clip hides them.
            const double py = std::clamp(y.Map(v), -1e4, 1e4);
            d += (pen ? "L" : "M") + Num(m_x.Map(logFreq)) + " " + Num(py);
            pen = true;
        }
        return d;
    }

    std::string CurvePath(const Axis& y, bool logValue, double CurvePoint::*field) const {
        std::vector<std::pair<double, double>> points;
        for (const CurvePoint& c : m_curve) points.emplace_back(c.logFreq, c.*field);
        return PathThrough(y, logValue, points);
    }

    // `what` names the line in its class: "model" or "causal".
    void DrawLine(pugi::xml_node g, const std::string& id, const std::string& d, const char* what,
                  const char* colour, const char* width) {
        if (d.empty()) return;
        Add(g, "path",
            {{"class", what}, {"clip-path", "url(#clip-" + id + ")"}, {"d", d}, {"fill", "none"},
             {"stroke", colour}, {"stroke-width", width}, {"stroke-linejoin", "round"}});
    }

    // Samples and curve in the order that keeps both visible (MarkerStyle).
    template <typename DrawSamples>
    void CurveAndSamples(pugi::xml_node g, const std::string& id, const std::string& d,
                         DrawSamples drawSamples) {
        if (!m_marker.dense) DrawLine(g, id, d, "model", kFitColour, kFitLineWidth);
        drawSamples();
        if (m_marker.dense) DrawLine(g, id, d, "model", kFitColour, kFitLineWidth);
    }

    void DkPanel() {
        m_xTicks = LogTicks(
            m_x.lo, m_x.hi, [](int e) { return FrequencyLabel(std::pow(10.0, e)); },
            [](int m, int e) { return FrequencyLabel(m * std::pow(10.0, e)); });

        double lo = std::numeric_limits<double>::infinity(), hi = -lo;
        auto take = [&](double v) {
            if (std::isfinite(v)) {
                lo = std::min(lo, v);
                hi = std::max(hi, v);
            }
        };
        for (const SampleRow& row : m_r.rows) {
            take(row.dkMeasured);
            take(row.dkCausal);
        }
        for (const CurvePoint& c : m_curve) take(c.dk);
        if (!(lo <= hi)) lo = hi = 1.0;
        // A flat Dk still gets a readable scale.
        const double minRange = std::max(1e-3, 0.01 * std::fabs(hi));
        if (hi - lo < minRange) {
            const double mid = (hi + lo) / 2;
            lo = mid - minRange / 2;
            hi = mid + minRange / 2;
        }
        const double pad = 0.08 * (hi - lo);
        lo -= pad;
        hi += pad;
        const double step = NiceStep(hi - lo, 6);
        const Axis y{lo, hi, kDkTop + kPanelHeight, kDkTop};

        std::vector<Tick> ticks;
        const int decimals = std::max(0, -static_cast<int>(std::floor(std::log10(step) + 1e-9)));
        for (double v = std::ceil(lo / step) * step; v <= hi + 1e-9 * step; v += step)
            ticks.push_back({v, true, true, {TypographicMinus(FormatFixed(v, decimals)), {}}});

        pugi::xml_node g = OpenPanel("dk", y, ticks);
        CurveAndSamples(g, "dk", CurvePath(y, false, &CurvePoint::dk), [&] {
            for (const SampleRow& row : m_r.rows) {
                if (row.freq <= 0.0) continue;
                const double px = m_x.Map(std::log10(row.freq));
                if (m_r.causalReconstruction && !m_marker.dense)
                    Diamond(g, px, y.Map(row.dkCausal), m_marker.radius + 1.0);
                Marker(g, px, y.Map(row.dkMeasured), m_marker);
            }
            if (m_r.causalReconstruction && m_marker.dense) {
                std::vector<std::pair<double, double>> causal;
                for (const SampleRow& row : m_r.rows)
                    if (row.freq > 0.0) causal.emplace_back(std::log10(row.freq), row.dkCausal);
                DrawLine(g, "dk", PathThrough(y, false, causal), "causal", kCausalColour,
                         kCausalLineWidth);
            }
        });
        ClosePanel(g, "Dk (relative permittivity)", y);
    }

    void DfPanel() {
        double lo = std::numeric_limits<double>::infinity(), hi = -lo;
        auto take = [&](double v) {
            if (v > 0.0 && std::isfinite(v)) {
                lo = std::min(lo, std::log10(v));
                hi = std::max(hi, std::log10(v));
            }
        };
        for (const SampleRow& row : m_r.rows) take(row.dfMeasured);
        const double dataLo = lo;
        for (const CurvePoint& c : m_curve) take(c.df);
        if (!(lo <= hi)) lo = hi = -2.0;
        // The model's loss falls off without bound outside the band; show
        // what the samples need and a few decades more, not the whole fall.
        lo = std::max(lo, std::min(dataLo, hi) - 3.0);
        lo = std::max(lo, hi - kMaxDfDecades);
        const double pad = std::max(0.06 * (hi - lo), 0.05);
        lo -= pad;
        hi += pad;
        const Axis y{lo, hi, kDfTop + kPanelHeight, kDfTop};

        const std::vector<Tick> ticks = LogTicks(
            lo, hi,
            [&](int e) {
                // Plain decimals read best near Df's usual 1e-4 .. 1.
                if (e >= -4 && e <= 3 && hi - lo < 5)
                    return Label{TypographicMinus(FormatGeneral(std::pow(10.0, e), 3)), {}};
                return PowerOfTen("", e);
            },
            [](int m, int e) {
                if (e < -4) return PowerOfTen(std::to_string(m) + kTimes, e);  // "5×10⁻⁵"
                return Label{TypographicMinus(FormatGeneral(m * std::pow(10.0, e), 3)), {}};
            });

        pugi::xml_node g = OpenPanel("df", y, ticks);
        CurveAndSamples(g, "df", CurvePath(y, true, &CurvePoint::df), [&] {
            for (const SampleRow& row : m_r.rows) {
                if (row.freq <= 0.0 || !(row.dfMeasured > 0.0)) continue;
                Marker(g, m_x.Map(std::log10(row.freq)), y.Map(std::log10(row.dfMeasured)),
                       m_marker);
            }
        });
        if (!m_r.passivity.passive) {
            // Negative loss has no place on a log axis: say where it is instead.
            Add(g, "text",
                {{"x", Num(kRight - 10)}, {"y", Num(kDfTop + kPanelHeight - 10)},
                 {"font-size", "12.5"}, {"text-anchor", "end"}, {"fill", kAlarm}},
                "gain: Df down to " + FormatGeneral(m_r.passivity.minDf, 3) + " at " +
                    FormatFrequency(m_r.passivity.minDfFreq) + " (not drawn)");
        }
        ClosePanel(g, "Df (loss tangent, log scale)", y);
    }

    void FrequencyAxisLabels() {
        const double base = kDfTop + kPanelHeight;
        for (const Tick& t : m_xTicks) {
            if (!t.labelled) continue;
            AddLabel(Add(m_svg, "text",
                         {{"x", Num(m_x.Map(t.value))}, {"y", Num(base + 21)},
                          {"font-size", "12.5"}, {"text-anchor", "middle"}, {"fill", kInk}}),
                     t.label);
        }
        Add(m_svg, "text",
            {{"x", Num((kLeft + kRight) / 2)}, {"y", Num(base + 48)}, {"font-size", "14"},
             {"text-anchor", "middle"}, {"fill", kInk}},
            "Frequency (log scale)");
    }

    const ModelReport& m_r;
    pugi::xml_node m_svg;
    Axis m_x{0, 1, 0, 1};
    double m_bandLo = 0.0, m_bandHi = 0.0;
    MarkerStyle m_marker;
    std::vector<CurvePoint> m_curve;
    std::vector<Tick> m_xTicks;
};

}  // namespace

std::string RenderSvgPlot(const ModelReport& report) { return Plot(report).Render(); }

}  // namespace matmodel
