// Fits three samples through the installed library and prints the Dk text.
#include <cstdio>
#include <string>

#include "adapter/FreqDependentMatModeler.h"
#include "modeler/MaterialModeler.h"

int main() {
    MaterialModeler m;
    m.SetInputData(DataTable{{1e9, 4.0, 0.02}, {2e9, 3.9, 0.02}, {4e9, 3.8, 0.02}});
    m.FitData();
    std::string df, dk;
    m.CreateExpressions(df, dk, "F");
    std::printf("%s\n", dk.c_str());
    return dk.empty() ? 1 : 0;
}
