"""Parallel multi-start: the results of fits run one by one, in a deterministic order, on any executor."""

import array
import importlib
import os
import pickle
import signal
import threading
import time
from concurrent.futures import ProcessPoolExecutor, ThreadPoolExecutor

import numpy as np
import pytest

import hivekit
from hivekit import problems
from small_runs import child
from vectors import bits

SEEDS = [7, 3, 11, 0]
SMALL = {"n_particles": 10, "n_iterations": 15}


def one_by_one(cls, fit_args, params, seeds=SEEDS):
    results = []
    for seed in seeds:
        est = cls(**params, random_state=seed)
        est.fit(*fit_args)
        results.append((seed, bits(est.score()), bits(est.predict()), bits(getattr(est, "history_", []))))
    return sorted(results)


def as_bits(results):
    return sorted((r.seed, bits(r.score), bits(r.solution), bits(r.history)) for r in results)


def test_default_process_pool_gives_the_sequential_results_best_first():
    box = ([-3.0] * 4, [3.0] * 4)
    for objective in (problems.rastrigin, problems.problem("shifted_rastrigin", 4).objective):  # sent by pickling
        results = hivekit.multistart(hivekit.ParticleSwarm, objective, *box, seeds=SEEDS, params=SMALL)
        assert as_bits(results) == one_by_one(hivekit.ParticleSwarm, (objective, *box), SMALL)
        assert [r.score for r in results] == sorted(r.score for r in results)
    # A vectorised objective pickles with its function (here, before any test starts a thread: forking then is unsafe).
    vectorized = hivekit.multistart(hivekit.ParticleSwarm, hivekit.Vectorized(rowwise_rastrigin), *box, seeds=SEEDS,
                                    params=SMALL)
    assert as_bits(vectorized) == one_by_one(hivekit.ParticleSwarm, (problems.rastrigin, *box), SMALL)
    assert hivekit.multistart(hivekit.ParticleSwarm, problems.sphere, [0.0], [1.0], seeds=[]) == []


NUMPY_SEEDS = [np.int64(7), np.uint64(3), np.int8(11), 2**64 - 1]


def flat_objective(x):
    return 1.0


def test_given_executors_run_any_objective_take_numpy_seeds_stay_open_and_rank_every_kind_of_class():
    p = problems.problem("zdt1", 3)
    nsga, colony = {"n_individuals": 12, "n_iterations": 10}, {"n_ants": 5, "n_iterations": 3}
    matrix = hivekit.load_tsplib("eil51").distance_matrix
    with ThreadPoolExecutor(max_workers=2) as pool:
        flat = hivekit.multistart(hivekit.ParticleSwarm, flat_objective, [0.0], [1.0], seeds=NUMPY_SEEDS,
                                  params=SMALL, executor=pool)
        pareto = hivekit.multistart(hivekit.Nsga2Optimizer, p.objective, p.lower, p.upper, seeds=SEEDS, params=nsga,
                                    executor=pool)
        tours = hivekit.multistart_tour(hivekit.AntColony, matrix, seeds=SEEDS, params=colony, executor=pool)
        with pytest.raises(ZeroDivisionError):
            hivekit.multistart(hivekit.ParticleSwarm, lambda x: 1 / 0, [0.0], [1.0], seeds=SEEDS, executor=pool)
        assert pool.submit(lambda: 1).result() == 1
    assert [r.seed for r in flat] == [7, 3, 11, 2**64 - 1]  # equal scores keep the order of the seeds
    assert [type(r.seed) for r in flat] == [int] * 4
    assert as_bits(flat) == one_by_one(hivekit.ParticleSwarm, (flat_objective, [0.0], [1.0]), SMALL,
                                       [7, 3, 11, 2**64 - 1])
    assert as_bits(pareto) == one_by_one(hivekit.Nsga2Optimizer, (p.objective, p.lower, p.upper), nsga)
    assert [r.score for r in pareto] == sorted((r.score for r in pareto), reverse=True)  # largest hypervolume first
    assert as_bits(tours) == one_by_one(hivekit.AntColony, (matrix,), colony)
    assert [r.score for r in tours] == sorted(r.score for r in tours)


class Recording(ProcessPoolExecutor):
    """A process pool that notes the pickled size of every task it is given."""

    sizes: list[int] = []

    def submit(self, fn, /, *args, **kwargs):
        Recording.sizes.append(len(pickle.dumps(args)))
        return super().submit(fn, *args, **kwargs)


def test_a_numpy_matrix_in_any_layout_gives_the_fits_on_its_list_and_travels_compactly(monkeypatch):
    matrix = hivekit.load_tsplib("eil51").distance_matrix
    n, colony = len(matrix), {"n_ants": 4, "n_iterations": 2}
    expected = one_by_one(hivekit.AntColony, (matrix,), colony)
    array = np.array(matrix)
    monkeypatch.setattr(importlib.import_module("hivekit.multistart"), "ProcessPoolExecutor", Recording)
    Recording.sizes = []
    assert as_bits(hivekit.multistart_tour(hivekit.AntColony, array, seeds=SEEDS, params=colony)) == expected
    assert len(Recording.sizes) == len(SEEDS) and max(Recording.sizes) < 1000  # the workers got it at their start
    Recording.sizes = []
    with Recording(max_workers=2) as pool:
        given = hivekit.multistart_tour(hivekit.AntColony, array.astype(np.float32), seeds=SEEDS, params=colony,
                                        executor=pool)
    assert as_bits(given) == expected and max(Recording.sizes) < 8 * n * n + 1000  # a double an entry
    with ThreadPoolExecutor(max_workers=2) as pool:
        for layout in (np.asfortranarray(array), array.astype(np.int64), [tuple(row) for row in array], matrix):
            assert as_bits(hivekit.multistart_tour(hivekit.AntColony, layout, seeds=SEEDS, params=colony,
                                                   executor=pool)) == expected


class NoSubmit(ProcessPoolExecutor):
    def submit(self, *args, **kwargs):
        raise AssertionError("a task was submitted")


@pytest.mark.parametrize("matrix", [
    [1.0, 2.0], np.array([1.0, 2.0]), [], np.zeros((0, 0)), [[0.0, 1.0]], np.zeros((2, 3)), [[0.0, "1"], [1.0, 0.0]],
    [{0: 0.0, 1: 1.0}, {0: 1.0, 1: 0.0}], "ab", 3.0, [[0.0, 10**400], [1.0, 0.0]],
], ids=["flat list", "flat array", "empty", "empty array", "one row", "wide array", "str entry", "dict rows", "str",
        "number", "huge int"])
def test_a_matrix_a_fit_refuses_is_refused_before_any_fit_with_the_fits_kind_of_error(matrix):
    with pytest.raises(Exception) as fitting:
        hivekit.AntColony().fit(matrix)
    with NoSubmit(max_workers=1) as pool, pytest.raises(fitting.type, match="distance_matrix"):
        hivekit.multistart_tour(hivekit.AntColony, matrix, seeds=[1], executor=pool)


@pytest.mark.parametrize("cls, args, options, error, match", [
    (hivekit.ParticleSwarm, (sum, [0.0], [1.0]), {"seeds": [1], "params": {"random_state": 3}}, TypeError, None),
    (hivekit.ParticleSwarm, (sum, [0.0], [1.0]), {"seeds": [1], "params": {"n_ants": 3}}, TypeError, None),
    (hivekit.ParticleSwarm, (sum, [0.0], [1.0]), {"seeds": [1.5]}, TypeError, None),
    (hivekit.AntColony, (sum, [0.0], [1.0]), {"seeds": [1]}, TypeError, None),
    (hivekit.ParticleSwarm, ([[0.0]],), {"seeds": [1]}, TypeError, None),
    *[(hivekit.ParticleSwarm, (problems.sphere, [0.0], [1.0]), {"seeds": [1, seed]}, ValueError,
       f"seed {int(seed)} is outside 0 .. 2") for seed in (-1, 2**64, np.int64(-5))],
], ids=["random_state in params", "unknown keyword", "float seed", "tour class", "box class", "seed -1", "seed 2**64",
        "numpy seed -5"])
def test_bad_arguments_and_seeds_outside_the_range_of_random_state_fail_before_any_fit(cls, args, options, error, match):
    run = hivekit.multistart_tour if len(args) == 1 else hivekit.multistart
    with NoSubmit(max_workers=1) as pool, pytest.raises(error, match=match):
        run(cls, *args, **options, executor=pool)


INTERRUPTED = """
import os, sys, time
from concurrent.futures import ProcessPoolExecutor, ThreadPoolExecutor
import hivekit

announced = []

def slow(x):
    if not announced:
        announced.append(os.write(1, f"worker {os.getpid()}\\n".encode()))  # one write: the workers share the pipe
    time.sleep(0.001)
    return sum(v * v for v in x)

def run(executor):
    hivekit.multistart(hivekit.DifferentialEvolution, slow, [-1.0] * 3, [1.0] * 3, seeds=range(6),
                       params={"n_iterations": 100000}, executor=executor)

if __name__ == "__main__":
    if sys.argv[1] == "default":
        run(None)
    else:
        with (ThreadPoolExecutor if sys.argv[1] == "threads" else ProcessPoolExecutor)(2) as pool:
            run(pool)
"""


def alive(pid):
    try:
        with open(f"/proc/{pid}/stat") as stat:
            return stat.read().rsplit(")", 1)[1].split()[0] != "Z"
    except FileNotFoundError:
        return False


@pytest.mark.parametrize("executor", ["default", "threads", "processes"])
def test_one_interrupt_stops_the_call_and_its_workers(tmp_path, executor):
    script = tmp_path / "child.py"  # process pools re-import the main module
    script.write_text(INTERRUPTED)
    # A session of its own lets the signal reach the whole group, as a terminal's Ctrl-C does.
    proc, lines = child(str(script), executor, start_new_session=True)
    try:
        workers = [int(lines.get(timeout=60).split()[1]) for _ in range(2 if executor != "threads" else 1)]
        time.sleep(0.3)
        os.killpg(proc.pid, signal.SIGINT)
        start = time.monotonic()
        proc.wait(timeout=10)
        elapsed = time.monotonic() - start
    finally:
        if proc.poll() is None:
            os.killpg(proc.pid, signal.SIGKILL)
    err = proc.stderr.read()
    assert elapsed < 2.0 and err.rstrip().endswith("KeyboardInterrupt"), err
    assert not [pid for pid in workers if alive(pid)]


def nested_objective_factory():
    def objective(x):
        return x[0]
    return objective


@pytest.mark.parametrize("objective", [lambda x: x[0], nested_objective_factory()], ids=["lambda", "nested"])
def test_an_unpicklable_objective_is_refused_before_any_work_with_a_process_pool(objective):
    with NoSubmit(max_workers=1) as pool:
        for executor in (None, pool):
            with pytest.raises(TypeError, match="module level.*thread pool"):
                hivekit.multistart(hivekit.ParticleSwarm, objective, [0.0], [1.0], seeds=[1], executor=executor)
    with ThreadPoolExecutor(max_workers=1) as threads:
        result = hivekit.multistart(hivekit.ParticleSwarm, objective, [0.0], [1.0], seeds=[1],
                                    params={"n_iterations": 5}, executor=threads)
    assert as_bits(result) == one_by_one(hivekit.ParticleSwarm, (objective, [0.0], [1.0]), {"n_iterations": 5}, [1])


def test_a_dask_cluster_gives_the_local_results_bit_for_bit():
    distributed = pytest.importorskip("distributed")
    box, params = ([-5.12] * 4, [5.12] * 4), {"n_individuals": 12, "n_iterations": 20}
    # Workers in this process talk to the scheduler in memory: no network is needed.
    with distributed.LocalCluster(n_workers=1, threads_per_worker=2, processes=False,
                                  dashboard_address=None) as cluster, distributed.Client(cluster) as client:
        remote = hivekit.multistart(hivekit.DifferentialEvolution, problems.rastrigin, *box, seeds=range(4),
                                    params=params, executor=client.get_executor())
    assert as_bits(remote) == one_by_one(hivekit.DifferentialEvolution, (problems.rastrigin, *box), params, range(4))


def rowwise_rastrigin(rows):
    return [problems.rastrigin(list(row)) for row in rows]


def test_wrapped_objectives_give_the_plain_results_and_a_parallel_one_is_refused_where_it_cannot_work():
    pytest.importorskip("numpy")
    box, params = ([-3.0] * 3, [3.0] * 3), {"n_individuals": 8, "n_iterations": 5}
    plain = one_by_one(hivekit.CmaEsOptimizer, (problems.rastrigin, *box), params)
    processes = ProcessPoolExecutor(max_workers=1)  # never started: the Parallel objective is refused first
    with ThreadPoolExecutor(2) as fits, ThreadPoolExecutor(2) as rows:
        for objective in [hivekit.Vectorized(rowwise_rastrigin), hivekit.Parallel(problems.rastrigin, rows)]:
            results = hivekit.multistart(hivekit.CmaEsOptimizer, objective, *box, seeds=SEEDS, params=params,
                                         executor=fits)
            assert as_bits(results) == plain, objective
        for executor, match in [(None, "worker processes"), (processes, "worker processes"), (rows, "of its own")]:
            with pytest.raises(TypeError, match=match):
                hivekit.multistart(hivekit.CmaEsOptimizer, hivekit.Parallel(problems.rastrigin, rows), *box,
                                   seeds=SEEDS, params=params, executor=executor)
    processes.shutdown()


def test_the_thread_pools_stop_signal_passes_batches_through_only_to_an_objective_that_takes_them():
    from hivekit.multistart import _Cancelled, _StoppableObjective

    cancelled = threading.Event()
    assert not hasattr(_StoppableObjective(problems.rastrigin, cancelled), "_hivekit_batch")
    stoppable = _StoppableObjective(hivekit.Parallel(problems.sphere, ThreadPoolExecutor(1)), cancelled)
    data = bytearray(array.array("d", [1.0, 2.0, 3.0, 4.0]).tobytes())
    assert stoppable._hivekit_batch(data, 2, 2) == [5.0, 25.0]
    cancelled.set()
    with pytest.raises(_Cancelled):
        stoppable._hivekit_batch(data, 2, 2)
    stoppable.objective.executor.shutdown()
