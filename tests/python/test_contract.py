"""What every class of the registry publishes and promises: catalogue, conversion, and the fit / predict / score
contract with its failures. Each test loops over the registry. The class docstrings, the signatures and the
smallest sizes with their refusals are the registry's: the stub and the README's class table written from it
(checked current by test_stubs.py) are where a change to them shows."""

import inspect
import math
import sys

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import hivekit
from hivekit import _hivekit
from hivekit._registry import CLASSES
from small_runs import (POPULATION, SQUARE, Halt, failing_fits, fit_args, fitted, make, objective_for, reading,
                        snapshot, sphere)
from vectors import bits

BOXED = [info for info in CLASSES if info.input == "box"]
each_class = pytest.mark.parametrize("info", CLASSES, ids=[info.name for info in CLASSES])
properties = settings(max_examples=100, deadline=None, database=None, derandomize=True)

EMPTY_BOX = {  # the others say "Problem must have at least one dimension"
    "ParticleSwarm": "Bounds must have at least one dimension",
    "BeeColony": "Bounds must have at least one dimension",
    "BinaryParticleSwarm": "binary PSO requires at least one dimension",
    "Nsga2Optimizer": "bounds must not be empty",
    "MopsoOptimizer": "bounds must not be empty",
}

def hook(value):
    """An object with only __index__ giving value, or with __index__ and __float__ raising it."""
    def give(self):
        if isinstance(value, Exception):
            raise value
        return value
    return type("Hook", (), {"__index__": give, **({"__float__": give} if isinstance(value, Exception) else {})})()


# Per parameter kind: values refused (with the exception type) and values accepted (with the float get_params shows).
REFUSED = {
    "size": [(5.0, TypeError), ("5", TypeError), (-1, OverflowError), (2**64, OverflowError), (hook(ZeroDivisionError("hook")), ZeroDivisionError)],
    "real": [("1.0", TypeError), (None, TypeError), (hook(ZeroDivisionError("hook")), ZeroDivisionError)],
    "flag": [(1, TypeError), (None, TypeError)],
    "variant": [(3, TypeError)],
    "seed": [(1.5, TypeError), (-1, OverflowError), (2**64, OverflowError)],
}
ACCEPTED = {
    "size": [(0, 0.0), (hook(2**64 - 1), 2.0**64), (np.int64(9), 9.0), (True, 1.0)],
    "real": [(3, 3.0), (type("F", (), {"__float__": lambda self: 2.5})(), 2.5), (hook(-2), -2.0), (np.float32(0.5), 0.5), (-0.0, -0.0)],
    "flag": [(False, 0.0), (np.bool_(False), 0.0)],
    "variant": [("mmas", 3.0)],
    "seed": [(2**64 - 1, None), (np.uint64(3), None), (None, None)],
}


def test_module_registers_two_opt_then_the_classes_and_writes_numbers_as_published():
    assert _hivekit.__all__ == ["two_opt", *(info.name for info in CLASSES)]
    assert hivekit.__all__[: len(_hivekit.__all__)] == _hivekit.__all__
    assert _hivekit.__doc__ and "\n" not in _hivekit.__doc__.strip()
    assert hivekit.two_opt.__text_signature__ == "(tour, distance_matrix)"
    assert _hivekit.EngineFault.__bases__ == (BaseException,) and "EngineFault" not in _hivekit.__all__
    # The texts that pin how defaults and numbers are written.
    assert hivekit.AntColony.__text_signature__ == (
        '(n_ants=50, n_iterations=100, alpha=1.0, beta=2.0, rho=0.5, q=1.0, use_two_opt=True, variant="basic", q0=0.9,'
        " elitist_weight=2.0, tau_min=1e-4, tau_max=10.0, random_state=None)")
    assert repr(hivekit.AntColony()) == "AntColony(n_ants=50, n_iterations=100, alpha=1, beta=2, rho=0.5, q=1)"
    assert repr(hivekit.ParticleSwarm()) == "ParticleSwarm(n_particles=30, n_iterations=100, w=0.9, c1=2, c2=2)"
    assert repr(hivekit.BeeColony(limit=3)) == "BeeColony(n_bees=50, n_iterations=100, limit=3)"
    assert (repr(hivekit.ParticleSwarm(w=1e21, c1=math.nan, c2=-0.0))
            == "ParticleSwarm(n_particles=30, n_iterations=100, w=1000000000000000000000, c1=NaN, c2=-0)")
    assert repr(hivekit.AntColony(alpha=math.inf, beta=-math.inf, rho=1e-4)).endswith("alpha=inf, beta=-inf, rho=0.0001, q=1)")
    codes = {"acs": 1.0, "elitist": 2.0, "mmas": 3.0, "basic": 0.0, "": 0.0, "Elitist": 0.0, "ACS": 0.0, "mmas ": 0.0}
    assert {text: hivekit.AntColony(variant=text).get_params()["variant"] for text in codes} == codes


@each_class
def test_class_publishes_its_docstring_signature_methods_and_defaults(info):
    cls = info.cls
    assert cls.__name__ == info.name and cls.__doc__ == info.docstring
    published = inspect.signature(cls).parameters.values()
    assert all(p.kind is p.POSITIONAL_OR_KEYWORD for p in published)
    assert [(p.name, p.default, type(p.default)) for p in published] == [
        *((p.name, p.default, type(p.default)) for p in info.params), ("random_state", None, type(None))]
    fit = "($self, distance_matrix)" if info.input == "tour" else "($self, objective, lower, upper)"
    methods = ("fit", "predict", "score", "get_params")
    assert [getattr(cls, m).__text_signature__ for m in methods] == [fit, "($self)", "($self)", "($self)"]
    est = cls()
    params = est.get_params()
    assert params == {p.name: 0.0 if p.kind == "variant" else float(p.default) for p in info.params}
    assert all(type(v) is float for v in params.values())
    own_repr = info.name in ("AntColony", "ParticleSwarm", "BeeColony")
    assert repr(est).startswith(f"{info.name}(" if own_repr else f"<hivekit._hivekit.{info.name} object at 0x")
    assert est.population_ == [] and hasattr(est, "history_") == (info.family != "pareto")
    for method in ("predict", "score"):
        with pytest.raises(ValueError, match=rf"^must call fit\(\) before {method}\(\)$"):
            getattr(est, method)()
    with pytest.raises(AttributeError):
        est.population_ = []
    with pytest.raises(AttributeError):
        est.extra = 1
    with pytest.raises(TypeError):
        type("Sub", (cls,), {})


@each_class
def test_every_parameter_converts_by_its_kind(info):
    for name, kind in [(p.name, p.kind) for p in info.params] + [("random_state", "seed")]:
        for value, error in REFUSED[kind]:
            with pytest.raises(error) as caught:
                info.cls(**{name: value})
            assert str(caught.value).startswith(f"argument '{name}': ") == (error is TypeError), (name, value)
        for value, stored in ACCEPTED[kind]:
            params = info.cls(**{name: value}).get_params()
            assert stored is None or bits(params[name]) == bits(stored), (name, value)


@pytest.mark.parametrize("call, message", [
    (lambda: hivekit.AntColony(x=1), "AntColony.__new__() got an unexpected keyword argument 'x'"),
    (lambda: hivekit.GreyWolfOptimizer(1, 2, 3, 4),
     "GreyWolfOptimizer.__new__() takes from 0 to 3 positional arguments but 4 were given"),
    (lambda: hivekit.GreyWolfOptimizer(5, n_wolves=5), "GreyWolfOptimizer.__new__() got multiple values for argument 'n_wolves'"),
    (lambda: hivekit.ParticleSwarm().fit(sphere, [0]), "ParticleSwarm.fit() missing 1 required positional argument: 'upper'"),
    (lambda: hivekit.ParticleSwarm().fit(sphere, [0], [1], bounds=1), "ParticleSwarm.fit() got an unexpected keyword argument 'bounds'"),
    (lambda: hivekit.AntColony().fit(SQUARE, distance_matrix=SQUARE),
     "AntColony.fit() got multiple values for argument 'distance_matrix'"),
])
def test_argument_binding_errors_name_the_callable(call, message):
    with pytest.raises(TypeError) as caught:
        call()
    assert str(caught.value) == message


@each_class
def test_fit_stores_what_the_family_prescribes(info):
    est, calls = make(info.name), []
    if info.input == "tour":
        assert est.fit(SQUARE) is None
        tour = est.predict()
        assert sorted(tour) == [0, 1, 2, 3] and all(type(city) is int for city in tour)
        assert est.score() == sum(SQUARE[a][b] for a, b in zip(tour, tour[1:] + tour[:1]))
    else:
        objective = objective_for(info.name)
        lower, upper = (0, -4.0, 2.0), range(1, 4)  # any sequence of numbers will do
        assert est.fit(lambda x: calls.append(x) or objective(x), lower, upper) is None
        assert calls[0] == ([0.0, 0.0, 0.0] if info.probe == "zeros" else [0.5, -1.0, 2.5])
        assert all(type(v) is float for v in calls[0]) and len({id(x) for x in calls}) == len(calls)
        for x in calls[1:]:
            assert set(x) <= {0.0, 1.0} if info.probe == "zeros" else all(lo <= v <= hi for v, lo, hi in zip(x, lower, upper))
    if info.family == "pareto":
        assert est.population_ and all(len(row) == 3 for row in est.predict() + est.population_)
        assert 0.0 <= est.score() <= 1.0 and not hasattr(est, "history_")
        empty = make(info.name, archive_size=0)  # keeps a population but no archive: not fitted
        empty.fit(objective, [-1.0], [1.0])
        assert empty.population_ and reading(empty.score) == ("ValueError", "must call fit() before score()")
    elif info.input == "box":  # the shapes of the other families' results are pinned by the expected runs
        assert est.score() == objective(est.predict())
    before = snapshot(est)
    est.population_.append([9.0])
    est.predict().append(9.0)
    if info.family != "pareto":
        est.history_.append(9.0)
    assert snapshot(est) == before  # every access hands out a fresh list


@each_class
def test_the_same_seed_reproduces_a_fit_and_no_seed_does_not(info):
    first, again = fitted(info.name, random_state=2**64 - 1), fitted(info.name, random_state=2**64 - 1)
    again.fit(*fit_args(info.name))
    assert snapshot(again) == snapshot(first)
    if info.input == "box":
        unseeded = [make(info.name, random_state=None) for _ in range(3)]
        for est in unseeded:
            est.fit(*fit_args(info.name, dimension=8))  # too many positions for runs to meet by chance
        assert len({repr(snapshot(est)) for est in unseeded}) == 3


@each_class
def test_a_failing_fit_raises_its_error_and_leaves_earlier_results_untouched(info):
    est = fitted(info.name)
    before = snapshot(est)
    for args, error, message in failing_fits(info.name):
        with pytest.raises(error) as caught:
            est.fit(*args)
        assert str(caught.value).startswith(message), (args, caught.value)
        assert snapshot(est) == before, args


INF, NAN = math.inf, math.nan
UNSEARCHABLE = [
    ([0.0, NAN], [1.0, 1.0], "Bounds must be finite: lower[1] is NaN"),
    ([0.0, 0.0], [1.0, INF], "Bounds must be finite: upper[1] is inf"),
    ([-INF, 0.0], [INF, 1.0], "Bounds must be finite: lower[0] is -inf"),
    ([0.0, NAN], [NAN, 1.0], "Bounds must be finite: upper[0] is NaN"),  # an earlier index comes first
    ([-1e308, 0.0], [1e308, INF], "Bounds must be finite: upper[1] is inf"),  # every limit before any width
    ([0.0, -1e308], [1.0, 1e308], "Bounds are too wide: upper[1] - lower[1] overflows"),
    ([INF], [1.0], "Lower bound inf > upper bound 1 at index 0"),  # the order of the limits is checked first
]


@each_class
def test_unsearchable_boxes_are_refused_before_the_objective_and_empty_ones_after_the_probe(info):
    least, message = max(info.smallest, 1), info.refusal
    est, calls = make(info.name, **({POPULATION[info.name]: least - 1} if POPULATION[info.name] else {})), []
    if info.input == "box":
        for lower, upper, refusal in UNSEARCHABLE:
            with pytest.raises(ValueError) as caught:
                est.fit(calls.append, lower, upper)
            assert (str(caught.value), calls) == (refusal, [])
        with pytest.raises(ValueError) as caught:  # an empty box is refused after the probe, before the sizes
            est.fit(lambda x: calls.append(x) or objective_for(info.name)([1.0]), [], [])
        assert str(caught.value) == "Invalid input: " + EMPTY_BOX.get(info.name, "Problem must have at least one dimension")
        assert calls == [[]]
        if not info.multi_objective:
            half = sys.float_info.max / 2  # the width is exactly the largest double
            widest = make(info.name)
            widest.fit(lambda x: x[0], [-half], [half])
            assert math.isfinite(widest.score())
    if message:
        with pytest.raises(ValueError) as caught:
            est.fit(*fit_args(info.name, dimension=1))
        assert str(caught.value) == "Invalid input: " + message
        assert est.history_ == [] and est.population_ == []
        fitted(info.name, **{POPULATION[info.name]: least})


def number_text(value):
    """Shortest round-trip digits without exponent, whole numbers without a fraction."""
    return "inf" if value == math.inf else "-inf" if value == -math.inf else np.format_float_positional(value, trim="-")


@properties
@given(st.integers(1, 3).flatmap(lambda n: st.tuples(*[st.lists(st.floats(), min_size=n, max_size=n)] * 2)))
def test_limits_reach_the_probe_exactly_or_name_the_first_refusal(box):
    lower, upper = box
    seen = []

    def stop_at_probe(x):
        seen.append(x)
        raise Halt

    pairs = list(enumerate(zip(lower, upper)))
    crossing = next((i for i, (lo, hi) in pairs if lo > hi), None)
    unbounded = next(((i, side, v) for i, pair in pairs for side, v in zip(("lower", "upper"), pair)
                      if not math.isfinite(v)), None)
    too_wide = next((i for i, (lo, hi) in pairs if math.isinf(hi - lo)), None)
    if crossing is not None:
        lo, hi = lower[crossing], upper[crossing]
        message = f"Lower bound {number_text(lo)} > upper bound {number_text(hi)} at index {crossing}"
    elif unbounded is not None:
        i, side, v = unbounded
        message = f"Bounds must be finite: {side}[{i}] is {'NaN' if math.isnan(v) else number_text(v)}"
    elif too_wide is not None:
        message = f"Bounds are too wide: upper[{too_wide}] - lower[{too_wide}] overflows"
    else:
        message = None
    with pytest.raises(ValueError if message else Halt) as caught:
        hivekit.ParticleSwarm().fit(stop_at_probe, lower, upper)
    if message:
        assert str(caught.value) == message
    else:
        assert bits(seen[0]) == bits([(lo + hi) * 0.5 for lo, hi in zip(lower, upper)])


@properties
@given(st.sampled_from(BOXED), st.integers(0, 2**64 - 1),
       st.lists(st.one_of(st.floats(), st.sampled_from(["raise", "text"])), min_size=1, max_size=5))
def test_failed_evaluations_count_as_infinity_and_nan_never_becomes_the_best(info, seed, outcomes):
    pareto = info.family == "pareto"

    def value(x):  # the same answer for the same position, whatever the order of the calls
        outcome = outcomes[hash(tuple(x)) % len(outcomes)]
        if outcome == "raise":
            raise ValueError(outcome)
        return [outcome, 1.0] if pareto and outcome != "text" else outcome

    answers = []

    def objective(x):
        answers.append(outcomes[hash(tuple(x)) % len(outcomes)])
        return objective_for(info.name)(x) if len(answers) == 1 else value(x)  # the probe must succeed

    est = make(info.name, random_state=seed)
    est.fit(objective, [-1.0, -1.0], [1.0, 1.0])
    if any(type(a) is float and not math.isnan(a) for a in answers[1:]):
        assert not math.isnan(est.score())
    if not pareto:
        try:
            expected = value(est.predict())
        except ValueError:
            expected = math.inf
        assert bits(est.score()) == bits(math.inf if expected == "text" else expected)


def sub_interpreter(config):
    """The low-level interpreters module and a new interpreter of the named kind: CPython 3.13 names the kinds,
    3.11 and 3.12 take a flag for an interpreter of its own (with a lock of its own from 3.12 on)."""
    if sys.version_info >= (3, 13):
        interpreters = pytest.importorskip("_interpreters")
        return interpreters, interpreters.create(config)
    interpreters = pytest.importorskip("_xxsubinterpreters")
    return interpreters, interpreters.create(isolated=config == "isolated")


@pytest.mark.parametrize("config", ["isolated", "legacy"])
def test_importing_in_a_sub_interpreter_raises_import_error(config, tmp_path):
    (interpreters, interp), result = sub_interpreter(config), tmp_path / "result.txt"
    try:
        interpreters.run_string(interp, f"""import sys
sys.path[:0] = {sys.path!r}
try:
    import hivekit._hivekit
except ImportError as e:
    open({str(result)!r}, "w").write(type(e).__name__)""")
    finally:
        interpreters.destroy(interp)
    assert result.read_text() == "ImportError"
