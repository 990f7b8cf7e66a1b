"""Parallel multi-start: the results of fits run one by one, in a deterministic order."""

from concurrent.futures import ThreadPoolExecutor

import pytest

import hivekit
from hivekit import problems
from vectors import bits

SEEDS = [7, 3, 11, 0]
SMALL = {"n_particles": 10, "n_iterations": 15}


def one_by_one(cls, fit_args, params):
    results = []
    for seed in SEEDS:
        est = cls(**params, random_state=seed)
        est.fit(*fit_args)
        results.append((seed, bits(est.score()), bits(est.predict()), bits(getattr(est, "history_", []))))
    return sorted(results)


def as_bits(results):
    return sorted((r.seed, bits(r.score), bits(r.solution), bits(r.history)) for r in results)


def test_default_process_pool_gives_the_sequential_results_best_first():
    box = ([-3.0] * 4, [3.0] * 4)
    results = hivekit.multistart(hivekit.ParticleSwarm, problems.rastrigin, *box, seeds=SEEDS, params=SMALL)
    assert as_bits(results) == one_by_one(hivekit.ParticleSwarm, (problems.rastrigin, *box), SMALL)
    assert [r.score for r in results] == sorted(r.score for r in results)


def test_given_executors_run_any_objective_stay_open_and_rank_every_kind_of_class():
    p = problems.problem("zdt1", 3)
    nsga = {"n_individuals": 12, "n_iterations": 10}
    matrix = hivekit.load_tsplib("eil51").distance_matrix
    colony = {"n_ants": 5, "n_iterations": 3}
    with ThreadPoolExecutor(max_workers=2) as pool:
        flat = hivekit.multistart(hivekit.ParticleSwarm, lambda x: 1.0, [0.0], [1.0], seeds=SEEDS, params=SMALL,
                                  executor=pool)
        pareto = hivekit.multistart(hivekit.Nsga2Optimizer, p.objective, p.lower, p.upper, seeds=SEEDS, params=nsga,
                                    executor=pool)
        tours = hivekit.multistart_tour(hivekit.AntColony, matrix, seeds=SEEDS, params=colony, executor=pool)
        assert pool.submit(lambda: 1).result() == 1
    assert [r.seed for r in flat] == SEEDS  # equal scores keep the order of the seeds
    assert as_bits(pareto) == one_by_one(hivekit.Nsga2Optimizer, (p.objective, p.lower, p.upper), nsga)
    assert [r.score for r in pareto] == sorted((r.score for r in pareto), reverse=True)  # largest hypervolume first
    assert as_bits(tours) == one_by_one(hivekit.AntColony, (matrix,), colony)
    assert [r.score for r in tours] == sorted(r.score for r in tours)


def test_a_failing_fit_raises_its_exception():
    def fails(x):
        raise ZeroDivisionError("probe")

    with ThreadPoolExecutor(max_workers=2) as pool, pytest.raises(ZeroDivisionError, match="probe"):
        hivekit.multistart(hivekit.ParticleSwarm, fails, [0.0], [1.0], seeds=SEEDS, executor=pool)
    assert hivekit.multistart(hivekit.ParticleSwarm, problems.sphere, [0.0], [1.0], seeds=[]) == []


@pytest.mark.parametrize("call", [
    lambda: hivekit.multistart(hivekit.ParticleSwarm, sum, [0.0], [1.0], seeds=[1], params={"random_state": 3}),
    lambda: hivekit.multistart(hivekit.ParticleSwarm, sum, [0.0], [1.0], seeds=[1], params={"n_ants": 3}),
    lambda: hivekit.multistart(hivekit.ParticleSwarm, sum, [0.0], [1.0], seeds=[1.5]),
    lambda: hivekit.multistart(hivekit.AntColony, sum, [0.0], [1.0], seeds=[1]),
    lambda: hivekit.multistart_tour(hivekit.ParticleSwarm, [[0.0]], seeds=[1]),
], ids=["random_state in params", "unknown keyword", "float seed", "tour class", "box class"])
def test_bad_arguments_fail_before_any_fit(call):
    with pytest.raises(TypeError):
        call()
