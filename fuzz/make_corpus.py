#!/usr/bin/env python3
"""Writes the fuzz target's seed corpus into fuzz/corpus/ (run from anywhere; the result is fixed).

Each seed is a matrix in the target's input layout (see pairsolve_fuzz.cpp): the documented edge
cases, written out, and seeded random matrices of each kind the solver has trouble with, up to
12 x 12 element by element; then compact seeds, a generator with its shape, parameter and seed and
a few perturbations, for every generator at sizes past the offset search's lists (64 rows), tall,
wide and square, to 128 x 128. Options vary across seeds so that the allocation-failure and
gateway checks start from every setting.
"""
import math
import os
import random
import shutil
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
CORPUS = os.path.join(HERE, "corpus")
INF = math.inf
NAN = math.nan


def encode_value(v):
    if isinstance(v, bytes):  # an explicit tag sequence
        return v
    if math.isnan(v):
        return b"\xac"
    if v == INF:
        return b"\xa0"
    if v == -INF:
        return b"\xa8"
    if v == 0 and math.copysign(1, v) < 0:
        return b"\xb0"
    if v == int(v) and 0 <= v <= 15:
        return bytes([int(v)])
    raw = struct.pack("<d", v)
    return (b"\xe0" if v > 0 else b"\xff") + raw


def encode(rows, cols, row_major, fail_at=0, nlhs=2):
    """Header and elements; the elements are given row by row, as people write matrices."""
    out = bytearray([rows, cols, (fail_at & 7) | (nlhs << 3)])
    for c in range(cols):
        for r in range(rows):
            out += encode_value(row_major[r * cols + c])
    return bytes(out)


EDGE_CASES = {
    "first-example": (3, 3, [4, 1, 3, 2, 0, 5, 3, 2, 2]),
    "negative-last": (2, 2, [1, 2, 3, -1]),
    "minus-inf-forbidden": (2, 2, [-INF, 1, 2, 3]),
    "forbidden-avoided": (2, 2, [1, INF, INF, 2]),
    "row-only-through-inf": (2, 2, [1, INF, INF, INF]),
    "column-of-inf": (2, 2, [INF, 1, INF, 2]),
    "no-finite-element": (2, 2, [INF, -INF, INF, INF]),
    "nan-only": (2, 3, [NAN] * 6),
    "forbidden-value-ten": (2, 2, [0, INF, 0, 0]),
    "forbidden-value-120": (2, 3, [1, INF, 2, 0, 1, INF]),
    "empty-0x4": (0, 4, []),
    "empty-4x0": (4, 0, []),
    "empty-0x0": (0, 0, []),
    "more-rows-than-columns": (3, 2, [5, 1, 1, 2, 0, 0]),
    "nan-not-first": (1, 2, [1, NAN]),
    "nan-beside-zeros": (2, 2, [0, NAN, 1, 0]),
    "sweep-goes-on": (2, 3, [2, 1, 0, 3, 1, 0]),
    "three-by-three-a": (3, 3, [2, 2, 1, 1, 1, 0, 0, 2, 2]),
    "which-optimum": (3, 3, [0, 1, 1, 1, 1, 2, 1, 0, 1]),
    "three-by-three-b": (3, 3, [1, 0, 1, 2, 3, 0, 2, 1, 2]),
    "all-zero": (2, 2, [0, 0, 0, 0]),
    "all-one": (3, 3, [1] * 9),
    "one-row": (1, 4, [3, 1, 1, 2]),
    "one-column": (4, 1, [3, 1, 1, 2]),
    "wide": (2, 3, [5, 1, 9, 1, 2, 3]),
    "negative-zero": (2, 2, [-0.0, 1, 1, -0.0]),
    "nan-heads-row": (2, 2, [1, 2, NAN, 3]),
    "nan-blocks-column": (2, 2, [1, NAN, 2, NAN]),
    "nan-heads-column-tall": (3, 2, [NAN, 1, 2, 3, 4, 5]),
    "overflow-forbidden": (2, 2, [1e308, INF, 1e308, INF]),
    "overflow-inf-minus-inf": (2, 2, [1e308, 1e308, INF, INF]),
    "nan-with-forbidden": (2, 2, [1, INF, NAN, NAN]),
    "huge-sum": (2, 2, [1.7976931348623157e308] * 4),
    "subnormals": (2, 2, [5e-324, 1e-323, 1.5e-323, 5e-324]),
    "signalling-nan": (2, 2, [b"\xae", 1, 2, b"\xaf"]),
}


def random_value(rng, kind):
    if kind == "ties":
        return rng.randint(0, 3)
    if kind == "integers":
        return rng.randint(0, 15)
    if kind == "fractions":
        return bytes([0x80 | rng.randint(0, 15), rng.randint(0, 255), rng.randint(0, 255)])
    if kind == "mixed":
        return bytes([0x90 | rng.randint(0, 15), rng.randint(0, 24)])
    if kind == "forbidden":
        p = rng.random()
        return INF if p < 0.1 else -INF if p < 0.15 else rng.randint(0, 9)
    if kind == "nan":
        p = rng.random()
        return NAN if p < 0.12 else INF if p < 0.16 else rng.randint(0, 9)
    if kind == "huge":
        p = rng.random()
        if p < 0.08:
            return INF
        return rng.randint(0, 3) if p < 0.16 else bytes([rng.randint(0xC0, 0xCF)])
    if kind == "subnormal":
        return bytes([rng.randint(0xB0, 0xBF)]) if rng.random() < 0.8 else 0
    if kind == "raw":
        return bytes([0xE0]) + struct.pack("<d", rng.random() * 10 ** rng.randint(-300, 300))
    raise ValueError(kind)


# The compact layout's generators, by number, and the parameters worth a seed of their own.
COMPACT_KINDS = {
    "tracking": (0, [0, 3, 9]),     # tracks lost (rows of +inf only)
    "clutter": (1, [0, 2, 5]),
    "integers": (2, [0, 1, 2, 3, 4]),  # 0 .. 1, 3, 10, 100, 10^6
    "tenths": (3, [0]),
    "low-rank": (4, [0, 3, 15]),    # nudged elements: 1/128, 4/128, 16/128
    "uniform": (5, [0, 1, 2, 3]),   # times 1, 1e-3, 1e-300, 1e300
    "ulps": (6, [0]),
    "products": (7, [0, 1, 2]),     # f = 1, 0.37, 1e-310; sides at most 80
    "generated": (8, list(range(12))),  # random_matrices::allKinds
}

# Perturbation codes (op % 16).
PLUS_INF, MINUS_INF, NAN_OP, MINUS_ZERO, HUGE, DBL_MAX_OP, ZERO, UP, DOWN, TIE, ROW_INF, \
    COL_INF, MINUS_ONE, SUBNORMAL, INTEGER, PLUS_1E9 = range(16)


def encode_compact(kind, rows, cols, parameter, seed, perturbations=(), fail_at=0, nlhs=2):
    out = bytearray([0x80 | kind, rows - 1, cols - 1, (fail_at & 7) | (nlhs << 3), parameter])
    out += struct.pack("<I", seed)
    for op, r, c in perturbations:
        out += bytes([op, r, c])
    return bytes(out)


def compact_seeds(rng):
    seeds = {}
    big = [(128, 128), (80, 80), (128, 90), (90, 128), (64, 100), (100, 64)]
    for name, (kind, parameters) in sorted(COMPACT_KINDS.items()):
        limit = 80 if name == "products" else 128
        for index, parameter in enumerate(parameters):
            # Each parameter at one large shape, in turn; the first also at the others.
            shapes = big if index == 0 else [big[index % len(big)]]
            for rows, cols in shapes:
                rows, cols = min(rows, limit), min(cols, limit)
                seeds["compact-%s-p%d-%dx%d" % (name, parameter, rows, cols)] = encode_compact(
                    kind, rows, cols, parameter, rng.randrange(1 << 32),
                    fail_at=rng.randint(0, 7), nlhs=rng.randint(0, 2))
    # Perturbed: infinities, zeros, huge values, whole rows and columns of +inf, ties and ulps
    # apart at random places, so that mutations start from each. No NaN, DBL_MAX or negative
    # element here: each would take the offset search out of the call (the seeds below have them).
    kept = [op for op in range(16) if op not in (NAN_OP, DBL_MAX_OP, MINUS_ONE)]
    for kind, rows, cols, parameter in [(0, 128, 110, 4), (1, 100, 100, 1), (2, 96, 128, 2),
                                        (3, 128, 128, 0), (4, 110, 90, 7), (5, 80, 80, 0),
                                        (6, 128, 70, 0), (7, 80, 72, 1), (8, 90, 90, 8)]:
        perturbations = [(rng.choice(kept) | rng.randrange(16) << 4, rng.randrange(256),
                          rng.randrange(256)) for _ in range(rng.randint(4, 24))]
        seeds["compact-perturbed-%d-%dx%d" % (kind, rows, cols)] = encode_compact(
            kind, rows, cols, parameter, rng.randrange(1 << 32), perturbations,
            fail_at=rng.randint(0, 7), nlhs=rng.randint(0, 2))
    # A lost track and a detection nobody can take in the same tracking matrix; a NaN and a
    # negative element in large ones (the element-by-element search, and the copy's early end).
    seeds["compact-tracking-lost-row-and-column"] = encode_compact(
        0, 120, 120, 0, 77, [(ROW_INF, 5, 0), (COL_INF, 0, 17), (TIE, 40, 40)], fail_at=3)
    seeds["compact-uniform-nan"] = encode_compact(5, 100, 100, 0, 78, [(NAN_OP, 50, 50)])
    seeds["compact-integers-negative-last"] = encode_compact(
        2, 128, 128, 2, 79, [(MINUS_ONE, 127, 127)], fail_at=2)
    seeds["compact-low-rank-ulps"] = encode_compact(
        4, 128, 128, 0, 80, [(UP, r, (r * 37) % 128) for r in range(0, 128, 3)])
    return seeds


def main():
    if os.path.isdir(CORPUS):
        shutil.rmtree(CORPUS)
    os.makedirs(CORPUS)
    seeds = {}
    for index, (name, (rows, cols, values)) in enumerate(sorted(EDGE_CASES.items())):
        seeds["edge-" + name] = encode(rows, cols, values, fail_at=index % 8, nlhs=index % 3)
    rng = random.Random(20240601)
    kinds = ["ties", "integers", "fractions", "mixed", "forbidden", "nan", "huge", "subnormal",
             "raw"]
    for kind in kinds:
        for shape in range(4):
            shapes = [(12, 12), (5, 11), (11, 5), (rng.randint(1, 12), rng.randint(1, 12))]
            rows, cols = shapes[shape]
            values = [random_value(rng, kind) for _ in range(rows * cols)]
            seeds["random-%s-%d-%dx%d" % (kind, shape, rows, cols)] = encode(
                rows, cols, values, fail_at=rng.randint(0, 7), nlhs=rng.randint(0, 2))
    seeds.update(compact_seeds(rng))
    for name, data in seeds.items():
        with open(os.path.join(CORPUS, name), "wb") as f:
            f.write(data)
    print("%d seeds written to %s" % (len(seeds), CORPUS))


if __name__ == "__main__":
    main()
