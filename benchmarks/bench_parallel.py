"""Batched evaluation against one call at a time, from one run: Parallel over thread pools and Vectorized numpy.

Part 1: an objective that waits 5 ms per call (time.sleep releases the interpreter lock, as a simulation or a
remote service would) through hivekit.Parallel over a ThreadPoolExecutor of 2, 4 and 8 workers, against the
plain fit with the same objective, for GreyWolfOptimizer, CmaEsOptimizer, Nsga2Optimizer and
DifferentialEvolution. Targets on a 2-core machine: 2 workers at least 1.8x faster for the first three, 1.4x for
DifferentialEvolution; more workers keep scaling as long as the batches are wider than the pool.

Part 2: rastrigin in 10 dimensions written with numpy, through hivekit.Vectorized (one array per batch), against
the same numpy code called on one row per candidate, for GreyWolfOptimizer and CmaEsOptimizer. Target: at least
5x less time per evaluation.

Every wrapped fit is checked against the plain one bit for bit (predict, score, history_, population_) and the
result printed. Times are wall times of one fit each.

Usage: PYTHONPATH=build/dev/pkg python benchmarks/bench_parallel.py [--quick]
"""

from __future__ import annotations

import argparse
import math
import struct
import time
from collections.abc import Callable
from concurrent.futures import ThreadPoolExecutor
from typing import Any

import numpy as np

import hivekit

WAIT = 0.005
DIMENSION = 10
LOWER, UPPER = [-5.12] * DIMENSION, [5.12] * DIMENSION
# Shifted so that neither the box centre (the probe, CMA-ES's start) nor any corner is the optimum.
SHIFT = np.linspace(-1.3, 2.1, DIMENSION)


def rastrigin_rows(rows: Any) -> Any:
    z = rows - SHIFT
    return 10.0 * DIMENSION + (z * z - 10.0 * np.cos(2.0 * math.pi * z)).sum(axis=1)


def rastrigin_one(x: list[float]) -> float:
    return float(rastrigin_rows(np.asarray(x, dtype=np.float64).reshape(1, -1))[0])


def waiting(x: list[float]) -> float:
    time.sleep(WAIT)
    return rastrigin_one(x)


def waiting_two(x: list[float]) -> list[float]:
    time.sleep(WAIT)
    f = rastrigin_one(x)
    return [f, f + 3.0 * x[0]]


def bits(value: Any) -> Any:
    if isinstance(value, float):
        return struct.pack("<d", value)
    if isinstance(value, (list, tuple)):
        return [bits(v) for v in value]
    return value


def state(est: Any) -> Any:
    history = getattr(est, "history_", None)
    return bits([est.predict(), est.score(), est.population_, history])


def timed(make: Callable[[], Any], objective: Any) -> tuple[float, Any]:
    est = make()
    start = time.perf_counter()
    est.fit(objective, LOWER, UPPER)
    return time.perf_counter() - start, state(est)


def calls(make: Callable[[], Any]) -> int:
    count = hivekit.expected_evaluations(make(), DIMENSION)
    assert count is not None  # every class measured here makes a fixed number of calls
    return count


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="a smoke run: few iterations, figures meaningless")
    args = parser.parse_args()
    scale = 1 if args.quick else 10

    print(f"Part 1: {WAIT * 1000:.0f} ms per call, Parallel over a thread pool; speed-up = plain time / time")
    print(f"{'class':26} {'calls':>6} {'plain s':>8} {'2 workers':>10} {'4 workers':>10} {'8 workers':>10}  identical")
    waits: list[tuple[str, Callable[[], Any], Callable[[list[float]], Any]]] = [
        ("GreyWolfOptimizer", lambda: hivekit.GreyWolfOptimizer(n_wolves=24, n_iterations=2 * scale, random_state=1),
         waiting),
        ("CmaEsOptimizer", lambda: hivekit.CmaEsOptimizer(n_individuals=24, n_iterations=2 * scale, random_state=1),
         waiting),
        ("Nsga2Optimizer", lambda: hivekit.Nsga2Optimizer(n_individuals=24, n_iterations=2 * scale, random_state=1),
         waiting_two),
        ("DifferentialEvolution",
         lambda: hivekit.DifferentialEvolution(n_individuals=40, n_iterations=scale, random_state=1), waiting),
    ]
    for name, make, objective in waits:
        plain, reference = timed(make, objective)
        cells, same = [], True
        for workers in (2, 4, 8):
            with ThreadPoolExecutor(workers) as pool:
                seconds, result = timed(make, hivekit.Parallel(objective, pool))
            cells.append(f"{plain / seconds:9.2f}x")
            same = same and result == reference
        print(f"{name:26} {calls(make):6d} {plain:8.2f} {' '.join(cells)}  {same}")

    print()
    print(f"Part 2: rastrigin, d = {DIMENSION}, numpy; time per evaluation, per-row calls against Vectorized")
    print(f"{'class':26} {'calls':>6} {'per row us':>11} {'Vectorized us':>14} {'ratio':>7}  identical")
    vectorized: list[tuple[str, Callable[[], Any]]] = [
        ("GreyWolfOptimizer",
         lambda: hivekit.GreyWolfOptimizer(n_wolves=200, n_iterations=10 * scale, random_state=2)),
        ("CmaEsOptimizer",
         lambda: hivekit.CmaEsOptimizer(n_individuals=200, n_iterations=10 * scale, random_state=2)),
    ]
    for name, make in vectorized:
        plain, reference = timed(make, rastrigin_one)
        seconds, result = timed(make, hivekit.Vectorized(rastrigin_rows))
        n = calls(make)
        print(f"{name:26} {n:6d} {plain / n * 1e6:11.2f} {seconds / n * 1e6:14.2f} "
              f"{plain / seconds:6.2f}x  {result == reference}")


if __name__ == "__main__":
    main()
