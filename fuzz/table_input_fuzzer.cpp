// SetInputData (table) and SetInputDataUsingConductivity on rows of any length
// holding any doubles, NaN and infinities included, called one to three times
// on the same object; then the Hilbert reconstruction on whatever was stored.
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "fuzz_support.h"

namespace {

const char* const kSentences[] = {
    "Please provide at least 3 data points.",
    "Frequency must be non-negative.",
    "Relative permittivity (Dk) values must not be less than 1.",
    "Loss tangent (Df) values must be non-negative.",
};

bool KnownSentence(const std::string& text) {
    for (const char* s : kSentences)
        if (text == s) return true;
    return false;
}

DataTable Rows(FuzzedDataProvider& in) {
    DataTable table(in.ConsumeIntegralInRange<std::size_t>(0, 40));
    for (std::vector<double>& row : table) {
        // Mostly three values, as the inputs expect; sometimes short or long.
        const std::uint8_t shape = in.ConsumeIntegral<std::uint8_t>();
        const std::size_t length = shape < 224 ? 3 : shape % 6;
        for (std::size_t j = 0; j < length; ++j)
            row.push_back(j == 0 ? fuzz::Value(in, 1e-3, 1e13) : fuzz::Value(in, 1e-7, 1e4));
    }
    return table;
}

// A stored sample passed the checks: each value is at its bound or above, or
// NaN, which compares with nothing and so passes.
bool Passes(double value, double bound) { return std::isnan(value) || value >= bound; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    fuzz::Inspect m;
    const int calls = in.ConsumeIntegralInRange(1, 3);
    for (int call = 0; call < calls; ++call) {
        const bool conductivity = in.ConsumeBool();
        const DataTable table = Rows(in);
        const std::size_t before = m.Freq().size();
        std::size_t failedRow = table.size();  // none
        bool threw = false;
        try {
            if (conductivity)
                m.SetInputDataUsingConductivity(table);
            else
                m.SetInputData(table);
        } catch (const std::out_of_range&) {
            threw = true;
            // Only a short row may fail this way, and it is the first short one
            // unless an earlier row failed validation (then we never get here).
            failedRow = 0;
            while (failedRow < table.size() && table[failedRow].size() >= 3) ++failedRow;
            fuzz::Require(failedRow < table.size(), "out_of_range without a short row");
        } catch (const std::runtime_error& e) {
            threw = true;
            fuzz::Require(KnownSentence(e.what()), "unknown failure sentence", e.what());
            failedRow = m.Freq().size() - before;
            if (!conductivity && table.size() < 3) {
                fuzz::Require(std::string(e.what()) == kSentences[0],
                              "a short table failed with another sentence", e.what());
            } else if (failedRow < table.size()) {
                // The row that stopped the call breaks the first check it fails.
                const std::vector<double>& row = table[failedRow];
                fuzz::Require(row.size() >= 3, "a short row failed validation");
                const char* expected = row[0] < 0.0   ? kSentences[1]
                                       : row[1] < 1.0 ? kSentences[2]
                                       : row[2] < 0.0 ? kSentences[3]
                                                      : "<none>";
                fuzz::Require(std::string(e.what()) == expected, "wrong sentence for the row",
                              std::string(e.what()) + " vs " + expected);
            } else {
                fuzz::Fail("validation failure after the last row");
            }
        }
        fuzz::CheckEqualLengths(m);

        // Rows before the failing one are appended, in order; nothing after.
        const std::size_t appended = m.Freq().size() - before;
        if (!conductivity && table.size() < 3) {
            fuzz::Require(threw && appended == 0, "a table of fewer than 3 rows was taken");
            continue;
        }
        fuzz::Require(appended == failedRow, "appended a different number of rows",
                      std::to_string(appended) + " vs " + std::to_string(failedRow));
        for (std::size_t i = 0; i < appended; ++i) {
            const std::vector<double>& row = table[i];
            const std::size_t k = before + i;
            fuzz::Require(fuzz::Same(m.Freq()[k], row[0]) && fuzz::Same(m.Dk()[k], row[1]),
                          "stored frequency or Dk differs from the row", std::to_string(i));
            fuzz::Require(Passes(m.Freq()[k], 0.0) && Passes(m.Dk()[k], 1.0),
                          "a sample that fails the checks was stored", std::to_string(i));
            // The loss tangent: floored for a table; from a conductivity, a
            // positive quotient of values already checked.
            fuzz::Require(Passes(m.Df()[k], conductivity ? 0.0 : 1e-5),
                          "stored Df below its floor", fuzz::Num(m.Df()[k]));
        }
    }

    m.ReconstructCausalDk();
    fuzz::Require(m.DkCausal().size() == m.Freq().size() && m.DfCausal().size() == m.Freq().size(),
                  "reconstruction lists of the wrong size");
    for (std::size_t i = 0; i < m.Freq().size(); ++i)
        fuzz::Require(fuzz::Same(m.DfCausal()[i], m.Df()[i]), "reconstruction changed a Df");
    return 0;
}
