"""Watching and stopping a run: budgets, the best point so far, progress, and a result object.

A :class:`Monitor` wraps an objective and is passed to ``fit`` in its place. It counts the calls, keeps the best
value with its position and a staircase of the best value over the calls, shows progress, and ends the fit by
raising :class:`StopRun` when a budget is spent. ``StopRun`` derives from ``BaseException`` and not from
``Exception``, so the engine lets it through (an ``Exception`` raised by the objective during a run only counts as
+infinity) and ``fit`` stops with the estimator's earlier results untouched, while the monitor keeps what it saw.

:func:`minimize` does all of it in one call and returns a frozen :class:`MinimizeResult`;
:func:`expected_evaluations` tells how many objective calls a fit will make.
"""

from __future__ import annotations

import math
import numbers
import sys
import time
from array import array
from collections.abc import Callable, Sequence
from dataclasses import dataclass
from typing import Any, NoReturn, TextIO

from hivekit import _hivekit, _registry

__all__ = ["MinimizeResult", "Monitor", "StopRun", "expected_evaluations", "minimize"]

_REDRAW_SECONDS = 0.1
_TRACE_LIMIT = 10_000
# A call count no run reaches; counts stay integers so that the per-call comparisons compare like with like.
_NEVER = 1 << 62
_DOUBLE = array("d").itemsize
_clock = time.perf_counter


class StopRun(BaseException):
    """Raised by a :class:`Monitor` when a budget is spent; ``reason`` is "max_evaluations", "max_seconds" or
    "target".

    It derives from ``BaseException`` and not from ``Exception`` so that it ends ``fit`` instead of being counted
    as a failed evaluation; catch it by name (``except hivekit.StopRun``).
    """

    def __init__(self, reason: str, message: str | None = None) -> None:
        super().__init__(message or f"run stopped: {reason} reached")
        self.reason = reason


class Monitor:
    """Wraps ``objective`` to watch a run and stop it when a budget is spent.

    ``Monitor(objective, *, max_evaluations=None, max_seconds=None, target=None, progress=False, total=None)``
    is itself an objective: pass it to ``fit`` in place of ``objective``. Every call goes to ``objective``
    unchanged and returns its result unchanged. The monitor records

    - ``n_evaluations``: the calls made so far. The probe call that ``fit`` makes before the run starts (at the
      box centre, with zeros for ``BinaryParticleSwarm``) is a call of the objective and is counted; so is a call
      that raises.
    - ``seconds``: the time from the start of the first call to the end of the latest one.
    - ``best`` and ``x``: the smallest value returned so far and a copy of the position where it was first
      returned (None before any call). A NaN is the best only while no number has been returned; a call that
      raises, or returns something that is not a number, is never the best.
    - ``trace``: the best value after every call, as a staircase of ``(call, best)`` pairs, one for each call
      that improved the best, so the best after call ``k`` is the value of the last pair whose call is at most
      ``k``. It keeps at most 10000 pairs: beyond that every other older pair is dropped, so a very long run keeps
      a coarser staircase whose pairs are all exact and whose last pair is always the current best.
    - for an objective that returns a sequence (two objectives): ``last``, the values of the latest call as
      returned; ``best``, ``x`` and ``trace`` stay empty.

    Budgets; the first one spent raises :class:`StopRun` and sets ``stopped_by`` to its name:

    - ``max_evaluations``: at most this many calls are made; the call after them raises instead of calling
      ``objective``. A fit that needs exactly this many calls completes normally.
    - ``max_seconds``: once a call ends later than this many seconds after the first call started, the next
      call raises instead of calling ``objective``.
    - ``target``: the call that returns a value at or below ``target`` raises once the value is recorded.

    A spent monitor raises at every further call, so a second ``fit`` with it stops at its probe call.

    Around a :class:`~hivekit.Vectorized` or :class:`~hivekit.Parallel` objective the monitor hands the batches
    of ``fit`` over whole and sees every candidate of a batch as one call, in the order of the rows: the counts,
    ``best``, ``x``, ``trace`` and the progress are those of the same candidates evaluated one by one. Budgets
    inside a batch: ``max_evaluations`` is kept exactly (only the rows left in the budget are evaluated, then
    the fit stops); ``max_seconds`` and ``target`` are checked once per batch, so a batch in which the time runs
    out or the target is reached is evaluated and recorded whole, and the fit stops after it (for ``target``)
    or at the next call (for ``max_seconds``).

    ``progress=True`` shows a progress bar of the calls and the best value on a terminal or in a notebook
    (through ``tqdm`` when it is installed: ``pip install 'hivekit[progress]'``; otherwise a single updating
    line on a terminal) and nothing when standard error is not a terminal. The bar is closed by :meth:`close`,
    when a budget stops the run, or when ``total`` calls have been made; ``total`` is the number of calls the
    run will make, if known (see :func:`expected_evaluations`), and defaults to ``max_evaluations``. The monitor
    is a context manager that closes its bar on exit.

    A monitor watches one run: its counts and its clock go on across further ``fit`` calls.
    """

    __slots__ = (
        "_objective", "_limit", "_deadline", "_max_evaluations", "_max_seconds", "_target", "_n", "_start",
        "_now", "_best", "_x", "_last", "_trace_calls", "_trace_values", "_stopped_by", "_progress", "_total",
        "_display", "_redraw", "_close_at", "_started",
    )

    def __init__(
        self,
        objective: Callable[[list[float]], Any],
        *,
        max_evaluations: int | None = None,
        max_seconds: float | None = None,
        target: float | None = None,
        progress: bool = False,
        total: int | None = None,
    ) -> None:
        if not callable(objective):
            raise TypeError(f"objective must be callable, got {type(objective).__name__}")
        self._objective = objective
        self._max_evaluations = _count(max_evaluations, "max_evaluations")
        self._total = _count(total, "total")
        if self._total is None:
            self._total = self._max_evaluations
        self._max_seconds = _positive_number(max_seconds, "max_seconds")
        self._target = None if target is None else _number(target, "target")
        self._progress = bool(progress)
        # Every call compares its count with _limit and the end of the previous call with _deadline, whether
        # or not a budget was given: a missing budget is a bound that is never reached. A limit of 0 sends the
        # first call to _gate, which starts the clock and sets both bounds.
        self._limit = 0
        self._deadline = math.inf
        self._started = False
        self._n = 0
        self._start = 0.0
        self._now = 0.0
        self._best = math.nan
        self._x: list[float] | None = None
        self._last: Any = None
        self._trace_calls = array("q")
        self._trace_values = array("d")
        self._stopped_by: str | None = None
        self._display: _Display | None = None
        self._redraw = math.inf
        self._close_at = _NEVER

    def __call__(self, x: list[float]) -> Any:
        n = self._n
        if n >= self._limit or self._now >= self._deadline:
            self._gate()
        self._n = n = n + 1
        value = self._objective(x)
        self._now = now = _clock()
        if type(value) is float:
            # One comparison decides the common case: true only when the value beats the best, or when either
            # side is NaN; _record sorts the rare cases out.
            if not value >= self._best and self._record(x, value):
                self._stop("target")
        elif self._other(x, value):
            self._stop("target")
        if now >= self._redraw or n >= self._close_at:
            self._draw()
        return value

    @property
    def _hivekit_batch(self) -> Callable[[bytearray, int, int], list[Any]]:
        # fit hands batches to an objective that has this attribute, so a monitor offers it exactly when what it
        # wraps takes batches; around any other objective every call stays a plain call.
        if not hasattr(self._objective, "_hivekit_batch"):
            raise AttributeError(f"{type(self._objective).__name__} objective evaluates no batches")
        return self._batch

    def _batch(self, data: bytearray, n: int, d: int) -> list[Any]:
        first = self._n
        if first >= self._limit or self._now >= self._deadline:
            self._gate()
        take = min(n, self._limit - first)
        if take < n:
            data = data[:take * d * _DOUBLE]  # the rows left in the budget, and no more, are evaluated
        self._n = first + take  # a batch that raises has been called for every row, as a call that raises counts
        values = getattr(self._objective, "_hivekit_batch")(data, take, d)
        self._now = now = _clock()
        if type(values) is not list or len(values) != take:
            raise TypeError(f"_hivekit_batch must return a list of {take} results, not '{type(values).__name__}'")
        rows = array("d", data)
        reached = False
        for i, value in enumerate(values):
            self._n = first + i + 1  # the call of this row, for the trace
            if type(value) is float:
                if not value >= self._best:
                    reached = self._record(rows[i * d:(i + 1) * d], value) or reached
            elif self._other(rows[i * d:(i + 1) * d], value):
                reached = True
        self._n = first + take
        if reached:
            self._stop("target")
        if take < n:
            self._stop("max_evaluations")
        if now >= self._redraw or self._n >= self._close_at:
            self._draw()
        return values

    # -- what the monitor saw ----------------------------------------------------------------------------------

    @property
    def objective(self) -> Callable[[list[float]], Any]:
        """The wrapped objective."""
        return self._objective

    @property
    def n_evaluations(self) -> int:
        """Calls made so far, the probe call of ``fit`` included."""
        return self._n

    @property
    def seconds(self) -> float:
        """Time from the start of the first call to the end of the latest one (0.0 before any call)."""
        return self._now - self._start if self._started else 0.0

    @property
    def best(self) -> float | None:
        """The smallest value returned so far (None before any number was returned)."""
        return None if self._x is None else self._best

    @property
    def x(self) -> list[float] | None:
        """A copy of the position where ``best`` was first returned."""
        return None if self._x is None else list(self._x)

    @property
    def last(self) -> Any:
        """For an objective that returns a sequence: the values of the latest call, as returned."""
        return self._last

    @property
    def trace(self) -> list[tuple[int, float]]:
        """The best value over the calls as ``(call, best)`` pairs, one per improvement (see the class)."""
        return list(zip(self._trace_calls, self._trace_values))

    @property
    def stopped_by(self) -> str | None:
        """None, or the budget that stopped the run: "max_evaluations", "max_seconds" or "target"."""
        return self._stopped_by

    def close(self) -> None:
        """Finishes the progress display, if one is shown."""
        display, self._display = self._display, None
        self._redraw = math.inf
        self._close_at = _NEVER
        if display is not None:
            display.close(self._n, self.best, self.seconds)

    def __enter__(self) -> Monitor:
        return self

    def __exit__(self, *exc_info: object) -> None:
        self.close()

    def __repr__(self) -> str:
        return (f"Monitor({getattr(self._objective, '__name__', repr(self._objective))}, "
                f"n_evaluations={self._n}, best={self.best!r}, stopped_by={self._stopped_by!r})")

    # -- the rare paths of a call, kept out of __call__ --------------------------------------------------------

    def _gate(self) -> None:
        if self._stopped_by is None:
            if not self._started:
                self._begin()
                return
            spent = self._max_evaluations is not None and self._n >= self._max_evaluations
            self._stop("max_evaluations" if spent else "max_seconds")
        self._stop(self._stopped_by)

    def _stop(self, reason: str) -> NoReturn:
        self._stopped_by = reason
        self._limit = -1  # every later call stops in _gate too, whatever the clock says
        self.close()
        raise StopRun(reason, self._stop_message())

    def _begin(self) -> None:
        self._started = True
        self._limit = _NEVER if self._max_evaluations is None else self._max_evaluations
        self._start = self._now = _clock()
        if self._max_seconds is not None:
            self._deadline = self._start + self._max_seconds
        if self._progress and self._display is None:
            self._display = _open_display(self._total)
            if self._display is not None:
                self._redraw = self._start
                if self._total is not None:
                    self._close_at = self._total

    def _stop_message(self) -> str:
        reason = self._stopped_by
        if reason == "max_evaluations":
            return f"run stopped: max_evaluations={self._max_evaluations} calls made"
        if reason == "max_seconds":
            return f"run stopped: max_seconds={self._max_seconds:g} passed after {self._n} calls"
        return f"run stopped: value {self._best!r} at or below target={self._target!r} after {self._n} calls"

    def _record(self, x: Sequence[float], value: float) -> bool:
        """Makes ``value``, returned by the latest call at ``x``, the best; true when it reaches the target."""
        if value != value and self._x is not None:
            return False  # a NaN is recorded only as the very first value, and a number replaces it
        self._best = value
        self._x = list(x)
        calls, values = self._trace_calls, self._trace_values
        calls.append(self._n)
        values.append(value)
        if len(calls) > _TRACE_LIMIT:
            _thin(calls, values)
        return self._target is not None and value <= self._target

    def _other(self, x: Sequence[float], value: Any) -> bool:
        """Records a value that is not a float; true when it reaches the target."""
        if isinstance(value, (list, tuple)):
            self._last = value
            return False
        if isinstance(value, (str, bytes, bytearray)):
            return False  # the engine takes no text as a number
        try:
            number = float(value)
        except (TypeError, ValueError, OverflowError):
            if hasattr(value, "__len__"):
                self._last = value
            return False
        return not number >= self._best and self._record(x, number)

    def _draw(self) -> None:
        display = self._display
        if display is None or self._n >= self._close_at:
            self.close()
            return
        self._redraw = self._now + _REDRAW_SECONDS
        display.show(self._n, self.best, self.seconds)


def _thin(calls: array[int], values: array[float]) -> None:
    # Dropping every other older pair keeps each remaining pair exact and the latest pair, the current best, last.
    last_call, last_value = calls[-1], values[-1]
    del calls[1::2]
    del values[1::2]
    if calls[-1] != last_call:
        calls.append(last_call)
        values.append(last_value)


def _count(value: int | None, name: str) -> int | None:
    return None if value is None else _whole(value, name)


def _whole(value: int, name: str) -> int:
    """``value`` when it is an int of at least 1 (a bool is not)."""
    if isinstance(value, bool) or not isinstance(value, int):
        raise TypeError(f"{name} must be an integer, got {type(value).__name__}")
    if value < 1:
        raise ValueError(f"{name} must be at least 1, got {value}")
    return value


def _number(value: float, name: str) -> float:
    if isinstance(value, bool) or not isinstance(value, numbers.Real):
        raise TypeError(f"{name} must be a number, got {type(value).__name__}")
    number = float(value)
    if math.isnan(number):
        raise ValueError(f"{name} must not be NaN")
    return number


def _positive_number(value: float | None, name: str) -> float | None:
    if value is None:
        return None
    number = _number(value, name)
    if not number > 0.0:
        raise ValueError(f"{name} must be positive, got {value!r}")
    return number


# -- progress display --------------------------------------------------------------------------------------------


class _Display:
    def show(self, n: int, best: float | None, seconds: float) -> None:
        raise NotImplementedError

    def close(self, n: int, best: float | None, seconds: float) -> None:
        raise NotImplementedError


def _best_text(best: float | None) -> str:
    return "-" if best is None else f"{best:.6g}"


class _TqdmDisplay(_Display):
    def __init__(self, bar: Any) -> None:
        self._bar = bar

    def show(self, n: int, best: float | None, seconds: float) -> None:
        self._bar.set_postfix_str(f"best {_best_text(best)}", refresh=False)
        self._bar.update(n - self._bar.n)

    def close(self, n: int, best: float | None, seconds: float) -> None:
        self.show(n, best, seconds)
        self._bar.close()


class _LineDisplay(_Display):
    """One line on a terminal, rewritten in place."""

    def __init__(self, stream: TextIO, total: int | None) -> None:
        self._stream = stream
        self._total = total
        self._seconds = 0.0

    def _text(self, n: int, best: float | None) -> str:
        if self._total is None:
            done = f"{n} calls"
        else:
            done = f"{n}/{self._total} calls ({100.0 * n / self._total:.0f}%)"
        return f"{done}  best {_best_text(best)}  {self._seconds:.1f} s"

    def show(self, n: int, best: float | None, seconds: float) -> None:
        self._seconds = seconds
        self._stream.write("\r" + self._text(n, best) + "\x1b[K")
        self._stream.flush()

    def close(self, n: int, best: float | None, seconds: float) -> None:
        self._seconds = seconds
        self._stream.write("\r" + self._text(n, best) + "\x1b[K\n")
        self._stream.flush()


def _isatty(stream: Any) -> bool:
    try:
        return bool(stream.isatty())
    except (AttributeError, ValueError, OSError):
        return False


def _in_notebook() -> bool:
    ipython = sys.modules.get("IPython")
    if ipython is None:
        return False
    try:
        shell = ipython.get_ipython()
        return shell is not None and "IPKernelApp" in shell.config
    except Exception:
        return False


def _open_display(total: int | None) -> _Display | None:
    stream = sys.stderr
    terminal = _isatty(stream)
    notebook = _in_notebook()
    if not (terminal or notebook):
        return None
    try:
        from tqdm.auto import tqdm  # type: ignore[import-untyped, import-not-found, unused-ignore]
    except ImportError:
        return _LineDisplay(stream, total) if terminal else None
    # The monitor decides when to redraw, so the bar redraws on every update it is given.
    return _TqdmDisplay(tqdm(total=total, unit="call", mininterval=0.0, miniters=1))


# -- evaluation counts -------------------------------------------------------------------------------------------


def _takes_objective(estimator: Any) -> bool:
    return type(estimator) in _registry.BOX_CLASSES


def expected_evaluations(estimator: Any, dimension: int) -> int | None:
    """The number of objective calls ``estimator.fit(objective, lower, upper)`` will make over a box of
    ``dimension`` coordinates, the probe call included, or None when it depends on the run.

    The count is the one the engine states for the class, next to its optimiser (the API reference gives it for
    the defaults): fixed by the hyperparameters for most classes (for ``Nsga2Optimizer`` as long as the objective
    returns no NaN, whose dominance cycles can shrink the population), None where the values seen decide.
    Hyperparameters that ``fit`` rejects give 1: the probe call comes before the check. The tour classes take no
    objective and raise TypeError.

    The count depends on the estimator alone: a :class:`~hivekit.Vectorized` or :class:`~hivekit.Parallel`
    objective evaluates the same candidates, in batches, and each candidate counts as one call (as a
    :class:`Monitor` counts them).
    """
    _whole(dimension, "dimension")
    name = type(estimator).__name__
    if not _takes_objective(estimator):
        raise TypeError(f"{name} does not fit an objective function")
    run = _hivekit._run_evaluations(estimator)
    return None if run is None else 1 + run


# -- one call: fit under a monitor -------------------------------------------------------------------------------


@dataclass(frozen=True)
class MinimizeResult:
    """What :func:`minimize` returns.

    - ``x``, ``fun``: the best call the monitor saw, completed fit or not: its position and value (see
      :class:`Monitor`). The estimator's own ``predict()`` and ``score()`` can be worse: the probe call is not
      part of the run, and some classes (``BatAlgorithm``, ``BeeColony``) do not keep every improvement they
      evaluate; they stay on ``estimator``. For an objective that returns a sequence (two objectives), and for a
      completed fit in which no call returned a number, the monitor has no best: ``x`` and ``fun`` are then the
      estimator's ``predict()`` and ``score()`` (for the multi-objective classes the Pareto archive and its
      hypervolume) after a completed fit, and None after a stopped one.
    - ``n_evaluations``: objective calls made, the probe call included.
    - ``seconds``: wall time of the ``fit`` call.
    - ``stopped_by``: None for a completed fit, else "max_evaluations", "max_seconds" or "target".
    - ``trace``: the monitor's staircase of ``(call, best)`` pairs.
    - ``estimator``: the estimator; after a stopped fit it keeps its earlier results.
    """

    x: Any
    fun: float | None
    n_evaluations: int
    seconds: float
    stopped_by: str | None
    trace: tuple[tuple[int, float], ...]
    estimator: Any


def minimize(
    estimator: Any,
    objective: Callable[[list[float]], Any],
    lower: Sequence[float],
    upper: Sequence[float],
    **budgets: Any,
) -> MinimizeResult:
    """Fits ``estimator`` to ``objective`` over ``[lower, upper]`` under a :class:`Monitor` and returns a
    :class:`MinimizeResult`.

    ``budgets`` are the keywords of :class:`Monitor`: ``max_evaluations``, ``max_seconds``, ``target`` and
    ``progress`` (the bar's total is :func:`expected_evaluations` when it is known). ``objective`` may itself be
    a :class:`Monitor`, given without budgets; one you made keeps the best point seen even when the fit is
    interrupted. A :class:`~hivekit.Vectorized` or :class:`~hivekit.Parallel` objective gets its batches through
    the monitor (see :class:`Monitor` for budgets inside a batch). A budget that stops the fit is reported in
    ``stopped_by``; ``KeyboardInterrupt`` and every other exception propagate.
    """
    if not _takes_objective(estimator):
        raise TypeError(f"{type(estimator).__name__} does not fit an objective function")
    unknown = set(budgets) - {"max_evaluations", "max_seconds", "target", "progress"}
    if unknown:
        raise TypeError(f"minimize() got unexpected keyword arguments: {', '.join(sorted(unknown))}")
    if isinstance(objective, Monitor):
        if budgets:
            raise TypeError("give the budgets to the Monitor that is passed as the objective")
        monitor = objective
    else:
        total = None
        if budgets.get("progress"):
            try:
                total = expected_evaluations(estimator, len(lower))
            except (TypeError, ValueError):
                total = None
            limit = budgets.get("max_evaluations")
            if total is not None and isinstance(limit, int) and not isinstance(limit, bool):
                total = min(total, limit)
        monitor = Monitor(objective, total=total, **budgets)
    stopped = False
    start = time.perf_counter()
    try:
        estimator.fit(monitor, lower, upper)
    except StopRun:
        stopped = True
    finally:
        seconds = time.perf_counter() - start
        monitor.close()
    if monitor.x is not None or stopped:
        x, fun = monitor.x, monitor.best
    else:
        x, fun = estimator.predict(), estimator.score()
    return MinimizeResult(x, fun, monitor.n_evaluations, seconds, monitor.stopped_by if stopped else None,
                          tuple(monitor.trace), estimator)
