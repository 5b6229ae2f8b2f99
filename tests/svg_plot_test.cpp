// The SVG plot, read back as XML: two panels, the model curve inside its panel
// and a decade beyond the samples, one marker per sample at the right height,
// and dense series drawn so that they stay legible.
#include <algorithm>
#include <cmath>
#include <regex>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <pugixml.hpp>

#include "fitting/constants.h"
#include "report/svg_plot.h"

namespace {

using matmodel::ModelReport;

// `n` samples of Dk + j Dk Df = 4 + 1.5 / (1 + j f / 1 GHz) from 100 MHz to
// 10 GHz, whose loss peaks in the band, and the model they come from; or, with
// a negative `scale`, a model with gain, which the passivity check found.
ModelReport Debye(int n, double scale = 1.0) {
    ModelReport r;
    r.epsInf = 4.0;
    r.causalReconstruction = true;
    r.poles = {-matmodel::kTwoPi * 1e9};
    r.residues = {scale * 1.5 * matmodel::kTwoPi * 1e9};
    if (scale < 0.0) r.passivity = {false, -0.03, 1e9};
    r.rows.push_back({0.0, 5.5, 0.0, 5.5, 0.0, 0.0});  // no place on a log axis: not drawn
    for (double i = 0; i < n; ++i) {
        const double f = 1e8 * std::pow(100.0, i / (n - 1)), u = f / 1e9, dk = 4.0 + 1.5 / (1.0 + u * u);
        r.rows.push_back({f, dk, 1.5 * u / (1.0 + u * u) / dk, dk, 0.0, 0.0});
    }
    return r;
}

double Attr(const pugi::xml_node& n, const char* name) { return n.attribute(name).as_double(); }

// Sparse and dense samples of a passive model, and a model with gain, whose
// negative loss a log axis cannot show: it is named instead.
TEST(SvgPlot, DrawsEachSampleAndTheModelInsideTheirPanelsADecadeBeyondTheSamples) {
    for (const ModelReport& r : {Debye(12), Debye(600), Debye(12, -0.2)}) {  // 1, 300, 1 per decade
        const bool dense = r.rows.size() > 100;
        const std::string text = matmodel::RenderSvgPlot(r);
        EXPECT_THAT(text, ::testing::Not(::testing::ContainsRegex("nan|inf")));
        EXPECT_EQ(text.find(">gain: Df down to -0.03 at 1 GHz (not drawn)<") == std::string::npos, r.passivity.passive);
        pugi::xml_document doc;
        ASSERT_TRUE(doc.load_string(text.c_str())) << text;
        const pugi::xpath_node_set panels = doc.select_nodes("/svg/g[@class='panel']");
        ASSERT_EQ(panels.size(), 2u);
        for (int p = 0; p < 2; ++p) {
            const pugi::xml_node panel = panels[p].node();  // Dk, then Df
            const pugi::xpath_node_set markers = panel.select_nodes("circle");
            const std::size_t n = markers.size();
            ASSERT_EQ(n, r.rows.size() - 1);
            // Overlapping markers lose their white rims and shrink, but stay visible.
            EXPECT_FALSE(panel.select_node(dense ? "circle[@stroke or @r < 1.5 or @r >= 3.8]" : "circle[not(@stroke)]"));
            // Higher values sit higher on the page, on either scale.
            std::vector<std::pair<double, double>> heights;  // value, cy
            for (std::size_t i = 0; i < n; ++i)
                heights.emplace_back(p ? r.rows[i + 1].dfMeasured : r.rows[i + 1].dkMeasured, Attr(markers[i].node(), "cy"));
            std::sort(heights.begin(), heights.end());
            for (std::size_t i = 0; i + 1 < n; ++i) EXPECT_GE(heights[i].second, heights[i + 1].second) << i;
            // The model: rising in x, inside the panel, a decade beyond the samples.
            const pugi::xml_node model = panel.find_child_by_attribute("path", "class", "model");
            EXPECT_EQ(model.empty(), !r.passivity.passive && p == 1);  // no log of a gain
            if (model.empty()) continue;
            const pugi::xml_node box = panel.child("clipPath").child("rect");
            const double left = Attr(box, "x"), right = left + Attr(box, "width"), top = Attr(box, "y");
            const std::string d = model.attribute("d").value();
            const std::regex point("[ML](-?[0-9.]+) (-?[0-9.]+)");
            std::vector<double> x;
            for (std::sregex_iterator it(d.begin(), d.end(), point), end; it != end; ++it) {
                x.push_back(std::stod((*it)[1]));
                const double y = std::stod((*it)[2]);
                EXPECT_TRUE((x.size() == 1 || x.back() > x[x.size() - 2]) && x.back() >= left && x.back() <= right &&
                            y >= top && y <= top + Attr(box, "height")) << x.back() << " " << y;
            }
            ASSERT_GT(x.size(), 200u);
            // A decade beyond the first and last samples, which span two.
            const double first = Attr(markers[0].node(), "cx"), last = Attr(markers[n - 1].node(), "cx");
            EXPECT_TRUE(x.front() <= first - 0.99 * (last - first) / 2.0 && x.back() >= last + 0.99 * (last - first) / 2.0);
            // Dense samples would hide a curve drawn beneath them.
            EXPECT_EQ(model.select_node("following-sibling::circle").node().empty(), dense);
        }
    }
}

}  // namespace
