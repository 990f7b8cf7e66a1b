"""Objectives written in C: every way of making one, fits identical to the same function called through Python,
the interpreter lock released (Ctrl-C, holds; threads in test_threads), errors, and the built-in problems: their
optima, boxes and fronts, and the same values as their Python definitions."""

import _thread
import ctypes
import gc
import itertools
import math
import pickle
import random
import struct
import threading
import time
import types
import weakref

import pytest

import hivekit
from hivekit import NativeObjective, problems
from hivekit._registry import CLASSES
from small_runs import readers, snapshot

SCALAR = ctypes.CFUNCTYPE(ctypes.c_double, ctypes.POINTER(ctypes.c_double), ctypes.c_size_t, ctypes.c_void_p)
VECTOR = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.POINTER(ctypes.c_double), ctypes.c_size_t,
                          ctypes.POINTER(ctypes.c_double), ctypes.c_size_t, ctypes.c_void_p)


def made_by_every_way(builtin):
    """The same C function as a native objective made from each kind of function pointer."""
    n = builtin.n_objectives
    ways = [builtin.address, ctypes.cast(builtin.address, VECTOR if n else SCALAR),
            types.SimpleNamespace(address=builtin.address)]
    cffi = pytest.importorskip("cffi")
    ways.append(cffi.FFI().cast("int(*)(double*, size_t, double*, size_t, void*)" if n else
                                "double(*)(double*, size_t, void*)", builtin.address))
    return [NativeObjective(f, n_objectives=n) for f in ways]


@pytest.mark.parametrize("info", [info for info in CLASSES if info.input == "box"], ids=lambda info: info.name)
def test_native_fit_equals_the_fit_through_python_bit_for_bit(info):
    native = problems.zdt1 if info.multi_objective else problems.one_max if info.probe == "zeros" else problems.rastrigin
    box = ([0.0] * 4, [1.0] * 4) if native is not problems.rastrigin else ([-3.0] * 4, [2.0] * 4)
    names = {p.name for p in info.params}
    settings = {k: v for k, v in dict(n_iterations=8, n_chemotactic_steps=2).items() if k in names}
    through_python = info.cls(**settings, random_state=7)
    through_python.fit(lambda x: native(x), *box)
    every_way = info.name in ("ParticleSwarm", "MopsoOptimizer", "BinaryParticleSwarm")
    # The engine's threads evaluate a batch's rows at once, without the interpreter: any number gives the same fit.
    runs = [(native, n) for n in (1, 2, 3)] + [(f, 1) for f in (made_by_every_way(native) if every_way else [])]
    for objective, n_threads in runs:
        est = info.cls(**settings, random_state=7)
        with hivekit.threads(n_threads):
            est.fit(objective, *box)
        assert snapshot(est) == snapshot(through_python), (objective, n_threads)


def test_ctypes_callback_with_data_sees_each_point_and_nan_passes_through():
    offset, seen = ctypes.c_double(0.25), []

    @SCALAR
    def shifted(x, n, data):
        point = [x[i] for i in range(n)]
        seen.append(point)
        return math.nan if point[0] > 0.5 else sum((v - ctypes.c_double.from_address(data).value) ** 2 for v in point)

    native = NativeObjective(shifted, offset)
    assert native([-0.75, 0.25]) == 1.0 and native.n_objectives is None and native.dimension is None
    runs = []
    for objective in (lambda x: native(x), native):
        seen.clear()
        est = hivekit.ParticleSwarm(n_particles=5, n_iterations=6, random_state=3)
        est.fit(objective, [-1.0, -1.0], [1.0, 1.0])
        runs.append((list(seen), snapshot(est)))
    assert runs[0] == runs[1] and runs[1][0][0] == [0.0, 0.0] and any(p[0] > 0.5 for p in runs[1][0])
    assert not math.isnan(est.score())


def test_ctrl_c_stops_a_long_native_fit_quickly_and_keeps_the_earlier_results():
    est = hivekit.ParticleSwarm(n_particles=50, n_iterations=10**9, random_state=0)
    threading.Timer(0.3, _thread.interrupt_main).start()  # fires only if the run releases the lock
    start = time.monotonic()
    with pytest.raises(KeyboardInterrupt):
        est.fit(problems.sphere, [-1.0] * 10, [1.0] * 10)
    assert time.monotonic() - start < 0.3 + 1.0
    assert snapshot(est) == snapshot(hivekit.ParticleSwarm(n_particles=50, n_iterations=10**9, random_state=0))


def test_the_hold_still_guards_an_estimator_while_its_native_fit_runs_unlocked():
    est = hivekit.ParticleSwarm(n_particles=3, n_iterations=4, random_state=0)
    running, checked, outcome = threading.Event(), threading.Event(), []

    @SCALAR
    def waits_once(x, n, data):
        if not running.is_set():
            running.set()
            checked.wait(10)
        return x[0]

    native = NativeObjective(waits_once)
    worker = threading.Thread(target=lambda: outcome.append(est.fit(native, [0.0], [1.0])))
    worker.start()
    assert running.wait(10)
    for read in readers(est).values():  # turned away, not kept waiting nor shown a half-written result
        with pytest.raises(RuntimeError, match="^Already mutably borrowed$"):
            read()
    with pytest.raises(RuntimeError, match="^Already borrowed$"):
        est.fit(native, [0.0], [1.0])
    checked.set()
    worker.join()
    assert outcome == [None] and est.score() == est.predict()[0]


SHIFTED = [name for name in problems.PROBLEM_NAMES if name.startswith("shifted_")]


def sample_points(n):
    rng = random.Random(n)
    points = [[rng.uniform(-6.0, 6.0) for _ in range(n)] for _ in range(40)]
    points += [[rng.random() for _ in range(n)] for _ in range(20)]
    points += [[v] * n for v in (0.0, 1.0, -1.0, 1e200, -1e-160, math.inf, math.nan)]
    return points + [[-2.0] + [0.0] * (n - 1), [0.5] + [-1.0 / 9.0] * (n - 1)]


def assert_native_computes_what_python_does(native, python, points):
    for point in points:
        try:
            expected = python(point)
        except (ArithmeticError, ValueError, IndexError):
            if native.n_objectives:
                with pytest.raises(ValueError):
                    native(point)
            else:
                assert native(point) == math.inf, point
            continue
        raw = [lambda v: struct.pack("<d", v), lambda v: struct.pack(f"<{len(v)}d", *v)][bool(native.n_objectives)]
        assert raw(native(point)) == raw(expected), point  # NaN payloads and signs included


@pytest.mark.parametrize("name", sorted(problems._PYTHON_DEFINITIONS))
def test_builtin_problems_compute_exactly_what_their_python_definitions_do(name):
    native, python = getattr(problems, name), problems._PYTHON_DEFINITIONS[name]
    for n in (1, 2, 3, 10):
        assert_native_computes_what_python_does(native, python, sample_points(n) + [[]] * (n == 1))


@pytest.mark.parametrize("name", SHIFTED)
def test_shifted_problems_and_fits_on_them_compute_exactly_what_their_python_definition_does(name):
    for n, instance in [(1, 0), (2, 0), (3, 1), (10, 0), (10, 2), (31, 0)]:
        p = problems.problem(name, n, instance)
        rng = random.Random(n + instance)
        inside = [[rng.uniform(lo, hi) for lo, hi in zip(p.lower, p.upper)] for _ in range(40)]
        near = [[s + rng.uniform(-1e-3, 1e-3) for s in p.solution] for _ in range(10)]
        points = sample_points(n) + inside + near + [p.solution]
        assert_native_computes_what_python_does(p.objective, p.objective._python_call, points)
    p = problems.problem(name, 6)
    through_python = hivekit.DifferentialEvolution(n_iterations=6, random_state=3)
    through_python.fit(lambda x: p.objective._python_call(x), p.lower, p.upper)
    for n_threads in (1, 2):  # the engine's threads call the C function at once, without the interpreter
        est = hivekit.DifferentialEvolution(n_iterations=6, random_state=3)
        with hivekit.threads(n_threads):
            est.fit(p.objective, p.lower, p.upper)
        assert snapshot(est) == snapshot(through_python)


@pytest.mark.parametrize("name", SHIFTED)
def test_shifted_problems_have_their_stated_optimum_off_centre_and_pickle(name):
    base = name[len("shifted_"):]
    for n, instance in [(1, 0), (2, 0), (5, 1), (10, 0), (30, 3)]:
        p = problems.problem(name, n, instance)
        f, plain = p.objective, problems.problem(base, n)
        assert p.name == f"shifted-{base}-{n}" + (f"#{instance}" if instance else "")
        assert (p.lower, p.upper, p.solution) == (plain.lower, plain.upper, f.shift)
        # The minimum keeps the value the base problem has at its own: 0, or ackley's rounding of its constants.
        assert f(p.solution) == plain.objective(plain.solution) <= p.optimum + 1e-15
        for lo, s, hi in zip(p.lower, p.solution, p.upper):  # off-centre, inside the box with a margin
            assert 0.1 * (hi - lo) - 1e-12 <= abs(s - (lo + hi) / 2) <= 0.4 * (hi - lo) + 1e-12
        rng = random.Random(n)
        steps = [[0.0] * i + [h] + [0.0] * (n - i - 1) for i in range(n) for h in (1e-3, -1e-3)]
        steps += [[rng.uniform(-1.0, 1.0) for _ in range(n)] for _ in range(20)]
        rises = [f([s + d for s, d in zip(p.solution, step)]) > f(p.solution) for step in steps]
        assert all(rises) if n > 1 or base != "rosenbrock" else not any(rises)  # rosenbrock-1 has no terms
        if base in ("rastrigin", "ackley"):  # turned by an orthogonal matrix
            r = f.rotation
            for i, j in itertools.product(range(n), repeat=2):
                assert math.fsum(a * b for a, b in zip(r[i], r[j])) == pytest.approx(float(i == j), abs=1e-12)
            x = [rng.uniform(lo, hi) for lo, hi in zip(p.lower, p.upper)]
            assert n == 1 or f(x) != getattr(problems, base)([a - s for a, s in zip(x, f.shift)])
        else:
            assert f.rotation is None
        copy = pickle.loads(pickle.dumps(f))
        assert type(copy) is problems.Shifted and (copy.base, copy.shift, copy.rotation) == (base, f.shift, f.rotation)
        x = [rng.uniform(lo, hi) for lo, hi in zip(p.lower, p.upper)]
        assert copy(x).hex() == f(x).hex()
    # Fixed by name, dimension and instance: made afresh it is the same, and another instance is another problem.
    first = problems.problem(name, 10)
    problems._standard_shift.cache_clear()
    fresh = problems.problem(name, 10)
    assert (fresh.solution, fresh.objective.rotation) == (first.solution, first.objective.rotation)
    assert problems.problem(name, 10, 1).solution != first.solution


def test_a_cycle_through_the_exporter_of_the_data_buffer_is_collected():
    exporter = type("Exporter", (bytearray,), {})(8)  # a buffer whose attributes can point back at it
    exporter.native = NativeObjective(problems.sphere.address, exporter)
    gone = weakref.ref(exporter)
    del exporter
    gc.collect()
    assert gone() is None


def test_a_ctypes_pointer_pointed_elsewhere_leaves_the_objective_reading_what_it_pointed_to():
    @SCALAR
    def first_of_data(x, n, data):
        return ctypes.c_double.from_address(data).value

    class Cell(ctypes.c_double):  # a ctypes object that a weak reference can watch
        pass

    class Holder(ctypes.Structure):
        _fields_ = [("cell", ctypes.POINTER(Cell))]

    alone, held = Cell(2.5), Cell(-4.0)
    pointer, holder = ctypes.pointer(alone), Holder(ctypes.pointer(held))
    natives = [NativeObjective(first_of_data, pointer), NativeObjective(first_of_data, holder.cell)]
    watched = [weakref.ref(alone), weakref.ref(held)]
    pointer.contents, holder.cell = Cell(7.0), ctypes.pointer(Cell(8.0))  # the pointers now own other cells
    del alone, held
    gc.collect()
    assert [w() is not None for w in watched] == [True, True]
    assert [native([0.0]) for native in natives] == [2.5, -4.0]
    est = hivekit.ParticleSwarm(n_particles=3, n_iterations=2, random_state=0)
    est.fit(natives[0], [0.0], [1.0])
    assert est.score() == 2.5
    del natives, est
    gc.collect()
    assert [w() for w in watched] == [None, None]  # and lets go of them with the objectives


@pytest.mark.parametrize("call, error, match", [
    (lambda: NativeObjective(0), ValueError, "must not be null"),
    (lambda: NativeObjective(problems.zdt1.address, n_objectives=0), ValueError, "n_objectives must be at least 1"),
    (lambda: NativeObjective("zdt1", n_objectives=3), ValueError, "has n_objectives 2"),
    (lambda: NativeObjective(1.5), TypeError, "function must be"),
    (lambda: NativeObjective(problems.sphere.address, 1.5), TypeError, "data must be"),
    (lambda: hivekit.MopsoOptimizer().fit(problems.sphere, [0.0], [1.0]), TypeError, "several objectives"),
    (lambda: hivekit.ParticleSwarm().fit(problems.zdt1, [0.0], [1.0]), TypeError, "one objective"),
    (lambda: hivekit.AntColony().fit(problems.sphere), TypeError, "not a native objective"),
    (lambda: hivekit.PermutationGeneticOptimizer().fit(problems.sphere), TypeError, "not a native objective"),
    (lambda: pickle.dumps(NativeObjective(problems.sphere.address)), TypeError, "cannot be pickled"),
    (lambda: problems.zdt1([-1.0, 0.0]), ValueError, "failed"),
    (lambda: NativeObjective("shifted_sphere"), ValueError, "needs its packed shift"),
    (lambda: NativeObjective("shifted_sphere", struct.pack("=qq2d", 3, 0, 1.0, 2.0)), ValueError, "does not hold"),
    (lambda: NativeObjective("shifted_ackley", struct.pack("=qq4d", 2, 1, 1.0, 2.0, 0.0, 1.0)), ValueError,
     "does not hold"),
    (lambda: NativeObjective("shifted_sphere", struct.pack("=qq2d", 2, 0, 1.0, 2.0), dimension=3), ValueError,
     "length of its shift"),
    (lambda: problems.problem("shifted_sphere", 3).objective([1.0, 2.0]), ValueError, "takes 3 coordinates"),
    (lambda: problems.Shifted("one_max", [1.0]), ValueError, "cannot shift"),
    (lambda: problems.Shifted("sphere", []), ValueError, "at least one"),
    (lambda: problems.Shifted("sphere", [1.0, 2.0], [[1.0, 0.0]]), ValueError, "2 x 2"),
    (lambda: problems.Shifted("sphere", [math.nan]), ValueError, "finite"),
    (lambda: problems.problem("rastrigin", 3, instance=1), ValueError, "only the shifted"),
    (lambda: problems.Shifted.standard("ackley", 0), ValueError, "at least 1"),
])
def test_mistakes_raise_clear_errors(call, error, match):
    with pytest.raises(error, match=match):
        call()


@pytest.mark.parametrize("name", problems.PROBLEM_NAMES)
def test_problem_reaches_its_optimum_at_its_solution_and_pickles(name):
    p = problems.problem(name)
    assert pickle.loads(pickle.dumps(p.objective))(p.solution) == p.objective(p.solution)  # for worker processes
    if p.n_objectives == 2:  # the optimum is the hypervolume of the true front within the box (1, 1)
        volume, prev = 0.0, 1.0
        for x, y in sorted(p.objective([i / 20000] + [0.0] * (p.dimension - 1)) for i in range(20001)):
            volume, prev = (volume + (prev - y) * max(1.0 - x, 0.0), y) if y < prev else (volume, prev)
        assert volume == pytest.approx(p.optimum, abs=2e-4)
        return
    assert len(p.lower) == len(p.upper) == len(p.solution) == p.dimension
    assert all(lo <= s <= hi for lo, s, hi in zip(p.lower, p.solution, p.upper))
    assert p.objective(p.solution) == pytest.approx(p.optimum, abs=1e-12)
    assert p.kind != "box" or p.objective([s + 0.5 for s in p.solution]) > p.optimum + 1e-6


def test_dimensions_gaps_sums_and_points_on_the_fronts():
    p = problems.problem("rastrigin", 3)
    assert p.name == "rastrigin-3" and p.lower == [-5.12] * 3 and p.upper == [5.12] * 3
    for name, dimension in [("nope", None), ("sphere", 0), ("knapsack", 5)]:
        with pytest.raises(ValueError):
            problems.problem(name, dimension)
    assert problems.problem("sphere").gap(0.5) == 0.5  # positive when worse, whichever way the problem points
    assert problems.problem("zdt1").gap(problems.problem("zdt1").optimum - 0.1) == pytest.approx(0.1)
    assert problems.sphere([1e8, 1.0, 1.0]) == 1e16  # 1e16 + 1 rounds back twice; a compensated sum keeps the 2
    for objective, f1, f2 in [(problems.zdt1, 0.25, 1.0 - math.sqrt(0.25)), (problems.zdt2, 0.5, 1.0 - 0.25),
                              (problems.zdt3, 0.05, 1.0 - math.sqrt(0.05) - 0.05 * math.sin(10.0 * math.pi * 0.05))]:
        assert objective([f1] + [0.0] * 9) == pytest.approx([f1, f2], abs=1e-15)
        off = objective([f1] + [0.5] * 9)
        assert off[0] == f1 and off[1] > f2


def test_bit_problems_and_the_knapsack_solver_native_and_in_python():
    assert problems.one_max([1.0, 0.0, 1.0, 0.0, 0.0]) == 3.0
    small = problems.Knapsack([3, 4, 5], [30.0, 50.0, 60.0], 8)  # minus the value, or the excess weight
    assert [small(c) for c in ([1.0, 0.0, 1.0], [1.0, 1.0, 1.0], [0.0, 0.0, 0.0])] == [-90.0, 4.0, 0.0]
    k = problems.Knapsack([12, 7, 11, 8, 9, 6, 14, 5, 10, 13], [24, 13, 23, 15, 16, 11, 30, 9, 19, 26], 40)
    brute = min(k([float(b) for b in bits]) for bits in itertools.product((0, 1), repeat=10))
    assert -k.best_value() == brute == k(k.best_choice())
    k, rng = problems.knapsack_instance(), random.Random(5)
    for _ in range(200):
        choice = [float(rng.random() < 0.6) for _ in k.weights]
        assert k(choice).hex() == k._python_call(choice).hex()
    copy = pickle.loads(pickle.dumps(k))
    assert type(copy) is problems.Knapsack and copy(k.best_choice()) == -k.best_value()
    for call, match in [(lambda: hivekit.BinaryParticleSwarm().fit(k, [0.0] * 3, [1.0] * 3), "takes 24 coordinates"),
                        (lambda: problems.Knapsack([2**62], [1.0], 1), "2\\*\\*62"),
                        (lambda: problems.Knapsack([1.5], [1.0], 3), None)]:  # weights are whole and not too large
        with pytest.raises(ValueError, match=match):
            call()
