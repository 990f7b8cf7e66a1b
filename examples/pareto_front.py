"""Approximate the Pareto front of ZDT1 with two multi-objective optimisers.

    python examples/pareto_front.py [--small] [--plot front.png]
"""

import argparse

import hivekit
from hivekit import problems


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--small", action="store_true", help="a few iterations only")
    parser.add_argument("--plot", metavar="PNG", help="draw both fronts (needs matplotlib)")
    args = parser.parse_args()
    iterations = 5 if args.small else 300

    zdt1 = problems.problem("zdt1", 10)
    fronts = {}
    for est in (
        hivekit.Nsga2Optimizer(n_iterations=iterations, random_state=7),
        hivekit.MopsoOptimizer(n_iterations=iterations, w=0.4, random_state=7),
    ):
        est.fit(zdt1.objective, zdt1.lower, zdt1.upper)
        archive = est.predict()  # positions of the Pareto archive
        front = sorted(tuple(zdt1.objective(x)) for x in archive)
        fronts[type(est).__name__] = front
        print(f"{type(est).__name__}: {len(archive)} archived points, hypervolume {est.score():.4f} "
              f"(true front {zdt1.optimum:.4f})")
        for f1, f2 in front[:: max(1, len(front) // 5)]:
            print(f"  f1 = {f1:.3f}  f2 = {f2:.3f}")

    if args.plot:
        # Optional: checked against matplotlib's own annotations when it is installed, taken as Any otherwise.
        from matplotlib.figure import Figure  # type: ignore[import-not-found, unused-ignore]

        fig = Figure(figsize=(6, 5), layout="constrained")
        axes = fig.subplots()
        for name, front in fronts.items():
            axes.plot([p[0] for p in front], [p[1] for p in front], "o", markersize=3, label=name)
        truth = [i / 100 for i in range(101)]
        axes.plot(truth, [1 - t**0.5 for t in truth], "k--", label="true front")
        axes.set_xlabel("f1")
        axes.set_ylabel("f2")
        axes.legend()
        fig.savefig(args.plot)
        print("plot written to", args.plot)


if __name__ == "__main__":
    main()
