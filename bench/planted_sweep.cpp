// The order search on planted sums of relaxations: how many of N random cases
// (1-15 terms over 3-20 decades, noise-free) come back within the target
// error with at most two poles more than planted.
//   planted_sweep [--seed S] [--cases N] [--baseline] [--show-failures]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "bench/baseline/baseline.h"
#include "bench/planted.h"

int main(int argc, char** argv) {
    unsigned long long seed = 1;
    int cases = 1000;
    bool baseline = false, show = false;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--seed") && i + 1 < argc) seed = std::strtoull(argv[++i], nullptr, 10);
        else if (!std::strcmp(argv[i], "--cases") && i + 1 < argc) cases = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--baseline")) baseline = true;
        else if (!std::strcmp(argv[i], "--show-failures")) show = true;
    }
    std::mt19937_64 rng(seed);
    std::uniform_int_distribution<int> terms(1, 15);
    std::uniform_real_distribution<double> decades(3.0, 20.0);
    int good = 0, missed = 0, extra = 0;
    double seconds = 0.0;
    for (int k = 0; k < cases; ++k) {
        const int t = terms(rng);
        const double d = decades(rng);
        const planted::Case c = planted::Make(rng, t, d);
        polerat_data* record = nullptr;
        DataTable info;
        std::string log;
        const auto start = std::chrono::steady_clock::now();
        const double err = (baseline ? polerat_baseline_run : polerat_run)(
            record, info, c.freq, c.samples, 1e-3, 100, 1, 0, 0, false, true, 0, false, log, {}, nullptr,
            -1.0, false, 1, 1, 1);
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const int order = static_cast<int>(info[0][0]);
        const bool ok = err <= 1e-3 && order <= t + 2;
        good += ok;
        missed += err > 1e-3;
        extra += err <= 1e-3 && order > t + 2;
        if (!ok && show)
            std::printf("case %d: %d terms over %.1f decades -> order %d, error %.3g, stop %g\n", k, t, d, order,
                        err, info[0][4]);
        (baseline ? polerat_baseline_cleanup : polerat_cleanup)(record);
    }
    std::printf("seed %llu: %d of %d within target with at most 2 extra poles (%d above target, %d with more "
                "poles); %.3f ms per fit\n",
                seed, good, cases, missed, extra, 1e3 * seconds / cases);
    return 0;
}
