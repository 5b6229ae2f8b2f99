// The fitting engine with every setting drawn from the bytes, out-of-range
// values included, on one- and two-port data of materials and resonances
// (sample arrays sometimes misshapen, values sometimes hostile, noise on top).
// Every call returns or throws std::invalid_argument with a one-line sentence,
// leaving an earlier record as it was; it also finishes, on every setting (run
// with -timeout). A call that returns had its settings in range, and its
// summary row agrees with the record and the settings: as many states as the
// order (per port) says, at most the fixed order or the cap; an error finite,
// >= 0 and the one returned; the target flag that the error gives; code 3 for
// a fixed order, else 0 exactly when the target was met. The record is finite,
// real where pairs are not allowed, without a constant when it is to be left
// out, stable when passivity is enforced and then, with real poles only, has
// residues and constants >= 0. Progress reports lie in [0, 1] with a message.
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    // Mostly in [lo, hi]; sometimes any int.
    const auto setting = [&in](int lo, int hi) {
        return fuzz::Now(in, 16) ? in.ConsumeIntegral<int>() : in.ConsumeIntegralInRange(lo, hi);
    };
    const PoleratProgress progress = [](double fraction, const char* message) {
        fuzz::Require(fraction >= 0.0 && fraction <= 1.0 && *message != '\0', "progress outside [0, 1] or silent");
    };
    const double target = fuzz::Value(in, 1e-6, 1.0), stallRatio = fuzz::Value(in, 1e-3, 1.0) - 0.02;
    const int maxOrder = setting(1, 40), minOrder = setting(1, 8), iterations = setting(0, 40);
    const int fixedOrder = in.ConsumeBool() ? 0 : setting(0, 40), weighting = setting(0, 2);
    const int step = setting(1, 8), patience = setting(1, 4), start = setting(1, 2);
    const bool pairs = in.ConsumeBool(), passive = in.ConsumeBool(), omitConstant = fuzz::Now(in, 4);
    const bool verbose = fuzz::Now(in, 8), withProgress = in.ConsumeBool(), earlier = in.ConsumeBool();
    const std::size_t ports = fuzz::Now(in, 8) ? 2 : 1;
    const std::vector<double> freq = fuzz::Sweep(in);
    // Sometimes a row short of an entry, or an entry at frequencies of its own
    // (mostly of another length).
    PoleratSamples samples(ports, std::vector<std::vector<fuzz::Cx>>(ports - fuzz::Now(in, 64)));
    for (auto& row : samples)
        for (auto& entry : row) entry = fuzz::Material(in, fuzz::Now(in, 64) ? fuzz::Sweep(in) : freq, true);
    std::vector<double> weights(fuzz::Now(in, 4) ? freq.size() + fuzz::Now(in, 16) : 0);
    for (double& w : weights) w = fuzz::Value(in, 1e-3, 1e3);

    polerat_data* record = earlier ? new polerat_data{{-1.0}, {0.0}, {{1.0}}, {{1.0}}, {{1.0}}} : nullptr;
    DataTable info;
    std::string log;
    double error = 0.0;
    if (fuzz::Throws<std::invalid_argument>([&] {
            error = polerat_run(record, info, freq, samples, target, maxOrder, minOrder, fixedOrder, iterations, pairs,
                                passive, weighting, omitConstant, log, weights, withProgress ? progress : nullptr,
                                stallRatio, verbose, step, patience, start);
        })) {
        fuzz::Require(earlier ? record->pole_re == std::vector<double>{-1.0} : !record, "a refusal touched the record");
        polerat_cleanup(record);
        return 0;
    }
    fuzz::Require(target >= 0.0 && std::isfinite(target) && maxOrder >= 1 && minOrder >= 1 && minOrder <= maxOrder &&
                      fixedOrder >= 0 && iterations >= 0 && weighting >= 0 && weighting <= 2 && step >= 1 &&
                      patience >= 1 && stallRatio < 1.0 && (start == 1 || (start == 2 && pairs)),
                  "settings out of range were taken");
    const std::vector<double> row = info.empty() ? std::vector<double>() : info[0];
    const std::size_t states = record->pole_re.size(), order = states / ports;
    fuzz::Require(row.size() == 5 && std::isfinite(error) && error >= 0.0 && fuzz::Same(error, row[1]) &&
                      row[0] == order && order * ports == states && row[0] <= (fixedOrder ? fixedOrder : maxOrder) &&
                      row[3] == (error <= target) && (row[4] == 3) == (fixedOrder > 0) &&
                      (row[4] == 0) == (row[3] == 1 && !fixedOrder) && row[4] >= 0 && row[4] <= 4,
                  "the summary row not as the record, the error and the settings say");
    // State k feeds input column k / order; a real pole's residue in entry
    // (p, column) is c[p][k] b[k][column].
    for (std::size_t k = 0; k < states; ++k)
        for (std::size_t p = 0; p < ports; ++p)
            fuzz::Require(std::isfinite(record->pole_re[k]) && std::isfinite(record->pole_im.at(k)) &&
                              (pairs || record->pole_im[k] == 0.0) && (!passive || record->pole_re[k] < 0.0) &&
                              std::isfinite(record->b.at(k).at(p)) && std::isfinite(record->c.at(p).at(k)) &&
                              (!passive || pairs || record->c[p][k] * record->b[k][k / order] >= 0.0),
                          "a state not finite, complex, unstable or of negative residue", std::to_string(k));
    for (std::size_t p = 0; p < ports; ++p)
        for (std::size_t q = 0; q < ports; ++q)
            fuzz::Require(std::isfinite(record->d.at(p).at(q)) &&
                              (omitConstant ? record->d[p][q] == 0.0 : !passive || pairs || record->d[p][q] >= 0.0),
                          "a constant term left in, not finite or negative");
    polerat_cleanup(record);
    return 0;
}
