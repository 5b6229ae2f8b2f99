# fit(), wideband() and read(): arrays in any form in, the library's model out
# in the caller's order, its views agreeing with one another, and the keywords
# reaching the library. (What the fit gives is the C++ suites' to test.)
import pathlib

import numpy as np
import pytest

import matmodel
from materials import LAMINATE, SINGLE_POLE, samples

SAME_MODEL = 1e-12  # two evaluations of one rational function differ by rounding
EXAMPLES = pathlib.Path(__file__).resolve().parents[2] / "examples"
DATA = samples(LAMINATE, 40, 1e7, 5e10)
MODEL = matmodel.fit(*DATA)


def test_arrays_in_any_form_and_order_give_one_model_with_results_in_the_callers_order():
    freq, dk, df = (a.copy() for a in DATA)
    model = matmodel.fit(freq, dk, df)
    freq[:] = 1.0  # the model keeps its own copy
    np.testing.assert_array_equal(model.samples[0], DATA[0])
    np.testing.assert_array_equal(matmodel.fit(*(list(a) for a in DATA)).poles, MODEL.poles)
    # Strided views are copied, not misread.
    np.testing.assert_array_equal(matmodel.fit(*np.repeat(np.stack(DATA), 2, axis=1)[:, ::2]).residues, MODEL.residues)
    assert MODEL.poles.dtype == MODEL.residues.dtype == np.complex128 and MODEL.poles.shape == (MODEL.order,)
    shuffle = np.random.default_rng(20240607).permutation(40)
    shuffled = matmodel.fit(*(a[shuffle] for a in DATA))
    np.testing.assert_array_equal(shuffled.poles, MODEL.poles)
    np.testing.assert_array_equal(shuffled.samples[0], DATA[0][shuffle])
    np.testing.assert_array_equal(shuffled.fitted()[0], MODEL.fitted()[0][shuffle])
    assert shuffled.to_dict()["input"]["sorted_by_tool"] is True


def test_poles_terms_fitted_values_evaluate_expressions_and_report_are_one_model():
    freq = MODEL.samples[0]
    s = 2j * np.pi * freq
    eps = MODEL.residue_at_infinity + sum(r / (s - p) for p, r in zip(MODEL.poles, MODEL.residues))
    eps_inf, delta, fr = MODEL.debye_terms
    np.testing.assert_allclose(eps_inf + sum(d / (1 + 1j * freq / f) for d, f in zip(delta, fr)), eps, rtol=SAME_MODEL)
    np.testing.assert_allclose(MODEL.fitted()[1], -eps.imag / eps.real, rtol=SAME_MODEL)
    np.testing.assert_allclose(MODEL.evaluate(freq)[0], eps.real, rtol=SAME_MODEL)
    assert [a.shape for a in MODEL.evaluate(np.ones((3, 4)))] == [(3, 4)] * 2 and MODEL.evaluate(1e9)[0].shape == ()
    report = MODEL.to_dict()
    assert (report["model"]["order"], report["errors"]["df_max_relative"], report["passivity"]["passive"]) == (
        MODEL.order, MODEL.max_error.df, MODEL.is_passive)
    assert repr(MODEL).startswith(f"<matmodel.Model: {MODEL.order} poles, eps_inf ")
    assert MODEL.expressions() == (report["expressions"]["dk"], report["expressions"]["df"])
    assert "*f_hz^2" in MODEL.expressions(var="f_hz")[0].replace(" ", "")


def test_keywords_reach_the_library():
    assert matmodel.fit(*DATA, measured_dk=True).to_dict()["model"]["causal_reconstruction"] is False
    with pytest.raises(RuntimeError, match=r"^fit failed: the model misses the target of 0\.001 %.*stopped at order 1 "):
        matmodel.fit(*DATA, max_order=1, target=0.001)
    freq, dk, df = samples(SINGLE_POLE, 40, 1e3, 1e9)
    lossy = df + 1e-4 / (2 * np.pi * freq * 8.854187817e-12 * dk)
    assert matmodel.fit(freq, dk, lossy, sigma=1e-4).to_dict()["conduction"]["wanted_s_per_m"] == 1e-4
    assert matmodel.fit(freq, dk, 2.4e-12 * freq, conductivity=True).to_dict()["input"]["kind"] == "conductivity"
    point = matmodel.wideband(4.0, 0.02, 1e9, 1e10, sigma=1e-4, dc_dk=4.3).to_dict()["input"]
    assert (point["sigma_s_per_m"], point["dc_dk"]) == (1e-4, 4.3)
    with pytest.raises(TypeError):
        matmodel.wideband(4.0, 0.02, 1e9, 1e10, 1e-4)
    assert "C0 = 2e-12 F" in MODEL.to_spice(c0=2e-12) and ".subckt core a b" in MODEL.to_spice(name="core")
    assert "up to 5 GHz" in MODEL.to_openems(fmax=5e9) and 'Name="core"' in MODEL.to_openems(name="core")
    assert MODEL.to_gprmax(material_id="core").endswith(" core\n")


def test_read_gives_the_files_samples_in_hertz():
    freq, dk, df = matmodel.read(EXAMPLES / "broadband.csv")
    assert freq.dtype == np.float64 and len(freq) == 61
    assert (freq[0], dk[0], df[0]) == (pytest.approx(1e6), 4.6244, 0.01569)
    assert matmodel.read(str(EXAMPLES / "conductive.tsv"), conductivity=True)[0][0] == pytest.approx(10e6)
    assert matmodel.read(EXAMPLES / "laminate.txt", freq_unit="GHz")[0][0] == 1e18
