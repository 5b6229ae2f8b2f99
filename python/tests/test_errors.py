"""Bad input is a ValueError and a failed fit a RuntimeError, each with the
library's sentence; arrays the library cannot take are refused first."""
import numpy as np
import pytest

import matmodel
from materials import LAMINATE, samples

FREQ, DK, DF = samples(LAMINATE, 8, 1e8, 2e10)


def changed(index, value, array):
    out = array.copy()
    out[index] = value
    return out


@pytest.mark.parametrize("call, message", [
    (lambda: matmodel.fit(FREQ, changed(5, 0.999, DK), DF),
     "Relative permittivity (Dk) values must not be less than 1."),
    (lambda: matmodel.fit(FREQ, DK[:5], DF), "freq, dk and df must have the same length; they have 8, 5 and 8"),
    (lambda: matmodel.fit(FREQ.reshape(2, 4), DK, DF), "freq must be one-dimensional; it has 2 dimensions"),
    (lambda: matmodel.fit(FREQ, changed(6, np.nan, DK), DF), "dk[6] is nan; every value must be a finite number"),
    (lambda: matmodel.fit(FREQ, DK, DF, target=0), "target must be a percentage above 0 and below 100; it is 0.0"),
    (lambda: matmodel.fit(FREQ, DK, DF, max_order=0), "max_order must be at least 1; it is 0"),
    (lambda: matmodel.fit(FREQ, DK, DF, sigma=-1.0), "sigma must be a conductivity of 0 S/m or more; it is -1.0"),
    (lambda: matmodel.wideband(0.5, 0.02, 1e9, 1e10), "Dk 0.5 is below 1"),
], ids=["library", "lengths", "2-D", "NaN", "target", "max_order", "sigma", "wideband"])
def test_bad_input_is_a_value_error_with_a_sentence_naming_it(call, message):
    with pytest.raises(ValueError) as refused:
        call()
    assert str(refused.value) == message


def test_a_file_the_reader_refuses_is_a_value_error_naming_file_and_line(tmp_path):
    path = tmp_path / "bad.txt"
    path.write_text("1e9 3.7 0.01\n2e9 3,7 0.01\n")
    with pytest.raises(ValueError, match=r'bad\.txt:2: Dk "3,7" is not a number \(use a decimal point\)'):
        matmodel.read(path)


def test_a_fit_that_fails_is_a_runtime_error_with_the_reason():
    freq = np.logspace(8, 10.3, 8)
    with pytest.raises(RuntimeError) as failed:
        matmodel.fit(freq, np.full(8, 2.5), np.full(8, 1.0))
    assert not isinstance(failed.value, ValueError)
    assert str(failed.value).startswith("fit failed: ")
    assert "; the Kramers-Kronig Dk falls to -" in str(failed.value)
