# Threads fitting different materials side by side: each gets the model it
# would get alone. (How much faster they finish is measured in
# python/bench/overhead.py, not asserted here.)
from concurrent.futures import ThreadPoolExecutor

import matmodel
from materials import LAMINATE, SINGLE_POLE, samples

# Large tables, so that the fits (a few ms each) overlap.
INPUTS = [samples(LAMINATE, 2001, 1e6, 1e11), samples(SINGLE_POLE, 1501, 1e6, 1e11),
          samples((4.1, [(0.3, 5e6), (0.1, 1e9), (0.05, 4e10)]), 2501, 1e5, 1e11)]


def fitted(data):
    model = matmodel.fit(*data)
    return model.poles.tolist(), model.residues.tolist(), model.residue_at_infinity, model.expressions()


def test_threads_fitting_at_once_get_the_serial_models():
    alone = [fitted(data) for data in INPUTS]
    jobs = [i for _ in range(3) for i in range(len(INPUTS))]  # each material three times: more jobs than threads
    with ThreadPoolExecutor(4) as pool:
        assert list(pool.map(lambda i: fitted(INPUTS[i]), jobs)) == [alone[i] for i in jobs]
