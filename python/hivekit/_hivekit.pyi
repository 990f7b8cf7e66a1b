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

# The registry of the classes: (name, docstring, input, family, probe, ((parameter, kind, default), ...), smallest
# size, its refusal or None).
_registry: tuple[
    tuple[str, str, str, str, str, tuple[tuple[str, str, int | float | bool | str], ...], int, str | None], ...
]
# AntColony's variant names by code.
_variant_names: tuple[str, ...]

def _run_evaluations(estimator: object, /) -> int | None: ...

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
def _over_physical_memory(count: int, item_bytes: int, /) -> int | None: ...
def two_opt(tour: Sequence[SupportsIndex], distance_matrix: _Matrix) -> tuple[list[int], float]:
    """Improves a closed tour by 2-opt moves; returns the tour and its closed length."""

# -- The classes, written by scripts/generate_surface.py from the engine's registry. --

@final
class AntColony:
    """Ant Colony Optimization for discrete problems (e.g. TSP).

    Exposed to Python as `hivekit._hivekit.AntColony`."""

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
    def fit(self, distance_matrix: _Matrix) -> None:
        """Fit the colony to a square distance matrix and search for a short tour."""
    def predict(self) -> list[int]:
        """Return the best tour found as a list of city indices."""
    def score(self) -> float:
        """Return the length of the best tour found."""
    def get_params(self) -> dict[str, float]:
        """Return the algorithm's hyperparameters."""
    @property
    def history_(self) -> list[float]: ...
    @property
    def population_(self) -> list[list[float]]: ...

@final
class PermutationGeneticOptimizer:
    """Permutation genetic optimizer for TSP-like discrete problems."""

    # fit refuses n_individuals below 1 with the ValueError
    # "Invalid input: n_individuals must be at least 1".
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
    """Particle Swarm Optimization for continuous minimization.

    Exposed to Python as `hivekit._hivekit.ParticleSwarm`."""

    # With the defaults fit makes 3031 objective calls, the probe call included.
    def __new__(
        cls,
        n_particles: _Size = 30,
        n_iterations: _Size = 100,
        w: _Real = 0.9,
        c1: _Real = 2.0,
        c2: _Real = 2.0,
        random_state: _Seed = None,
    ) -> Self: ...
    def fit(self, objective: _Objective, lower: _Bound, upper: _Bound) -> None:
        """Minimize `objective(list[float]) -> float` over the box `[lower, upper]`."""
    def predict(self) -> list[float]:
        """Return the best position found."""
    def score(self) -> float:
        """Return the objective value at the best position."""
    def get_params(self) -> dict[str, float]: ...
    @property
    def history_(self) -> list[float]: ...
    @property
    def population_(self) -> list[list[float]]: ...

@final
class BeeColony:
    """Artificial Bee Colony for continuous minimization.

    Exposed to Python as `hivekit._hivekit.BeeColony`."""

    # With the defaults fit makes a number of objective calls that depends on the run, the probe call included.
    def __new__(
        cls,
        n_bees: _Size = 50,
        n_iterations: _Size = 100,
        limit: _Size = 10,
        random_state: _Seed = None,
    ) -> Self: ...
    def fit(self, objective: _Objective, lower: _Bound, upper: _Bound) -> None:
        """Minimize `objective(list[float]) -> float` over the box `[lower, upper]`."""
    def predict(self) -> list[float]:
        """Return the best position found."""
    def score(self) -> float:
        """Return the objective value at the best position."""
    def get_params(self) -> dict[str, float]: ...
    @property
    def history_(self) -> list[float]: ...
    @property
    def population_(self) -> list[list[float]]: ...

@final
class GreyWolfOptimizer:
    """Grey Wolf Optimizer for continuous minimization."""

    # fit refuses n_wolves below 3 with the ValueError
    # "Invalid input: n_wolves must be at least 3 for grey wolf optimization".
    # With the defaults fit makes 3031 objective calls, the probe call included.
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
    """Firefly algorithm for continuous minimization."""

    # fit refuses n_fireflies below 2 with the ValueError
    # "Invalid input: n_fireflies must be at least 2 for firefly optimization".
    # With the defaults fit makes a number of objective calls that depends on the run, the probe call included.
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
    """Simulated annealing for continuous minimization."""

    # With the defaults fit makes 102 objective calls, the probe call included.
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
    """Cuckoo search for continuous minimization."""

    # fit refuses n_nests below 2 with the ValueError
    # "Invalid input: n_nests must be at least 2 for cuckoo search".
    # With the defaults fit makes 3226 objective calls, the probe call included.
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
    """Bat algorithm for continuous minimization."""

    # fit refuses n_bats below 2 with the ValueError
    # "Invalid input: n_bats must be at least 2 for bat algorithm".
    # With the defaults fit makes 3031 objective calls, the probe call included.
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
    """Glowworm swarm optimizer for continuous minimization."""

    # fit refuses n_worms below 2 with the ValueError
    # "Invalid input: n_worms must be at least 2 for glowworm optimization".
    # With the defaults fit makes a number of objective calls that depends on the run, the probe call included.
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
    """Bacterial foraging optimizer for continuous minimization."""

    # fit refuses n_bacteria below 2 with the ValueError
    # "Invalid input: n_bacteria must be at least 2 for bacterial foraging".
    # With the defaults fit makes a number of objective calls that depends on the run, the probe call included.
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
    """Differential evolution for continuous minimization."""

    # fit refuses n_individuals below 4 with the ValueError
    # "Invalid input: n_individuals must be at least 4 for differential evolution".
    # With the defaults fit makes 4041 objective calls, the probe call included.
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
    """CMA-ES-style optimizer for continuous minimization."""

    # fit refuses n_individuals below 4 with the ValueError
    # "Invalid input: n_individuals must be at least 4 for CMA-ES".
    # With the defaults fit makes 2002 objective calls, the probe call included.
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
    """Binary PSO for bit-vector objectives."""

    # The box only sets the number of bits; the objective sees each bit as 0.0 or 1.0.
    # With the defaults fit makes 3031 objective calls, the probe call included.
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
    """NSGA-II-style multi-objective optimizer."""

    # ``predict`` returns the Pareto archive's positions, ``score`` its hypervolume against (1, 1).
    # With the defaults fit makes 4041 objective calls, the probe call included.
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
    """Multi-objective PSO."""

    # ``predict`` returns the Pareto archive's positions, ``score`` its hypervolume against (1, 1).
    # With the defaults fit makes 3031 objective calls, the probe call included.
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
