"""Dielectric data with known answers, shared by the test files."""
import numpy as np

# Debye relaxations planted in the data: eps_inf + sum delta / (1 + j f / fr).
SINGLE_POLE = (3.0, [(1.0, 1e9)])
LAMINATE = (3.6, [(0.15, 3e8), (0.08, 2e10)])


def debye(freq, material):
    eps_inf, terms = material
    eps = np.full(np.shape(freq), eps_inf, dtype=complex)
    for delta, fr in terms:
        eps += delta / (1 + 1j * np.asarray(freq) / fr)
    return eps


def dk_df(eps):
    return eps.real, -eps.imag / eps.real


def samples(material, n, lo, hi):
    """(freq, dk, df) on n logarithmically spaced points from lo to hi Hz."""
    freq = np.logspace(np.log10(lo), np.log10(hi), n)
    return (freq, *dk_df(debye(freq, material)))


def wideband_table():
    """The 161-point case: 1 kHz to 100 GHz, 20 points per decade, of
    eps = 3.74 + 0.0511 ln((f2 + j f) / (f1 + j f))."""
    f1, f2 = 7.04e4, 1.5915e11
    freq = 10.0 ** (3 + np.arange(161) / 20)
    eps = 3.74 + 0.0511 * np.log((f2 + 1j * freq) / (f1 + 1j * freq))
    return (freq, *dk_df(eps))


def evaluate_expression(text, var, freq):
    """Evaluates an expression text as a simulator would (only numbers,
    + - * /, parentheses and powers of the variable)."""
    return eval(text.replace("^", "**"), {"__builtins__": {}}, {var: np.asarray(freq)})
