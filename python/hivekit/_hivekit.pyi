"""Metaheuristic optimisers with a C++ engine."""

import sys
from collections.abc import Callable, Sequence
from typing import Any, Protocol, Self, SupportsFloat, SupportsIndex, TypeAlias, final

from typing_extensions import Buffer, disjoint_base

__all__ = [
    "two_opt",
    "AntColony",
    "ParticleSwarm",
    "BeeColony",
    "GreyWolfOptimizer",
    "FireflyOptimizer",
    "SimulatedAnnealing",
    "CuckooSearch",
    "BatAlgorithm",
    "GlowwormOptimizer",
    "BacterialForagingOptimizer",
    "DifferentialEvolution",
    "CmaEsOptimizer",
    "PermutationGeneticOptimizer",
    "BinaryParticleSwarm",
    "Nsga2Optimizer",
    "MopsoOptimizer",
]

# Sizes (every n_*, limit, archive_size) take anything with an integer value in 0 .. 2**64-1, not a float;
# the other numeric hyperparameters take anything with a float value.
_Size: TypeAlias = SupportsIndex
_Real: TypeAlias = SupportsFloat | SupportsIndex
_Seed: TypeAlias = int | None
# A limit is a sequence of numbers or a buffer (such as a numpy array); a one-dimensional C-contiguous buffer of
# float64 is read in one step, any other buffer element by element.
if sys.version_info >= (3, 12):
    _Bound: TypeAlias = Sequence[_Real] | Buffer
else:
    # numpy declares its arrays' buffer to type checkers from Python 3.12 on; before, they are known by this.
    class _ArrayInterface(Protocol):
        @property
        def __array_interface__(self) -> dict[str, Any]: ...

    _Bound: TypeAlias = Sequence[_Real] | Buffer | _ArrayInterface
_Matrix: TypeAlias = Sequence[Sequence[_Real]]
# The objective receives a list of floats and returns a float; anything that raises or returns a
# non-number during the run counts as +infinity.
_Objective: TypeAlias = Callable[[list[float]], SupportsFloat | SupportsIndex]
_MultiObjective: TypeAlias = Callable[[list[float]], Sequence[_Real]]

# The registry of the classes: (name, docstring, input, family, probe, ((parameter, kind, default), ...)).
_registry: tuple[tuple[str, str, str, str, str, tuple[tuple[str, str, int | float | bool | str], ...]], ...]

@disjoint_base
class NativeObjective:
    """An objective written in C, which fit calls without the interpreter (and with the interpreter lock
    released). With ``n_objectives`` None the function is ``double f(const double* x, size_t n, void* data)``;
    otherwise ``int f(const double* x, size_t n, double* out, size_t m, void* data)`` writing m values and
    returning 0."""

    def __new__(
        cls,
        function: object,
        data: object = None,
        n_objectives: SupportsIndex | None = None,
        dimension: SupportsIndex | None = None,
    ) -> Self: ...
    def __call__(self, x: Sequence[_Real]) -> Any: ...
    @property
    def address(self) -> int: ...
    @property
    def n_objectives(self) -> int | None: ...
    @property
    def dimension(self) -> int | None: ...

class EngineFault(BaseException):
    """An internal fault of the engine (a broken invariant); derives from BaseException, not Exception."""

def _plane_rows(x: Sequence[float], y: Sequence[float], rule: str, /) -> list[list[float]]: ...
def _set_threads(n: int, /) -> None: ...
def _get_threads() -> int: ...
def two_opt(tour: Sequence[SupportsIndex], distance_matrix: _Matrix) -> tuple[list[int], float]:
    """Improves a closed tour by 2-opt moves; returns the tour and its closed length."""

@final
class AntColony:
    def __new__(
        cls,
        n_ants: _Size = 50,
        n_iterations: _Size = 100,
        alpha: _Real = 1.0,
        beta: _Real = 2.0,
        rho: _Real = 0.5,
        q: _Real = 1.0,
        use_two_opt: bool = True,
        variant: str = "basic",
        q0: _Real = 0.9,
        elitist_weight: _Real = 2.0,
        tau_min: _Real = 1e-4,
        tau_max: _Real = 10.0,
        random_state: _Seed = None,
    ) -> Self: ...
    def fit(self, distance_matrix: _Matrix) -> None: ...
    def predict(self) -> list[int]: ...
    def score(self) -> float: ...
    def get_params(self) -> dict[str, float]: ...
    @property
    def history_(self) -> list[float]: ...
    @property
    def population_(self) -> list[list[float]]: ...

@final
class PermutationGeneticOptimizer:
    def __new__(
        cls,
        n_individuals: _Size = 40,
        n_iterations: _Size = 100,
        mutation_rate: _Real = 0.1,
        use_two_opt: bool = True,
        random_state: _Seed = None,
    ) -> Self: ...
    def fit(self, distance_matrix: _Matrix) -> None: ...
    def predict(self) -> list[int]: ...
    def score(self) -> float: ...
    def get_params(self) -> dict[str, float]: ...
    @property
    def history_(self) -> list[float]: ...
    @property
    def population_(self) -> list[list[float]]: ...

@final
class ParticleSwarm:
    def __new__(
        cls,
        n_particles: _Size = 30,
        n_iterations: _Size = 100,
        w: _Real = 0.9,
        c1: _Real = 2.0,
        c2: _Real = 2.0,
        random_state: _Seed = None,
    ) -> Self: ...
    def fit(self, objective: _Objective, lower: _Bound, upper: _Bound) -> None: ...
    def predict(self) -> list[float]: ...
    def score(self) -> float: ...
    def get_params(self) -> dict[str, float]: ...
    @property
    def history_(self) -> list[float]: ...
    @property
    def population_(self) -> list[list[float]]: ...

@final
class BeeColony:
    def __new__(
        cls,
        n_bees: _Size = 50,
        n_iterations: _Size = 100,
        limit: _Size = 10,
        random_state: _Seed = None,
    ) -> Self: ...
    def fit(self, objective: _Objective, lower: _Bound, upper: _Bound) -> None: ...
    def predict(self) -> list[float]: ...
    def score(self) -> float: ...
    def get_params(self) -> dict[str, float]: ...
    @property
    def history_(self) -> list[float]: ...
    @property
    def population_(self) -> list[list[float]]: ...

@final
class GreyWolfOptimizer:
    def __new__(cls, n_wolves: _Size = 30, n_iterations: _Size = 100, random_state: _Seed = None) -> Self: ...
    def fit(self, objective: _Objective, lower: _Bound, upper: _Bound) -> None: ...
    def predict(self) -> list[float]: ...
    def score(self) -> float: ...
    def get_params(self) -> dict[str, float]: ...
    @property
    def history_(self) -> list[float]: ...
    @property
    def population_(self) -> list[list[float]]: ...

@final
class FireflyOptimizer:
    def __new__(
        cls,
        n_fireflies: _Size = 30,
        n_iterations: _Size = 100,
        beta0: _Real = 1.0,
        gamma: _Real = 1.0,
        alpha: _Real = 0.2,
        random_state: _Seed = None,
    ) -> Self: ...
    def fit(self, objective: _Objective, lower: _Bound, upper: _Bound) -> None: ...
    def predict(self) -> list[float]: ...
    def score(self) -> float: ...
    def get_params(self) -> dict[str, float]: ...
    @property
    def history_(self) -> list[float]: ...
    @property
    def population_(self) -> list[list[float]]: ...

@final
class SimulatedAnnealing:
    def __new__(
        cls,
        initial_temperature: _Real = 10.0,
        cooling_rate: _Real = 0.95,
        step_scale: _Real = 0.1,
        n_iterations: _Size = 100,
        random_state: _Seed = None,
    ) -> Self: ...
    def fit(self, objective: _Objective, lower: _Bound, upper: _Bound) -> None: ...
    def predict(self) -> list[float]: ...
    def score(self) -> float: ...
    def get_params(self) -> dict[str, float]: ...
    @property
    def history_(self) -> list[float]: ...
    @property
    def population_(self) -> list[list[float]]: ...

@final
class CuckooSearch:
    def __new__(
        cls,
        n_nests: _Size = 25,
        n_iterations: _Size = 100,
        pa: _Real = 0.25,
        alpha: _Real = 0.01,
        levy_scale: _Real = 1.0,
        random_state: _Seed = None,
    ) -> Self: ...
    def fit(self, objective: _Objective, lower: _Bound, upper: _Bound) -> None: ...
    def predict(self) -> list[float]: ...
    def score(self) -> float: ...
    def get_params(self) -> dict[str, float]: ...
    @property
    def history_(self) -> list[float]: ...
    @property
    def population_(self) -> list[list[float]]: ...

@final
class BatAlgorithm:
    def __new__(
        cls,
        n_bats: _Size = 30,
        n_iterations: _Size = 100,
        fmin: _Real = 0.0,
        fmax: _Real = 2.0,
        alpha: _Real = 0.9,
        gamma: _Real = 0.9,
        loudness: _Real = 1.0,
        pulse_rate: _Real = 0.5,
        random_state: _Seed = None,
    ) -> Self: ...
    def fit(self, objective: _Objective, lower: _Bound, upper: _Bound) -> None: ...
    def predict(self) -> list[float]: ...
    def score(self) -> float: ...
    def get_params(self) -> dict[str, float]: ...
    @property
    def history_(self) -> list[float]: ...
    @property
    def population_(self) -> list[list[float]]: ...

@final
class GlowwormOptimizer:
    def __new__(
        cls,
        n_worms: _Size = 30,
        n_iterations: _Size = 100,
        luciferin_decay: _Real = 0.4,
        luciferin_enhancement: _Real = 0.6,
        step_size: _Real = 0.1,
        neighborhood_radius: _Real = 1.0,
        random_state: _Seed = None,
    ) -> Self: ...
    def fit(self, objective: _Objective, lower: _Bound, upper: _Bound) -> None: ...
    def predict(self) -> list[float]: ...
    def score(self) -> float: ...
    def get_params(self) -> dict[str, float]: ...
    @property
    def history_(self) -> list[float]: ...
    @property
    def population_(self) -> list[list[float]]: ...

@final
class BacterialForagingOptimizer:
    def __new__(
        cls,
        n_bacteria: _Size = 30,
        n_iterations: _Size = 100,
        n_chemotactic_steps: _Size = 10,
        n_reproduction_steps: _Size = 4,
        elimination_probability: _Real = 0.25,
        step_scale: _Real = 0.1,
        random_state: _Seed = None,
    ) -> Self: ...
    def fit(self, objective: _Objective, lower: _Bound, upper: _Bound) -> None: ...
    def predict(self) -> list[float]: ...
    def score(self) -> float: ...
    def get_params(self) -> dict[str, float]: ...
    @property
    def history_(self) -> list[float]: ...
    @property
    def population_(self) -> list[list[float]]: ...

@final
class DifferentialEvolution:
    def __new__(
        cls,
        n_individuals: _Size = 40,
        n_iterations: _Size = 100,
        f: _Real = 0.8,
        cr: _Real = 0.9,
        random_state: _Seed = None,
    ) -> Self: ...
    def fit(self, objective: _Objective, lower: _Bound, upper: _Bound) -> None: ...
    def predict(self) -> list[float]: ...
    def score(self) -> float: ...
    def get_params(self) -> dict[str, float]: ...
    @property
    def history_(self) -> list[float]: ...
    @property
    def population_(self) -> list[list[float]]: ...

@final
class CmaEsOptimizer:
    def __new__(
        cls,
        n_individuals: _Size = 20,
        n_iterations: _Size = 100,
        sigma: _Real = 0.5,
        random_state: _Seed = None,
    ) -> Self: ...
    def fit(self, objective: _Objective, lower: _Bound, upper: _Bound) -> None: ...
    def predict(self) -> list[float]: ...
    def score(self) -> float: ...
    def get_params(self) -> dict[str, float]: ...
    @property
    def history_(self) -> list[float]: ...
    @property
    def population_(self) -> list[list[float]]: ...

@final
class BinaryParticleSwarm:
    """The box only sets the number of bits; the objective sees each bit as 0.0 or 1.0."""

    def __new__(
        cls,
        n_particles: _Size = 30,
        n_iterations: _Size = 100,
        w: _Real = 0.7,
        c1: _Real = 1.5,
        c2: _Real = 1.5,
        random_state: _Seed = None,
    ) -> Self: ...
    def fit(self, objective: _Objective, lower: _Bound, upper: _Bound) -> None: ...
    def predict(self) -> list[float]: ...
    def score(self) -> float: ...
    def get_params(self) -> dict[str, float]: ...
    @property
    def history_(self) -> list[float]: ...
    @property
    def population_(self) -> list[list[float]]: ...

@final
class Nsga2Optimizer:
    """``predict`` returns the Pareto archive's positions, ``score`` its hypervolume against (1, 1)."""

    def __new__(
        cls,
        n_individuals: _Size = 40,
        n_iterations: _Size = 100,
        crossover_rate: _Real = 0.9,
        mutation_rate: _Real = 0.1,
        mutation_scale: _Real = 0.1,
        archive_size: _Size = 50,
        random_state: _Seed = None,
    ) -> Self: ...
    def fit(self, objective: _MultiObjective, lower: _Bound, upper: _Bound) -> None: ...
    def predict(self) -> list[list[float]]: ...
    def score(self) -> float: ...
    def get_params(self) -> dict[str, float]: ...
    @property
    def population_(self) -> list[list[float]]: ...

@final
class MopsoOptimizer:
    """``predict`` returns the Pareto archive's positions, ``score`` its hypervolume against (1, 1)."""

    def __new__(
        cls,
        n_particles: _Size = 30,
        n_iterations: _Size = 100,
        w: _Real = 0.7,
        c1: _Real = 1.5,
        c2: _Real = 1.5,
        mutation_scale: _Real = 0.1,
        archive_size: _Size = 50,
        random_state: _Seed = None,
    ) -> Self: ...
    def fit(self, objective: _MultiObjective, lower: _Bound, upper: _Bound) -> None: ...
    def predict(self) -> list[list[float]]: ...
    def score(self) -> float: ...
    def get_params(self) -> dict[str, float]: ...
    @property
    def population_(self) -> list[list[float]]: ...
