"""Standard test problems for the optimisers.

Every objective here is a :class:`~hivekit.NativeObjective`: a C function that ``fit`` calls without the
interpreter (and with the interpreter lock released), so that a run measures the optimiser rather than Python.
Called from Python with a list of floats, each gives exactly the value of its plain Python definition kept
below (``_PYTHON_DEFINITIONS``, which the tests compare against): the same operations in the same order, with
the C library's math functions that Python's ``math`` module calls, and +infinity where the Python definition
raises (the value a fit gives an objective that raises). Sums are added left to right, as the Python
definitions do in explicit loops rather than with the built-in ``sum()``, whose compensated float addition
(CPython 3.12+) would make the values depend on the Python version.

Every objective pickles by name, so it can be sent to worker processes (see :func:`hivekit.multistart`).

Single-objective problems (minimise): :func:`sphere`, :func:`rastrigin`, :func:`rosenbrock`, :func:`ackley`,
each with its minimum at the centre of its usual box (rosenbrock near it), and their :class:`Shifted` variants,
whose minimum lies elsewhere (see :class:`Shifted` and :meth:`Shifted.standard`).
Two-objective problems (minimise both; for ``MopsoOptimizer`` and ``Nsga2Optimizer``): :func:`zdt1`,
:func:`zdt2`, :func:`zdt3`. Bit-vector problems (for ``BinaryParticleSwarm``): :func:`one_max` and
:class:`Knapsack`.

:func:`problem` returns any of them as a :class:`Problem` with its box and known optimum; the names
``"shifted_sphere"``, ``"shifted_rastrigin"``, ``"shifted_rosenbrock"`` and ``"shifted_ackley"`` give the
standard shifted variants (rastrigin and ackley also rotated).
"""

from __future__ import annotations

import functools
import math
import operator
import random
import struct
from collections.abc import Callable, Sequence
from dataclasses import dataclass, field
from typing import Any

from hivekit._hivekit import NativeObjective

__all__ = [
    "Knapsack",
    "PROBLEM_NAMES",
    "Problem",
    "Shifted",
    "ackley",
    "knapsack_instance",
    "one_max",
    "problem",
    "rastrigin",
    "rosenbrock",
    "sphere",
    "zdt1",
    "zdt2",
    "zdt3",
]


@dataclass(frozen=True)
class Problem:
    """A test problem: its objective, its box and its known optimum.

    ``optimum`` is the best value the estimator's ``score()`` can reach on this problem: the minimum of the
    objective for single-objective and bit-vector problems, and for two-objective problems the hypervolume of
    the true Pareto front against the reference point (1, 1), which is what ``score()`` of ``MopsoOptimizer``
    and ``Nsga2Optimizer`` measures (larger is better there). ``solution`` is one point where the optimum is
    reached (for two-objective problems a point on the Pareto front).
    """

    name: str
    objective: Callable[[list[float]], Any]
    lower: list[float]
    upper: list[float]
    optimum: float
    solution: list[float] = field(default_factory=list)
    n_objectives: int = 1
    kind: str = "box"  # "box" or "bits"

    @property
    def dimension(self) -> int:
        return len(self.lower)

    def gap(self, value: float) -> float:
        """How far a ``score()`` value is from the optimum (0 at the optimum, positive when worse)."""
        if self.n_objectives > 1:
            return self.optimum - value
        return value - self.optimum


def _sum(values: Any) -> float:
    total = 0.0
    for v in values:
        total += v
    return total


# The plain Python definitions of the built-in objectives; each is documented where its native objective is
# made, below.


def _python_sphere(x: Sequence[float]) -> float:
    return _sum(v * v for v in x)


def _python_rastrigin(x: Sequence[float]) -> float:
    return 10.0 * len(x) + _sum(v * v - 10.0 * math.cos(2.0 * math.pi * v) for v in x)


def _python_rosenbrock(x: Sequence[float]) -> float:
    return _sum(100.0 * (x[i + 1] - x[i] * x[i]) ** 2 + (1.0 - x[i]) ** 2 for i in range(len(x) - 1))


def _python_ackley(x: Sequence[float]) -> float:
    n = len(x)
    if n == 0:
        return 0.0
    squares = _sum(v * v for v in x) / n
    cosines = _sum(math.cos(2.0 * math.pi * v) for v in x) / n
    return -20.0 * math.exp(-0.2 * math.sqrt(squares)) - math.exp(cosines) + 20.0 + math.e


def _python_moved(x: Sequence[float], shift: Sequence[float], rotation: Sequence[Sequence[float]] | None) -> list[float]:
    """The point moved by the shift and turned by the rotation: rotation @ (x - shift), each row summed left to
    right."""
    d = [a - s for a, s in zip(x, shift, strict=True)]
    if rotation is None:
        return d
    return [_sum(r * v for r, v in zip(row, d, strict=True)) for row in rotation]


def _python_shifted(base: str, x: Sequence[float], shift: Sequence[float],
                    rotation: Sequence[Sequence[float]] | None) -> float:
    """A box problem at the moved point; rosenbrock's minimum (1, ..., 1) is moved onto the shift as well."""
    z = _python_moved(x, shift, rotation)
    if base == "rosenbrock":
        z = [v + 1.0 for v in z]
    value: float = _PYTHON_DEFINITIONS[base](z)  # the four box problems give one float
    return value


def _zdt_g(x: Sequence[float]) -> float:
    if len(x) < 2:
        return 1.0
    return 1.0 + 9.0 * _sum(x[1:]) / (len(x) - 1)


def _python_zdt1(x: Sequence[float]) -> list[float]:
    f1 = x[0]
    g = _zdt_g(x)
    return [f1, g * (1.0 - math.sqrt(f1 / g))]


def _python_zdt2(x: Sequence[float]) -> list[float]:
    f1 = x[0]
    g = _zdt_g(x)
    return [f1, g * (1.0 - (f1 / g) ** 2)]


def _python_zdt3(x: Sequence[float]) -> list[float]:
    f1 = x[0]
    g = _zdt_g(x)
    ratio = f1 / g
    return [f1, g * (1.0 - math.sqrt(ratio) - ratio * math.sin(10.0 * math.pi * f1))]


def _python_one_max(bits: Sequence[float]) -> float:
    return _sum(1.0 for b in bits if b < 0.5)


def _python_knapsack(bits: Sequence[float], weights: Sequence[int], values: Sequence[float], capacity: int) -> float:
    weight = 0
    value = 0.0
    for b, w, v in zip(bits, weights, values, strict=True):
        if b >= 0.5:
            weight += w
            value += v
    if weight > capacity:
        return float(weight - capacity)
    return -value


sphere = NativeObjective("sphere")
"""Sum of squares; minimum 0 at the origin."""
rastrigin = NativeObjective("rastrigin")
"""Rastrigin's highly multimodal function; minimum 0 at the origin."""
rosenbrock = NativeObjective("rosenbrock")
"""Rosenbrock's banana valley; minimum 0 at (1, ..., 1)."""
ackley = NativeObjective("ackley")
"""Ackley's function; minimum 0 at the origin (up to rounding)."""
zdt1 = NativeObjective("zdt1")
"""ZDT1: convex Pareto front f2 = 1 - sqrt(f1), reached where x[1:] are all 0."""
zdt2 = NativeObjective("zdt2")
"""ZDT2: concave Pareto front f2 = 1 - f1**2, reached where x[1:] are all 0."""
zdt3 = NativeObjective("zdt3")
"""ZDT3: Pareto front in five disconnected pieces, reached where x[1:] are all 0."""
one_max = NativeObjective("one_max")
"""Number of bits that are not set (the objective sees bits as 0.0/1.0); minimum 0 with every bit set."""

# The plain definition of each objective above is the function named after it with ``_python_`` in front.
_PYTHON_DEFINITIONS: dict[str, Callable[[Sequence[float]], Any]] = {
    name: globals()[f"_python_{name}"] for name in __all__ if f"_python_{name}" in globals()
}

# The native knapsack adds the weights in 64-bit integers; below this bound on their total (and on the
# capacity) the sum and the excess are exact, as Python's integers are.
_WEIGHT_LIMIT = 2**62


class Knapsack(NativeObjective):
    """0/1 knapsack as a minimisation objective over bit vectors.

    A bit vector that fits within ``capacity`` scores minus its total value; one that does not scores its
    excess weight, which is positive, so every feasible choice beats every infeasible one. Weights and the
    capacity are whole numbers, which lets :meth:`best_value` solve the instance exactly. It is a native
    objective: the instance is packed into the data its C function reads, and it takes exactly
    ``len(weights)`` bits.
    """

    weights: list[int]
    values: list[float]
    capacity: int

    def __new__(cls, weights: Sequence[int], values: Sequence[float], capacity: int) -> Knapsack:
        if len(weights) != len(values):
            raise ValueError("weights and values must have the same length")
        if any(int(w) != w or w < 0 for w in weights) or int(capacity) != capacity or capacity < 0:
            raise ValueError("weights and capacity must be non-negative whole numbers")
        int_weights = [int(w) for w in weights]
        if sum(int_weights) >= _WEIGHT_LIMIT or int(capacity) >= _WEIGHT_LIMIT:
            raise ValueError("the total weight and the capacity must be below 2**62")
        float_values = [float(v) for v in values]
        n = len(int_weights)
        packed = struct.pack(f"=qq{n}q{n}d", n, int(capacity), *int_weights, *float_values)
        self = super().__new__(cls, "knapsack", packed)
        self.weights = int_weights
        self.values = float_values
        self.capacity = int(capacity)
        return self

    def __reduce__(self) -> tuple[Any, ...]:
        return (Knapsack, (self.weights, self.values, self.capacity))

    def _python_call(self, bits: Sequence[float]) -> float:
        """The value by the plain Python definition (what the native function reproduces)."""
        return _python_knapsack(bits, self.weights, self.values, self.capacity)

    def __repr__(self) -> str:
        return f"Knapsack(weights={self.weights}, values={self.values}, capacity={self.capacity})"

    def best_value(self) -> float:
        """The largest total value that fits (dynamic programming over the capacity)."""
        best = [0.0] * (self.capacity + 1)
        for w, v in zip(self.weights, self.values):
            for c in range(self.capacity, w - 1, -1):
                candidate = best[c - w] + v
                if candidate > best[c]:
                    best[c] = candidate
        return best[self.capacity]

    def best_choice(self) -> list[float]:
        """One bit vector reaching :meth:`best_value`."""
        n = len(self.weights)
        table = [[0.0] * (self.capacity + 1) for _ in range(n + 1)]
        for i, (w, v) in enumerate(zip(self.weights, self.values), start=1):
            for c in range(self.capacity + 1):
                table[i][c] = table[i - 1][c]
                if w <= c and table[i - 1][c - w] + v > table[i][c]:
                    table[i][c] = table[i - 1][c - w] + v
        bits = [0.0] * n
        c = self.capacity
        for i in range(n, 0, -1):
            if table[i][c] != table[i - 1][c]:
                bits[i - 1] = 1.0
                c -= self.weights[i - 1]
        return bits


# The usual box of each problem that :class:`Shifted` moves, and where its unshifted minimum lies.
_BOXES: dict[str, tuple[float, float, float]] = {
    "sphere": (-5.12, 5.12, 0.0),
    "rastrigin": (-5.12, 5.12, 0.0),
    "rosenbrock": (-5.0, 10.0, 1.0),
    "ackley": (-32.768, 32.768, 0.0),
}
# Rastrigin's and Ackley's cosine terms follow the axes, so that a search that moves one coordinate at a time
# has an easier time on them than on most problems: the standard variants turn them too. The sphere looks the
# same from every direction, and rosenbrock's valley already couples neighbouring coordinates.
_ROTATED = ("rastrigin", "ackley")


class Shifted(NativeObjective):
    """A box problem (``base``: ``"sphere"``, ``"rastrigin"``, ``"rosenbrock"`` or ``"ackley"``) moved so that
    its minimum lies at ``shift``, and turned when ``rotation`` is given.

    The value at ``x`` is the base problem at ``rotation @ (x - shift)`` (each row summed left to right), and for
    rosenbrock at that point plus 1, so that in every case the minimum is at ``x = shift``, with exactly the value
    the base problem has at its own minimum: 0 for sphere, rastrigin and rosenbrock, and for ackley the rounding
    of its constant terms, 4.4e-16, as unshifted. ``rotation`` is an n x n matrix (a list of rows); an orthogonal
    one turns the problem without changing its shape. The point and the shift must have the same length. It is a
    native objective, computing exactly what :meth:`_python_call` computes; a rotated one costs about n
    multiplications per coordinate.

    :meth:`standard` gives the deterministic variants that :func:`problem` returns for the ``shifted_`` names.
    """

    base: str
    shift: list[float]
    rotation: list[list[float]] | None

    def __new__(cls, base: str, shift: Sequence[float], rotation: Sequence[Sequence[float]] | None = None) -> Shifted:
        if base not in _BOXES:
            raise ValueError(f"cannot shift {base!r}; choose one of {', '.join(_BOXES)}")
        moved = [float(v) for v in shift]
        n = len(moved)
        if n < 1:
            raise ValueError("the shift must have at least one coordinate")
        turned = None if rotation is None else [[float(v) for v in row] for row in rotation]
        if turned is not None and (len(turned) != n or any(len(row) != n for row in turned)):
            raise ValueError(f"the rotation must be a {n} x {n} matrix, as long as the shift")
        flat = [] if turned is None else [v for row in turned for v in row]
        if not all(math.isfinite(v) for v in moved + flat):
            raise ValueError("the shift and the rotation must be finite")
        packed = struct.pack(f"=qq{n + len(flat)}d", n, turned is not None, *moved, *flat)
        self = super().__new__(cls, f"shifted_{base}", packed)
        self.base = base
        self.shift = moved
        self.rotation = turned
        return self

    @classmethod
    def standard(cls, base: str, dimension: int, instance: int = 0) -> Shifted:
        """The standard variant of ``base`` in ``dimension`` coordinates; ``instance`` picks another one.

        Fixed by its three arguments, the same on every machine and Python version: each coordinate of the
        shift lies between a tenth and two fifths of the box's width from the box centre, so that the minimum
        is off-centre in every coordinate and inside the box with a margin of a tenth of its width. Rastrigin
        and ackley are also turned by a random orthogonal matrix.
        """
        if base not in _BOXES:
            raise ValueError(f"cannot shift {base!r}; choose one of {', '.join(_BOXES)}")
        shift, rotation = _standard_shift(base, operator.index(dimension), operator.index(instance))
        return cls(base, shift, rotation)

    def __reduce__(self) -> tuple[Any, ...]:
        return (Shifted, (self.base, self.shift, self.rotation))

    def _python_call(self, x: Sequence[float]) -> float:
        """The value by the plain Python definition (what the native function reproduces)."""
        return _python_shifted(self.base, x, self.shift, self.rotation)

    def __repr__(self) -> str:
        turned = "" if self.rotation is None else ", rotated"
        return f"Shifted({self.base!r}, dimension={len(self.shift)}{turned})"


@functools.lru_cache(maxsize=32)
def _standard_shift(base: str, dimension: int, instance: int) -> tuple[list[float], list[list[float]] | None]:
    if dimension < 1:
        raise ValueError(f"dimension must be at least 1, got {dimension}")
    # Python's generator gives the same numbers for a string seed on every platform and version; the
    # rotation needs only +, -, *, / and sqrt, which round the same everywhere (no libm function).
    rng = random.Random(f"hivekit shifted {base} {dimension} {instance}")
    low, high, _ = _BOXES[base]
    centre, width = (low + high) / 2.0, high - low
    shift = [centre + rng.choice((-1.0, 1.0)) * width * rng.uniform(0.1, 0.4) for _ in range(dimension)]
    if base not in _ROTATED:
        return shift, None
    rows: list[list[float]] = []
    while len(rows) < dimension:  # Gram-Schmidt on random rows, removing each earlier row in turn
        v = [rng.uniform(-1.0, 1.0) for _ in range(dimension)]
        for row in rows:
            dot = _sum(a * b for a, b in zip(v, row))
            v = [a - dot * b for a, b in zip(v, row)]
        norm = math.sqrt(_sum(a * a for a in v))
        if norm > 1e-3:  # a row nearly in the span of the others would come out inaccurate: draw again
            rows.append([a / norm for a in v])
    return shift, rows


def knapsack_instance() -> Knapsack:
    """The built-in 24-item instance (weights 1-99, values 1-99, capacity half the total weight)."""
    weights = [23, 31, 29, 44, 53, 38, 63, 85, 89, 82, 12, 7, 51, 67, 19, 95, 41, 58, 73, 9, 27, 36, 78, 15]
    values = [92, 57, 49, 68, 60, 43, 67, 84, 87, 72, 18, 11, 65, 73, 24, 99, 39, 61, 70, 14, 33, 40, 80, 21]
    return Knapsack(weights, values, sum(weights) // 2)


# Hypervolume against (1, 1) of each true front, the area above the front within the unit square: for ZDT1
# the integral of sqrt(f1), for ZDT2 that of f1**2, for ZDT3 that of 1 - m(t) where m is the running minimum
# of 1 - sqrt(t) - t sin(10 pi t) (integrated numerically; the pieces below 0 make it exceed 1).
_ZDT_HYPERVOLUME = {"zdt1": 2.0 / 3.0, "zdt2": 1.0 / 3.0, "zdt3": 1.04442600742}

_DEFAULT_DIMENSION = {
    "sphere": 10,
    "rastrigin": 5,
    "rosenbrock": 4,
    "ackley": 5,
    "zdt1": 10,
    "zdt2": 10,
    "zdt3": 10,
    "one_max": 32,
    "knapsack": 24,
    **{f"shifted_{name}": n for name, n in [("sphere", 10), ("rastrigin", 5), ("rosenbrock", 4), ("ackley", 5)]},
}

PROBLEM_NAMES: tuple[str, ...] = tuple(_DEFAULT_DIMENSION)


def problem(name: str, dimension: int | None = None, instance: int = 0) -> Problem:
    """A built-in problem by name (one of ``PROBLEM_NAMES``), with its box and known optimum.

    ``dimension`` defaults to a size that the optimisers' default settings handle in well under a second;
    the knapsack is a fixed instance whose size cannot be chosen. The ``shifted_`` names give
    :meth:`Shifted.standard` of the problem in its usual box, with ``solution`` the shift; ``instance`` (for
    them only) picks another shift and rotation.
    """
    if name not in _DEFAULT_DIMENSION:
        raise ValueError(f"unknown problem {name!r}; choose one of {', '.join(PROBLEM_NAMES)}")
    n = _DEFAULT_DIMENSION[name] if dimension is None else dimension
    if n < 1:
        raise ValueError(f"dimension must be at least 1, got {n}")
    shifted = name.startswith("shifted_")
    if instance != 0 and not shifted:
        raise ValueError(f"only the shifted problems have instances, not {name!r}")
    if name == "knapsack":
        sack = knapsack_instance()
        if dimension is not None and dimension != len(sack.weights):
            raise ValueError(f"the knapsack instance has {len(sack.weights)} items; dimension cannot change")
        return Problem(f"knapsack-{n}", sack, [0.0] * n, [1.0] * n, -sack.best_value(),
                       sack.best_choice(), kind="bits")
    label = f"{name.replace('_', '-')}-{n}" + (f"#{instance}" if instance else "")
    if name == "one_max":
        return Problem(label, one_max, [0.0] * n, [1.0] * n, 0.0, [1.0] * n, kind="bits")
    if name.startswith("zdt"):
        return Problem(label, globals()[name], [0.0] * n, [1.0] * n, _ZDT_HYPERVOLUME[name], [0.0] * n,
                       n_objectives=2)
    if shifted:
        moved = Shifted.standard(name[len("shifted_"):], n, instance)
        low, high, _ = _BOXES[moved.base]
        return Problem(label, moved, [low] * n, [high] * n, 0.0, list(moved.shift))
    low, high, at = _BOXES[name]
    return Problem(label, globals()[name], [low] * n, [high] * n, 0.0, [at] * n)
