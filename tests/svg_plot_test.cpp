// The SVG plot, read back as XML: two panels, the model curve inside its panel
// and a decade beyond the samples, one marker per sample at the right height,
// and dense series drawn so that they stay legible.
#include <cmath>
#include <regex>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <pugixml.hpp>

#include "report/svg_plot.h"

namespace {

using matmodel::ModelReport;
using ::testing::ContainsRegex;
using ::testing::Not;
constexpr double kTwoPi = 6.283185307179586;

// `n` samples of Dk + j Dk Df = 4 + 1.5 / (1 + j f / 1 GHz) from 100 MHz to
// 10 GHz, whose loss peaks in the band, and the model they come from.
ModelReport Debye(int n) {
    ModelReport r;
    r.epsInf = 4.0;
    r.causalReconstruction = true;
    r.poles = {-kTwoPi * 1e9};
    r.residues = {1.5 * kTwoPi * 1e9};
    for (int i = 0; i < n; ++i) {
        const double f = 1e8 * std::pow(100.0, i / (n - 1.0)), u = f / 1e9;
        const double dk = 4.0 + 1.5 / (1.0 + u * u);
        r.rows.push_back({f, dk, 1.5 * u / (1.0 + u * u) / dk, dk, 0.0, 0.0});
    }
    return r;
}

double Attr(const pugi::xml_node& n, const char* name) { return n.attribute(name).as_double(); }

// Sparse and dense samples of a passive model, and a model with gain, whose
// negative loss a log axis cannot show: it is named instead.
TEST(SvgPlot, DrawsEachSampleAndTheModelInsideTheirPanelsADecadeBeyondTheSamples) {
    ModelReport gain = Debye(12);
    gain.residues[0] *= -0.2;
    gain.passivity = {false, -0.03, 1e9};
    for (const ModelReport& r : {Debye(12), Debye(600), gain}) {  // 1, 300, 1 per decade
        const bool dense = r.rows.size() > 100;
        const std::string text = matmodel::RenderSvgPlot(r);
        EXPECT_THAT(text, Not(ContainsRegex("nan|inf")));
        EXPECT_EQ(text.find(">gain: Df down to -0.03 at 1 GHz (not drawn)<") == std::string::npos,
                  r.passivity.passive);
        pugi::xml_document doc;
        ASSERT_TRUE(doc.load_string(text.c_str())) << text;
        const pugi::xpath_node_set panels = doc.select_nodes("/svg/g[@class='panel']");
        ASSERT_EQ(panels.size(), 2u);
        for (int p = 0; p < 2; ++p) {
            const pugi::xml_node panel = panels[p].node();
            EXPECT_STREQ(panel.attribute("id").value(), p == 0 ? "panel-dk" : "panel-df");
            const pugi::xpath_node_set markers = panel.select_nodes("circle");
            const std::size_t n = r.rows.size();
            ASSERT_EQ(markers.size(), n);
            // Overlapping markers lose their white rims and shrink, but stay visible.
            const char* bad =
                dense ? "circle[@stroke or @r < 1.5 or @r >= 3.8]" : "circle[not(@stroke)]";
            EXPECT_TRUE(panel.select_node(bad).node().empty()) << bad;
            // Higher values sit higher on the page, on either scale.
            auto value = [&](auto i) { return p ? r.rows[i].dfMeasured : r.rows[i].dkMeasured; };
            auto cy = [&](auto i) { return Attr(markers[i].node(), "cy"); };
            for (std::size_t i = 0; i < n; ++i)
                for (std::size_t j = 0; j < n; ++j)
                    ASSERT_FALSE(value(i) > value(j) && cy(i) > cy(j)) << i << " is below " << j;

            // The model: rising in x, inside the panel, a decade beyond the samples.
            const pugi::xml_node model = panel.find_child_by_attribute("path", "class", "model");
            EXPECT_EQ(model.empty(), !r.passivity.passive && p == 1);  // no log of a gain
            if (model.empty()) continue;
            const pugi::xml_node box = panel.child("clipPath").child("rect");
            const double left = Attr(box, "x"), right = left + Attr(box, "width");
            const double top = Attr(box, "y"), bottom = top + Attr(box, "height");
            const std::string d = model.attribute("d").value();
            const std::regex point("[ML](-?[0-9.]+) (-?[0-9.]+)");
            std::vector<double> x;
            for (std::sregex_iterator it(d.begin(), d.end(), point), end; it != end; ++it) {
                x.push_back(std::stod((*it)[1]));
                const double y = std::stod((*it)[2]);
                EXPECT_TRUE(x.size() == 1 || x.back() > x[x.size() - 2]) << x.back();
                EXPECT_TRUE(x.back() >= left && x.back() <= right && y >= top && y <= bottom) << y;
            }
            ASSERT_GT(x.size(), 200u);
            const double first = Attr(markers[0].node(), "cx");
            const double last = Attr(markers[n - 1].node(), "cx");
            const double decade = (last - first) / 2.0;  // the samples span two
            EXPECT_LE(x.front(), first - 0.99 * decade);
            EXPECT_GE(x.back(), last + 0.99 * decade);
            // Dense samples would hide a curve drawn beneath them.
            EXPECT_EQ(model.select_node("following-sibling::circle").node().empty(), dense);
        }
    }
}

}  // namespace
