// The fitting engine as it was before the order search was reworked, kept
// only so that the benchmarks can report each case as a ratio to it in the
// same run. Same arguments as polerat_run.
#ifndef MATMODEL_BENCH_BASELINE_BASELINE_H
#define MATMODEL_BENCH_BASELINE_BASELINE_H

#include <string>
#include <vector>

#include "fitting/polerat.h"

double polerat_baseline_run(polerat_data*& record, DataTable& info, const std::vector<double>& freq,
                            const PoleratSamples& samples, double target_error, int max_order,
                            int min_order, int fixed_order, int max_iterations, bool allow_complex,
                            bool enforce_passivity, int weighting, bool omit_constant,
                            std::string& log, const std::vector<double>& weights,
                            PoleratProgress progress, double stall_ratio, bool verbose_log,
                            int order_step, int stall_patience, int start_poles);
void polerat_baseline_cleanup(polerat_data*& record);

#endif  // MATMODEL_BENCH_BASELINE_BASELINE_H
