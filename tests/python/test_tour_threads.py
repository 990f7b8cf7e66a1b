"""Tour fits on the engine's threads and without the interpreter lock: the same bits on any number of threads,
other Python threads keep running during a tour fit or a two_opt call, and Ctrl-C still stops a fit that runs on
several threads."""

import queue
import random
import signal
import threading
import time

import pytest

import hivekit
from small_runs import POPULATION, TOUR_CLASSES, UNDER_ASAN, child, make, plane, snapshot

# Symmetric, asymmetric, whole-number and non-finite matrices take different ways through the 2-opt search.
RNG = random.Random(4)
# Big enough that a search outlasts a thread's waking up, so that every thread takes tours.
MATRICES = {
    "plane": plane(80, seed=2),
    "asymmetric": [[RNG.random() for _ in range(60)] for _ in range(60)],
    "whole": [[float(round(100 * d)) for d in row] for row in plane(70, seed=5)],
    "gaps": [[float("inf") if RNG.random() < 0.05 else RNG.random() for _ in range(50)] for _ in range(50)],
}


@pytest.mark.parametrize("matrix", MATRICES.values(), ids=MATRICES.keys())
@pytest.mark.parametrize("name", TOUR_CLASSES)
def test_tour_fits_give_the_same_bits_on_one_two_and_three_threads(name, matrix):
    results = []
    for n in (1, 2, 3):
        with hivekit.threads(n):
            est = make(name, **{POPULATION[name]: 12, "n_iterations": 2})
            est.fit(matrix)
            results.append(snapshot(est))
    assert results[0] == results[1] == results[2]


def beats_during(call):
    """How often a thread sleeping a millisecond at a time woke up while `call` ran."""
    ticks, started, stop = [0], threading.Event(), threading.Event()

    def beat():
        started.set()
        while not stop.is_set():
            time.sleep(0.001)
            ticks[0] += 1

    heart = threading.Thread(target=beat)
    heart.start()
    started.wait()
    try:
        before = ticks[0]
        call()
        return ticks[0] - before
    finally:
        stop.set()
        heart.join()


# Each runs for a tenth of a second or so; the matrices are built beforehand, by Python code that lets the heartbeat in.
CITIES, START = plane(200), random.Random(3).sample(range(800), 800)
WIDE = plane(800)
LONG_CALLS = {name: (lambda name=name: make(name, **{POPULATION[name]: 12, "n_iterations": 20}).fit(CITIES))
              for name in TOUR_CLASSES}
LONG_CALLS["two_opt"] = lambda: hivekit.two_opt(START, WIDE)


@pytest.mark.parametrize("where", ["main thread", "other thread"])
@pytest.mark.parametrize("call", LONG_CALLS.values(), ids=LONG_CALLS.keys())
def test_other_threads_keep_running_during_a_tour_fit_and_two_opt(call, where):
    # Holding the lock, the call would let the heartbeat wake at most once; a call on the main thread takes the
    # lock back now and then to look for Ctrl-C, one on another thread never.
    if where == "main thread":
        beats = beats_during(call)
    else:
        done = []
        beats = beats_during(lambda: [t.start() or t.join() for t in [threading.Thread(target=lambda: done.append(call()))]])
        assert len(done) == 1
    assert beats >= 10


# Long fits on two engine threads, each stopped by Ctrl-C while its ants or its initial population are polished
# side by side; every estimator is fitted before and must keep those results.
PARALLEL_CHILD = """
import sys
import hivekit
from small_runs import POPULATION, SQUARE, TOUR_CLASSES, make, plane, snapshot

hivekit.set_threads(2)
matrix = plane(400)
for name in TOUR_CLASSES:
    est = make(name, **{POPULATION[name]: 20, "n_iterations": 20000})
    est.fit(SQUARE)
    before = snapshot(est)
    print("running", flush=True)
    try:
        est.fit(matrix)
    except KeyboardInterrupt:
        print(name, "interrupted", "untouched" if snapshot(est) == before else "changed", flush=True)
    else:
        print(name, "finished", flush=True)
"""
STOP_BOUND = 5.0 if UNDER_ASAN else 0.2


def test_ctrl_c_stops_tour_fits_on_two_threads_soon_and_stores_nothing():
    proc, lines = child("-c", PARALLEL_CHILD)
    seen = []
    try:
        for name in TOUR_CLASSES:
            assert lines.get(timeout=60) == "running", name
            time.sleep(0.1)  # into the first polishing: nothing announces it
            proc.send_signal(signal.SIGINT)
            sent = time.monotonic()
            seen.append((lines.get(timeout=10), time.monotonic() - sent < STOP_BOUND))
        proc.wait(timeout=10)
    except queue.Empty:
        raise AssertionError(f"no answer after {seen}: {proc.stderr.read()}") from None
    finally:
        proc.kill()
    assert seen == [(f"{name} interrupted untouched", True) for name in TOUR_CLASSES] and proc.returncode == 0
