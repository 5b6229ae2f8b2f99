// Planted sums of Debye relaxations: random materials with a known number of
// terms, sampled on a log grid, for the order search's sweep and benchmarks.
#ifndef MATMODEL_BENCH_PLANTED_H
#define MATMODEL_BENCH_PLANTED_H

#include <cmath>
#include <complex>
#include <random>
#include <vector>

#include "fitting/polerat.h"

namespace planted {

struct Case {
    int terms = 0;
    double decades = 0.0;
    std::vector<double> freq;
    PoleratSamples samples;
};

// eps_inf uniform in [1, 5]; each delta_eps log-uniform in [0.01, 10]; each
// relaxation frequency log-uniform over the band; `points` log-spaced samples.
inline Case Make(std::mt19937_64& rng, int terms, double decades, int points = 201) {
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    Case c;
    c.terms = terms;
    c.decades = decades;
    const double lo = std::pow(10.0, 6.0 * unit(rng));  // band starts between 1 Hz and 1 MHz
    const double epsInf = 1.0 + 4.0 * unit(rng);
    std::vector<double> delta, fr;
    for (int k = 0; k < terms; ++k) {
        delta.push_back(std::pow(10.0, -2.0 + 3.0 * unit(rng)));
        fr.push_back(lo * std::pow(10.0, decades * unit(rng)));
    }
    std::vector<std::complex<double>> h;
    for (int i = 0; i < points; ++i) {
        const double f = lo * std::pow(10.0, decades * i / (points - 1));
        std::complex<double> eps = epsInf;
        for (int k = 0; k < terms; ++k) eps += delta[static_cast<std::size_t>(k)] /
                                               std::complex<double>(1.0, f / fr[static_cast<std::size_t>(k)]);
        c.freq.push_back(f);
        h.push_back(eps);
    }
    c.samples.assign(1, std::vector<std::vector<std::complex<double>>>(1, h));
    return c;
}

}  // namespace planted

#endif  // MATMODEL_BENCH_PLANTED_H
