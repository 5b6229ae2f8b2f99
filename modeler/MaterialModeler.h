// MaterialModeler: from measured dielectric data to a causal multi-pole Debye
// model that a field simulator can evaluate at any frequency.
//
// Call order:
//   1. load samples with ReadInputFile, SetInputData (a table, or one measured
//      point) or SetInputDataUsingConductivity; each call appends;
//   2. FitData() reconstructs a causal Dk curve (Kramers-Kronig) and fits a
//      rational model to eps = Dk (1 - j Df);
//   3. read GetFittedData, GetPolesAndResidues, GetResidueAtInfinity or
//      CreateExpressions. Before step 2 these throw.
//
// Frequencies are in hertz everywhere; poles and residues are in the plane of
// s = j*omega (omega in rad/s). Failures are std::runtime_error with a fixed
// English sentence; samples accepted before a failure stay.
//
//   MaterialModeler m;
//   m.SetInputData(DataTable{{1e9, 4.0, 0.02}, {2e9, 3.9, 0.02}, {4e9, 3.8, 0.02}});
//   m.FitData();
//   std::string df, dk;
//   m.CreateExpressions(df, dk, "F");
#ifndef MATMODEL_MODELER_MATERIALMODELER_H
#define MATMODEL_MODELER_MATERIALMODELER_H

#include <complex>
#include <string>
#include <vector>

#include "fitting/polerat.h"
#include "modeler/matmodel_export.h"

class MATMODEL_API MaterialModeler {
public:
    /// Empty object: no samples, no fit, Hilbert reconstruction on.
    MaterialModeler();
    /// Deep copy, the fitted record included.
    MaterialModeler(const MaterialModeler& other);
    MaterialModeler& operator=(const MaterialModeler& other);
    virtual ~MaterialModeler();

    /// Appends the samples of a text file of numbers taken three at a time
    /// (frequency in Hz, Dk, Df), separated by any white space. Reading stops
    /// silently at the first incomplete triple or non-number. Df below 1e-5 is
    /// stored as 1e-5. Throws "Can't open input file for reading." or a
    /// validation sentence.
    void ReadInputFile(const char* path);

    /// Appends rows (frequency in Hz, Dk, Df); at least 3 rows; values after the
    /// third are ignored. Df below 1e-5 is stored as 1e-5.
    void SetInputData(const DataTable& table);

    /// Appends rows (frequency in Hz, Dk, conductivity in S/m), converting the
    /// conductivity (at least 1e-11 S/m) to the loss tangent it gives alone.
    void SetInputDataUsingConductivity(const DataTable& table);

    /// Synthesises five samples per decade from 1 Hz to maxFreq from one
    /// measured point (dk, df at freq Hz) with a wideband Debye model, an
    /// optional dc conductivity (S/m) and an optional Dk at zero frequency
    /// (0 selects 1 + 10 df times the high-frequency Dk). Switches the Hilbert
    /// reconstruction off: the synthesised model is causal already. Nothing is
    /// validated; an infinite maxFreq, whose grid would never end, throws
    /// std::bad_alloc at once.
    void SetInputData(double dk, double df, double freq, double maxFreq,
                      double dcConductivity, double dcDk);

    /// Fits the samples (after the Hilbert reconstruction unless the single-point
    /// input ran) with the fitting engine and keeps the model.
    void FitData();

    /// Replaces `table` by one row (frequency, fitted Dk, fitted Df) per input
    /// frequency. Throws "Must call FitData() first." before a fit.
    void GetFittedData(DataTable& table) const;

    /// Replaces both lists by the model's poles and residues (rad/s), one entry
    /// per state; a conjugate pair takes two adjacent entries, the pole with
    /// the imaginary part as the record stores it first. Same precondition and
    /// message as GetFittedData.
    void GetPolesAndResidues(std::vector<std::complex<double>>& poles,
                             std::vector<std::complex<double>>& residues) const;

    /// The model's constant term (its value at infinite frequency). Same
    /// precondition and message as GetFittedData.
    double GetResidueAtInfinity() const;

    /// Writes the model as two one-line expressions in the frequency variable
    /// `variable` (hertz): the loss tangent into `dfText`, the relative
    /// permittivity into `dkText`. Numbers carry eight significant digits and
    /// do not depend on the locale. Throws "Must FitData() before calling
    /// CreateExpressions()!" before a fit; the outputs change only on success.
    void CreateExpressions(std::string& dfText, std::string& dkText,
                           const std::string& variable) const;

protected:
    void Copy(const MaterialModeler& other);
    void DoHilbertReconstruction();

    static const double TwoPi;
    static const double Pi;
    static const double HalfPi;
    static const double E0;

    polerat_data* m_fitterData;
    bool m_doHilbert;
    std::vector<double> m_dk;
    std::vector<double> m_dkCausal;
    std::vector<double> m_df;
    std::vector<double> m_dfCausal;
    std::vector<double> m_freq;
};

#endif  // MATMODEL_MODELER_MATERIALMODELER_H
