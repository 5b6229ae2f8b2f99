"""fit(), wideband() and read(): arrays in any form in, the library's model out
in the caller's order, its views agreeing with one another, and the keywords
reaching the fit. (What the fit gives is the C++ suites' to test.)"""
import pathlib

import numpy as np
import pytest

import matmodel
from materials import LAMINATE, SINGLE_POLE, samples

TWO_PI = 2 * np.pi
SAME_MODEL = 1e-12  # two evaluations of one rational function differ by rounding
EXAMPLES = pathlib.Path(__file__).resolve().parents[2] / "examples"


@pytest.fixture(scope="module")
def laminate_model():
    return matmodel.fit(*samples(LAMINATE, 60, 1e7, 5e10))


def test_arrays_in_any_form_give_one_model_that_keeps_its_own_samples():
    freq, dk, df = samples(LAMINATE, 30, 1e7, 5e10)
    reference = matmodel.fit(freq, dk, df)
    np.testing.assert_array_equal(matmodel.fit(list(freq), list(dk), list(df)).poles, reference.poles)
    doubled = np.repeat(np.stack([freq, dk, df]), 2, axis=1)  # strided views are copied, not misread
    np.testing.assert_array_equal(matmodel.fit(*doubled[:, ::2]).residues, reference.residues)
    assert reference.poles.dtype == reference.residues.dtype == np.complex128
    assert reference.poles.shape == (reference.order,)
    freq[:] = 1.0
    assert reference.samples[0][0] == pytest.approx(1e7)


def test_unsorted_input_gives_the_sorted_model_with_results_in_input_order():
    freq, dk, df = samples(LAMINATE, 40, 1e7, 5e10)
    shuffle = np.random.default_rng(20240607).permutation(40)
    model = matmodel.fit(freq[shuffle], dk[shuffle], df[shuffle])
    reference = matmodel.fit(freq, dk, df)
    np.testing.assert_array_equal(model.poles, reference.poles)
    np.testing.assert_array_equal(model.samples[0], freq[shuffle])
    np.testing.assert_array_equal(model.fitted()[0], reference.fitted()[0][shuffle])
    assert model.to_dict()["input"]["sorted_by_tool"] is True


def test_poles_terms_fitted_values_evaluate_and_expressions_are_one_model(laminate_model):
    freq = laminate_model.samples[0]
    s = 1j * TWO_PI * freq
    eps = laminate_model.residue_at_infinity + sum(r / (s - p) for p, r in zip(laminate_model.poles,
                                                                               laminate_model.residues))
    eps_inf, delta, fr = laminate_model.debye_terms
    np.testing.assert_allclose(eps_inf + sum(d / (1 + 1j * freq / f) for d, f in zip(delta, fr)), eps,
                               rtol=SAME_MODEL)
    np.testing.assert_allclose(laminate_model.fitted()[1], -eps.imag / eps.real, rtol=SAME_MODEL)
    grid = np.logspace(6, 12, 12).reshape(3, 4)
    dk, df = laminate_model.evaluate(grid)
    assert dk.shape == df.shape == (3, 4)
    assert laminate_model.evaluate(1e9)[0].shape == ()
    report = laminate_model.to_dict()
    assert report["model"]["order"] == laminate_model.order
    assert report["errors"]["df_max_relative"] == laminate_model.max_error.df
    assert laminate_model.expressions() == (report["expressions"]["dk"], report["expressions"]["df"])
    assert report["expressions"]["variable"] == "Freq"
    assert "*f_hz^2" in laminate_model.expressions(var="f_hz")[0].replace(" ", "")


def test_keywords_reach_the_fit():
    data = samples(LAMINATE, 60, 1e7, 5e10)
    assert matmodel.fit(*data, measured_dk=True).to_dict()["model"]["causal_reconstruction"] is False
    assert matmodel.fit(*data, max_order=2).order == 2
    with pytest.raises(RuntimeError, match=r"^fit failed: the model misses the target of 0\.001 %"):
        matmodel.fit(*data, max_order=1, target=0.001)
    freq, dk, df = samples(SINGLE_POLE, 40, 1e3, 1e9)
    lossy = df + 1e-4 / (TWO_PI * freq * 8.854187817e-12 * dk)
    assert matmodel.fit(freq, dk, lossy).dc_conductivity == pytest.approx(1e-4, rel=0.01)
    assert matmodel.fit(freq, dk, lossy, sigma=1e-4).to_dict()["conduction"]["given"] is True
    assert matmodel.fit(freq, dk, 2.4e-12 * freq, conductivity=True).to_dict()["input"]["kind"] == "conductivity"
    point = matmodel.wideband(4.0, 0.02, 1e9, 1e10, sigma=1e-4, dc_dk=4.3)
    assert point.dc_conductivity == pytest.approx(1e-4, rel=1e-3)
    assert point.to_dict()["input"]["dc_dk"] == 4.3
    with pytest.raises(TypeError):
        matmodel.wideband(4.0, 0.02, 1e9, 1e10, 1e-4)


def test_read_gives_the_files_samples_in_hertz():
    freq, dk, df = matmodel.read(EXAMPLES / "broadband.csv")
    assert freq.dtype == np.float64 and len(freq) == 61
    assert (freq[0], dk[0], df[0]) == (pytest.approx(1e6), 4.6244, 0.01569)
    assert matmodel.read(str(EXAMPLES / "conductive.tsv"), conductivity=True)[0][0] == pytest.approx(10e6)


def test_exports_take_their_keywords(laminate_model):
    assert "C0 = 2e-12 F" in laminate_model.to_spice(name="core", c0=2e-12)
    assert "up to 5 GHz" in laminate_model.to_openems(fmax=5e9, name="core")
    assert laminate_model.to_gprmax(material_id="core").endswith(" core\n")
