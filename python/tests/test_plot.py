# Model.plot(): measured points and the model curve on the axes it is given,
# and a clear ImportError when it would need matplotlib and there is none.
import sys
from unittest import mock

import numpy as np
import pytest

import matmodel
from materials import LAMINATE, samples


@pytest.fixture(scope="module")
def model():
    freq, dk, df = samples(LAMINATE, 30, 1e7, 5e10)
    # A 0 Hz sample has no place on a logarithmic axis and must not break it.
    return matmodel.fit(np.r_[0.0, freq], np.r_[dk[0], dk], np.r_[df[0], df])


def test_draws_measured_points_and_the_model_a_decade_beyond_them(model):
    ax_dk, ax_df = mock.Mock(), mock.Mock()
    assert model.plot(ax=(ax_dk, ax_df)) == (ax_dk, ax_df)
    freq, dk, df = model.samples
    for ax, name, measured, column in ((ax_dk, "Dk", dk, 0), (ax_df, "Df", df, 1)):
        ax.set_xscale.assert_called_once_with("log")
        ax.set_ylabel.assert_called_once_with(name)
        ax.legend.assert_called_once_with()
        points, curve = ax.plot.call_args_list
        assert (points.kwargs["label"], curve.kwargs["label"]) == ("measured " + name, "model " + name)
        np.testing.assert_array_equal(points.args[0], freq[1:])
        np.testing.assert_array_equal(points.args[1], measured[1:])
        assert curve.args[0][0] == pytest.approx(1e6) and curve.args[0][-1] == pytest.approx(5e11)
        np.testing.assert_array_equal(curve.args[1], model.evaluate(curve.args[0])[column])
    ax_df.set_xlabel.assert_called_once_with("frequency (Hz)")
    # One axes gets Df on its twin.
    ax = mock.Mock()
    assert model.plot(ax=ax) == (ax, ax.twinx.return_value)
    assert ax.twinx.return_value.plot.call_args.kwargs["label"] == "model Df"


def test_a_new_figure_without_matplotlib_is_a_clear_import_error(model, monkeypatch):
    # None in sys.modules makes the import fail, installed or not.
    monkeypatch.setitem(sys.modules, "matplotlib", None)
    monkeypatch.setitem(sys.modules, "matplotlib.pyplot", None)
    with pytest.raises(ImportError, match=r"Model.plot\(\) needs matplotlib"):
        model.plot()


def test_draws_a_new_figure_with_matplotlib(model):
    matplotlib = pytest.importorskip("matplotlib")
    matplotlib.use("Agg")
    ax_dk, ax_df = model.plot()
    assert len(ax_dk.get_lines()) == 2 and len(ax_df.get_lines()) == 2
    assert ax_dk.get_xscale() == "log"
