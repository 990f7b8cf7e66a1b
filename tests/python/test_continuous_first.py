"""The Python surface of BeeColony, DifferentialEvolution, CmaEsOptimizer, SimulatedAnnealing and BatAlgorithm."""

import pytest

import hivekit
from vectors import bits

LOWER, UPPER = [-2.0, -1.0, 0.5], [2.0, 1.0, 3.0]


def sphere(x):
    return sum(v * v for v in x)


# class, small keywords, expected history length, expected population size
CASES = [
    (hivekit.BeeColony, {"n_bees": 8, "n_iterations": 5}, 1, 1),
    (hivekit.DifferentialEvolution, {"n_individuals": 6, "n_iterations": 5}, 5, 6),
    (hivekit.CmaEsOptimizer, {"n_individuals": 7, "n_iterations": 5}, 5, 7),
    (hivekit.SimulatedAnnealing, {"n_iterations": 5}, 5, 1),
    (hivekit.BatAlgorithm, {"n_bats": 4, "n_iterations": 5}, 5, 4),
]
IDS = [case[0].__name__ for case in CASES]


def fitted(cls, kwargs, random_state=3):
    est = cls(random_state=random_state, **kwargs)
    assert est.fit(sphere, LOWER, UPPER) is None
    return est


def snapshot(est):
    return bits(est.predict()), bits(est.score()), bits(est.history_), bits(est.population_)


def inside(position):
    return len(position) == len(LOWER) and all(lo <= v <= hi for v, lo, hi in zip(position, LOWER, UPPER))


@pytest.mark.parametrize("cls, kwargs, n_history, n_population", CASES, ids=IDS)
def test_fit_exposes_best_history_and_population(cls, kwargs, n_history, n_population):
    est = fitted(cls, kwargs)
    assert type(est.score()) is float
    assert inside(est.predict())
    assert sphere(est.predict()) == est.score()
    assert len(est.history_) == n_history
    assert est.history_[-1] == est.score()
    assert all(later <= earlier for earlier, later in zip(est.history_, est.history_[1:]))
    assert len(est.population_) == n_population
    assert all(inside(row) for row in est.population_)


def test_bee_colony_population_is_the_best_position():
    est = fitted(hivekit.BeeColony, {"n_bees": 8, "n_iterations": 5})
    assert est.population_ == [est.predict()]


@pytest.mark.parametrize("cls, kwargs, _h, _p", CASES, ids=IDS)
def test_the_same_seed_reproduces_a_run_and_no_seed_does_not(cls, kwargs, _h, _p):
    assert snapshot(fitted(cls, kwargs)) == snapshot(fitted(cls, kwargs))
    unseeded = {tuple(bits(fitted(cls, kwargs, random_state=None).population_[0])) for _ in range(3)}
    assert len(unseeded) == 3


@pytest.mark.parametrize(
    "est, message",
    [
        (hivekit.DifferentialEvolution(n_individuals=3), "n_individuals must be at least 4 for differential evolution"),
        (hivekit.CmaEsOptimizer(n_individuals=3), "n_individuals must be at least 4 for CMA-ES"),
        (hivekit.BatAlgorithm(n_bats=1), "n_bats must be at least 2 for bat algorithm"),
    ],
    ids=["DifferentialEvolution", "CmaEsOptimizer", "BatAlgorithm"],
)
def test_a_population_too_small_raises_value_error(est, message):
    with pytest.raises(ValueError) as caught:
        est.fit(sphere, LOWER, UPPER)
    assert str(caught.value) == "Invalid input: " + message
    assert est.history_ == [] and est.population_ == []


@pytest.mark.parametrize(
    "est, message",
    [
        (hivekit.BeeColony(), "Bounds must have at least one dimension"),
        (hivekit.SimulatedAnnealing(), "Problem must have at least one dimension"),
        (hivekit.DifferentialEvolution(n_individuals=3), "Problem must have at least one dimension"),
    ],
    ids=["BeeColony", "SimulatedAnnealing", "DifferentialEvolution"],
)
def test_an_empty_box_raises_value_error_before_size_checks(est, message):
    with pytest.raises(ValueError) as caught:
        est.fit(lambda x: 0.0, [], [])
    assert str(caught.value) == "Invalid input: " + message


def test_simulated_annealing_without_iterations_keeps_its_start_point():
    calls = []
    est = hivekit.SimulatedAnnealing(n_iterations=0, random_state=5)
    est.fit(lambda x: calls.append(x) or sphere(x), LOWER, UPPER)
    assert len(calls) == 2  # the probe at the centre, then the start point
    assert est.history_ == []
    assert est.population_ == [est.predict()] == [calls[1]]


def test_cma_es_without_iterations_returns_the_centre():
    est = hivekit.CmaEsOptimizer(n_iterations=0, random_state=5)
    est.fit(sphere, LOWER, UPPER)
    assert est.predict() == [0.0, 0.0, 1.75]
    assert est.history_ == [] and est.population_ == []
    assert est.get_params()["sigma"] == 0.5
