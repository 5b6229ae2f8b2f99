// SVG rendering of a model report.
#include "report/svg_plot.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <filesystem>
#include <limits>
#include <vector>

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

constexpr char kFont[] = "DejaVu Sans, Helvetica, Arial, sans-serif";
constexpr char kMeasuredColour[] = "#1f5fa6";
constexpr char kCausalColour[] = "#2a9d55";
constexpr char kFitColour[] = "#d1492e";
constexpr char kGridMajor[] = "#dcdcdc";
constexpr char kGridMinor[] = "#efefef";
constexpr char kBandColour[] = "#f2f6fb";
constexpr char kInk[] = "#222222";
constexpr char kMuted[] = "#555555";

std::string Num(double v) { return FormatFixed(v, 2); }

std::string Escape(const std::string& s) {
    std::string out;
    for (char c : s) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&apos;"; break;
            default:
                // XML 1.0 allows no control characters but these three.
                if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r')
                    out += '?';
                else
                    out += c;
        }
    }
    return out;
}

// U+2212 MINUS SIGN reads better than a hyphen in axis labels.
std::string TypographicMinus(std::string s) {
    if (!s.empty() && s[0] == '-') s.replace(0, 1, "\xE2\x88\x92");
    return s;
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
    std::string label;  // SVG text content, already escaped
};

// 1, 2 or 5 times a power of ten, about `target` steps over the range.
double NiceStep(double range, int target) {
    const double raw = range / target;
    const double mag = std::pow(10.0, std::floor(std::log10(raw)));
    const double f = raw / mag;
    return (f < 1.5 ? 1.0 : f < 3.5 ? 2.0 : f < 7.5 ? 5.0 : 10.0) * mag;
}

std::string Superscript(const std::string& base, int exponent) {
    return base + "<tspan dy=\"-0.55em\" font-size=\"72%\">" +
           TypographicMinus(std::to_string(exponent)) + "</tspan>";
}

// Ticks of a logarithmic axis over [lo, hi] (log10 units). `decadeLabel`
// writes the label of a power of ten.
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
                ticks.push_back({v, true, lab, lab ? decadeLabel(e) : std::string()});
            } else if (minorGrid) {
                const bool lab =
                    std::find(minorLabels.begin(), minorLabels.end(), m) != minorLabels.end();
                ticks.push_back({v, false, lab, lab ? plainLabel(m, e) : std::string()});
            }
        }
    }
    return ticks;
}

std::string FrequencyLabel(double hertz) { return Escape(FormatFrequency(hertz, 3)); }

class Plot {
public:
    explicit Plot(const ModelReport& r) : m_r(r) {}

    std::string Render() {
        ComputeCurve();
        Header();
        Legend();
        DkPanel();
        DfPanel();
        FrequencyAxisLabels();
        m_out += "</svg>\n";
        return std::move(m_out);
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
        m_out += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
        m_out += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + Num(kWidth) +
                 "\" height=\"" + Num(kHeight) + "\" viewBox=\"0 0 " + Num(kWidth) + " " +
                 Num(kHeight) + "\" font-family=\"" + kFont + "\">\n";
        m_out += "<title>" + Escape(title + "; " + errors) + "</title>\n";
        m_out += "<rect width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>\n";
        m_out += "<text x=\"" + Num(kLeft) + "\" y=\"34\" font-size=\"19\" font-weight=\"bold\" fill=\"" +
                 kInk + "\">" + Escape(title) + "</text>\n";
        std::string sub = Escape(errors) + "  \xC2\xB7  ";
        sub += m_r.passivity.passive
                   ? std::string("passive")
                   : std::string("<tspan fill=\"#c00000\" font-weight=\"bold\">NOT passive</tspan>");
        sub += "  \xC2\xB7  \xCE\xB5\xE2\x88\x9E = " + Escape(FormatGeneral(m_r.epsInf, 5));
        if (m_r.causalReconstruction) sub += "  \xC2\xB7  Dk made causal before the fit";
        m_out += "<text x=\"" + Num(kLeft) + "\" y=\"58\" font-size=\"13.5\" fill=\"" + kMuted +
                 "\">" + sub + "</text>\n";
    }

    void Legend() {
        double x = kLeft;
        const double y = 86.0;
        m_out += "<g class=\"legend\" font-size=\"13\" fill=\"" + std::string(kInk) + "\">\n";
        auto label = [&](const std::string& text) {
            m_out += "<text x=\"" + Num(x + 24) + "\" y=\"" + Num(y + 4.5) + "\">" + text +
                     "</text>\n";
            x += 24 + 7.3 * static_cast<double>(text.size()) + 26;
        };
        m_out += Marker(x + 10, y, 4.0);
        label("measured");
        if (m_r.causalReconstruction) {
            m_out += Diamond(x + 10, y, 4.5);
            label("causal Dk (Kramers-Kronig)");
        }
        m_out += "<line x1=\"" + Num(x) + "\" y1=\"" + Num(y) + "\" x2=\"" + Num(x + 20) +
                 "\" y2=\"" + Num(y) + "\" stroke=\"" + kFitColour + "\" stroke-width=\"2.2\"/>\n";
        label("fitted model");
        m_out += "<rect x=\"" + Num(x) + "\" y=\"" + Num(y - 7) +
                 "\" width=\"20\" height=\"14\" fill=\"" + kBandColour +
                 "\" stroke=\"#c9d6e6\"/>\n";
        label("measured band");
        m_out += "</g>\n";
    }

    static std::string Marker(double x, double y, double r) {
        return "<circle cx=\"" + Num(x) + "\" cy=\"" + Num(y) + "\" r=\"" + Num(r) + "\" fill=\"" +
               kMeasuredColour + "\" stroke=\"#ffffff\" stroke-width=\"0.8\"/>\n";
    }

    static std::string Diamond(double x, double y, double r) {
        return "<path d=\"M" + Num(x) + " " + Num(y - r) + "L" + Num(x + r) + " " + Num(y) + "L" +
               Num(x) + " " + Num(y + r) + "L" + Num(x - r) + " " + Num(y) +
               "Z\" fill=\"none\" stroke=\"" + kCausalColour + "\" stroke-width=\"1.3\"/>\n";
    }

    double MarkerRadius() const { return m_r.rows.size() > 120 ? 2.4 : 3.8; }

    // Shared frame of a panel: band, grid, and the clip path for its curve.
    void OpenPanel(const std::string& id, const Axis& y, const std::vector<Tick>& yTicks) {
        const double top = std::min(y.p0, y.p1), bottom = std::max(y.p0, y.p1);
        m_out += "<g class=\"panel\" id=\"panel-" + id + "\">\n";
        m_out += "<clipPath id=\"clip-" + id + "\"><rect x=\"" + Num(kLeft) + "\" y=\"" +
                 Num(top) + "\" width=\"" + Num(kRight - kLeft) + "\" height=\"" +
                 Num(bottom - top) + "\"/></clipPath>\n";
        const double b0 = m_x.Map(m_bandLo), b1 = m_x.Map(m_bandHi);
        m_out += "<rect x=\"" + Num(b0) + "\" y=\"" + Num(top) + "\" width=\"" +
                 Num(std::max(1.0, b1 - b0)) + "\" height=\"" + Num(bottom - top) + "\" fill=\"" +
                 kBandColour + "\"/>\n";
        for (const Tick& t : m_xTicks) {
            const double px = m_x.Map(t.value);
            m_out += "<line x1=\"" + Num(px) + "\" y1=\"" + Num(top) + "\" x2=\"" + Num(px) +
                     "\" y2=\"" + Num(bottom) + "\" stroke=\"" +
                     (t.major ? kGridMajor : kGridMinor) + "\"/>\n";
        }
        for (const Tick& t : yTicks) {
            const double py = y.Map(t.value);
            m_out += "<line x1=\"" + Num(kLeft) + "\" y1=\"" + Num(py) + "\" x2=\"" + Num(kRight) +
                     "\" y2=\"" + Num(py) + "\" stroke=\"" + (t.major ? kGridMajor : kGridMinor) +
                     "\"/>\n";
            if (t.labelled)
                m_out += "<text x=\"" + Num(kLeft - 8) + "\" y=\"" + Num(py + 4.5) +
                         "\" font-size=\"12.5\" text-anchor=\"end\" fill=\"" + kInk + "\">" +
                         t.label + "</text>\n";
        }
    }

    void ClosePanel(const std::string& axisTitle, const Axis& y) {
        const double top = std::min(y.p0, y.p1), bottom = std::max(y.p0, y.p1);
        // Tick marks on the frame, outward, at every labelled frequency.
        for (const Tick& t : m_xTicks) {
            if (!t.major) continue;
            const double px = m_x.Map(t.value);
            m_out += "<line x1=\"" + Num(px) + "\" y1=\"" + Num(bottom) + "\" x2=\"" + Num(px) +
                     "\" y2=\"" + Num(bottom + 5) + "\" stroke=\"" + kInk + "\"/>\n";
        }
        m_out += "<rect x=\"" + Num(kLeft) + "\" y=\"" + Num(top) + "\" width=\"" +
                 Num(kRight - kLeft) + "\" height=\"" + Num(bottom - top) +
                 "\" fill=\"none\" stroke=\"#444444\" stroke-width=\"1\"/>\n";
        const double cy = (top + bottom) / 2;
        m_out += "<text transform=\"translate(" + Num(26) + " " + Num(cy) +
                 ") rotate(-90)\" text-anchor=\"middle\" font-size=\"14\" fill=\"" + kInk + "\">" +
                 axisTitle + "</text>\n";
        m_out += "</g>\n";
    }

    // The curve as one path, broken where a value cannot be drawn.
    std::string CurvePath(const Axis& y, bool logValue, double CurvePoint::*field) const {
        std::string d;
        bool pen = false;
        for (const CurvePoint& c : m_curve) {
            double v = c.*field;
            if (logValue) v = v > 0.0 ? std::log10(v) : std::numeric_limits<double>::quiet_NaN();
            if (!std::isfinite(v)) {
                pen = false;
                continue;
            }
            // Keep far-off points finite for the renderer; the clip hides them.
            const double py = std::clamp(y.Map(v), -1e4, 1e4);
            d += (pen ? "L" : "M") + Num(m_x.Map(c.logFreq)) + " " + Num(py);
            pen = true;
        }
        return d;
    }

    void DrawCurve(const std::string& id, const std::string& d) {
        if (d.empty()) return;
        m_out += "<path clip-path=\"url(#clip-" + id + ")\" d=\"" + d + "\" fill=\"none\" stroke=\"" +
                 kFitColour + "\" stroke-width=\"2.2\" stroke-linejoin=\"round\"/>\n";
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
            ticks.push_back({v, true, true, TypographicMinus(FormatFixed(v, decimals))});

        OpenPanel("dk", y, ticks);
        DrawCurve("dk", CurvePath(y, false, &CurvePoint::dk));
        const double r = MarkerRadius();
        for (const SampleRow& row : m_r.rows) {
            if (row.freq <= 0.0) continue;
            const double px = m_x.Map(std::log10(row.freq));
            if (m_r.causalReconstruction) m_out += Diamond(px, y.Map(row.dkCausal), r + 1.0);
            m_out += Marker(px, y.Map(row.dkMeasured), r);
        }
        ClosePanel("Dk (relative permittivity)", y);
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
                    return TypographicMinus(FormatGeneral(std::pow(10.0, e), 3));
                return Superscript("10", e);
            },
            [](int m, int e) {
                if (e < -4) return std::to_string(m) + "\xC3\x97" + Superscript("10", e);  // "5×10⁻⁵"
                return TypographicMinus(FormatGeneral(m * std::pow(10.0, e), 3));
            });

        OpenPanel("df", y, ticks);
        DrawCurve("df", CurvePath(y, true, &CurvePoint::df));
        const double r = MarkerRadius();
        for (const SampleRow& row : m_r.rows) {
            if (row.freq <= 0.0 || !(row.dfMeasured > 0.0)) continue;
            const double py = y.Map(std::log10(row.dfMeasured));
            m_out += Marker(m_x.Map(std::log10(row.freq)), py, r);
        }
        if (!m_r.passivity.passive) {
            // Negative loss has no place on a log axis: say where it is instead.
            m_out += "<text x=\"" + Num(kRight - 10) + "\" y=\"" + Num(kDfTop + kPanelHeight - 10) +
                     "\" font-size=\"12.5\" text-anchor=\"end\" fill=\"#c00000\">" +
                     Escape("gain: Df down to " + FormatGeneral(m_r.passivity.minDf, 3) + " at " +
                            FormatFrequency(m_r.passivity.minDfFreq) + " (not drawn)") +
                     "</text>\n";
        }
        ClosePanel("Df (loss tangent, log scale)", y);
    }

    void FrequencyAxisLabels() {
        const double base = kDfTop + kPanelHeight;
        for (const Tick& t : m_xTicks) {
            if (!t.labelled) continue;
            m_out += "<text x=\"" + Num(m_x.Map(t.value)) + "\" y=\"" + Num(base + 21) +
                     "\" font-size=\"12.5\" text-anchor=\"middle\" fill=\"" + kInk + "\">" +
                     t.label + "</text>\n";
        }
        m_out += "<text x=\"" + Num((kLeft + kRight) / 2) + "\" y=\"" + Num(base + 48) +
                 "\" font-size=\"14\" text-anchor=\"middle\" fill=\"" + kInk +
                 "\">Frequency (log scale)</text>\n";
    }

    const ModelReport& m_r;
    std::string m_out;
    Axis m_x{0, 1, 0, 1};
    double m_bandLo = 0.0, m_bandHi = 0.0;
    std::vector<CurvePoint> m_curve;
    std::vector<Tick> m_xTicks;
};

}  // namespace

std::string RenderSvgPlot(const ModelReport& report) { return Plot(report).Render(); }

}  // namespace matmodel
