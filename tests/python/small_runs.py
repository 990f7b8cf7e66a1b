"""Tiny, fast configurations of every estimator class, shared by the reliability tests."""

import hivekit
from vectors import bits

TOUR_CLASSES = ("AntColony", "PermutationGeneticOptimizer")
PARETO_CLASSES = ("MopsoOptimizer", "Nsga2Optimizer")
ALL_CLASSES = tuple(name for name in hivekit._hivekit.__all__ if name != "two_opt")
BOX_CLASSES = tuple(name for name in ALL_CLASSES if name not in TOUR_CLASSES)

# Keywords that keep a fit to a few dozen evaluations.
SMALL = {
    "AntColony": dict(n_ants=3, n_iterations=2),
    "ParticleSwarm": dict(n_particles=4, n_iterations=2),
    "BeeColony": dict(n_bees=4, n_iterations=2),
    "GreyWolfOptimizer": dict(n_wolves=4, n_iterations=2),
    "FireflyOptimizer": dict(n_fireflies=3, n_iterations=2),
    "SimulatedAnnealing": dict(n_iterations=4),
    "CuckooSearch": dict(n_nests=3, n_iterations=2),
    "BatAlgorithm": dict(n_bats=3, n_iterations=2),
    "GlowwormOptimizer": dict(n_worms=3, n_iterations=2),
    "BacterialForagingOptimizer": dict(n_bacteria=3, n_iterations=2, n_chemotactic_steps=2),
    "DifferentialEvolution": dict(n_individuals=4, n_iterations=2),
    "CmaEsOptimizer": dict(n_individuals=4, n_iterations=2),
    "PermutationGeneticOptimizer": dict(n_individuals=3, n_iterations=2),
    "BinaryParticleSwarm": dict(n_particles=3, n_iterations=2),
    "Nsga2Optimizer": dict(n_individuals=4, n_iterations=2),
    "MopsoOptimizer": dict(n_particles=3, n_iterations=2),
}

# The keyword that sets how many rows the working arrays of a fit have.
POPULATION = {
    "AntColony": "n_ants",
    "ParticleSwarm": "n_particles",
    "BeeColony": "n_bees",
    "GreyWolfOptimizer": "n_wolves",
    "FireflyOptimizer": "n_fireflies",
    "SimulatedAnnealing": None,
    "CuckooSearch": "n_nests",
    "BatAlgorithm": "n_bats",
    "GlowwormOptimizer": "n_worms",
    "BacterialForagingOptimizer": "n_bacteria",
    "DifferentialEvolution": "n_individuals",
    "CmaEsOptimizer": "n_individuals",
    "PermutationGeneticOptimizer": "n_individuals",
    "BinaryParticleSwarm": "n_particles",
    "Nsga2Optimizer": "n_individuals",
    "MopsoOptimizer": "n_particles",
}

SQUARE = [[0.0, 1.0, 1.5, 1.0], [1.0, 0.0, 1.0, 1.5], [1.5, 1.0, 0.0, 1.0], [1.0, 1.5, 1.0, 0.0]]


def sphere(x):
    total = 0.0
    for v in x:
        total += v * v
    return total


def two_objectives(x):
    return [sphere(x), sphere([v - 1.0 for v in x])]


def objective_for(name):
    return two_objectives if name in PARETO_CLASSES else sphere


def make(name, **overrides):
    return getattr(hivekit, name)(**{**SMALL[name], "random_state": 0, **overrides})


def fit_args(name, dimension=2):
    if name in TOUR_CLASSES:
        return (SQUARE,)
    return (objective_for(name), [-1.0] * dimension, [1.0] * dimension)


def fitted(name, **overrides):
    est = make(name, **overrides)
    est.fit(*fit_args(name))
    return est


def reading(read):
    """A reader's result as comparable bits, or its exception's type name and message."""
    try:
        return ("value", bits(read()))
    except Exception as e:  # an unfitted estimator refuses predict() and score()
        return (type(e).__name__, str(e))


def readers(est):
    """Every way of reading an estimator's state."""
    found = {
        "predict": est.predict,
        "score": est.score,
        "population_": lambda: est.population_,
        "get_params": lambda: sorted(est.get_params().items()),
    }
    if hasattr(type(est), "history_"):
        found["history_"] = lambda: est.history_
    return found


def snapshot(est):
    """Everything the estimator reports, to the bit (NaN included)."""
    return {name: reading(read) for name, read in readers(est).items()}
