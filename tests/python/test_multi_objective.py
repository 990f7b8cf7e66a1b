"""The Python surface of the multi-objective classes and of the binary swarm."""

import math

import pytest

import hivekit
from vectors import bits

MULTI = [hivekit.Nsga2Optimizer, hivekit.MopsoOptimizer]
SIZE = {hivekit.Nsga2Optimizer: "n_individuals", hivekit.MopsoOptimizer: "n_particles"}


def schaffer(x):
    return [x[0] * x[0], (x[0] - 2.0) * (x[0] - 2.0)]


def make(cls, size=6, **kwargs):
    kwargs.setdefault("n_iterations", 5)
    kwargs.setdefault("random_state", 3)
    return cls(**{SIZE[cls]: size}, **kwargs)


def snapshot(est):
    return bits(est.predict()), bits(est.score()), bits(est.population_)


@pytest.mark.parametrize("cls", MULTI)
def test_multi_objective_classes_have_no_history(cls):
    est = make(cls)
    assert not hasattr(est, "history_")
    est.fit(schaffer, [-1.0], [3.0])
    assert not hasattr(est, "history_")


@pytest.mark.parametrize("cls", MULTI)
def test_unfitted_multi_objective_estimator_refuses_predictions(cls):
    est = cls()
    assert est.population_ == []
    with pytest.raises(ValueError, match=r"^must call fit\(\) before predict\(\)$"):
        est.predict()
    with pytest.raises(ValueError, match=r"^must call fit\(\) before score\(\)$"):
        est.score()


@pytest.mark.parametrize("cls", MULTI)
def test_fit_stores_archive_and_population(cls):
    est = make(cls, size=6, archive_size=4)
    assert est.fit(schaffer, [-1.0], [3.0]) is None
    archive = est.predict()
    assert len(archive) == 4 and all(len(p) == 1 and type(p[0]) is float for p in archive)
    assert all(-1.0 <= p[0] <= 3.0 for p in archive)
    score = est.score()
    assert type(score) is float and 0.0 <= score <= 1.0
    population = est.population_
    assert len(population) == 6 and all(len(p) == 1 for p in population)
    population.append([9.0])
    assert len(est.population_) == 6


@pytest.mark.parametrize("cls", MULTI)
def test_single_objective_vectors_score_zero(cls):
    est = make(cls)
    est.fit(lambda x: [x[0] * 0.25], [0.0], [1.0])
    assert est.score() == 0.0
    assert all(0.0 <= p[0] <= 1.0 for p in est.predict())


@pytest.mark.parametrize("cls", MULTI)
def test_plain_float_objective_fails_at_the_probe(cls):
    calls = []

    def scalar(x):
        calls.append(list(x))
        return 1.0

    est = make(cls)
    with pytest.raises(TypeError):
        est.fit(scalar, [0.0, 2.0], [1.0, 4.0])
    assert calls == [[0.5, 3.0]]
    with pytest.raises(ValueError, match=r"^must call fit\(\) before predict\(\)$"):
        est.predict()


@pytest.mark.parametrize("cls", MULTI)
def test_string_objective_fails_at_the_probe(cls):
    with pytest.raises(TypeError):
        make(cls).fit(lambda x: "1, 2", [0.0], [1.0])


@pytest.mark.parametrize("cls", MULTI)
def test_objective_failing_after_the_probe_counts_as_infinity(cls):
    calls = []

    def flaky(x):
        calls.append(x)
        if len(calls) % 2 == 0:
            raise RuntimeError("boom")
        return schaffer(x)

    est = make(cls, size=4, n_iterations=3)
    est.fit(flaky, [-1.0], [3.0])
    assert len(calls) == 1 + 4 * (1 + 3)
    assert all(len(p) == 1 for p in est.predict())


@pytest.mark.parametrize("cls", MULTI)
def test_empty_box_is_probed_then_rejected(cls):
    calls = []
    est = make(cls)
    with pytest.raises(ValueError, match=r"^Invalid input: bounds must not be empty$"):
        est.fit(lambda x: calls.append(list(x)) or [0.0, 0.0], [], [])
    assert calls == [[]]


@pytest.mark.parametrize("cls", MULTI)
def test_empty_population_leaves_the_estimator_unfitted(cls):
    est = make(cls, size=0)
    est.fit(schaffer, [-1.0], [3.0])
    assert est.population_ == []
    with pytest.raises(ValueError, match=r"^must call fit\(\) before predict\(\)$"):
        est.predict()
    with pytest.raises(ValueError, match=r"^must call fit\(\) before score\(\)$"):
        est.score()


@pytest.mark.parametrize("cls", MULTI)
def test_zero_archive_size_keeps_the_population_only(cls):
    est = make(cls, size=5, archive_size=0)
    est.fit(schaffer, [-1.0], [3.0])
    assert len(est.population_) == 5
    with pytest.raises(ValueError, match=r"^must call fit\(\) before score\(\)$"):
        est.score()


@pytest.mark.parametrize("cls", MULTI)
def test_same_seed_reproduces_the_multi_objective_run(cls):
    first, second = make(cls, size=8), make(cls, size=8)
    first.fit(schaffer, [-1.0, -1.0], [3.0, 3.0])
    second.fit(schaffer, [-1.0, -1.0], [3.0, 3.0])
    assert snapshot(first) == snapshot(second)
    first.fit(schaffer, [-1.0, -1.0], [3.0, 3.0])
    assert snapshot(first) == snapshot(second)


@pytest.mark.parametrize("cls", MULTI)
def test_failed_fit_keeps_the_earlier_archive(cls):
    def tolerant(x):
        return schaffer(x) if x else [0.0, 0.0]

    est = make(cls)
    est.fit(tolerant, [-1.0], [3.0])
    before = snapshot(est)
    with pytest.raises(ValueError, match="bounds must not be empty"):
        est.fit(tolerant, [], [])
    assert snapshot(est) == before


def test_binary_swarm_probes_with_zeros_and_returns_bits():
    calls = []

    def onemax(b):
        calls.append(list(b))
        return -math.fsum(b)

    est = hivekit.BinaryParticleSwarm(n_particles=4, n_iterations=3, random_state=2)
    est.fit(onemax, [2.0, 2.0, 2.0], [7.0, 7.0, 7.0])
    assert calls[0] == [0.0, 0.0, 0.0]
    assert len(calls) == 1 + 4 * (1 + 3)
    assert all(v in (0.0, 1.0) for call in calls for v in call)
    assert est.score() == onemax(est.predict())
    assert len(est.history_) == 3 and est.history_[-1] == est.score()
    assert len(est.population_) == 4


def test_binary_swarm_rejects_an_empty_box_after_the_probe():
    calls = []
    est = hivekit.BinaryParticleSwarm(random_state=1)
    with pytest.raises(ValueError, match=r"^Invalid input: binary PSO requires at least one dimension$"):
        est.fit(lambda b: calls.append(list(b)) or 0.0, [], [])
    assert calls == [[]]

