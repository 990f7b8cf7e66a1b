"""hivekit.Monitor, minimize and expected_evaluations: counts, budgets, the best so far, progress output."""

import fcntl
import math
import os
import pty
import struct
import subprocess
import sys
import termios
import time

import pytest

import hivekit
from hivekit import __main__ as cli
from small_runs import BOX_CLASSES, PARETO_CLASSES, POPULATION, objective_for, snapshot

LOWER, UPPER = [-1.0, -1.0], [2.0, 2.0]  # the probe at the centre is not the optimum


def recording(objective, seen, nan_every=0):
    """objective, noting every call's (position, value); with nan_every, the first call and every
    nan_every-th one return NaN instead."""
    def plain(x):
        value = objective(x)
        if nan_every and len(seen) % nan_every == 0:
            value = math.nan
        seen.append((list(x), value))
        return value
    return plain


def sizes(name, n):
    """Keywords setting the population of a class to n (the classes without one ignore it)."""
    key = POPULATION[name]
    return {} if key is None else {key: n}


def best_of(values):
    numbers = [v for v in values if not math.isnan(v)]
    return min(numbers) if numbers else math.nan


@pytest.mark.parametrize("name", BOX_CLASSES)
def test_expected_evaluations_match_the_calls_made(name):
    cls = getattr(hivekit, name)
    for n, iterations, dimension in [(1, 2, 1), (5, 0, 3), (6, 3, 2), (9, 4, 1)]:
        est = cls(**sizes(name, n), n_iterations=iterations, random_state=3)
        seen = []
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
            cls(**sizes(name, 6), n_iterations=30, random_state=seed).fit(recording(objective_for(name), seen),
                                                                          LOWER, UPPER)
            counts.add(len(seen))
        assert len(counts) > 1


@pytest.mark.parametrize("name", BOX_CLASSES)
def test_monitor_sees_what_a_plain_wrapper_sees(name):
    seen = []
    monitor = hivekit.Monitor(recording(objective_for(name), seen, nan_every=0 if name in PARETO_CLASSES else 7))
    getattr(hivekit, name)(**sizes(name, 6), n_iterations=5, random_state=1).fit(monitor, LOWER, UPPER)
    assert monitor.n_evaluations == len(seen) and monitor.stopped_by is None and monitor.seconds > 0
    if name in PARETO_CLASSES:
        assert monitor.last == seen[-1][1] and monitor.best is None and monitor.x is None and monitor.trace == []
        return
    values = [v for _, v in seen]
    assert monitor.best == best_of(values)
    assert monitor.x == seen[values.index(monitor.best)][0]
    # The staircase gives the best after every call; the first call returned NaN, which no number leaves.
    trace = monitor.trace
    for k in range(1, len(values) + 1):
        step = [b for c, b in trace if c <= k][-1]
        assert step == best_of(values[:k]) or (math.isnan(step) and k == 1), k
    assert [c for c, _ in trace] == sorted({c for c, _ in trace})


@pytest.mark.parametrize("name", BOX_CLASSES)
def test_budgets_stop_the_fit_and_keep_the_earlier_results(name):
    objective = objective_for(name)
    est = getattr(hivekit, name)(n_iterations=50, random_state=5)
    seen = []
    est.fit(recording(objective, seen), LOWER, UPPER)
    before = snapshot(est)
    values = [v for _, v in seen]

    def stopped(monitor, reason):
        with pytest.raises(hivekit.StopRun) as caught:
            est.fit(monitor, LOWER, UPPER)
        assert caught.value.reason == monitor.stopped_by == reason
        assert snapshot(est) == before
        return monitor

    calls = []
    monitor = stopped(hivekit.Monitor(recording(objective, calls), max_evaluations=33), "max_evaluations")
    assert monitor.n_evaluations == len(calls) == 33
    # A spent monitor stops the next fit at its probe call.
    stopped(monitor, "max_evaluations")
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
def test_minimize_reports_the_estimators_results_or_the_monitors_best(name):
    objective = objective_for(name)
    est = getattr(hivekit, name)(**sizes(name, 6), n_iterations=10, random_state=2)
    seen = []
    done = hivekit.minimize(est, recording(objective, seen), LOWER, UPPER)
    assert (done.x, done.fun, done.stopped_by, done.estimator) == (est.predict(), est.score(), None, est)
    assert done.n_evaluations == len(seen)
    seen = []
    cut = hivekit.minimize(est, recording(objective, seen), LOWER, UPPER, max_evaluations=9)
    assert (cut.n_evaluations, cut.stopped_by, cut.estimator.score()) == (9, "max_evaluations", done.fun)
    if name in PARETO_CLASSES:
        assert cut.x is None and cut.fun is None
    else:
        values = [v for _, v in seen]
        assert cut.fun == min(values) and cut.x == seen[values.index(cut.fun)][0] and cut.trace[-1][1] == cut.fun


def test_ctrl_c_propagates_and_the_callers_monitor_keeps_the_best():
    est = hivekit.DifferentialEvolution(n_iterations=20, random_state=0)
    est.fit(hivekit.problems.sphere, LOWER, UPPER)
    before = snapshot(est)
    seen = []
    plain = recording(hivekit.problems.rosenbrock, seen)

    def interrupted(x):
        if len(seen) == 50:
            raise KeyboardInterrupt
        return plain(x)

    monitor = hivekit.Monitor(interrupted)
    with pytest.raises(KeyboardInterrupt):
        hivekit.minimize(est, monitor, LOWER, UPPER)
    values = [v for _, v in seen]
    assert monitor.n_evaluations == 51 and monitor.best == min(values) and monitor.stopped_by is None
    assert snapshot(est) == before


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
    assert len(trace) <= 10_000 and trace[-1] == (25_000, 1.0)
    assert all(best == 25_001 - call for call, best in trace)


def test_bad_arguments_are_refused():
    for kwargs, error in [({"max_evaluations": 0}, ValueError), ({"max_evaluations": 2.0}, TypeError),
                          ({"max_seconds": 0}, ValueError), ({"max_seconds": "1"}, TypeError),
                          ({"target": math.nan}, ValueError)]:
        with pytest.raises(error):
            hivekit.Monitor(abs, **kwargs)
    with pytest.raises(TypeError):
        hivekit.Monitor(3)
    with pytest.raises(TypeError, match="does not fit an objective"):
        hivekit.expected_evaluations(hivekit.AntColony(), 3)
    with pytest.raises(ValueError):
        hivekit.expected_evaluations(hivekit.ParticleSwarm(), 0)
    with pytest.raises(TypeError, match="does not fit an objective"):
        hivekit.minimize(hivekit.PermutationGeneticOptimizer(), abs, LOWER, UPPER)
    with pytest.raises(TypeError, match="budgets"):
        hivekit.minimize(hivekit.ParticleSwarm(), hivekit.Monitor(abs), LOWER, UPPER, max_seconds=1.0)
    with pytest.raises(TypeError, match="unexpected"):
        hivekit.minimize(hivekit.ParticleSwarm(), abs, LOWER, UPPER, max_iterations=3)


PROGRESS_SCRIPT = """
import sys
if sys.argv[1] == "line":
    sys.modules["tqdm"] = None  # as if it were not installed
import hivekit
est = hivekit.DifferentialEvolution(n_iterations=200, random_state=0)
hivekit.minimize(est, hivekit.problems.sphere, [-5.0] * 3, [5.0] * 3, progress=True)
"""


def run_progress(mode, terminal):
    command = [sys.executable, "-c", PROGRESS_SCRIPT, mode]
    if not terminal:
        return subprocess.run(command, capture_output=True, timeout=60).stderr
    primary, secondary = pty.openpty()
    fcntl.ioctl(secondary, termios.TIOCSWINSZ, struct.pack("HHHH", 24, 100, 0, 0))  # a real terminal's size
    try:
        proc = subprocess.run(command, stdout=subprocess.PIPE, stderr=secondary, timeout=60)
        os.close(secondary)
        seen = b""
        while True:
            try:
                chunk = os.read(primary, 4096)
            except OSError:
                break
            if not chunk:
                break
            seen += chunk
    finally:
        os.close(primary)
    assert proc.returncode == 0
    return seen


@pytest.mark.parametrize("mode", ["line", "tqdm"])
def test_progress_shows_on_a_terminal_and_not_in_a_pipe(mode):
    if mode == "tqdm":
        pytest.importorskip("tqdm")
    assert run_progress(mode, terminal=False) == b""
    shown = run_progress(mode, terminal=True)
    assert b"8041/8041" in shown and b"best" in shown  # 40 * 201 calls and the probe


def test_every_single_objective_table_run_draws_a_curve():
    for run in cli.DEMO:
        row = cli.run_demo(run, seed=0, quick=True)
        if run.problem.startswith("tsp:") or row.problem.startswith("zdt"):
            assert row.curve == []
            continue
        gaps = [gap for _, gap in row.curve]
        assert len(gaps) > 2 and gaps == sorted(gaps, reverse=True) and len(set(gaps)) == len(gaps), run
        assert row.curve[-1][0] <= row.evaluations
