// The help texts of the matmodel tool.
#ifndef MATMODEL_CLI_HELP_H
#define MATMODEL_CLI_HELP_H

namespace help {

inline constexpr char kDescription[] =
    "matmodel turns measured dielectric data (frequency, Dk, Df) into a causal, passive\n"
    "multi-pole Debye model, reports its terms, its error and its passivity, and writes\n"
    "the two expressions Dk(Freq) and Df(Freq) a field simulator evaluates.";

inline constexpr char kInput[] = R"(Input files:
  One sample per line: frequency, Dk, and Df (or a conductivity in S/m with
  --conductivity). Numbers separated by blanks, commas, tabs or semicolons
  (then a decimal comma is fine). An optional header line names the columns and
  may give the frequency unit, e.g. "Frequency (GHz), Dk, Df". '#' starts a
  comment.
)";

inline constexpr char kFitExamples[] = R"(
Examples:
  matmodel fit examples/laminate.txt --plot laminate.svg
  matmodel fit examples/broadband.csv --table fitted.csv --json
  matmodel fit --conductivity examples/conductive.tsv
  matmodel fit --freq-unit GHz mydata.txt
  matmodel fit examples/*.txt examples/*.csv --plot '{}.svg'
)";

inline constexpr char kWidebandExamples[] = R"(
Examples:
  matmodel wideband --dk 4.0 --df 0.02 --freq 1e9 --max-freq 1e10
  matmodel wideband --dk 3.5 --df 0.004 --freq 10GHz --max-freq 100GHz --dc-dk 3.7 --plot w.svg
)";

inline constexpr char kExitStatus[] = R"(
Exit status: 0 when every input was fitted; 2 for bad input, options or output
paths (also when other inputs failed to fit); 1 when a fit failed.)";

}  // namespace help

#endif  // MATMODEL_CLI_HELP_H
