"""hivekit.Monitor, minimize and expected_evaluations: counts, budgets, the best so far, progress output."""

import array
import math
import subprocess
import sys
import time
from concurrent.futures import ThreadPoolExecutor

import pytest

import hivekit
from small_runs import BOX_CLASSES, CHILD_ENV, PARETO_CLASSES, POPULATION, objective_for, on_terminal, snapshot

LOWER, UPPER = [-1.0, -1.0], [2.0, 2.0]  # the probe at the centre is not the optimum


def recording(objective, seen, nan_every=0):
    """objective, noting every call's (position, value); with nan_every, the first call and every nan_every-th
    one return NaN instead."""
    def plain(x):
        value = math.nan if nan_every and len(seen) % nan_every == 0 else objective(x)
        seen.append((list(x), value))
        return value
    return plain


def sized(name, n, **params):
    return getattr(hivekit, name)(**({POPULATION[name]: n} if POPULATION[name] else {}), **params)


def best_of(values):
    return min((v for v in values if not math.isnan(v)), default=math.nan)


@pytest.mark.parametrize("name", BOX_CLASSES)
def test_expected_evaluations_match_the_calls_made(name):
    for n, iterations, dimension in [(1, 2, 1), (5, 0, 3), (6, 3, 2), (9, 4, 1)]:
        est, seen = sized(name, n, n_iterations=iterations, random_state=3), []
        try:
            est.fit(recording(objective_for(name), seen), [-1.0] * dimension, [2.0] * dimension)
        except ValueError:
            assert len(seen) == 1  # a size the class rejects: only the probe call was made
        expected = hivekit.expected_evaluations(est, dimension)
        assert expected is None or expected == len(seen), (n, iterations, dimension)
    if expected is None:  # then the count must really depend on the run
        counts = set()
        for seed in range(4):
            seen = []
            sized(name, 6, n_iterations=30, random_state=seed).fit(recording(objective_for(name), seen), LOWER, UPPER)
            counts.add(len(seen))
        assert len(counts) > 1


@pytest.mark.parametrize("name", BOX_CLASSES)
def test_budgets_stop_the_fit_and_keep_the_earlier_results(name):
    objective, seen = objective_for(name), []
    est = getattr(hivekit, name)(n_iterations=50, random_state=5)
    est.fit(recording(objective, seen), LOWER, UPPER)
    before, values = snapshot(est), [v for _, v in seen]

    def stopped(monitor, reason):
        with pytest.raises(hivekit.StopRun) as caught:
            est.fit(monitor, LOWER, UPPER)
        assert caught.value.reason == monitor.stopped_by == reason and snapshot(est) == before
        return monitor

    calls = []
    monitor = stopped(hivekit.Monitor(recording(objective, calls), max_evaluations=33), "max_evaluations")
    assert monitor.n_evaluations == len(calls) == 33
    stopped(monitor, "max_evaluations")  # a spent monitor stops the next fit at its probe call
    assert len(calls) == 33
    start = time.perf_counter()
    monitor = stopped(hivekit.Monitor(lambda x: time.sleep(0.003) or objective(x), max_seconds=0.1), "max_seconds")
    assert 0.1 <= monitor.seconds and time.perf_counter() - start < 1.5
    if name not in PARETO_CLASSES:
        target = sorted(values[:40])[3]
        first = next(i for i, v in enumerate(values) if v <= target)
        monitor = stopped(hivekit.Monitor(objective, target=target), "target")
        assert monitor.n_evaluations == first + 1 and monitor.best == values[first]


@pytest.mark.parametrize("name", BOX_CLASSES)
def test_minimize_reports_the_best_call_it_saw_and_keeps_the_estimators_results_on_the_estimator(name):
    objective, seen, pareto = objective_for(name), [], name in PARETO_CLASSES
    est = sized(name, 6, n_iterations=10, random_state=2)
    monitor = hivekit.Monitor(recording(objective, seen, nan_every=0 if pareto else 7))
    done = hivekit.minimize(est, monitor, LOWER, UPPER)
    assert (done.stopped_by, done.estimator) == (None, est)
    assert done.n_evaluations == monitor.n_evaluations == len(seen) and monitor.stopped_by is None and monitor.seconds > 0
    values = [v for _, v in seen]
    if pareto:
        assert (done.x, done.fun) == (est.predict(), est.score())
        assert monitor.last == values[-1] and monitor.best is None and monitor.x is None and monitor.trace == []
    else:
        # Not the estimator's own best, which can miss an improvement it evaluated (the bats' loudness test).
        assert (done.x, done.fun) == (monitor.x, monitor.best) and done.fun <= est.score()
        assert monitor.best == best_of(values) and monitor.x == seen[values.index(monitor.best)][0]
        trace = monitor.trace  # the best after every call; the first call returned NaN, which no number leaves
        for k in range(1, len(values) + 1):
            step = [b for c, b in trace if c <= k][-1]
            assert step == best_of(values[:k]) or (math.isnan(step) and k == 1), k
        assert [c for c, _ in trace] == sorted({c for c, _ in trace})
    before, seen, score = snapshot(est), [], est.score()
    cut = hivekit.minimize(est, recording(objective, seen), LOWER, UPPER, max_evaluations=9)
    assert (cut.n_evaluations, cut.stopped_by, cut.estimator.score()) == (9, "max_evaluations", score)
    if name in PARETO_CLASSES:
        assert cut.x is None and cut.fun is None
    else:
        values = [v for _, v in seen]
        assert cut.fun == min(values) and cut.x == seen[values.index(cut.fun)][0] and cut.trace[-1][1] == cut.fun
    values = []

    def interrupted(x):
        if len(values) == 7:
            raise KeyboardInterrupt
        values.append(objective(x))
        return values[-1]

    monitor = hivekit.Monitor(interrupted)
    with pytest.raises(KeyboardInterrupt):  # propagates; the caller's monitor keeps what it saw
        hivekit.minimize(est, monitor, LOWER, UPPER)
    assert monitor.n_evaluations == 8 and monitor.stopped_by is None and snapshot(est) == before
    assert name in PARETO_CLASSES or monitor.best == min(values)


def test_monitor_called_directly_thins_a_long_trace_and_ignores_what_is_no_number():
    monitor = hivekit.Monitor(lambda x: x[0])
    for value in [math.nan, "7", 3, math.nan, [1.0], 2.5]:
        monitor([value])
    assert (monitor.best, monitor.x, monitor.n_evaluations) == (2.5, [2.5], 6)
    assert [b for _, b in monitor.trace][1:] == [3.0, 2.5]
    falling = hivekit.Monitor(lambda x: x[0])
    for i in range(25_000):
        falling([float(25_000 - i)])
    trace = falling.trace
    assert len(trace) <= 10_000 and trace[-1] == (25_000, 1.0) and all(best == 25_001 - call for call, best in trace)


@pytest.mark.parametrize("call, error, match", [
    (lambda: hivekit.Monitor(abs, max_evaluations=0), ValueError, None),
    (lambda: hivekit.Monitor(abs, max_seconds=0), ValueError, None),
    (lambda: hivekit.Monitor(3), TypeError, None),
    (lambda: hivekit.expected_evaluations(hivekit.AntColony(), 3), TypeError, "does not fit an objective"),
    (lambda: hivekit.minimize(hivekit.PermutationGeneticOptimizer(), abs, LOWER, UPPER), TypeError, "does not fit an"),
    (lambda: hivekit.minimize(hivekit.ParticleSwarm(), hivekit.Monitor(abs), LOWER, UPPER, max_seconds=1.0), TypeError,
     "budgets"),
])
def test_bad_arguments_are_refused(call, error, match):
    with pytest.raises(error, match=match):
        call()


PROGRESS = """
import sys
if sys.argv[1] == "line":
    sys.modules["tqdm"] = None  # as if it were not installed
import hivekit
est = hivekit.DifferentialEvolution(n_iterations=200, random_state=0)
hivekit.minimize(est, hivekit.problems.sphere, [-5.0] * 3, [5.0] * 3, progress=True)
"""


@pytest.mark.parametrize("mode", ["line", "tqdm"])
def test_progress_shows_on_a_terminal_and_not_in_a_pipe(mode):
    if mode == "tqdm":
        pytest.importorskip("tqdm")
    piped = subprocess.run([sys.executable, "-c", PROGRESS, mode], capture_output=True, env=CHILD_ENV, timeout=60)
    assert (piped.returncode, piped.stderr) == (0, b"")
    shown, proc = on_terminal("-c", PROGRESS, mode)
    assert proc.returncode == 0 and b"8041/8041" in shown and b"best" in shown  # 40 * 201 calls and the probe


def vectorized_sphere(rows):
    # Column by column from 0.0, as the plain sphere adds: the same bits for every row.
    total = rows[:, 0] * 0.0
    for j in range(rows.shape[1]):
        total = total + rows[:, j] * rows[:, j]
    return total


def vectorized_for(name):
    np = pytest.importorskip("numpy")
    if name in PARETO_CLASSES:
        return hivekit.Vectorized(lambda rows: np.column_stack([vectorized_sphere(rows), vectorized_sphere(rows - 1.0)]))
    return hivekit.Vectorized(vectorized_sphere)


def watched(monitor):
    return (monitor.n_evaluations, monitor.best, monitor.x, monitor.trace, bits_of(monitor.last), monitor.stopped_by)


def bits_of(value):
    return None if value is None else [float(v) for v in value]


@pytest.mark.parametrize("name", BOX_CLASSES)
def test_a_monitor_around_a_wrapper_sees_what_it_sees_around_the_plain_objective(name):
    objective = objective_for(name)

    def run(wrapped, **budgets):
        est, monitor = sized(name, 5, n_iterations=6, random_state=4), hivekit.Monitor(wrapped, **budgets)
        try:
            est.fit(monitor, LOWER, UPPER)
        except hivekit.StopRun:
            pass
        return snapshot(est), watched(monitor), hasattr(monitor, "_hivekit_batch")

    with ThreadPoolExecutor(3) as pool:
        for budgets in ({"max_evaluations": 23}, {}):
            plain = run(objective, **budgets)
            assert plain[2] is False  # fit must not send batches to an objective that takes none
            for wrapped in (vectorized_for(name), hivekit.Parallel(objective, pool)):
                assert run(wrapped, **budgets) == plain[:2] + (True,), (wrapped, budgets)
    assert hivekit.expected_evaluations(sized(name, 5, n_iterations=6), 2) in (None, plain[1][0])


class Rows:
    """A batch objective noting the rows it was given, batch by batch; the value of a row is its first entry."""

    def __init__(self):
        self.batches = []

    def __call__(self, x):
        return x[0]

    def _hivekit_batch(self, data, n, d):
        rows = [list(r) for r in zip(*[iter(array.array("d", data))] * d)]
        assert len(rows) == n
        self.batches.append(rows)
        return [r[0] for r in rows]


def batch(monitor, *values):
    return monitor._hivekit_batch(bytearray(array.array("d", [v for x in values for v in (x, -x)])), len(values), 2)


def test_a_batch_meets_max_evaluations_exactly_the_other_budgets_after_it_and_counts_even_when_it_raises():
    inner = Rows()
    monitor = hivekit.Monitor(inner, max_evaluations=6)
    assert batch(monitor, 5.0, 3.0, 4.0) == [5.0, 3.0, 4.0]
    with pytest.raises(hivekit.StopRun, match="max_evaluations=6"):
        batch(monitor, 7.0, 2.0, 1.0, 0.5)  # only the three rows left are evaluated
    assert [len(b) for b in inner.batches] == [3, 3] and monitor.stopped_by == "max_evaluations"
    assert (monitor.n_evaluations, monitor.best, monitor.x, monitor.trace) == (6, 1.0, [1.0, -1.0], [(1, 5.0), (2, 3.0),
                                                                                                     (5, 2.0), (6, 1.0)])
    with pytest.raises(hivekit.StopRun):
        batch(monitor, 0.0)
    assert len(inner.batches) == 2

    monitor = hivekit.Monitor(Rows(), target=2.0)
    with pytest.raises(hivekit.StopRun, match="target"):
        batch(monitor, 3.0, 2.0, 9.0, 1.5)  # the whole batch is recorded before the fit stops
    assert (monitor.n_evaluations, monitor.best, monitor.trace) == (4, 1.5, [(1, 3.0), (2, 2.0), (4, 1.5)])

    monitor = hivekit.Monitor(hivekit.Parallel(lambda x: time.sleep(0.02) or x[0], ThreadPoolExecutor(1)),
                              max_seconds=0.01)
    assert batch(monitor, 1.0, 2.0) == [1.0, 2.0]  # the time runs out inside this batch, which is kept whole
    with pytest.raises(hivekit.StopRun, match="max_seconds"):
        batch(monitor, 0.0)
    assert monitor.n_evaluations == 2 and monitor.seconds >= 0.04
    monitor.objective.executor.shutdown()

    def halt(rows):
        raise KeyboardInterrupt

    monitor = hivekit.Monitor(hivekit.Vectorized(halt))  # a batch that raises still counts as evaluated
    with pytest.raises(KeyboardInterrupt):
        batch(monitor, 1.0, 2.0)
    assert (monitor.n_evaluations, monitor.best) == (2, None)

