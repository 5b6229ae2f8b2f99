// ModelerAccess: a MaterialModeler whose working state library code may read.
//
// The modeler keeps its lists and the engine's record protected, so that host
// code reaches them by deriving from the class. Library code that needs them
// (the report, benchmarks, tests) derives once, here, instead of each writing
// its own subclass.
//
//   ModelerAccess m;
//   m.SetInputData(table);
//   m.FitData();
//   m.DkCausal();   // the Dk the fit was given
#ifndef MATMODEL_MODELER_MODELERACCESS_H
#define MATMODEL_MODELER_MODELERACCESS_H

#include <utility>
#include <vector>

#include "modeler/MaterialModeler.h"

class ModelerAccess : public MaterialModeler {
public:
    using MaterialModeler::MaterialModeler;
    using MaterialModeler::Copy;
    using MaterialModeler::E0;
    using MaterialModeler::HalfPi;
    using MaterialModeler::Pi;
    using MaterialModeler::TwoPi;

    /// The samples as stored (after the Df floor or the conductivity's conversion).
    const std::vector<double>& Freq() const { return m_freq; }
    const std::vector<double>& Dk() const { return m_dk; }
    const std::vector<double>& Df() const { return m_df; }
    /// The reconstruction's output; empty until it has run.
    const std::vector<double>& DkCausal() const { return m_dkCausal; }
    const std::vector<double>& DfCausal() const { return m_dfCausal; }
    /// False after the single-point input: its table is causal already.
    bool DoesHilbert() const { return m_doHilbert; }
    /// The engine's record, or null before a fit.
    const polerat_data* Record() const { return m_fitterData; }

    /// Runs the Kramers-Kronig reconstruction on the current samples.
    void ReconstructCausalDk() { DoHilbertReconstruction(); }

    /// Replaces the samples without validation (benchmarks and tests that need
    /// lists the input checks would refuse).
    void SetSamples(std::vector<double> freq, std::vector<double> dk, std::vector<double> df) {
        m_freq = std::move(freq);
        m_dk = std::move(dk);
        m_df = std::move(df);
    }

    /// Takes ownership of a record allocated with new, releasing the one held.
    void InstallRecord(polerat_data* record) {
        if (m_fitterData != nullptr) polerat_cleanup(m_fitterData);
        m_fitterData = record;
    }
};

#endif  // MATMODEL_MODELER_MODELERACCESS_H
