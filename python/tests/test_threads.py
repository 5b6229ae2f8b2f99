"""Threads fitting different materials side by side: each gets the model it
would get alone. (How much faster they finish is measured in
python/bench/overhead.py, not asserted here.)"""
from concurrent.futures import ThreadPoolExecutor

import numpy as np

import matmodel
from materials import LAMINATE, SINGLE_POLE, samples

THREADS = 4
ROUNDS = 3


def materials():
    return [
        # Large tables, so that the fits (a few ms each) overlap.
        samples(LAMINATE, 2001, 1e6, 1e11),
        samples(SINGLE_POLE, 1501, 1e6, 1e11),
        samples((4.1, [(0.3, 5e6), (0.1, 1e9), (0.05, 4e10)]), 2501, 1e5, 1e11),
    ]


def summary(model):
    return model.poles, model.residues, model.residue_at_infinity, model.expressions()


def assert_same(got, expected):
    np.testing.assert_array_equal(got[0], expected[0])
    np.testing.assert_array_equal(got[1], expected[1])
    assert got[2:] == expected[2:]


def test_threads_fitting_at_once_get_the_serial_models():
    inputs = materials()
    alone = [summary(matmodel.fit(*data)) for data in inputs]
    # Every material several times over, more jobs than threads.
    jobs = [i for _ in range(ROUNDS) for i in range(len(inputs))]

    def work(i):
        return i, summary(matmodel.fit(*inputs[i]))

    with ThreadPoolExecutor(THREADS) as pool:
        results = list(pool.map(work, jobs))
    assert [i for i, _ in results] == jobs
    for i, got in results:
        assert_same(got, alone[i])
