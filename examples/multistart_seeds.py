"""Run one optimiser under several seeds in parallel and keep the best run.

    python examples/multistart_seeds.py [--small]

The objective must be picklable for a process pool: a module-level function such as ``problems.ackley``
(a lambda would fail). With Dask, ``executor=distributed.Client(...).get_executor()`` runs the same call on a
cluster.
"""

import argparse
from concurrent.futures import ProcessPoolExecutor

import hivekit
from hivekit import problems


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--small", action="store_true", help="a few iterations only")
    args = parser.parse_args()

    ackley = problems.problem("ackley", 5)
    params = {"n_iterations": 10 if args.small else 200}
    with ProcessPoolExecutor(max_workers=2) as pool:
        results = hivekit.multistart(hivekit.CuckooSearch, ackley.objective, ackley.lower, ackley.upper,
                                     seeds=range(8), params=params, executor=pool)
    for r in results:
        print(f"seed {r.seed}: {r.score:.6g}")
    best = results[0]

    # Any single run can be repeated on its own from its seed.
    est = hivekit.CuckooSearch(**params, random_state=best.seed)
    est.fit(ackley.objective, ackley.lower, ackley.upper)
    print(f"best seed {best.seed} refitted alone gives the same score:", est.score() == best.score)


if __name__ == "__main__":
    main()
