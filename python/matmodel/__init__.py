"""Causal, passive multi-pole Debye models of measured dielectric data.

    import matmodel
    model = matmodel.fit(freq, dk, df)        # numpy arrays, freq in Hz
    dk_fit, df_fit = model.evaluate(freq)
    dk_text, df_text = model.expressions("F")

The models are fitted by the C++ library (module matmodel._core); this file
adds only Model.plot(), which needs matplotlib.
"""
import numpy as _np

from ._core import DebyeTerms, MaxError, Model, __version__, fit, read, wideband

__all__ = ["DebyeTerms", "MaxError", "Model", "fit", "read", "wideband"]

# The model curve reaches a decade beyond the samples on both sides, where a
# badly placed pole would show.
_PLOT_MARGIN_DECADES = 1.0
_PLOT_POINTS = 400


def _plot(self, ax=None):
    """Draws the measured and fitted Dk and Df over a logarithmic frequency axis.

    ax: None for a new figure with a Dk and a Df panel; one Axes (Dk on it, Df on
    its twin axis); or a pair (ax_dk, ax_df). Returns (ax_dk, ax_df). A new
    figure needs matplotlib; ImportError says so when it is missing.
    """
    if ax is None:
        try:
            import matplotlib.pyplot as plt
        except ImportError as e:
            raise ImportError(
                "Model.plot() needs matplotlib, which is not installed "
                "(apt-get install python3-matplotlib, or pip install matplotlib); "
                "or pass the axes to draw on"
            ) from e
        _, (ax_dk, ax_df) = plt.subplots(2, 1, sharex=True)
    elif isinstance(ax, (tuple, list)):
        ax_dk, ax_df = ax
    else:
        ax_dk, ax_df = ax, ax.twinx()

    freq, dk, df = self.samples
    shown = freq > 0  # 0 Hz has no place on a logarithmic axis
    decades = _np.log10(freq[shown])
    grid = _np.logspace(decades.min() - _PLOT_MARGIN_DECADES,
                        decades.max() + _PLOT_MARGIN_DECADES, _PLOT_POINTS)
    dk_model, df_model = self.evaluate(grid)

    # One colour per quantity, so that Dk and Df stay apart on shared axes.
    ax_dk.plot(freq[shown], dk[shown], "o", color="C0", label="measured Dk")
    ax_dk.plot(grid, dk_model, "-", color="C0", label="model Dk")
    ax_df.plot(freq[shown], df[shown], "s", color="C1", label="measured Df")
    ax_df.plot(grid, df_model, "--", color="C1", label="model Df")
    for a, name in ((ax_dk, "Dk"), (ax_df, "Df")):
        a.set_xscale("log")
        a.set_ylabel(name)
        a.legend()
    ax_df.set_xlabel("frequency (Hz)")
    return ax_dk, ax_df


Model.plot = _plot
