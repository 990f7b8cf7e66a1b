"""Estimators used from several threads, and from inside their own objective: different estimators stay
independent, and one estimator turns callers away while it is being fitted instead of showing a half-written result."""

import copy
import threading
import time

import pytest

from small_runs import (ALL_CLASSES, BOX_CLASSES, PARETO_CLASSES, SQUARE, TOUR_CLASSES, fit_args, make, objective_for,
                        reading, readers, snapshot)

WAIT = 10  # seconds a thread waits for another before giving up
REFUSAL = {"fit": "Already borrowed", "__setstate__": "Already borrowed"}  # every other call: "Already mutably borrowed"


def run_threads(*targets):
    threads = [threading.Thread(target=target) for target in targets]
    for t in threads:
        t.start()
    for t in threads:
        t.join()


def fit_seeded(name, seed, objective=None):
    est, args = make(name, random_state=seed), fit_args(name)
    est.fit(*((objective,) + args[1:] if objective else args))
    return snapshot(est)


def test_threads_fitting_estimators_of_every_class_at_once_get_the_results_of_sequential_runs():
    jobs = [(name, seed) for seed in (11, 12) for name in ALL_CLASSES]
    expected = {job: fit_seeded(*job) for job in jobs}
    barrier, results = threading.Barrier(2 * len(BOX_CLASSES)), {}

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

    run_threads(*(lambda job=job: work(*job) for job in jobs))
    assert not barrier.broken and results == expected


def other_problem(name):
    """Arguments whose results differ from fit_args' ones."""
    if name in TOUR_CLASSES:
        return ([[2.0 * v for v in row] for row in SQUARE],)
    base = objective_for(name)
    shifted = (lambda x: [v + 1.0 for v in base(x)]) if name in PARETO_CLASSES else (lambda x: base(x) + 1.0)
    return (shifted, [-2.0, -2.0], [2.0, 2.0])


@pytest.mark.parametrize("name", BOX_CLASSES)
def test_a_thread_reading_an_estimator_being_fitted_is_turned_away_and_never_sees_a_torn_result(name):
    est, fresh = make(name), make(name)
    est.fit(*fit_args(name))
    fresh.fit(*other_problem(name))
    old, new = snapshot(est), snapshot(fresh)
    fitting, done, refused, torn = threading.Event(), threading.Event(), [], []

    def reader():
        fitting.wait(WAIT)
        while not done.is_set():
            for attribute, read in readers(est).items():
                seen = reading(read)
                if seen[0] == "RuntimeError":
                    refused.append((attribute, seen[1]))
                elif seen not in (old[attribute], new[attribute]):
                    torn.append((attribute, seen))
            time.sleep(0)

    def rival():
        fitting.wait(WAIT)
        try:
            est.fit(*other_problem(name))
        except RuntimeError as e:
            refused.append(("fit", str(e)))

    def fitter():
        base, calls = other_problem(name)[0], []

        def objective(x):
            calls.append(1)
            if len(calls) == 2:
                fitting.set()
                deadline = time.monotonic() + WAIT
                while not {"fit"} < {a for a, _ in refused} and time.monotonic() < deadline:
                    time.sleep(0.001)  # keeps this fit going until both threads have been turned away
            return base(x)

        try:
            est.fit(objective, *other_problem(name)[1:])
        finally:
            done.set()

    run_threads(reader, rival, fitter)
    assert torn == [] and {a for a, _ in refused} == {"fit", *readers(est)}
    assert all(message == REFUSAL.get(attribute, "Already mutably borrowed") for attribute, message in refused)
    assert snapshot(est) == new


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
