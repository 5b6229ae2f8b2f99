// The tool's job: fit each input, write the requested files, print the
// reports, and rank the outcomes into one exit status. Faces (the command
// line, scripts) fill a Job and call RunJob.
//
//   matmodel::Job job;
//   job.files = {"examples/laminate.txt"};
//   job.outputs.plot = "{}.svg";
//   int status = matmodel::RunJob(job, std::cout, std::cerr);
#ifndef MATMODEL_REPORT_RUN_H
#define MATMODEL_REPORT_RUN_H

#include <iosfwd>
#include <stdexcept>
#include <string>
#include <vector>

#include "io/material_file.h"
#include "report/export.h"
#include "report/report.h"

namespace matmodel {

/// Exit statuses, in rank order: with several inputs the highest is returned,
/// so bad input outranks a failed fit.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFitFailed = 1;
inline constexpr int kExitBadInput = 2;

/// The model evaluated at `points` frequencies spread evenly on a log scale
/// from `fromHz` to `toHz` (--eval F1:F2:N).
struct Evaluation {
    double fromHz = 0.0;
    double toHz = 0.0;
    int points = 0;  ///< 0: none
};

/// What to write for every input. In file names "{}" stands for the input's
/// name without its extension.
struct Outputs {
    bool json = false;     ///< one JSON document per input instead of the text report
    std::string table;     ///< CSV of the samples with the fit; empty for none
    std::string plot;      ///< SVG picture; empty for none
    /// Simulator files, each "FORMAT:PATH" with FORMAT spice, openems or
    /// gprmax (report/export.h); named after the input's stem inside.
    std::vector<std::string> exports;
    double c0 = kDefaultC0;  ///< F, the SPICE export's vacuum capacitance
    double fmax = 0.0;       ///< Hz, the openEMS export's top; 0: ten times the data's
    Evaluation eval;         ///< the model at chosen frequencies ...
    std::string evalOut;     ///< ... written as CSV (frequency_hz,dk,df) here
};

struct Job {
    std::vector<std::string> files;  ///< material files to fit, in order; "-" is standard input
    ReadOptions read;                ///< how to read them
    bool singlePoint = false;        ///< fit `point` instead of files
    SinglePoint point;
    FitOptions fit;                  ///< the variable and what is asked of the model
    Outputs outputs;
    int jobs = 1;                    ///< files fitted at once; reports still come in input order
};

/// Options that make no sense together or output names that would clash.
/// The tool prints it and exits with kExitBadInput.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// Parses "F1:F2:N" (frequencies with units allowed). Throws UsageError.
Evaluation ParseEvaluation(const std::string& text);

/// Reads an option's value: a plain number, or, when `frequency`, one with a
/// unit ("1e9", "10GHz", "2.5 MHz"). Throws UsageError naming the option.
double ParseOptionValue(const std::string& option, const std::string& text, bool frequency);

/// Runs the job. Reports go to `out`, one line per failed input to `err`.
/// Returns the highest exit status of the inputs. Throws UsageError before any
/// input is read when the variable is not a name or output names clash.
int RunJob(const Job& job, std::ostream& out, std::ostream& err);

}  // namespace matmodel

#endif  // MATMODEL_REPORT_RUN_H
