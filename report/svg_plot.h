// A picture of a model report: measured against fitted Dk and Df over a
// logarithmic frequency axis, as a self-contained SVG document.
//
// Two stacked panels share the frequency axis: Dk on a linear scale above, Df
// on a logarithmic scale below. Samples are markers; the model is a curve on a
// dense grid reaching at least a decade beyond the samples on both sides, so
// that its behaviour outside the measured band is visible too.
#ifndef MATMODEL_REPORT_SVG_PLOT_H
#define MATMODEL_REPORT_SVG_PLOT_H

#include <string>

#include "report/report.h"

namespace matmodel {

/// The SVG text (UTF-8). Its two panels are <g class="panel"> elements with
/// ids "panel-dk" and "panel-df"; in each, a sample is a <circle> and the
/// model a <path class="model">. Number text is locale-independent.
std::string RenderSvgPlot(const ModelReport& report);

}  // namespace matmodel

#endif  // MATMODEL_REPORT_SVG_PLOT_H
