"""Tiny, fast fits of every class of the registry, readers of an estimator's whole state, and child processes."""

import fcntl
import math
import os
import pty
import queue
import random
import struct
import subprocess
import sys
import termios
import threading

import hivekit
from hivekit._registry import CLASSES
from vectors import bits

# The sanitizer run preloads its runtime: timings and resident memory mean little there.
UNDER_ASAN = "libasan" in os.environ.get("LD_PRELOAD", "")
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
CHILD_ENV = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))


def plane(n, seed=0):
    """The distance matrix of n random points in the unit square."""
    rng = random.Random(seed)
    points = [(rng.random(), rng.random()) for _ in range(n)]
    return [[math.dist(a, b) for b in points] for a in points]


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
    return (SQUARE,) if name in TOUR_CLASSES else (objective_for(name), [-1.0] * dimension, [1.0] * dimension)


def fitted(name, **overrides):
    est = make(name, **overrides)
    est.fit(*fit_args(name))
    return est


class Halt(BaseException):
    """Outside the Exception hierarchy: no evaluation may swallow it."""


def failing_fits(name):
    """Fits failing along each path (conversion, box, probe, the run): arguments, exception and message start."""
    if name in TOUR_CLASSES:
        return [(([[0.0, 1.0, 2.0], [1.0, 0.0, 2.0]],), ValueError, "distance_matrix must be square: row 0 has length 3, "
                 "expected 2"), (([],), ValueError, "distance_matrix must be non-empty"),
                ((["ab"],), TypeError, "argument 'distance_matrix': "),
                (([[0.0, "x"], [1.0, 0.0]],), TypeError, "argument 'distance_matrix': ")] + [
            ((m,), ValueError, "Invalid input: distance matrix must have at least 3 cities")
            for m in ([[0.0]], [[0.0, 1.0], [1.0, 0.0]]) if name == "PermutationGeneticOptimizer"]
    objective, calls = objective_for(name), []

    def fails_in_the_run(x):  # the second call fails as an evaluation, the third stops the fit
        calls.append(x)
        if len(calls) in (2, 3):
            raise RuntimeError if len(calls) == 2 else Halt
        return objective(x)

    return [((objective, [0, 1], [1]), ValueError, "Lower and upper bounds must have the same length"),
            ((objective, [0, 5, 3], [1, 4, 2]), ValueError, "Lower bound 5 > upper bound 4 at index 1"),
            ((objective, "a", [1]), TypeError, "argument 'lower': "),
            ((objective, [0.0], iter([1.0])), TypeError,
             "argument 'upper': 'list_iterator' object cannot be converted to 'Sequence'"),
            ((objective, [], []), ValueError, "Invalid input: "),
            ((lambda x: 1 / 0, [0], [1]), ZeroDivisionError, "division by zero"),
            ((lambda x: 1.0 if name in PARETO_CLASSES else "1.0", [0], [1]), TypeError, ""),
            ((fails_in_the_run, [0], [1]), Halt, "")]


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


def child(*args, **options):
    """A Python child importing what this process imports, and a queue receiving its output lines."""
    proc = subprocess.Popen([sys.executable, *args], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                            env=CHILD_ENV, **options)
    lines = queue.Queue()
    threading.Thread(target=lambda: [lines.put(line.rstrip("\n")) for line in proc.stdout], daemon=True).start()
    return proc, lines


def on_terminal(*args):
    """Runs a Python child with standard error on a pseudo-terminal: its output there, and the finished process."""
    primary, secondary = pty.openpty()
    fcntl.ioctl(secondary, termios.TIOCSWINSZ, struct.pack("HHHH", 24, 100, 0, 0))  # a real terminal's size
    try:
        proc = subprocess.run([sys.executable, *args], stdout=subprocess.PIPE, stderr=secondary, env=CHILD_ENV,
                              timeout=120)
        os.close(secondary)
        chunks = []
        while True:
            try:
                chunks.append(os.read(primary, 4096))
            except OSError:  # the terminal closed
                break
            if not chunks[-1]:
                break
    finally:
        os.close(primary)
    return b"".join(chunks), proc
