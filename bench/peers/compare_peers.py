#!/usr/bin/python3
"""Times pairsolve against its peers on the same matrices, in one run on one machine.

Peers: pairsolve from C++ (the file solver pairsolve_peer_solve_file) and from Octave (the module,
in one octave-cli process), the plain reference model kept with the tests
(pairsolve_reference_solve_file), SciPy's linear_sum_assignment and, for small sizes only, the
pure-Python munkres package.

Problems: uniform random doubles, square, n = 100 .. 1600; integer costs in 0..100 and 0..10^6;
rectangular 400 x 1600 and 1600 x 400; tracking-sized problems (10 x 10, 30 x 30, 100 x 100)
solved many times in a loop, where the cost of one call matters; and the peak memory of one solve
of a 1600 x 1600 matrix, each peer in a process of its own.

The matrices are drawn once from a fixed seed and written to files that every peer reads. A size
is timed on a few distinct matrices, one solve each; a tracking size as a loop over a set of
matrices, several times. Reported times are medians over those samples. Every answer is checked:
pairsolve's against SciPy's optimum (compare_with_scipy.check), the reference model's and the
Octave module's against pairsolve's bit for bit, munkres' cost against pairsolve's. A failed
check makes the exit status 1.

Writes times.csv, table.md and times.png (log-log time against n) into the output folder.

Run with Debian's interpreter, after building:  /usr/bin/python3 compare_peers.py --build build
--quick runs small sizes only, in about a minute; --smoke tiny ones, in seconds, for the test
that keeps this script working.
"""

import argparse
import datetime
import math
import os
import platform
import shutil
import statistics
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
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "tests", "scipy"))
from compare_with_scipy import check, read_answers, write_matrices  # noqa: E402

SEED = 20240620
PEERS = ("pairsolve", "octave", "reference", "scipy", "munkres")
PEER_TITLES = {"pairsolve": "pairsolve (C++)", "octave": "pairsolve (Octave)",
               "reference": "reference model", "scipy": "SciPy", "munkres": "munkres (Python)"}
OCTAVE = ["octave-cli", "--no-gui", "--norc", "--quiet", "--no-history"]
MUNKRES_RELATIVE_TOLERANCE = 1e-9


@dataclass
class Case:
    """One problem size: `matrices` distinct matrices of one kind.

    A plain case gives each matrix a file of its own and times `rounds` calls on it in a row: one
    sample per matrix. A loop case puts all matrices in one file and times `samples` loops of
    `rounds` passes over them. A sample is always the mean time per call. munkres may run fewer
    rounds, and in a loop case fewer samples."""
    group: str
    kind: str
    rows: int
    cols: int
    matrices: int
    loop: bool = False
    rounds: int = 1
    samples: int = 1
    munkres: bool = False
    munkres_rounds: int = 0
    munkres_samples: int = 0
    times: dict = field(default_factory=dict)  # peer -> list of seconds per call

    @property
    def name(self):
        return f"{self.kind} {self.rows}x{self.cols}"

    @property
    def integer(self):
        return self.kind != "uniform"

    def rounds_for(self, peer):
        return self.munkres_rounds if peer == "munkres" and self.munkres_rounds else self.rounds

    def samples_for(self, peer):
        return self.munkres_samples if peer == "munkres" and self.munkres_samples else self.samples

    def calls_per_sample(self, peer):
        return self.rounds_for(peer) * (self.matrices if self.loop else 1)


KIND_TITLES = {"uniform": "uniform doubles", "int100": "integers 0..100",
               "int1e6": "integers 0..10^6"}


def make_cases(mode):
    """The problems of a full run, the small ones of a quick run, or tiny ones that only show that
    every peer runs and answers correctly (smoke)."""
    if mode == "smoke":
        return ([Case("square", "uniform", n, n, 2, rounds=2, munkres=True, munkres_rounds=1)
                 for n in (10, 20, 40)]
                + [Case("integer", kind, 20, 20, 2) for kind in ("int100", "int1e6")]
                + [Case("rectangular", "uniform", 8, 20, 2), Case("rectangular", "uniform", 20, 8, 2)]
                + [Case("tracking", "uniform", 5, 5, 4, loop=True, rounds=5, samples=2, munkres=True,
                        munkres_rounds=2, munkres_samples=1)])
    # Below n = 800 a matrix is solved several times in a row and the time per call is the mean:
    # the first call in a process runs cold (caches, page faults, clock speed), which would weigh
    # on the times of the small sizes by up to a half.
    rounds = {100: 50, 200: 20, 400: 10}
    quick = mode == "quick"
    cases = []
    square = (100, 200, 400) if quick else (100, 200, 400, 800, 1600)
    for n in square:
        cases.append(Case("square", "uniform", n, n, 5 if n <= 200 else 3, rounds=rounds.get(n, 1),
                          munkres=n <= (100 if quick else 200), munkres_rounds=1))
    for kind in ("int100", "int1e6"):
        for n in ((400,) if quick else (400, 1600)):
            cases.append(Case("integer", kind, n, n, 3, rounds=rounds.get(n, 1)))
    small, large = (100, 400) if quick else (400, 1600)
    cases.append(Case("rectangular", "uniform", small, large, 3, rounds=1 if large > 400 else 10))
    cases.append(Case("rectangular", "uniform", large, small, 3, rounds=5 if large > 400 else 20))
    # Tracking: (n, matrices, rounds, munkres rounds); about 10000, 3000 and 300 calls per sample.
    for n, count, rounds, munkres_rounds in ((10, 20, 500, 50), (30, 20, 150, 5), (100, 10, 30, 1)):
        if quick:
            rounds = max(1, rounds // 10)
        cases.append(Case("tracking", "uniform", n, n, count, loop=True, rounds=rounds,
                          samples=3 if quick else 5, munkres=True, munkres_rounds=munkres_rounds,
                          munkres_samples=1 if quick or n == 100 else 3))
    return cases


def draw(case, seed):
    """The case's matrices, the same for a given seed whatever else the run contains."""
    rng = np.random.default_rng([seed, zlib.crc32(case.name.encode())])
    shape = (case.rows, case.cols)
    matrices = []
    for _ in range(case.matrices):
        if case.kind == "uniform":
            matrices.append(rng.random(shape))
        elif case.kind == "int100":
            matrices.append(rng.integers(0, 101, shape).astype(np.float64))
        else:
            matrices.append(rng.integers(0, 10**6 + 1, shape).astype(np.float64))
    return matrices


def case_files(case, matrices, work):
    """Writes the case's matrix files: (path, index of its first matrix in the case, matrices in
    it), one file per matrix for a plain case."""
    groups = [matrices] if case.loop else [[m] for m in matrices]
    files = []
    first = 0
    for index, group in enumerate(groups):
        path = os.path.join(work, f"{case.name.replace(' ', '_')}_{index}.bin")
        write_matrices(path, group)
        files.append((path, first, group))
        first += len(group)
    return files


# ---------------------------------------------------------------------------------------------
# Peers

def run_file_solver(tool, path, rounds):
    """One run of a file solver; returns (answers, seconds per call)."""
    answers_path = path + "." + os.path.basename(tool) + ".answers"
    command = [tool, path, answers_path] + (["--repeat", str(rounds)] if rounds != 1 else [])
    run = subprocess.run(command, capture_output=True, text=True)
    if run.returncode != 0:
        raise RuntimeError(f"{' '.join(command)} exited with {run.returncode}:\n{run.stderr}")
    fields = run.stdout.split()
    if len(fields) < 2 or fields[0] != "solve_seconds":
        raise RuntimeError(f"no solve time in the output of {tool}: {run.stdout!r}")
    seconds = float(fields[1])
    count = int(fields[3])
    answers = read_answers(answers_path)
    os.remove(answers_path)
    return answers, seconds / (rounds * count)


def time_python(solve, inputs, rounds, samples):
    """Seconds per call of solve over rounds passes of the inputs, per sample; and the answers."""
    times = []
    for _ in range(samples):
        started = time.perf_counter()
        for _ in range(rounds):
            for matrix in inputs:
                solve(matrix)
        times.append((time.perf_counter() - started) / (rounds * len(inputs)))
    return times, [solve(matrix) for matrix in inputs]


def same_bits(a, b):
    return (a["failed"] == b["failed"] and a["assignment"].tobytes() == b["assignment"].tobytes()
            and np.float64(a["cost"]).tobytes() == np.float64(b["cost"]).tobytes())


def close_cost(cost, expected, integer):
    if integer:
        return cost == expected
    return abs(cost - expected) <= MUNKRES_RELATIVE_TOLERANCE * abs(expected)


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

    def request(self, entries):
        """Times the files of the entries; returns {answers path: seconds per call, per sample}."""
        self.send(entries)
        seconds = {}
        while True:
            line = self.process.stdout.readline()
            if not line:
                self.process.wait()
                self.errors.seek(0)
                raise RuntimeError(f"Octave exited with {self.process.returncode}:\n"
                                   + self.errors.read())
            fields = line.rstrip("\n").split("\t")
            if fields[0] == "octave_seconds":
                seconds[fields[1]] = [float(s) for s in fields[2:]]
            elif fields[0] == "octave_request" and int(fields[1]) == self.count:
                return seconds

    def close(self):
        self.send(["done"])
        if self.process.wait(timeout=60) != 0:
            self.errors.seek(0)
            raise RuntimeError(f"Octave exited with {self.process.returncode}:\n"
                               + self.errors.read())

    def kill(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()


class Run:
    def __init__(self, options):
        self.options = options
        self.build = os.path.abspath(options.build)
        peers_dir = os.path.join(self.build, "bench", "peers")
        self.tools = {"pairsolve": os.path.join(peers_dir, "pairsolve_peer_solve_file"),
                      "reference": os.path.join(peers_dir, "pairsolve_reference_solve_file"),
                      "memory": os.path.join(peers_dir, "pairsolve_peak_memory")}
        self.module = os.path.join(self.build, "pairsolve.mex")
        self.peers = [p for p in PEERS if p not in options.skip]
        self.failures = []
        self.octave = None  # the OctaveServer, while the problems are timed
        self.pairsolve_answers = {}  # matrices path -> answers

    def fail(self, text):
        self.failures.append(text)
        print(f"FAILED: {text}", flush=True)

    def check_prerequisites(self):
        missing = [path for name, path in self.tools.items() if not os.access(path, os.X_OK)]
        if "octave" in self.peers and not os.path.exists(self.module):
            missing.append(self.module)
        if missing:
            sys.exit("missing (build them first, e.g. `make`): " + ", ".join(missing))
        if "octave" in self.peers and shutil.which(OCTAVE[0]) is None:
            sys.exit("octave-cli not found; install Octave or pass --skip octave")

    def compare_bits(self, case, first, ours, theirs, who):
        """Another peer's answers must be pairsolve's, bit for bit."""
        if len(theirs) != len(ours):
            self.fail(f"{case.name}: {who} gave {len(theirs)} answers for {len(ours)} matrices")
        for k, (mine, other) in enumerate(zip(ours, theirs), first):
            if not same_bits(mine, other):
                rows = np.flatnonzero(mine["assignment"] != other["assignment"])
                where = (f"row {rows[0] + 1}: column {other['assignment'][rows[0]]:g} instead of "
                         f"{mine['assignment'][rows[0]]:g}" if rows.size else "same assignment")
                self.fail(f"{case.name}, matrix {k}: {who} differs from pairsolve, {where}; "
                          f"cost {other['cost']!r} instead of {mine['cost']!r}")

    def progress(self, text):
        print(f"[{time.strftime('%H:%M:%S')}] {text}", file=sys.stderr, flush=True)

    def time_case(self, case, work):
        matrices = draw(case, self.options.seed)
        files = case_files(case, matrices, work)
        rounds, samples = case.rounds, case.samples
        for peer in self.peers:
            case.times[peer] = []

        for path, first, group in files:
            answers = None
            for sample in range(samples):
                answers, seconds = run_file_solver(self.tools["pairsolve"], path, rounds)
                case.times["pairsolve"].append(seconds)
            self.pairsolve_answers[path] = answers
            for k, (matrix, answer) in enumerate(zip(group, answers), first):
                for problem in check(matrix, case.integer, answer):
                    self.fail(f"{case.name}, matrix {k}: pairsolve: {problem}")

            if "reference" in self.peers:
                for sample in range(samples):
                    reference, seconds = run_file_solver(self.tools["reference"], path, rounds)
                    case.times["reference"].append(seconds)
                self.compare_bits(case, first, answers, reference, "the reference model")

            if "scipy" in self.peers:
                inputs = [np.ascontiguousarray(m) for m in group]
                seconds, _ = time_python(linear_sum_assignment, inputs, rounds, samples)
                case.times["scipy"] += seconds

            if "munkres" in self.peers and case.munkres:
                from munkres import Munkres
                inputs = [m.tolist() for m in group]
                seconds, results = time_python(lambda m: Munkres().compute(m), inputs,
                                               case.rounds_for("munkres"),
                                               case.samples_for("munkres"))
                case.times["munkres"] += seconds
                for k, (matrix, pairs, ours) in enumerate(zip(group, results, answers), first):
                    cost = math.fsum(matrix[r, c] for r, c in pairs)
                    if not close_cost(cost, ours["cost"], case.integer):
                        self.fail(f"{case.name}, matrix {k}: munkres cost {cost!r}, "
                                  f"pairsolve {ours['cost']!r}")


        if "octave" in self.peers:
            self.time_octave(case, files)

    def time_octave(self, case, files):
        """The case's files through the Octave process, and its answers against pairsolve's."""
        entries = [f"{path}\t{path}.octave.answers\t{case.rounds}\t{case.samples}"
                   for path, _, _ in files]
        seconds = self.octave.request(entries)
        for path, first, _ in files:
            answers_path = path + ".octave.answers"
            if answers_path not in seconds:
                raise RuntimeError(f"Octave gave no time for {path}")
            case.times["octave"] += seconds[answers_path]
            self.compare_bits(case, first, self.pairsolve_answers[path],
                              read_answers(answers_path), "the Octave module")

    # -----------------------------------------------------------------------------------------
    # Peak memory: each peer loads the same matrix in a process of its own, once solving it and
    # once not; the difference of the two peaks is what the solve needed.

    def peak_kib(self, command, environment=None):
        """The peak resident size of the command's process, as GNU time reports it. The process
        is started by time rather than by this script: Linux carries the peak of the process that
        forks over an exec into the child's count, and this script's own peak is large."""
        with tempfile.NamedTemporaryFile(mode="r", suffix=".time") as report:
            run = subprocess.run(["/usr/bin/time", "-f", "%M", "-o", report.name] + command,
                                 capture_output=True, text=True, env=environment)
            if run.returncode != 0:
                raise RuntimeError(f"{' '.join(command)} exited with {run.returncode}:\n"
                                   f"{run.stdout}\n{run.stderr}")
            return int(report.read().split()[-1])  # KiB

    def measure_memory(self, work):
        n = self.options.memory_size
        matrix = np.random.default_rng([self.options.seed, n]).random((n, n))
        path = os.path.join(work, f"memory_{n}.bin")
        write_matrices(path, [matrix])
        rows = []
        tool = self.tools["memory"]
        baseline = self.peak_kib([tool, path, "none"])
        for peer in ("pairsolve", "reference"):
            if peer in self.peers:
                self.progress(f"peak memory: {peer}")
                solving = self.peak_kib([tool, path, peer])
                rows.append((PEER_TITLES[peer], solving, baseline))
                # Both write every element of their working copy of the matrix, so a measurement
                # that shows less than that is not measuring the solve.
                if (solving - baseline) * 1024 < 0.9 * 8 * n * n:
                    self.fail(f"peak memory of {peer}: the solve adds {solving - baseline} KiB, "
                              f"less than its working copy of the matrix ({8 * n * n // 1024} KiB)")
        if "scipy" in self.peers:
            self.progress("peak memory: SciPy")
            script = PYTHON_MEMORY_SCRIPT.format(path=path, n=n)
            solving = self.peak_kib([sys.executable, "-c", script, "solve"])
            rows.append((PEER_TITLES["scipy"], solving,
                         self.peak_kib([sys.executable, "-c", script, "none"])))
        if "octave" in self.peers:
            self.progress("peak memory: Octave")
            command = OCTAVE + ["--path", self.build, "--eval"]
            solving = self.peak_kib(command + [OCTAVE_MEMORY_SCRIPT.format(path=path, n=n,
                                                                         solve="pairsolve (m);")])
            rows.append((PEER_TITLES["octave"], solving,
                         self.peak_kib(command + [OCTAVE_MEMORY_SCRIPT.format(path=path, n=n,
                                                                            solve="")])))
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


def case_title(case):
    if case.group == "tracking":
        return f"tracking {case.rows} x {case.cols}, per call"
    return f"{KIND_TITLES[case.kind]} {case.rows} x {case.cols}"


def sample_note(case, peer):
    calls = case.calls_per_sample(peer)
    if case.loop:
        return f"{case.samples_for(peer)} loops of {calls} calls"
    return f"{case.matrices} matrices" + (f", {calls} calls each" if calls > 1 else "")


def write_csv(path, cases):
    with open(path, "w") as out:
        out.write("group,kind,rows,cols,peer,samples,calls_per_sample,median_seconds,"
                  "min_seconds,max_seconds\n")
        for case in cases:
            for peer, times in case.times.items():
                if not times:
                    continue
                out.write(f"{case.group},{case.kind},{case.rows},{case.cols},{peer},{len(times)},"
                          f"{case.calls_per_sample(peer)},{median(times):.9e},{min(times):.9e},{max(times):.9e}\n")


def source_state():
    """The commit the run started from, and whether the solver's sources differed from it (the
    tools are only as new as the last build, which the run cannot see)."""
    commit = subprocess.run(["git", "-C", ROOT, "rev-parse", "--short", "HEAD"],
                            capture_output=True, text=True).stdout.strip() or "unknown"
    dirty = subprocess.run(["git", "-C", ROOT, "status", "--porcelain", "--", "solver", "host"],
                           capture_output=True, text=True).stdout.strip()
    return commit + (" (with uncommitted changes in solver/ or host/)" if dirty else "")


def machine_notes(options, commit, seconds):
    cpu = platform.processor() or platform.machine()
    try:
        with open("/proc/cpuinfo") as info:
            for line in info:
                if line.startswith("model name"):
                    cpu = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    import scipy
    return (f"Measured {datetime.date.today().isoformat()} on {cpu}, {os.cpu_count()} cores "
            f"shared with other jobs, commit {commit}; SciPy {scipy.__version__}, "
            f"Python {platform.python_version()}; {options.mode} run in {seconds / 60:.1f} min.")


def markdown(cases, memory, notes, peers):
    lines = [notes, "",
             "Times per call, medians over the samples in the last column: one sample per "
             "matrix (below n = 800 the mean of several calls in a row on it, as the first call in "
             "a process runs cold), or for tracking sizes one per loop of many calls, the "
             "caller's loop included. `ref / ps`: reference model over pairsolve (C++); "
             "`ps / SciPy`: pairsolve (C++) over SciPy; `Octave / C++`: the module called from "
             "Octave over the C++ library. munkres is pure Python: it runs only the smallest "
             "sizes, one call per matrix, and fewer calls per tracking loop (times.csv has every "
             "count).", ""]
    shown = [p for p in PEERS if p in peers]
    header = ["problem"] + [PEER_TITLES[p] for p in shown] + ["ref / ps", "ps / SciPy",
                                                              "Octave / C++", "samples"]
    lines.append("| " + " | ".join(header) + " |")
    lines.append("|" + "---|" * len(header))
    for case in cases:
        m = {p: median(case.times.get(p, [])) for p in PEERS}
        row = [case_title(case)] + [show_time(m[p]) for p in shown]
        row += [show_ratio(m["reference"], m["pairsolve"]), show_ratio(m["pairsolve"], m["scipy"]),
                show_ratio(m["octave"], m["pairsolve"]), sample_note(case, "pairsolve")]
        lines.append("| " + " | ".join(row) + " |")
    if memory:
        n, rows = memory
        lines += ["", f"Peak resident memory of one solve of a {n} x {n} matrix of uniform doubles "
                  f"(the matrix itself: {n * n * 8 / 2**20:.1f} MiB), each peer in a process of its "
                  "own; the last column is the peak of a process that loads the matrix and solves "
                  "it minus that of one that only loads it.", "",
                  "| peer | peak, loading and solving | peak, loading only | needed by the solve |",
                  "|---|---|---|---|"]
        for title, solving, loading in rows:
            lines.append(f"| {title} | {solving / 1024:.1f} MiB | {loading / 1024:.1f} MiB | "
                         f"{(solving - loading) / 1024:.1f} MiB |")
    return "\n".join(lines) + "\n"


def plot(path, cases, notes):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    import matplotlib.ticker

    figure, axes = plt.subplots(figsize=(10.0, 5.0), dpi=110)
    styles = {"pairsolve": ("pairsolve (C++)", "o-", "C0"),
              "reference": ("reference model", "s-", "C3"),
              "scipy": ("SciPy linear_sum_assignment", "^-", "C2"),
              "munkres": ("munkres (Python)", "v:", "C7")}
    square = [c for c in cases if c.group == "square"]
    for peer, (label, style, colour) in styles.items():
        points = [(c.rows, median(c.times[peer])) for c in square if c.times.get(peer)]
        if points:
            axes.plot(*zip(*points), style, color=colour, label=f"{label}, uniform doubles")
    for peer in ("pairsolve", "reference", "scipy"):
        label, _, colour = styles[peer]
        points = [(c.rows, median(c.times[peer])) for c in cases
                  if c.group == "integer" and c.kind == "int1e6" and c.times.get(peer)]
        if points:
            axes.plot(*zip(*points), "D", color=colour, fillstyle="none", markersize=8,
                      label=f"{label}, integers 0..10^6")
    axes.set_xscale("log")
    axes.set_yscale("log")
    sizes = sorted({c.rows for c in square})
    axes.set_xticks(sizes, [str(n) for n in sizes])
    axes.xaxis.set_minor_locator(matplotlib.ticker.NullLocator())
    axes.set_xlabel("n (n x n matrix)")
    axes.set_ylabel("seconds per solve (median)")
    axes.set_title("Time to solve one n x n assignment problem")
    axes.grid(True, which="both", alpha=0.3)
    axes.legend(fontsize=8, loc="upper left", bbox_to_anchor=(1.02, 1.0))
    figure.text(0.01, 0.005, "\n".join(textwrap.wrap(notes, 200)), fontsize=6, color="0.4")
    figure.tight_layout(rect=(0, 0.04, 1, 1))
    figure.savefig(path)
    plt.close(figure)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", default=os.path.join(ROOT, "build"),
                        help="the build tree with the tools and pairsolve.mex (default: build)")
    parser.add_argument("--quick", action="store_const", dest="mode", const="quick",
                        default="full", help="small sizes only (n up to 400), in about a minute")
    parser.add_argument("--smoke", action="store_const", dest="mode", const="smoke",
                        help="tiny sizes: checks that every peer runs and answers correctly")
    parser.add_argument("--out", help="folder for times.csv, table.md and times.png (default: "
                        "bench/peers/results for a full run, <build>/bench/peers/results-<mode> "
                        "otherwise)")
    parser.add_argument("--skip", default="", help="comma-separated peers to leave out: "
                        + ", ".join(p for p in PEERS if p != "pairsolve") + ", memory")
    parser.add_argument("--seed", type=int, default=SEED)
    options = parser.parse_args()
    options.skip = {s.strip() for s in options.skip.split(",") if s.strip()}
    unknown = options.skip - set(PEERS) - {"memory"}
    if unknown or "pairsolve" in options.skip:
        parser.error(f"cannot skip {', '.join(sorted(unknown | ({'pairsolve'} & options.skip)))}")
    options.memory_size = {"full": 1600, "quick": 400, "smoke": 300}[options.mode]
    if options.out is None:
        options.out = (os.path.join(HERE, "results") if options.mode == "full" else
                       os.path.join(options.build, "bench", "peers", f"results-{options.mode}"))

    run = Run(options)
    run.check_prerequisites()
    commit = source_state()
    started = time.perf_counter()
    cases = make_cases(options.mode)
    work = os.path.join(run.build, "bench", "peers", f"work-{options.mode}")
    os.makedirs(work, exist_ok=True)
    try:
        if "octave" in run.peers:
            run.octave = OctaveServer(run.build, work)
        for case in cases:
            run.progress(f"{case.name} ({', '.join(run.peers)})")
            run.time_case(case, work)
        if run.octave:
            run.octave.close()
            run.octave = None
        memory = None if "memory" in options.skip else run.measure_memory(work)
    finally:
        if run.octave:
            run.octave.kill()
        shutil.rmtree(work, ignore_errors=True)
    seconds = time.perf_counter() - started

    os.makedirs(options.out, exist_ok=True)
    notes = machine_notes(options, commit, seconds)
    table = markdown(cases, memory, notes, run.peers)
    with open(os.path.join(options.out, "table.md"), "w") as out:
        out.write(table)
    write_csv(os.path.join(options.out, "times.csv"), cases)
    plot(os.path.join(options.out, "times.png"), cases, notes)
    print(table)

    for case in cases:
        if case.group == "square" and case.rows >= 800 and case.times.get("reference"):
            ratio = median(case.times["reference"]) / median(case.times["pairsolve"])
            verdict = "met" if ratio >= 5 else "NOT met"
            print(f"n = {case.rows}, uniform doubles: pairsolve is {ratio:.1f} times faster than "
                  f"the reference model (target at least 5, aim 10): {verdict}")
    print(f"results in {options.out}")
    if run.failures:
        print(f"{len(run.failures)} answers FAILED their checks (see above)")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
