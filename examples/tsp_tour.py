"""Solve a bundled TSPLIB instance with the ant colony, and polish a tour with two_opt on its own.

    python examples/tsp_tour.py [--small]
"""

import argparse
import random

import hivekit
from hivekit import tsplib


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--small", action="store_true", help="a few iterations only")
    args = parser.parse_args()

    instance = hivekit.load_tsplib("berlin52")
    assert instance.optimum is not None  # known for every bundled instance
    print(f"{instance.name}: {instance.dimension} cities, optimal length {instance.optimum:g}")

    colony = hivekit.AntColony(n_ants=10 if args.small else 30, n_iterations=5 if args.small else 50,
                               variant="acs", random_state=1)
    colony.fit(instance.distance_matrix)
    tour, length = colony.predict(), colony.score()
    print(f"AntColony (acs): length {length:g}, {100 * (length - instance.optimum) / instance.optimum:.2f}% above")
    print("same length measured in Python:", tsplib.tour_length(tour, instance.distance_matrix) == length)

    shuffled = list(range(instance.dimension))
    random.Random(0).shuffle(shuffled)
    polished, polished_length = hivekit.two_opt(shuffled, instance.distance_matrix)
    print(f"a random tour of length {tsplib.tour_length(shuffled, instance.distance_matrix):g} "
          f"becomes {polished_length:g} after two_opt")


if __name__ == "__main__":
    main()
