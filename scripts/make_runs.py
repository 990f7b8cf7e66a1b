"""Writes tests/data/runs.json, the expected results of the seeded runs, by running hivekit on the runs below.

    PYTHONPATH=build/dev/pkg .venv/bin/python scripts/make_runs.py           # rewrite the file
    PYTHONPATH=build/dev/pkg .venv/bin/python scripts/make_runs.py --check   # exit 1 if it would change

The runs (their inputs) are stated here; ``expect`` is what this build of hivekit computes for them. The file
also records, under ``generated_on``, the platform it was written on: the machine, the C library (whose libm
gives the engine's exp, log, cos and pow, on which the runs' bits depend), the compiler of the extension and
the Python version. ``--check`` compares everything but that record, so the file checks on any platform whose
results agree; the tests read only ``runs``. A change of the results is a change of the engine's behaviour:
regenerate only when that change is meant, and say why in the commit.

The objectives are evaluated exactly as the tests evaluate them (``objective`` of tests/python/vectors.py):
``sum`` there adds left to right, since the built-in ``sum()`` adds floats with compensation from CPython 3.12
on. Any Python version then gives the same values.

To add a run, append a dict to ``RUNS`` with a new ``id``, the ``class``, its ``kwargs`` (with
``random_state``), and either ``objective`` (Python source of a lambda, ``math`` in scope), ``lower`` and
``upper`` for a box class, or ``distance_matrix`` for a tour class (for ``two_opt``: ``tour`` and
``distance_matrix``); run the script, read the new results, and commit both files.
"""

from __future__ import annotations

import argparse
import json
import os
import pathlib
import platform
import re
import sys
from typing import Any

ROOT = pathlib.Path(__file__).resolve().parents[1]
DATA = ROOT / "tests" / "data" / "runs.json"
sys.path.insert(0, str(ROOT / "tests" / "python"))

import hivekit  # noqa: E402
from hivekit import _registry  # noqa: E402
from vectors import objective  # noqa: E402

ABOUT = (
    "Expected results of seeded runs. For each run: construct `class` with `kwargs`, call fit(objective, lower, "
    "upper) or fit(distance_matrix) (or call two_opt(tour, distance_matrix)), then compare predict(), score(), "
    "history_ and population_ with `expect`, bit for bit. `objective` is Python source to evaluate with the math "
    "module in scope. Floats are given as {'hex': float.hex(value)}; an expected exception as ['raise', type name, "
    "message]."
)

SPHERE = "lambda x: sum(v * v for v in x)"
SHIFTED = "lambda x: sum((v - 0.3) * (v - 0.3) for v in x)"
SCHAFFER = "lambda x: [x[0] * x[0], (x[0] - 2.0) * (x[0] - 2.0)]"

# Euclidean distances between eight and ten points in the plane, to three decimals.
E8 = [
    [0.0, 55.792, 73.63, 75.301, 57.251, 22.921, 45.485, 64.488],
    [55.792, 0.0, 49.0, 77.94, 76.676, 38.035, 24.392, 13.282],
    [73.63, 49.0, 0.0, 37.932, 51.025, 70.327, 32.61, 39.196],
    [75.301, 77.94, 37.932, 0.0, 24.284, 83.23, 54.474, 72.172],
    [57.251, 76.676, 51.025, 24.284, 0.0, 70.513, 52.414, 75.006],
    [22.921, 38.035, 70.327, 83.23, 70.513, 0.0, 37.948, 49.404],
    [45.485, 24.392, 32.61, 54.474, 52.414, 37.948, 0.0, 24.11],
    [64.488, 13.282, 39.196, 72.172, 75.006, 49.404, 24.11, 0.0],
]
E10 = [
    [0.0, 51.549, 59.431, 74.894, 53.118, 78.103, 58.391, 39.494, 47.468, 42.157],
    [51.549, 0.0, 74.66, 24.156, 18.34, 74.878, 68.205, 54.795, 62.008, 26.446],
    [59.431, 74.66, 0.0, 95.58, 88.984, 27.699, 116.145, 22.21, 13.526, 86.175],
    [74.894, 24.156, 95.58, 0.0, 26.9, 90.713, 78.261, 77.307, 83.752, 40.798],
    [53.118, 18.34, 88.984, 26.9, 0.0, 92.187, 52.809, 67.698, 75.737, 14.041],
    [78.103, 74.878, 27.699, 90.713, 92.187, 0.0, 129.728, 38.999, 32.584, 93.604],
    [58.391, 68.205, 116.145, 78.261, 52.809, 129.728, 0.0, 94.471, 103.14, 41.778],
    [39.494, 54.795, 22.21, 77.307, 67.698, 38.999, 94.471, 0.0, 8.754, 64.098],
    [47.468, 62.008, 13.526, 83.752, 75.737, 32.584, 103.14, 8.754, 0.0, 72.656],
    [42.157, 26.446, 86.175, 40.798, 14.041, 93.604, 41.778, 64.098, 72.656, 0.0],
]


def box(run_id: str, cls: str, kwargs: dict[str, Any], source: str, lower: list[float],
        upper: list[float]) -> dict[str, Any]:
    return {"id": run_id, "class": cls, "kwargs": {**kwargs, "random_state": 7}, "objective": source,
            "lower": lower, "upper": upper}


def tours(run_id: str, cls: str, kwargs: dict[str, Any], matrix: list[list[float]]) -> dict[str, Any]:
    return {"id": run_id, "class": cls, "kwargs": {**kwargs, "random_state": 7}, "distance_matrix": matrix}


RUNS: list[dict[str, Any]] = [
    box("pso-sphere", "ParticleSwarm", {"n_particles": 8, "n_iterations": 6}, SPHERE, [-1.0] * 3, [1.0] * 3),
    box("abc-shifted", "BeeColony", {"n_bees": 10, "limit": 3, "n_iterations": 6}, SHIFTED, [-2.0] * 2, [2.0] * 2),
    box("de-sphere", "DifferentialEvolution", {"n_individuals": 8, "n_iterations": 6}, SPHERE, [-1.0] * 3,
        [1.0] * 3),
    box("cma-shifted", "CmaEsOptimizer", {"n_individuals": 8, "n_iterations": 6}, SHIFTED, [-1.0] * 3, [1.0] * 3),
    box("sa-abs", "SimulatedAnnealing", {"n_iterations": 20}, "lambda x: sum(abs(v - 0.1) for v in x)",
        [-2.0] * 2, [2.0] * 2),
    box("bat-sphere", "BatAlgorithm", {"n_bats": 6, "n_iterations": 6}, SPHERE, [-2.0] * 2, [2.0] * 2),
    box("cuckoo-sphere", "CuckooSearch", {"n_nests": 6, "n_iterations": 6}, SPHERE, [-2.0] * 2, [2.0] * 2),
    box("firefly-shifted", "FireflyOptimizer", {"n_fireflies": 5, "n_iterations": 6}, SHIFTED, [-2.0] * 2,
        [2.0] * 2),
    box("glow-sphere", "GlowwormOptimizer", {"n_worms": 6, "n_iterations": 6}, SPHERE, [-2.0] * 2, [2.0] * 2),
    box("gwo-sphere", "GreyWolfOptimizer", {"n_wolves": 6, "n_iterations": 6}, SPHERE, [-1.0] * 3, [1.0] * 3),
    box("bfo-sphere", "BacterialForagingOptimizer", {"n_bacteria": 6, "n_chemotactic_steps": 2, "n_iterations": 6},
        SPHERE, [-2.0] * 2, [2.0] * 2),
    box("bpso-onemax", "BinaryParticleSwarm", {"n_particles": 6, "n_iterations": 6}, "lambda b: -sum(b)",
        [0.0] * 8, [1.0] * 8),
    box("nsga-schaffer", "Nsga2Optimizer", {"n_individuals": 8, "archive_size": 6, "n_iterations": 6}, SCHAFFER,
        [-1.0], [3.0]),
    box("mopso-schaffer", "MopsoOptimizer", {"n_particles": 6, "archive_size": 5, "n_iterations": 6}, SCHAFFER,
        [-1.0], [3.0]),
    tours("aco-basic-e8", "AntColony", {"n_ants": 4, "n_iterations": 4}, E8),
    tours("aco-mmas-e8", "AntColony", {"n_ants": 4, "n_iterations": 4, "variant": "mmas"}, E8),
    tours("pga-e8", "PermutationGeneticOptimizer", {"n_individuals": 6, "n_iterations": 5}, E8),
    {"id": "two_opt-e10", "class": "two_opt", "tour": [0, 5, 2, 8, 1, 9, 3, 7, 4, 6], "distance_matrix": E10},
]


def encode(value: Any) -> Any:
    """Floats as {'hex': ...}, recursively; everything else as it is."""
    if isinstance(value, float):
        return {"hex": value.hex()}
    if isinstance(value, (list, tuple)):
        return [encode(v) for v in value]
    return value


def inputs(run: dict[str, Any]) -> dict[str, Any]:
    """A run as the file states it, without its results."""
    return {k: encode(v) if k == "distance_matrix" else v for k, v in run.items()}


def expected(run: dict[str, Any]) -> dict[str, Any]:
    if run["class"] == "two_opt":
        return {"result": encode(list(hivekit.two_opt(run["tour"], run["distance_matrix"])))}
    est = getattr(hivekit, run["class"])(**run["kwargs"])
    if "distance_matrix" in run:
        est.fit(run["distance_matrix"])
    else:
        est.fit(objective(run["objective"]), run["lower"], run["upper"])
    out = {"predict": encode(est.predict()), "score": encode(est.score())}
    if not _registry.BY_NAME[run["class"]].multi_objective:  # an archive keeps no history
        out["history_"] = encode(est.history_)
    out["population_"] = encode(est.population_)
    return out


def compiler() -> str | None:
    """The compiler named in the extension's .comment section, as GCC and Clang write it."""
    found = re.search(rb"(GCC: \([^)\x00]*\) [\w.]+|clang version [\w.]+)",
                      pathlib.Path(hivekit._hivekit.__file__).read_bytes())
    return found.group(0).decode() if found else None


def platform_record() -> dict[str, Any]:
    try:
        libc = os.confstr("CS_GNU_LIBC_VERSION")
    except (AttributeError, ValueError, OSError):
        libc = None
    if not libc:
        libc = " ".join(platform.libc_ver()).strip() or None
    return {"platform": platform.platform(), "machine": platform.machine(), "libc": libc, "compiler": compiler(),
            "python": platform.python_version()}


def generate() -> dict[str, Any]:
    return {"about": ABOUT, "generated_on": platform_record(),
            "runs": [{**inputs(run), "expect": expected(run)} for run in RUNS]}


def text(data: dict[str, Any]) -> str:
    return json.dumps(data, indent=1)


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0] if __doc__ else None)
    parser.add_argument("--check", action="store_true", help="compare with the file instead of writing it")
    args = parser.parse_args(argv)
    data = generate()
    if not args.check:
        DATA.write_text(text(data))
        return 0
    committed = json.loads(DATA.read_text())
    data["generated_on"] = committed.get("generated_on")
    if text(data) == DATA.read_text():
        print(f"{DATA.relative_to(ROOT)} is current ({len(RUNS)} runs)")
        return 0
    for run, old in zip(data["runs"], committed.get("runs", [])):
        if run != old:
            print(f"run {run['id']} differs", file=sys.stderr)
    print(f"{DATA.relative_to(ROOT)} differs from what this build computes", file=sys.stderr)
    return 1


if __name__ == "__main__":
    sys.exit(main())
