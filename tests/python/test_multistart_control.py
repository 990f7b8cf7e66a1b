"""multistart under an interrupt, with an objective a process pool cannot take, and on a Dask cluster."""

import os
import signal
import subprocess
import sys
import textwrap
import time
from concurrent.futures import ProcessPoolExecutor, ThreadPoolExecutor

import pytest

import hivekit
from hivekit import problems
from vectors import bits

CHILD = textwrap.dedent(
    """
    import os, sys, time
    from concurrent.futures import ProcessPoolExecutor, ThreadPoolExecutor
    import hivekit

    announced = False

    def slow(x):
        global announced
        if not announced:
            announced = True
            os.write(1, f"worker {os.getpid()}\\n".encode())  # one write: the workers share the pipe
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
)


def alive(pid):
    try:
        with open(f"/proc/{pid}/stat") as stat:
            return stat.read().rsplit(")", 1)[1].split()[0] != "Z"
    except FileNotFoundError:
        return False


@pytest.mark.parametrize("executor", ["default", "threads", "processes"])
def test_one_interrupt_stops_the_call_and_its_workers(tmp_path, executor):
    script = tmp_path / "child.py"
    script.write_text(CHILD)
    # A session of its own lets the signal reach the whole group, as a terminal's Ctrl-C does.
    child = subprocess.Popen([sys.executable, str(script), executor], stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE, text=True, start_new_session=True)
    try:
        lines = [child.stdout.readline() for _ in range(2 if executor != "threads" else 1)]
        assert all(lines), child.communicate()
        workers = [int(line.split()[1]) for line in lines]
        time.sleep(0.3)
        os.killpg(child.pid, signal.SIGINT)
        start = time.monotonic()
        _, err = child.communicate(timeout=10)
        elapsed = time.monotonic() - start
    finally:
        if child.poll() is None:
            os.killpg(child.pid, signal.SIGKILL)
            child.communicate()
    assert elapsed < 2.0, err
    assert err.rstrip().endswith("KeyboardInterrupt"), err
    assert not [pid for pid in workers if alive(pid)]


def nested_objective_factory():
    def objective(x):
        return x[0]

    return objective


class NoSubmit(ProcessPoolExecutor):
    def submit(self, *args, **kwargs):
        raise AssertionError("a task was submitted")


@pytest.mark.parametrize("objective", [lambda x: x[0], nested_objective_factory()], ids=["lambda", "nested"])
def test_an_unpicklable_objective_is_refused_before_any_work_with_a_process_pool(objective):
    with NoSubmit(max_workers=1) as pool:
        for executor in (None, pool):
            with pytest.raises(TypeError, match="module level.*thread pool"):
                hivekit.multistart(hivekit.ParticleSwarm, objective, [0.0], [1.0], seeds=[1], executor=executor)
    with ThreadPoolExecutor(max_workers=1) as threads:
        [result] = hivekit.multistart(hivekit.ParticleSwarm, objective, [0.0], [1.0], seeds=[1],
                                      params={"n_iterations": 5}, executor=threads)
    est = hivekit.ParticleSwarm(n_iterations=5, random_state=1)
    est.fit(objective, [0.0], [1.0])
    assert bits(result.score) == bits(est.score())


def test_a_dask_cluster_gives_the_local_results_bit_for_bit():
    import distributed
    box = ([-5.12] * 4, [5.12] * 4)
    params = {"n_individuals": 12, "n_iterations": 20}
    # Workers in this process talk to the scheduler in memory: no network is needed.
    with distributed.LocalCluster(n_workers=1, threads_per_worker=2, processes=False,
                                  dashboard_address=None) as cluster, distributed.Client(cluster) as client:
        remote = hivekit.multistart(hivekit.DifferentialEvolution, problems.rastrigin, *box, seeds=range(4),
                                    params=params, executor=client.get_executor())
    with ThreadPoolExecutor(max_workers=1) as pool:
        local = hivekit.multistart(hivekit.DifferentialEvolution, problems.rastrigin, *box, seeds=range(4),
                                   params=params, executor=pool)
    assert [(r.seed, bits(r.score), bits(r.solution), bits(r.history)) for r in remote] == \
        [(r.seed, bits(r.score), bits(r.solution), bits(r.history)) for r in local]
