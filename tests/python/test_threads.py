"""Estimators used from several threads, and from inside their own objective: different estimators stay
independent, and one estimator turns callers away while it is being fitted (the native-objective tests show
another thread turned away too)."""

import copy
import threading
import time

import pytest

import hivekit

from hivekit import ParticleSwarm, Nsga2Optimizer, problems
from small_runs import ALL_CLASSES, BOX_CLASSES, TOUR_CLASSES, fit_args, make, objective_for, readers, snapshot

WAIT = 10  # seconds a thread waits for another before giving up
REFUSAL = {"fit": "Already borrowed", "__setstate__": "Already borrowed"}  # every other call: "Already mutably borrowed"


def fit_seeded(name, seed, objective=None):
    est, args = make(name, random_state=seed), fit_args(name)
    est.fit(*((objective,) + args[1:] if objective else args))
    return snapshot(est)


def test_threads_fitting_estimators_of_every_class_at_once_get_the_results_of_sequential_runs():
    jobs = [(name, seed) for seed in (11, 12) for name in ALL_CLASSES]
    # Two long fits with objectives written in C run without the interpreter lock the whole time.
    native = {"swarm": (ParticleSwarm, problems.ackley, ([-5.0] * 8, [5.0] * 8)),
              "nsga": (Nsga2Optimizer, problems.zdt2, ([0.0] * 8, [1.0] * 8))}
    expected, results = {job: fit_seeded(*job) for job in jobs}, {}
    barrier = threading.Barrier(2 * len(BOX_CLASSES))

    def fit_native(key):
        cls, objective, box = native[key]
        est = cls(n_iterations=300, random_state=1)
        est.fit(objective, *box)
        return snapshot(est)

    expected.update({key: fit_native(key) for key in native})

    def work(name, seed):
        if name in TOUR_CLASSES:  # a tour fit runs no Python code: threads meet between fits
            for _ in range(3):
                results[name, seed] = fit_seeded(name, seed)
                time.sleep(0)
            return
        base, calls = objective_for(name), []

        def objective(x):
            calls.append(1)
            if len(calls) == 3:
                barrier.wait(WAIT)  # every fit is now under way
            time.sleep(0)
            return base(x)

        results[name, seed] = fit_seeded(name, seed, objective)

    threads = [threading.Thread(target=lambda job=job: work(*job)) for job in jobs]
    threads += [threading.Thread(target=lambda key=key: results.__setitem__(key, fit_native(key))) for key in native]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert not barrier.broken and results == expected


@pytest.mark.parametrize("name", BOX_CLASSES)
def test_an_objective_may_fit_other_estimators_but_not_touch_its_own(name):
    est, base, seen, calls = make(name), objective_for(name), [], []
    state = est.__reduce__()[2]
    touch = {**readers(est), "fit": lambda: est.fit(*fit_args(name)), "copy": lambda: copy.copy(est),
             "__setstate__": lambda: est.__setstate__(state)}
    if type(est).__repr__ is not object.__repr__:  # the interpreter's own repr reads nothing
        touch["repr"] = lambda: repr(est)

    def objective(x):
        calls.append(1)
        make(name).fit(*fit_args(name))
        for attribute, call in touch.items():
            try:
                call()
            except RuntimeError as e:
                seen.append((attribute, str(e)))
        return base(x)

    est.fit(objective, *fit_args(name)[1:])
    assert seen == [(a, REFUSAL.get(a, "Already mutably borrowed")) for a in touch] * len(calls)
    with pytest.raises(RuntimeError, match="^Already borrowed$"):  # in the probe the refusal reaches the caller
        est.fit(lambda x: est.fit(*fit_args(name)), *fit_args(name)[1:])


def test_engine_threads_are_set_checked_and_restored_by_the_context_manager():
    assert hivekit.get_threads() == 1  # the library starts no thread unless asked
    with hivekit.threads(3):
        assert hivekit.get_threads() == 3
        with pytest.raises(ZeroDivisionError), hivekit.threads(2):
            assert hivekit.get_threads() == 2
            1 / 0
        assert hivekit.get_threads() == 3
    assert hivekit.get_threads() == 1
    for bad, error in ((0, ValueError), (-1, ValueError), (2**70, ValueError), (True, TypeError), (2.0, TypeError)):
        with pytest.raises(error, match="number of threads"):
            hivekit.set_threads(bad)
    assert hivekit.get_threads() == 1
