"""Nsga2Optimizer against pymoo's NSGA-II on ZDT1 with 30 variables.

Both optimisers run the same population size and the same number of objective
evaluations (pymoo counts the initial population as its first generation, so
it gets one generation more) and call the same Python objective with a list of
floats. Reported per seed: wall time per evaluation, its ratio, and the
hypervolume of each final set against the reference point (1, 1), computed by
one function here from re-evaluated final solutions. Not part of the tests;
needs pymoo and numpy (for example in a separate virtual environment):
    PYTHONPATH=<dir holding the hivekit package> python benchmarks/bench_vs_pymoo.py
"""

import argparse
import math
import statistics
import time

import hivekit
import numpy as np
from pymoo.algorithms.moo.nsga2 import NSGA2
from pymoo.core.problem import ElementwiseProblem
from pymoo.optimize import minimize

N_VAR = 30


def zdt1(x):
    f1 = x[0]
    total = 0.0
    for v in x[1:]:
        total += v
    g = 1.0 + 9.0 * total / (len(x) - 1)
    return [f1, g * (1.0 - math.sqrt(f1 / g))]


def hypervolume(points, reference=(1.0, 1.0)):
    """Area dominated by the points inside the box below the reference point."""
    inside = sorted((f1, f2) for f1, f2 in points if f1 < reference[0] and f2 < reference[1])
    volume, prev = 0.0, reference[1]
    for f1, f2 in inside:
        if f2 < prev:
            volume += (prev - f2) * (reference[0] - f1)
            prev = f2
    return volume


class Zdt1(ElementwiseProblem):
    def __init__(self):
        super().__init__(n_var=N_VAR, n_obj=2, xl=0.0, xu=1.0)

    def _evaluate(self, x, out, *args, **kwargs):
        out["F"] = zdt1(x.tolist())


def run_hivekit(pop, generations, seed):
    est = hivekit.Nsga2Optimizer(n_individuals=pop, n_iterations=generations, archive_size=pop, random_state=seed)
    start = time.perf_counter()
    est.fit(zdt1, [0.0] * N_VAR, [1.0] * N_VAR)
    elapsed = time.perf_counter() - start
    evaluations = pop * (1 + generations)
    return elapsed / evaluations, hypervolume(zdt1(p) for p in est.predict()), evaluations


def run_pymoo(pop, generations, seed):
    start = time.perf_counter()
    res = minimize(Zdt1(), NSGA2(pop_size=pop), ("n_gen", generations + 1), seed=seed, verbose=False)
    elapsed = time.perf_counter() - start
    evaluations = res.algorithm.evaluator.n_eval
    final = np.atleast_2d(res.X)
    return elapsed / evaluations, hypervolume(zdt1(list(map(float, x))) for x in final), evaluations


def objective_alone(evaluations):
    point = [0.5] * N_VAR
    start = time.perf_counter()
    for _ in range(evaluations):
        zdt1(list(point))
    return (time.perf_counter() - start) / evaluations


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--pop", type=int, default=100)
    parser.add_argument("--generations", type=int, default=200)
    parser.add_argument("--seeds", type=int, nargs="+", default=[1, 2, 3])
    args = parser.parse_args()

    print(f"ZDT1, {N_VAR} variables, population {args.pop}, {args.generations} generations after the initial one")
    header = f"{'seed':>4} {'evals':>7} {'hivekit us/eval':>16} {'pymoo us/eval':>14} {'ratio':>7} {'HV hivekit':>11} {'HV pymoo':>9}"
    print(header)
    ratios, hv_ours, hv_theirs, ours_us, theirs_us = [], [], [], [], []
    for seed in args.seeds:
        ours, ours_hv, ours_evals = run_hivekit(args.pop, args.generations, seed)
        theirs, theirs_hv, theirs_evals = run_pymoo(args.pop, args.generations, seed)
        ratio = theirs / ours
        ratios.append(ratio)
        hv_ours.append(ours_hv)
        hv_theirs.append(theirs_hv)
        ours_us.append(ours * 1e6)
        theirs_us.append(theirs * 1e6)
        evals = ours_evals if ours_evals == theirs_evals else f"{ours_evals}/{theirs_evals}"
        print(f"{seed:>4} {evals:>7} {ours * 1e6:>16.2f} {theirs * 1e6:>14.2f} {ratio:>6.1f}x "
              f"{ours_hv:>11.4f} {theirs_hv:>9.4f}")
    print(f"{'med':>4} {'':>7} {statistics.median(ours_us):>16.2f} {statistics.median(theirs_us):>14.2f} "
          f"{statistics.median(ratios):>6.1f}x {statistics.median(hv_ours):>11.4f} {statistics.median(hv_theirs):>9.4f}")
    print(f"objective alone (list of {N_VAR} floats in, two floats out): "
          f"{objective_alone(args.pop * (1 + args.generations)) * 1e6:.2f} us/eval")


if __name__ == "__main__":
    main()
