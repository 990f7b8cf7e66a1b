"""Default hyperparameters against the settings the tuning guide recommends, on the built-in problems.

Every class runs with each of its settings on its problems (the four box problems at d = 10 and 30 for the
continuous classes), under seeds 0, 1 and 2; the table gives the median best value (for the two
multi-objective classes the median hypervolume, larger is better) and the objective calls of one run. The
figures in docs/tuning.rst come from this script:

    python benchmarks/tuning.py                       # everything, a few minutes on one core
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
BOX = [(name, d) for name in ("sphere", "rastrigin", "rosenbrock", "ackley") for d in (10, 30)]
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
    "BeeColony": [
        ("defaults", {}),
        ("limit=100", {"limit": 100}),
    ],
    "GreyWolfOptimizer": [
        ("defaults", {}),
        ("n_wolves=15 n_iterations=200", {"n_wolves": 15, "n_iterations": 200}),
    ],
    "FireflyOptimizer": [
        ("defaults", {}),
        ("alpha=0.01 gamma=0.01", {"alpha": 0.01, "gamma": 0.01}),
    ],
    "SimulatedAnnealing": [
        ("defaults", {}),
        ("n_iterations=3000", {"n_iterations": 3000}),
        ("n_iterations=3000 cooling_rate=0.997 step_scale=0.02",
         {"n_iterations": 3000, "cooling_rate": 0.997, "step_scale": 0.02}),
    ],
    "CuckooSearch": [
        ("defaults", {}),
        ("alpha=0.002", {"alpha": 0.002}),
    ],
    "BatAlgorithm": [
        ("defaults", {}),
        ("fmax=0.5", {"fmax": 0.5}),
    ],
    "GlowwormOptimizer": [
        ("defaults", {}),
        ("neighborhood_radius=typical distance", {"neighborhood_radius": "typical"}),
    ],
    "BacterialForagingOptimizer": [
        ("defaults", {}),
        ("step_scale=0.02 elimination_probability=0.05", {"step_scale": 0.02, "elimination_probability": 0.05}),
    ],
    "DifferentialEvolution": [
        ("defaults", {}),
        ("f=0.5", {"f": 0.5}),
    ],
    "CmaEsOptimizer": [
        ("defaults", {}),
        ("sigma=0.3 x box width", {"sigma": "box"}),
    ],
    "BinaryParticleSwarm": [
        ("defaults", {}),
        ("w=1.0 c1=c2=2.0", {"w": 1.0, "c1": 2.0, "c2": 2.0}),
    ],
    "MopsoOptimizer": [
        ("defaults", {}),
        ("w=0.4", {"w": 0.4}),
    ],
    "Nsga2Optimizer": [
        ("defaults", {}),
        ("mutation_rate=1/d", {"mutation_rate": "1/d"}),
    ],
    "AntColony": [
        ("defaults", {}),
        ('variant="acs" n_ants=20', {"variant": "acs", "n_ants": 20}),
    ],
    "PermutationGeneticOptimizer": [
        ("defaults", {}),
        ("mutation_rate=0.3", {"mutation_rate": 0.3}),
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
    if out.get("sigma") == "box":
        out["sigma"] = round(0.3 * width, 2)
    if out.get("mutation_rate") == "1/d":
        out["mutation_rate"] = 1.0 / d
    return out


class Counted:
    def __init__(self, objective: Any) -> None:
        self.objective = objective
        self.calls = 0

    def __call__(self, x: list[float]) -> Any:
        self.calls += 1
        return self.objective(x)


def run(name: str, params: dict[str, Any], problem_name: str, d: int | None) -> tuple[float, int, dict[str, Any]]:
    cls = getattr(hivekit, name)
    if d is None and problem_name in TOURS:
        instance = tsplib.load_tsplib(problem_name)
        scores = []
        for seed in SEEDS:
            est = cls(**params, random_state=seed)
            est.fit(instance.distance_matrix)
            scores.append(est.score())
        return statistics.median(scores), 0, params
    problem = problems.problem(problem_name, d)
    settings = resolve(params, problem)
    scores, calls = [], 0
    for seed in SEEDS:
        objective = Counted(problem.objective)
        est = cls(**settings, random_state=seed)
        est.fit(objective, problem.lower, problem.upper)
        scores.append(est.score())
        calls = objective.calls - 1  # the probe call is not part of the run
    return statistics.median(scores), calls, settings


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0] if __doc__ else None)
    parser.add_argument("--only", nargs="+", metavar="CLASS", choices=sorted(SETTINGS), help="these classes only")
    args = parser.parse_args(argv)
    start = time.perf_counter()
    print(f"{'class':<27} {'problem':<12} {'setting':<55} {'median best':>12} {'calls':>7}")
    for name, settings in SETTINGS.items():
        if args.only and name not in args.only:
            continue
        for problem_name, d in problems_of(name):
            label_problem = problem_name if d is None else f"{problem_name}-{d}"
            for label, params in settings:
                value, calls, used = run(name, params, problem_name, d)
                shown = label
                if used != params:
                    changed = {k: v for k, v in used.items() if params.get(k) != v}
                    shown += " (" + " ".join(f"{k}={v:.4g}" for k, v in changed.items()) + ")"
                print(f"{name:<27} {label_problem:<12} {shown:<55} {value:>12.4g} {calls or '-':>7}", flush=True)
    print(f"# {time.perf_counter() - start:.0f} s, seeds {', '.join(map(str, SEEDS))}", file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main())
