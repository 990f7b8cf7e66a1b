"""Minimise a function over a box with two optimisers, and check that a seed reproduces a run exactly.

    python examples/box_minimisation.py [--small]
"""

import argparse

import hivekit
from hivekit import problems


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--small", action="store_true", help="a few iterations only")
    args = parser.parse_args()
    iterations = 10 if args.small else 300

    rastrigin = problems.problem("rastrigin", 5)
    for est in (
        hivekit.ParticleSwarm(n_iterations=iterations, w=0.7, c1=1.5, c2=1.5, random_state=42),
        hivekit.DifferentialEvolution(n_iterations=iterations, random_state=42),
    ):
        est.fit(rastrigin.objective, rastrigin.lower, rastrigin.upper)
        best = ", ".join(f"{v:.4f}" for v in est.predict())
        print(f"{type(est).__name__}: f = {est.score():.6g} at [{best}]")
        print(f"  history_ holds {len(est.history_)} value(s), the last {est.history_[-1]:.6g}")

    # Same class, same hyperparameters, same random_state: the same run, bit for bit.
    again = hivekit.DifferentialEvolution(n_iterations=iterations, random_state=42)
    again.fit(rastrigin.objective, rastrigin.lower, rastrigin.upper)
    print("reproduced exactly:", again.score() == est.score() and again.predict() == est.predict())


if __name__ == "__main__":
    main()
