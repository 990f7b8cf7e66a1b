"""Python surface of CuckooSearch, FireflyOptimizer, GreyWolfOptimizer, GlowwormOptimizer and
BacterialForagingOptimizer: shapes of the fitted results, size checks, reproducibility."""

import pytest

import hivekit
from vectors import bits

# class name, size keyword, smallest accepted size, size-check message
CLASSES = [
    ("CuckooSearch", "n_nests", 2, "n_nests must be at least 2 for cuckoo search"),
    ("FireflyOptimizer", "n_fireflies", 2, "n_fireflies must be at least 2 for firefly optimization"),
    ("GreyWolfOptimizer", "n_wolves", 3, "n_wolves must be at least 3 for grey wolf optimization"),
    ("GlowwormOptimizer", "n_worms", 2, "n_worms must be at least 2 for glowworm optimization"),
    ("BacterialForagingOptimizer", "n_bacteria", 2, "n_bacteria must be at least 2 for bacterial foraging"),
]
IDS = [c[0] for c in CLASSES]


def sphere(x):
    s = 0.0
    for v in x:
        s += v * v
    return s


def make(name, size_kw, size, **kwargs):
    kwargs.setdefault("n_iterations", 5)
    if name == "BacterialForagingOptimizer":
        kwargs.setdefault("n_chemotactic_steps", 2)
    return getattr(hivekit, name)(**{size_kw: size}, **kwargs)


def results(est):
    return bits(est.predict()), bits(est.score()), bits(est.history_), bits(est.population_)


@pytest.mark.parametrize("name, size_kw, least, message", CLASSES, ids=IDS)
def test_fit_leaves_one_history_entry_per_iteration_and_the_whole_population(name, size_kw, least, message):
    est = make(name, size_kw, 6, n_iterations=7, random_state=3)
    assert est.fit(sphere, [-1.0, -2.0, 0.0], [1.0, 2.0, 0.5]) is None
    assert len(est.history_) == 7
    assert all(b <= a for a, b in zip(est.history_, est.history_[1:]))
    assert est.history_[-1] == est.score() == sphere(est.predict())
    population = est.population_
    assert len(population) == 6 and all(len(row) == 3 for row in population)
    for row in population + [est.predict()]:
        assert -1.0 <= row[0] <= 1.0 and -2.0 <= row[1] <= 2.0 and 0.0 <= row[2] <= 0.5


@pytest.mark.parametrize("name, size_kw, least, message", CLASSES, ids=IDS)
def test_zero_iterations_give_an_empty_history_and_the_initial_population(name, size_kw, least, message):
    calls = []
    est = make(name, size_kw, 4, n_iterations=0, random_state=1)
    est.fit(lambda x: calls.append(list(x)) or sphere(x), [0.0, 0.0], [1.0, 1.0])
    assert est.history_ == []
    assert est.population_ == calls[1:]  # after the probe at the centre


@pytest.mark.parametrize("name, size_kw, least, message", CLASSES, ids=IDS)
def test_too_small_a_population_is_rejected_with_its_message(name, size_kw, least, message):
    make(name, size_kw, least, random_state=2).fit(sphere, [-1.0], [1.0])
    with pytest.raises(ValueError, match=f"^Invalid input: {message}$"):
        make(name, size_kw, least - 1, random_state=2).fit(sphere, [-1.0], [1.0])


@pytest.mark.parametrize("name, size_kw, least, message", CLASSES, ids=IDS)
def test_an_empty_box_is_rejected_before_the_size_check(name, size_kw, least, message):
    est = make(name, size_kw, least - 1, random_state=2)
    with pytest.raises(ValueError, match="^Invalid input: Problem must have at least one dimension$"):
        est.fit(lambda x: 0.0, [], [])


@pytest.mark.parametrize("name, size_kw, least, message", CLASSES, ids=IDS)
def test_the_same_random_state_reproduces_the_run(name, size_kw, least, message):
    est = make(name, size_kw, 5, random_state=12)
    est.fit(sphere, [-1.0, -1.0], [1.0, 1.0])
    first = results(est)
    est.fit(sphere, [-1.0, -1.0], [1.0, 1.0])
    assert results(est) == first
    other = make(name, size_kw, 5, random_state=12)
    other.fit(sphere, [-1.0, -1.0], [1.0, 1.0])
    assert results(other) == first


@pytest.mark.parametrize("name, size_kw, least, message", CLASSES, ids=IDS)
def test_no_random_state_draws_a_fresh_run_each_fit(name, size_kw, least, message):
    est = make(name, size_kw, 5)
    est.fit(sphere, [-1.0, -1.0], [1.0, 1.0])
    first = bits(est.population_)
    est.fit(sphere, [-1.0, -1.0], [1.0, 1.0])
    assert bits(est.population_) != first
