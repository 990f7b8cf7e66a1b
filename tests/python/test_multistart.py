"""Parallel multi-start: the same results as fits run one by one, in a deterministic order."""

from concurrent.futures import ProcessPoolExecutor, ThreadPoolExecutor

import pytest

import hivekit
from hivekit import problems
from vectors import bits

SEEDS = [7, 3, 11, 0]
SMALL = {"n_particles": 10, "n_iterations": 15}


def one_by_one(cls, fit_args, seeds, params):
    results = []
    for seed in seeds:
        est = cls(**params, random_state=seed)
        est.fit(*fit_args)
        history = [] if cls in (hivekit.MopsoOptimizer, hivekit.Nsga2Optimizer) else est.history_
        results.append((seed, bits(est.score()), bits(est.predict()), bits(history)))
    return results


def as_bits(results):
    return [(r.seed, bits(r.score), bits(r.solution), bits(r.history)) for r in results]


def test_process_pool_gives_the_sequential_results_best_first():
    box = ([-3.0] * 4, [3.0] * 4)
    with ProcessPoolExecutor(max_workers=2) as pool:
        results = hivekit.multistart(hivekit.ParticleSwarm, problems.rastrigin, *box, seeds=SEEDS, params=SMALL,
                                     executor=pool)
    expected = one_by_one(hivekit.ParticleSwarm, (problems.rastrigin, *box), SEEDS, SMALL)
    assert sorted(as_bits(results)) == sorted(expected)
    scores = [r.score for r in results]
    assert scores == sorted(scores)


def test_default_executor_is_a_process_pool_with_the_same_results():
    box = ([-3.0] * 3, [3.0] * 3)
    results = hivekit.multistart(hivekit.ParticleSwarm, problems.sphere, *box, seeds=[1, 2], params=SMALL)
    assert sorted(as_bits(results)) == sorted(one_by_one(hivekit.ParticleSwarm, (problems.sphere, *box), [1, 2], SMALL))


def test_thread_pool_accepts_unpicklable_objectives_and_stays_open():
    with ThreadPoolExecutor(max_workers=2) as pool:
        results = hivekit.multistart(hivekit.ParticleSwarm, lambda x: abs(x[0] - 0.25), [0.0], [1.0],
                                     seeds=SEEDS, params=SMALL, executor=pool)
        assert pool.submit(lambda: 1).result() == 1
    assert [r.seed for r in results] and len(results) == len(SEEDS)


def test_equal_scores_keep_the_order_of_the_seeds():
    with ThreadPoolExecutor(max_workers=2) as pool:
        results = hivekit.multistart(hivekit.ParticleSwarm, lambda x: 1.0, [0.0], [1.0], seeds=SEEDS, params=SMALL,
                                     executor=pool)
    assert [r.seed for r in results] == SEEDS


def test_multi_objective_results_put_the_largest_hypervolume_first():
    p = problems.problem("zdt1", 3)
    params = {"n_individuals": 12, "n_iterations": 10}
    with ThreadPoolExecutor(max_workers=2) as pool:
        results = hivekit.multistart(hivekit.Nsga2Optimizer, p.objective, p.lower, p.upper, seeds=SEEDS,
                                     params=params, executor=pool)
    scores = [r.score for r in results]
    assert scores == sorted(scores, reverse=True)
    assert sorted(as_bits(results)) == sorted(one_by_one(hivekit.Nsga2Optimizer, (p.objective, p.lower, p.upper),
                                                         SEEDS, params))


def test_tour_variant_gives_the_sequential_results():
    matrix = hivekit.load_tsplib("eil51").distance_matrix
    params = {"n_ants": 5, "n_iterations": 3}
    with ProcessPoolExecutor(max_workers=2) as pool:
        results = hivekit.multistart_tour(hivekit.AntColony, matrix, seeds=SEEDS, params=params, executor=pool)
    assert sorted(as_bits(results)) == sorted(one_by_one(hivekit.AntColony, (matrix,), SEEDS, params))
    assert [r.score for r in results] == sorted(r.score for r in results)


def test_failing_fit_raises_its_exception():
    def fails(x):
        raise ZeroDivisionError("probe")

    with ThreadPoolExecutor(max_workers=2) as pool, pytest.raises(ZeroDivisionError, match="probe"):
        hivekit.multistart(hivekit.ParticleSwarm, fails, [0.0], [1.0], seeds=SEEDS, executor=pool)


@pytest.mark.parametrize(
    "call",
    [
        lambda: hivekit.multistart(hivekit.ParticleSwarm, problems.sphere, [0.0], [1.0], seeds=[1],
                                   params={"random_state": 3}),
        lambda: hivekit.multistart(hivekit.ParticleSwarm, problems.sphere, [0.0], [1.0], seeds=[1],
                                   params={"n_ants": 3}),
        lambda: hivekit.multistart(hivekit.ParticleSwarm, problems.sphere, [0.0], [1.0], seeds=[1.5]),
        lambda: hivekit.multistart(hivekit.AntColony, problems.sphere, [0.0], [1.0], seeds=[1]),
        lambda: hivekit.multistart_tour(hivekit.ParticleSwarm, [[0.0]], seeds=[1]),
    ],
    ids=["random_state in params", "unknown keyword", "float seed", "tour class", "box class"],
)
def test_bad_arguments_fail_before_any_fit(call):
    with pytest.raises(TypeError):
        call()


def test_no_seeds_give_no_results():
    assert hivekit.multistart(hivekit.ParticleSwarm, problems.sphere, [0.0], [1.0], seeds=[]) == []
