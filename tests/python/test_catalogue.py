"""Module registration and the construction surface of every estimator class."""

import inspect

import pytest

import hivekit
from hivekit import _hivekit

SIGNATURES = {
    "AntColony": '(n_ants=50, n_iterations=100, alpha=1.0, beta=2.0, rho=0.5, q=1.0, use_two_opt=True, variant="basic", q0=0.9, elitist_weight=2.0, tau_min=1e-4, tau_max=10.0, random_state=None)',
    "ParticleSwarm": "(n_particles=30, n_iterations=100, w=0.9, c1=2.0, c2=2.0, random_state=None)",
    "BeeColony": "(n_bees=50, n_iterations=100, limit=10, random_state=None)",
    "GreyWolfOptimizer": "(n_wolves=30, n_iterations=100, random_state=None)",
    "FireflyOptimizer": "(n_fireflies=30, n_iterations=100, beta0=1.0, gamma=1.0, alpha=0.2, random_state=None)",
    "SimulatedAnnealing": "(initial_temperature=10.0, cooling_rate=0.95, step_scale=0.1, n_iterations=100, random_state=None)",
    "CuckooSearch": "(n_nests=25, n_iterations=100, pa=0.25, alpha=0.01, levy_scale=1.0, random_state=None)",
    "BatAlgorithm": "(n_bats=30, n_iterations=100, fmin=0.0, fmax=2.0, alpha=0.9, gamma=0.9, loudness=1.0, pulse_rate=0.5, random_state=None)",
    "GlowwormOptimizer": "(n_worms=30, n_iterations=100, luciferin_decay=0.4, luciferin_enhancement=0.6, step_size=0.1, neighborhood_radius=1.0, random_state=None)",
    "BacterialForagingOptimizer": "(n_bacteria=30, n_iterations=100, n_chemotactic_steps=10, n_reproduction_steps=4, elimination_probability=0.25, step_scale=0.1, random_state=None)",
    "DifferentialEvolution": "(n_individuals=40, n_iterations=100, f=0.8, cr=0.9, random_state=None)",
    "CmaEsOptimizer": "(n_individuals=20, n_iterations=100, sigma=0.5, random_state=None)",
    "PermutationGeneticOptimizer": "(n_individuals=40, n_iterations=100, mutation_rate=0.1, use_two_opt=True, random_state=None)",
    "BinaryParticleSwarm": "(n_particles=30, n_iterations=100, w=0.7, c1=1.5, c2=1.5, random_state=None)",
    "Nsga2Optimizer": "(n_individuals=40, n_iterations=100, crossover_rate=0.9, mutation_rate=0.1, mutation_scale=0.1, archive_size=50, random_state=None)",
    "MopsoOptimizer": "(n_particles=30, n_iterations=100, w=0.7, c1=1.5, c2=1.5, mutation_scale=0.1, archive_size=50, random_state=None)",
}

DOCSTRINGS = {
    "AntColony": "Ant Colony Optimization for discrete problems (e.g. TSP).\n\nExposed to Python as `hivekit._hivekit.AntColony`.",
    "BeeColony": "Artificial Bee Colony for continuous minimization.\n\nExposed to Python as `hivekit._hivekit.BeeColony`.",
    "BatAlgorithm": "Bat algorithm for continuous minimization.",
    "CuckooSearch": "Cuckoo search for continuous minimization.",
    "ParticleSwarm": "Particle Swarm Optimization for continuous minimization.\n\nExposed to Python as `hivekit._hivekit.ParticleSwarm`.",
    "CmaEsOptimizer": "CMA-ES-style optimizer for continuous minimization.",
    "MopsoOptimizer": "Multi-objective PSO.",
    "Nsga2Optimizer": "NSGA-II-style multi-objective optimizer.",
    "FireflyOptimizer": "Firefly algorithm for continuous minimization.",
    "GlowwormOptimizer": "Glowworm swarm optimizer for continuous minimization.",
    "GreyWolfOptimizer": "Grey Wolf Optimizer for continuous minimization.",
    "SimulatedAnnealing": "Simulated annealing for continuous minimization.",
    "BinaryParticleSwarm": "Binary PSO for bit-vector objectives.",
    "DifferentialEvolution": "Differential evolution for continuous minimization.",
    "BacterialForagingOptimizer": "Bacterial foraging optimizer for continuous minimization.",
    "PermutationGeneticOptimizer": "Permutation genetic optimizer for TSP-like discrete problems.",
}

CLASSES = list(SIGNATURES)
TOUR_CLASSES = {"AntColony", "PermutationGeneticOptimizer"}
PARETO_CLASSES = {"Nsga2Optimizer", "MopsoOptimizer"}


def parameters(text):
    """Names and default values of a published signature text."""
    sig = inspect.Signature.from_callable(eval("lambda " + text[1:-1] + ": None"))
    return [(p.name, p.default) for p in sig.parameters.values()]


def test_module_registers_two_opt_and_the_classes_in_order():
    assert _hivekit.__all__ == ["two_opt", *CLASSES]
    assert _hivekit.__name__ == "_hivekit" or _hivekit.__name__ == "hivekit._hivekit"
    assert _hivekit.__doc__ and "\n" not in _hivekit.__doc__.strip()
    assert hivekit.__all__[: len(_hivekit.__all__)] == _hivekit.__all__


def test_engine_fault_derives_directly_from_base_exception():
    assert _hivekit.EngineFault.__bases__ == (BaseException,)
    assert "EngineFault" not in _hivekit.__all__


@pytest.mark.parametrize("name", CLASSES)
def test_class_publishes_its_signature_and_docstring(name):
    cls = getattr(hivekit, name)
    assert cls.__name__ == name
    assert cls.__doc__ == DOCSTRINGS[name]
    published = [(p.name, p.default) for p in inspect.signature(cls).parameters.values()]
    assert published == parameters(SIGNATURES[name])
    assert all(p.kind is p.POSITIONAL_OR_KEYWORD for p in inspect.signature(cls).parameters.values())


@pytest.mark.parametrize("name", CLASSES)
def test_get_params_reports_every_default_but_the_seed_as_float(name):
    est = getattr(hivekit, name)()
    params = est.get_params()
    expected = {}
    for key, value in parameters(SIGNATURES[name]):
        if key == "random_state":
            continue
        expected[key] = 0.0 if key == "variant" else float(value)
    assert params == expected
    assert all(type(v) is float for v in params.values())


@pytest.mark.parametrize("name", CLASSES)
def test_methods_and_attributes(name):
    cls = getattr(hivekit, name)
    fit_params = ["distance_matrix"] if name in TOUR_CLASSES else ["objective", "lower", "upper"]
    assert list(inspect.signature(cls.fit).parameters) == ["self", *fit_params]
    for method in ("predict", "score", "get_params"):
        assert list(inspect.signature(getattr(cls, method)).parameters) == ["self"]
    est = cls()
    assert est.population_ == []
    if name in PARETO_CLASSES:
        assert not hasattr(est, "history_")
    else:
        assert est.history_ == []
    with pytest.raises(AttributeError):
        est.population_ = []


def test_documented_classes_publish_method_docstrings():
    assert hivekit.AntColony.fit.__doc__ == "Fit the colony to a square distance matrix and search for a short tour."
    assert hivekit.AntColony.predict.__doc__ == "Return the best tour found as a list of city indices."
    assert hivekit.AntColony.score.__doc__ == "Return the length of the best tour found."
    assert hivekit.AntColony.get_params.__doc__ == "Return the algorithm's hyperparameters."
    for cls in (hivekit.BeeColony, hivekit.ParticleSwarm):
        assert cls.fit.__doc__ == "Minimize `objective(list[float]) -> float` over the box `[lower, upper]`."
        assert cls.predict.__doc__ == "Return the best position found."
        assert cls.score.__doc__ == "Return the objective value at the best position."
        assert cls.get_params.__doc__ is None
    assert hivekit.GreyWolfOptimizer.fit.__doc__ is None


def test_repr_lists_the_leading_parameters_of_three_classes():
    assert repr(hivekit.AntColony()) == "AntColony(n_ants=50, n_iterations=100, alpha=1, beta=2, rho=0.5, q=1)"
    assert repr(hivekit.ParticleSwarm()) == "ParticleSwarm(n_particles=30, n_iterations=100, w=0.9, c1=2, c2=2)"
    assert repr(hivekit.BeeColony(limit=3)) == "BeeColony(n_bees=50, n_iterations=100, limit=3)"
    assert (
        repr(hivekit.ParticleSwarm(w=1e21, c1=float("nan"), c2=-0.0))
        == "ParticleSwarm(n_particles=30, n_iterations=100, w=1000000000000000000000, c1=NaN, c2=-0)"
    )
    assert repr(hivekit.AntColony(alpha=float("inf"), beta=-float("inf"), rho=1e-4)).endswith(
        "alpha=inf, beta=-inf, rho=0.0001, q=1)"
    )


def test_other_classes_keep_the_default_repr():
    text = repr(hivekit.GreyWolfOptimizer())
    assert text.startswith("<hivekit._hivekit.GreyWolfOptimizer object at 0x")


def test_variant_codes_compare_the_whole_string_exactly():
    codes = {"acs": 1.0, "elitist": 2.0, "mmas": 3.0, "basic": 0.0, "": 0.0, "Elitist": 0.0, "ACS": 0.0, "mmas ": 0.0}
    for text, code in codes.items():
        assert hivekit.AntColony(variant=text).get_params()["variant"] == code


class Index:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


class Real:
    def __float__(self):
        return 2.5


class Raising:
    def __index__(self):
        raise ZeroDivisionError("boom")


def test_conversions_accept_what_has_the_right_value():
    est = hivekit.AntColony(n_ants=Index(7), alpha=1, beta=Real(), rho=Index(3), use_two_opt=False, random_state=2**64 - 1)
    params = est.get_params()
    assert (params["n_ants"], params["alpha"], params["beta"], params["rho"], params["use_two_opt"]) == (
        7.0,
        1.0,
        2.5,
        3.0,
        0.0,
    )
    assert hivekit.ParticleSwarm(True, random_state=0).get_params()["n_particles"] == 1.0


@pytest.mark.parametrize(
    "kwargs, message",
    [
        ({"n_ants": 5.0}, "argument 'n_ants': "),
        ({"n_ants": "5"}, "argument 'n_ants': "),
        ({"use_two_opt": 1}, "argument 'use_two_opt': "),
        ({"variant": 3}, "argument 'variant': "),
        ({"alpha": "1.0"}, "argument 'alpha': "),
        ({"random_state": 1.5}, "argument 'random_state': "),
    ],
)
def test_wrong_kinds_raise_type_error_naming_the_parameter(kwargs, message):
    with pytest.raises(TypeError) as info:
        hivekit.AntColony(**kwargs)
    assert str(info.value).startswith(message)


@pytest.mark.parametrize("kwargs", [{"n_ants": -1}, {"n_ants": 2**64}, {"random_state": -1}, {"random_state": 2**64}])
def test_out_of_range_sizes_and_seeds_raise_overflow_error_unprefixed(kwargs):
    with pytest.raises(OverflowError) as info:
        hivekit.AntColony(**kwargs)
    assert not str(info.value).startswith("argument")


def test_errors_raised_by_a_conversion_hook_pass_through():
    with pytest.raises(ZeroDivisionError, match="boom"):
        hivekit.ParticleSwarm(n_particles=Raising())


def test_numpy_values_convert_like_their_python_counterparts():
    np = pytest.importorskip("numpy")
    est = hivekit.AntColony(n_ants=np.int64(9), alpha=np.float32(0.5), use_two_opt=np.bool_(False), random_state=np.uint64(3))
    params = est.get_params()
    assert (params["n_ants"], params["alpha"], params["use_two_opt"]) == (9.0, 0.5, 0.0)


def test_constructors_never_check_ranges():
    est = hivekit.AntColony(n_ants=0, rho=-1.0, variant="ACS")
    assert est.get_params()["rho"] == -1.0


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda: hivekit.AntColony(x=1), "AntColony.__new__() got an unexpected keyword argument 'x'"),
        (lambda: hivekit.GreyWolfOptimizer(1, 2, 3, 4), "GreyWolfOptimizer.__new__() takes from 0 to 3 positional arguments but 4 were given"),
        (lambda: hivekit.GreyWolfOptimizer(5, n_wolves=5), "GreyWolfOptimizer.__new__() got multiple values for argument 'n_wolves'"),
    ],
)
def test_argument_binding_errors_name_the_constructor(call, message):
    with pytest.raises(TypeError) as info:
        call()
    assert str(info.value) == message


def test_classes_cannot_be_subclassed_or_given_attributes():
    with pytest.raises(TypeError):
        type("Sub", (hivekit.ParticleSwarm,), {})
    with pytest.raises(AttributeError):
        hivekit.ParticleSwarm().extra = 1


@pytest.mark.parametrize("config", ["isolated", "legacy"])
def test_importing_in_a_sub_interpreter_raises_import_error(config, tmp_path):
    interpreters = pytest.importorskip("_interpreters")
    import sys

    result = tmp_path / "result.txt"
    script = f"""
import sys
sys.path[:0] = {sys.path!r}
try:
    import hivekit._hivekit
    outcome = "imported"
except ImportError as error:
    outcome = "ImportError"
open({str(result)!r}, "w").write(outcome)
"""
    interp = interpreters.create(config)
    try:
        interpreters.run_string(interp, script)
    finally:
        interpreters.destroy(interp)
    assert result.read_text() == "ImportError"
