// What a user of the library does: load a material file, fit it, print the
// model's expressions and its fitted values at the samples.
//   fit_material examples/laminate.txt
#include <cstdio>
#include <exception>
#include <string>

#include "modeler/MaterialModeler.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: fit_material FILE\n");
        return 2;
    }
    try {
        MaterialModeler m;
        m.ReadInputFile(argv[1]);  // frequency (Hz), Dk, Df per line
        m.FitData();               // Kramers-Kronig correction, then the Debye fit

        std::string df, dk;
        m.CreateExpressions(df, dk, "Freq");
        std::printf("Dk(Freq) = %s\nDf(Freq) = %s\n\n", dk.c_str(), df.c_str());

        DataTable fitted;
        m.GetFittedData(fitted);
        std::printf("%14s %10s %10s\n", "freq_Hz", "Dk", "Df");
        for (const auto& row : fitted) std::printf("%14.6g %10.6f %10.6f\n", row[0], row[1], row[2]);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", argv[1], e.what());
        return 2;
    }
    return 0;
}
