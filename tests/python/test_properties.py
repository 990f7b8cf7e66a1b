"""Generated inputs at every entry point.

Whatever the keywords, limits, matrices, tours or objectives, a call either
succeeds or raises one of the documented exceptions (or the user's own
exception from a hook the library called), the process survives, and a failed
fit leaves the earlier results bit for bit as they were."""

import collections
import inspect
import math
import re
import time

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import hivekit
from small_runs import (
    ALL_CLASSES,
    BOX_CLASSES,
    PARETO_CLASSES,
    POPULATION,
    TOUR_CLASSES,
    fit_args,
    fitted,
    make,
    objective_for,
    snapshot,
)
from vectors import bits

np = pytest.importorskip("numpy")

settings.register_profile(
    "reliability",
    max_examples=300,
    deadline=None,
    database=None,
    derandomize=True,
    suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large],
)
PROFILE = settings.get_profile("reliability")

CASES = collections.Counter()


@pytest.fixture(scope="module", autouse=True)
def report_case_count(request):
    yield
    plugins = request.config.pluginmanager
    reporter, capture = plugins.get_plugin("terminalreporter"), plugins.get_plugin("capturemanager")
    if reporter is None or capture is None:
        return
    line = "generated cases run: " + ", ".join(f"{k} {v}" for k, v in sorted(CASES.items()))
    with capture.global_and_fixture_disabled():
        reporter.write_line(f"\n{line}; total {sum(CASES.values())}")


class Boom(Exception):
    """Raised by user hooks; must reach the caller unchanged where a hook's failure is reported."""


class Halt(BaseException):
    """Outside the Exception hierarchy: stops a run from any evaluation."""


class IndexRaises:
    def __index__(self):
        raise Boom("__index__")


class FloatRaises:
    def __float__(self):
        raise Boom("__float__")


class IndexOf:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value

    def __repr__(self):
        return f"IndexOf({self.value!r})"


class FloatOf:
    def __init__(self, value):
        self.value = value

    def __float__(self):
        return self.value

    def __repr__(self):
        return f"FloatOf({self.value!r})"


class Lying:
    """A sequence whose length is not the number of items it serves."""

    def __init__(self, claimed, items):
        self.claimed, self.items = claimed, items

    def __len__(self):
        return self.claimed

    def __getitem__(self, i):
        return self.items[i]

    def __repr__(self):
        return f"Lying({self.claimed}, {self.items!r})"


class LenRaises:
    def __len__(self):
        raise Boom("__len__")

    def __getitem__(self, i):
        return 0.0


class GetitemRaises:
    def __len__(self):
        return 2

    def __getitem__(self, i):
        raise Boom("__getitem__")


HOOK_EXCEPTIONS = (Boom, IndexError)

floats = st.floats(allow_nan=True, allow_infinity=True)
small_floats = st.floats(-10, 10)
huge_ints = st.sampled_from([2**64 - 1, 2**64, 2**100, -(2**63), 10**400])
numpy_scalars = st.sampled_from(
    [np.int64(3), np.uint64(2**64 - 1), np.int8(-1), np.float64("nan"), np.float32(1.5), np.bool_(True)]
)
hook_scalars = st.one_of(
    st.just(IndexRaises()),
    st.just(FloatRaises()),
    st.builds(IndexOf, st.one_of(st.integers(-5, 5), huge_ints)),
    st.builds(FloatOf, st.one_of(floats, st.just("x"))),
)
wild_scalars = st.one_of(
    st.integers(-(2**70), 2**70),
    huge_ints,
    floats,
    st.booleans(),
    st.none(),
    st.text(max_size=3),
    numpy_scalars,
    hook_scalars,
    st.lists(st.integers(0, 3), max_size=2),
)


def parameter_kinds(name):
    """Each constructor parameter with the kind its default shows."""
    kinds = {}
    for p in inspect.signature(getattr(hivekit, name)).parameters.values():
        default = p.default
        if p.name == "random_state":
            kinds[p.name] = "seed"
        elif isinstance(default, bool):
            kinds[p.name] = "flag"
        elif isinstance(default, int):
            kinds[p.name] = "size"
        elif isinstance(default, float):
            kinds[p.name] = "real"
        else:
            kinds[p.name] = "text"
    return kinds


VARIANT_CODES = {"acs": 1.0, "elitist": 2.0, "mmas": 3.0}


ACCEPTED = "accepted"  # converts, with no float to compare (random_state)


def expected_parameter(kind, value):
    """The stored float (or ACCEPTED) for plain Python values, or the exception
    type the conversion raises; None for values this table does not predict."""
    plain_int = isinstance(value, int) and not isinstance(value, bool)
    if kind in ("size", "seed"):
        if kind == "seed" and value is None:
            return ACCEPTED
        if isinstance(value, bool) or (plain_int and 0 <= value < 2**64):
            return ACCEPTED if kind == "seed" else float(value)
        if plain_int:
            return OverflowError
        if isinstance(value, (float, str, type(None), list)):
            return TypeError
    elif kind == "real":
        if isinstance(value, float):
            return value
        if plain_int:
            return float(value) if abs(value) < 2**1000 else OverflowError
        if isinstance(value, (str, type(None), list)):
            return TypeError
    elif kind == "flag":
        if isinstance(value, bool):
            return float(value)
        if isinstance(value, (int, float, str, type(None), list)):
            return TypeError
    elif kind == "text":
        return VARIANT_CODES.get(value, 0.0) if isinstance(value, str) else TypeError
    return None


@PROFILE
@given(data=st.data())
def test_constructor_keywords_of_any_type_construct_or_raise_a_conversion_error(data):
    name = data.draw(st.sampled_from(ALL_CLASSES), label="class")
    kinds = parameter_kinds(name)
    chosen = data.draw(st.lists(st.sampled_from(sorted(kinds)), unique=True, max_size=3), label="keywords")
    kwargs = {k: data.draw(wild_scalars, label=k) for k in chosen}
    CASES["constructor keywords"] += 1
    # Keywords convert in signature order; the first that fails decides.
    expected = [expected_parameter(kinds[k], kwargs[k]) for k in kinds if k in kwargs]
    first_failure = next((e for e in expected if not isinstance(e, float) and e != ACCEPTED), ACCEPTED)
    try:
        est = getattr(hivekit, name)(**kwargs)
    except (TypeError, OverflowError, Boom) as e:
        assert first_failure != ACCEPTED, (name, kwargs, e)
        if isinstance(first_failure, type):
            assert type(e) is first_failure, (name, kwargs, e)
        if isinstance(e, TypeError):
            assert str(e).startswith("argument '"), str(e)
        return
    assert not any(isinstance(e, type) for e in expected), (name, kwargs)
    params = est.get_params()
    assert sorted(params) == sorted(k for k in kinds if k != "random_state")
    assert all(type(v) is float for v in params.values())
    for k, v in kwargs.items():
        stored = expected_parameter(kinds[k], v)
        if isinstance(stored, float):
            assert bits(params[k]) == bits(stored), (k, v)
    assert isinstance(repr(est), str)


# Hyperparameters that construct, then fit

HUGE_POPULATIONS = [10**12, 2**63, 2**64 - 1]


def fit_values(name, param, kind):
    if param == "n_iterations":
        return st.integers(0, 2)
    if param == POPULATION[name]:
        return st.one_of(st.integers(0, 6), st.sampled_from(HUGE_POPULATIONS))
    if kind == "size":
        # limit and archive_size bound nothing that is allocated or looped over.
        bound = 2**64 - 1 if param in ("limit", "archive_size") else 3
        return st.one_of(st.integers(0, 3), st.just(bound))
    if kind == "real":
        return floats
    if kind == "flag":
        return st.booleans()
    return st.sampled_from(["basic", "acs", "elitist", "mmas", "ACS", ""])


def outcome_of(call):
    try:
        call()
        return "success"
    except (ValueError, MemoryError) as e:
        return type(e).__name__


@PROFILE
@given(data=st.data())
def test_generated_hyperparameters_fit_reproducibly_or_fail_without_changing_results(data):
    name = data.draw(st.sampled_from(ALL_CLASSES), label="class")
    kinds = parameter_kinds(name)
    kwargs = {p: data.draw(fit_values(name, p, k), label=p) for p, k in kinds.items() if p != "random_state"}
    kwargs["random_state"] = data.draw(st.integers(0, 2**64 - 1), label="random_state")
    CASES["hyperparameters"] += 1
    est = getattr(hivekit, name)(**kwargs)
    args = fit_args(name, dimension=data.draw(st.integers(1, 3), label="dimension"))
    first = outcome_of(lambda: est.fit(*args))
    population = kwargs.get(POPULATION[name])
    if population in HUGE_POPULATIONS and not (name == "AntColony" and kwargs["n_iterations"] == 0):
        assert first in ("MemoryError", "ValueError")
    after_first = snapshot(est)
    # A second identical fit either reproduces the first to the bit or fails
    # the same way and changes nothing: the state is the same either way.
    assert outcome_of(lambda: est.fit(*args)) == first
    assert snapshot(est) == after_first


# Limits of every shape and content

limit_elements = st.one_of(
    small_floats, floats, st.integers(-3, 3), huge_ints, numpy_scalars, hook_scalars, st.text(max_size=2), st.none()
)
limits = st.one_of(
    st.lists(small_floats, max_size=3),
    st.lists(limit_elements, max_size=3),
    st.lists(limit_elements, max_size=3).map(tuple),
    st.lists(small_floats, max_size=3).map(np.array),
    st.sampled_from([np.zeros((2, 2)), np.array(1.0), np.array(["a"]), b"\x00\x01", bytearray(b"\x02")]),
    st.builds(range, st.integers(-2, 2), st.integers(-2, 3)),
    st.lists(small_floats, max_size=3).map(lambda v: (x for x in v)),
    st.builds(Lying, st.sampled_from([0, 1, 3, 2**31, 2**40, 2**62]), st.lists(small_floats, max_size=3)),
    st.sampled_from([LenRaises(), GetitemRaises()]),
    st.one_of(st.text(max_size=2), st.integers(), st.none(), floats),
)

BOX_MESSAGE = (
    r"^(Lower and upper bounds must have the same length|Lower bound \S+ > upper bound \S+ at index \d+"
    r"|Invalid input: .+)$"
)
EMPTY_BOX_MESSAGES = {
    "ParticleSwarm": "Bounds must have at least one dimension",
    "BeeColony": "Bounds must have at least one dimension",
    "MopsoOptimizer": "bounds must not be empty",
    "Nsga2Optimizer": "bounds must not be empty",
    "BinaryParticleSwarm": "binary PSO requires at least one dimension",
}


def number_text(value):
    """Shortest round-trip digits written out without exponent; whole numbers without a fraction."""
    if math.isinf(value):
        return "inf" if value > 0 else "-inf"
    return np.format_float_positional(value, unique=True, trim="-")


def expected_box_error(name, lower, upper):
    """The ValueError text for two lists of plain floats, or None for a valid box."""
    if len(lower) != len(upper):
        return "Lower and upper bounds must have the same length"
    for i, (lo, hi) in enumerate(zip(lower, upper)):
        if lo > hi:
            return f"Lower bound {number_text(lo)} > upper bound {number_text(hi)} at index {i}"
    if not lower:
        return "Invalid input: " + EMPTY_BOX_MESSAGES.get(name, "Problem must have at least one dimension")
    return None


def plain_float_list(value):
    return type(value) is list and all(type(v) is float for v in value)


@PROFILE
@given(data=st.data())
def test_limits_of_any_shape_fit_or_raise_and_leave_results_untouched(data):
    name = data.draw(st.sampled_from(BOX_CLASSES), label="class")
    lower = data.draw(limits, label="lower")
    upper = data.draw(limits, label="upper")
    CASES["limits"] += 1
    est = fitted(name)
    before = snapshot(est)
    try:
        est.fit(objective_for(name), lower, upper)
    except (TypeError, ValueError, OverflowError, MemoryError, *HOOK_EXCEPTIONS) as e:
        if isinstance(e, TypeError):
            assert str(e).startswith(("argument 'lower': ", "argument 'upper': ")), str(e)
        if isinstance(e, ValueError):
            assert e.args and re.match(BOX_MESSAGE, str(e)), str(e)
        if plain_float_list(lower) and plain_float_list(upper):
            expected = expected_box_error(name, lower, upper)
            assert str(e) == expected
        assert snapshot(est) == before
        return
    if plain_float_list(lower) and plain_float_list(upper):
        assert expected_box_error(name, lower, upper) is None
    if name not in PARETO_CLASSES:
        assert len(est.predict()) == len(lower)


# Distance matrices and tours

entries = st.one_of(st.floats(0, 10), floats, st.integers(-3, 3), huge_ints, numpy_scalars, st.text(max_size=1))
square_matrices = st.integers(1, 5).flatmap(
    lambda n: st.lists(st.lists(st.floats(0, 10), min_size=n, max_size=n), min_size=n, max_size=n)
)
wild_square_matrices = st.integers(1, 8).flatmap(
    lambda n: st.lists(st.lists(st.one_of(floats, st.floats(-5, 5)), min_size=n, max_size=n), min_size=n, max_size=n)
)
rows = st.one_of(
    st.lists(st.floats(0, 10), max_size=5),
    st.lists(entries, max_size=4),
    st.lists(st.floats(0, 10), max_size=4).map(tuple),
    st.builds(Lying, st.sampled_from([0, 2, 2**40, 2**62]), st.lists(st.floats(0, 10), max_size=2)),
    st.sampled_from(["ab", None, 3.0, GetitemRaises(), LenRaises(), np.zeros(3)]),
)
matrices = st.one_of(
    square_matrices,
    wild_square_matrices,
    square_matrices.map(np.array),
    st.lists(rows, max_size=4),
    st.builds(Lying, st.sampled_from([0, 3, 2**20, 2**33, 2**62]), st.lists(st.lists(st.floats(0, 10)), max_size=2)),
    st.sampled_from([[], [[]], "abc", None, 5, np.zeros((2, 3)), LenRaises(), GetitemRaises()]),
    st.lists(st.floats(0, 10), max_size=3).map(lambda r: [r] * len(r)),
)

MATRIX_MESSAGE = (
    r"^(distance_matrix must be non-empty|distance_matrix must be square: row \d+ has length \d+, expected \d+"
    r"|Invalid input: .+)$"
)


@PROFILE
@given(data=st.data())
def test_distance_matrices_of_any_shape_fit_or_raise_and_leave_results_untouched(data):
    name = data.draw(st.sampled_from(TOUR_CLASSES), label="class")
    matrix = data.draw(matrices, label="matrix")
    CASES["distance matrices"] += 1
    est = fitted(name)
    before = snapshot(est)
    try:
        est.fit(matrix)
    except (TypeError, ValueError, OverflowError, MemoryError, *HOOK_EXCEPTIONS) as e:
        if isinstance(e, TypeError):
            assert str(e).startswith("argument 'distance_matrix': "), str(e)
        if isinstance(e, ValueError):
            assert re.match(MATRIX_MESSAGE, str(e)), str(e)
        assert snapshot(est) == before
        return
    # An ant colony that finds no tour of finite length keeps the earlier results.
    if name != "AntColony" or snapshot(est) != before:
        tour = est.predict()
        assert all(type(city) is int for city in tour)
        assert sorted(tour) == list(range(len(matrix)))


tours = st.one_of(
    st.lists(st.integers(0, 5), max_size=7),
    st.lists(st.one_of(st.integers(-2, 7), huge_ints, st.floats(0, 3), st.none()), max_size=4),
    st.builds(Lying, st.sampled_from([1, 2**40]), st.lists(st.integers(0, 3), max_size=2)),
    st.sampled_from(["01", None, LenRaises(), GetitemRaises(), [IndexRaises()], [np.int64(1), np.uint8(0)]]),
)


@PROFILE
@given(tour=tours, matrix=st.one_of(square_matrices, wild_square_matrices, matrices))
def test_two_opt_returns_a_rearranged_tour_or_raises(tour, matrix):
    CASES["two_opt"] += 1
    try:
        improved, length = hivekit.two_opt(tour, matrix)
    except (TypeError, ValueError, OverflowError, MemoryError, *HOOK_EXCEPTIONS) as e:
        if isinstance(e, TypeError):
            assert str(e).startswith(("argument 'distance_matrix': ", "argument 'tour': ")), str(e)
        if isinstance(e, ValueError):
            assert re.match(MATRIX_MESSAGE + r"|^tour entry \d+ is \d+, not below the number of cities \d+$", str(e))
        return
    assert type(length) is float
    # 2-opt only reverses stretches of the tour: the same entries come back.
    assert sorted(improved) == sorted(int(tour[k]) for k in range(len(tour)))


# Objectives that misbehave

READERS = {
    "fit": lambda est: est.fit(*fit_args(type(est).__name__, dimension=1)),
    "score": lambda est: est.score(),
    "predict": lambda est: est.predict(),
    "population_": lambda est: est.population_,
    # The multi-objective classes have no history_; they read population_ instead.
    "history_": lambda est: est.history_ if hasattr(type(est), "history_") else est.population_,
    "get_params": lambda est: est.get_params(),
    "repr": repr,
}
HOLD_MESSAGES = {name: "Already mutably borrowed" for name in READERS}
HOLD_MESSAGES["fit"] = "Already borrowed"

single_results = st.one_of(small_floats, floats, wild_scalars)
pareto_results = st.one_of(
    st.lists(st.one_of(small_floats, floats), max_size=3),
    st.lists(limit_elements, max_size=3).map(tuple),
    st.lists(small_floats, min_size=1, max_size=3).map(np.array),
    wild_scalars,
)


def actions(results):
    returning = st.sampled_from(["return", "mutate", "keep", "sleep"])
    return st.one_of(
        st.tuples(returning, results),
        st.tuples(st.sampled_from(["raise", "halt"]), st.none()),
        st.tuples(st.sampled_from(["reenter", "peek"]), st.sampled_from(sorted(READERS))),
    )


class Script:
    """An objective that plays one action per call, cycling; call 0 is the probe."""

    def __init__(self, plan, good_value):
        self.plan, self.good_value = plan, good_value
        self.est, self.seen, self.kept, self.ran, self.messages = None, [], [], [], []

    def __call__(self, x):
        kind, payload = self.plan[len(self.ran) % len(self.plan)]
        self.ran.append((kind, payload))
        self.seen.append(list(x))
        if kind == "raise":
            raise Boom("objective")
        if kind == "halt":
            raise Halt()
        if kind == "reenter":
            return READERS[payload](self.est)
        if kind == "peek":
            try:
                READERS[payload](self.est)
            except RuntimeError as e:
                self.messages.append((payload, str(e)))
            return self.good_value
        if kind == "mutate":
            x.clear()
            x.append("not a number")
        elif kind == "keep":
            self.kept.append(x)
        elif kind == "sleep":
            time.sleep(0)
        return payload


def number_error(value):
    """The exception type converting an objective's result to a float raises, or None."""
    if type(value) is float:
        return None
    if isinstance(value, (str, bytes, bytearray)):
        return TypeError
    try:
        float(value)  # the same protocol: __float__, else __index__
    except Exception as e:
        return type(e)
    return None


def sequence_error(value):
    if not isinstance(value, (list, tuple, np.ndarray)):
        return TypeError
    return next((e for e in map(number_error, value) if e is not None), None)


# Only these classes define __repr__ (and take a hold for it); the others
# keep the interpreter's, which reads nothing.
REPR_CLASSES = ("AntColony", "BeeColony", "ParticleSwarm")


def holds(name, reader):
    return reader != "repr" or name in REPR_CLASSES


def probe_outcome(name, kind, payload, pareto):
    """What a fit raises because of its probe call (None: the probe succeeds)."""
    if kind == "raise":
        return Boom
    if kind == "reenter":
        return RuntimeError if holds(name, payload) else TypeError  # the repr text is no number
    if kind in ("peek", "halt"):
        return None
    return (sequence_error if pareto else number_error)(payload)


@PROFILE
@given(data=st.data())
def test_misbehaving_objectives_fit_or_raise_their_own_exception_and_leave_results_untouched(data):
    name = data.draw(st.sampled_from(BOX_CLASSES), label="class")
    pareto = name in PARETO_CLASSES
    plan = data.draw(st.lists(actions(pareto_results if pareto else single_results), min_size=1, max_size=6))
    d = data.draw(st.integers(1, 3), label="dimension")
    CASES["objectives"] += 1
    est = fitted(name)
    before = snapshot(est)
    script = Script(plan, [1.0, 1.0] if pareto else 1.0)
    script.est = est
    lower, upper = [-1.0] * d, [1.0 + k for k in range(d)]
    try:
        est.fit(script, lower, upper)
        outcome = None
    except (Halt, Boom, RuntimeError, TypeError, OverflowError, ValueError) as e:
        outcome = e
    kinds = [kind for kind, _ in script.ran]
    if "halt" in kinds:
        # A BaseException stops the run at the evaluation that raised it.
        assert type(outcome) is Halt and kinds.index("halt") == len(kinds) - 1
    else:
        expected = probe_outcome(name, *plan[0], pareto)
        assert type(outcome) is (type(None) if expected is None else expected), (plan[0], outcome)
        if expected is not None:
            assert len(script.ran) == 1
            if expected is RuntimeError:
                assert str(outcome) == HOLD_MESSAGES[plan[0][1]]
    if outcome is not None:
        assert snapshot(est) == before
    held = [payload for kind, payload in script.ran if kind == "peek" and holds(name, payload)]
    assert script.messages == [(reader, HOLD_MESSAGES[reader]) for reader in held]
    # Every call received a list of its own, of d floats inside the box
    # (zeros and ones for the bit-vector swarm).
    assert len({id(x) for x in script.kept}) == len(script.kept)
    for x in script.seen:
        assert len(x) == d and all(type(v) is float for v in x)
        if name == "BinaryParticleSwarm":
            assert set(x) <= {0.0, 1.0}
        else:
            assert all(lo <= v <= hi for v, lo, hi in zip(x, lower, upper)), x


@PROFILE
@given(
    name=st.sampled_from(BOX_CLASSES),
    seed=st.integers(0, 2**64 - 1),
    d=st.integers(1, 3),
)
def test_an_objective_that_mutates_or_keeps_its_argument_does_not_change_the_run(name, seed, d):
    CASES["argument mutation"] += 1
    objective = objective_for(name)
    kept = []

    def mutating(x):
        value = objective(x)
        kept.append(x)
        if len(kept) % 2:
            x[:] = [math.nan] * (len(x) + 1)
        return value

    plain, changed = make(name, random_state=seed), make(name, random_state=seed)
    plain.fit(objective, [-1.0] * d, [1.0] * d)
    changed.fit(mutating, [-1.0] * d, [1.0] * d)
    assert snapshot(changed) == snapshot(plain)
