#!/usr/bin/python3
"""make bench: pairsolve against its own element-by-element search and its peers, every figure from
one run, on the very same matrices.

For each problem, pairsolve_bench_matrices (bench/make_matrices.cpp) writes the matrices to a file
from the seeded generators of tests/random_matrices.h, and every peer solves that file:
  - pairsolve_bench (bench/solver_benchmark.cpp, Google Benchmark): pairsolve::solve with the
    search solveAssignment chooses, the element-by-element search forced, and on small problems
    the plain reference model of tests/;
  - SciPy's linear_sum_assignment, here, on the same bits;
  - on some problems pairsolve from Octave (one octave-cli process, bench/octave_timing.m) and the
    pure-Python munkres package.
Every answer is checked: the chosen search's against SciPy's optimum (compare_with_scipy.check:
exact for integer costs, a relative 1e-9 otherwise), the element-by-element search's, the
reference model's and Octave's against the chosen search's bit for bit, munkres' cost against
pairsolve's. A failed check makes the exit status 1 and marks the run as not publishable.

Times are medians over samples: one sample per matrix for a single problem (the mean of a few
calls in a row on it where one call is short; on the rows of the targets for doubles, on each of
three passes over the matrices), one per pass over all matrices for the small-call problems
(10 x 10 and 30 x 30 over 10,000 distinct matrices, one call each).

A run writes only under the build tree: <build>/bench/results/<mode>/ gets table.md, results.csv,
times.png and run.json (commit, whether the tree had uncommitted changes, mode, wall time, failed
checks), with the raw Google Benchmark output in raw/. bench/publish.py copies a full run into the
tracked folder bench/results.

Run with Debian's interpreter, after building:  /usr/bin/python3 bench/bench.py --build build
--quick: smaller problems, under a minute and a half; --smoke: tiny ones, for the test that keeps
this script working; --only REGEX: only the problems whose key (e.g. uniform-800x800) matches.
"""

import argparse
import datetime
import json
import math
import os
import platform
import re
import shutil
import statistics
import struct
import subprocess
import sys
import tempfile
import textwrap
import time
import zlib
from dataclasses import dataclass, field

import numpy as np
from scipy.optimize import linear_sum_assignment

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(ROOT, "tests", "scipy"))
from compare_with_scipy import check, read_answers  # noqa: E402

SEED = 20240620
OCTAVE = ["octave-cli", "--no-gui", "--norc", "--quiet", "--no-history"]
MUNKRES_RELATIVE_TOLERANCE = 1e-9

# The sides of a row, in the order of the table.
SIDES = ("chosen", "element", "scipy", "reference", "octave", "munkres")
SIDE_TITLES = {"chosen": "pairsolve", "element": "element by element",
               "scipy": "SciPy", "reference": "reference model",
               "octave": "pairsolve from Octave", "munkres": "munkres (Python)"}
SKIPPABLE = ("element", "reference", "octave", "munkres", "memory")

# Generator kind (pairsolve_bench_matrices) -> (title, integer costs).
KINDS = {"uniform": ("uniform doubles", False),
         "gatedTracking": ("gated tracking", False),
         "gatedClutter": ("gated tracking in clutter", False),
         "decimalTenths": ("decimal costs k/10", False),
         "ties0to100": ("integers 0..100", True),
         "ties0to1e6": ("integers 0..10^6", True),
         "gatedTrackingLost10": ("gated tracking, 10% of tracks undetected", False),
         "gatedTrackingLost25": ("gated tracking, 25% of tracks undetected", False),
         "offsets0to100": ("integers 0..100 plus row and column offsets", True),
         "offsets0to1e5": ("integers 0..10^5 plus row and column offsets", True),
         "nearRank3": ("nearly rank 3, distinct doubles 0.1..2", False),
         "lowRankNearTies": ("low rank a_r + b_c with near ties", False)}


@dataclass
class Case:
    """One problem: `matrices` distinct matrices of one kind and shape.

    plain (loop False): a sample is `rounds` calls in a row on one matrix, one sample per matrix
    on each of `passes` passes over them (the next matrix at each sample).
    loop: a sample is `rounds` passes over all matrices, one call each; `samples` of them. `peers`
    names the optional sides run on it (reference, octave, munkres); munkres, pure Python, runs
    once per matrix, on the first `munkres_matrices` of a loop problem. `no_element`: the
    element-by-element search is not timed on it (too long a call for a full run)."""
    group: str  # square, rectangular, tracking, decimal, integer, offsets, lowrank, small
    kind: str
    rows: int
    cols: int
    matrices: int
    rounds: int = 1
    passes: int = 1
    loop: bool = False
    samples: int = 0
    peers: tuple = ()
    munkres_matrices: int = 0
    no_element: bool = False
    times: dict = field(default_factory=dict)  # side -> seconds per call, one per sample
    report: dict = field(default_factory=dict)  # totals of the chosen search's reports
    scipy_penalty: bool = False  # SciPy called the matrices infeasible; timed with a penalty

    @property
    def key(self):
        return f"{self.kind}-{self.rows}x{self.cols}"

    @property
    def integer(self):
        return KINDS[self.kind][1]

    @property
    def sample_count(self):
        return self.samples if self.loop else self.matrices * self.passes

    @property
    def title(self):
        size = f"{self.rows} x {self.cols}"
        if self.group == "small":
            return f"{KINDS[self.kind][0]} {size}, per call over {self.matrices:,} matrices"
        return f"{KINDS[self.kind][0]} {size}"


def make_cases(mode):
    """The problems of a full run, the smaller ones of a quick run, or tiny ones that only show that
    every peer runs and answers correctly (smoke)."""
    if mode == "smoke":
        return [Case("square", "uniform", 10, 10, 2, rounds=2, peers=("reference", "octave", "munkres")),
                Case("square", "uniform", 40, 40, 2, peers=("reference", "octave")),
                Case("rectangular", "uniform", 8, 20, 2), Case("rectangular", "uniform", 20, 8, 2),
                Case("tracking", "gatedTracking", 20, 15, 2),
                Case("tracking", "gatedTrackingLost10", 20, 20, 2),
                Case("decimal", "decimalTenths", 20, 20, 2),
                Case("integer", "ties0to100", 20, 20, 2), Case("integer", "ties0to1e6", 20, 20, 2),
                Case("offsets", "offsets0to1e5", 20, 20, 2),
                Case("lowrank", "nearRank3", 20, 20, 2),
                Case("lowrank", "lowRankNearTies", 20, 20, 2),
                Case("small", "uniform", 5, 5, 50, loop=True, samples=2,
                     peers=("reference", "octave", "munkres"), munkres_matrices=10)]
    quick = mode == "quick"
    cases = []
    # Uniform doubles, square: the curve of the plot. Below n = 800 a sample is the mean of a few
    # calls in a row on one matrix, as a lone call on a matrix just read runs cold.
    small_square = ("reference", "octave")
    if quick:
        cases += [Case("square", "uniform", 100, 100, 3, rounds=10, peers=small_square + ("munkres",)),
                  Case("square", "uniform", 200, 200, 3, rounds=5, peers=small_square),
                  Case("square", "uniform", 400, 400, 3, peers=("octave",))]
    else:
        cases += [Case("square", "uniform", 100, 100, 5, rounds=20, peers=small_square + ("munkres",)),
                  Case("square", "uniform", 200, 200, 5, rounds=10, peers=small_square),
                  Case("square", "uniform", 400, 400, 3, rounds=3, peers=small_square),
                  Case("square", "uniform", 800, 800, 5, peers=("octave",)),
                  Case("square", "uniform", 1600, 1600, 5, peers=("octave",)),
                  Case("square", "uniform", 3200, 3200, 3)]
    # The rows the speed targets for doubles are stated on get five matrices in a full run, each
    # timed on three passes over them: their ratios are read against thresholds, and one call on
    # a shared machine can take half again as long as the next.
    count, passes = (3, 1) if quick else (5, 3)
    small, large = (100, 400) if quick else (400, 1600)
    cases += [Case("rectangular", "uniform", small, large, count, passes=passes),
              Case("rectangular", "uniform", large, small, count, rounds=3, passes=passes)]
    # Beside each tracking size, the same geometry with a share of the tracks undetected: 10% in
    # the square matrices, a quarter (500 of 2000) in the tall ones.
    for rows, cols in ((200, 200), (400, 300)) if quick else ((1000, 1000), (2000, 1500)):
        cases.append(Case("tracking", "gatedTracking", rows, cols, count, passes=passes))
        cases.append(Case("tracking", "gatedClutter", rows, cols, count))
        lost = "gatedTrackingLost10" if rows == cols else "gatedTrackingLost25"
        cases.append(Case("tracking", lost, rows, cols, count, passes=passes))
    for n in (200, 400) if quick else (800, 1600):
        cases.append(Case("decimal", "decimalTenths", n, n, count, passes=passes))
    for kind in ("ties0to100", "ties0to1e6"):
        for n in (400, 800) if quick else (400, 800, 1600, 3200):
            cases.append(Case("integer", kind, n, n, 3, rounds=1 if quick or n > 400 else 3,
                              peers=("reference",) if n == 400 and not quick else ()))
    # Integers plus row and column offsets. At 2000 x 2000 with costs to 10^5 the
    # element-by-element search would take about 40 s a call: it is left out there.
    for kind in ("offsets0to100", "offsets0to1e5"):
        for n in (400, 800) if quick else (1000, 2000):
            cases.append(Case("offsets", kind, n, n, 3,
                              no_element=not quick and n == 2000 and kind == "offsets0to1e5"))
    # Nearly low-rank doubles, and low rank with near ties: masses of near ties, where the offset
    # search can spend its budget for replays, give up and restart with the element-by-element
    # search (the near ties are sized so that it does).
    for n in (200,) if quick else (200, 368):
        cases.append(Case("lowrank", "nearRank3", n, n, 3, rounds=3 if n == 200 else 1))
    for n in (200, 400) if quick else (400, 800):
        cases.append(Case("lowrank", "lowRankNearTies", n, n, 3, rounds=3 if n < 800 else 1))
    # Small calls, as a tracker makes them: one call per distinct matrix.
    passes = 3 if quick else 5
    cases += [Case("small", "uniform", 10, 10, 10000, loop=True, samples=passes,
                   peers=("reference", "octave", "munkres"), munkres_matrices=1000),
              Case("small", "uniform", 30, 30, 10000, loop=True, samples=passes,
                   peers=("reference", "octave"))]
    return cases


def case_seed(seed, case):
    """The seed of a problem's matrices: the same whatever else the run contains."""
    return (seed * 1000003 + zlib.crc32(case.key.encode())) % 2**63


def read_matrices(path):
    """The matrices of a file in pairsolve_solve_file's format, as column-major float arrays."""
    with open(path, "rb") as source:
        data = source.read()
    (count,) = struct.unpack_from("=Q", data, 0)
    offset = 8
    matrices = []
    for _ in range(count):
        rows, cols = struct.unpack_from("=ii", data, offset)
        offset += 8
        flat = np.frombuffer(data, dtype=np.float64, count=rows * cols, offset=offset)
        matrices.append(flat.reshape((cols, rows)).T)
        offset += 8 * rows * cols
    if offset != len(data):
        raise ValueError(f"{path}: {len(data) - offset} bytes after the last matrix")
    return matrices


# ---------------------------------------------------------------------------------------------
# Peers

def same_bits(a, b):
    return (a["failed"] == b["failed"] and a["assignment"].tobytes() == b["assignment"].tobytes()
            and np.float64(a["cost"]).tobytes() == np.float64(b["cost"]).tobytes())


def close_cost(cost, expected, integer):
    if integer:
        return cost == expected
    return abs(cost - expected) <= MUNKRES_RELATIVE_TOLERANCE * abs(expected)


def time_python(solve, inputs, case, rounds):
    """Seconds per call of solve, one per sample, laid out as the case's samples are."""
    times = []
    if case.loop:
        for _ in range(case.samples):
            started = time.perf_counter()
            for _ in range(rounds):
                for matrix in inputs:
                    solve(matrix)
            times.append((time.perf_counter() - started) / (rounds * len(inputs)))
    else:
        for _ in range(case.passes):
            for matrix in inputs:
                started = time.perf_counter()
                for _ in range(rounds):
                    solve(matrix)
                times.append((time.perf_counter() - started) / rounds)
    return times


class OctaveServer:
    """One octave-cli process running octave_timing.m for the whole run; it takes requests as
    files in a folder of the work folder and answers on its standard output."""

    def __init__(self, build, work):
        self.folder = os.path.join(work, "octave_requests")
        os.makedirs(self.folder, exist_ok=True)
        self.count = 0
        self.errors = tempfile.TemporaryFile(mode="w+")
        self.process = subprocess.Popen(
            OCTAVE + ["--path", build, os.path.join(HERE, "octave_timing.m")],
            stdout=subprocess.PIPE, stderr=self.errors, text=True,
            env=dict(os.environ, PAIRSOLVE_PEERS_REQUESTS=self.folder))

    def send(self, lines):
        self.count += 1
        path = os.path.join(self.folder, f"request-{self.count}")
        with open(path + ".part", "w") as out:
            out.write("\n".join(lines) + "\n")
        os.rename(path + ".part", path)  # Octave must never read half a request

    def failure(self):
        self.errors.seek(0)
        return RuntimeError(f"Octave exited with {self.process.returncode}:\n{self.errors.read()}")

    def request(self, entries):
        """Times the files of the entries; returns {answers path: seconds per call, per sample}."""
        self.send(entries)
        seconds = {}
        while True:
            line = self.process.stdout.readline()
            if not line:
                self.process.wait()
                raise self.failure()
            fields = line.rstrip("\n").split("\t")
            if fields[0] == "octave_seconds":
                seconds[fields[1]] = [float(s) for s in fields[2:]]
            elif fields[0] == "octave_request" and int(fields[1]) == self.count:
                return seconds

    def close(self):
        self.send(["done"])
        if self.process.wait(timeout=60) != 0:
            raise self.failure()

    def kill(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()


class Run:
    def __init__(self, options):
        self.options = options
        self.build = os.path.abspath(options.build)
        tools = os.path.join(self.build, "bench")
        self.tools = {"matrices": os.path.join(tools, "pairsolve_bench_matrices"),
                      "bench": os.path.join(tools, "pairsolve_bench"),
                      "memory": os.path.join(tools, "pairsolve_peak_memory")}
        self.module = os.path.join(self.build, "pairsolve.mex")
        self.skip = options.skip
        self.failures = []
        self.octave = None  # the OctaveServer, while the problems are timed

    def fail(self, text):
        self.failures.append(text)
        print(f"FAILED: {text}", flush=True)

    def progress(self, text):
        print(f"[{time.strftime('%H:%M:%S')}] {text}", file=sys.stderr, flush=True)

    def check_prerequisites(self):
        missing = [path for path in self.tools.values() if not os.access(path, os.X_OK)]
        if "octave" not in self.skip and not os.path.exists(self.module):
            missing.append(self.module)
        if missing:
            sys.exit("missing (build them first, e.g. `make`; pairsolve_bench needs "
                     "libbenchmark-dev): " + ", ".join(missing))
        if "octave" not in self.skip and shutil.which(OCTAVE[0]) is None:
            sys.exit("octave-cli not found; install Octave or pass --skip octave")

    def wants(self, case, side):
        return side not in self.skip and side in case.peers

    def make_matrices(self, case, path):
        command = [self.tools["matrices"], case.kind, str(case.rows), str(case.cols),
                   str(case.matrices), str(case_seed(self.options.seed, case)), path]
        subprocess.run(command, check=True)

    def time_case(self, case, work, raw):
        path = os.path.join(work, case.key + ".bin")
        self.make_matrices(case, path)
        matrices = read_matrices(path)
        for side in SIDES:
            case.times[side] = []

        # pairsolve's searches, and the reference model, in one Google Benchmark process.
        sides = ["chosen"] + [s for s in ("element",) if s not in self.skip and not case.no_element]
        sides += [s for s in ("reference",) if self.wants(case, s)]
        answers_path = os.path.join(work, case.key + ".answers")
        summary_path = os.path.join(raw, case.key + ".summary.json")
        gbench_path = os.path.join(raw, case.key + ".json")
        command = [self.tools["bench"], "--matrices", path, "--name", case.key,
                   "--sides", ",".join(sides), "--layout", "loop" if case.loop else "plain",
                   "--rounds", str(case.rounds), "--samples", str(case.sample_count),
                   "--answers", answers_path, "--summary", summary_path,
                   f"--benchmark_out={gbench_path}", "--benchmark_out_format=json",
                   # The sides' samples in a shuffled order rather than one side after the other,
                   # so that a change in the machine's load weighs on every side alike.
                   "--benchmark_enable_random_interleaving=true"]
        with open(os.path.join(raw, case.key + ".log"), "w") as log:
            run = subprocess.run(command, stdout=log, stderr=subprocess.STDOUT)
        if run.returncode not in (0, 3):  # 3: answers differ, listed in the summary
            raise RuntimeError(f"{' '.join(command)} exited with {run.returncode} (log in {raw})")
        with open(summary_path) as f:
            summary = json.load(f)
        for mismatch in summary["mismatches"]:
            self.fail(mismatch)
        case.report = summary["report"]
        with open(gbench_path) as f:
            for b in json.load(f)["benchmarks"]:
                if b.get("run_type") == "iteration":
                    scale = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}[b["time_unit"]]
                    case.times[b["run_name"].split("/")[0]].append(b["real_time"] * scale)
        answers = read_answers(answers_path)
        if len(answers) != len(matrices):
            self.fail(f"{case.key}: {len(answers)} answers for {len(matrices)} matrices")

        inputs = [np.ascontiguousarray(m) for m in matrices]
        try:
            case.times["scipy"] = time_python(linear_sum_assignment, inputs, case, case.rounds)
        except ValueError as error:
            # No complete assignment avoids +inf (tracks with no detection in their gates):
            # SciPy refuses such a matrix, where pairsolve leaves those rows unassigned. SciPy is
            # then timed as a caller would use it, +inf replaced by a penalty above the sum of
            # the finite elements, the matrix compare_with_scipy.check takes its optimum from.
            if "infeasible" not in str(error):
                raise
            case.scipy_penalty = True
            inputs = [np.ascontiguousarray(with_penalty(m)) for m in matrices]
            case.times["scipy"] = time_python(linear_sum_assignment, inputs, case, case.rounds)
        for k, (matrix, answer) in enumerate(zip(matrices, answers)):
            for problem in check(matrix, case.integer, answer):
                self.fail(f"{case.key}, matrix {k}: pairsolve: {problem}")

        if self.wants(case, "munkres"):
            from munkres import Munkres
            count = case.munkres_matrices if case.loop else len(matrices)
            lists = [m.tolist() for m in matrices[:count]]
            results, times = [], []
            started = time.perf_counter()
            for matrix in lists:
                call_started = time.perf_counter()
                results.append(Munkres().compute(matrix))
                times.append(time.perf_counter() - call_started)
            # A loop problem's sample is the one pass, as for the other sides.
            case.times["munkres"] = [(time.perf_counter() - started) / count] if case.loop else times
            for k, (matrix, pairs, ours) in enumerate(zip(matrices, results, answers)):
                cost = math.fsum(matrix[r, c] for r, c in pairs)
                if not close_cost(cost, ours["cost"], case.integer):
                    self.fail(f"{case.key}, matrix {k}: munkres cost {cost!r}, pairsolve "
                              f"{ours['cost']!r}")

        if self.octave and self.wants(case, "octave"):
            octave_answers = path + ".octave.answers"
            entry = "\t".join([path, octave_answers, str(case.rounds), str(case.sample_count),
                               "loop" if case.loop else "plain"])
            seconds = self.octave.request([entry])
            if octave_answers not in seconds:
                raise RuntimeError(f"Octave gave no time for {path}")
            case.times["octave"] = seconds[octave_answers]
            theirs = read_answers(octave_answers)
            if len(theirs) != len(answers):
                self.fail(f"{case.key}: Octave gave {len(theirs)} answers for {len(answers)}")
            for k, (mine, other) in enumerate(zip(answers, theirs)):
                if not same_bits(mine, other):
                    self.fail(f"{case.key}, matrix {k}: the Octave module differs from pairsolve: "
                              f"cost {other['cost']!r} instead of {mine['cost']!r}")
        for leftover in (path, answers_path, path + ".octave.answers"):
            if os.path.exists(leftover):
                os.remove(leftover)

    # -----------------------------------------------------------------------------------------
    # Peak memory: each peer loads the same matrix in a process of its own, once solving it and
    # once not; the difference of the two peaks is what the solve needed.

    def peak_kib(self, command):
        """The peak resident size of the command's process, as GNU time reports it. The process
        is started by time rather than by this script: Linux carries the peak of the process that
        forks over an exec into the child's count, and this script's own peak is large."""
        with tempfile.NamedTemporaryFile(mode="r", suffix=".time") as report:
            run = subprocess.run(["/usr/bin/time", "-f", "%M", "-o", report.name] + command,
                                 capture_output=True, text=True)
            if run.returncode != 0:
                raise RuntimeError(f"{' '.join(command)} exited with {run.returncode}:\n"
                                   f"{run.stdout}\n{run.stderr}")
            return int(report.read().split()[-1])  # KiB

    def measure_memory(self, work, n):
        path = os.path.join(work, f"memory-{n}.bin")
        memory_case = Case("square", "uniform", n, n, 1)
        self.make_matrices(memory_case, path)
        rows = []
        self.progress("peak memory: pairsolve")
        solving = self.peak_kib([self.tools["memory"], path, "pairsolve"])
        loading = self.peak_kib([self.tools["memory"], path, "none"])
        rows.append(("pairsolve (C++)", solving, loading))
        # The solve marks its stars in flags of a byte an element, a star in every column, so it
        # touches every page of them: a measurement that shows less than that is not measuring
        # the solve.
        if (solving - loading) * 1024 < 0.9 * n * n:
            self.fail(f"peak memory of pairsolve: the solve adds {solving - loading} KiB, less "
                      f"than its star flags ({n * n // 1024} KiB)")
        self.progress("peak memory: SciPy")
        script = PYTHON_MEMORY_SCRIPT.format(path=path, n=n)
        rows.append(("SciPy", self.peak_kib([sys.executable, "-c", script, "solve"]),
                     self.peak_kib([sys.executable, "-c", script, "none"])))
        if "octave" not in self.skip:
            self.progress("peak memory: Octave")
            command = OCTAVE + ["--path", self.build, "--eval"]
            rows.append(("pairsolve (Octave)",
                         self.peak_kib(command + [OCTAVE_MEMORY_SCRIPT.format(
                             path=path, n=n, solve="pairsolve (m);")]),
                         self.peak_kib(command + [OCTAVE_MEMORY_SCRIPT.format(
                             path=path, n=n, solve="")])))
        os.remove(path)
        return n, rows


# Both read the matrix column by column into the array that is solved, so that loading leaves no
# peak above that of holding the matrix; both solve once after a warm-up on a 1 x 1 matrix, so
# that loading the solver's code is not counted as the solve's memory.
PYTHON_MEMORY_SCRIPT = """
import sys
import numpy as np
from scipy.optimize import linear_sum_assignment
linear_sum_assignment(np.zeros((1, 1)))
n = {n}
m = np.empty((n, n))
with open("{path}", "rb") as f:
    f.seek(16)
    for c in range(n):
        m[:, c] = np.fromfile(f, dtype=np.float64, count=n)
if sys.argv[1] == "solve":
    linear_sum_assignment(m)
"""

OCTAVE_MEMORY_SCRIPT = """
pairsolve (1);
n = {n};
m = zeros (n, n);
fid = fopen ("{path}", "r");
fseek (fid, 16, SEEK_SET);
for c = 1:n
  m(:, c) = fread (fid, n, "double=>double");
end
fclose (fid);
{solve}
"""


# ---------------------------------------------------------------------------------------------
# Reports

def median(values):
    return statistics.median(values) if values else None


def show_time(seconds):
    if seconds is None:
        return "-"
    for unit, scale in (("s", 1.0), ("ms", 1e-3), ("µs", 1e-6)):
        if seconds >= scale:
            return f"{seconds / scale:.3g} {unit}"
    return f"{seconds / 1e-9:.3g} ns"


def show_ratio(a, b):
    if a is None or b is None or b == 0:
        return "-"
    return f"{a / b:.3g}"


def search_taken(report):
    """Which search gave the chosen side's answers, from the reports of the untimed pass."""
    if not report or (report["shifts"] == 0 and report["offsetRan"] == 0):
        return "-"  # the report says nothing (no shift made, no offset search run)
    solves, ran = report["solves"], report["offsetRan"]
    if ran == 0:
        return "plain" if report.get("plainRan", 0) == solves else "element"
    text = "offset" + (", exact" if report["exactOffsets"] == ran else "")
    if ran < solves:
        text += f" in {ran} of {solves}"
    if report["restarted"]:
        text += f", {report['restarted']} restarted"
    return text


def with_penalty(matrix):
    """The matrix with its infinite elements replaced by a penalty above the sum of its finite
    ones (as compare_with_scipy.scipy_reference makes it)."""
    forbidden = np.isinf(matrix)
    penalty = math.floor(math.fsum(np.where(forbidden, 0.0, matrix).ravel())) + 1.0
    return np.where(forbidden, penalty, matrix)


def per_solve(report, name):
    return report[name] / report["solves"] if report and report["solves"] else None


def sample_note(case):
    if case.loop:
        note = f"{case.samples} passes over {case.matrices:,} matrices"
        if case.munkres_matrices and case.times.get("munkres"):
            note += f"; munkres one over {case.munkres_matrices:,} of them"
        return note
    note = f"{case.matrices} matrices" + (f", {case.rounds} calls in a row each"
                                          if case.rounds > 1 else "")
    note += f", {case.passes} passes" if case.passes > 1 else ""
    if case.no_element:
        note += "; element by element not run (too long)"
    if case.scipy_penalty:
        note += "; SciPy with +inf as a penalty (infeasible as given)"
    return note


def write_csv(path, cases, commit):
    columns = ("commit,problem,group,kind,rows,cols,side,samples,calls_per_sample,median_seconds,"
               "min_seconds,max_seconds,solves,offset_solves,exact_offset_solves,restarted_solves,"
               "shifts_per_solve,replays_per_solve,replay_steps_per_solve")
    with open(path, "w") as out:
        out.write(columns + "\n")
        for case in cases:
            for side in SIDES:
                times = case.times.get(side)
                if not times:
                    continue
                calls = case.rounds * (case.matrices if case.loop else 1)
                if side == "munkres":
                    calls = case.munkres_matrices if case.loop else 1
                line = [commit, case.key, case.group, case.kind, case.rows, case.cols, side,
                        len(times), calls, f"{median(times):.6e}", f"{min(times):.6e}",
                        f"{max(times):.6e}"]
                r = case.report
                if side == "chosen" and r:
                    line += [r["solves"], r["offsetRan"], r["exactOffsets"], r["restarted"]]
                    line += [f"{per_solve(r, name):.6g}" for name in ("shifts", "replays",
                                                                      "replaySteps")]
                else:
                    line += [""] * 7
                out.write(",".join(str(v) for v in line) + "\n")


def source_state():
    """The commit HEAD is at and the paths git shows as changed or new (untracked files included,
    ignored ones such as the build trees not). Without git (a tree from an archive, a machine
    without it) the commit is "unknown"."""
    def git(*arguments):
        try:
            return subprocess.run(["git", "-C", ROOT] + list(arguments), capture_output=True,
                                  text=True).stdout
        except FileNotFoundError:
            return ""
    commit = git("rev-parse", "HEAD").strip() or "unknown"
    changed = [line[3:] for line in git("status", "--porcelain").splitlines() if line.strip()]
    return {"commit": commit, "short": commit[:10], "dirty": bool(changed), "changed": changed}


def state_text(state):
    if not state["dirty"]:
        return f"commit {state['short']}"
    shown = ", ".join(state["changed"][:5]) + (", ..." if len(state["changed"]) > 5 else "")
    return f"commit {state['short']} with uncommitted changes ({shown})"


def machine():
    cpu = platform.processor() or platform.machine()
    try:
        with open("/proc/cpuinfo") as info:
            for line in info:
                if line.startswith("model name"):
                    cpu = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    return f"{cpu}, {os.cpu_count()} cores"


def machine_notes(meta):
    return (f"Measured {meta['date']} on {meta['machine']} shared with other jobs, "
            f"{state_text(meta['source'])}; SciPy {meta['scipy']}, Python {meta['python']}; "
            f"{meta['mode']} run of make bench in {meta['seconds'] / 60:.1f} min.")


LEGEND = (
    "Time per call, median over the samples of the last column. `pairsolve`: pairsolve::solve "
    "(one host call), which takes the search solveAssignment chooses; `element by element`: the "
    "same call with the element-by-element search forced; `SciPy`: linear_sum_assignment on the "
    "same matrices, called from Python. `element / pairsolve` and `pairsolve / SciPy` are ratios of "
    "those medians. `search` and `replays per solve` come from the search reports of one more, "
    "untimed solve of every matrix (`-`: the report names no search). `reference model`: the plain "
    "model of the solver kept with the tests; `pairsolve from Octave`: the module in a loop of "
    "Octave code, interpreter included; `munkres`: the pure-Python package (one call per matrix). "
    "Gated tracking M x N: M tracks, N detections, Euclidean distances, +inf beyond the gate "
    "(detections near their tracks; in clutter: tracks and detections anywhere in the field; "
    "undetected tracks: no detection in their gates, rows all +inf, left unassigned by "
    "pairsolve; where that leaves no complete assignment SciPy calls the matrix infeasible and is "
    "timed on it with +inf replaced by a penalty above the sum of the finite costs); "
    "decimal costs: k / 10, k uniform in 0..1000; row and column offsets: x + u_r + v_c, x "
    "uniform in 0..R, u and v in 0..10R; nearly rank 3: three outer products of uniform vectors "
    "plus noise to 1e-3, scaled onto 0.1..2, distinct; low rank with near ties: a_r + b_c, one "
    "sum in 8 a double up, one in 64 raised by a few 2^-40. Every answer was checked: pairsolve's cost "
    "against SciPy's optimum, the element-by-element search's, the reference model's and "
    "Octave's answers against pairsolve's bit for bit, munkres' cost against pairsolve's.")


def markdown(cases, memory, notes):
    shown = [s for s in SIDES if any(case.times.get(s) for case in cases)]
    header = (["problem"] + [SIDE_TITLES[s] for s in shown[:3]]
              + ["element / pairsolve", "pairsolve / SciPy", "search", "replays per solve"]
              + [SIDE_TITLES[s] for s in shown[3:]] + ["samples"])
    lines = [notes, "", LEGEND, "", "| " + " | ".join(header) + " |", "|" + "---|" * len(header)]
    for case in cases:
        m = {s: median(case.times.get(s, [])) for s in SIDES}
        replays = per_solve(case.report, "replays")
        row = ([case.title] + [show_time(m[s]) for s in shown[:3]]
               + [show_ratio(m["element"], m["chosen"]), show_ratio(m["chosen"], m["scipy"]),
                  search_taken(case.report), "-" if replays is None else f"{replays:.3g}"]
               + [show_time(m[s]) for s in shown[3:]] + [sample_note(case)])
        lines.append("| " + " | ".join(row) + " |")
    if memory:
        n, rows = memory
        lines += ["", f"Peak resident memory of one solve of a {n} x {n} matrix of uniform doubles "
                  f"(the matrix itself: {n * n * 8 / 2**20:.1f} MiB), each in a process of its "
                  "own; the last column is the peak of a process that loads the matrix and solves "
                  "it minus that of one that only loads it.", "",
                  "| peer | peak, loading and solving | peak, loading only | needed by the solve |",
                  "|---|---|---|---|"]
        for title, solving, loading in rows:
            lines.append(f"| {title} | {solving / 1024:.1f} MiB | {loading / 1024:.1f} MiB | "
                         f"{(solving - loading) / 1024:.1f} MiB |")
    return "\n".join(lines) + "\n"


STYLES = {"chosen": ("C0", "o"), "element": ("C1", "s"), "scipy": ("C2", "^"),
          "reference": ("C3", "D"), "munkres": ("C7", "v")}


def plot(path, cases, notes):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    import matplotlib.ticker

    others = [c for c in cases if c.group not in ("square", "integer")]
    # Room for a label a bar group in the last panel.
    figure, axes = plt.subplots(1, 3, figsize=(16.0, max(5.6, 1.6 + 0.24 * len(others))), dpi=100,
                                gridspec_kw={"width_ratios": (1, 1, 1.25)})

    def curves(axis, chosen_cases, linestyle, suffix):
        for side, (colour, marker) in STYLES.items():
            points = [(c.rows, median(c.times[side])) for c in chosen_cases if c.times.get(side)]
            if points:
                axis.plot(*zip(*points), marker=marker, linestyle=linestyle, color=colour,
                          label=SIDE_TITLES[side] + suffix)

    def log_axes(axis, sizes, title, legend):
        axis.set_xscale("log")
        axis.set_yscale("log")
        if sizes:
            axis.set_xticks(sizes, [str(n) for n in sizes])
        axis.xaxis.set_minor_locator(matplotlib.ticker.NullLocator())
        axis.set_xlabel("n (n x n matrix)")
        axis.set_title(title)
        axis.grid(True, which="both", alpha=0.3)
        axis.legend(fontsize=7, loc=legend)  # where the curves leave room

    square = [c for c in cases if c.group == "square"]
    curves(axes[0], square, "-", "")
    log_axes(axes[0], sorted({c.rows for c in square}), "uniform doubles", "lower right")
    axes[0].set_ylabel("seconds per call (median)")

    integer = [c for c in cases if c.group == "integer"]
    for kind, linestyle in (("ties0to100", "-"), ("ties0to1e6", "--")):
        curves(axes[1], [c for c in integer if c.kind == kind], linestyle,
               ", " + KINDS[kind][0].replace("integers ", ""))
    log_axes(axes[1], sorted({c.rows for c in integer}), "integer costs", "upper left")

    sides = [s for s in ("chosen", "element", "scipy") if any(c.times.get(s) for c in others)]
    height = 0.8 / max(1, len(sides))
    for i, side in enumerate(sides):
        positions = [k + (i - (len(sides) - 1) / 2) * height for k in range(len(others))]
        values = [median(c.times.get(side)) or 0 for c in others]
        axes[2].barh(positions, values, height=height, color=STYLES[side][0],
                     label=SIDE_TITLES[side])
    axes[2].set_yticks(range(len(others)),
                       [f"{KINDS[c.kind][0]} {c.rows} x {c.cols}" + (", per call" if c.loop else "")
                        for c in others], fontsize=7)
    axes[2].invert_yaxis()
    axes[2].set_xscale("log")
    axes[2].set_xlabel("seconds per call (median)")
    axes[2].set_title("other problems")
    axes[2].grid(True, axis="x", which="both", alpha=0.3)
    axes[2].legend(fontsize=7, loc="lower right")

    figure.text(0.01, 0.005, "\n".join(textwrap.wrap(notes, 230)), fontsize=6, color="0.4")
    figure.tight_layout(rect=(0, 0.04, 1, 1))
    figure.savefig(path)
    plt.close(figure)


# The problems the speed targets for doubles are stated on: element-by-element search over the
# chosen one at least 8 and the chosen one over SciPy at most 1.5; on decimal costs the chosen
# search at most 1.25 times the element-by-element one; small calls no slower than SciPy.
FAST_DOUBLES = ("uniform-800x800", "uniform-1600x1600", "uniform-400x1600", "uniform-1600x400",
                "gatedTracking-1000x1000", "gatedTracking-2000x1500")
DECIMALS = ("decimalTenths-800x800", "decimalTenths-1600x1600")
SMALL_CALLS = ("uniform-10x10", "uniform-30x30")


def target_summary(cases):
    """The ratios of the speed targets for doubles, for the console."""
    lines = []
    for case in cases:
        m = {s: median(case.times.get(s, [])) for s in ("chosen", "element", "scipy")}
        if None in m.values():
            continue
        if case.key in FAST_DOUBLES:
            lines.append(f"{case.title}: element / pairsolve {m['element'] / m['chosen']:.2f} "
                         f"(target at least 8), pairsolve / SciPy {m['chosen'] / m['scipy']:.2f} "
                         "(target at most 1.5)")
        elif case.key in DECIMALS:
            lines.append(f"{case.title}: pairsolve / element {m['chosen'] / m['element']:.2f} "
                         f"(target at most 1.25), pairsolve / SciPy {m['chosen'] / m['scipy']:.2f}")
        elif case.key in SMALL_CALLS and case.matrices >= 10000:
            lines.append(f"{case.title}: pairsolve / SciPy {m['chosen'] / m['scipy']:.2f} "
                         "(target at most 1)")
    return lines


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", default=os.path.join(ROOT, "build"),
                        help="the build tree with the tools and pairsolve.mex (default: build)")
    parser.add_argument("--quick", action="store_const", dest="mode", const="quick",
                        default="full", help="smaller problems, under a minute and a half")
    parser.add_argument("--smoke", action="store_const", dest="mode", const="smoke",
                        help="tiny problems: checks that every peer runs and answers correctly")
    parser.add_argument("--only", metavar="REGEX",
                        help="only the problems whose key (kind-ROWSxCOLS) matches")
    parser.add_argument("--out", help="folder for the results (default: "
                        "<build>/bench/results/<mode>)")
    parser.add_argument("--skip", default="", help="comma-separated sides to leave out: "
                        + ", ".join(SKIPPABLE))
    parser.add_argument("--seed", type=int, default=SEED)
    options = parser.parse_args()
    options.skip = {s.strip() for s in options.skip.split(",") if s.strip()}
    unknown = options.skip - set(SKIPPABLE)
    if unknown:
        parser.error(f"cannot skip {', '.join(sorted(unknown))}")
    memory_size = {"full": 1600, "quick": 400, "smoke": 300}[options.mode]
    out = options.out or os.path.join(options.build, "bench", "results", options.mode)

    run = Run(options)
    run.check_prerequisites()
    source = source_state()
    started = time.perf_counter()
    cases = make_cases(options.mode)
    if options.only:
        cases = [c for c in cases if re.search(options.only, c.key)]
    work = os.path.join(run.build, "bench", f"work-{options.mode}")
    raw = os.path.join(out, "raw")
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(work, exist_ok=True)
    os.makedirs(raw)
    memory = None
    try:
        if "octave" not in run.skip and any("octave" in c.peers for c in cases):
            run.octave = OctaveServer(run.build, work)
        for case in cases:
            run.progress(case.title)
            run.time_case(case, work, raw)
        if run.octave:
            run.octave.close()
            run.octave = None
        if "memory" not in options.skip and not options.only:
            memory = run.measure_memory(work, memory_size)
    finally:
        if run.octave:
            run.octave.kill()
        shutil.rmtree(work, ignore_errors=True)

    import scipy
    meta = {"mode": options.mode, "only": options.only, "skip": sorted(options.skip),
            "seed": options.seed, "date": datetime.date.today().isoformat(), "machine": machine(),
            "scipy": scipy.__version__, "python": platform.python_version(),
            "seconds": round(time.perf_counter() - started, 1), "source": source,
            "failures": run.failures}
    notes = machine_notes(meta)
    table = markdown(cases, memory, notes)
    with open(os.path.join(out, "table.md"), "w") as f:
        f.write(table)
    write_csv(os.path.join(out, "results.csv"), cases,
              source["short"] + ("-dirty" if source["dirty"] else ""))
    plot(os.path.join(out, "times.png"), cases, notes)
    with open(os.path.join(out, "run.json"), "w") as f:
        json.dump(meta, f, indent=2)
        f.write("\n")

    print(table)
    for line in target_summary(cases):
        print(line)
    print(f"results in {out} ({meta['seconds']:.0f} s)")
    if run.failures:
        print(f"{len(run.failures)} answers FAILED their checks (see above)")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
