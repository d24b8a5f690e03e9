#!/usr/bin/python3
"""The integer rows of `make bench`: pairsolve on integer costs against its own element-by-element
search, the reference model and SciPy, as a table and a log-log plot.

The C++ times come from the JSON that pairsolve_bench (bench/solver_benchmark.cpp) wrote in the
same `make bench` run: medians of the solver (which takes its exact search on these matrices), of
the solver with the exact search held off, and of the reference model, all on the same seeded
matrices. SciPy's linear_sum_assignment is timed here on matrices of the same kind and size drawn
with NumPy (integers uniform in 0..100 or 0..10^6, as doubles): the median over a few matrices,
one call each. SciPy is only timed here; bench/peers/compare_peers.py checks pairsolve's answers
against it.

Writes integer_rows.md and integer_rows.png into the output folder (default bench/results).

Run with Debian's interpreter, after pairsolve_bench has written its JSON:
    /usr/bin/python3 bench/integer_rows.py --json build/bench/solver_benchmark.json
"""

import argparse
import json
import os
import statistics
import time

import numpy as np
from scipy.optimize import linear_sum_assignment

HERE = os.path.dirname(os.path.abspath(__file__))
KINDS = {"ties0to100": ("integers 0..100", 100), "ties0to1e6": ("integers 0..10^6", 10**6)}
SIDES = {"solver": "pairsolve (exact search)", "element": "pairsolve, element by element",
         "reference": "reference model", "scipy": "SciPy linear_sum_assignment"}
SIZES = (400, 800, 1600, 3200)
SEED = 20240707


def read_medians(path):
    """{(side, kind, n): seconds} from Google Benchmark's JSON, square cases only."""
    with open(path) as f:
        data = json.load(f)
    scale = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}
    medians = {}
    for b in data["benchmarks"]:
        # A case run once has no aggregates: its one time is its median.
        single = b.get("run_type") == "iteration" and b.get("repetitions") == 1
        if b.get("aggregate_name") != "median" and not single:
            continue
        side, kind, shape = b["run_name"].split("/")[:3]
        rows, cols = (int(x) for x in shape.split("x"))
        if kind in KINDS and rows == cols:
            medians[(side, kind, rows)] = b["real_time"] * scale[b["time_unit"]]
    return medians


def time_scipy(kind, n, matrices):
    rng = np.random.default_rng(SEED + n)
    top = KINDS[kind][1]
    samples = []
    for _ in range(matrices):
        matrix = rng.integers(0, top + 1, (n, n)).astype(np.float64)
        start = time.perf_counter()
        linear_sum_assignment(matrix)
        samples.append(time.perf_counter() - start)
    return statistics.median(samples)


def show(seconds):
    if seconds is None:
        return "-"
    if seconds >= 1:
        return f"{seconds:.2f} s"
    return f"{seconds * 1e3:.3g} ms"


def ratio(a, b):
    return "-" if a is None or b is None else f"{a / b:.3g}"


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--json", required=True, help="pairsolve_bench's --benchmark_out file")
    parser.add_argument("--out", default=os.path.join(HERE, "results"))
    parser.add_argument("--matrices", type=int, default=3, help="SciPy matrices per case")
    options = parser.parse_args()

    times = read_medians(options.json)
    if not times:
        print(f"integer rows: no integer cases in {options.json} (filtered out?)")
        return
    for kind in KINDS:
        for n in SIZES:
            if ("solver", kind, n) in times:
                times[("scipy", kind, n)] = time_scipy(kind, n, options.matrices)

    lines = ["| problem | " + " | ".join(SIDES.values()) +
             " | element / exact | reference / exact | exact / SciPy |",
             "|---|" + "---|" * (len(SIDES) + 3)]
    for kind, (title, _) in KINDS.items():
        for n in SIZES:
            got = {side: times.get((side, kind, n)) for side in SIDES}
            if got["solver"] is None:
                continue
            lines.append(f"| {title} {n} x {n} | " + " | ".join(show(got[s]) for s in SIDES) +
                         f" | {ratio(got['element'], got['solver'])}"
                         f" | {ratio(got['reference'], got['solver'])}"
                         f" | {ratio(got['solver'], got['scipy'])} |")
    table = "\n".join(lines)
    os.makedirs(options.out, exist_ok=True)
    with open(os.path.join(options.out, "integer_rows.md"), "w") as f:
        f.write(table + "\n")
    print(table)

    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    figure, axes = plt.subplots(1, 2, figsize=(11, 4.5), sharey=True)
    for axis, (kind, (title, _)) in zip(axes, KINDS.items()):
        for side, label in SIDES.items():
            points = [(n, times[(side, kind, n)]) for n in SIZES if (side, kind, n) in times]
            if points:
                axis.plot(*zip(*points), marker="o", label=label)
        axis.set_xscale("log")
        axis.set_yscale("log")
        axis.set_xticks(SIZES, [str(n) for n in SIZES])
        axis.tick_params(axis="x", which="minor", labelbottom=False)
        axis.set_title(f"{title}, n x n")
        axis.set_xlabel("n")
        axis.grid(True, which="both", alpha=0.3)
    axes[0].set_ylabel("seconds per solve (median)")
    axes[1].legend(loc="upper left", fontsize="small")
    figure.tight_layout()
    figure.savefig(os.path.join(options.out, "integer_rows.png"), dpi=100)
    print(f"written: {options.out}/integer_rows.md, integer_rows.png")


if __name__ == "__main__":
    main()
