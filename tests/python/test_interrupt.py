"""Ctrl-C soon stops a long fit of any class, on one engine thread or two, and runs that rarely call the objective,
with KeyboardInterrupt, and leaves the earlier results untouched."""

import queue
import signal
import time

import pytest

from small_runs import BOX_CLASSES, TOUR_CLASSES, UNDER_ASAN, child

STOP_DEADLINE = 10.0  # the fits would otherwise run for minutes; generous for a loaded machine
# From the signal to the report, for runs whose objective is not Python's. Under the sanitizer, reserving the
# history of 10**9 iterations poisons gigabytes of shadow memory before the loop can look for the signal.
STOP_BOUND = 5.0 if UNDER_ASAN else 0.2

# Runs that spend most of their time without calling the objective: an empty swarm, fireflies and glowworms that
# never move, bacteria that only reproduce, fireflies settled on the minimum, a genetic run of one individual, a
# long 2-opt and the sorts of a large population. Each is an estimator (None for two_opt) and the call's arguments;
# an estimator made for a run this long is unfitted, and stays so.
# The 2-opt starts from a random permutation of 2,000 cities, which takes over a second; one of 1,000 took a
# quarter of a second and could end before the signal came.
FLAT = "lambda x: 0.0, [0.0], [1.0]"
QUIET_RUNS = {
    "empty swarm": ("hivekit.ParticleSwarm(n_particles=0, n_iterations=2**64 - 1)", FLAT),
    "still fireflies": ("hivekit.FireflyOptimizer(n_iterations=10**9)", FLAT),
    "still glowworms": ("hivekit.GlowwormOptimizer(n_iterations=10**9)", FLAT),
    "reproducing bacteria": ("hivekit.BacterialForagingOptimizer(n_iterations=10**9, n_chemotactic_steps=0, elimination_probability=0.0)", FLAT),
    "settled fireflies": ("hivekit.FireflyOptimizer(n_iterations=10**7)", "sphere, [0.0] * 5, [1.0] * 5"),
    "one-individual genetic run": ("hivekit.PermutationGeneticOptimizer(n_individuals=1, n_iterations=3 * 10**7)", "SQUARE,"),
    "long two_opt": ("None", "random.Random(1).sample(range(2000), 2000), whole_plane(2000)"),
    "large Pareto population": ("hivekit.Nsga2Optimizer(n_individuals=8000, n_iterations=10**6)",
                                "lambda x: (x[0], 1.0 - x[0]), [0.0], [1.0]"),
}

CHILD = """
import random, sys
import hivekit
from small_runs import (BOX_CLASSES, PARETO_CLASSES, POPULATION, SQUARE, TOUR_CLASSES, make, objective_for, plane,
                        snapshot, sphere)

def whole_plane(n):  # in whole ten-thousandths, equal entries sharing one float: a large matrix in little memory
    share = {}
    return [[share.setdefault(d, d) for d in (float(round(1e4 * d)) for d in row)] for row in plane(n)]

def attempt(name, est, *args, announce=True):  # est None: two_opt
    before = est and snapshot(est)
    if announce:
        print("running", flush=True)
    try:
        (hivekit.two_opt if est is None else est.fit)(*args)
    except KeyboardInterrupt:
        print(name, "interrupted", "untouched" if (est and snapshot(est)) == before else "changed", flush=True)
    else:
        print(name, "finished", flush=True)

for name in BOX_CLASSES:
    # Earlier results from a fast objective written in C; the long fit's objective computes for a while.
    est = make(name, n_iterations=20000)
    est.fit(tuple if name in PARETO_CLASSES else sum, [-1.0, -1.0], [1.0, 1.0])
    base, calls = objective_for(name), []

    def objective(x):
        calls.append(1)
        if len(calls) == 3:  # the probe and two evaluations of the run are done
            print("running", flush=True)
        for _ in range(20000):
            pass
        return base(x)

    attempt(name, est, objective, [-1.0, -1.0], [1.0, 1.0], announce=False)

# An objective written in C runs no bytecode of its own; the estimator is new and must stay unfitted.
attempt("builtin objective", make("ParticleSwarm", n_iterations=10**7), sum, [-1.0, -1.0], [1.0, 1.0])
for label, (estimator, args) in eval(sys.argv[1]).items():
    attempt(label, eval(estimator), *eval(args))
# Stopped while the ants or the initial population are polished, on two threads side by side.
matrix = plane(400)
for threads in (1, 2):
    hivekit.set_threads(threads)
    for name in TOUR_CLASSES:
        est = make(name, **{POPULATION[name]: 20, "n_iterations": 20000})
        est.fit(SQUARE)
        attempt(f"{name} on {threads}", est, matrix)
"""


def test_ctrl_c_soon_stops_long_fits_of_every_class_and_quiet_runs_and_keeps_earlier_results():
    # Each run with the pause that lets it get going (nothing announces it) and whether it must stop soon.
    runs = [(name, 0.0, False) for name in BOX_CLASSES] + [("builtin objective", 0.1, True)]
    runs += [(label, 0.2, True) for label in QUIET_RUNS]
    runs += [(f"{name} on {threads}", 0.1, True) for threads in (1, 2) for name in TOUR_CLASSES]
    proc, lines = child("-c", CHILD, repr(QUIET_RUNS))
    seen = []
    try:
        for name, pause, soon in runs:
            assert lines.get(timeout=60) == "running", name
            time.sleep(pause)
            proc.send_signal(signal.SIGINT)
            sent = time.monotonic()
            seen.append((lines.get(timeout=STOP_DEADLINE), not soon or time.monotonic() - sent < STOP_BOUND))
        proc.wait(timeout=STOP_DEADLINE)
    except queue.Empty:
        raise AssertionError(f"no answer after {seen}: {proc.stderr.read()}") from None
    finally:
        proc.kill()
    assert seen == [(f"{name} interrupted untouched", True) for name, _, _ in runs] and proc.returncode == 0


# A native objective that raises SIGINT itself at its `data`-th call. The C-level handler only notes the signal,
# and a fit this short (a few calls, well under a millisecond) never looks for one while it runs: only the look
# that fit takes after the run, before storing, can see it.
SIGNALLING_OBJECTIVE = r"""
#include <signal.h>
#include <stddef.h>
double signalling(const double* x, size_t n, void* data) {
    long* countdown = (long*)data;
    if (--*countdown == 0) raise(SIGINT);
    return x[0];
}
"""


# At the probe (the first call), the signal comes before the run has begun: getting ready for it must not swallow
# what the handler raises. At the fifth, the very last call of the run.
@pytest.mark.parametrize("signalling_call", [1, 5], ids=["at the probe", "at the last evaluation"])
def test_a_signal_during_a_short_native_fit_stores_nothing(tmp_path, signalling_call):
    import ctypes
    import shutil
    import subprocess

    import hivekit

    compiler = shutil.which("cc") or shutil.which("gcc")
    if compiler is None:
        pytest.skip("no C compiler")
    source, library = tmp_path / "signalling.c", tmp_path / "libsignalling.so"
    source.write_text(SIGNALLING_OBJECTIVE)
    subprocess.run([compiler, "-O1", "-shared", "-fPIC", str(source), "-o", str(library)], check=True)
    function = ctypes.CDLL(str(library)).signalling
    est = hivekit.ParticleSwarm(n_particles=2, n_iterations=1, random_state=0)
    countdown = ctypes.c_long(signalling_call)  # the probe, two initial and two moved particles
    objective = hivekit.NativeObjective(function, countdown)
    with pytest.raises(KeyboardInterrupt):
        est.fit(objective, [0.0], [1.0])
        for _ in range(1000):  # without the look, the pending signal surfaces only here, after fit stored
            pass
    assert countdown.value == 0
    with pytest.raises(ValueError, match="before predict"):
        est.predict()
