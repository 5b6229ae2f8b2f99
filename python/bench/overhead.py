"""What a call through the Python module costs over the C++ call it makes.

Times matmodel.fit() on bench/data/wideband161.txt (161 points, 1 kHz to
100 GHz) against BM_ReportWideband161 of matmodel_bench, which runs the same
FitMaterialTable call on the same samples, and against BM_ModelerWideband161
(the modeler's SetInputData and FitData alone). The two are run in turns, so
that a busy machine slows both alike. Then: threads fitting at once against
one after another, and how fast the main thread runs Python while another
thread fits.

    cmake -S . -B build-bench -DMATMODEL_BUILD_BENCHMARKS=ON -DMATMODEL_BUILD_PYTHON=ON \\
          -DMATMODEL_BUILD_TESTS=OFF && cmake --build build-bench -j2
    PYTHONPATH=build-bench/python /usr/bin/python3 python/bench/overhead.py \\
          build-bench/bench/matmodel_bench
"""
import argparse
import json
import pathlib
import statistics
import subprocess
import threading
import time
from concurrent.futures import ThreadPoolExecutor

import matmodel

DATA = pathlib.Path(__file__).resolve().parents[2] / "bench" / "data" / "wideband161.txt"


def time_python(data, seconds):
    """Seconds per fit() call, wall and processor time, over about `seconds`."""
    calls, wall0, cpu0 = 0, time.perf_counter(), time.process_time()
    while time.perf_counter() - wall0 < seconds:
        for _ in range(20):
            matmodel.fit(*data)
        calls += 20
    return (time.perf_counter() - wall0) / calls, (time.process_time() - cpu0) / calls


def time_cpp(binary, seconds):
    """{name: (wall, cpu)} in seconds per call for the two C++ benchmarks."""
    out = subprocess.run(
        [binary, "--benchmark_filter=^BM_(Report|Modeler)Wideband161$",
         f"--benchmark_min_time={seconds}", "--benchmark_format=json"],
        check=True, capture_output=True, text=True).stdout
    scale = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}
    return {b["name"]: (b["real_time"] * scale[b["time_unit"]], b["cpu_time"] * scale[b["time_unit"]])
            for b in json.loads(out)["benchmarks"]}


def overhead(binary, rounds, seconds):
    data = matmodel.read(DATA)
    matmodel.fit(*data)  # warm up
    py, report, modeler = [], [], []
    for _ in range(rounds):
        cpp = time_cpp(binary, seconds)
        report.append(cpp["BM_ReportWideband161"])
        modeler.append(cpp["BM_ModelerWideband161"])
        py.append(time_python(data, seconds))

    def median(runs, which):
        return statistics.median(r[which] for r in runs)

    print(f"161-point wideband case, {rounds} rounds of ~{seconds} s each, medians (min):")
    for which, name in ((0, "wall"), (1, "processor")):
        p, r, m = median(py, which), median(report, which), median(modeler, which)
        pmin, rmin = min(x[which] for x in py), min(x[which] for x in report)
        print(f"  {name:9s} matmodel.fit {p * 1e6:7.1f} us ({pmin * 1e6:.1f})  "
              f"FitMaterialTable {r * 1e6:7.1f} us ({rmin * 1e6:.1f})  "
              f"modeler alone {m * 1e6:7.1f} us")
        print(f"  {'':9s} binding over FitMaterialTable: {100 * (p / r - 1):+.1f} % "
              f"(min {100 * (pmin / rmin - 1):+.1f} %); "
              f"over the modeler alone: {100 * (p / m - 1):+.1f} %")
    model = matmodel.fit(*data)
    print(f"  model: {model.order} poles, max error Dk {model.max_error.dk:.2e}, "
          f"Df {model.max_error.df:.2e}")


def threads(jobs):
    data = matmodel.read(DATA)
    big = matmodel.fit(*data).evaluate  # a larger table, so each fit runs longer
    import numpy as np
    freq = np.logspace(3, 11, 2001)
    dk, df = big(freq)
    for name, args in (("161 points", data), ("2001 points", (freq, dk, df))):
        t0 = time.perf_counter()
        for _ in range(jobs):
            matmodel.fit(*args)
        serial = time.perf_counter() - t0
        with ThreadPoolExecutor(2) as pool:
            t0 = time.perf_counter()
            list(pool.map(lambda _: matmodel.fit(*args), range(jobs)))
            two = time.perf_counter() - t0
        print(f"  {jobs} fits of {name}: one thread {serial:.3f} s, two threads {two:.3f} s "
              f"({serial / two:.2f}x)")

    # Python keeps running in the main thread while another thread fits.
    def spin(seconds):
        n, end = 0, time.perf_counter() + seconds
        while time.perf_counter() < end:
            n += 1
        return n

    def beside(work):
        stop = threading.Event()

        def loop():
            while not stop.is_set():
                work()

        worker = threading.Thread(target=loop)
        worker.start()
        n = spin(1.0)
        stop.set()
        worker.join()
        return n

    alone = spin(1.0)
    fitting = beside(lambda: matmodel.fit(freq, dk, df))
    # Control: a thread that holds the GIL whenever it runs.
    python = beside(lambda: sum(range(10000)))
    print(f"  main-thread Python loop beside a thread that fits: {100 * fitting / alone:.0f} % "
          f"of its speed alone (beside a thread running Python: {100 * python / alone:.0f} %)")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("bench", help="path of matmodel_bench")
    parser.add_argument("--rounds", type=int, default=9)
    parser.add_argument("--seconds", type=float, default=0.5)
    parser.add_argument("--jobs", type=int, default=200)
    args = parser.parse_args()
    overhead(args.bench, args.rounds, args.seconds)
    print("threads:")
    threads(args.jobs)


if __name__ == "__main__":
    main()
