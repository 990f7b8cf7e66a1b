"""Cost per objective evaluation through Python, beside the physical floor.

The floor is a small C extension, compiled here for this run only, that makes
the same number of calls of the same objective, each with a fresh list of d new
floats, and reads each result. Run with the package installed:
    .venv/bin/python benchmarks/bench_python_overhead.py
"""

import importlib.util
import pathlib
import subprocess
import sys
import sysconfig
import tempfile
import time

import hivekit

HERE = pathlib.Path(__file__).parent


def build_floor(directory):
    source = HERE / "floor" / "call_floor.c"
    target = pathlib.Path(directory) / ("call_floor" + sysconfig.get_config_var("EXT_SUFFIX"))
    cc = (sysconfig.get_config_var("CC") or "cc").split()[0]
    subprocess.run(
        [cc, "-O2", "-shared", "-fPIC", "-I", sysconfig.get_paths()["include"], str(source), "-o", str(target)],
        check=True,
    )
    found = importlib.util.spec_from_file_location("call_floor", target)
    module = importlib.util.module_from_spec(found)
    found.loader.exec_module(module)
    return module


def best_of(repeats, fn):
    best = float("inf")
    for _ in range(repeats):
        start = time.perf_counter()
        fn()
        best = min(best, time.perf_counter() - start)
    return best


def main():
    with tempfile.TemporaryDirectory() as tmp:
        floor = build_floor(tmp)
        objective = lambda x: 0.0  # noqa: E731
        print(f"{'d':>5} {'evaluations':>12} {'hivekit ns/eval':>16} {'floor ns/eval':>14} {'ratio':>7}")
        for d in (2, 10, 100):
            n_particles, n_iterations = 50, max(1, 400000 // (50 * d)) - 1
            evaluations = n_particles * (n_iterations + 1) + 1  # the probe call included
            est = hivekit.ParticleSwarm(n_particles=n_particles, n_iterations=n_iterations, random_state=0)
            lower, upper = [-1.0] * d, [1.0] * d
            ours = best_of(5, lambda: est.fit(objective, lower, upper)) / evaluations
            base = best_of(5, lambda: floor.run(objective, evaluations, d)) / evaluations
            print(f"{d:>5} {evaluations:>12} {ours * 1e9:>16.1f} {base * 1e9:>14.1f} {ours / base:>7.2f}")
    print("target: at most 1.6 times the floor at d = 10")
    return 0


if __name__ == "__main__":
    sys.exit(main())
