"""The tour surface beyond the shared contract: two_opt, matrices as arrays, the tour classes' own edge cases, and
tour fits on the engine's threads and without the interpreter lock: the same bits on any number of threads, other
Python threads keep running during a tour fit or a two_opt call."""

import math
import random
import threading
import time
from concurrent.futures import ThreadPoolExecutor

import numpy as np
import pytest

import hivekit
from small_runs import POPULATION, TOUR_CLASSES, make, plane, snapshot

SQRT2 = math.sqrt(2.0)
UNIT_SQUARE = [[0.0, 1.0, SQRT2, 1.0], [1.0, 0.0, 1.0, SQRT2], [SQRT2, 1.0, 0.0, 1.0], [1.0, SQRT2, 1.0, 0.0]]


REFUSALS = [
    (([7, 9], []), ValueError, "distance_matrix must be non-empty"),
    (("not a tour", []), ValueError, "distance_matrix must be non-empty"),  # the matrix is read first
    (([0, 1], [[0.0, 1.0], [1.0]]), ValueError, "distance_matrix must be square: row 1 has length 1, expected 2"),
    (([0, 1, 5, 2], [[0.0] * 3] * 3), ValueError, "tour entry 2 is 5, not below the number of cities 3"),
    (("0123", UNIT_SQUARE), TypeError, "argument 'tour': "),
    (([0], 5), TypeError, "argument 'distance_matrix': "),
    (([-1], [[0.0]]), OverflowError, ""),
    (([0],), TypeError, "two_opt() missing 1 required positional argument: 'distance_matrix'"),
]


def test_two_opt_untangles_leaves_tours_of_up_to_three_cities_alone_and_names_its_refusals():
    result = hivekit.two_opt([0, 2, 1, 3], UNIT_SQUARE)
    assert type(result) is tuple and result == ([0, 1, 2, 3], 4.0)
    assert all(type(c) is int for c in result[0]) and type(result[1]) is float
    assert hivekit.two_opt(distance_matrix=tuple(map(tuple, UNIT_SQUARE)), tour=range(4)) == ([0, 1, 2, 3], 4.0)
    assert hivekit.two_opt([], [[0.0]]) == ([], 0.0) and hivekit.two_opt([0], [[5.0]]) == ([0], 5.0)
    assert hivekit.two_opt([0, 1, 2], [[0.0, 2.0, 9.0], [4.0, 0.0, 3.0], [5.0, 7.0, 0.0]]) == ([0, 1, 2], 10.0)
    for args, error, message in REFUSALS:
        with pytest.raises(error) as caught:
            hivekit.two_opt(*args)
        assert str(caught.value).startswith(message), args


def test_float64_arrays_are_read_as_their_rows_are():
    rows = plane(30, seed=4)
    rows[3][7] = math.nan
    array = np.array(rows)
    tour = random.Random(2).sample(range(30), 30)
    assert hivekit.two_opt(tour, array) == hivekit.two_opt(tour, rows)
    for new in (lambda: hivekit.AntColony(n_ants=4, n_iterations=3, variant="mmas", random_state=5),
                lambda: hivekit.PermutationGeneticOptimizer(n_iterations=4, random_state=5)):
        by_array, by_rows = new(), new()
        by_array.fit(array)
        by_rows.fit(rows)
        assert snapshot(by_array) == snapshot(by_rows)
    # Other layouts and types take the sequence path; bad shapes fail alike.
    for other in (np.asfortranarray(array), array.astype(np.float32), array[:, ::-1]):
        assert hivekit.two_opt(tour, other) == hivekit.two_opt(tour, other.tolist())
    for shape in ((0, 0), (3, 4), (4, 3)):
        errors = set()
        for matrix in (np.zeros(shape), np.zeros(shape).tolist()):
            with pytest.raises(ValueError) as caught:
                hivekit.two_opt([0], matrix)
            errors.add(str(caught.value))
        assert len(errors) == 1


def sparse_roads(n, seed):
    """A ring of roads through n cities in a random order, so that a finite tour exists, plus two roads from every
    city to random others; every other distance is infinite (forbidden)."""
    rng = random.Random(seed)
    order = random.Random(seed).sample(range(n), n)
    matrix = [[0.0 if a == b else math.inf for b in range(n)] for a in range(n)]
    roads = [(order[i], order[i - 1]) for i in range(n)] + [(a, rng.randrange(n)) for a in range(n) for _ in "ab"]
    for a, b in roads:
        if a != b:
            matrix[a][b] = matrix[b][a] = 1.0 + rng.random()
    return matrix


def test_a_colony_tours_one_city_and_fails_without_a_finite_tour_keeping_the_earlier_results():
    roads = sparse_roads(40, 1)
    est = hivekit.AntColony(n_ants=3, n_iterations=2, random_state=0)
    est.fit([[1.5]])
    assert (est.score(), est.predict(), est.history_, est.population_) == (1.5, [0], [1.5], [[0.0]])
    est.fit(plane(6))
    before = snapshot(est)
    for matrix in (roads, [[math.nan] * 4] * 4, [[math.inf] * 5] * 5):
        with pytest.raises(ValueError, match="^Convergence error: no ant completed a finite tour in 2 iterations of 3 "
                                             "ants$"):
            est.fit(matrix)
        assert snapshot(est) == before
    fresh = hivekit.AntColony(n_ants=3, n_iterations=2, random_state=0)
    with pytest.raises(ValueError):
        fresh.fit(roads)
    assert snapshot(fresh) == snapshot(hivekit.AntColony(n_ants=3, n_iterations=2, random_state=0))
    for settings in ({"n_ants": 0}, {"n_iterations": 0}):  # no ant walks at all
        with pytest.raises(ValueError, match="^Convergence error: no ant completed a finite tour: n_ants and "
                                             "n_iterations must both be at least 1$"):
            hivekit.AntColony(**settings).fit(plane(5))
    # Each start fails alike, with the colony's own message, not in a later predict().
    with pytest.raises(ValueError, match="^Convergence error: no ant completed a finite tour"):
        hivekit.multistart_tour(hivekit.AntColony, roads, seeds=[1, 2], params={"n_ants": 3, "n_iterations": 2},
                                executor=ThreadPoolExecutor(1))


def test_genetic_reports_an_infinite_best_and_keeps_its_first_population_without_generations():
    roads = sparse_roads(40, 1)
    est = hivekit.PermutationGeneticOptimizer(n_individuals=6, n_iterations=3, random_state=2)
    est.fit(roads)  # its ranked population is its result, whatever the lengths: an infinite one is reported as such
    assert est.score() == math.inf and est.history_ == [math.inf] * 3 and sorted(est.predict()) == list(range(40))
    est = hivekit.PermutationGeneticOptimizer(n_individuals=6, n_iterations=0, random_state=2)
    est.fit(plane(7))
    assert est.history_ == [] and len(est.population_) == 6 and all(sorted(r) == list(range(7)) for r in est.population_)
    for generations in (0, 1):  # an empty population has nothing to report, with or without generations
        with pytest.raises(ValueError, match="^Invalid input: n_individuals must be at least 1$"):
            hivekit.PermutationGeneticOptimizer(n_individuals=0, n_iterations=generations).fit(plane(5))


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
