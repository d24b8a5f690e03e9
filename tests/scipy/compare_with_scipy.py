#!/usr/bin/python3
"""Checks pairsolve's optimum against SciPy's linear_sum_assignment on a few hundred random
matrices up to 60 x 60: uniform doubles, integer costs with many ties, mixed magnitudes, and
matrices with forbidden pairs (+inf and -inf).

All matrices go to the tool pairsolve_solve_file in one file and are solved in one run. For each
answer the script checks that it is a valid assignment, that the cost is the sum of the caller's
matrix over the assigned pairs (added row by row, as pairsolve adds it), and that the cost is
SciPy's optimum: exactly for integer costs, within a relative 1e-9 for doubles (plus, when
forbidden pairs cannot all be avoided, one rounding step of pairsolve's stand-in for them per
assigned pair: only that finely does its search tell finite costs apart then).

Forbidden pairs: SciPy refuses -inf, so both infinities are handed to it as +inf. When they leave
no complete matching, SciPy calls the matrix infeasible; pairsolve then assigns as many rows as
it can without a forbidden pair and leaves the others at 0. The script finds that answer with
SciPy on the matrix whose infinite elements are replaced by a penalty larger than the sum of all
finite elements: the optimum uses as few forbidden pairs as possible, say k, and the cheapest
finite pairs among those. pairsolve must assign exactly min(M, N) - k rows at that finite cost.

Run with Debian's interpreter: /usr/bin/python3 compare_with_scipy.py --tool <pairsolve_solve_file>
The functions write_matrices, read_answers and run_tool are meant for reuse (e.g. by a benchmark).
"""

import argparse
import math
import os
import re
import struct
import subprocess
import sys
import tempfile

import numpy as np
from scipy.optimize import linear_sum_assignment

SEED = 20240611
RELATIVE_TOLERANCE = 1e-9
MAX_SIZE = 60


# ---------------------------------------------------------------------------------------------
# The tool's file formats (native byte order, see solve_file.cpp)

def write_matrices(path, matrices):
    """Writes 2-D float arrays for pairsolve_solve_file: count, then rows, cols, column-major data."""
    with open(path, "wb") as out:
        out.write(struct.pack("=Q", len(matrices)))
        for matrix in matrices:
            rows, cols = matrix.shape
            out.write(struct.pack("=ii", rows, cols))
            out.write(np.asarray(matrix, dtype=np.float64).tobytes(order="F"))


def read_answers(path):
    """Reads the tool's answers: a list of dicts with failed, identifier, message, assignment, cost."""
    with open(path, "rb") as source:
        data = source.read()
    offset = 0

    def take(fmt):
        nonlocal offset
        values = struct.unpack_from(fmt, data, offset)
        offset += struct.calcsize(fmt)
        return values

    def take_text():
        nonlocal offset
        (length,) = take("=I")
        text = data[offset:offset + length].decode("utf-8", "replace")
        offset += length
        return text

    (count,) = take("=Q")
    answers = []
    for _ in range(count):
        (failed,) = take("=B")
        identifier = take_text()
        message = take_text()
        (rows,) = take("=i")
        assignment = np.frombuffer(data, dtype=np.float64, count=rows, offset=offset).copy()
        offset += 8 * rows
        (cost,) = take("=d")
        answers.append({"failed": bool(failed), "identifier": identifier, "message": message,
                        "assignment": assignment, "cost": cost})
    if offset != len(data):
        raise ValueError(f"{path}: {len(data) - offset} bytes after the last answer")
    return answers


def run_tool(tool, matrices, repeat=1):
    """Solves the matrices with one run of the tool; returns (answers, seconds spent solving)."""
    with tempfile.TemporaryDirectory(prefix="pairsolve-scipy-") as directory:
        matrices_path = os.path.join(directory, "matrices.bin")
        answers_path = os.path.join(directory, "answers.bin")
        write_matrices(matrices_path, matrices)
        command = [tool, matrices_path, answers_path]
        if repeat != 1:
            command += ["--repeat", str(repeat)]
        run = subprocess.run(command, capture_output=True, text=True)
        if run.returncode != 0:
            raise RuntimeError(f"{' '.join(command)} exited with {run.returncode}:\n{run.stderr}")
        match = re.search(r"solve_seconds (\S+)", run.stdout)
        if not match:
            raise RuntimeError(f"no solve time in the tool's output: {run.stdout!r}")
        answers = read_answers(answers_path)
    if len(answers) != len(matrices):
        raise RuntimeError(f"{len(matrices)} matrices sent, {len(answers)} answers received")
    return answers, float(match.group(1))


# ---------------------------------------------------------------------------------------------
# Matrices

def random_shape(rng, shape_kind):
    """A shape up to MAX_SIZE x MAX_SIZE: square, wide (M < N) or tall (M > N)."""
    if shape_kind == "square":
        n = int(rng.integers(1, MAX_SIZE + 1))
        return n, n
    small = int(rng.integers(1, MAX_SIZE))
    large = int(rng.integers(small + 1, MAX_SIZE + 1))
    return (small, large) if shape_kind == "wide" else (large, small)


def base_values(rng, kind, shape):
    """Non-negative finite costs of one kind; the flag says whether all of them are integers."""
    if kind == "uniform":
        return rng.random(shape), False
    if kind == "int10":
        return rng.integers(0, 11, shape).astype(np.float64), True
    if kind == "int1000":
        return rng.integers(0, 1001, shape).astype(np.float64), True
    if kind == "mixed":
        # Each element on its own scale between 1e-6 and 1e6.
        return rng.random(shape) * 10.0 ** rng.uniform(-6.0, 6.0, shape), False
    if kind == "mixedlines":
        # Rows and columns on different scales, so that the optimum trades large against small.
        rows = 10.0 ** rng.uniform(-4.0, 4.0, (shape[0], 1))
        cols = 10.0 ** rng.uniform(-2.0, 2.0, (1, shape[1]))
        return rng.random(shape) * rows * cols, False
    raise ValueError(kind)


def forbid(rng, matrix, density, sign):
    """Puts infinite elements (+inf, -inf or both) at a random share of the positions."""
    mask = rng.random(matrix.shape) < density
    if sign == "+":
        values = np.inf
    elif sign == "-":
        values = -np.inf
    else:
        values = np.where(rng.random(matrix.shape) < 0.5, np.inf, -np.inf)
    matrix = matrix.copy()
    matrix[mask] = values if np.isscalar(values) else values[mask]
    return matrix


def forbid_blocks(rng, matrix):
    """Allows a group of rows only a smaller group of columns, so that some of those rows can be
    matched only through a forbidden pair."""
    rows, cols = matrix.shape
    group = rng.choice(rows, size=int(rng.integers(1, rows + 1)), replace=False)
    allowed = rng.choice(cols, size=int(rng.integers(0, min(len(group), cols) + 1)), replace=False)
    blocked = np.setdiff1d(np.arange(cols), allowed)
    matrix = matrix.copy()
    matrix[np.ix_(group, blocked)] = np.inf if rng.random() < 0.5 else -np.inf
    return matrix


def generate(seed):
    """The test matrices: a list of (label, matrix, integer costs)."""
    rng = np.random.default_rng(seed)
    cases = []
    shape_kinds = ("square", "wide", "tall")
    plain_kinds = (("uniform", 25), ("int10", 20), ("int1000", 20), ("mixed", 15),
                   ("mixedlines", 15))
    for kind, per_shape in plain_kinds:
        for shape_kind in shape_kinds:
            for _ in range(per_shape):
                shape = random_shape(rng, shape_kind)
                values, integer = base_values(rng, kind, shape)
                cases.append((f"{kind} {shape_kind}", values, integer))

    for shape_kind in shape_kinds:
        for _ in range(40):
            kind = ("uniform", "int10", "int1000", "mixed")[int(rng.integers(0, 4))]
            shape = random_shape(rng, shape_kind)
            values, integer = base_values(rng, kind, shape)
            if rng.random() < 0.25:
                matrix = forbid_blocks(rng, values)
                label = f"{kind} {shape_kind} forbidden block"
            else:
                density = float(rng.choice([0.02, 0.1, 0.3, 0.6, 0.85, 0.97]))
                sign = str(rng.choice(["+", "-", "+-"]))
                matrix = forbid(rng, values, density, sign)
                label = f"{kind} {shape_kind} forbidden {sign}inf density {density}"
            cases.append((label, matrix, integer))

    # Corners that random draws rarely hit.
    cases += [
        ("empty 0x5", np.zeros((0, 5)), True),
        ("empty 5x0", np.zeros((5, 0)), True),
        ("1x1", np.array([[7.0]]), True),
        ("one row", rng.integers(0, 11, (1, MAX_SIZE)).astype(np.float64), True),
        ("one column", rng.integers(0, 11, (MAX_SIZE, 1)).astype(np.float64), True),
        ("all zero", np.zeros((MAX_SIZE, MAX_SIZE)), True),
        ("constant", np.full((17, 23), 3.0), True),
        ("all +inf", np.full((4, 6), np.inf), True),
        ("all -inf", np.full((6, 4), -np.inf), True),
        ("zeros with inf", forbid(rng, np.zeros((30, 30)), 0.5, "+-"), True),
        ("finite diagonal only", np.where(np.eye(8, 9, 3) > 0, 2.0, np.inf), True),
    ]
    return cases


# ---------------------------------------------------------------------------------------------
# SciPy's side

def scipy_reference(matrix):
    """(forbidden pairs needed, optimal cost of the finite pairs) according to SciPy."""
    forbidden = np.isinf(matrix)
    finite = np.where(forbidden, 0.0, matrix)
    as_scipy_takes_it = np.where(forbidden, np.inf, matrix)
    try:
        rows, cols = linear_sum_assignment(as_scipy_takes_it)
        return 0, float(math.fsum(matrix[rows, cols]))
    except ValueError as error:
        if "infeasible" not in str(error):
            raise
    # A penalty above any sum of finite elements makes one more forbidden pair cost more than any
    # finite choice; for integer matrices it is an integer, so SciPy's sums stay exact.
    penalty = math.floor(math.fsum(finite.ravel())) + 1.0
    rows, cols = linear_sum_assignment(np.where(forbidden, penalty, matrix))
    used = forbidden[rows, cols]
    return int(used.sum()), float(math.fsum(matrix[rows[~used], cols[~used]]))


# ---------------------------------------------------------------------------------------------
# Checks

def check(matrix, integer, answer):
    """The list of problems with pairsolve's answer (empty when it is right)."""
    rows, cols = matrix.shape
    if answer["failed"]:
        return [f"call failed: {answer['identifier'] or '(no identifier)'}: {answer['message']}"]
    assignment = answer["assignment"]
    cost = answer["cost"]
    problems = []

    if len(assignment) != rows:
        return [f"assignment has {len(assignment)} entries for {rows} rows"]
    if not all(float(a).is_integer() and 0 <= a <= cols for a in assignment):
        return [f"assignment entries outside 0..{cols} or not whole: {assignment.tolist()}"]
    assigned_rows = np.flatnonzero(assignment)
    assigned_cols = assignment[assigned_rows].astype(int) - 1
    if len(set(assigned_cols.tolist())) != len(assigned_cols):
        problems.append("a column is assigned to two rows")
    on_infinite = np.isinf(matrix[assigned_rows, assigned_cols])
    if on_infinite.any():
        problems.append(f"rows {(assigned_rows[on_infinite] + 1).tolist()} are assigned to "
                        "infinite elements")

    # pairsolve adds the caller's elements row by row from 0.0; the same order gives the same bits.
    expected_sum = 0.0
    for r, c in zip(assigned_rows, assigned_cols):
        if not math.isinf(matrix[r, c]):
            expected_sum += float(matrix[r, c])
    if cost != expected_sum:
        problems.append(f"cost {cost!r} is not the sum {expected_sum!r} over the assigned pairs")

    forbidden_needed, optimum = scipy_reference(matrix)
    expected_count = min(rows, cols) - forbidden_needed
    if len(assigned_rows) != expected_count:
        problems.append(f"{len(assigned_rows)} rows assigned, expected {expected_count} "
                        f"(min(M, N) = {min(rows, cols)}, {forbidden_needed} pairs only through "
                        "infinite elements)")
    if integer:
        if cost != optimum:
            problems.append(f"cost {cost!r}, optimum {optimum!r}")
    else:
        tolerance = RELATIVE_TOLERANCE * abs(optimum)
        if forbidden_needed > 0:
            # The search then carries forbidden pairs at pairsolve's stand-in value, and finite
            # costs are told apart only to the rounding step of numbers that large: allow one
            # step per assigned pair.
            tolerance += min(rows, cols) * float(np.spacing(forbidden_stand_in(matrix)))
        if abs(cost - optimum) > tolerance:
            problems.append(f"cost {cost!r}, optimum {optimum!r} (difference "
                            f"{abs(cost - optimum):.3g}, tolerance {tolerance:.3g})")
    return problems


def forbidden_stand_in(matrix):
    """The finite value pairsolve's search uses for an infinite element."""
    finite = matrix[np.isfinite(matrix)]
    largest = float(finite.max()) if finite.size else -1.0
    return (10.0 * largest) * float(matrix.size) if largest > 0 else 10.0


def describe(matrix):
    with np.printoptions(threshold=200, linewidth=120, precision=17):
        return str(matrix)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--tool", required=True, help="path of pairsolve_solve_file")
    parser.add_argument("--seed", type=int, default=SEED)
    parser.add_argument("--show", type=int, default=5, help="failures to print in full")
    parser.add_argument("--save-failures", metavar="FILE",
                        help="write the failing matrices to FILE (numpy .npz)")
    options = parser.parse_args()

    cases = generate(options.seed)
    answers, seconds = run_tool(options.tool, [matrix for _, matrix, _ in cases])

    failures = []
    for index, ((label, matrix, integer), answer) in enumerate(zip(cases, answers)):
        problems = check(matrix, integer, answer)
        if problems:
            failures.append((index, label, matrix, answer, problems))

    for index, label, matrix, answer, problems in failures[:options.show]:
        print(f"FAILED matrix {index} ({label}, {matrix.shape[0]} x {matrix.shape[1]}):")
        for problem in problems:
            print(f"  {problem}")
        print(f"  assignment {answer['assignment'].astype(int).tolist()}")
        print("  matrix:\n" + "\n".join("    " + line for line in describe(matrix).splitlines()))
    if len(failures) > options.show:
        print(f"... and {len(failures) - options.show} more failing matrices")
    if failures and options.save_failures:
        np.savez(options.save_failures, **{f"m{index}": matrix for index, _, matrix, _, _ in failures})

    print(f"{len(cases) - len(failures)} passed, {len(failures)} failed "
          f"(seed {options.seed}, pairsolve solve time {seconds:.3f} s)")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
