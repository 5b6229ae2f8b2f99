// Hand-made fitted records with known poles and residues. A RecordBuilder
// plants a model and realises it as the engine stores it (pole_re, pole_im, b,
// c, d), with input-map values b of the test's choosing; the planted model is
// the ground truth the readers must give back.
#ifndef MATMODEL_TESTS_RECORDS_H
#define MATMODEL_TESTS_RECORDS_H

#include <complex>
#include <string>
#include <utility>
#include <vector>

#include "probe.h"

using Complex = std::complex<double>;

/// eps(s) = d + sum_k residue_k / (s - pole_k) at s = j 2 pi f.
struct PlantedModel {
    double d = 0.0;
    std::vector<Complex> poles, residues;

    Complex Eps(double freqHz) const {
        const Complex s(0.0, freqHz * Probe::TwoPi);
        Complex eps = d;
        for (std::size_t k = 0; k < poles.size(); ++k) eps += residues[k] / (s - poles[k]);
        return eps;
    }
};

class RecordBuilder {
public:
    explicit RecordBuilder(double d) : m_record{{}, {}, {}, {{}}, {{d}}}, m_model{d, {}, {}} {}

    /// A real pole p with residue r = b0 c0; or, for a complex p, the pair p,
    /// conj(p) with residues r, conj(r), held as r = (b0 - j b1)(c0 + j c1) / 2.
    RecordBuilder& Add(Complex p, Complex r, double b0 = 1.0, double b1 = 0.0) {
        const bool pair = p.imag() != 0.0;
        const Complex c = pair ? 2.0 * r / Complex(b0, -b1) : r / b0;
        for (int half = 0; half < (pair ? 2 : 1); ++half) {
            m_record.pole_re.push_back(p.real());
            m_record.pole_im.push_back(half == 0 ? p.imag() : -p.imag());
            m_record.b.push_back({half == 0 ? b0 : b1});
            m_record.c[0].push_back(half == 0 ? c.real() : c.imag());
            m_model.poles.push_back(half == 0 ? p : std::conj(p));
            m_model.residues.push_back(half == 0 ? r : std::conj(r));
        }
        return *this;
    }

    /// A fresh record, allocated with new as the engine's is.
    polerat_data* NewRecord() const { return new polerat_data(m_record); }
    const PlantedModel& Model() const { return m_model; }

private:
    polerat_data m_record;
    PlantedModel m_model;
};

/// The record of the hand-worked examples: a real pole at -3 with residue 6
/// (b = 6, c = 1), then the pair -1 +/- 2j with residues 1 -/+ 1.5j (b = 2, 3;
/// c = 1, 0), and d = 2.5.
inline RecordBuilder ExampleRecord() {
    return RecordBuilder(2.5).Add(-3.0, 6.0, 6.0).Add({-1.0, 2.0}, {1.0, -1.5}, 2.0, 3.0);
}

/// Models of several kinds of material, poles in rad/s around 1 GHz. Every pair
/// has b0 != b1 and a complex residue, so that a swapped coefficient anywhere
/// changes the values.
inline std::vector<std::pair<std::string, RecordBuilder>> RecordCatalog() {
    const double w = Probe::TwoPi * 1e9;
    return {{"Example", ExampleRecord()},
            {"DebyeLadder", RecordBuilder(3.4).Add(-0.01 * w, 0.02 * w, 2.0).Add(-0.3 * w, 0.15 * w)
                                .Add(-4.0 * w, 1.1 * w, 0.5).Add(-60.0 * w, 12.0 * w)},
            {"MixedOrder", RecordBuilder(4.1)
                               .Add(-0.05 * w, 0.04 * w)
                               .Add({-0.5 * w, 0.9 * w}, {0.2 * w, 0.35 * w}, 2.0, 1.0)
                               .Add(-8.0 * w, 2.5 * w, 4.0)
                               .Add({-3.0 * w, 5.0 * w}, {1.5 * w, -0.4 * w}, -1.0, 0.5)},
            // Negative residues and a negative constant.
            {"Negative", RecordBuilder(-2.5)
                             .Add({-1.0 * w, 1.2 * w}, {-0.6 * w, 0.5 * w}, 1.0, 2.0)
                             .Add(-0.1 * w, -0.2 * w, -3.0)
                             .Add(-5.0 * w, 1.5 * w)}};
}

#endif  // MATMODEL_TESTS_RECORDS_H
