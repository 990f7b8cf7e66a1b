"""The fit / predict / score contract, failure mapping and holds, shown on ParticleSwarm."""

import math
import sys
import threading

import pytest

import hivekit
from vectors import bits


def sphere(x):
    return sum(v * v for v in x)


def fitted(**kwargs):
    est = hivekit.ParticleSwarm(n_particles=5, n_iterations=4, random_state=1, **kwargs)
    assert est.fit(sphere, [-1.0, -1.0], [1.0, 1.0]) is None
    return est


def snapshot(est):
    return bits(est.predict()), bits(est.score()), bits(est.history_), bits(est.population_)


def test_unfitted_estimator_reports_empty_results_and_refuses_predictions():
    est = hivekit.ParticleSwarm()
    assert est.history_ == [] and est.population_ == []
    with pytest.raises(ValueError, match=r"^must call fit\(\) before predict\(\)$"):
        est.predict()
    with pytest.raises(ValueError, match=r"^must call fit\(\) before score\(\)$"):
        est.score()


def test_fit_stores_a_one_entry_history_and_population_from_the_best():
    est = fitted()
    assert type(est.score()) is float
    assert est.history_ == [est.score()]
    assert est.population_ == [est.predict()]
    assert sphere(est.predict()) == est.score()


def test_results_are_fresh_lists_on_every_access():
    est = fitted()
    est.history_.append(1.0)
    est.population_[0][0] = 99.0
    est.predict()[0] = 99.0
    assert len(est.history_) == 1
    assert est.population_ == [est.predict()] and 99.0 not in est.predict()


def test_the_same_seed_reproduces_a_run_and_no_seed_does_not():
    assert snapshot(fitted()) == snapshot(fitted())
    runs = set()
    for _ in range(3):
        est = hivekit.ParticleSwarm(n_particles=5, n_iterations=2)
        est.fit(sphere, [-1.0] * 4, [1.0] * 4)
        runs.add(tuple(est.predict()))
    assert len(runs) == 3


def test_probe_call_receives_the_box_centre_first():
    seen = []
    est = hivekit.ParticleSwarm(n_particles=2, n_iterations=1, random_state=0)
    est.fit(lambda x: seen.append(list(x)) or 0.0, [0, -4, 2], [1, 4, 2])
    assert seen[0] == [0.5, 0.0, 2.0]
    assert len(seen) == 1 + 2 * 2
    assert all(type(v) is float for v in seen[0])


def test_limits_accept_any_sequence_of_numbers():
    est = hivekit.ParticleSwarm(n_particles=3, n_iterations=1, random_state=0)
    est.fit(sphere, (0, 0), range(1, 3))
    assert all(0.0 <= v <= 2.0 for v in est.predict())


@pytest.mark.parametrize(
    "lower, upper, error, message",
    [
        ("a", [1.0], TypeError, "argument 'lower': "),
        ([0.0], "b", TypeError, "argument 'upper': "),
        (iter([0.0]), [1.0], TypeError, "argument 'lower': 'list_iterator' object cannot be converted to 'Sequence'"),
        ([0.0, "x"], [1.0, 1.0], TypeError, "argument 'lower': "),
        ([0, 1], [1], ValueError, "Lower and upper bounds must have the same length"),
        ([0, 5, 3], [1, 4, 2], ValueError, "Lower bound 5 > upper bound 4 at index 1"),
        ([], [], ValueError, "Invalid input: Bounds must have at least one dimension"),
    ],
)
def test_bad_boxes_raise_with_their_messages(lower, upper, error, message):
    with pytest.raises(error) as info:
        hivekit.ParticleSwarm().fit(sphere, lower, upper)
    assert str(info.value).startswith(message)


def test_argument_binding_errors_name_fit():
    est = hivekit.ParticleSwarm()
    with pytest.raises(TypeError, match=r"^ParticleSwarm.fit\(\) missing 1 required positional argument: 'upper'$"):
        est.fit(sphere, [0])
    with pytest.raises(TypeError, match=r"got an unexpected keyword argument 'bounds'"):
        est.fit(sphere, [0], [1], bounds=1)
    with pytest.raises(TypeError, match=r"got multiple values for argument 'objective'"):
        est.fit(sphere, [0], [1], objective=sphere)
    est.fit(objective=sphere, upper=[1], lower=[0])


def test_a_failing_probe_raises_the_objectives_own_exception():
    class Custom(Exception):
        pass

    def objective(x):
        raise Custom("probe")

    with pytest.raises(Custom, match="probe"):
        hivekit.ParticleSwarm().fit(objective, [0], [1])
    with pytest.raises(TypeError):
        hivekit.ParticleSwarm().fit(lambda x: "1.0", [0], [1])
    with pytest.raises(TypeError):
        hivekit.ParticleSwarm().fit(None, [0], [1])


def test_failures_during_the_run_count_as_infinity():
    calls = []

    def objective(x):
        calls.append(1)
        if len(calls) == 1:
            return 0.0
        raise ValueError("later")

    est = hivekit.ParticleSwarm(n_particles=3, n_iterations=2, random_state=0)
    est.fit(objective, [0], [1])
    assert est.score() == math.inf and est.predict() == [0.0]

    values = iter([1.0, "2.0", None, object(), 7, 0.5] + [9.0] * 20)
    est.fit(lambda x: next(values), [0], [1])
    assert est.score() == 0.5


def test_an_interrupt_inside_the_run_stops_fit_and_keeps_earlier_results():
    est = fitted()
    before = snapshot(est)
    calls = []

    def objective(x):
        calls.append(1)
        if len(calls) == 4:
            raise KeyboardInterrupt
        return 0.0

    with pytest.raises(KeyboardInterrupt):
        est.fit(objective, [0.0, 0.0], [1.0, 1.0])
    assert len(calls) == 4
    assert snapshot(est) == before

    def exits(x):
        if calls:
            calls.clear()
            return 0.0
        raise SystemExit(3)

    calls.append(1)
    with pytest.raises(SystemExit):
        est.fit(exits, [0.0], [1.0])
    assert snapshot(est) == before


def test_a_failing_fit_leaves_earlier_results_untouched():
    est = fitted()
    before = snapshot(est)
    for args in [(sphere, [], []), (sphere, [1], [0]), (sphere, "x", [1])]:
        with pytest.raises((ValueError, TypeError)):
            est.fit(*args)
        assert snapshot(est) == before


def test_a_swarm_too_large_to_allocate_raises_memory_error():
    est = fitted()
    before = snapshot(est)
    big = hivekit.ParticleSwarm(n_particles=10**15, n_iterations=1)
    with pytest.raises(MemoryError):
        big.fit(sphere, [0, 0], [1, 1])
    with pytest.raises(ValueError):
        big.score()
    assert snapshot(est) == before


def test_the_objective_may_fit_other_estimators_but_not_its_own():
    outer = hivekit.ParticleSwarm(n_particles=2, n_iterations=1, random_state=0)
    inner_scores = []
    errors = []

    def objective(x):
        inner = hivekit.ParticleSwarm(n_particles=2, n_iterations=1, random_state=1)
        inner.fit(sphere, [0], [1])
        inner_scores.append(inner.score())
        for reader in (outer.score, outer.predict, outer.get_params, lambda: outer.history_, lambda: repr(outer)):
            try:
                reader()
            except RuntimeError as e:
                errors.append(str(e))
        try:
            outer.fit(sphere, [0], [1])
        except RuntimeError as e:
            errors.append(str(e))
        return sum(x)

    outer.fit(objective, [0], [1])
    calls = 1 + 2 * 2
    assert len(inner_scores) == calls and len(set(inner_scores)) == 1
    assert errors == (["Already mutably borrowed"] * 5 + ["Already borrowed"]) * calls
    outer.score()


def test_reentrant_fit_in_the_probe_reaches_the_caller():
    est = hivekit.ParticleSwarm()
    with pytest.raises(RuntimeError, match="^Already borrowed$"):
        est.fit(lambda x: est.fit(sphere, [0], [1]), [0], [1])


def test_a_reader_on_another_thread_sees_the_hold_while_fit_runs():
    est = hivekit.ParticleSwarm(n_particles=2, n_iterations=3, random_state=0)
    started, release = threading.Event(), threading.Event()
    outcome = []

    def objective(x):
        if not started.is_set():
            started.set()
            release.wait(5)  # blocks while holding nothing: other threads run
        return 0.0

    def reader():
        started.wait(5)
        try:
            est.score()
        except RuntimeError as e:
            outcome.append(str(e))
        release.set()

    t = threading.Thread(target=reader)
    t.start()
    est.fit(objective, [0], [1])
    t.join()
    assert outcome == ["Already mutably borrowed"]
    assert est.score() == 0.0


@pytest.mark.parametrize("n_particles", [0])
def test_without_particles_the_best_is_infinity_at_the_origin(n_particles):
    calls = []
    est = hivekit.ParticleSwarm(n_particles=n_particles, n_iterations=3)
    est.fit(lambda x: calls.append(1) or 0.0, [1, 1], [2, 2])
    assert calls == [1]
    assert est.score() == math.inf and est.predict() == [0.0, 0.0] and est.history_ == [math.inf]


def test_numpy_float_results_and_limits_are_accepted():
    np = pytest.importorskip("numpy")
    est = hivekit.ParticleSwarm(n_particles=4, n_iterations=3, random_state=5)
    est.fit(lambda x: np.float64(sphere(x)), np.array([-1.0, -1.0]), np.array([1.0, 1.0]))
    reference = fitted_on(sphere, [-1.0, -1.0], [1.0, 1.0])
    assert bits(est.predict()) == bits(reference.predict())


def fitted_on(objective, lower, upper):
    est = hivekit.ParticleSwarm(n_particles=4, n_iterations=3, random_state=5)
    est.fit(objective, lower, upper)
    return est


def test_fit_does_not_leak_references_to_its_arguments():
    lower, upper = [0.0, 0.0], [1.0, 1.0]

    def objective(x):
        return sum(x)

    before = [sys.getrefcount(o) for o in (objective, lower, upper)]
    est = hivekit.ParticleSwarm(n_particles=3, n_iterations=2, random_state=0)
    for _ in range(20):
        est.fit(objective, lower, upper)
        with pytest.raises(ValueError):
            est.fit(objective, lower, [1.0])
    assert [sys.getrefcount(o) for o in (objective, lower, upper)] == before
