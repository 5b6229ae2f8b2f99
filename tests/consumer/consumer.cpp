// Fits three samples through the installed library and prints the Dk text;
// with the report installed, fits them again from text through the reader
// and the report, which must give the same expression, also in its JSON.
#include <cstdio>
#include <string>

#include "adapter/FreqDependentMatModeler.h"
#include "modeler/MaterialModeler.h"
#ifdef CONSUMER_WITH_REPORT
#include "io/material_file.h"
#include "report/render.h"
#include "report/report.h"
#endif

int main() {
    MaterialModeler m;
    m.SetInputData(DataTable{{1e9, 4.0, 0.02}, {2e9, 3.9, 0.02}, {4e9, 3.8, 0.02}});
    m.FitData();
    std::string df, dk;
    m.CreateExpressions(df, dk, "F");
    std::printf("%s\n", dk.c_str());
    if (dk.empty()) return 1;
#ifdef CONSUMER_WITH_REPORT
    matmodel::FitOptions options;
    options.variable = "F";
    const matmodel::ModelReport report = matmodel::FitMaterialTable(
        matmodel::ParseMaterialText("1e9 4.0 0.02\n2e9 3.9 0.02\n4e9 3.8 0.02\n", "text", {}), options);
    if (report.dkExpression != dk) return 1;
    if (matmodel::ReportToJson(report).find(dk) == std::string::npos) return 1;
    std::printf("report: same expression\n");
#endif
    return 0;
}
