"""Tiny, fast fits of every class of the registry and readers of an estimator's whole state, shared by test files."""

import hivekit
from hivekit._registry import CLASSES
from vectors import bits

ALL_CLASSES = tuple(info.name for info in CLASSES)
TOUR_CLASSES = tuple(info.name for info in CLASSES if info.input == "tour")
BOX_CLASSES = tuple(info.name for info in CLASSES if info.input == "box")
PARETO_CLASSES = tuple(info.name for info in CLASSES if info.multi_objective)
# The keyword that sets how many rows a fit's working arrays have: the leading size (simulated annealing has none).
POPULATION = {info.name: next((p.name for p in info.params[:1] if p.kind == "size" and p.name != "n_iterations"), None)
              for info in CLASSES}
# A few dozen evaluations per fit (the bacteria's inner loops would otherwise take hundreds).
SMALL = {name: {**({size: 4} if size else {}), "n_iterations": 2} for name, size in POPULATION.items()}
SMALL["BacterialForagingOptimizer"]["n_chemotactic_steps"] = 2

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
    found = {"predict": est.predict, "score": est.score, "population_": lambda: est.population_,
             "get_params": lambda: sorted(est.get_params().items())}
    if hasattr(type(est), "history_"):
        found["history_"] = lambda: est.history_
    return found


def snapshot(est):
    """Everything the estimator reports, to the bit (NaN included)."""
    return {name: reading(read) for name, read in readers(est).items()}
