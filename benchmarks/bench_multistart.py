"""Wall time of multistart_tour on pr1002 with a numpy matrix, against the same fits one after another.

``AntColony(n_ants=..., n_iterations=..., random_state=seed)`` is fitted on ``numpy.array`` of the bundled
pr1002 matrix for every seed: one after another in this process (the baseline, measured in the same run), then
through ``multistart_tour`` on a ProcessPoolExecutor of 2 passed in (the matrix goes with every task), and
through the pool the call makes itself (the matrix goes once to each worker), each in wall time and in the
processor time of all its processes (which stays comparable on a machine shared with other work, where the wall
time does not). Every result must equal the sequential fit of its seed bit for bit. Also printed: the pickled
size of the matrix, and the processor time of pickling and unpickling it, as the rows of numpy scalars it was
once sent as and as it is sent now.

Run with the package importable:
    PYTHONPATH=build/dev/pkg .venv/bin/python benchmarks/bench_multistart.py [--seeds 6] [--iterations 5]
"""

import argparse
import importlib
import pickle
import resource
import time
from concurrent.futures import ProcessPoolExecutor

import numpy

import hivekit

multistart_module = importlib.import_module("hivekit.multistart")  # the package's name is taken by the function


def key(results):
    return sorted((r.seed, r.score.hex(), tuple(r.solution)) for r in results)


def processor_seconds():
    # The workers' time is counted once they have ended, which the pools here wait for before returning.
    own, children = resource.getrusage(resource.RUSAGE_SELF), resource.getrusage(resource.RUSAGE_CHILDREN)
    return own.ru_utime + own.ru_stime + children.ru_utime + children.ru_stime


def timed(fn):
    """Wall seconds, processor seconds of this process and its ended children, and the result of fn()."""
    wall, cpu = time.perf_counter(), processor_seconds()
    result = fn()
    return time.perf_counter() - wall, processor_seconds() - cpu, result


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--seeds", type=int, default=6, help="number of seeds (default 6)")
    parser.add_argument("--ants", type=int, default=20, help="n_ants (default 20)")
    parser.add_argument("--iterations", type=int, default=5, help="n_iterations (default 5)")
    args = parser.parse_args()
    instance = hivekit.load_tsplib("pr1002")
    matrix = numpy.array(instance.distance_matrix)
    params = {"n_ants": args.ants, "n_iterations": args.iterations}
    seeds = list(range(args.seeds))

    for label, form in [("rows of numpy scalars", [list(row) for row in matrix]),
                        ("one buffer of doubles", multistart_module._packed(matrix))]:
        start = time.process_time()
        data = pickle.dumps(form)
        pickle.loads(data)
        print(f"pr1002 matrix as {label}: {len(data) / 1e6:4.1f} MB pickled, "
              f"{time.process_time() - start:6.3f} s CPU to pickle and unpickle (once a task)", flush=True)

    def one_by_one():
        results = []
        for seed in seeds:
            est = hivekit.AntColony(**params, random_state=seed)
            est.fit(matrix)
            results.append(hivekit.StartResult(seed, est.score(), est.predict(), est.history_))
        return results

    def given_pool():
        with ProcessPoolExecutor(max_workers=2) as pool:
            return hivekit.multistart_tour(hivekit.AntColony, matrix, seeds=seeds, params=params, executor=pool)

    def own_pool():
        return hivekit.multistart_tour(hivekit.AntColony, matrix, seeds=seeds, params=params)

    baseline, baseline_cpu, expected = timed(one_by_one)
    print(f"AntColony {params} on pr1002, {len(seeds)} seeds", flush=True)
    print(f"  one after another{'':31}: {baseline:6.1f} s wall, {baseline_cpu:6.1f} s CPU",
          flush=True)
    workers = min(len(seeds), multistart_module._process_cpu_count() or 1)
    for label, fn in [("process pool of 2 passed in", given_pool),
                      (f"pool made by the call ({workers} workers)", own_pool)]:
        seconds, cpu, results = timed(fn)
        print(f"  multistart_tour, {label:31}: {seconds:6.1f} s wall, {cpu:6.1f} s CPU; "
              f"{baseline / seconds:4.2f} x the one-by-one speed, {cpu / baseline_cpu:4.2f} x its CPU; "
              f"results identical: {key(results) == key(expected)}", flush=True)


if __name__ == "__main__":
    main()
