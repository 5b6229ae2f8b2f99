// A model report as text for a person, as JSON for a program, and as a CSV
// table of the samples with the fit. Number text never depends on the locale.
#ifndef MATMODEL_REPORT_RENDER_H
#define MATMODEL_REPORT_RENDER_H

#include <string>
#include <utility>
#include <vector>

#include "report/report.h"

namespace matmodel {

/// Names of files written for a report, e.g. {"table", "fit.csv"}.
using OutputList = std::vector<std::pair<std::string, std::string>>;

/// The human-readable report, several lines ending in a newline; each output
/// is listed on a line of its own at the end.
std::string ReportToText(const ModelReport& report, const OutputList& outputs = {});

/// One JSON document on one line: source, status "ok", input, model, errors,
/// passivity, expressions, and "outputs" when any were written.
std::string ReportToJson(const ModelReport& report, const OutputList& outputs = {});

/// The JSON document of an input that failed: source, status ("bad_input" or
/// "fit_failed") and the error's message, with its line and text when known.
std::string ErrorToJson(const std::string& source, const std::string& status,
                        const std::string& message, int line = 0, const std::string& text = {});

/// Header line and one row per sample: frequency_hz, dk_measured,
/// df_measured, dk_causal, dk_fitted, df_fitted.
std::string ReportToCsv(const ModelReport& report);

}  // namespace matmodel

#endif  // MATMODEL_REPORT_RENDER_H
