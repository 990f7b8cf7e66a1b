"""Built-in test problems: optima, boxes, the two-objective fronts, the knapsack solver."""

import itertools
import math
import pickle

import pytest

from hivekit import problems


def hypervolume(points):
    """Area dominated by the points within the reference box (1, 1), for minimisation."""
    volume, prev = 0.0, 1.0
    for x, y in sorted(points):
        if y < prev:
            volume += (prev - y) * max(1.0 - x, 0.0)
            prev = y
    return volume


@pytest.mark.parametrize("name", ["sphere", "rastrigin", "rosenbrock", "ackley", "one_max", "knapsack"])
def test_single_objective_problem_reaches_its_optimum_at_its_solution_only(name):
    p = problems.problem(name)
    assert len(p.lower) == len(p.upper) == len(p.solution) == p.dimension
    assert all(lo <= s <= hi for lo, s, hi in zip(p.lower, p.solution, p.upper))
    assert p.objective(p.solution) == pytest.approx(p.optimum, abs=1e-12)
    if p.kind == "box":
        assert p.objective([s + 0.5 for s in p.solution]) > p.optimum + 1e-6


def test_problem_dimension_can_be_chosen_within_reason():
    p = problems.problem("rastrigin", 3)
    assert p.name == "rastrigin-3" and p.lower == [-5.12] * 3 and p.upper == [5.12] * 3
    for name, dimension in [("nope", None), ("sphere", 0), ("knapsack", 5)]:
        with pytest.raises(ValueError):
            problems.problem(name, dimension)


def test_sums_add_left_to_right_whatever_the_python_version():
    # 1e16 + 1 rounds back to 1e16 twice; a compensated sum would keep the 2.
    assert problems.sphere([1e8, 1.0, 1.0]) == 1e16


@pytest.mark.parametrize(
    "objective, f1, f2",
    [
        (problems.zdt1, 0.25, 1.0 - math.sqrt(0.25)),
        (problems.zdt2, 0.5, 1.0 - 0.25),
        (problems.zdt3, 0.05, 1.0 - math.sqrt(0.05) - 0.05 * math.sin(10.0 * math.pi * 0.05)),
    ],
)
def test_zdt_point_with_zero_tail_lies_on_the_front_and_others_off_it(objective, f1, f2):
    assert objective([f1] + [0.0] * 9) == pytest.approx([f1, f2], abs=1e-15)
    off = objective([f1] + [0.5] * 9)
    assert off[0] == f1 and off[1] > f2


@pytest.mark.parametrize("name", ["zdt1", "zdt2", "zdt3"])
def test_zdt_optimum_is_the_hypervolume_of_the_true_front(name):
    p = problems.problem(name)
    front = [p.objective([i / 20000] + [0.0] * (p.dimension - 1)) for i in range(20001)]
    assert p.n_objectives == 2
    assert hypervolume(front) == pytest.approx(p.optimum, abs=2e-4)


def test_gap_is_positive_when_worse_in_both_senses():
    assert problems.problem("sphere").gap(0.5) == 0.5
    zdt = problems.problem("zdt1")
    assert zdt.gap(zdt.optimum - 0.1) == pytest.approx(0.1)


def test_bit_problems_score_unset_bits_or_value_and_excess():
    assert problems.one_max([1.0, 0.0, 1.0, 0.0, 0.0]) == 3.0
    k = problems.Knapsack([3, 4, 5], [30.0, 50.0, 60.0], 8)
    assert k([1.0, 0.0, 1.0]) == -90.0
    assert k([1.0, 1.0, 1.0]) == 4.0
    assert k([0.0, 0.0, 0.0]) == 0.0


def test_knapsack_best_value_matches_brute_force_and_weights_are_whole():
    weights = [12, 7, 11, 8, 9, 6, 14, 5, 10, 13]
    values = [24, 13, 23, 15, 16, 11, 30, 9, 19, 26]
    k = problems.Knapsack(weights, values, 40)
    brute = min(k([float(b) for b in bits]) for bits in itertools.product((0, 1), repeat=len(weights)))
    assert -k.best_value() == brute
    assert k(k.best_choice()) == brute
    with pytest.raises(ValueError):
        problems.Knapsack([1.5], [1.0], 3)


@pytest.mark.parametrize("name", problems.PROBLEM_NAMES)
def test_objective_pickles_for_worker_processes(name):
    p = problems.problem(name)
    copy = pickle.loads(pickle.dumps(p.objective))
    assert copy(p.solution) == p.objective(p.solution)
