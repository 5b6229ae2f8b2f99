// dc conduction taken out of the loss before the Kramers-Kronig
// reconstruction, and put back into the fitted model.
//
// A loss that grows like 1/f toward dc (ferrites, doped silicon, wet soil) is
// conduction, sigma / (w e0). Its Kramers-Kronig partner is not a Dk: left in,
// it drives the reconstructed Dk hugely negative. So the report removes it,
// reconstructs and fits what is left, and adds it back as a pole far below
// the band, which acts as sigma / (j w e0) at every sample.
#ifndef MATMODEL_REPORT_CONDUCTION_H
#define MATMODEL_REPORT_CONDUCTION_H

#include <optional>
#include <string>
#include <vector>

#include "fitting/polerat.h"

namespace matmodel {

struct Conduction {
    double sigma = 0.0;     ///< S/m taken out; 0 for none
    bool given = false;     ///< the caller gave it, rather than the lowest samples
    double wanted = 0.0;    ///< S/m asked for or estimated, before any lowering
    /// Lowered from `wanted` (by more than a part in a thousand) so that no
    /// sample's loss turns negative.
    bool Lowered() const { return sigma < wanted * (1.0 - 1e-3); }
};

/// The conductivity to take out of samples (frequency in Hz, Dk, Df): `given`
/// when set, else an estimate from the lowest samples when their loss rises
/// toward dc like 1/f (else none); lowered where it would leave a negative
/// loss at some sample.
Conduction ChooseConduction(const std::vector<double>& freq, const std::vector<double>& dk,
                            const std::vector<double>& df, std::optional<double> given);

/// Df of what is left once sigma's loss sigma / (w e0) is taken out of Dk Df.
std::vector<double> WithoutConduction(const std::vector<double>& freq, const std::vector<double>& dk,
                                      const std::vector<double>& df, double sigma);

/// Per-sample weights for fitting what is left: the share of each sample's
/// loss that is not conduction. The engine measures each part of a sample
/// relative to its own size; these weights make the loss that is left count
/// relative to the whole measured loss, as the fit is judged.
std::vector<double> LossShareWeights(const std::vector<double>& freq, const std::vector<double>& dk,
                                     const std::vector<double>& df, double sigma);

/// Adds sigma / (j w e0) to a one-port record as a real pole fifteen decades
/// below `lowestHz`, listed first (the record lists poles by magnitude).
void AddConduction(polerat_data& record, double sigma, double lowestHz);

/// "sigma 0.012 S/m taken out before the Kramers-Kronig reconstruction
/// (estimated from the lowest samples)", with any lowering said.
std::string ConductionNote(const Conduction& c);

}  // namespace matmodel

#endif  // MATMODEL_REPORT_CONDUCTION_H
