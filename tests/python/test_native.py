"""Objectives written in C: every way of making one, fits identical to the same function called through
Python, the interpreter lock released (threads, Ctrl-C), the built-in problems against their Python
definitions, and the errors."""

import _thread
import ctypes
import math
import pickle
import random
import struct
import threading
import time
import types

import pytest

import hivekit
from hivekit import NativeObjective, problems
from hivekit._registry import CLASSES

BOX = [info for info in CLASSES if info.input == "box"]
SCALAR = ctypes.CFUNCTYPE(ctypes.c_double, ctypes.POINTER(ctypes.c_double), ctypes.c_size_t, ctypes.c_void_p)
VECTOR = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.POINTER(ctypes.c_double), ctypes.c_size_t,
                          ctypes.POINTER(ctypes.c_double), ctypes.c_size_t, ctypes.c_void_p)


def small(info, **extra):
    """An estimator of the class making a few hundred evaluations."""
    names = {p.name for p in info.params}
    settings = {k: v for k, v in dict(n_iterations=8, n_chemotactic_steps=2).items() if k in names}
    return info.cls(**settings, **extra, random_state=7)


def made_by_every_way(builtin):
    """The same C function as a native objective made from each kind of function pointer."""
    n_objectives = builtin.n_objectives
    signature = "int(*)(double*, size_t, double*, size_t, void*)" if n_objectives else "double(*)(double*, size_t, void*)"
    ways = {
        "address": builtin.address,
        "ctypes": ctypes.cast(builtin.address, VECTOR if n_objectives else SCALAR),
        "dotted address": types.SimpleNamespace(address=builtin.address),
    }
    try:
        import cffi
    except ImportError:
        pass
    else:
        ways["cffi"] = cffi.FFI().cast(signature, builtin.address)
    return {way: NativeObjective(f, n_objectives=n_objectives) for way, f in ways.items()}


def fitted(est):
    return (est.score(), est.predict(), est.population_, getattr(est, "history_", None))


def objective_for(info):
    if info.multi_objective:
        return problems.zdt1
    return problems.one_max if info.probe == "zeros" else problems.rastrigin


@pytest.mark.parametrize("info", BOX, ids=lambda info: info.name)
def test_native_fit_equals_the_fit_through_python_bit_for_bit(info):
    native = objective_for(info)
    box = ([0.0] * 4, [1.0] * 4) if info.multi_objective or info.probe == "zeros" else ([-3.0] * 4, [2.0] * 4)
    through_python = small(info)
    through_python.fit(lambda x: native(x), *box)
    ways = made_by_every_way(native) if info.name in ("ParticleSwarm", "MopsoOptimizer", "BinaryParticleSwarm") else {}
    for way, objective in {"built-in": native, **ways}.items():
        est = small(info)
        est.fit(objective, *box)
        assert repr(fitted(est)) == repr(fitted(through_python)), way


def test_ctypes_callback_with_data_sees_each_point_and_nan_passes_through():
    offset = ctypes.c_double(0.25)
    seen = []

    @SCALAR
    def shifted(x, n, data):
        point = [x[i] for i in range(n)]
        seen.append(point)
        value = sum((v - ctypes.c_double.from_address(data).value) ** 2 for v in point)
        return math.nan if point[0] > 0.5 else value

    native = NativeObjective(shifted, offset)
    assert native([-0.75, 0.25]) == 1.0 and native.n_objectives is None and native.dimension is None
    seen.clear()
    via_python = hivekit.ParticleSwarm(n_particles=5, n_iterations=6, random_state=3)
    via_python.fit(lambda x: native(x), [-1.0, -1.0], [1.0, 1.0])
    calls_through_python, seen[:] = list(seen), []
    est = hivekit.ParticleSwarm(n_particles=5, n_iterations=6, random_state=3)
    est.fit(native, [-1.0, -1.0], [1.0, 1.0])
    assert seen == calls_through_python and seen[0] == [0.0, 0.0]
    assert any(p[0] > 0.5 for p in seen) and not math.isnan(est.score())
    assert fitted(est) == fitted(via_python)


def test_numba_cfunc_is_a_native_objective():
    numba = pytest.importorskip("numba")

    @numba.cfunc(numba.types.float64(numba.types.CPointer(numba.types.float64), numba.types.uintp,
                                     numba.types.voidptr))
    def square_sum(x, n, data):
        total = 0.0
        for i in range(n):
            total += x[i] * x[i]
        return total

    native = NativeObjective(square_sum)
    assert native([3.0, 4.0]) == 25.0
    runs = []
    for objective in (native, lambda x: native(x)):
        est = hivekit.DifferentialEvolution(n_iterations=20, random_state=1)
        est.fit(objective, [-1.0] * 3, [1.0] * 3)
        runs.append(fitted(est))
    assert runs[0] == runs[1]


def test_ctrl_c_stops_a_long_native_fit_quickly_and_keeps_the_earlier_results():
    est = hivekit.ParticleSwarm(n_particles=50, n_iterations=10**9, random_state=0)
    timer = threading.Timer(0.3, _thread.interrupt_main)
    timer.start()
    start = time.monotonic()
    with pytest.raises(KeyboardInterrupt):
        est.fit(problems.sphere, [-1.0] * 10, [1.0] * 10)
    # The timer could only fire because the lock was released during the run.
    assert time.monotonic() - start < 0.3 + 1.0
    with pytest.raises(ValueError, match="must call fit"):
        est.score()


def test_two_threads_fit_at_once_with_the_results_each_gives_alone():
    def run(cls, objective, seed, box):
        est = cls(n_iterations=300, random_state=seed)
        est.fit(objective, *box)
        return fitted(est)

    jobs = [(hivekit.ParticleSwarm, problems.ackley, 1, ([-5.0] * 8, [5.0] * 8)),
            (hivekit.Nsga2Optimizer, problems.zdt2, 2, ([0.0] * 8, [1.0] * 8))]
    alone = [run(*job) for job in jobs]
    together = [None, None]
    threads = [threading.Thread(target=lambda i=i: together.__setitem__(i, run(*jobs[i]))) for i in range(2)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert together == alone


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
    with pytest.raises(RuntimeError, match="Already mutably borrowed"):
        est.score()
    with pytest.raises(RuntimeError, match="Already borrowed"):
        est.fit(native, [0.0], [1.0])
    checked.set()
    worker.join()
    assert outcome == [None] and est.score() == est.predict()[0]


def special_points(n):
    rng = random.Random(n)
    points = [[rng.uniform(-6.0, 6.0) for _ in range(n)] for _ in range(40)]
    points += [[rng.random() for _ in range(n)] for _ in range(20)]
    points += [[0.0] * n, [1.0] * n, [-1.0] * n, [1e200] * n, [-1e-160] * n, [math.inf] * n, [math.nan] * n]
    points += [[-2.0] + [0.0] * (n - 1), [0.5] + [-1.0 / 9.0] * (n - 1)]
    return points


def bits_of(value):
    return struct.pack("<d", value)


@pytest.mark.parametrize("name", sorted(problems._PYTHON_DEFINITIONS))
def test_builtin_problems_compute_exactly_what_their_python_definitions_do(name):
    native, python = getattr(problems, name), problems._PYTHON_DEFINITIONS[name]
    for n in (0, 1, 2, 3, 10):
        for point in special_points(n) if n else [[]]:
            try:
                expected = python(point)
            except (ArithmeticError, ValueError, IndexError):
                if native.n_objectives:
                    with pytest.raises(ValueError):
                        native(point)
                else:
                    assert native(point) == math.inf, point
                continue
            got = native(point)
            assert [bits_of(v) for v in (got if native.n_objectives else [got])] == \
                [bits_of(v) for v in (expected if native.n_objectives else [expected])], point


def test_knapsack_is_native_and_keeps_its_python_values():
    k = problems.knapsack_instance()
    rng = random.Random(5)
    for _ in range(200):
        choice = [float(rng.random() < 0.6) for _ in k.weights]
        assert bits_of(k(choice)) == bits_of(k._python_call(choice))
    copy = pickle.loads(pickle.dumps(k))
    assert type(copy) is problems.Knapsack and copy(k.best_choice()) == -k.best_value()
    with pytest.raises(ValueError, match="takes 24 coordinates"):
        hivekit.BinaryParticleSwarm().fit(k, [0.0] * 3, [1.0] * 3)
    with pytest.raises(ValueError, match="2\\*\\*62"):
        problems.Knapsack([2**62], [1.0], 1)


def test_mistakes_raise_clear_errors():
    sphere, zdt1 = problems.sphere, problems.zdt1
    with pytest.raises(ValueError, match="must not be null"):
        NativeObjective(0)
    with pytest.raises(ValueError, match="n_objectives must be at least 1"):
        NativeObjective(zdt1.address, n_objectives=0)
    with pytest.raises(ValueError, match="has n_objectives 2"):
        NativeObjective("zdt1", n_objectives=3)
    with pytest.raises(TypeError, match="function must be"):
        NativeObjective(1.5)
    with pytest.raises(TypeError, match="data must be"):
        NativeObjective(sphere.address, 1.5)
    with pytest.raises(TypeError, match="several objectives"):
        hivekit.MopsoOptimizer().fit(sphere, [0.0], [1.0])
    with pytest.raises(TypeError, match="one objective"):
        hivekit.ParticleSwarm().fit(zdt1, [0.0], [1.0])
    for info in CLASSES:
        if info.input == "tour":
            with pytest.raises(TypeError, match="not a native objective"):
                info.cls().fit(sphere)
    with pytest.raises(TypeError, match="cannot be pickled"):
        pickle.dumps(NativeObjective(sphere.address))
    with pytest.raises(ValueError, match="failed"):
        zdt1([-1.0, 0.0])
