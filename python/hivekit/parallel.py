"""Evaluating many candidates at once: vectorised objectives, executors and the engine's own threads.

Where an optimiser has several candidates whose every draw is made before any of their values is read (a
generation of ``CmaEsOptimizer``, the pack of ``GreyWolfOptimizer``, the initial population of every class), it
hands them to the objective together, as one batch. Their values are then read in the order one-by-one calls
would have made them, so a fit gives bit for bit the results of the same fit made one call at a time, whatever
the batch sizes, the number of workers or the order in which the workers finish.

- :class:`Vectorized` calls a function that takes all the candidates of a batch as the rows of one
  two-dimensional numpy array;
- :class:`Parallel` maps the candidates of a batch over any :class:`concurrent.futures.Executor`;
- :func:`set_threads` (or :func:`threads` for a block) lets the engine spread the batches of a
  :class:`~hivekit.NativeObjective`, and the 2-opt steps of the tour optimisers, over its own threads.
"""

from __future__ import annotations

import contextlib
from array import array
from collections.abc import Callable, Iterator
from concurrent.futures import BrokenExecutor, CancelledError, Executor, Future, ProcessPoolExecutor
from typing import Any

from hivekit import _hivekit

__all__ = ["Parallel", "Vectorized", "get_threads", "set_threads", "threads"]


def set_threads(n: int) -> None:
    """Lets the engine use ``n`` threads (the caller's included) for the work it can share out: the batches of a
    :class:`~hivekit.NativeObjective` and the 2-opt steps of ``AntColony`` and ``PermutationGeneticOptimizer``.

    The default, 1, starts no thread. Results never depend on ``n``. A native function called from several
    threads at once must not write to shared state (its ``data``, for one).
    """
    _hivekit._set_threads(n)


def get_threads() -> int:
    """The number of threads the engine may use (1 unless :func:`set_threads` changed it)."""
    return _hivekit._get_threads()


@contextlib.contextmanager
def threads(n: int) -> Iterator[None]:
    """``with hivekit.threads(n):`` runs the block with :func:`set_threads` ``(n)`` and restores the number the
    engine had before, also when the block raises."""
    before = get_threads()
    set_threads(n)
    try:
        yield
    finally:
        set_threads(before)


def _rows(data: bytearray, n: int, d: int) -> list[list[float]]:
    rows = array("d", data)
    return [rows[i * d:(i + 1) * d].tolist() for i in range(n)]


class Vectorized:
    """Wraps ``function``, which evaluates a whole batch at once, as an objective for ``fit``.

    ``function`` receives a two-dimensional float64 numpy array whose rows are the candidates and returns one
    value per row: a sequence or array of ``rows`` numbers, or, for ``MopsoOptimizer`` and ``Nsga2Optimizer``,
    an array of shape ``(rows, m)``. Each row's value counts as the value of one call of an ordinary objective:
    a NaN stays NaN, and a row whose value is not a number (None in an object array) counts as a failed
    evaluation (+infinity). An ``Exception`` raised by ``function`` fails every row of its batch; exceptions
    outside ``Exception`` (KeyboardInterrupt, :class:`~hivekit.StopRun`) stop the fit. A result with the wrong
    number of rows, or of more than two dimensions, raises ValueError out of ``fit``.

    The probe call of ``fit`` and every candidate that an optimiser evaluates on its own reach ``function`` as
    an array of one row. Called directly, ``Vectorized(function)(x)`` evaluates the one position ``x``.
    Needs numpy.
    """

    __slots__ = ("function", "_np")

    def __init__(self, function: Callable[[Any], Any]) -> None:
        if not callable(function):
            raise TypeError(f"function must be callable, got {type(function).__name__}")
        try:
            import numpy
        except ImportError as exc:  # pragma: no cover - numpy is installed wherever the tests run
            raise ImportError("hivekit.Vectorized needs numpy: pip install numpy") from exc
        self.function = function
        self._np = numpy

    def __repr__(self) -> str:
        return f"Vectorized({self.function!r})"

    def __reduce__(self) -> tuple[Any, ...]:
        return (Vectorized, (self.function,))

    def __call__(self, x: Any) -> Any:
        row = self._np.array(x, dtype=self._np.float64).reshape(1, -1)
        return self._values(row)[0]

    def _hivekit_batch(self, data: bytearray, n: int, d: int) -> list[Any]:
        rows = self._np.frombuffer(data, dtype=self._np.float64).reshape(n, d)
        try:
            return self._values(rows)
        except _BatchShapeError:
            raise
        except Exception:
            return [None] * n

    def _values(self, rows: Any) -> list[Any]:
        n = rows.shape[0]
        result = self.function(rows)
        values = self._np.asarray(result)
        if values.ndim not in (1, 2) or values.shape[0] != n:
            raise _BatchShapeError(
                f"the vectorized objective returned shape {values.shape} for {n} rows; expected ({n},) or ({n}, m)"
            )
        listed: list[Any] = values.tolist()
        return listed


class _BatchShapeError(ValueError):
    """A vectorized objective's result that does not have one value per row."""


def _evaluate(function: Callable[[list[float]], Any], x: list[float]) -> Any:
    # Runs in the executor's worker: an Exception fails this candidate only.
    try:
        return function(x)
    except Exception:
        return None


class Parallel:
    """Wraps ``function`` as an objective whose batches are evaluated through ``executor``.

    ``function`` is an ordinary objective (it receives a list of floats). Every candidate of a batch is
    submitted to ``executor``, any :class:`concurrent.futures.Executor`: a
    :class:`~concurrent.futures.ThreadPoolExecutor` for an objective that releases the interpreter lock (one
    that waits on a simulation, a subprocess, a network or numpy), a
    :class:`~concurrent.futures.ProcessPoolExecutor` for one that computes in Python (``function`` must then
    pickle), or a distributed engine's executor such as Dask's ``Client(...).get_executor()``. The values are
    read in the order of the candidates, so the fit is bit for bit the one-by-one fit. An ``Exception`` raised
    for a candidate counts as +infinity for that candidate only; a ``BaseException`` that is not an
    ``Exception`` (KeyboardInterrupt, :class:`~hivekit.StopRun`) stops the fit with nothing stored, and the
    candidates not yet started are cancelled.

    Candidates that an optimiser evaluates one at a time go through ``executor`` too, one by one; the probe call
    of ``fit`` calls ``function`` directly. The executor is not shut down.
    """

    __slots__ = ("function", "executor")

    def __init__(self, function: Callable[[list[float]], Any], executor: Executor) -> None:
        if not callable(function):
            raise TypeError(f"function must be callable, got {type(function).__name__}")
        if not callable(getattr(executor, "submit", None)):
            raise TypeError(f"executor must be a concurrent.futures.Executor, got {type(executor).__name__}")
        if isinstance(executor, ProcessPoolExecutor):
            from hivekit.multistart import _check_picklable

            _check_picklable(function)
        self.function = function
        self.executor = executor

    def __repr__(self) -> str:
        return f"Parallel({self.function!r}, {self.executor!r})"

    def __call__(self, x: list[float]) -> Any:
        return self.function(x)

    def _hivekit_batch(self, data: bytearray, n: int, d: int) -> list[Any]:
        futures: list[Future[Any]] = []
        try:
            for x in _rows(data, n, d):
                futures.append(self.executor.submit(_evaluate, self.function, x))
            return [_result(future) for future in futures]
        except BaseException:
            for future in futures:
                future.cancel()
            raise


def _result(future: Future[Any]) -> Any:
    try:
        return future.result()
    except (BrokenExecutor, CancelledError):
        raise  # the executor is gone: no candidate can be evaluated any more
    except Exception:
        # The executor could not return this candidate's value (one that does not pickle, for one): a failed
        # evaluation, as the objective raising would be.
        return None

