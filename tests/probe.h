// A MaterialModeler that exposes its protected state to the tests.
#ifndef MATMODEL_TESTS_PROBE_H
#define MATMODEL_TESTS_PROBE_H

#include "modeler/MaterialModeler.h"

class Probe : public MaterialModeler {
public:
    using MaterialModeler::MaterialModeler;
    using MaterialModeler::Copy;
    using MaterialModeler::DoHilbertReconstruction;
    using MaterialModeler::E0;
    using MaterialModeler::HalfPi;
    using MaterialModeler::Pi;
    using MaterialModeler::TwoPi;

    const std::vector<double>& Freq() const { return m_freq; }
    const std::vector<double>& Dk() const { return m_dk; }
    const std::vector<double>& Df() const { return m_df; }
    const std::vector<double>& DkCausal() const { return m_dkCausal; }
    const std::vector<double>& DfCausal() const { return m_dfCausal; }
    bool DoHilbert() const { return m_doHilbert; }
    std::size_t Samples() const { return m_freq.size(); }
    polerat_data* Record() const { return m_fitterData; }

    // Takes ownership of a record made with new, as the engine's would be.
    void InstallRecord(polerat_data* record) {
        if (m_fitterData != nullptr) polerat_cleanup(m_fitterData);
        m_fitterData = record;
    }
    void SetLists(std::vector<double> freq, std::vector<double> dk, std::vector<double> df) {
        m_freq = std::move(freq);
        m_dk = std::move(dk);
        m_df = std::move(df);
    }
};

// A hand-made record as the engine would store it: a real pole at -3
// (residue 6), the pair -1 +/- 2j (residue 1 -/+ 1.5j) and d = 2.5. Made with
// new, for InstallRecord.
inline polerat_data* ExampleRecord() {
    auto* r = new polerat_data();
    r->pole_re = {-3.0, -1.0, -1.0};
    r->pole_im = {0.0, 2.0, -2.0};
    r->b = {{6.0}, {2.0}, {3.0}};
    r->c = {{1.0, 1.0, 0.0}};
    r->d = {{2.5}};
    return r;
}

#endif  // MATMODEL_TESTS_PROBE_H
