"""Boxes that cannot be searched, copies and pickles of estimators, and limits given as buffers."""

import array
import copy
import math
import pickle
import sys

import pytest

from hivekit._registry import BOX_CLASSES, BY_NAME, CLASSES

INF, NAN = math.inf, math.nan


@pytest.mark.parametrize(
    "lower, upper, message",
    [
        ([0.0, NAN], [1.0, 1.0], "Bounds must be finite: lower[1] is NaN"),
        ([0.0, 0.0], [1.0, INF], "Bounds must be finite: upper[1] is inf"),
        ([-INF, 0.0], [INF, 1.0], "Bounds must be finite: lower[0] is -inf"),
        # At one index the lower limit is named first; an earlier index comes before both.
        ([0.0, NAN], [NAN, 1.0], "Bounds must be finite: upper[0] is NaN"),
        # Every limit is checked before any width.
        ([-1e308, 0.0], [1e308, INF], "Bounds must be finite: upper[1] is inf"),
        ([0.0, -1e308], [1.0, 1e308], "Bounds are too wide: upper[1] - lower[1] overflows"),
    ],
)
@pytest.mark.parametrize("cls", BOX_CLASSES, ids=lambda c: c.__name__)
def test_a_box_that_cannot_be_searched_is_refused_before_the_objective_runs(cls, lower, upper, message):
    calls = []
    est = cls(random_state=0)
    with pytest.raises(ValueError) as info:
        est.fit(calls.append, lower, upper)
    assert str(info.value) == message
    assert calls == []


def test_the_older_box_messages_come_first_and_the_widest_finite_box_is_searched():
    est = BOX_CLASSES[0](random_state=0)
    with pytest.raises(ValueError, match=r"^Lower bound inf > upper bound 1 at index 0$"):
        est.fit(sum, [INF], [1.0])
    half = sys.float_info.max / 2  # the width is exactly the largest double
    est.fit(sum, [-half], [half])
    assert math.isfinite(est.score())


# Copies and pickles.

MATRIX = [[0.0, 1.0, 1.5, 1.0], [1.0, 0.0, 1.0, 1.5], [1.5, 1.0, 0.0, 1.0], [1.0, 1.5, 1.0, 0.0]]
COPIERS = [copy.copy, copy.deepcopy] + [
    lambda est, protocol=p: pickle.loads(pickle.dumps(est, protocol)) for p in range(pickle.HIGHEST_PROTOCOL + 1)
]


def fit(est, shift=0.0, lower=(-1.0, -1.0), upper=(1.0, 1.0)):
    info = BY_NAME[type(est).__name__]
    if info.input == "tour":
        est.fit([[v + shift for v in row] for row in MATRIX])
    elif info.multi_objective:
        est.fit(lambda x: [sum(x) + shift, sum((v - 1) ** 2 for v in x)], lower, upper)
    else:
        est.fit(lambda x: sum((v - shift) ** 2 for v in x), lower, upper)
    return est


def results(est):
    """Everything a fit left, printed exactly (repr of a float round-trips, -0.0 included)."""
    out = [est.population_] + ([est.history_] if hasattr(est, "history_") else [])
    for method in (est.predict, est.score):
        try:
            out.append(method())
        except ValueError as unfitted:
            out.append(str(unfitted))
    return repr(out)


def unusual(info):
    """Hyperparameters away from the defaults: small sizes, reals one step off, flags flipped."""
    changed = {}
    for p in info.params:
        if p.kind == "size":
            changed[p.name] = 2 if p.name == "n_iterations" else 4
        elif p.kind == "real":
            changed[p.name] = math.nextafter(p.default, math.inf)
        elif p.kind == "flag":
            changed[p.name] = not p.default
        else:
            changed[p.name] = "elitist"
    return changed


@pytest.mark.parametrize("info", CLASSES, ids=lambda i: i.name)
def test_copies_and_pickles_keep_hyperparameters_seed_and_results(info):
    for random_state in (None, 2**64 - 1):
        est = info.cls(**unusual(info), random_state=random_state)
        for stage in ("unfitted", "fitted"):
            for copier in COPIERS:
                twin = copier(est)
                assert type(twin) is info.cls and twin is not est
                # The constructor's arguments, the seed last: None stays None, a seed stays exact.
                assert twin.__reduce__()[1] == est.__reduce__()[1]
                assert twin.__reduce__()[1][-1] == random_state
                assert twin.get_params() == est.get_params()
                assert results(twin) == results(est)
            fit(est)
    # A seeded copy refits as the original does, and refitting it leaves the original alone.
    est = fit(info.cls(**unusual(info), random_state=11))
    before = results(est)
    for copier in COPIERS:
        twin = copier(est)
        assert results(fit(twin, shift=0.25)) == results(fit(copier(est), shift=0.25))
        assert results(est) == before
    assert results(fit(est, shift=0.25)) == results(twin)


def replace(index, value):
    return lambda state: state[:index] + (value,) + state[index + 1 :]


HOSTILE_STATES = [
    ("ParticleSwarm", lambda s: None, TypeError),
    ("ParticleSwarm", lambda s: s[:5], TypeError),
    ("ParticleSwarm", replace(0, 1), TypeError),
    ("ParticleSwarm", replace(1, (0.0, 0.0)), TypeError),
    ("ParticleSwarm", replace(3, [[0.0, "0"]]), TypeError),
    ("ParticleSwarm", replace(0, None), ValueError),
    ("ParticleSwarm", replace(2, []), ValueError),
    ("ParticleSwarm", replace(4, [[0.0, 0.0]]), ValueError),
    ("GreyWolfOptimizer", replace(3, [[0.0, 0.0], [0.0]]), ValueError),
    ("GreyWolfOptimizer", lambda s: (None, None, [1.0], [], [], []), ValueError),
    *(("AntColony", replace(1, [0.0, 1.0, 2.0, city]), ValueError) for city in (4.0, -1.0, 2.5, NAN)),
    ("Nsga2Optimizer", replace(0, 0.5), ValueError),
    ("Nsga2Optimizer", lambda s: s[:4] + (s[4][1:], s[5]), ValueError),
    ("Nsga2Optimizer", lambda s: s[:5] + ([[0.0, 0.0], [0.0]],), ValueError),
]


@pytest.mark.parametrize("name, forge, error", HOSTILE_STATES)
def test_a_forged_state_is_refused_and_changes_nothing(name, forge, error):
    est = fit(BY_NAME[name].cls(**unusual(BY_NAME[name]), random_state=3))
    before = results(est)
    bad = forge(est.__reduce__()[2])
    with pytest.raises(error, match="^invalid state: "):
        est.__setstate__(bad)
    assert results(est) == before
    if bad is None:
        return  # unpickling calls __setstate__ only with a state

    class Forged:
        def __reduce__(self):
            return est.__reduce__()[:2] + (bad,)

    with pytest.raises(error, match="^invalid state: "):
        pickle.loads(pickle.dumps(Forged()))


def test_truncated_pickles_raise_and_state_changes_respect_a_running_fit():
    data = pickle.dumps(fit(BY_NAME["AntColony"].cls(n_ants=3, n_iterations=2, random_state=1)))
    for end in range(len(data)):
        with pytest.raises(Exception):
            pickle.loads(data[:end])
    est = fit(BY_NAME["ParticleSwarm"].cls(n_particles=3, n_iterations=2, random_state=1))
    state = est.__reduce__()[2]
    holds = ((lambda: est.__setstate__(state), "Already borrowed"), (lambda: copy.copy(est), "Already mutably borrowed"))
    for during, message in holds:
        with pytest.raises(RuntimeError, match=message):
            est.fit(lambda x: during(), [0.0], [1.0])
    assert est.__reduce__()[2] == state


# Limits given as buffers.


def array_forms(np):
    """Ways to hand over limits as arrays: buffers read in one step and buffers read element by element."""

    class BufferOnly(np.ndarray):
        def __getitem__(self, index):
            raise AssertionError("read element by element")

    def spaced(values):
        out = np.zeros(2 * len(values))
        out[::2] = values
        return out[::2]

    def misaligned(values):
        out = np.zeros(8 * len(values) + 1, dtype=np.uint8)[1:].view(np.float64)
        out[:] = values
        return out

    return [np.array, lambda v: np.array(v).view(BufferOnly), lambda v: np.array(v, ">f8"), spaced, misaligned,
            lambda v: np.array(v, object), lambda v: memoryview(array.array("d", v))]


@pytest.mark.parametrize("cls", BOX_CLASSES, ids=lambda c: c.__name__)
def test_limits_given_as_arrays_give_the_results_of_lists(cls):
    np = pytest.importorskip("numpy")
    info = BY_NAME[cls.__name__]
    lower, upper = [-1 / 3, -0.0], [0.1 + 0.2, 2 / 7]  # all 53 bits in use: any rounding would show
    expected = results(fit(cls(**unusual(info), random_state=5), lower=lower, upper=upper))
    for form in array_forms(np):
        assert results(fit(cls(**unusual(info), random_state=5), lower=form(lower), upper=form(upper))) == expected
    with pytest.raises(ValueError, match=r"^Bounds must be finite: upper\[1\] is NaN$"):
        fit(cls(), lower=np.zeros(2), upper=np.array([1.0, NAN]))
