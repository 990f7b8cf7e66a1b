"""Built-in test problems: optima, boxes, the two-objective fronts, the knapsack solver."""

import itertools
import math
import pickle

import pytest

from hivekit import problems


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


def test_dimensions_gaps_and_left_to_right_sums():
    p = problems.problem("rastrigin", 3)
    assert p.name == "rastrigin-3" and p.lower == [-5.12] * 3 and p.upper == [5.12] * 3
    for name, dimension in [("nope", None), ("sphere", 0), ("knapsack", 5)]:
        with pytest.raises(ValueError):
            problems.problem(name, dimension)
    assert problems.problem("sphere").gap(0.5) == 0.5  # positive when worse, whichever way the problem points
    assert problems.problem("zdt1").gap(problems.problem("zdt1").optimum - 0.1) == pytest.approx(0.1)
    assert problems.sphere([1e8, 1.0, 1.0]) == 1e16  # 1e16 + 1 rounds back twice; a compensated sum keeps the 2


@pytest.mark.parametrize("objective, f1, f2", [
    (problems.zdt1, 0.25, 1.0 - math.sqrt(0.25)), (problems.zdt2, 0.5, 1.0 - 0.25),
    (problems.zdt3, 0.05, 1.0 - math.sqrt(0.05) - 0.05 * math.sin(10.0 * math.pi * 0.05)),
])
def test_zdt_point_with_zero_tail_lies_on_the_front_and_others_off_it(objective, f1, f2):
    assert objective([f1] + [0.0] * 9) == pytest.approx([f1, f2], abs=1e-15)
    off = objective([f1] + [0.5] * 9)
    assert off[0] == f1 and off[1] > f2


def test_bit_problems_and_the_knapsack_solver():
    assert problems.one_max([1.0, 0.0, 1.0, 0.0, 0.0]) == 3.0
    small = problems.Knapsack([3, 4, 5], [30.0, 50.0, 60.0], 8)  # minus the value, or the excess weight
    assert [small(c) for c in ([1.0, 0.0, 1.0], [1.0, 1.0, 1.0], [0.0, 0.0, 0.0])] == [-90.0, 4.0, 0.0]
    k = problems.Knapsack([12, 7, 11, 8, 9, 6, 14, 5, 10, 13], [24, 13, 23, 15, 16, 11, 30, 9, 19, 26], 40)
    brute = min(k([float(b) for b in bits]) for bits in itertools.product((0, 1), repeat=10))
    assert -k.best_value() == brute == k(k.best_choice())
    with pytest.raises(ValueError):
        problems.Knapsack([1.5], [1.0], 3)  # weights are whole
