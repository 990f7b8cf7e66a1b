"""Independent fits of one optimiser under several seeds, run in parallel through an executor.

Each seed gives one fit, exactly the fit that ``cls(**params, random_state=seed)`` would make on its own, so
the results are bit-for-bit those of running the fits one by one; only where they run changes. The fits go
through any :class:`concurrent.futures.Executor`:

- by default a :class:`~concurrent.futures.ProcessPoolExecutor`, created for the call and shut down after it,
  whose workers each receive the objective or the matrix once, as they start. A pool passed in receives them
  with every task. Either way they are pickled: the estimator classes pickle by reference (their
  ``__module__`` is ``hivekit._hivekit``), a distance matrix travels as one buffer of doubles (eight bytes an
  entry, whatever its type: lists, a numpy array), and the objective must be picklable too, that is a
  function defined at module level (not a lambda or a nested function) or an instance of a module-level
  class, importable in the workers. An objective that does not pickle raises TypeError before any fit starts;
- a :class:`~concurrent.futures.ThreadPoolExecutor` needs no pickling; fits with a
  :class:`~hivekit.NativeObjective` (such as everything in :mod:`hivekit.problems`) release the interpreter lock
  and run in parallel, while fits with a Python objective hold it and take turns;
- an executor of a distributed engine runs the same call across machines, for example Dask's
  ``distributed.Client(...).get_executor()``. An executor that is passed in is not shut down.

An interrupt (Ctrl-C) raises KeyboardInterrupt at once and cancels the fits not yet started. The worker
processes of a process pool, whether made here or passed in, are ended (a pool passed in is shut down, since
its workers are gone). Fits running in the threads of a thread pool stop at their next objective call; a tour
fit or a fit with a native objective, which calls no Python code, runs to its end in its thread. Other executors get their futures cancelled.
"""

from __future__ import annotations

import math
import operator
import os
import pickle
import signal
import sys
import threading
from array import array
from collections.abc import Callable, Iterable, Mapping, Sequence
from concurrent.futures import Executor, Future, ProcessPoolExecutor, ThreadPoolExecutor
from dataclasses import dataclass
from typing import Any

from hivekit import _hivekit
from hivekit._registry import MULTI_OBJECTIVE_CLASSES, TOUR_CLASSES
from hivekit.parallel import Parallel

__all__ = ["StartResult", "multistart", "multistart_tour"]


def _process_cpu_count() -> int | None:
    """The number of processors this process may run on: ``os.process_cpu_count()`` of CPython 3.13, which
    counts the processors of the process's affinity mask where the system has one, and all of them elsewhere."""
    if sys.version_info >= (3, 13):
        return os.process_cpu_count()
    affinity = getattr(os, "sched_getaffinity", None)
    return len(affinity(0)) if affinity is not None else os.cpu_count()


@dataclass(frozen=True)
class StartResult:
    """One fit: its seed, ``score()``, ``predict()`` and ``history_`` (empty for the multi-objective classes)."""

    seed: int
    score: float
    solution: list[Any]
    history: list[float]


@dataclass(frozen=True)
class _Matrix:
    """A distance matrix as it travels to the fits: its size and its n * n doubles, row after row.

    Eight bytes an entry pickle in one piece, where the rows of a numpy array would pickle one scalar object an
    entry. A fit reads the buffer as it reads a float64 array, copying the same doubles that converting each
    entry would give, so the fit is the fit on the matrix as given.
    """

    n: int
    data: bytes

    def rows(self) -> memoryview[float]:
        return memoryview(self.data).cast("d", (self.n, self.n))


# The buffer formats whose items are doubles in this machine's byte order: such a buffer is the fit's own input.
_DOUBLE_FORMATS = ("d", "@d", "=d", "<d" if sys.byteorder == "little" else ">d")


def _packed(distance_matrix: Any) -> _Matrix:
    """The matrix as one buffer of doubles, checked as a fit checks it, before any work is sent out."""
    try:
        view: memoryview[Any] | None = memoryview(distance_matrix)
    except TypeError:
        view = None
    if (view is not None and view.shape is not None and view.ndim == 2 and view.format in _DOUBLE_FORMATS
            and view.c_contiguous):
        n, width = view.shape
        _check_row(n, 0, width)
        return _Matrix(n, view.tobytes())
    if not _is_sequence(distance_matrix):
        raise TypeError(f"distance_matrix must be a sequence of rows, got {type(distance_matrix).__name__}")
    n = len(distance_matrix)
    _check_row(n, 0, n)
    flat = array("d")
    for i in range(n):
        row = distance_matrix[i]
        if not _is_sequence(row):
            raise TypeError(f"distance_matrix must be a sequence of rows: row {i} is a {type(row).__name__}")
        _check_row(n, i, len(row))
        try:
            # Each entry goes through the same float conversion as in a fit (an int, a numpy scalar, anything
            # with __float__ or __index__; not a str).
            flat.extend(row)
        except (TypeError, OverflowError) as exc:
            raise type(exc)(f"distance_matrix row {i}: {exc}") from None
    return _Matrix(n, flat.tobytes())


def _is_sequence(obj: Any) -> bool:
    return (not isinstance(obj, (str, Mapping)) and hasattr(type(obj), "__len__")
            and hasattr(type(obj), "__getitem__"))


def _check_row(n: int, i: int, length: int) -> None:
    if n == 0:
        raise ValueError("distance_matrix must be non-empty")
    if length != n:
        raise ValueError(f"distance_matrix must be square: row {i} has length {length}, expected {n}")


# The arguments of every fit in a worker of the pool made here, given once when the worker starts.
_started_with: tuple[Any, ...] | None = None


def _fit_one(cls: type, params: dict[str, Any], seed: int, fit_args: tuple[Any, ...] | None) -> StartResult:
    if fit_args is None:
        fit_args = _started_with
        assert fit_args is not None
    est = cls(**params, random_state=seed)
    est.fit(*(arg.rows() if isinstance(arg, _Matrix) else arg for arg in fit_args))
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

    A :class:`~hivekit.Vectorized` objective works with every executor (in a process pool its function must
    pickle). A :class:`~hivekit.Parallel` objective needs ``executor`` to be a thread pool (or another executor
    that does not pickle the objective) distinct from its own executor; with the default or another process
    pool it raises TypeError, since the fits already run side by side there: pass the plain function instead.

    A seed is any integer in 0 .. 2**64-1 (numpy's integer types too); one outside that range raises ValueError,
    and one that is not an integer (or is a bool) TypeError, before any fit starts.
    """
    if cls in TOUR_CLASSES:
        raise TypeError(f"{cls.__name__} fits a distance matrix; use multistart_tour")
    if isinstance(objective, Parallel):
        if executor is None or isinstance(executor, ProcessPoolExecutor):
            raise TypeError(
                "a Parallel objective cannot run inside multistart's worker processes, which already run the fits "
                "side by side; pass the plain function, or give multistart a ThreadPoolExecutor"
            )
        if objective.executor is executor:
            # The fits would hold every worker while waiting for candidates queued behind them.
            raise TypeError("a Parallel objective needs an executor of its own, not the one multistart runs the "
                            "fits on")
    if executor is None or isinstance(executor, ProcessPoolExecutor):
        _check_picklable(objective)
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
    ``PermutationGeneticOptimizer``); results ordered as in :func:`multistart`, shortest tour first.

    The matrix (rows of numbers, or a two-dimensional numpy array) is checked and converted to doubles here,
    once, so that a matrix a fit would refuse raises its TypeError or ValueError before any fit starts.
    """
    if cls not in TOUR_CLASSES:
        raise TypeError(f"{getattr(cls, '__name__', cls)!s} does not fit a distance matrix; use multistart")
    return _run(cls, (_packed(distance_matrix),), seeds, params, executor)


def _run(
    cls: type,
    fit_args: tuple[Any, ...],
    seeds: Iterable[int],
    params: Mapping[str, Any] | None,
    executor: Executor | None,
) -> list[StartResult]:
    settings = dict(params or {})
    if "random_state" in settings:
        raise TypeError("params must not contain random_state; give the seeds instead")
    seed_list = [_seed(seed) for seed in seeds]
    # Builds one estimator here so that a bad keyword fails at once, not in every worker.
    cls(**settings)
    if not seed_list:
        return []
    if executor is not None:
        results = _collect(executor, cls, settings, seed_list, fit_args, own_pool=False)
    else:
        workers = min(len(seed_list), _process_cpu_count() or 1)
        # Each worker gets the arguments once, as it starts, instead of once a fit: a matrix of a thousand
        # cities is megabytes.
        pool = ProcessPoolExecutor(max_workers=workers, initializer=_start_worker, initargs=(fit_args,))
        try:
            results = _collect(pool, cls, settings, seed_list, None, own_pool=True)
        finally:
            # After an interrupt the workers are already gone, so this returns at once.
            pool.shutdown(wait=True, cancel_futures=True)
    larger_is_better = cls in MULTI_OBJECTIVE_CLASSES
    order = sorted(range(len(results)), key=lambda i: _rank(results[i].score, larger_is_better) + (i,))
    return [results[i] for i in order]


def _seed(seed: Any) -> int:
    # As random_state takes it: any integer type (numpy's too), but not a bool, which is surely a slip.
    if isinstance(seed, bool) or not hasattr(type(seed), "__index__"):
        raise TypeError(f"seeds must be integers, got {seed!r}")
    value = operator.index(seed)
    if not 0 <= value < 2**64:
        raise ValueError(f"seed {value} is outside 0 .. 2**64-1, the range of random_state")
    return value


def _check_picklable(objective: Any) -> None:
    # A process pool pickles every task as it sends it, so the error would otherwise surface only as the
    # first result, after other fits have started; trying it here fails before any work is done.
    try:
        pickle.dumps(objective)
    except Exception as exc:
        name = getattr(objective, "__qualname__", type(objective).__qualname__)
        raise TypeError(
            f"the objective {name!r} cannot be sent to a process pool ({type(exc).__name__}: {exc}); use a "
            "function defined at module level (not a lambda or a nested function) or a thread pool "
            "(ThreadPoolExecutor)"
        ) from exc


def _start_worker(fit_args: tuple[Any, ...]) -> None:
    global _started_with
    # A terminal's Ctrl-C reaches every process of the foreground group. The workers of the pool made here
    # leave it to the parent, which stops them; otherwise each idle worker would die printing a traceback.
    signal.signal(signal.SIGINT, signal.SIG_IGN)
    _started_with = fit_args


class _Cancelled(BaseException):
    """Raised inside the objective of a fit running in a worker thread once the call has been interrupted.

    It lies outside ``Exception`` so that it stops the fit instead of counting as one evaluation's +infinity.
    """


class _StoppableObjective:
    """Calls the objective unchanged until ``cancelled`` is set, then stops the fit at its next evaluation.

    The values pass through untouched, so a fit that is not cancelled is bit for bit the fit without it.
    """

    def __init__(self, objective: Callable[[list[float]], Any], cancelled: threading.Event) -> None:
        self.objective = objective
        self.cancelled = cancelled

    def __call__(self, x: list[float]) -> Any:
        if self.cancelled.is_set():
            raise _Cancelled
        return self.objective(x)

    @property
    def _hivekit_batch(self) -> Callable[[bytearray, int, int], list[Any]]:
        # Batches pass through to an objective that takes them (see Monitor), and only to one.
        if not hasattr(self.objective, "_hivekit_batch"):
            raise AttributeError(f"{type(self.objective).__name__} objective evaluates no batches")
        return self._batch

    def _batch(self, data: bytearray, n: int, d: int) -> list[Any]:
        if self.cancelled.is_set():
            raise _Cancelled
        values: list[Any] = getattr(self.objective, "_hivekit_batch")(data, n, d)
        return values


def _collect(
    executor: Executor,
    cls: type,
    settings: dict[str, Any],
    seeds: list[int],
    fit_args: tuple[Any, ...] | None,
    own_pool: bool,
) -> list[StartResult]:
    """Runs the fits; ``fit_args`` None means the arguments each worker of a pool made here started with."""
    cancelled = threading.Event()
    if (isinstance(executor, ThreadPoolExecutor) and fit_args is not None and cls not in TOUR_CLASSES
            and not isinstance(fit_args[0], _hivekit.NativeObjective)):
        # A signal reaches only the main thread; the fits in the worker threads learn of it through this.
        # A native objective stays as it is: wrapped in Python it would hold the interpreter lock again.
        fit_args = (_StoppableObjective(fit_args[0], cancelled),) + fit_args[1:]
    futures: list[Future[StartResult]] = []
    try:
        for seed in seeds:
            futures.append(executor.submit(_fit_one, cls, settings, seed, fit_args))
        return [future.result() for future in futures]
    except BaseException as exc:
        cancelled.set()
        for future in futures:
            future.cancel()
        # A pool made here is ended on any failure: its other fits would only be thrown away. A pool passed in
        # is ended only on an interrupt (or another exception outside Exception), which asks for everything
        # to stop; its workers are then gone and it is shut down.
        if isinstance(executor, ProcessPoolExecutor) and (own_pool or not isinstance(exc, Exception)):
            _stop_workers(executor)
        raise


def _stop_workers(pool: ProcessPoolExecutor) -> None:
    # The running fits cannot be cancelled, and waiting for them could take as long as the whole call, so
    # the workers of a pool made here are ended (they hold nothing but their fit). Python before 3.14 offers no
    # public way to reach them; the pool's own table of processes is read before shutdown clears it.
    processes = list((getattr(pool, "_processes", None) or {}).values())
    pool.shutdown(wait=False, cancel_futures=True)
    for process in processes:
        process.terminate()
    for process in processes:
        process.join(1.0)


def _rank(score: float, larger_is_better: bool) -> tuple[int, float]:
    if math.isnan(score):
        return (1, 0.0)
    return (0, -score if larger_is_better else score)
