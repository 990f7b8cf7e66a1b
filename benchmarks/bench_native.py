"""Cost per evaluation of a native objective, beside the same function called through Python and the
engine alone, and the speed-up of native fits run in threads.

For d = 2, 10, 100 it prints the nanoseconds per evaluation of ParticleSwarm (50 particles) minimising the
built-in native sphere, the same fit with ``lambda x: sphere(x)`` (the same C function called through
Python), and the engine-only cost that the C++ benchmark bench_engine_cost measures with an objective that
costs almost nothing (built here with -DHIVEKIT_BUILD_BENCHMARKS=ON unless given). Then it times
``multistart`` of two native fits (about a second each) with a two-thread pool against the same two fits one
after the other, in alternating rounds.
Run with the package importable:
    PYTHONPATH=build/dev/pkg .venv/bin/python benchmarks/bench_native.py [path/to/bench_engine_cost]
"""

import os
import pathlib
import re
import subprocess
import sys
import time
from concurrent.futures import ThreadPoolExecutor

import hivekit
from hivekit import problems

ROOT = pathlib.Path(__file__).resolve().parents[1]
DIMENSIONS = (2, 10, 100)


def engine_only(binary):
    """ns per evaluation by d, as printed by the C++ benchmark."""
    if binary is None:
        build = ROOT / "build" / "bench"
        binary = build / "bench_engine_cost"
        if not binary.exists():
            subprocess.run(["cmake", "-S", str(ROOT), "-B", str(build), "-DHIVEKIT_BUILD_MODULE=OFF",
                            "-DHIVEKIT_BUILD_BENCHMARKS=ON", "-DCMAKE_BUILD_TYPE=Release"], check=True,
                           stdout=subprocess.DEVNULL)
            subprocess.run(["cmake", "--build", str(build), "-j2", "--target", "bench_engine_cost"], check=True,
                           stdout=subprocess.DEVNULL)
    out = subprocess.run([str(binary)], check=True, capture_output=True, text=True).stdout
    costs = {}
    for line in out.splitlines():
        fields = line.split()
        if len(fields) >= 3 and re.fullmatch(r"\d+", fields[0]):
            costs[int(fields[0])] = float(fields[2])
    return costs


def per_evaluation(objective, d, evaluations, repeats=3):
    n_iterations = max(1, evaluations // (50 * d))
    est = hivekit.ParticleSwarm(n_particles=50, n_iterations=n_iterations, random_state=1)
    lower, upper = [-5.0] * d, [5.0] * d
    best = float("inf")
    for _ in range(repeats):
        start = time.perf_counter()
        est.fit(objective, lower, upper)
        best = min(best, time.perf_counter() - start)
    return best / hivekit.expected_evaluations(est, d) * 1e9


def multistart_seconds(rounds=5):
    """Best wall times of the two fits one after the other and in a two-thread pool, taken in alternating
    rounds so that both see the same moments of a shared machine; the processor time of the best threaded
    round; and the results of both ways."""
    box = ([-5.0] * 10, [5.0] * 10)
    params = {"n_particles": 50, "n_iterations": 200000}
    best = {1: (float("inf"), 0.0), 2: (float("inf"), 0.0)}
    results = {}
    for _ in range(rounds):
        for workers in (1, 2):
            with ThreadPoolExecutor(max_workers=workers) as pool:
                start, cpu = time.perf_counter(), time.process_time()
                results[workers] = hivekit.multistart(hivekit.ParticleSwarm, problems.sphere, *box, seeds=[1, 2],
                                                      params=params, executor=pool)
                best[workers] = min(best[workers], (time.perf_counter() - start, time.process_time() - cpu))
    return best[1][0], best[2], results[1], results[2]


def main():
    engine = engine_only(pathlib.Path(sys.argv[1]) if len(sys.argv) > 1 else None)
    native = problems.sphere
    through_python = lambda x: native(x)  # noqa: E731
    print(f"{'d':>5} {'native ns/eval':>15} {'through Python':>15} {'engine only':>12} {'native/engine':>14}"
          f" {'Python/native':>14}")
    for d in DIMENSIONS:
        ours = per_evaluation(native, d, 20_000_000)
        python = per_evaluation(through_python, d, 400_000)
        print(f"{d:>5} {ours:>15.1f} {python:>15.1f} {engine[d]:>12.1f} {ours / engine[d]:>14.2f}"
              f" {python / ours:>14.2f}")
    print("target: native at most 1.3 times the engine-only cost at d = 10")
    one_by_one, (in_threads, cpu), sequential, parallel = multistart_seconds()
    assert parallel == sequential, "threads changed a result"
    print(f"multistart of 2 native fits: one after the other {one_by_one:.3f} s, two threads {in_threads:.3f} s,"
          f" speed-up {one_by_one / in_threads:.2f}")
    # Processor seconds per wall second of the threaded run: near 2 when both fits ran at once on an idle
    # machine; lower when other processes hold the cores (the load average tells).
    print(f"cores kept busy by the two threads: {cpu / in_threads:.2f}; load average {os.getloadavg()[0]:.2f}"
          f" on {os.cpu_count()} cores")
    print("target: speed-up at least 1.8 on two cores")
    return 0


if __name__ == "__main__":
    sys.exit(main())
