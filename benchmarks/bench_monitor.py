"""Per-call overhead of hivekit.Monitor, measured through real fits.

The same fit (same class, seed and objective, so the same calls bit for bit) runs with the objective passed
directly, through a plain counting wrapper, and through a Monitor with and without budgets. The monitor's
overhead per call is (time with the monitor - time with the objective) / calls; the target is below 1 us. Times
are the process's CPU time (best of the repeats), which other processes on a shared machine disturb less than
wall time.

Usage: PYTHONPATH=build/dev/pkg python benchmarks/bench_monitor.py [--calls N] [--repeats R]
"""

from __future__ import annotations

import argparse
import time
from collections.abc import Callable
from typing import Any

import hivekit


def square(x: list[float]) -> float:
    return x[0] * x[0]


def counted(objective: Callable[[list[float]], float]) -> Callable[[list[float]], float]:
    calls = [0]

    def wrapper(x: list[float]) -> float:
        calls[0] += 1
        return objective(x)

    return wrapper


def best_time(make_objective: Callable[[], Any], iterations: int, repeats: int) -> float:
    best = float("inf")
    for _ in range(repeats):
        est = hivekit.SimulatedAnnealing(n_iterations=iterations, random_state=7)
        objective = make_objective()
        start = time.process_time()
        est.fit(objective, [-5.0], [5.0])
        best = min(best, time.process_time() - start)
    return best


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--calls", type=int, default=1_000_000)
    parser.add_argument("--repeats", type=int, default=5)
    args = parser.parse_args()
    iterations = args.calls - 2  # the probe and the start point are calls too
    calls = hivekit.expected_evaluations(hivekit.SimulatedAnnealing(n_iterations=iterations), 1)
    assert calls is not None
    cases: list[tuple[str, Callable[[], Any]]] = [
        ("objective", lambda: square),
        ("plain counting wrapper", lambda: counted(square)),
        ("Monitor", lambda: hivekit.Monitor(square)),
        ("Monitor with all budgets", lambda: hivekit.Monitor(square, max_evaluations=calls, max_seconds=3600.0,
                                                              target=-1.0)),
    ]
    times = {name: best_time(make, iterations, args.repeats) for name, make in cases}
    base = times["objective"]
    print(f"{calls} calls per fit, CPU time, best of {args.repeats} (SimulatedAnnealing, 1 dimension)")
    print(f"{'objective':<26} {'total (s)':>10} {'per call (ns)':>14} {'overhead/call (ns)':>19} {'ratio':>7}")
    for name, seconds in times.items():
        per_call = 1e9 * seconds / calls
        overhead = 1e9 * (seconds - base) / calls
        print(f"{name:<26} {seconds:>10.4f} {per_call:>14.1f} {overhead:>19.1f} {seconds / base:>7.2f}")


if __name__ == "__main__":
    main()
