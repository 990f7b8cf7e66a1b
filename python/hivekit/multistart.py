"""Independent fits of one optimiser under several seeds, run in parallel through an executor.

Each seed gives one fit, exactly the fit that ``cls(**params, random_state=seed)`` would make on its own, so
the results are bit-for-bit those of running the fits one by one; only where they run changes. The fits go
through any :class:`concurrent.futures.Executor`:

- by default a :class:`~concurrent.futures.ProcessPoolExecutor`, created for the call and shut down after it.
  Every task is pickled: the estimator classes pickle by reference (their ``__module__`` is
  ``hivekit._hivekit``), and the objective must be picklable too, that is a function defined at module level
  (not a lambda or a nested function) or an instance of a module-level class, importable in the workers;
- a :class:`~concurrent.futures.ThreadPoolExecutor` needs no pickling; fits with a
  :class:`~hivekit.NativeObjective` (such as everything in :mod:`hivekit.problems`) release the interpreter lock
  and run in parallel, while fits with a Python objective hold it and take turns;
- an executor of a distributed engine runs the same call across machines, for example Dask's
  ``distributed.Client(...).get_executor()``. An executor that is passed in is not shut down.
"""

from __future__ import annotations

import math
import os
from collections.abc import Callable, Iterable, Mapping, Sequence
from concurrent.futures import Executor, Future
from dataclasses import dataclass
from typing import Any

from hivekit._registry import MULTI_OBJECTIVE_CLASSES, TOUR_CLASSES

__all__ = ["StartResult", "multistart", "multistart_tour"]


@dataclass(frozen=True)
class StartResult:
    """One fit: its seed, ``score()``, ``predict()`` and ``history_`` (empty for the multi-objective classes)."""

    seed: int
    score: float
    solution: list[Any]
    history: list[float]


def _fit_one(cls: type, params: dict[str, Any], seed: int, fit_args: tuple[Any, ...]) -> StartResult:
    est = cls(**params, random_state=seed)
    est.fit(*fit_args)
    history = [] if isinstance(est, MULTI_OBJECTIVE_CLASSES) else est.history_
    return StartResult(seed, est.score(), est.predict(), history)


def multistart(
    cls: type,
    objective: Callable[[list[float]], Any],
    lower: Sequence[float],
    upper: Sequence[float],
    *,
    seeds: Iterable[int],
    params: Mapping[str, Any] | None = None,
    executor: Executor | None = None,
) -> list[StartResult]:
    """Fits ``cls(**params, random_state=seed).fit(objective, lower, upper)`` for every seed.

    Returns one :class:`StartResult` per seed, best first: by ascending score, except for ``MopsoOptimizer``
    and ``Nsga2Optimizer`` whose score (a hypervolume) is better when larger; NaN scores come last and equal
    scores keep the order of ``seeds``. The first fit that raises makes the call raise that exception.
    """
    if cls in TOUR_CLASSES:
        raise TypeError(f"{cls.__name__} fits a distance matrix; use multistart_tour")
    return _run(cls, (objective, list(lower), list(upper)), seeds, params, executor)


def multistart_tour(
    cls: type,
    distance_matrix: Sequence[Sequence[float]],
    *,
    seeds: Iterable[int],
    params: Mapping[str, Any] | None = None,
    executor: Executor | None = None,
) -> list[StartResult]:
    """Fits ``cls(**params, random_state=seed).fit(distance_matrix)`` for every seed (``AntColony`` or
    ``PermutationGeneticOptimizer``); results ordered as in :func:`multistart`, shortest tour first."""
    if cls not in TOUR_CLASSES:
        raise TypeError(f"{getattr(cls, '__name__', cls)!s} does not fit a distance matrix; use multistart")
    return _run(cls, ([list(row) for row in distance_matrix],), seeds, params, executor)


def _run(
    cls: type,
    fit_args: tuple[Any, ...],
    seeds: Iterable[int],
    params: Mapping[str, Any] | None,
    executor: Executor | None,
) -> list[StartResult]:
    seed_list = list(seeds)
    settings = dict(params or {})
    if "random_state" in settings:
        raise TypeError("params must not contain random_state; give the seeds instead")
    for seed in seed_list:
        if not isinstance(seed, int) or isinstance(seed, bool):
            raise TypeError(f"seeds must be integers, got {seed!r}")
    # Builds one estimator here so that a bad keyword fails at once, not in every worker.
    cls(**settings)
    if not seed_list:
        return []
    if executor is not None:
        results = _collect(executor, cls, settings, seed_list, fit_args)
    else:
        from concurrent.futures import ProcessPoolExecutor

        workers = min(len(seed_list), os.process_cpu_count() or 1)
        with ProcessPoolExecutor(max_workers=workers) as pool:
            results = _collect(pool, cls, settings, seed_list, fit_args)
    larger_is_better = cls in MULTI_OBJECTIVE_CLASSES
    order = sorted(range(len(results)), key=lambda i: _rank(results[i].score, larger_is_better) + (i,))
    return [results[i] for i in order]


def _collect(
    executor: Executor,
    cls: type,
    settings: dict[str, Any],
    seeds: list[int],
    fit_args: tuple[Any, ...],
) -> list[StartResult]:
    futures: list[Future[StartResult]] = [executor.submit(_fit_one, cls, settings, seed, fit_args) for seed in seeds]
    try:
        return [future.result() for future in futures]
    except BaseException:
        for future in futures:
            future.cancel()
        raise


def _rank(score: float, larger_is_better: bool) -> tuple[int, float]:
    if math.isnan(score):
        return (1, 0.0)
    return (0, -score if larger_is_better else score)
