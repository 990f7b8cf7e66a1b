"""Demonstration: each optimiser on built-in test problems, with a fixed seed."""

import math
import sys
import time

import hivekit


def sphere(x):
    return sum(v * v for v in x)


def rastrigin(x):
    return 10.0 * len(x) + sum(v * v - 10.0 * math.cos(2.0 * math.pi * v) for v in x)


def rosenbrock(x):
    return sum(100.0 * (x[i + 1] - x[i] ** 2) ** 2 + (1.0 - x[i]) ** 2 for i in range(len(x) - 1))


PROBLEMS = [
    ("sphere-10", sphere, [-5.0] * 10, [5.0] * 10),
    ("rastrigin-5", rastrigin, [-5.12] * 5, [5.12] * 5),
    ("rosenbrock-4", rosenbrock, [-2.0] * 4, [2.0] * 4),
]


def counted(objective):
    calls = [0]

    def wrapper(x):
        calls[0] += 1
        return objective(x)

    return wrapper, calls


def main():
    rows = []
    for name, objective, lower, upper in PROBLEMS:
        wrapper, calls = counted(objective)
        est = hivekit.ParticleSwarm(random_state=0)
        start = time.perf_counter()
        est.fit(wrapper, lower, upper)
        elapsed = time.perf_counter() - start
        rows.append(("ParticleSwarm", name, est.score(), calls[0], elapsed))

    header = f"{'class':<28} {'problem':<14} {'best value':>14} {'evaluations':>12} {'time (s)':>9}"
    print(header)
    print("-" * len(header))
    for cls, name, best, evals, elapsed in rows:
        print(f"{cls:<28} {name:<14} {best:>14.6g} {evals:>12} {elapsed:>9.3f}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
