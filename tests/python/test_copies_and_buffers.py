"""Boxes that cannot be searched, copies and pickles of estimators, and limits given as buffers."""

import math
import sys

import pytest

from hivekit._registry import BOX_CLASSES

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
    with pytest.raises(ValueError, match="same length"):
        est.fit(sum, [NAN], [1.0, 2.0])
    with pytest.raises(ValueError, match=r"Lower bound inf > upper bound 1 at index 0"):
        est.fit(sum, [INF], [1.0])
    # A width of exactly the largest double does not overflow.
    half = sys.float_info.max / 2
    est.fit(sum, [-half], [half])
    assert math.isfinite(est.score())
