// The Python module matmodel._core: numpy arrays in, the library's report and
// fitted modeler out. All modelling is the library's and the command-line
// tool's report (report/report.h); this file converts arrays, maps exceptions and
// releases the GIL while C++ works.
#include <algorithm>
#include <cmath>
#include <complex>
#include <cstddef>
#include <memory>
#include <numeric>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <pybind11/complex.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include "io/material_file.h"
#include "report/export.h"
#include "report/render.h"
#include "report/report.h"
#include "modeler/MaterialModeler.h"

namespace py = pybind11;

namespace {

// Any array-like of numbers becomes a contiguous double array (a copy only when
// the input is not one already).
using InArray = py::array_t<double, py::array::c_style | py::array::forcecast>;
using Complexes = std::vector<std::complex<double>>;

py::array_t<double> Array(const std::vector<double>& v) {
    return py::array_t<double>(static_cast<py::ssize_t>(v.size()), v.data());
}

py::array_t<std::complex<double>> Array(const Complexes& v) {
    return py::array_t<std::complex<double>>(static_cast<py::ssize_t>(v.size()), v.data());
}

// One fitted material: the report (Debye terms, errors, passivity) and a copy of
// the modeler that produced it (expressions in any variable). Made on the heap
// and filled in place: pybind11 takes the pointer, nothing is copied again.
class Model {
public:
    // Fits a table whose k-th sample is the caller's sample `order[k]` (empty:
    // the caller's order), with the GIL released.
    static std::unique_ptr<Model> FromTable(const matmodel::MaterialTable& table,
                                            std::vector<std::size_t> order,
                                            const matmodel::FitOptions& options) {
        auto model = std::make_unique<Model>();
        model->m_order = std::move(order);
        py::gil_scoped_release unlocked;
        model->m_report = matmodel::FitMaterialTable(table, options, &model->m_modeler);
        return model;
    }

    static std::unique_ptr<Model> FromPoint(const matmodel::SinglePoint& point) {
        auto model = std::make_unique<Model>();
        py::gil_scoped_release unlocked;
        model->m_report = matmodel::FitSinglePoint(point, {}, &model->m_modeler);
        return model;
    }

    const matmodel::ModelReport& Report() const { return m_report; }

    // (freq, dk, df) of the samples as the modeler holds them, in the caller's order.
    py::tuple Samples() const {
        return py::make_tuple(Column(&matmodel::SampleRow::freq),
                              Column(&matmodel::SampleRow::dkMeasured),
                              Column(&matmodel::SampleRow::dfMeasured));
    }

    py::tuple Fitted() const {
        return py::make_tuple(Column(&matmodel::SampleRow::dkFitted),
                              Column(&matmodel::SampleRow::dfFitted));
    }

    // Dk and Df of the model at frequencies of any shape.
    py::tuple Evaluate(const InArray& freq) const {
        const std::vector<py::ssize_t> shape(freq.shape(), freq.shape() + freq.ndim());
        py::array_t<double> dk(shape), df(shape);
        const double* f = freq.data();
        double* pk = dk.mutable_data();
        double* pf = df.mutable_data();
        const py::ssize_t n = freq.size();
        {
            py::gil_scoped_release unlocked;
            for (py::ssize_t i = 0; i < n; ++i) {
                const std::complex<double> eps = matmodel::EvaluateModel(m_report, f[i]);
                pk[i] = eps.real();
                pf[i] = -eps.imag() / eps.real();
            }
        }
        return py::make_tuple(dk, df);
    }

    py::tuple Expressions(const std::string& variable) const {
        std::string df, dk;
        m_modeler.CreateExpressions(df, dk, variable);
        return py::make_tuple(dk, df);
    }

private:
    py::array_t<double> Column(double matmodel::SampleRow::*field) const {
        const auto& rows = m_report.rows;
        py::array_t<double> out(static_cast<py::ssize_t>(rows.size()));
        double* p = out.mutable_data();
        for (std::size_t k = 0; k < rows.size(); ++k)
            p[m_order.empty() ? k : m_order[k]] = rows[k].*field;
        return out;
    }

    matmodel::ModelReport m_report;
    MaterialModeler m_modeler;
    std::vector<std::size_t> m_order;
};

void RequireVector(const InArray& a, const char* name) {
    if (a.ndim() != 1)
        throw py::value_error(std::string(name) + " must be one-dimensional; it has " +
                              std::to_string(a.ndim()) + " dimensions");
}

// The library lets NaN through its checks, and the reconstruction then spreads
// it over every sample, so the engine's message would name the wrong one.
void RequireFinite(const InArray& a, const char* name) {
    const double* v = a.data();
    for (py::ssize_t i = 0; i < a.size(); ++i)
        if (!std::isfinite(v[i]))
            throw py::value_error(std::string(name) + "[" + std::to_string(i) + "] is " +
                                  py::repr(py::float_(v[i])).cast<std::string>() +
                                  "; every value must be a finite number");
}

std::unique_ptr<Model> Fit(const InArray& freq, const InArray& dk, const InArray& df, bool conductivity,
                           bool measuredDk, std::optional<double> targetPercent, int maxOrder,
                           std::optional<double> sigma) {
    matmodel::FitOptions options;
    options.measuredDk = measuredDk;
    if (targetPercent) {
        if (!(*targetPercent > 0.0 && *targetPercent < 100.0))
            throw py::value_error("target must be a percentage above 0 and below 100; it is " +
                                  py::repr(py::float_(*targetPercent)).cast<std::string>());
        options.targetError = *targetPercent / 100.0;
    }
    if (maxOrder < 1) throw py::value_error("max_order must be at least 1; it is " + std::to_string(maxOrder));
    if (sigma && !(*sigma >= 0.0 && std::isfinite(*sigma)))
        throw py::value_error("sigma must be a conductivity of 0 S/m or more; it is " +
                              py::repr(py::float_(*sigma)).cast<std::string>());
    options.maxOrder = maxOrder;
    options.sigma = sigma;
    RequireVector(freq, "freq");
    RequireVector(dk, "dk");
    RequireVector(df, "df");
    if (dk.size() != freq.size() || df.size() != freq.size())
        throw py::value_error("freq, dk and df must have the same length; they have " +
                              std::to_string(freq.size()) + ", " + std::to_string(dk.size()) +
                              " and " + std::to_string(df.size()));
    RequireFinite(freq, "freq");
    RequireFinite(dk, "dk");
    RequireFinite(df, "df");

    // The Kramers-Kronig reconstruction integrates over the samples in order, so
    // they go to the library by frequency, as the file reader sorts them.
    const double* f = freq.data();
    const double* d = dk.data();
    const double* l = df.data();
    const auto n = static_cast<std::size_t>(freq.size());
    std::vector<std::size_t> order(n);
    std::iota(order.begin(), order.end(), std::size_t{0});
    const bool sorted = std::is_sorted(f, f + n);
    if (!sorted)
        std::stable_sort(order.begin(), order.end(),
                         [&](std::size_t a, std::size_t b) { return f[a] < f[b]; });

    matmodel::MaterialTable table;
    table.path = "arrays";
    table.format = "arrays";
    table.lossKind =
        conductivity ? matmodel::LossKind::kConductivity : matmodel::LossKind::kLossTangent;
    table.reordered = !sorted;
    table.freq.reserve(n);
    table.dk.reserve(n);
    table.loss.reserve(n);
    for (std::size_t i : order) {
        table.freq.push_back(f[i]);
        table.dk.push_back(d[i]);
        table.loss.push_back(l[i]);
    }
    if (sorted) order.clear();
    return Model::FromTable(table, std::move(order), options);
}

std::unique_ptr<Model> Wideband(double dk, double df, double freq, double maxFreq, double sigma,
                                double dcDk) {
    return Model::FromPoint({dk, df, freq, maxFreq, sigma, dcDk});
}

py::tuple Read(const py::object& path, const py::object& freqUnit, bool conductivity) {
    const auto name = py::module_::import("os").attr("fspath")(path).cast<std::string>();
    matmodel::ReadOptions options;
    if (!freqUnit.is_none()) options.freqUnit = freqUnit.cast<std::string>();
    // Explicit, so that a header naming the other kind is an error rather than
    // a table that fit() would read the wrong way.
    options.lossKind =
        conductivity ? matmodel::LossKind::kConductivity : matmodel::LossKind::kLossTangent;
    matmodel::MaterialTable t;
    {
        py::gil_scoped_release unlocked;
        t = matmodel::ReadMaterialFile(name, options);
    }
    return py::make_tuple(Array(t.freq), Array(t.dk), Array(t.loss));
}

}  // namespace

PYBIND11_MODULE(_core, m) {
    m.doc() = "Causal, passive multi-pole Debye models of measured dielectric data.";
    m.attr("__version__") = MATMODEL_VERSION;

    // Bad input (the library's validation, the reader's file messages) is a
    // ValueError; a failed fit stays a RuntimeError, pybind11's default for
    // std::runtime_error.
    py::register_exception_translator([](std::exception_ptr p) {
        try {
            if (p) std::rethrow_exception(p);
        } catch (const matmodel::InputError& e) {
            PyErr_SetString(PyExc_ValueError, e.what());
        } catch (const matmodel::MaterialFileError& e) {
            PyErr_SetString(PyExc_ValueError, e.what());
        } catch (const matmodel::ExportError& e) {
            PyErr_SetString(PyExc_ValueError, e.what());
        }
    });

    const py::object namedtuple = py::module_::import("collections").attr("namedtuple");
    const py::object debyeTerms =
        namedtuple("DebyeTerms", "eps_inf delta_eps relaxation_hz", py::arg("module") = "matmodel");
    const py::object maxError = namedtuple("MaxError", "dk df", py::arg("module") = "matmodel");
    m.attr("DebyeTerms") = debyeTerms;
    m.attr("MaxError") = maxError;

    py::class_<Model>(m, "Model", R"(A fitted material model.

eps(f) = residue_at_infinity + sum_k residues[k] / (j 2 pi f - poles[k]),
Dk = Re eps, Df = -Im eps / Re eps. Frequencies in Hz; poles and residues
in rad/s. Made by fit() or wideband().)")
        .def_property_readonly(
            "poles", [](const Model& self) { return Array(self.Report().poles); },
            "Poles (rad/s) as a complex array, in the record's order.")
        .def_property_readonly(
            "residues", [](const Model& self) { return Array(self.Report().residues); },
            "Residues (rad/s) as a complex array, one per pole.")
        .def_property_readonly(
            "residue_at_infinity", [](const Model& self) { return self.Report().epsInf; },
            "The model's constant term: eps at infinite frequency.")
        .def_property_readonly(
            "order", [](const Model& self) { return self.Report().order; }, "Number of poles.")
        .def_property_readonly(
            "debye_terms",
            [debyeTerms](const Model& self) {
                std::vector<double> delta, fr;
                for (const matmodel::DebyeTerm& t : self.Report().debye) {
                    if (t.conduction) continue;
                    delta.push_back(t.deltaEps);
                    fr.push_back(t.relaxationHz);
                }
                return debyeTerms(self.Report().epsInf, Array(delta), Array(fr));
            },
            "DebyeTerms(eps_inf, delta_eps, relaxation_hz): the real poles read as\n"
            "eps_inf + sum delta_eps / (1 + j f / relaxation_hz), by relaxation frequency;\n"
            "a pole far below the band is dc conduction (see dc_conductivity).")
        .def_property_readonly(
            "dc_conductivity", [](const Model& self) { return self.Report().dcConductivity; },
            "dc conductivity (S/m) carried by poles far below the band, acting as\n"
            "sigma / (j 2 pi f e0); 0 when there is none.")
        .def_property_readonly(
            "max_error",
            [maxError](const Model& self) {
                return maxError(self.Report().dkError.relative, self.Report().dfError.relative);
            },
            "MaxError(dk, df): the largest relative deviation of the fitted from the\n"
            "measured Dk and Df over the samples.")
        .def_property_readonly(
            "is_passive", [](const Model& self) { return self.Report().passivity.passive; },
            "Df >= 0 and Dk > 0 from 0 Hz to three decades beyond the data and poles.")
        .def_property_readonly("samples", &Model::Samples,
                               "(freq, dk, df) of the samples as the library holds them\n"
                               "(Df floor applied, a conductivity converted), in input order.")
        .def("fitted", &Model::Fitted, "(dk, df) of the model at the sample frequencies.")
        .def("evaluate", &Model::Evaluate, py::arg("freq"),
             "(dk, df) of the model at frequencies (Hz) of any shape.")
        .def("expressions", &Model::Expressions, py::arg("var") = matmodel::kDefaultVariable,
             "(dk_text, df_text): the model as two expressions in the frequency variable\n"
             "`var` (Hz), as a field simulator evaluates them.")
        .def(
            "to_spice",
            [](const Model& self, const std::string& name, double c0) {
                return matmodel::ExportSpice(self.Report(), name, c0);
            },
            py::arg("name") = "material", py::arg("c0") = matmodel::kDefaultC0,
            "SPICE netlist text: `.subckt NAME a b`, a capacitor of vacuum capacitance c0\n"
            "(F) filled with the material, one series R-C branch per relaxation and a\n"
            "conductance for dc conduction. ValueError for a model with complex poles.")
        .def(
            "to_openems",
            [](const Model& self, const py::object& fmax, const std::string& name) {
                const matmodel::ModelReport& r = self.Report();
                return matmodel::ExportOpenEms(
                    r, name, fmax.is_none() ? matmodel::DefaultFmax(r) : fmax.cast<double>());
            },
            py::arg("fmax") = py::none(), py::arg("name") = "material",
            "openEMS/CSXCAD XML text: a <DebyeMaterial> (Epsilon, Kappa in S/m,\n"
            "EpsilonDelta_k, EpsilonRelaxTime_k) for a simulation up to fmax Hz (default\n"
            "ten times the highest sample); terms too fast for its time step are folded\n"
            "into Epsilon. Add <Primitives> and paste it into <Properties>.")
        .def(
            "to_gprmax",
            [](const Model& self, const std::string& id) {
                return matmodel::ExportGprMax(self.Report(), id);
            },
            py::arg("material_id") = "material",
            "gprMax input lines: `#material: eps_inf sigma 1 0 ID` and\n"
            "`#add_dispersion_debye: N delta_eps_1 tau_1 ... ID`.")
        .def(
            "to_dict",
            [](const Model& self) {
                return py::module_::import("json").attr("loads")(
                    matmodel::ReportToJson(self.Report()));
            },
            "The command-line tool's JSON report as a dict.")
        .def("__repr__", [](const Model& self) {
            const matmodel::ModelReport& r = self.Report();
            return "<matmodel.Model: " + std::to_string(r.order) + " poles, eps_inf " +
                   py::repr(py::float_(r.epsInf)).cast<std::string>() +
                   (r.passivity.passive ? ", passive>" : ", NOT passive>");
        });

    m.def("fit", &Fit, py::arg("freq"), py::arg("dk"), py::arg("df"), py::kw_only(),
          py::arg("conductivity") = false, py::arg("measured_dk") = false, py::arg("target") = py::none(),
          py::arg("max_order") = 100, py::arg("sigma") = py::none(),
          R"(Fits a causal, passive multi-pole Debye model to samples.

freq (Hz), dk and df are equally long 1-D arrays in any order; with
conductivity=True the third array is a conductivity in S/m. Dk is made
causal (Kramers-Kronig) before the fit unless measured_dk=True. target (in
percent) stops at the fewest poles whose largest Dk and Df errors are at most
that; max_order caps the poles. sigma (S/m) is the dc conductivity taken out
of the loss before the reconstruction; by default it is estimated when the
loss rises toward dc like 1/f. Raises ValueError for bad input and
RuntimeError when the fit fails (or misses target), with the library's
message.)");
    m.def("wideband", &Wideband, py::arg("dk"), py::arg("df"), py::arg("freq"),
          py::arg("max_freq"), py::kw_only(), py::arg("sigma") = 0.0, py::arg("dc_dk") = 0.0,
          R"(Models a material from one measured point (dk, df at freq Hz) with a
wideband Debye model sampled up to max_freq, plus an optional dc conductivity
sigma (S/m) and Dk at 0 Hz (dc_dk; 0 selects the default).)");
    m.def("read", &Read, py::arg("path"), py::kw_only(), py::arg("freq_unit") = py::none(),
          py::arg("conductivity") = false,
          R"(Reads a material file as the command-line tool does and returns
(freq, dk, loss), sorted by frequency, freq in Hz. freq_unit gives the unit of
a file without one in its header; conductivity=True reads the third column as
S/m. Raises ValueError with the tool's message for a file it cannot use.)");
}
