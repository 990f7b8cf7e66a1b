"""The tour surface: two_opt, AntColony and PermutationGeneticOptimizer from Python."""

import math
import os
import random
import signal
import subprocess
import sys
import textwrap

import pytest

import hivekit

SQRT2 = math.sqrt(2.0)
SQUARE = [  # corners (0,0), (1,0), (1,1), (0,1)
    [0.0, 1.0, SQRT2, 1.0],
    [1.0, 0.0, 1.0, SQRT2],
    [SQRT2, 1.0, 0.0, 1.0],
    [1.0, SQRT2, 1.0, 0.0],
]
NAN = float("nan")


def plane(n, seed=0):
    rng = random.Random(seed)
    points = [(rng.random(), rng.random()) for _ in range(n)]
    return [[math.dist(a, b) for b in points] for a in points]


def fitted_state(est):
    return est.score(), est.predict(), est.history_, est.population_


# two_opt


def test_two_opt_untangles_the_unit_square():
    result = hivekit.two_opt([0, 2, 1, 3], SQUARE)
    assert type(result) is tuple
    tour, length = result
    assert (tour, length) == ([0, 1, 2, 3], 4.0)
    assert all(type(c) is int for c in tour)
    assert type(length) is float


def test_two_opt_of_empty_and_one_city_tours():
    assert hivekit.two_opt([], [[0.0]]) == ([], 0.0)
    assert hivekit.two_opt([0], [[5.0]]) == ([0], 5.0)


def test_two_opt_leaves_three_city_tours_unchanged():
    d = [[0.0, 2.0, 9.0], [4.0, 0.0, 3.0], [5.0, 7.0, 0.0]]
    assert hivekit.two_opt([0, 1, 2], d) == ([0, 1, 2], 2.0 + 3.0 + 5.0)


def test_two_opt_accepts_keywords_and_any_sequences():
    tour, length = hivekit.two_opt(distance_matrix=tuple(tuple(r) for r in SQUARE), tour=range(4))
    assert (tour, length) == ([0, 1, 2, 3], 4.0)


def test_float64_arrays_are_read_as_their_rows_are():
    np = pytest.importorskip("numpy")
    rows = plane(30, seed=4)
    rows[3][7] = NAN
    array = np.array(rows)
    tour = random.Random(2).sample(range(30), 30)
    assert hivekit.two_opt(tour, array) == hivekit.two_opt(tour, rows)
    for make in (lambda: hivekit.AntColony(n_ants=4, n_iterations=3, variant="mmas", random_state=5),
                 lambda: hivekit.PermutationGeneticOptimizer(n_iterations=4, random_state=5)):
        by_array, by_rows = make(), make()
        by_array.fit(array)
        by_rows.fit(rows)
        assert repr(fitted_state(by_array)) == repr(fitted_state(by_rows))
    # Other layouts and types take the sequence path; bad shapes fail alike.
    for other in (np.asfortranarray(array), array.astype(np.float32), array[:, ::-1]):
        assert hivekit.two_opt(tour, other) == hivekit.two_opt(tour, other.tolist())
    for shape in ((0, 0), (3, 4), (4, 3)):
        errors = []
        for matrix in (np.zeros(shape), np.zeros(shape).tolist()):
            with pytest.raises(ValueError) as info:
                hivekit.two_opt([0], matrix)
            errors.append(str(info.value))
        assert errors[0] == errors[1]


def test_two_opt_checks_the_matrix_before_the_tour():
    with pytest.raises(ValueError, match=r"^distance_matrix must be non-empty$"):
        hivekit.two_opt([7, 9], [])
    with pytest.raises(ValueError, match=r"^distance_matrix must be non-empty$"):
        hivekit.two_opt("not a tour", [])


def test_two_opt_rejects_a_matrix_that_is_not_square():
    with pytest.raises(ValueError) as info:
        hivekit.two_opt([0, 1], [[0.0, 1.0], [1.0]])
    assert str(info.value) == "distance_matrix must be square: row 1 has length 1, expected 2"


def test_two_opt_rejects_a_tour_entry_outside_the_matrix():
    with pytest.raises(ValueError) as info:
        hivekit.two_opt([0, 1, 5, 2], [[0.0] * 3] * 3)
    assert str(info.value) == "tour entry 2 is 5, not below the number of cities 3"


def test_two_opt_conversion_errors_name_the_argument():
    with pytest.raises(TypeError, match=r"^argument 'tour': "):
        hivekit.two_opt("0123", SQUARE)
    with pytest.raises(TypeError, match=r"^argument 'distance_matrix': "):
        hivekit.two_opt([0], 5)
    with pytest.raises(OverflowError):
        hivekit.two_opt([-1], [[0.0]])
    with pytest.raises(TypeError, match=r"two_opt\(\) missing 1 required positional argument: 'distance_matrix'"):
        hivekit.two_opt([0])


def test_ant_colony_one_city():
    est = hivekit.AntColony(n_ants=3, n_iterations=2, random_state=0)
    assert est.fit([[1.5]]) is None
    assert fitted_state(est) == (1.5, [0], [1.5], [[0.0]])


def test_ant_colony_stores_the_best_tour_once():
    est = hivekit.AntColony(n_ants=5, n_iterations=5, random_state=3)
    est.fit(plane(9))
    tour = est.predict()
    assert sorted(tour) == list(range(9))
    assert all(type(c) is int for c in tour)
    assert est.history_ == [est.score()]
    assert est.population_ == [[float(c) for c in tour]]


def test_ant_colony_same_random_state_same_result():
    d = plane(12, seed=1)
    runs = []
    for _ in range(2):
        est = hivekit.AntColony(n_ants=4, n_iterations=4, variant="mmas", random_state=11)
        est.fit(d)
        runs.append(fitted_state(est))
    assert runs[0] == runs[1]


def test_ant_colony_unknown_variant_text_is_the_basic_kind():
    d = plane(10, seed=2)
    states = []
    for variant in ("basic", "ACS", "Mmas", "", "anything"):
        est = hivekit.AntColony(n_ants=4, n_iterations=3, variant=variant, random_state=5)
        est.fit(d)
        assert est.get_params()["variant"] == 0.0
        states.append(fitted_state(est))
    assert all(s == states[0] for s in states)


def test_ant_colony_rejects_invalid_matrices():
    est = hivekit.AntColony()
    with pytest.raises(ValueError) as info:
        est.fit([[0.0, 1.0, 2.0], [1.0, 0.0, 3.0]])
    assert str(info.value) == "distance_matrix must be square: row 0 has length 3, expected 2"
    with pytest.raises(ValueError, match=r"^distance_matrix must be non-empty$"):
        est.fit([])
    with pytest.raises(TypeError, match=r"^argument 'distance_matrix': "):
        est.fit("abc")


def test_ant_colony_without_ants_stays_unfitted():
    est = hivekit.AntColony(n_ants=0)
    assert est.fit(plane(5)) is None
    with pytest.raises(ValueError, match=r"^must call fit\(\) before predict\(\)$"):
        est.predict()
    with pytest.raises(ValueError, match=r"^must call fit\(\) before score\(\)$"):
        est.score()
    assert est.history_ == [] and est.population_ == []


def test_ant_colony_failing_fit_keeps_earlier_results():
    est = hivekit.AntColony(n_ants=3, n_iterations=3, random_state=1)
    est.fit(plane(6))
    before = fitted_state(est)
    with pytest.raises(ValueError):
        est.fit([[0.0, 1.0]])
    assert fitted_state(est) == before


def test_ant_colony_fit_finding_no_finite_tour_keeps_earlier_results():
    est = hivekit.AntColony(n_ants=3, n_iterations=3, random_state=1)
    est.fit(plane(6))
    before = fitted_state(est)
    est.fit([[NAN] * 4] * 4)
    assert fitted_state(est) == before


# PermutationGeneticOptimizer


def test_genetic_rejects_fewer_than_three_cities():
    est = hivekit.PermutationGeneticOptimizer()
    for d in ([[0.0]], [[0.0, 1.0], [1.0, 0.0]]):
        with pytest.raises(ValueError) as info:
            est.fit(d)
        assert str(info.value) == "Invalid input: distance matrix must have at least 3 cities"


def test_genetic_rejects_an_empty_population_with_generations():
    d = plane(6)
    est = hivekit.PermutationGeneticOptimizer(n_individuals=0, n_iterations=1)
    with pytest.raises(ValueError) as info:
        est.fit(d)
    assert str(info.value) == "Invalid input: n_individuals must be at least 1"
    with pytest.raises(ValueError, match=r"^must call fit\(\) before score\(\)$"):
        est.score()


def test_genetic_empty_population_without_generations_stores_nothing():
    est = hivekit.PermutationGeneticOptimizer(n_individuals=0, n_iterations=0)
    assert est.fit(plane(5)) is None
    with pytest.raises(ValueError, match=r"^must call fit\(\) before predict\(\)$"):
        est.predict()
    assert est.history_ == [] and est.population_ == []


def test_genetic_history_and_population():
    d = plane(10, seed=4)
    est = hivekit.PermutationGeneticOptimizer(n_individuals=8, n_iterations=5, random_state=9)
    assert est.fit(d) is None
    history = est.history_
    assert len(history) == 5
    assert all(later <= earlier for earlier, later in zip(history, history[1:]))
    assert est.score() <= history[-1]
    population = est.population_
    assert len(population) == 8
    for row in population:
        assert sorted(row) == [float(c) for c in range(10)]
    assert [float(c) for c in est.predict()] == population[0]


def test_genetic_without_generations_keeps_the_initial_population():
    est = hivekit.PermutationGeneticOptimizer(n_individuals=6, n_iterations=0, random_state=2)
    est.fit(plane(7))
    assert est.history_ == []
    assert len(est.population_) == 6


def test_genetic_same_random_state_same_result():
    d = plane(11, seed=5)
    states = []
    for _ in range(2):
        est = hivekit.PermutationGeneticOptimizer(n_individuals=7, n_iterations=6, random_state=21)
        est.fit(d)
        states.append(fitted_state(est))
    assert states[0] == states[1]


def test_genetic_failing_fit_keeps_earlier_results():
    est = hivekit.PermutationGeneticOptimizer(n_individuals=4, n_iterations=2, random_state=0)
    est.fit(plane(5))
    before = fitted_state(est)
    with pytest.raises(ValueError):
        est.fit([[0.0, 1.0], [1.0, 0.0]])
    assert fitted_state(est) == before


# Ctrl-C during a long tour fit

INTERRUPTED_FIT = textwrap.dedent(
    """
    import math, random, sys
    import hivekit

    rng = random.Random(0)
    points = [(rng.random(), rng.random()) for _ in range(300)]
    big = [[math.dist(a, b) for b in points] for a in points]
    est = hivekit.AntColony(n_ants=20, n_iterations=100000, random_state=0)
    est.fit([[0.0, 1.0], [1.0, 0.0]])
    before = (est.score(), est.predict(), est.history_, est.population_)
    print("fitting", flush=True)
    try:
        est.fit(big)
    except KeyboardInterrupt:
        after = (est.score(), est.predict(), est.history_, est.population_)
        print("interrupted", after == before, flush=True)
        sys.exit(0)
    print("finished", flush=True)
    """
)


def test_ctrl_c_stops_a_long_ant_colony_fit_and_keeps_earlier_results():
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    child = subprocess.Popen(
        [sys.executable, "-c", INTERRUPTED_FIT], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, env=env
    )
    try:
        assert child.stdout.readline() == "fitting\n"
        try:
            child.wait(timeout=0.5)
        except subprocess.TimeoutExpired:
            pass
        child.send_signal(signal.SIGINT)
        out, err = child.communicate(timeout=3)
    finally:
        child.kill()
    assert out == "interrupted True\n", err
    assert child.returncode == 0
