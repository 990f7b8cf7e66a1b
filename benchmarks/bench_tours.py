"""Processor time of the tour optimisers and of the TSPLIB reader.

1. ``AntColony(variant=..., random_state=0)`` with its defaults on the bundled pr1002: processor seconds of
   ``fit`` and the gap of ``score()`` to the optimum 259045 (``--iterations`` shortens the fits; the default
   is the constructor's 100).
2. One ant's tour at 1,000 cities without 2-opt: the one-iteration fit of 51 ants less that of 1 ant (which
   holds the matrix conversion and the weight table), divided by 50.
3. ``load_tsplib`` of a 2,392-city EUC_2D instance written to a temporary file (random whole coordinates in
   the range of the large printed-circuit instances), against the same reader with its first matrix loop
   (every pair in turn in Python, each entry written twice), against which the target of ten times faster
   is set.

Run with the package importable:
    PYTHONPATH=build/dev/pkg .venv/bin/python benchmarks/bench_tours.py [--variants acs mmas] [--iterations N]
"""

import argparse
import math
import random
import tempfile
import time
from pathlib import Path

from hivekit import AntColony
from hivekit import tsplib

OPTIMUM = tsplib.BUNDLED_OPTIMA["pr1002"]


def cpu(fn):
    start = time.process_time()
    result = fn()
    return time.process_time() - start, result


def colony(variants, iterations):
    matrix = tsplib.load_tsplib("pr1002").distance_matrix
    for variant in variants:
        est = AntColony(variant=variant, random_state=0, n_iterations=iterations)
        seconds, _ = cpu(lambda: est.fit(matrix))
        gap = (est.score() - OPTIMUM) / OPTIMUM
        print(f"AntColony {variant:5} pr1002 {iterations} iterations: {seconds:8.1f} s CPU, "
              f"length {est.score():.0f}, gap {100 * gap:.2f} %", flush=True)


def one_ant():
    matrix = tsplib.load_tsplib("pr1002").distance_matrix[:1000]
    matrix = [row[:1000] for row in matrix]
    times = {}
    for ants in (1, 51):
        est = AntColony(n_ants=ants, n_iterations=1, use_two_opt=False, random_state=0)
        best = min(cpu(lambda: est.fit(matrix))[0] for _ in range(3))
        times[ants] = best
    per_ant = (times[51] - times[1]) / 50
    print(f"one ant's tour at 1000 cities (no 2-opt): {1000 * per_ant:.2f} ms CPU "
          f"(difference of 51-ant and 1-ant fits / 50)", flush=True)


def write_instance(path, n, seed=2392):
    rng = random.Random(seed)
    lines = [f"NAME : random{n}", "TYPE : TSP", f"DIMENSION : {n}", "EDGE_WEIGHT_TYPE : EUC_2D",
             "NODE_COORD_SECTION"]
    lines += [f"{k + 1} {rng.randint(0, 20000)} {rng.randint(0, 20000)}" for k in range(n)]
    lines.append("EOF")
    path.write_text("\n".join(lines) + "\n")


def pair_by_pair(weight_type, points):
    """The reader's first EUC_2D matrix: every pair in turn, each entry written on both sides."""
    n = len(points)
    matrix = [[0.0] * n for _ in range(n)]
    for i in range(n):
        for j in range(i + 1, n):
            dx = points[i][0] - points[j][0]
            dy = points[i][1] - points[j][1]
            d = float(math.floor(math.sqrt(dx * dx + dy * dy) + 0.5))
            matrix[i][j] = d
            matrix[j][i] = d
    return matrix


def loader():
    with tempfile.TemporaryDirectory() as tmp:
        path = Path(tmp) / "random2392.tsp"
        write_instance(path, 2392)
        rounds = []
        current = tsplib._coordinate_matrix
        for _ in range(3):
            now, _ = cpu(lambda: tsplib.load_tsplib(path))
            tsplib._coordinate_matrix = pair_by_pair
            try:
                first, _ = cpu(lambda: tsplib.load_tsplib(path))
            finally:
                tsplib._coordinate_matrix = current
            rounds.append((now, first))
        now, first = min(r[0] for r in rounds), min(r[1] for r in rounds)
        print(f"load_tsplib 2392 cities: {now:.3f} s CPU, with the first reader's loop {first:.3f} s CPU: "
              f"{first / now:.1f}x (target 10x)", flush=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--variants", nargs="*", default=["acs", "mmas"])
    parser.add_argument("--iterations", type=int, default=100)
    parser.add_argument("--skip-colony", action="store_true")
    args = parser.parse_args()
    loader()
    one_ant()
    if not args.skip_colony:
        colony(args.variants, args.iterations)


if __name__ == "__main__":
    main()
