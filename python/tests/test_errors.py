"""Bad input is a ValueError and a failed fit a RuntimeError, each carrying the
library's (or the tool's) exact sentence."""
import numpy as np
import pytest

import matmodel
from materials import LAMINATE, samples

FREQ, DK, DF = samples(LAMINATE, 8, 1e8, 2e10)


def changed(index, value, array):
    out = array.copy()
    out[index] = value
    return out


@pytest.mark.parametrize("args, message", [
    ((changed(3, -1.0, FREQ), DK, DF), "Frequency must be non-negative."),
    ((FREQ, changed(5, 0.999, DK), DF), "Relative permittivity (Dk) values must not be less than 1."),
    ((FREQ, DK, changed(0, -1e-3, DF)), "Loss tangent (Df) values must be non-negative."),
    ((FREQ[:2], DK[:2], DF[:2]), "Please provide at least 3 data points."),
], ids=["negative frequency", "Dk below 1", "negative Df", "two samples"])
def test_the_library_refuses_bad_samples(args, message):
    with pytest.raises(ValueError) as refused:
        matmodel.fit(*args)
    assert str(refused.value) == message


def test_a_negative_conductivity_gets_the_library_sentence():
    with pytest.raises(ValueError, match=r"^Loss tangent \(Df\) values must be non-negative\.$"):
        matmodel.fit(FREQ, DK, changed(2, -1.0, DF), conductivity=True)


@pytest.mark.parametrize("args, message", [
    ((FREQ, DK[:5], DF), "freq, dk and df must have the same length; they have 8, 5 and 8"),
    ((FREQ.reshape(2, 4), DK, DF), "freq must be one-dimensional; it has 2 dimensions"),
    ((FREQ, DK, DF.reshape(2, 4)), "df must be one-dimensional; it has 2 dimensions"),
    ((FREQ, changed(6, np.nan, DK), DF), "dk[6] is nan; every value must be a finite number"),
    ((changed(1, np.inf, FREQ), DK, DF), "freq[1] is inf; every value must be a finite number"),
], ids=["lengths", "2-D freq", "2-D df", "NaN", "infinity"])
def test_arrays_the_library_cannot_take_are_refused_before_it_runs(args, message):
    with pytest.raises(ValueError) as refused:
        matmodel.fit(*args)
    assert str(refused.value) == message


def test_a_fit_that_fails_is_a_runtime_error_with_the_engine_sentence():
    # Df around 1: the Kramers-Kronig Dk of this band turns negative and no
    # passive model comes near it.
    freq = [1e8, 2e8, 5e8, 1e9, 2e9, 5e9, 1e10, 2e10]
    dk = [2.6, 2.57, 2.52, 2.49, 2.46, 2.42, 2.39, 2.35]
    df = [1.38, 1.22, 1.03, 0.91, 0.8, 0.68, 0.6, 0.54]
    with pytest.raises(RuntimeError) as failed:
        matmodel.fit(freq, dk, df)
    assert not isinstance(failed.value, ValueError)
    assert str(failed.value).startswith(
        "fit failed: The sample at index 6 (1e+10 Hz) has a negative real part")
    assert "; the Kramers-Kronig Dk falls to -" in str(failed.value)


def test_a_repeated_frequency_reaches_the_engine_and_is_named():
    with pytest.raises(RuntimeError, match=r"the frequency 1e\+09 Hz occurs more than once"):
        matmodel.fit(np.r_[FREQ, 1e9, 1e9], np.r_[DK, 4.0, 4.0], np.r_[DF, 0.01, 0.01])


@pytest.mark.parametrize("kwargs, message", [
    (dict(dk=0.5), "Dk 0.5 is below 1"),
    (dict(df=-0.1), "Df -0.1 is negative"),
    (dict(freq=0.0), "the measurement frequency must be above 0 Hz"),
    (dict(sigma=float("nan")), "every single-point value must be a finite number"),
    (dict(max_freq=2.0), "the maximum frequency 2 Hz gives fewer than 3 samples (the table starts at 1 Hz)"),
], ids=["Dk", "Df", "frequency", "NaN sigma", "top frequency"])
def test_wideband_refuses_a_point_without_a_physical_model(kwargs, message):
    point = dict(dk=4.0, df=0.02, freq=1e9, max_freq=1e10)
    point.update(kwargs)
    with pytest.raises(ValueError) as refused:
        matmodel.wideband(**point)
    assert str(refused.value) == message
