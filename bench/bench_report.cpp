// One fit as the command-line tool and the Python module run it
// (FitMaterialTable: input, reconstruction, fit, report), and the modeler alone
// on the same input: the 161-point wideband case of data/wideband161.txt.
// python/bench/overhead.py sets the module's call on the same file against
// BM_ReportWideband161.
#include <complex>
#include <vector>

#include <benchmark/benchmark.h>

#include "io/material_file.h"
#include "report/report.h"
#include "modeler/MaterialModeler.h"

namespace {

// Read through the tool's reader, as the Python script reads it: both sides
// fit the same bits.
matmodel::MaterialTable WidebandTable() {
    return matmodel::ReadMaterialFile(MATMODEL_BENCH_DATA_DIR "/wideband161.txt", {});
}

void BM_ReportWideband161(benchmark::State& state) {
    const matmodel::MaterialTable table = WidebandTable();
    std::size_t order = 0;
    for (auto _ : state) {
        const matmodel::ModelReport r = matmodel::FitMaterialTable(table);
        order = r.order;
        benchmark::DoNotOptimize(r.poles.data());
    }
    state.counters["order"] = static_cast<double>(order);
}
BENCHMARK(BM_ReportWideband161)->Unit(benchmark::kMicrosecond);

// What the report adds to the library's own calls: the same samples through
// SetInputData and FitData, poles read back.
void BM_ModelerWideband161(benchmark::State& state) {
    const matmodel::MaterialTable table = WidebandTable();
    DataTable rows;
    for (std::size_t i = 0; i < table.freq.size(); ++i)
        rows.push_back({table.freq[i], table.dk[i], table.loss[i]});
    std::vector<std::complex<double>> poles, residues;
    for (auto _ : state) {
        MaterialModeler m;
        m.SetInputData(rows);
        m.FitData();
        m.GetPolesAndResidues(poles, residues);
        benchmark::DoNotOptimize(poles.data());
    }
    state.counters["order"] = static_cast<double>(poles.size());
}
BENCHMARK(BM_ModelerWideband161)->Unit(benchmark::kMicrosecond);

}  // namespace
