"""fit() and wideband(): arrays in and out, planted models recovered, and the
model's views (poles, Debye terms, fitted values, expressions, report) agreeing
with one another."""
import numpy as np
import pytest

import matmodel
from materials import LAMINATE, SINGLE_POLE, debye, evaluate_expression, samples

TWO_PI = 2 * np.pi
# Two evaluations of the same few-term rational function differ by rounding.
SAME_MODEL = 1e-12
# Expression coefficients carry eight significant digits.
EXPRESSION_DIGITS = 1e-6
# fit() fits the Kramers-Kronig Dk, not the planted one: the loss is cut off
# at the band edges, which shifts Dk by a few 1e-5 for the single pole here.
RECONSTRUCTION = 1e-3


@pytest.fixture(scope="module")
def laminate_model():
    return matmodel.fit(*samples(LAMINATE, 60, 1e7, 5e10))


def test_arrays_in_any_numeric_form_give_the_same_model():
    freq, dk, df = samples(LAMINATE, 30, 1e7, 5e10)
    reference = matmodel.fit(freq, dk, df)
    from_lists = matmodel.fit(list(freq), list(dk), list(df))
    np.testing.assert_array_equal(from_lists.poles, reference.poles)
    # Strided views are copied, not read with the wrong stride.
    doubled = np.repeat(np.stack([freq, dk, df]), 2, axis=1)
    from_views = matmodel.fit(doubled[0, ::2], doubled[1, ::2], doubled[2, ::2])
    np.testing.assert_array_equal(from_views.residues, reference.residues)

    assert reference.poles.dtype == np.complex128
    assert reference.residues.dtype == np.complex128
    assert reference.poles.shape == reference.residues.shape == (reference.order,)
    fitted_dk, fitted_df = reference.fitted()
    assert fitted_dk.dtype == np.float64 and fitted_dk.shape == fitted_df.shape == (30,)

    # The model keeps its own copy of the samples.
    freq[:] = 1.0
    np.testing.assert_array_equal(reference.samples[1], dk)
    assert reference.samples[0][0] == pytest.approx(1e7)


def test_evaluate_keeps_the_shape_of_its_argument(laminate_model):
    grid = np.logspace(6, 12, 12).reshape(3, 4)
    dk, df = laminate_model.evaluate(grid)
    assert dk.shape == df.shape == (3, 4)
    flat_dk, flat_df = laminate_model.evaluate(grid.ravel())
    np.testing.assert_array_equal(dk.ravel(), flat_dk)
    one_dk, one_df = laminate_model.evaluate(1e9)
    assert one_dk.shape == one_df.shape == ()
    assert (float(one_dk), float(one_df)) == tuple(v[0] for v in laminate_model.evaluate([1e9]))


def test_recovers_a_planted_single_debye_pole():
    model = matmodel.fit(*samples(SINGLE_POLE, 101, 1e6, 1e11))
    assert model.order == 1
    assert model.poles[0].imag == 0
    assert model.poles[0].real == pytest.approx(-TWO_PI * 1e9, rel=RECONSTRUCTION)
    assert model.residues[0].real == pytest.approx(TWO_PI * 1e9, rel=RECONSTRUCTION)
    assert model.residue_at_infinity == pytest.approx(3.0, rel=RECONSTRUCTION)
    eps_inf, delta, fr = model.debye_terms
    assert eps_inf == model.residue_at_infinity
    assert delta == pytest.approx([1.0], rel=RECONSTRUCTION)
    assert fr == pytest.approx([1e9], rel=RECONSTRUCTION)
    assert model.max_error.dk < RECONSTRUCTION and model.max_error.df < RECONSTRUCTION
    assert model.is_passive

    # Far outside the band the model still is the planted material.
    wide = np.logspace(3, 14, 45)
    dk, df = model.evaluate(wide)
    planted = debye(wide, SINGLE_POLE)
    np.testing.assert_allclose(dk, planted.real, rtol=RECONSTRUCTION)
    np.testing.assert_allclose(dk * df, -planted.imag, rtol=RECONSTRUCTION, atol=1e-9)


def test_recovers_two_planted_relaxations(laminate_model):
    eps_inf, delta, fr = laminate_model.debye_terms
    # The reconstruction may add a negligible term; the two planted ones carry the weight.
    main = np.argsort(delta)[-2:]
    assert sorted(fr[main]) == pytest.approx([3e8, 2e10], rel=0.05)
    assert sorted(delta[main]) == pytest.approx([0.08, 0.15], rel=0.05)
    assert eps_inf + delta.sum() == pytest.approx(3.83, rel=0.01)


def test_poles_debye_terms_and_fitted_values_describe_one_model(laminate_model):
    freq, _, _ = laminate_model.samples
    s = 1j * TWO_PI * freq
    eps = laminate_model.residue_at_infinity + sum(
        r / (s - p) for p, r in zip(laminate_model.poles, laminate_model.residues))
    eps_inf, delta, fr = laminate_model.debye_terms
    from_terms = eps_inf + sum(d / (1 + 1j * freq / f) for d, f in zip(delta, fr))
    np.testing.assert_allclose(from_terms, eps, rtol=SAME_MODEL)

    fitted_dk, fitted_df = laminate_model.fitted()
    np.testing.assert_allclose(fitted_dk, eps.real, rtol=SAME_MODEL)
    np.testing.assert_allclose(fitted_df, -eps.imag / eps.real, rtol=SAME_MODEL)
    assert np.all(np.diff(fr) >= 0)


def test_unsorted_input_gives_the_sorted_model_with_results_in_input_order():
    freq, dk, df = samples(LAMINATE, 40, 1e7, 5e10)
    shuffle = np.random.default_rng(20240607).permutation(40)
    model = matmodel.fit(freq[shuffle], dk[shuffle], df[shuffle])
    reference = matmodel.fit(freq, dk, df)
    np.testing.assert_array_equal(model.poles, reference.poles)

    np.testing.assert_array_equal(model.samples[0], freq[shuffle])
    fitted_dk, fitted_df = model.fitted()
    np.testing.assert_array_equal(fitted_dk, reference.fitted()[0][shuffle])
    dk_at, df_at = model.evaluate(freq[shuffle])
    np.testing.assert_allclose(dk_at, fitted_dk, rtol=SAME_MODEL)
    np.testing.assert_allclose(df_at, fitted_df, rtol=SAME_MODEL)
    assert model.to_dict()["input"]["sorted_by_tool"] is True
    assert reference.to_dict()["input"]["sorted_by_tool"] is False


@pytest.mark.parametrize("var", ["F", "Freq", "f_hz"])
def test_expressions_evaluate_to_the_model(laminate_model, var):
    dk_text, df_text = laminate_model.expressions(var=var)
    grid = np.logspace(5, 12, 29)
    dk, df = laminate_model.evaluate(grid)
    np.testing.assert_allclose(evaluate_expression(dk_text, var, grid), dk, rtol=EXPRESSION_DIGITS)
    np.testing.assert_allclose(evaluate_expression(df_text, var, grid), df, rtol=EXPRESSION_DIGITS)


def test_to_dict_is_the_report_of_this_model(laminate_model):
    report = laminate_model.to_dict()
    assert report["status"] == "ok"
    assert report["input"]["samples"] == 60
    assert report["input"]["kind"] == "loss_tangent"
    model = report["model"]
    assert model["order"] == laminate_model.order
    assert model["causal_reconstruction"] is True
    assert [complex(p["re"], p["im"]) for p in model["poles"]] == list(laminate_model.poles)
    assert model["residue_at_infinity"] == laminate_model.residue_at_infinity
    assert report["errors"]["dk_max_relative"] == laminate_model.max_error.dk
    assert report["errors"]["df_max_relative"] == laminate_model.max_error.df
    assert report["passivity"]["passive"] == laminate_model.is_passive
    # The report's expressions are expressions()' default.
    assert report["expressions"]["variable"] == "Freq"
    assert laminate_model.expressions() == (report["expressions"]["dk"], report["expressions"]["df"])


def test_conductivity_fits_like_the_loss_tangent_it_gives():
    freq = np.logspace(7, 10, 25)
    dk = np.full(25, 6.2)
    sigma = 2.4e-6 * freq / 1e6  # S/m: a loss tangent of about 7e-3
    model = matmodel.fit(freq, dk, sigma, conductivity=True)
    assert model.to_dict()["input"]["kind"] == "conductivity"
    e0 = 8.854187817e-12
    as_df = matmodel.fit(freq, dk, sigma / (TWO_PI * freq * e0 * dk))
    np.testing.assert_allclose(model.samples[2], as_df.samples[2], rtol=1e-12)
    assert model.order == as_df.order
    np.testing.assert_allclose(model.poles, as_df.poles, rtol=1e-6)


def test_wideband_models_its_synthesised_table():
    model = matmodel.wideband(4.0, 0.02, 1e9, 1e10)
    freq, dk, df = model.samples
    # Five samples per decade from 1 Hz to the top frequency.
    np.testing.assert_allclose(freq, 10.0 ** (np.arange(51) / 5), rtol=1e-9)
    assert model.to_dict()["model"]["causal_reconstruction"] is False
    # The measured point is on the synthesised curve (the slope neglects the
    # lower corner's pull on the loss, ~5e-5 here).
    at = np.argmin(abs(freq - 1e9))
    assert (dk[at], df[at]) == pytest.approx((4.0, 0.02), rel=1e-4)
    fitted_dk, fitted_df = model.fitted()
    np.testing.assert_allclose(model.evaluate(freq)[0], fitted_dk, rtol=SAME_MODEL)
    assert model.max_error.dk < 0.01 and model.max_error.df < 0.01
    assert model.is_passive


def test_wideband_keywords_reach_the_model():
    dc = matmodel.wideband(4.0, 0.02, 1e9, 1e10, dc_dk=4.3)
    assert dc.evaluate(0.0)[0] == pytest.approx(4.3, rel=0.01)
    lossy = matmodel.wideband(4.0, 0.02, 1e9, 1e10, sigma=1e-4)
    assert lossy.to_dict()["model"]["dc_conductivity_s_per_m"] == pytest.approx(1e-4, rel=1e-3)
    # Conduction is reported as a conductivity, not as a huge Debye term.
    assert lossy.dc_conductivity == pytest.approx(1e-4, rel=1e-3)
    assert dc.dc_conductivity == 0.0
    assert lossy.order == len(lossy.debye_terms.delta_eps) + 1
    assert lossy.debye_terms.delta_eps.max() < 1.0
    with pytest.raises(TypeError):
        matmodel.wideband(4.0, 0.02, 1e9, 1e10, 1e-4)
    with pytest.raises(TypeError):
        matmodel.fit(*samples(LAMINATE, 10, 1e8, 1e10), True)


def test_exports_take_their_keywords(laminate_model):
    assert "C0 = 2e-12 F" in laminate_model.to_spice(name="core", c0=2e-12)
    assert "up to 5 GHz" in laminate_model.to_openems(fmax=5e9, name="core")
    assert laminate_model.to_gprmax(material_id="core").endswith(" core\n")
