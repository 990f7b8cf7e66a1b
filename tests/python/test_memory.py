"""Memory: sizes the machine cannot hold raise MemoryError, fits leak nothing, arguments keep their reference counts."""

import json
import os
import pathlib
import shutil
import subprocess
import sys

import pytest

import hivekit
from small_runs import (ALL_CLASSES, CHILD_ENV, PARETO_CLASSES, POPULATION, TOUR_CLASSES, UNDER_ASAN, Halt,
                        failing_fits, make, objective_for, snapshot)


FAILURES = (ValueError, TypeError, ZeroDivisionError, Halt)


def too_large(name, size):
    """Keywords that make a fit ask for `size` rows (for simulated annealing, history entries)."""
    return {POPULATION[name] or "n_iterations": size}


def shared(obj):
    """Whether obj is one of the small ints CPython keeps once for the whole process, whose reference count is not
    the caller's to watch: immortal from 3.12 on, and on 3.11 moved by whatever the interpreter itself does."""
    return type(obj) is int and -5 <= obj <= 256


def args_of_dimension(name, d):
    return ([[1.0] * d for _ in range(d)],) if name in TOUR_CLASSES else (objective_for(name), [0.0] * d, [1.0] * d)


# Working sets that virtual memory would grant but physical memory cannot hold. The child runs under an address-space
# limit well below the machine's memory, so that a missing refusal fails instead of exhausting the machine
# (AddressSanitizer needs the address space, so then it runs without).
LARGER_THAN_MEMORY = """
import json, math, os, resource, sys
physical = os.sysconf("SC_PHYS_PAGES") * os.sysconf("SC_PAGE_SIZE")
if sys.argv[1] == "limit":
    resource.setrlimit(resource.RLIMIT_AS, (physical // 4, physical // 4))
import hivekit
from small_runs import ALL_CLASSES, PARETO_CLASSES, POPULATION, SQUARE, TOUR_CLASSES, make, objective_for, snapshot

def attempt(case, call, est=None):
    before = None if est is None else snapshot(est)
    try:
        call()
        outcome = ["success", ""]
    except BaseException as e:
        outcome = [type(e).__name__, str(e)]
    print(json.dumps([case, *outcome, est is None or snapshot(est) == before]), flush=True)

wide = physical // (32 * 500) + 1
row = [1.0] * wide
for name in ALL_CLASSES:
    # One array of the population's shape takes half the memory (for simulated annealing, the history).
    est = make(name, **{POPULATION[name] or "n_iterations": physical // 16 if POPULATION[name] else physical // 8 + 1})
    attempt(name, lambda: est.fit(*([[[0.0] * 3] * 3] if name in TOUR_CLASSES else [objective_for(name), [0.0], [1.0]])))
    if POPULATION[name]:
        # A thousand rows fit; a thousand rows (five hundred food sources for the bee colony) as wide as it takes to
        # pass the memory do not, and the earlier results stay. A flat objective keeps the first fit cheap.
        est, flat = make(name, **{POPULATION[name]: 1000}), (lambda x: [1.0, 1.0]) if name in PARETO_CLASSES else (lambda x: 1.0)
        est.fit(*([SQUARE] if name in TOUR_CLASSES else [flat, [0.0], [1.0]]))
        attempt(name + " after a fit", lambda: est.fit(*([[row] * wide] if name in TOUR_CLASSES else [flat, [0.0] * wide, row])), est)

# A matrix whose arrays would not fit, built from one shared row so that it costs nothing here; limits and tours
# whose length alone is more than a fit could hold copies of.
cities = math.isqrt(physical // 32) + 1
matrix = [[1.0] * cities] * cities
for name in TOUR_CLASSES:
    attempt(name + " matrix", lambda: make(name).fit(matrix))
attempt("two_opt matrix", lambda: hivekit.two_opt([0, 1], matrix))
dimension = physical // 128 + 1
attempt("box dimension", lambda: make("ParticleSwarm").fit(sum, range(dimension), range(1, dimension + 1)))
attempt("tour length", lambda: hivekit.two_opt(range(dimension), [[0.0]]))
"""


def test_working_sets_larger_than_physical_memory_are_refused_before_allocating():
    child = subprocess.run([sys.executable, "-c", LARGER_THAN_MEMORY, "none" if UNDER_ASAN else "limit"],
                           capture_output=True, text=True, env=CHILD_ENV, timeout=120)
    assert child.returncode == 0, child.stderr
    outcomes = [json.loads(line) for line in child.stdout.splitlines()]
    cases = [case for name in ALL_CLASSES for case in [name] + [name + " after a fit"] * bool(POPULATION[name])]
    cases += [name + " matrix" for name in TOUR_CLASSES] + ["two_opt matrix", "box dimension", "tour length"]
    assert [case for case, *_ in outcomes] == cases
    for case, kind, message, untouched in outcomes:
        assert kind == "MemoryError" and message.endswith("bytes of physical memory") and untouched, (case, kind, message)


@pytest.mark.parametrize("name", PARETO_CLASSES)
def test_an_objective_result_claiming_a_huge_length_fails_the_probe_and_is_a_failed_evaluation_later(name):
    huge = type("ClaimsToBeHuge", (), {"__len__": lambda self: 2**60, "__getitem__": lambda self, i: 0.0})
    with pytest.raises(MemoryError):
        make(name).fit(lambda x: huge(), [0.0], [1.0])
    calls, est = [], make(name)
    est.fit(lambda x: calls.append(1) or ([0.0, 0.0] if len(calls) == 1 else huge()), [0.0], [1.0])
    assert len(calls) > 1 and est.predict()


def one_round(name, d):
    """A successful fit, then fits failing along every path, a refused size and every reader."""
    est = make(name, random_state=None)
    est.fit(*args_of_dimension(name, d))
    for args, *_ in failing_fits(name):
        try:
            est.fit(*args)
        except FAILURES:
            pass
    with pytest.raises(MemoryError):
        make(name, **too_large(name, 10**15)).fit(*args_of_dimension(name, d))
    snapshot(est), repr(est)


def resident_kib():
    with open("/proc/self/status") as status:
        return int(next(line for line in status if line.startswith("VmRSS:")).split()[1])


@pytest.mark.skipif(UNDER_ASAN, reason="AddressSanitizer keeps freed memory in quarantine")
def test_thousands_of_fits_of_every_class_keep_resident_memory_flat():
    for rounds in (10, 150):  # the interpreter's own caches and pools settle first
        before = resident_kib()
        for _ in range(rounds):
            for name in ALL_CLASSES:
                one_round(name, 12)
    assert resident_kib() - before < 1024


@pytest.mark.parametrize("name", ALL_CLASSES)
def test_fits_and_sizes_too_large_leave_results_and_reference_counts_of_their_arguments_as_they_were(name):
    cases = [args_of_dimension(name, 3), *(args for args, *_ in failing_fits(name))]
    watched = [obj for args in cases for arg in args for obj in [arg, *(arg if isinstance(arg, list) else [])]
               if not shared(obj)]
    counts = [sys.getrefcount(o) for o in watched]
    for args in cases:
        for run in [lambda: make(name).fit(*args)] + [lambda: hivekit.two_opt([0, 2, 1], args[0])] * (name in TOUR_CLASSES):
            try:
                run()
            except FAILURES:
                pass
        assert [sys.getrefcount(o) for o in watched] == counts, args
    for size in (10**15, 2**62, 2**64 - 1):  # with four coordinates or cities, 2^62 rows overflow the cell count
        big = make(name, **too_large(name, size))
        with pytest.raises(MemoryError):
            big.fit(*args_of_dimension(name, 4))
        assert snapshot(big) == snapshot(make(name, **too_large(name, size)))
        assert [sys.getrefcount(o) for o in watched] == counts


# Each call, made again and again with its first, second, third ... C++ allocation failing, until it makes fewer
# allocations than the one set to fail. Every attempt must end as the call ends without the failure or raise
# MemoryError (a fit leaving the earlier results as they were), never end the process.
FAILING_NEW_CALLS = """
import ctypes, json, math, pickle, sys
import numpy as np
import hivekit
from hivekit import _hivekit
from small_runs import ALL_CLASSES, SQUARE, TOUR_CLASSES, fit_args, fitted, make, plane, readers, snapshot

shim = ctypes.CDLL(sys.argv[1])
start_case, start_k = int(sys.argv[2]), int(sys.argv[3])

def of_class(name):
    est = fitted(name)
    calls = [(name + "()", lambda: make(name, random_state=None), None), ("repr " + name, lambda: repr(est), None),
             ("pickle " + name, lambda: pickle.loads(pickle.dumps(est)), None),
             (name + ".fit", lambda: est.fit(*fit_args(name)), est), (name + ".fit()", lambda: est.fit(), est)]
    calls += [(f"{name}.{reader}", read, None) for reader, read in readers(est).items()]
    if name in TOUR_CLASSES:
        refused = [[0.0, 1.0], [1.0, 0.0]] if name.startswith("Perm") else [[math.inf] * 4] * 4
        calls += [(name + ".fit numpy", lambda: est.fit(np.array(SQUARE)), est),
                  (name + ".fit refused", lambda: est.fit(refused), est)]
    else:
        calls.append((name + ".fit refused", lambda: est.fit(fit_args(name)[0], [], []), est))
    return calls

sphere, zdt1 = hivekit.NativeObjective("sphere"), hivekit.NativeObjective("zdt1")
swarm, sorting = fitted("ParticleSwarm"), fitted("Nsga2Optimizer")
cases = [call for name in ALL_CLASSES for call in of_class(name)] + [
    ("two_opt", lambda: hivekit.two_opt([0, 2, 1, 3], SQUARE), None),
    ("two_opt numpy", lambda: hivekit.two_opt([0, 2, 1, 3], np.array(SQUARE)), None),
    ("two_opt refused", lambda: hivekit.two_opt([0, 9], SQUARE), None),
    ("NativeObjective()", lambda: hivekit.NativeObjective("sphere", data=bytearray(8), dimension=2), None),
    ("NativeObjective call", lambda: sphere([0.5, 0.25]), None),
    ("NativeObjective call of two", lambda: zdt1([0.5, 0.25]), None),
    ("fit native", lambda: swarm.fit(sphere, [-1.0, -1.0], [1.0, 1.0]), swarm),
    ("fit native of two", lambda: sorting.fit(zdt1, [0.0, 0.0], [1.0, 1.0]), sorting),
    ("fit vectorized", lambda: swarm.fit(hivekit.Vectorized(lambda a: (a * a).sum(axis=1)), [-1.0] * 2, [1.0] * 2), swarm),
] + [("_plane_rows " + rule, lambda rule=rule: _hivekit._plane_rows([0.0, 3.0, 1.0], [0.0, 4.0, 9.0], rule), None)
     for rule in ("EUC_2D", "CEIL_2D", "ATT")]

def with_threads(call):
    def run():
        with hivekit.threads(2):
            call()
    return run

# Last, as a failure may leave the engine's threads running.
cases += [("set_threads", with_threads(lambda: None), None),
          ("fit native on threads", with_threads(lambda: swarm.fit(sphere, [-1.0, -1.0], [1.0, 1.0])), swarm),
          ("fit tour on threads", with_threads(lambda: fitted("AntColony").fit(plane(8))), None)]

def outcome(call):
    try:
        call()
        return "success"
    except BaseException as e:
        return type(e).__name__

for index, (label, call, est) in enumerate(cases[start_case:], start_case):
    expected = outcome(call)
    k = start_k if index == start_case else 1
    while True:
        print(json.dumps(["try", index, label, k]), flush=True)
        before = est and snapshot(est)
        shim.arm_failing_new(k)
        got = outcome(call)
        failed = shim.disarm_failing_new()
        if got not in (expected, "MemoryError") or (got == "MemoryError" and est and snapshot(est) != before):
            print(json.dumps(["wrong", label, k, got]), flush=True)
        if not failed:
            break
        k += 1
"""


@pytest.fixture(scope="module")
def failing_new(tmp_path_factory):
    compiler = shutil.which(os.environ.get("CXX", "g++")) or shutil.which("c++")
    if not compiler:
        pytest.skip("needs a C++ compiler")
    library = tmp_path_factory.mktemp("failing_new") / "failing_new.so"
    source = pathlib.Path(__file__).with_name("failing_new.cpp")
    subprocess.run([compiler, "-std=c++17", "-O1", "-shared", "-fPIC", "-o", str(library), str(source)], check=True)
    return library


@pytest.mark.skipif(UNDER_ASAN, reason="the sanitizer's operator new comes before any other")
def test_every_failing_allocation_raises_memory_error_and_leaves_the_estimator_as_it_was(failing_new):
    env = dict(CHILD_ENV, LD_PRELOAD=str(failing_new))
    wrong, start = [], ("0", "1")
    while True:  # after an abort, the next child resumes at the allocation after the one that ended the last
        child = subprocess.run([sys.executable, "-c", FAILING_NEW_CALLS, str(failing_new), *start],
                               capture_output=True, text=True, env=env, timeout=120)
        lines = [json.loads(line) for line in child.stdout.splitlines()]
        wrong += [line[1:] for line in lines if line[0] == "wrong"]
        if child.returncode == 0:
            break
        tried = [line for line in lines if line[0] == "try"]
        assert tried, child.stderr
        _, index, label, k = tried[-1]
        wrong.append([label, k, f"exit status {child.returncode}: {child.stderr.strip().splitlines()[-1:]}"])
        start = (str(index), str(k + 1))
    assert not wrong, "\n".join(map(str, wrong))
