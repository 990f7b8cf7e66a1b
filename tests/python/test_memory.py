"""Memory: sizes the machine cannot hold raise MemoryError, fits leak nothing, and arguments keep their reference counts."""

import json
import os
import subprocess
import sys
import textwrap

import pytest

import hivekit
from small_runs import (
    ALL_CLASSES,
    BOX_CLASSES,
    PARETO_CLASSES,
    POPULATION,
    SQUARE,
    TOUR_CLASSES,
    fit_args,
    make,
    objective_for,
    snapshot,
)

UNDER_ASAN = "libasan" in os.environ.get("LD_PRELOAD", "")


def too_large(name, size):
    """Keywords that make a fit of `name` ask for `size` rows (for simulated annealing, history entries)."""
    return {POPULATION[name] or "n_iterations": size}


def fit_args_of_dimension(name, dimension):
    if name in TOUR_CLASSES:
        return ([[1.0] * dimension for _ in range(dimension)],)
    return (objective_for(name), [0.0] * dimension, [1.0] * dimension)


@pytest.mark.parametrize("name", ALL_CLASSES)
@pytest.mark.parametrize("size", [10**15, 2**62, 2**64 - 1], ids=["1e15", "2^62", "2^64-1"])
def test_sizes_too_large_to_allocate_raise_memory_error_and_store_nothing(name, size):
    big = make(name, **too_large(name, size))
    # With four coordinates or cities, 2^62 rows overflow the number of cells.
    with pytest.raises(MemoryError):
        big.fit(*fit_args_of_dimension(name, 4))
    assert snapshot(big) == snapshot(make(name, **too_large(name, size)))


# Working sets that virtual memory would grant but physical memory cannot hold.
# The child runs under an address-space limit well below the machine's memory,
# so that a missing refusal fails the test instead of exhausting the machine
# (AddressSanitizer needs the address space, so then it runs without).

LARGER_THAN_MEMORY = textwrap.dedent(
    """
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

    # One array of the population's shape takes half the memory; every fit
    # keeps more than two of them.
    rows = physical // 16
    for name in ALL_CLASSES:
        keyword = POPULATION[name] or "n_iterations"
        size = rows if POPULATION[name] else physical // 8 + 1  # the history alone
        est = make(name, **{keyword: size})
        if name in TOUR_CLASSES:
            attempt(name, lambda: est.fit([[0.0] * 3] * 3))
        else:
            attempt(name, lambda: est.fit(objective_for(name), [0.0], [1.0]))

    # A thousand rows fit; a thousand rows (five hundred food sources for the
    # bee colony) of as many coordinates or cities as it takes to pass the
    # machine's memory do not, and the earlier results stay. A flat objective
    # keeps the first fit cheap.
    wide = physical // (32 * 500) + 1
    row = [1.0] * wide
    for name in ALL_CLASSES:
        if not POPULATION[name]:
            continue
        est = make(name, **{POPULATION[name]: 1000})
        if name in TOUR_CLASSES:
            est.fit(SQUARE)
            attempt(name + " after a fit", lambda: est.fit([row] * wide), est)
        else:
            flat = (lambda x: [1.0, 1.0]) if name in PARETO_CLASSES else (lambda x: 1.0)
            est.fit(flat, [0.0], [1.0])
            attempt(name + " after a fit", lambda: est.fit(flat, [0.0] * wide, row), est)

    # A matrix whose pheromone and weight arrays of its shape would not fit,
    # built from one shared row so that it costs nothing here.
    cities = math.isqrt(physical // 32) + 1
    row = [1.0] * cities
    matrix = [row] * cities
    for name in TOUR_CLASSES:
        attempt(name + " matrix", lambda: make(name).fit(matrix))
    attempt("two_opt matrix", lambda: hivekit.two_opt([0, 1], matrix))

    # Limits whose length alone is more than the fit could hold copies of.
    dimension = physical // 128 + 1
    attempt("box dimension", lambda: make("ParticleSwarm").fit(sum, range(dimension), range(1, dimension + 1)))
    attempt("tour length", lambda: hivekit.two_opt(range(dimension), [[0.0]]))
    """
)


def test_working_sets_larger_than_physical_memory_are_refused_before_allocating():
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    child = subprocess.run(
        [sys.executable, "-c", LARGER_THAN_MEMORY, "none" if UNDER_ASAN else "limit"],
        capture_output=True,
        text=True,
        env=env,
        timeout=120,
    )
    assert child.returncode == 0, child.stderr
    outcomes = [json.loads(line) for line in child.stdout.splitlines()]
    cases = [
        *ALL_CLASSES,
        *(name + " after a fit" for name in ALL_CLASSES if POPULATION[name]),
        *(name + " matrix" for name in TOUR_CLASSES),
        "two_opt matrix",
        "box dimension",
        "tour length",
    ]
    assert [case for case, *_ in outcomes] == cases
    for case, kind, message, untouched in outcomes:
        assert kind == "MemoryError" and message.endswith("bytes of physical memory"), (case, kind, message)
        assert untouched, case


class ClaimsToBeHuge:
    """An objective result whose length no fit could hold."""

    def __len__(self):
        return 2**60

    def __getitem__(self, i):
        return 0.0


@pytest.mark.parametrize("name", PARETO_CLASSES)
def test_an_objective_result_claiming_a_huge_length_fails_the_probe_and_is_a_failed_evaluation_later(name):
    with pytest.raises(MemoryError):
        make(name).fit(lambda x: ClaimsToBeHuge(), [0.0], [1.0])
    calls = []

    def objective(x):
        calls.append(1)
        return [0.0, 0.0] if len(calls) == 1 else ClaimsToBeHuge()

    est = make(name)
    est.fit(objective, [0.0], [1.0])
    assert len(calls) > 1 and est.predict()


# Leaks


def resident_kib():
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    pytest.skip("no VmRSS in /proc/self/status")


class Boom(Exception):
    pass


class Halt(BaseException):
    pass


def one_round(name, d):
    """A successful fit, failing fits along every path and every reader; returns the number of fits."""
    est = make(name, random_state=None)
    if name in TOUR_CLASSES:
        est.fit(*fit_args_of_dimension(name, d))
        failures = [([[0.0, 1.0]],), (["x"],), ([[0.0, "x"], [1.0, 0.0]],)]
    else:
        objective = objective_for(name)
        calls = []

        def halts(x):
            calls.append(1)
            if len(calls) == 3:  # the second evaluation of the run
                raise Halt()
            return objective(x)

        def raises(x):
            raise Boom()

        est.fit(objective, [-1.0] * d, [1.0] * d)
        failures = [
            (objective, [0.0] * d, [1.0] * (d + 1)),
            (objective, [0.0] * d, ["x"] * d),
            (raises, [0.0] * d, [1.0] * d),
            (halts, [0.0] * d, [1.0] * d),
            (lambda x: est.fit(objective, [0.0], [1.0]), [0.0] * d, [1.0] * d),
        ]
    for args in failures:
        with pytest.raises((ValueError, TypeError, RuntimeError, Boom, Halt)):
            est.fit(*args)
    with pytest.raises(MemoryError):
        make(name, **too_large(name, 10**15)).fit(*fit_args(name))
    snapshot(est)
    repr(est)
    return 2 + len(failures)


@pytest.mark.skipif(UNDER_ASAN, reason="AddressSanitizer keeps freed memory in quarantine")
def test_thousands_of_fits_of_every_class_keep_resident_memory_flat():
    for _ in range(10):  # the interpreter's own caches and pools settle first
        for name in ALL_CLASSES:
            one_round(name, 12)
    before = resident_kib()
    fits = sum(one_round(name, 12) for _ in range(200) for name in ALL_CLASSES)
    after = resident_kib()
    print(f"{fits} fits: resident memory {before} KiB before, {after} KiB after")
    assert after - before < 1024


# Reference counts


def refcounts(objects):
    return [sys.getrefcount(o) for o in objects]


@pytest.mark.parametrize("name", BOX_CLASSES)
def test_fits_of_box_classes_leave_the_reference_counts_of_their_arguments_as_they_were(name):
    result = [0.5, 0.25] if name in PARETO_CLASSES else 0.75
    limits = [[-1.0, -1.0], [1.0, 1.0], [-1.0, -1.0, -1.0], ["x", 1.0]]
    calls = []

    def objective(x):
        return result

    def fails_in_the_run(x):
        calls.append(1)
        if len(calls) > 1:
            raise Boom()
        return result

    def halts_in_the_run(x):
        calls.append(1)
        if len(calls) > 1:
            raise Halt()
        return result

    def fails_at_once(x):
        raise Boom()

    lower, upper, longer, text = limits
    cases = [
        ("success", (objective, lower, upper)),
        ("failed evaluations", (fails_in_the_run, lower, upper)),
        ("halted run", (halts_in_the_run, lower, upper)),
        ("probe failure", (fails_at_once, lower, upper)),
        ("box mismatch", (objective, longer, upper)),
        ("conversion failure", (objective, lower, text)),
    ]
    watched = [objective, fails_in_the_run, halts_in_the_run, fails_at_once, result, *limits, *lower, *text]
    counts = refcounts(watched)
    for case, args in cases:
        calls.clear()
        try:
            make(name).fit(*args)
        except (ValueError, TypeError, Boom, Halt):
            pass
        assert refcounts(watched) == counts, case
    with pytest.raises(MemoryError):
        make(name, **too_large(name, 10**15)).fit(objective, lower, upper)
    assert refcounts(watched) == counts


@pytest.mark.parametrize("name", TOUR_CLASSES)
def test_fits_of_tour_classes_and_two_opt_leave_the_reference_counts_of_their_arguments_as_they_were(name):
    good = [list(row) for row in SQUARE]
    ragged = [[0.0, 1.0], [1.0]]
    wrong = [[0.0, 1.0], [1.0, "x"]]
    tour = [0, 2, 1, 3]
    matrices = [good, ragged, wrong]
    watched = [*matrices, tour, *good, *ragged, *wrong]
    counts = refcounts(watched)
    for k in range(len(matrices)):
        try:
            make(name).fit(matrices[k])
        except (ValueError, TypeError):
            pass
        assert refcounts(watched) == counts
        try:
            hivekit.two_opt(tour, matrices[k])
        except (ValueError, TypeError):
            pass
        assert refcounts(watched) == counts
    with pytest.raises(MemoryError):
        make(name, **too_large(name, 10**15)).fit(good)
    assert refcounts(watched) == counts
