# Dielectric data with known answers, shared by the test files.
import numpy as np

# Debye relaxations planted in the data: eps_inf + sum delta / (1 + j f / fr).
SINGLE_POLE = (3.0, [(1.0, 1e9)])
LAMINATE = (3.6, [(0.15, 3e8), (0.08, 2e10)])


def samples(material, n, lo, hi):
    # (freq, dk, df) on n logarithmically spaced points from lo to hi Hz.
    freq = np.logspace(np.log10(lo), np.log10(hi), n)
    eps_inf, terms = material
    eps = eps_inf + sum(delta / (1 + 1j * freq / fr) for delta, fr in terms)
    return freq, eps.real, -eps.imag / eps.real
