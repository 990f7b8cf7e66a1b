"""Default hyperparameters against the settings the tuning guide recommends, on the built-in problems.

Every class runs with each of its settings on its problems (the shifted variants of the four box problems at
d = 10 and 30 for the continuous classes, whose optimum is away from the box centre), under seeds 0, 1 and 2; the table gives the median best value (for the two
multi-objective classes the median hypervolume, larger is better) and the objective calls of one run. The
figures in docs/tuning.rst are read from docs/tuning_results.txt, which this script writes:

    python benchmarks/tuning.py > docs/tuning_results.txt   # everything, well under a minute on one core
    python benchmarks/tuning.py --only SimulatedAnnealing GlowwormOptimizer
"""

from __future__ import annotations

import argparse
import statistics
import sys
import time
from typing import Any

import hivekit
from hivekit import _registry, problems, tsplib

SEEDS = (0, 1, 2)
BOX = [(f"shifted_{name}", d) for name in problems._BOXES for d in (10, 30)]
ZDT = [("zdt1", 10), ("zdt1", 30)]
BITS = [("one_max", 30), ("knapsack", None)]
TOURS = ["eil51", "berlin52"]

# For each class: (label, hyperparameters, problems). The first setting is the baseline: the defaults, or for
# the two classes whose defaults make about a hundred evaluations, also the defaults at the recommended budget.
SETTINGS: dict[str, list[tuple[str, dict[str, Any]]]] = {
    "ParticleSwarm": [
        ("defaults", {}),
        ("w=0.7298 c1=c2=1.49618", {"w": 0.7298, "c1": 1.49618, "c2": 1.49618}),
    ],
    "BeeColony": [("defaults", {}), ("limit=100", {"limit": 100})],
    "GreyWolfOptimizer": [
        ("defaults", {}),
        ("n_wolves=60 n_iterations=50", {"n_wolves": 60, "n_iterations": 50}),
    ],
    "FireflyOptimizer": [
        ("defaults", {}),
        ("alpha=0.01 gamma = 1 / width**2", {"alpha": 0.01, "gamma": "1/width^2"}),
    ],
    "SimulatedAnnealing": [
        ("defaults", {}),
        ("n_iterations=3000", {"n_iterations": 3000}),
        ("n_iterations=3000 cooling_rate=0.997 step_scale=0.03",
         {"n_iterations": 3000, "cooling_rate": 0.997, "step_scale": 0.03}),
    ],
    "CuckooSearch": [("defaults", {}), ("alpha=0.02", {"alpha": 0.02})],
    "BatAlgorithm": [("defaults", {}), ("fmax=0.1", {"fmax": 0.1})],
    "GlowwormOptimizer": [
        ("defaults", {}),
        ("radius = width * sqrt(d / 6)", {"neighborhood_radius": "typical"}),
    ],
    "BacterialForagingOptimizer": [
        ("defaults", {}),
        ("step_scale=0.02 elimination_probability=0.05", {"step_scale": 0.02, "elimination_probability": 0.05}),
    ],
    "DifferentialEvolution": [("defaults", {}), ("f=0.5", {"f": 0.5})],
    "CmaEsOptimizer": [("defaults", {}), ("sigma = width / 4", {"sigma": "width/4"})],
    "BinaryParticleSwarm": [("defaults", {}), ("w=0.9", {"w": 0.9})],
    "MopsoOptimizer": [
        ("defaults", {}),
        ("n_particles=60 n_iterations=50 c1=c2=2.0", {"n_particles": 60, "n_iterations": 50, "c1": 2.0, "c2": 2.0}),
    ],
    "Nsga2Optimizer": [("defaults", {}), ("mutation_scale=0.3", {"mutation_scale": 0.3})],
    "AntColony": [("defaults", {}), ('variant="mmas" n_ants=20', {"variant": "mmas", "n_ants": 20})],
    "PermutationGeneticOptimizer": [
        ("defaults", {}),
        ("n_individuals=80 n_iterations=50", {"n_individuals": 80, "n_iterations": 50}),
    ],
}


def problems_of(name: str) -> list[tuple[str, int | None]]:
    info = _registry.BY_NAME[name]
    if info.input == "tour":
        return [(t, None) for t in TOURS]
    if info.multi_objective:
        return list(ZDT)
    if name == "BinaryParticleSwarm":
        return list(BITS)
    return list(BOX)


def resolve(params: dict[str, Any], problem: problems.Problem) -> dict[str, Any]:
    """Settings that depend on the problem: stated in terms of its box or its dimension."""
    out = dict(params)
    d = problem.dimension
    width = problem.upper[0] - problem.lower[0]
    if out.get("neighborhood_radius") == "typical":
        # The mean distance between two random points of a cube of width s is close to s * sqrt(d / 6).
        out["neighborhood_radius"] = round(width * (d / 6) ** 0.5, 1)
    if out.get("gamma") == "1/width^2":
        # Attraction exp(-gamma r^2) then stays noticeable across the box whatever its units.
        out["gamma"] = round(1.0 / (width * width), 6)
    if out.get("sigma") == "width/4":
        # The step only shrinks from sigma, so it has to start wide enough to reach across the box.
        out["sigma"] = round(width / 4, 4)
    return out


def run(
    name: str, params: dict[str, Any], problem_name: str, d: int | None
) -> tuple[float, int, float, dict[str, Any]]:
    """Median best value, objective calls of the last run (0 for tours) and median seconds per run."""
    cls = getattr(hivekit, name)
    scores, seconds, calls = [], [], 0
    tour = d is None and problem_name in TOURS
    if tour:
        settings = dict(params)
        fit_args: tuple[Any, ...] = (tsplib.load_tsplib(problem_name).distance_matrix,)
    else:
        problem = problems.problem(problem_name, d)
        settings = resolve(params, problem)
    for seed in SEEDS:
        est = cls(**settings, random_state=seed)
        if not tour:
            objective = hivekit.Monitor(problem.objective)
            fit_args = (objective, problem.lower, problem.upper)
        start = time.perf_counter()
        est.fit(*fit_args)
        seconds.append(time.perf_counter() - start)
        scores.append(est.score())
        if not tour:
            calls = objective.n_evaluations - 1  # the probe call is not part of the run
    return statistics.median(scores), calls, statistics.median(seconds), settings


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0] if __doc__ else None)
    parser.add_argument("--only", nargs="+", metavar="CLASS", choices=sorted(SETTINGS), help="these classes only")
    args = parser.parse_args(argv)
    start = time.perf_counter()
    print(f"{'class':<27}  {'problem':<20}  {'setting':<62}  {'median best':>11}  {'calls':>6}  {'s/run':>5}")
    for name, settings in SETTINGS.items():
        if args.only and name not in args.only:
            continue
        for problem_name, d in problems_of(name):
            label_problem = problem_name if d is None else problems.problem(problem_name, d).name
            for label, params in settings:
                value, calls, seconds, used = run(name, params, problem_name, d)
                shown = label
                if used != params:
                    changed = {k: v for k, v in used.items() if params.get(k) != v}
                    shown += " (" + " ".join(f"{k}={v:.4g}" for k, v in changed.items()) + ")"
                print(f"{name:<27}  {label_problem:<20}  {shown:<62}  {value:>11.4g}  {calls or '-':>6}  "
                      f"{seconds:>5.2f}", flush=True)
    print(f"# {time.perf_counter() - start:.0f} s, seeds {', '.join(map(str, SEEDS))}", file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main())
