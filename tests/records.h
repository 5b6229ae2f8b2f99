// Hand-made fitted records for the result and expression tests.
//
// A RecordBuilder plants a model given as poles and residues and realises it
// the way the engine stores it (pole_re, pole_im, b, c, d), with input-map
// values of the test's choosing. The planted model is the ground truth the
// readers must give back.
#ifndef MATMODEL_TESTS_RECORDS_H
#define MATMODEL_TESTS_RECORDS_H

#include <algorithm>
#include <cmath>
#include <complex>
#include <string>
#include <vector>

#include "probe.h"

using Complex = std::complex<double>;

/// eps(s) = d + sum_k residue_k / (s - pole_k), listed as the readers list it.
struct PlantedModel {
    double d = 0.0;
    std::vector<Complex> poles;
    std::vector<Complex> residues;

    Complex Eps(double freqHz) const {
        const Complex s(0.0, freqHz * Probe::TwoPi);
        Complex eps = d;
        for (std::size_t k = 0; k < poles.size(); ++k) eps += residues[k] / (s - poles[k]);
        return eps;
    }
};

class RecordBuilder {
public:
    explicit RecordBuilder(double d) { m_model.d = d; }

    /// A real pole a with residue r, split as b0 * (r / b0).
    RecordBuilder& Real(double a, double r, double b0 = 1.0) {
        m_poleRe.push_back(a);
        m_poleIm.push_back(0.0);
        m_b.push_back(b0);
        m_c.push_back(r / b0);
        m_model.poles.emplace_back(a, 0.0);
        m_model.residues.emplace_back(r, 0.0);
        return *this;
    }

    /// The pair p, conj(p) with residues r, conj(r). The record holds
    /// r = (b0 - j b1)(c0 + j c1) / 2, so c follows from the chosen b.
    RecordBuilder& Pair(Complex p, Complex r, double b0, double b1) {
        const Complex c = 2.0 * r / Complex(b0, -b1);
        m_poleRe.insert(m_poleRe.end(), {p.real(), p.real()});
        m_poleIm.insert(m_poleIm.end(), {p.imag(), -p.imag()});
        m_b.insert(m_b.end(), {b0, b1});
        m_c.insert(m_c.end(), {c.real(), c.imag()});
        m_model.poles.insert(m_model.poles.end(), {p, std::conj(p)});
        m_model.residues.insert(m_model.residues.end(), {r, std::conj(r)});
        return *this;
    }

    /// A fresh record, allocated with new as the engine's would be.
    polerat_data* NewRecord() const {
        auto* record = new polerat_data();
        record->pole_re = m_poleRe;
        record->pole_im = m_poleIm;
        for (double b : m_b) record->b.push_back({b});
        record->c = {m_c};
        record->d = {{m_model.d}};
        return record;
    }

    const PlantedModel& Model() const { return m_model; }

    /// A log-spaced sweep from two decades below the slowest pole to two
    /// decades above the fastest, in hertz, with 0 Hz in front.
    std::vector<double> Sweep(int points) const {
        double lo = 1.0, hi = 1.0;
        if (!m_model.poles.empty()) {
            lo = hi = std::abs(m_model.poles.front());
            for (const Complex& p : m_model.poles) {
                lo = std::min(lo, std::abs(p));
                hi = std::max(hi, std::abs(p));
            }
        }
        lo = lo / Probe::TwoPi / 100.0;
        hi = hi / Probe::TwoPi * 100.0;
        std::vector<double> f{0.0};
        for (int i = 0; i < points; ++i)
            f.push_back(lo * std::pow(hi / lo, static_cast<double>(i) / (points - 1)));
        return f;
    }

private:
    std::vector<double> m_poleRe;
    std::vector<double> m_poleIm;
    std::vector<double> m_b;
    std::vector<double> m_c;
    PlantedModel m_model;
};

struct NamedRecord {
    std::string name;
    RecordBuilder builder;
};

/// Models of several kinds of material. Every pair has b0 != b1 and a complex
/// residue, so that a swapped coefficient anywhere changes the values.
inline std::vector<NamedRecord> RecordCatalog() {
    const double w1 = Probe::TwoPi * 1e9;  // 1 GHz in rad/s
    std::vector<NamedRecord> records;
    // The three-state record of the hand-worked examples: a real pole, then a pair.
    records.push_back({"ExampleRecord", RecordBuilder(2.5).Real(-3.0, 6.0, 6.0).Pair(
                                            {-1.0, 2.0}, {1.0, -1.5}, 2.0, 3.0)});
    records.push_back({"DebyeLadder", RecordBuilder(3.4)
                                          .Real(-0.01 * w1, 0.02 * w1, 2.0)
                                          .Real(-0.3 * w1, 0.15 * w1)
                                          .Real(-4.0 * w1, 1.1 * w1, 0.5)
                                          .Real(-60.0 * w1, 12.0 * w1)});
    records.push_back({"TwoPairs", RecordBuilder(2.0)
                                       .Pair({-0.8 * w1, 1.5 * w1}, {0.3 * w1, -0.7 * w1}, 1.5,
                                             -0.5)
                                       .Pair({-6.0 * w1, 4.0 * w1}, {2.0 * w1, 1.2 * w1}, 0.25,
                                             3.0)});
    records.push_back({"MixedOrder", RecordBuilder(4.1)
                                         .Real(-0.05 * w1, 0.04 * w1)
                                         .Pair({-0.5 * w1, 0.9 * w1}, {0.2 * w1, 0.35 * w1}, 2.0,
                                               1.0)
                                         .Real(-8.0 * w1, 2.5 * w1, 4.0)
                                         .Pair({-3.0 * w1, 5.0 * w1}, {1.5 * w1, -0.4 * w1}, -1.0,
                                               0.5)});
    // Negative residues and a negative pair numerator, Dk staying well above 0.
    records.push_back({"NegativeResidues", RecordBuilder(6.0)
                                               .Pair({-1.0 * w1, 1.2 * w1},
                                                     {-0.6 * w1, 0.5 * w1}, 1.0, 2.0)
                                               .Real(-0.2 * w1, -0.1 * w1)
                                               .Real(-5.0 * w1, 1.5 * w1)});
    // Everything negative: Dk below zero at every frequency.
    records.push_back({"AllNegative", RecordBuilder(-2.5)
                                          .Real(-0.1 * w1, -0.2 * w1, -3.0)
                                          .Pair({-2.0 * w1, 3.0 * w1}, {-0.5 * w1, 0.8 * w1},
                                                -1.0, 2.0)});
    return records;
}

#endif  // MATMODEL_TESTS_RECORDS_H
