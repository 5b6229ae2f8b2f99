"""Model.plot(): measured points and the model curve on the axes it is given,
and a clear ImportError when it would need matplotlib and there is none."""
import sys

import numpy as np
import pytest

import matmodel
from materials import LAMINATE, samples


class RecordingAxes:
    """Stands in for a matplotlib Axes: keeps what is drawn on it."""

    def __init__(self):
        self.lines, self.xscale, self.ylabel, self.xlabel, self.legend_shown = [], None, None, None, False
        self.twin = None

    def plot(self, x, y, style, label, **kwargs):
        self.lines.append((np.asarray(x), np.asarray(y), style, label))

    def set_xscale(self, scale):
        self.xscale = scale

    def set_ylabel(self, text):
        self.ylabel = text

    def set_xlabel(self, text):
        self.xlabel = text

    def legend(self):
        self.legend_shown = True

    def twinx(self):
        self.twin = RecordingAxes()
        return self.twin


@pytest.fixture(scope="module")
def model():
    freq, dk, df = samples(LAMINATE, 30, 1e7, 5e10)
    # A 0 Hz sample has no place on a logarithmic axis and must not break it.
    return matmodel.fit(np.r_[0.0, freq], np.r_[dk[0], dk], np.r_[df[0], df])


def test_draws_measured_points_and_the_model_beyond_them(model):
    ax_dk, ax_df = RecordingAxes(), RecordingAxes()
    assert model.plot(ax=(ax_dk, ax_df)) == (ax_dk, ax_df)
    freq, dk, df = model.samples
    for ax, measured, column in ((ax_dk, dk, 0), (ax_df, df, 1)):
        assert ax.xscale == "log" and ax.legend_shown
        (points_x, points_y, _, _), (curve_x, curve_y, _, _) = ax.lines
        np.testing.assert_array_equal(points_x, freq[1:])
        np.testing.assert_array_equal(points_y, measured[1:])
        # A decade beyond the samples on both sides, and the model's values.
        assert curve_x[0] == pytest.approx(1e6) and curve_x[-1] == pytest.approx(5e11)
        np.testing.assert_array_equal(curve_y, model.evaluate(curve_x)[column])
    assert (ax_dk.ylabel, ax_df.ylabel, ax_df.xlabel) == ("Dk", "Df", "frequency (Hz)")


def test_one_axes_gets_df_on_its_twin(model):
    ax = RecordingAxes()
    ax_dk, ax_df = model.plot(ax=ax)
    assert ax_dk is ax and ax_df is ax.twin
    assert [line[3] for line in ax.lines] == ["measured Dk", "model Dk"]
    assert [line[3] for line in ax.twin.lines] == ["measured Df", "model Df"]


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
