"""Estimators used from several threads at once.

Objectives here release the interpreter lock (time.sleep), so other threads
run in the middle of a fit: different estimators stay independent, and one
estimator turns readers away while it is being fitted instead of showing them
a half-written result."""

import threading
import time

import pytest

from small_runs import (ALL_CLASSES, BOX_CLASSES, PARETO_CLASSES, SQUARE, TOUR_CLASSES, fit_args, make, objective_for,
                        reading, readers, snapshot)

WAIT = 10  # seconds a thread waits for the other before giving up


def run_all(*threads):
    for t in threads:
        t.start()
    for t in threads:
        t.join()


def fit_seeded(name, seed, objective=None):
    est = make(name, random_state=seed)
    args = fit_args(name)
    est.fit(*((objective,) + args[1:] if objective else args))
    return snapshot(est)


@pytest.mark.parametrize("first", BOX_CLASSES)
def test_two_threads_fitting_two_estimators_get_the_results_of_sequential_runs(first):
    # Each class meets a different partner, so classes of every kind meet.
    second = BOX_CLASSES[(BOX_CLASSES.index(first) + 5) % len(BOX_CLASSES)]
    expected = [fit_seeded(first, 11), fit_seeded(second, 12)]
    barrier = threading.Barrier(2)
    results = [None, None]

    def work(slot, name, seed):
        base, calls = objective_for(name), []

        def objective(x):
            calls.append(1)
            if len(calls) == 3:
                barrier.wait(WAIT)  # both fits are now under way
            time.sleep(0)
            return base(x)

        results[slot] = fit_seeded(name, seed, objective)

    run_all(threading.Thread(target=work, args=(0, first, 11)), threading.Thread(target=work, args=(1, second, 12)))
    assert not barrier.broken
    assert results == expected


def test_tour_fits_on_threads_match_sequential_runs():
    expected = {(name, seed): fit_seeded(name, seed) for name in TOUR_CLASSES for seed in (1, 2)}
    results = {}

    def work(name, seed):
        for _ in range(5):
            results[(name, seed)] = fit_seeded(name, seed)
            time.sleep(0)

    run_all(*(threading.Thread(target=work, args=key) for key in expected))
    assert results == expected


def other_problem(name):
    """Arguments whose results differ from fit_args' ones."""
    if name in TOUR_CLASSES:
        return ([[2.0 * v for v in row] for row in SQUARE],)
    base = objective_for(name)
    if name in PARETO_CLASSES:
        return (lambda x: [v + 1.0 for v in base(x)], [-2.0, -2.0], [2.0, 2.0])
    return (lambda x: base(x) + 1.0, [-2.0, -2.0], [2.0, 2.0])


@pytest.mark.parametrize("name", ALL_CLASSES)
def test_a_thread_reading_an_estimator_being_fitted_is_turned_away_and_never_sees_a_torn_result(name):
    est = make(name)
    est.fit(*fit_args(name))
    old = snapshot(est)
    fresh = make(name)
    fresh.fit(*other_problem(name))
    new = snapshot(fresh)
    assert new != old
    fitting, done = threading.Event(), threading.Event()
    refused, torn = [], []

    def reader():
        fitting.wait(WAIT)
        every = readers(est)
        while not done.is_set():
            for attribute, read in every.items():
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

    threads = [threading.Thread(target=reader), threading.Thread(target=rival)]
    for t in threads:
        t.start()
    if name in TOUR_CLASSES:
        # A tour fit runs no Python code, so other threads only get to run
        # between fits: they must see the whole old or the whole new result.
        fitting.set()
        for _ in range(20):
            est.fit(*other_problem(name))
            time.sleep(0)
    else:
        base, calls = other_problem(name)[0], []

        def objective(x):
            calls.append(1)
            if len(calls) == 2:
                fitting.set()
                # Keeps this fit going until both threads have been turned away.
                deadline = time.monotonic() + WAIT
                while not ({"fit"} < {a for a, _ in refused}) and time.monotonic() < deadline:
                    time.sleep(0.001)
            return base(x)

        est.fit(objective, *other_problem(name)[1:])
    done.set()
    for t in threads:
        t.join()
    assert torn == []
    assert {message for _, message in refused} <= {"Already mutably borrowed", "Already borrowed"}
    assert all((attribute == "fit") == (message == "Already borrowed") for attribute, message in refused)
    if name not in TOUR_CLASSES:
        assert {a for a, _ in refused} == {"fit", *readers(est)}
    assert snapshot(est) == new


@pytest.mark.parametrize("name", BOX_CLASSES)
def test_an_objective_may_fit_other_estimators_but_not_touch_its_own(name):
    est, base, seen = make(name), objective_for(name), []
    touch = {**readers(est), "fit": lambda: est.fit(*fit_args(name))}
    if type(est).__repr__ is not object.__repr__:  # the interpreter's own repr reads nothing
        touch["repr"] = lambda: repr(est)

    def objective(x):
        other = make(name)
        other.fit(*fit_args(name))
        for attribute, call in touch.items():
            try:
                call()
            except RuntimeError as e:
                seen.append((attribute, str(e)))
        return base(x)

    calls = []
    est.fit(lambda x: calls.append(1) or objective(x), *fit_args(name)[1:])
    expected = [(a, "Already borrowed" if a == "fit" else "Already mutably borrowed") for a in touch]
    assert seen == expected * len(calls)
    with pytest.raises(RuntimeError, match="^Already borrowed$"):  # in the probe the refusal reaches the caller
        est.fit(lambda x: est.fit(*fit_args(name)), *fit_args(name)[1:])
