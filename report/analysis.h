// What a fitted model's numbers say: its worst errors against the samples, its
// Debye terms, and a passivity scan from 0 Hz to far above the band. Pure
// functions over a ModelReport whose samples, poles and residues are filled.
#ifndef MATMODEL_REPORT_ANALYSIS_H
#define MATMODEL_REPORT_ANALYSIS_H

#include <vector>

#include "report/report.h"

namespace matmodel {

/// The largest of |value - reference| / |reference| over the rows (above
/// 0 Hz only when `aboveDc`), and where. A NaN anywhere is the worst error.
WorstError Worst(const std::vector<SampleRow>& rows, double SampleRow::*value,
                 double SampleRow::*reference, bool aboveDc = false);

/// The bands where the measured loss eps'' = Dk Df rises faster than f
/// (beyond a margin, over a fifth of a decade or more).
std::vector<SteepLoss> FindSteepLoss(const std::vector<SampleRow>& rows);

/// Reads the real poles as Debye terms (by relaxation frequency, conduction
/// marked) and the pairs by their upper member; sums the conductivity.
void SplitPoles(ModelReport& report);

/// Checks Df >= 0 and Dk > 0 of the report's model (poles, residues, eps_inf)
/// at 0 Hz and on a logarithmic grid reaching three decades beyond the lowest
/// and highest of the samples and the model's pole frequencies.
PassivityCheck CheckPassivity(const ModelReport& report);

/// Fills every derived field of `report` from its rows, poles and residues:
/// the Debye terms, the static Dk, the worst Dk and Df errors, the causal
/// shift, the steep-loss bands and the passivity scan.
void Analyse(ModelReport& report);

}  // namespace matmodel

#endif  // MATMODEL_REPORT_ANALYSIS_H
