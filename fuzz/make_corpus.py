#!/usr/bin/env python3
"""Writes the fuzz target's seed corpus into fuzz/corpus/ (run from anywhere; the result is fixed).

Each seed is a matrix in the target's input layout (see pairsolve_fuzz.cpp): the documented edge
cases, written out, and seeded random matrices of each kind the solver has trouble with, at the
sizes the target allows. Options vary across seeds so that the allocation-failure and gateway
checks start from every setting.
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
    for name, data in seeds.items():
        with open(os.path.join(CORPUS, name), "wb") as f:
            f.write(data)
    print("%d seeds written to %s" % (len(seeds), CORPUS))


if __name__ == "__main__":
    main()
