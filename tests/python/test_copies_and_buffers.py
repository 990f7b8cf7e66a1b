"""Copies and pickles of estimators, and limits given as buffers."""

import array
import copy
import math
import pickle

import numpy as np
import pytest

from hivekit._registry import BOX_CLASSES, BY_NAME, CLASSES
from small_runs import SQUARE, snapshot

INF, NAN = math.inf, math.nan
COPIERS = [copy.copy, copy.deepcopy] + [lambda est, p=p: pickle.loads(pickle.dumps(est, p))
                                        for p in range(pickle.HIGHEST_PROTOCOL + 1)]


def fit(est, shift=0.0, lower=(-1.0, -1.0), upper=(1.0, 1.0), number=float):
    info = BY_NAME[type(est).__name__]
    if info.input == "tour":
        est.fit([[v + shift for v in row] for row in SQUARE])
    elif info.multi_objective:
        est.fit(lambda x: [sum(x) + shift, sum((v - 1) ** 2 for v in x)], lower, upper)
    else:
        est.fit(lambda x: number(sum((v - shift) ** 2 for v in x)), lower, upper)
    return est


def unusual(info):
    """Hyperparameters away from the defaults: small sizes, reals one step off, flags flipped."""
    return {p.name: (2 if p.name == "n_iterations" else 4) if p.kind == "size" else math.nextafter(p.default, INF)
            if p.kind == "real" else (not p.default) if p.kind == "flag" else "elitist" for p in info.params}


@pytest.mark.parametrize("info", CLASSES, ids=lambda i: i.name)
def test_copies_and_pickles_keep_hyperparameters_seed_and_results(info):
    for random_state in (None, 2**64 - 1):
        est = info.cls(**unusual(info), random_state=random_state)
        for stage in ("unfitted", "fitted"):
            for copier in COPIERS:
                twin = copier(est)
                assert type(twin) is info.cls and twin is not est
                # The constructor's arguments, the seed last: None stays None, a seed stays exact.
                assert twin.__reduce__()[1] == est.__reduce__()[1] and twin.__reduce__()[1][-1] == random_state
                assert snapshot(twin) == snapshot(est)
            fit(est)
    # A seeded copy refits as the original does, and refitting it leaves the original alone.
    est = fit(info.cls(**unusual(info), random_state=11))
    before = snapshot(est)
    for copier in COPIERS:
        twin = copier(est)
        assert snapshot(fit(twin, shift=0.25)) == snapshot(fit(copier(est), shift=0.25)) and snapshot(est) == before
    assert snapshot(fit(est, shift=0.25)) == snapshot(twin)


def replace(index, value):
    return lambda state: state[:index] + (value,) + state[index + 1:]


@pytest.mark.parametrize("name, forge, error", [
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
])
def test_a_forged_state_is_refused_and_changes_nothing(name, forge, error):
    est = fit(BY_NAME[name].cls(**unusual(BY_NAME[name]), random_state=3))
    before, bad = snapshot(est), forge(est.__reduce__()[2])
    with pytest.raises(error, match="^invalid state: "):
        est.__setstate__(bad)
    assert snapshot(est) == before
    if bad is not None:  # unpickling calls __setstate__ only with a state
        forged = type("Forged", (), {"__reduce__": lambda self: est.__reduce__()[:2] + (bad,)})
        with pytest.raises(error, match="^invalid state: "):
            pickle.loads(pickle.dumps(forged()))


class BufferOnly(np.ndarray):
    def __getitem__(self, index):
        raise AssertionError("read element by element")


# Read as a buffer only, the other byte order, strided, misaligned (one byte into a writable buffer), objects.
ARRAY_FORMS = [np.array, lambda v: np.array(v).view(BufferOnly), lambda v: np.array(v, ">f8"),
               lambda v: np.repeat(np.array(v), 2)[::2],
               lambda v: np.frombuffer(bytearray(b"\0" + np.array(v).tobytes()), offset=1),
               lambda v: np.array(v, object), lambda v: memoryview(array.array("d", v))]


@pytest.mark.parametrize("cls", BOX_CLASSES, ids=lambda c: c.__name__)
def test_limits_given_as_arrays_give_the_results_of_lists(cls):
    info = BY_NAME[cls.__name__]
    lower, upper = [-1 / 3, -0.0], [0.1 + 0.2, 2 / 7]  # all 53 bits in use: any rounding would show
    expected = snapshot(fit(cls(**unusual(info), random_state=5), lower=lower, upper=upper))
    for form in ARRAY_FORMS:
        est = cls(**unusual(info), random_state=5)
        assert snapshot(fit(est, lower=form(lower), upper=form(upper), number=np.float64)) == expected
    with pytest.raises(ValueError, match=r"^Bounds must be finite: upper\[1\] is NaN$"):
        fit(cls(), lower=np.zeros(2), upper=np.array([1.0, NAN]))
