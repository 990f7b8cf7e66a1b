"""Wall time of tour fits on the engine's threads and of tour fits in Python threads.

1. ``AntColony(variant="mmas", random_state=0)`` with its defaults on the bundled pr1002, fitted with
   ``set_threads(2)`` against ``set_threads(1)``: the wall-time ratio (target at least 1.7 on two cores) and
   whether both fits found the same tour.
2. Two such fits (one thread each) in a ``ThreadPoolExecutor`` of 2 against the same two fits one after the
   other: the wall-time ratio (target at least 1.7); the fits release the interpreter lock.

The default fit costs about 200 s of processor time, so the whole run takes about 10 minutes on an idle machine
(the one-thread fits of step 1 serve as the first of the two sequential fits of step 2). ``--quick`` runs the same
steps on the first 300 cities of pr1002 with 10 iterations, as a smoke run. The load average is printed first:
other work on the machine lowers both ratios.

Run with the package importable:
    PYTHONPATH=build/dev/pkg .venv/bin/python benchmarks/bench_tour_threads.py [--quick]
"""

import argparse
import os
import time
from concurrent.futures import ThreadPoolExecutor

import hivekit


def matrix_and_options(quick):
    matrix = hivekit.load_tsplib("pr1002").distance_matrix
    if not quick:
        return matrix, {}
    return [row[:300] for row in matrix[:300]], {"n_iterations": 10}


def fit(matrix, options):
    est = hivekit.AntColony(variant="mmas", random_state=0, **options)
    est.fit(matrix)
    return est.predict(), est.score()


def wall(call):
    start = time.perf_counter()
    result = call()
    return time.perf_counter() - start, result


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--quick", action="store_true", help="300 cities and 10 iterations")
    args = parser.parse_args()
    matrix, options = matrix_and_options(args.quick)
    label = "pr1002[:300], 10 iterations" if args.quick else "pr1002, defaults"
    print(f"AntColony(variant='mmas', random_state=0) on {label}; {os.cpu_count()} cores, "
          f"load average {os.getloadavg()[0]:.2f}", flush=True)

    with hivekit.threads(1):
        one, first = wall(lambda: fit(matrix, options))
        print(f"set_threads(1): {one:8.1f} s, length {first[1]:.0f}", flush=True)
        again, second = wall(lambda: fit(matrix, options))
        print(f"set_threads(1) again: {again:8.1f} s", flush=True)
    with hivekit.threads(2):
        two, parallel = wall(lambda: fit(matrix, options))
    print(f"set_threads(2): {two:8.1f} s, length {parallel[1]:.0f}; ratio {one / two:.2f}x (target 1.7x), "
          f"same tour: {parallel == first}", flush=True)

    with hivekit.threads(1), ThreadPoolExecutor(2) as pool:
        pair, results = wall(lambda: list(pool.map(lambda _: fit(matrix, options), range(2))))
    sequential = one + again
    print(f"two fits in a thread pool of 2: {pair:8.1f} s against {sequential:.1f} s one after the other; "
          f"ratio {sequential / pair:.2f}x (target 1.7x), same tours: {results == [first, second]}", flush=True)
    print(f"load average at the end {os.getloadavg()[0]:.2f}", flush=True)


if __name__ == "__main__":
    main()
