// The whole road of a direct caller of MaterialModeler. The first byte, modulo
// 3, picks the input, which then takes the rest of the bytes:
//   0  a text file (the text seeds start with a '0' to pick it). The reader
//      takes the numbers that the C library's strtod reads one after another
//      (white space, signs, exponents, hex, inf, nan, overflow to infinity),
//      three at a time up to the first incomplete triple or non-number, and
//      stops with runtime_error at the first sample that fails a check; Df is
//      floored at 1e-5;
//   1  one to three tables or conductivity tables of any rows: each call keeps
//      the rows before the first short or refused one, as they are with Df at
//      its floor or above, then throws out_of_range (a short row) or
//      runtime_error (a refused row, fewer than 3 rows) with a one-line message;
//   2  the single-point input (five samples per decade from 1 Hz up to the
//      highest frequency; an infinite one throws bad_alloc at once), then up to
//      two tables.
// Then the Kramers-Kronig reconstruction, which leaves Df as it is, and for up
// to 48 samples the fit: a stable, passive Debye model whose fitted data are
// of the samples and agree with the expression texts evaluated as a simulator
// would.
#include <sys/mman.h>
#include <unistd.h>

#include "expr_eval.h"
#include "fuzz_support.h"
#include "probe.h"

namespace {

// The samples appended since `before`: exactly the rows before the first short
// or refused one, as they are (Df at its floor, or converted), the failure
// (1 runtime_error, 2 out_of_range) what that row gives.
void CheckTaken(const Probe& m, std::size_t before, const DataTable& rows, int failure, bool conductivity) {
    const std::size_t taken = m.Freq().size() - before;
    const std::vector<double> next = taken < rows.size() ? rows[taken] : std::vector<double>();
    const bool refused = next.size() >= 3 && (next[0] < 0.0 || next[1] < 1.0 || next[2] < 0.0);
    fuzz::Require(failure == (taken == rows.size() ? 0 : next.size() < 3 ? 2 : refused ? 1 : -1),
                  "rows taken or failure not as the rows say", std::to_string(taken));
    for (std::size_t i = 0; i < taken; ++i)
        fuzz::Require(fuzz::Same(m.Freq()[before + i], rows[i][0]) && fuzz::Same(m.Dk()[before + i], rows[i][1]) &&
                          (conductivity ? !(m.Df()[before + i] < 0.0)
                                        : fuzz::Same(m.Df()[before + i], std::max(rows[i][2], 1e-5))),
                      "a stored sample not as its row", std::to_string(i));
}

// A text file: the rows are the numbers strtod reads from it one after another
// (up to the first NUL), three at a time.
void ReadFile(Probe& m, const std::uint8_t* data, std::size_t size) {
    static const int fd = memfd_create("matmodel-fuzz", 0);
    fuzz::Require(ftruncate(fd, 0) == 0 && pwrite(fd, data, size, 0) == static_cast<ssize_t>(size), "cannot write");
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    const bool failed = fuzz::Throws<std::runtime_error>([&] { m.ReadInputFile(path.c_str()); });
    std::string text(reinterpret_cast<const char*>(data), size);
    DataTable rows(1);
    for (char *at = text.data(), *end = nullptr; rows.back().push_back(std::strtod(at, &end)), end != at; at = end)
        if (rows.back().size() == 3) rows.emplace_back();
    rows.pop_back();  // the incomplete triple, with what strtod could not read
    CheckTaken(m, 0, rows, failed, false);
}

// One to three tables of either kind; fewer than 3 rows of a loss-tangent
// table are refused whole.
void Append(Probe& m, FuzzedDataProvider& in) {
    const bool conductivity = in.ConsumeBool();
    const DataTable table = fuzz::Rows(in, conductivity);
    const std::size_t before = m.Freq().size();
    const auto load = [&] { conductivity ? m.SetInputDataUsingConductivity(table) : m.SetInputData(table); };
    bool shortRow = false;
    const bool refused = fuzz::Throws<std::runtime_error>([&] { shortRow = fuzz::Throws<std::out_of_range>(load); });
    if (conductivity || table.size() >= 3)
        return CheckTaken(m, before, table, refused ? 1 : shortRow ? 2 : 0, conductivity);
    fuzz::Require(refused && m.Freq().size() == before, "a table of fewer than 3 rows was not refused");
}

void SinglePoint(Probe& m, FuzzedDataProvider& in) {
    const double maxFreq = fuzz::Value(in, 0.1, 1e8);  // mostly up to 41 samples
    const bool endless = fuzz::Throws<std::bad_alloc>([&] {
        m.SetInputData(fuzz::Value(in, 1.0, 1e5), fuzz::Value(in, 1e-6, 10.0), fuzz::Value(in, 1.0, 1e12), maxFreq,
                       in.ConsumeBool() ? 0.0 : fuzz::Value(in, 1e-12, 1e3),
                       in.ConsumeBool() ? 0.0 : fuzz::Value(in, 1.0, 1e6));
    });
    // The top sample may lie a rounding above the highest frequency.
    const std::vector<double>& f = m.Freq();
    fuzz::Require(m.DoesHilbert() == (maxFreq == HUGE_VAL) && endless == (maxFreq == HUGE_VAL) &&
                      (f.empty() ? !(maxFreq >= 1.0) || maxFreq == HUGE_VAL
                                 : f[0] == 1.0 && f.back() <= maxFreq * (1.0 + 1e-9) && f.back() * 1.6 > maxFreq),
                  "the grid does not run from 1 Hz to the highest frequency");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const int path = data[0] % 3;
    FuzzedDataProvider in(data + 1, size - 1);
    Probe m;
    if (path == 0) ReadFile(m, data + 1, size - 1);
    if (path == 2) SinglePoint(m, in);
    for (int calls = path == 0 ? 0 : in.ConsumeIntegralInRange(path - 1, 3 - path); calls > 0; --calls) Append(m, in);
    // The reconstruction on whatever was stored; the fit on what fits quickly.
    m.ReconstructCausalDk();
    fuzz::Require(m.Dk().size() == m.Freq().size() && m.DkCausal().size() == m.Freq().size() &&
                      std::equal(m.Df().begin(), m.Df().end(), m.DfCausal().begin(), m.DfCausal().end(), fuzz::Same),
                  "lists of other lengths, or the reconstruction changed Df");
    if (m.Freq().empty() || m.Freq().size() > 48 || fuzz::Throws<std::runtime_error>([&] { m.FitData(); })) return 0;
    std::vector<fuzz::Cx> poles, residues;
    m.GetPolesAndResidues(poles, residues);
    const bool moderate = fuzz::CheckDebye(poles, residues, m.GetResidueAtInfinity());
    DataTable fitted;
    m.GetFittedData(fitted);
    std::string dfText, dkText;
    m.CreateExpressions(dfText, dkText, "F");
    ExpressionEvaluator dkExpr(dkText, "F"), dfExpr(dfText, "F");
    // The texts carry eight digits and, for a Debye model, add up without
    // cancellation, so 1e-6 is ample; both NaN: a model that is zero there
    // (0/0), from samples not a material's. A model with coefficients out of
    // moderation may be written as "inf" and is not evaluated.
    const auto near = [](double a, double b) { return fuzz::Same(a, b) || std::abs(a - b) <= 1e-6 * std::abs(b) + 1e-300; };
    fuzz::Require(fitted.size() == m.Freq().size(), "not one fitted row per sample");
    for (std::size_t i = 0; i < fitted.size(); ++i) {
        const std::vector<double>& row = fitted[i];
        const bool evaluated = moderate && row.size() == 3 && row[0] < 1e100;
        fuzz::Require(row.size() == 3 && fuzz::Same(row[0], m.Freq()[i]) &&
                          (!evaluated || (near(dkExpr(row[0]), row[1]) && near(dfExpr(row[0]), row[2]))),
                      "a fitted row not of its sample, or the expressions disagree with it", std::to_string(i));
    }
    return 0;
}
