"""Pick items for a 0/1 knapsack with the binary particle swarm.

    python examples/bit_vectors.py [--small]
"""

import argparse

import hivekit
from hivekit.problems import Knapsack


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--small", action="store_true", help="a few iterations only")
    args = parser.parse_args()

    weights = [23, 31, 29, 44, 53, 38, 63, 85, 89, 82, 12, 7, 51, 67]
    values = [92, 57, 49, 68, 60, 43, 67, 84, 87, 72, 18, 11, 65, 73]
    knapsack = Knapsack(weights, values, capacity=300)

    # The box only sets the number of bits; the objective sees each bit as 0.0 or 1.0.
    est = hivekit.BinaryParticleSwarm(n_iterations=10 if args.small else 200, random_state=3)
    est.fit(knapsack, [0.0] * len(weights), [1.0] * len(weights))
    chosen = [i for i, bit in enumerate(est.predict()) if bit == 1.0]
    print("items:", chosen)
    print(f"value {-est.score():g} of at most {knapsack.best_value():g}, "
          f"weight {sum(weights[i] for i in chosen)} of {knapsack.capacity}")


if __name__ == "__main__":
    main()
