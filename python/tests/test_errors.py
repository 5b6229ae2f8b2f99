# Bad input is a ValueError and a failed fit a RuntimeError, each with the
# library's sentence; arrays the library cannot take are refused first.
import numpy as np
import pytest

import matmodel
from materials import LAMINATE, samples

FREQ, DK, DF = samples(LAMINATE, 8, 1e8, 2e10)
FAILED = "fit failed: "  # a failed fit's sentence starts so; the rest is the library's


def changed(k, value):  # DK with sample k replaced by `value`
    return np.where(np.arange(8) == k, value, DK)


@pytest.mark.parametrize("call, message", [
    (lambda: matmodel.fit(FREQ, DK[:5], DF), "freq, dk and df must have the same length; they have 8, 5 and 8"),
    (lambda: matmodel.fit(FREQ.reshape(2, 4), DK, DF), "freq must be one-dimensional; it has 2 dimensions"),
    (lambda: matmodel.fit(FREQ, changed(6, np.nan), DF), "dk[6] is nan; every value must be a finite number"),
    (lambda: matmodel.fit(FREQ, DK, DF, target=0), "target must be a percentage above 0 and below 100; it is 0.0"),
    (lambda: matmodel.fit(FREQ, DK, DF, target=100), "target must be a percentage above 0 and below 100; it is 100.0"),
    (lambda: matmodel.fit(FREQ, DK, DF, max_order=0), "max_order must be at least 1; it is 0"),
    (lambda: matmodel.fit(FREQ, DK, DF, sigma=-1.0), "sigma must be a conductivity of 0 S/m or more; it is -1.0"),
    # The library's and the reader's refusals, and an export's.
    (lambda: matmodel.fit(FREQ, changed(5, 0.999), DF), "Relative permittivity (Dk) values must not be less than 1."),
    (lambda: matmodel.read("/nonexistent/m.txt"), "/nonexistent/m.txt: cannot open: No such file or directory"),
    (lambda: matmodel.fit(FREQ, DK, DF).to_spice(c0=0.0), "the vacuum capacitance C0 0 F is not a positive number"),
    (lambda: matmodel.fit(FREQ, np.full(8, 2.5), np.full(8, 1.0)), FAILED),
])
def test_errors_reach_python_with_the_librarys_sentence(call, message):
    with pytest.raises(Exception) as raised:
        call()
    assert type(raised.value) is (RuntimeError if message == FAILED else ValueError)
    assert str(raised.value) == message or message == FAILED and str(raised.value).startswith(FAILED)
