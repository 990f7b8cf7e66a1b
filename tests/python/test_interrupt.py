"""Ctrl-C stops a long fit of any class with KeyboardInterrupt and leaves the earlier results untouched.

The first test runs a long fit of each class in turn in one child process and
interrupts it while the objective runs. The second interrupts runs that go on
for long without calling the objective at all, one child per run, and times
how soon each stops. (The ant colony has its own test in test_tours.py.)"""

import os
import queue
import signal
import subprocess
import sys
import textwrap
import threading
import time

import pytest

from small_runs import BOX_CLASSES

# The fit must end this soon after the signal; it would otherwise run for
# minutes. Generous, since the child may share a loaded machine.
STOP_DEADLINE = 10.0

CHILD = textwrap.dedent(
    """
    import math, random, sys
    import hivekit
    from small_runs import PARETO_CLASSES, SQUARE, make, objective_for, snapshot

    ITERATIONS = 20000

    def announce():
        print("running", flush=True)

    def attempt(name, est, *args):
        before = snapshot(est)
        try:
            est.fit(*args)
        except KeyboardInterrupt:
            print(name, "interrupted", "untouched" if snapshot(est) == before else "changed", flush=True)
        else:
            print(name, "finished", flush=True)

    for name in sys.argv[1:]:
        # The earlier results come from the same number of iterations with a
        # fast objective written in C; the long fit's objective computes for a while.
        est = make(name, n_iterations=ITERATIONS)
        est.fit(tuple if name in PARETO_CLASSES else sum, [-1.0, -1.0], [1.0, 1.0])
        base = objective_for(name)
        calls = []

        def objective(x):
            calls.append(1)
            if len(calls) == 3:  # the probe and two evaluations of the run are done
                announce()
            for _ in range(20000):
                pass
            return base(x)

        attempt(name, est, objective, [-1.0, -1.0], [1.0, 1.0])

    # An objective written in C runs no bytecode of its own; here the
    # estimator is new, and must stay unfitted.
    est = make("ParticleSwarm", n_iterations=10**7)
    announce()
    attempt("builtin objective", est, sum, [-1.0, -1.0], [1.0, 1.0])

    rng = random.Random(0)
    points = [(rng.random(), rng.random()) for _ in range(400)]
    matrix = [[math.dist(a, b) for b in points] for a in points]
    est = make("PermutationGeneticOptimizer", n_individuals=20, n_iterations=ITERATIONS)
    est.fit(SQUARE)
    announce()
    attempt("PermutationGeneticOptimizer", est, matrix)
    """
)


def test_ctrl_c_stops_long_fits_of_every_class_and_keeps_earlier_results():
    expected = [*BOX_CLASSES, "builtin objective", "PermutationGeneticOptimizer"]
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    child = subprocess.Popen(
        [sys.executable, "-c", CHILD, *BOX_CLASSES],
        stdout=subprocess.PIPE,
        stderr=subprocess.PIPE,
        text=True,
        env=env,
    )
    lines = queue.Queue()
    threading.Thread(target=lambda: [lines.put(line.rstrip("\n")) for line in child.stdout], daemon=True).start()
    seen = []
    try:
        for name in expected:
            assert lines.get(timeout=60) == "running", name
            if name in ("builtin objective", "PermutationGeneticOptimizer"):
                threading.Event().wait(0.1)  # let the run get going: nothing announces it
            child.send_signal(signal.SIGINT)
            seen.append(lines.get(timeout=STOP_DEADLINE))
        child.wait(timeout=STOP_DEADLINE)
    except queue.Empty:
        child.kill()
        raise AssertionError(f"no answer after {seen}: {child.stderr.read()}") from None
    finally:
        child.kill()
    assert seen == [f"{name} interrupted untouched" for name in expected]
    assert child.returncode == 0


# Runs that spend most of their time without calling the objective: an empty
# swarm, fireflies and glowworms that never move, bacteria that only
# reproduce, fireflies that have settled on the sphere's minimum, a genetic
# run of one individual, a long 2-opt and the sorts of a large population.
# Each is an estimator (None for two_opt) and the arguments of the call.
QUIET_RUNS = {
    "empty swarm": ("hivekit.ParticleSwarm(n_particles=0, n_iterations=2**64 - 1)", "lambda x: 0.0, [0.0], [1.0]"),
    "still fireflies": ("hivekit.FireflyOptimizer(n_iterations=10**9)", "lambda x: 0.0, [0.0], [1.0]"),
    "still glowworms": ("hivekit.GlowwormOptimizer(n_iterations=10**9)", "lambda x: 0.0, [0.0], [1.0]"),
    "reproducing bacteria": (
        "hivekit.BacterialForagingOptimizer(n_iterations=10**9, n_chemotactic_steps=0, elimination_probability=0.0)",
        "lambda x: 0.0, [0.0], [1.0]",
    ),
    "settled fireflies": ("hivekit.FireflyOptimizer(n_iterations=10**7)", "sphere, [0.0] * 5, [1.0] * 5"),
    "one-individual genetic run": (
        "hivekit.PermutationGeneticOptimizer(n_individuals=1, n_iterations=3 * 10**7)",
        "SQUARE,",
    ),
    "long two_opt": ("None", "random.Random(1).sample(range(1000), 1000), cities(1000)"),
    "large Pareto population": (
        "hivekit.Nsga2Optimizer(n_individuals=8000, n_iterations=10**6)",
        "lambda x: (x[0], 1.0 - x[0]), [0.0], [1.0]",
    ),
}

# From the signal to the child's report.
STOP_BOUND = 0.2

QUIET_CHILD = textwrap.dedent(
    """
    import math, random, sys
    import hivekit
    from small_runs import SQUARE, snapshot, sphere

    def cities(n):
        rng = random.Random(0)
        points = [(rng.random(), rng.random()) for _ in range(n)]
        return [[math.dist(a, b) for b in points] for a in points]

    est = eval(sys.argv[1])
    args = eval(sys.argv[2])
    run = hivekit.two_opt if est is None else est.fit
    # An estimator made for a run this long cannot have been fitted before;
    # it must report exactly what an unfitted one does after the interrupt.
    before = est and snapshot(est)
    print("running", flush=True)
    try:
        run(*args)
    except KeyboardInterrupt:
        print("interrupted", "untouched" if (est and snapshot(est)) == before else "changed", flush=True)
    else:
        print("finished", flush=True)
    """
)


@pytest.mark.parametrize("estimator, args", QUIET_RUNS.values(), ids=QUIET_RUNS.keys())
def test_ctrl_c_soon_stops_runs_that_rarely_call_the_objective(estimator, args):
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    child = subprocess.Popen(
        [sys.executable, "-c", QUIET_CHILD, estimator, args],
        stdout=subprocess.PIPE,
        stderr=subprocess.PIPE,
        text=True,
        env=env,
    )
    lines = queue.Queue()
    threading.Thread(target=lambda: [lines.put(line) for line in child.stdout], daemon=True).start()
    try:
        assert lines.get(timeout=60) == "running\n"
        time.sleep(0.5)
        child.send_signal(signal.SIGINT)
        sent = time.monotonic()
        report = lines.get(timeout=STOP_DEADLINE)
        waited = time.monotonic() - sent
    except queue.Empty:
        report, waited = "no answer", None
    finally:
        child.kill()
        child.wait()
    assert (report, waited is not None and waited < STOP_BOUND) == ("interrupted untouched\n", True), (
        waited,
        child.stderr.read(),
    )
