"""Batches through every route a user has from Python: a vectorised objective, an executor run inline or on threads
(a native objective on the engine's threads is in test_native). Each fit equals the plain fit bit for bit, failing,
NaN and infinite rows included; a broken batch and an interrupt inside one stop the fit with the earlier results
kept."""

import functools
import struct
from concurrent.futures import Executor, Future, ThreadPoolExecutor

import numpy as np
import pytest

import hivekit
from small_runs import BOX_CLASSES, PARETO_CLASSES, POPULATION, SMALL, Halt, make, snapshot

DIMENSION = 3
BOX = ([-1.0] * DIMENSION, [1.0] * DIMENSION)


def settings(name):
    """Populations of eight, so that batches and waves hold several rows."""
    size = POPULATION[name]
    return {**SMALL[name], **({size: 8} if size else {}), "n_iterations": 3}


def fate(x):
    """What becomes of a row, from its bits alone (the centre and the zeros of the probe call come out 3): 0 fails,
    1 is NaN, 2 is +infinity, anything else a number."""
    return (sum(struct.pack(f"{len(x)}d", *x)) + 3) % 7


def fates(rows):
    return (rows.view(np.uint8).reshape(rows.shape[0], -1).sum(axis=1, dtype=np.int64) + 3) % 7


def squares(x, shift):
    total = 0.0
    for v in x:
        total += (v - shift) * (v - shift)
    return total


def awkward(x, pareto=False):
    k = fate(x)
    if k == 0:
        raise ValueError("a failed evaluation")
    values = [float("nan"), 1.0] if k == 1 else [float("inf"), 0.0] if k == 2 else [squares(x, 0.25), squares(x, 1.0)]
    return values if pareto else values[0]


def column_squares(rows, shift):
    total = np.zeros(rows.shape[0])
    for j in range(rows.shape[1]):
        diff = rows[:, j] - shift
        total = total + diff * diff
    return total


def vectorized_awkward(rows, pareto=False):
    """awkward() on every row at once, with numpy's elementwise operations in the order of the loop above."""
    values = np.stack([column_squares(rows, 0.25), column_squares(rows, 1.0)], axis=1).astype(object)
    k = fates(rows)
    values[k == 0] = None
    values[k == 1] = [float("nan"), 1.0]
    values[k == 2] = [float("inf"), 0.0]
    return values if pareto else values[:, 0]


def plain_for(name):
    return functools.partial(awkward, pareto=name in PARETO_CLASSES)


class Inline(Executor):
    """Runs every submitted call at once, in submission order."""

    def submit(self, fn, /, *args, **kwargs):
        future = Future()
        try:
            future.set_result(fn(*args, **kwargs))
        except BaseException as exc:
            future.set_exception(exc)
        return future


def fit(name, objective, **overrides):
    est = make(name, **{**settings(name), **overrides})
    est.fit(objective, *BOX)
    return snapshot(est)


def test_every_route_of_a_batch_gives_the_plain_fit():
    with ThreadPoolExecutor(3) as pool:
        for name in BOX_CLASSES:
            plain = plain_for(name)
            vectorized = functools.partial(vectorized_awkward, pareto=name in PARETO_CLASSES)
            for seed in (0, 1):
                expected = fit(name, plain, random_state=seed)
                for route in (hivekit.Vectorized(vectorized), hivekit.Parallel(plain, Inline()),
                              hivekit.Parallel(plain, pool)):
                    assert fit(name, route, random_state=seed) == expected, (name, route)


@pytest.mark.parametrize("name", BOX_CLASSES)
def test_a_vectorized_result_of_the_wrong_shape_raises_and_keeps_the_earlier_results(name):
    est = make(name, **settings(name))
    est.fit(plain_for(name), *BOX)
    before = snapshot(est)
    calls = []

    def short(rows):  # right for the probe call, one row short afterwards
        calls.append(rows.shape[0])
        width = (rows.shape[0] - (len(calls) > 1),) + ((2,) if name in PARETO_CLASSES else ())
        return np.zeros(width)

    with pytest.raises(ValueError, match="the vectorized objective returned shape"):
        est.fit(hivekit.Vectorized(short), *BOX)
    assert len(calls) == 2 and snapshot(est) == before


@pytest.mark.parametrize("stop", [KeyboardInterrupt, hivekit.StopRun, Halt])
def test_an_interrupt_inside_a_parallel_candidate_stops_the_fit_with_nothing_stored(stop):
    with ThreadPoolExecutor(3) as pool:
        for name in BOX_CLASSES:
            plain = plain_for(name)
            est = make(name, **settings(name))
            est.fit(plain, *BOX)
            before = snapshot(est)
            for executor in (Inline(), pool):
                calls = []

                def stopping(x):
                    calls.append(x)
                    if len(calls) == 4:  # the probe call, then inside the start's batch
                        raise stop("stop") if stop is not hivekit.StopRun else stop("budget", "stop")
                    return plain(x)

                with pytest.raises(stop):
                    est.fit(hivekit.Parallel(stopping, executor), *BOX)
                assert snapshot(est) == before, (name, executor)
