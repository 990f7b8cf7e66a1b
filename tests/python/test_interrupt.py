"""Ctrl-C stops a long fit of any class with KeyboardInterrupt and leaves the earlier results untouched.

One child process runs a long fit of each class in turn; the test sends it
SIGINT while the run is under way and reads what the child saw. (The ant
colony has its own test in test_tours.py.)"""

import os
import queue
import signal
import subprocess
import sys
import textwrap
import threading

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
