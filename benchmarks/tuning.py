"""Default hyperparameters against the settings the tuning guide recommends.

Every class runs with each of its settings on its problems, under seeds 0, 1 and 2. Three suites, each
written to its own file that docs/tuning.rst reads:

- the built-in problems (the shifted variants of the four box problems at d = 10 and 30 for the continuous
  classes, whose optimum is away from the box centre; eil51 and berlin52 for the tour classes): the median
  best value (for the two multi-objective classes the median hypervolume, larger is better) and the
  objective calls of one run;
- ``--suite bbob``: the 24 functions of the bbob suite of cocoex (pip install coco-experiment) at d = 2, 10
  and 20, instances 1 to 3, for the eleven single-objective box classes;
- ``--suite tours``: the tour classes on pcb442 and pr1002 at 20 iterations: median length, gap to the
  optimum and seconds per run.

    python benchmarks/tuning.py > docs/tuning_results.txt                        # well under a minute
    python benchmarks/tuning.py --suite bbob > docs/tuning_results_bbob.txt      # about four minutes
    python benchmarks/tuning.py --suite tours > docs/tuning_results_tours.txt    # about eight minutes
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
    "AntColony": [
        ("defaults", {}),
        ('variant="mmas" n_ants=20', {"variant": "mmas", "n_ants": 20}),
        ('variant="acs" n_ants=20', {"variant": "acs", "n_ants": 20}),
    ],
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


def resolve(params: dict[str, Any], width: float, d: int) -> dict[str, Any]:
    """Settings that depend on the problem: stated in terms of the width of its box or its dimension."""
    out = dict(params)
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
        settings = resolve(params, problem.upper[0] - problem.lower[0], problem.dimension)
    for seed in SEEDS:
        est = cls(**settings, random_state=seed)
        if not tour:
            objective = hivekit.Monitor(problem.objective)
            fit_args = (objective, problem.lower, problem.upper)
        start = time.process_time()
        est.fit(*fit_args)
        seconds.append(time.process_time() - start)
        scores.append(est.score())
        if not tour:
            calls = objective.n_evaluations - 1  # the probe call is not part of the run
    return statistics.median(scores), calls, statistics.median(seconds), settings


def run_builtin(only: list[str] | None) -> None:
    print(f"{'class':<27}  {'problem':<20}  {'setting':<62}  {'median best':>11}  {'calls':>6}  {'cpu s':>5}")
    for name, settings in SETTINGS.items():
        if only and name not in only:
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



# The larger bundled instances, at a budget of 20 iterations (generations), where the defaults' 100 iterations
# of 50 ants would take minutes per run on pr1002. Every setting runs for the same number of iterations, so
# the setting's cost shows in the time, not in a longer run.
LARGE_TOURS = ["pcb442", "pr1002"]
LARGE_ITERATIONS = 20
LARGE_SETTINGS: dict[str, list[tuple[str, dict[str, Any]]]] = {
    "AntColony": [
        ("defaults", {}),
        ("n_ants=20", {"n_ants": 20}),
        ('variant="acs" n_ants=20', {"variant": "acs", "n_ants": 20}),
        ('variant="elitist" n_ants=20', {"variant": "elitist", "n_ants": 20}),
        ('variant="mmas" n_ants=20', {"variant": "mmas", "n_ants": 20}),
        ('variant="mmas" n_ants=20 q=1e3', {"variant": "mmas", "n_ants": 20, "q": 1e3}),
        ('variant="mmas" n_ants=20 q=1e4', {"variant": "mmas", "n_ants": 20, "q": 1e4}),
        ('variant="mmas" n_ants=20 q=1e5', {"variant": "mmas", "n_ants": 20, "q": 1e5}),
        ('variant="mmas" n_ants=10 q=1e4', {"variant": "mmas", "n_ants": 10, "q": 1e4}),
        ('variant="mmas" q=1e4', {"variant": "mmas", "q": 1e4}),
    ],
    "PermutationGeneticOptimizer": [
        ("defaults", {}),
        ("n_individuals=80", {"n_individuals": 80}),
        ("mutation_rate=0.3", {"mutation_rate": 0.3}),
        ("use_two_opt=False", {"use_two_opt": False}),
    ],
}


def run_large_tours(only: list[str] | None) -> None:
    """Median tour length, its gap to the optimum and the median processor seconds per run (the machine may
    be shared), on pcb442 and pr1002."""
    print(f"{'class':<27}  {'instance':<8}  {'setting':<34}  {'median length':>13}  {'gap %':>6}  {'cpu s':>5}")
    for name, settings in LARGE_SETTINGS.items():
        if only and name not in only:
            continue
        cls = getattr(hivekit, name)
        for instance_name in LARGE_TOURS:
            instance = tsplib.load_tsplib(instance_name)
            matrix = instance.distance_matrix
            for label, params in settings:
                lengths, seconds = [], []
                for seed in SEEDS:
                    est = cls(**params, n_iterations=LARGE_ITERATIONS, random_state=seed)
                    start = time.process_time()
                    est.fit(matrix)
                    seconds.append(time.process_time() - start)
                    lengths.append(est.score())
                length = statistics.median(lengths)
                gap = 100.0 * (length - instance.optimum) / instance.optimum
                print(f"{name:<27}  {instance_name:<8}  {label:<34}  {length:>13.0f}  {gap:>6.2f}  "
                      f"{statistics.median(seconds):>5.2f}", flush=True)


# The noiseless single-objective suite of cocoex (pip install coco-experiment): 24 functions in five groups,
# each instance shifted, turned and offset so that neither the box centre nor the axes are favoured, in the
# box [-5, 5] per coordinate. Instance i runs under seed i - 1.
BBOB_DIMENSIONS = (2, 10, 20)
BBOB_INSTANCES = (1, 2, 3)
BBOB_GROUPS = (("separable", range(1, 6)), ("moderate", range(6, 10)), ("ill-cond.", range(10, 15)),
               ("multimodal", range(15, 20)), ("weak struct.", range(20, 25)))
BBOB_TARGETS = tuple(10.0**k for k in range(2, -9, -1))  # 1e2, 1e1, ..., 1e-8
BBOB_FLOOR = 1e-8  # an error below the last target counts as the last target


def run_bbob(only: list[str] | None) -> None:
    """Per class, setting and dimension, over the 24 functions and the instances: the median log10 of the
    final error f - f_opt (floored at 1e-8) per group of functions and over all, the share of the targets
    1e2, 1e1, ..., 1e-8 reached, the median objective calls and the median processor seconds per run (the
    machine may be shared)."""
    try:
        import cocoex
    except ImportError:
        sys.exit("--suite bbob needs cocoex: pip install coco-experiment")
    import math

    cocoex.log_level("warning")
    suite = cocoex.Suite("bbob", "", "dimensions:" + ",".join(map(str, BBOB_DIMENSIONS))
                         + " instance_indices:" + ",".join(map(str, BBOB_INSTANCES)))
    box = [name for name, info in _registry.BY_NAME.items()
           if info.input != "tour" and not info.multi_objective and name != "BinaryParticleSwarm"]
    groups = "  ".join(f"{label:>12}" for label, _ in BBOB_GROUPS)
    print(f"{'class':<27}  {'d':>2}  {'setting':<62}  {groups}  {'all':>5}  {'targets':>7}  {'calls':>6}  "
          f"{'cpu s':>5}")
    for name in box:
        if only and name not in only:
            continue
        cls = getattr(hivekit, name)
        for d in BBOB_DIMENSIONS:
            for label, params in SETTINGS[name]:
                settings = resolve(params, 10.0, d)
                errors: dict[int, list[float]] = {}
                seconds, calls, reached = [], [], 0
                for f in range(1, 25):
                    for instance in BBOB_INSTANCES:
                        problem = suite.get_problem_by_function_dimension_instance(f, d, instance)
                        # The optimum of the instance, which cocoex 2.8 gives only under this name.
                        f_opt = problem._best_value
                        est = cls(**settings, random_state=instance - 1)
                        before = problem.evaluations
                        start = time.process_time()
                        est.fit(problem, list(problem.lower_bounds), list(problem.upper_bounds))
                        seconds.append(time.process_time() - start)
                        calls.append(problem.evaluations - before - 1)  # the probe call is not part of the run
                        error = max(est.score() - f_opt, BBOB_FLOOR)
                        errors.setdefault(f, []).append(math.log10(error))
                        reached += sum(error <= t for t in BBOB_TARGETS)
                        problem.free()
                medians = [statistics.median(e for f in fs for e in errors[f]) for _, fs in BBOB_GROUPS]
                overall = statistics.median(e for es in errors.values() for e in es)
                share = reached / (24 * len(BBOB_INSTANCES) * len(BBOB_TARGETS))
                shown = label
                if settings != params:
                    changed = {k: v for k, v in settings.items() if params.get(k) != v}
                    shown += " (" + " ".join(f"{k}={v:.4g}" for k, v in changed.items()) + ")"
                cells = "  ".join(f"{m:>12.2f}" for m in medians)
                print(f"{name:<27}  {d:>2}  {shown:<62}  {cells}  {overall:>5.2f}  {share:>7.0%}  "
                      f"{statistics.median(calls):>6.0f}  {statistics.median(seconds):>5.2f}", flush=True)


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0] if __doc__ else None)
    parser.add_argument("--only", nargs="+", metavar="CLASS", choices=sorted(SETTINGS), help="these classes only")
    parser.add_argument("--suite", choices=("builtin", "bbob", "tours"), default="builtin",
                        help="the built-in problems (default), the bbob suite of cocoex, or pcb442 and pr1002")
    args = parser.parse_args(argv)
    start = time.process_time()
    if args.suite == "tours":
        run_large_tours(args.only)
    elif args.suite == "bbob":
        run_bbob(args.only)
    else:
        run_builtin(args.only)
    print(f"# {time.process_time() - start:.0f} s, seeds {', '.join(map(str, SEEDS))}", file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main())
