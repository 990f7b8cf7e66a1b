"""DifferentialEvolution against scipy.optimize.differential_evolution, and
CmaEsOptimizer against the cma package, on 10-dimensional shifted Rastrigin.

Every optimiser calls the same plain-Python objective through a counting
wrapper (the numpy-based ones hand it `x.tolist()`, so the objective's own
arithmetic is the same on all sides) and gets the same evaluation budget:

- DifferentialEvolution against scipy's rand/1/bin with immediate updating,
  F = 0.8 constant, CR = 0.9, random initialisation, no polishing and no early
  stop (tol = atol = 0): 40 individuals for 250 generations.
- CmaEsOptimizer against cma's CMAEvolutionStrategy driven by ask/tell for
  exactly the same generations (so none of its stopping rules applies), with
  the same population of 20, the same box, the same start (the box centre)
  and the same initial step size 0.5; cma is run with its full
  covariance and with its diagonal variant, and the faster one is compared.

Reported: wall time per counted evaluation in microseconds (best of the
repeats), the competitor's time per evaluation divided by hivekit's, and the
best value each run reached. Not part of the tests; needs numpy, scipy and cma,
for example in a separate virtual environment:
    PYTHONPATH=<dir holding the hivekit package> python benchmarks/bench_vs_scipy_cma.py
"""

import argparse
import math
import random
import sys
import time
import warnings

warnings.filterwarnings("ignore", message="Could not import matplotlib")
import cma  # noqa: E402
from scipy.optimize import differential_evolution  # noqa: E402

import hivekit  # noqa: E402

DIM = 10
LOWER, UPPER = [-5.12] * DIM, [5.12] * DIM
TWO_PI = 2.0 * math.pi
# The minimum (value 0) is moved off the box centre, where two of the
# optimisers start.
SHIFT = 1.234


def rastrigin(x):
    total = 10.0 * len(x)
    for v in x:
        z = v - SHIFT
        total += z * z - 10.0 * math.cos(TWO_PI * z)
    return total


class Counted:
    """The objective behind a call counter; `as_list` converts numpy vectors first."""

    def __init__(self, as_list=False):
        self.calls = 0
        self.as_list = as_list

    def __call__(self, x):
        self.calls += 1
        return rastrigin(x.tolist() if self.as_list else x)


def timed(run):
    """Runs `run()` and returns (seconds, evaluations, best value)."""
    start = time.perf_counter()
    objective, best, *inner = run()
    return (inner[0] if inner else time.perf_counter() - start), objective.calls, best


def hivekit_de(n, generations, seed):
    def run():
        objective = Counted()
        est = hivekit.DifferentialEvolution(n_individuals=n, n_iterations=generations, f=0.8, cr=0.9, random_state=seed)
        est.fit(objective, LOWER, UPPER)
        return objective, est.score()

    return run


def scipy_de(n, generations, seed):
    def run():
        objective = Counted(as_list=True)
        result = differential_evolution(
            objective,
            list(zip(LOWER, UPPER)),
            strategy="rand1bin",
            maxiter=generations,
            popsize=n // DIM,
            mutation=0.8,
            recombination=0.9,
            init="random",
            updating="immediate",
            polish=False,
            tol=0,
            atol=0,
            rng=seed,
        )
        return objective, float(result.fun)

    return run


def hivekit_cma(n, generations, seed):
    def run():
        objective = Counted()
        est = hivekit.CmaEsOptimizer(n_individuals=n, n_iterations=generations, sigma=0.5, random_state=seed)
        est.fit(objective, LOWER, UPPER)
        return objective, est.score()

    return run


def cma_package(n, generations, seed, diagonal):
    def run():
        objective = Counted(as_list=True)
        options = {
            "popsize": n,
            "bounds": [LOWER, UPPER],
            "seed": seed + 1,  # cma takes 0 to mean "seed from the clock"
            "verbose": -9,
            "CMA_diagonal": diagonal,
        }
        es = cma.CMAEvolutionStrategy([0.0] * DIM, 0.5, options)
        for _ in range(generations):
            candidates = es.ask()
            es.tell(candidates, [objective(x) for x in candidates])
        return objective, float(es.result.fbest)

    return run


def objective_alone(evaluations, seed):
    """The objective called in a plain loop on prepared lists: the floor under every row."""

    def run():
        rng = random.Random(seed)
        points = [[rng.uniform(lo, hi) for lo, hi in zip(LOWER, UPPER)] for _ in range(evaluations)]
        objective = Counted()
        start = time.perf_counter()
        best = min(objective(x) for x in points)
        return objective, best, time.perf_counter() - start

    return run


def best_of(repeats, make_run):
    """Fastest of `repeats` runs: (microseconds per evaluation, evaluations, best value of that run)."""
    best = None
    for _ in range(repeats):
        seconds, calls, value = timed(make_run)
        if best is None or seconds / calls < best[0]:
            best = (seconds / calls, calls, value)
    return best[0] * 1e6, best[1], best[2]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repeats", type=int, default=3)
    parser.add_argument("--seed", type=int, default=1)
    args = parser.parse_args()
    warnings.simplefilter("ignore")
    r, s = args.repeats, args.seed

    rows = [("(floor)", "objective alone", best_of(r, objective_alone(10000, s)), None)]
    ours = best_of(r, hivekit_de(40, 250, s))
    theirs = best_of(r, scipy_de(40, 250, s))
    rows.append(("differential evolution", "hivekit.DifferentialEvolution", ours, None))
    rows.append(("", "scipy differential_evolution", theirs, theirs[0] / ours[0]))

    ours = best_of(r, hivekit_cma(20, 500, s))
    full = best_of(r, cma_package(20, 500, s, diagonal=False))
    diagonal = best_of(r, cma_package(20, 500, s, diagonal=True))
    rows.append(("CMA-ES", "hivekit.CmaEsOptimizer", ours, None))
    rows.append(("", "cma (full covariance)", full, full[0] / ours[0]))
    rows.append(("", "cma (diagonal)", diagonal, diagonal[0] / ours[0]))

    print(f"10-dimensional shifted Rastrigin in plain Python, best of {r} runs, seed {s}")
    print(f"{'scheme':<24}{'optimiser':<32}{'evaluations':>12}{'us/eval':>10}{'ratio':>8}{'best value':>14}")
    for scheme, name, (us, calls, value), ratio in rows:
        shown = f"{ratio:.1f}x" if ratio is not None else "-"
        print(f"{scheme:<24}{name:<32}{calls:>12}{us:>10.2f}{shown:>8}{value:>14.6g}")
    fastest_de = rows[2][3]
    fastest_cma = min(rows[4][3], rows[5][3])
    print(f"fastest competitor / hivekit: DE {fastest_de:.1f}x, CMA-ES {fastest_cma:.1f}x (target: at least 5x)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
