"""``.. classes:: box`` renders every class of the registry that works on that (``tours``, ``box``, ``bit
vectors``, ``box, two objectives``): its docstring and methods, and through ``.. hyperparameters:: ClassName`` its
hyperparameters, defaults and descriptions as a table, followed by its smallest size and its objective calls.

Names, kinds, defaults, sizes and counts come from the engine's registry (:mod:`hivekit._registry`), so the
pages cannot drift from the classes; the descriptions are kept here, and a hyperparameter without one fails the
build.
"""

from __future__ import annotations

import re
from pathlib import Path

from sphinx.util.docutils import SphinxDirective

import hivekit
from hivekit import _registry

ITERATIONS = "number of iterations (generations)"

DESCRIPTIONS: dict[str, dict[str, str]] = {
    "AntColony": {
        "n_ants": "ants per iteration; each builds one complete tour",
        "n_iterations": ITERATIONS,
        "alpha": "exponent of the pheromone term in the choice of the next city",
        "beta": "exponent of the inverse-distance term in the choice of the next city",
        "rho": "evaporation rate: the fraction of pheromone lost on every edge per iteration",
        "q": "deposit constant: an ant deposits q / length on the edges of its tour",
        "use_two_opt": "polish every ant's tour with 2-opt before the deposit",
        "variant": '"basic", "acs" (greedy choice with probability q0, best-so-far deposit), "elitist" or "mmas" '
                   "(bounded pheromone); any other string means basic",
        "q0": '"acs" only: probability of taking the best-looking city instead of sampling',
        "elitist_weight": '"acs", "elitist" and "mmas": weight of the deposit on the best-so-far tour',
        "tau_min": '"mmas" only: lower bound of the pheromone',
        "tau_max": '"mmas" only: upper bound of the pheromone',
    },
    "PermutationGeneticOptimizer": {
        "n_individuals": "population size; one elite is carried over unchanged per generation",
        "n_iterations": ITERATIONS,
        "mutation_rate": "probability that a child gets a swap of two cities",
        "use_two_opt": "polish the initial population with 2-opt",
    },
    "ParticleSwarm": {
        "n_particles": "swarm size",
        "n_iterations": ITERATIONS,
        "w": "inertia weight: the share of the previous velocity kept (no velocity limit; above about 0.8 "
             "with c1 = c2 = 2 the swarm does not settle)",
        "c1": "cognitive coefficient: pull towards the particle's own best",
        "c2": "social coefficient: pull towards the swarm's best",
    },
    "BeeColony": {
        "n_bees": "colony size; half of it is the number of food sources; about n_bees evaluations per "
                  "iteration",
        "n_iterations": ITERATIONS,
        "limit": "a source that failed to improve more than this many times in a row is abandoned and "
                 "re-seeded at random (at most one per iteration)",
    },
    "GreyWolfOptimizer": {
        "n_wolves": "pack size",
        "n_iterations": "number of iterations; the coefficient a falls linearly from 2 to 0 over them, so "
                        "this also sets how long the pack explores",
    },
    "FireflyOptimizer": {
        "n_fireflies": "swarm size; up to N x N evaluations per iteration",
        "n_iterations": ITERATIONS,
        "beta0": "attractiveness at distance 0",
        "gamma": "light absorption: attractiveness is beta0 * exp(-gamma * r**2) with r in the box's own "
                 "units, so gamma must suit the width of the box",
        "alpha": "random shake, as a fraction of the box width",
    },
    "SimulatedAnnealing": {
        "initial_temperature": "temperature of the first iteration (in units of the objective)",
        "cooling_rate": "factor applied to the temperature after every iteration, that is after every "
                        "evaluation",
        "step_scale": "perturbation of every coordinate, as a fraction of the box width",
        "n_iterations": "number of iterations; one evaluation each",
    },
    "CuckooSearch": {
        "n_nests": "number of nests",
        "n_iterations": ITERATIONS,
        "pa": "fraction of the worst nests rebuilt at random every iteration (at least one)",
        "alpha": "step size of the heavy-tailed flight, as a fraction of the box width",
        "levy_scale": "second factor of the flight step (multiplies alpha)",
    },
    "BatAlgorithm": {
        "n_bats": "swarm size",
        "n_iterations": ITERATIONS,
        "fmin": "lower end of the frequency range",
        "fmax": "upper end of the frequency range; the frequency scales each bat's velocity change",
        "alpha": "loudness factor applied on every acceptance",
        "gamma": "pulse-rate factor: an acceptance multiplies the pulse rate by 1 - exp(-gamma * t)",
        "loudness": "initial loudness: the probability of accepting an improvement",
        "pulse_rate": "initial pulse rate; a bat jumps near the best when a uniform draw exceeds it",
    },
    "GlowwormOptimizer": {
        "n_worms": "swarm size",
        "n_iterations": ITERATIONS,
        "luciferin_decay": "fraction of luciferin lost per iteration",
        "luciferin_enhancement": "luciferin gained per iteration, divided by (value + 1)",
        "step_size": "fraction of the way moved towards the chosen neighbour",
        "neighborhood_radius": "fixed Euclidean radius, in the box's own units, within which brighter worms "
                               "count as neighbours; a worm without neighbours does not move or evaluate",
    },
    "BacterialForagingOptimizer": {
        "n_bacteria": "population size",
        "n_iterations": ITERATIONS,
        "n_chemotactic_steps": "tumbles per bacterium per iteration; one evaluation each",
        "n_reproduction_steps": "stored and reported by get_params; reproduction runs once per iteration "
                                "whatever its value",
        "elimination_probability": "per-bacterium probability of being re-seeded at random in each iteration",
        "step_scale": "tumble size, as a fraction of the box width",
    },
    "DifferentialEvolution": {
        "n_individuals": "population size",
        "n_iterations": ITERATIONS,
        "f": "differential weight of the rand/1 mutation a + f * (b - c)",
        "cr": "binomial crossover rate (one coordinate always crosses)",
    },
    "CmaEsOptimizer": {
        "n_individuals": "samples per generation; the better half sets the new mean",
        "n_iterations": ITERATIONS,
        "sigma": "initial global step size, in the box's own units (the search starts at the box centre); it "
                 "shrinks by 1 % per generation",
    },
    "BinaryParticleSwarm": {
        "n_particles": "swarm size",
        "n_iterations": ITERATIONS,
        "w": "inertia weight of the real-valued velocity of each bit",
        "c1": "pull towards the particle's own best",
        "c2": "pull towards the swarm's best",
    },
    "Nsga2Optimizer": {
        "n_individuals": "population size, and children per generation",
        "n_iterations": ITERATIONS,
        "crossover_rate": "probability that a child is a blend of its two parents",
        "mutation_rate": "per-coordinate probability of mutation",
        "mutation_scale": "half-width of the uniform mutation step, in the box's own units",
        "archive_size": "size limit of the final Pareto archive",
    },
    "MopsoOptimizer": {
        "n_particles": "swarm size",
        "n_iterations": ITERATIONS,
        "w": "inertia weight",
        "c1": "pull towards the particle's personal best",
        "c2": "pull towards a leader drawn from the archive",
        "mutation_scale": "stored and reported by get_params; the swarm has no mutation step",
        "archive_size": "size limit of the archive",
    },
}


def _default(value: object) -> str:
    if isinstance(value, str):
        return f'``"{value}"``'
    return f"``{value!r}``"


class Hyperparameters(SphinxDirective):
    required_arguments = 1

    def run(self):  # type: ignore[no-untyped-def]
        name = self.arguments[0]
        info = _registry.BY_NAME[name]
        described = DESCRIPTIONS.get(name, {})
        missing = [p.name for p in info.params if p.name not in described]
        extra = sorted(set(described) - {p.name for p in info.params})
        if missing or extra:
            raise self.error(f"{name}: no description for {missing}, descriptions of unknown {extra}")
        lines = [".. list-table::", "   :header-rows: 1", "   :widths: 22 12 66", "",
                 "   * - hyperparameter", "     - default", "     - what it does"]
        for p in info.params:
            lines += [f"   * - ``{p.name}``", f"     - {_default(p.default)}", f"     - {described[p.name]}"]
        lines += ["   * - ``random_state``", "     - ``None``",
                  "     - an integer in 0 .. 2**64-1 reproduces the run bit for bit; None seeds from the "
                  "operating system", ""]
        if info.refusal:
            lines.append(f"``fit`` refuses ``{info.params[0].name}`` below {info.smallest} with ValueError "
                         f'"Invalid input: {info.refusal}".')
        if info.input == "box":
            calls = hivekit.expected_evaluations(info.cls(), 1)
            lines.append("With the defaults the number of objective calls depends on the run." if calls is None else
                         f"With the defaults ``fit`` makes {calls} objective calls, the probe call included.")
        return self.parse_text_to_nodes("\n".join(lines))


class Classes(SphinxDirective):
    required_arguments = 1
    final_argument_whitespace = True

    def run(self):  # type: ignore[no-untyped-def]
        lines = []
        for info in _registry.CLASSES:
            if info.works_on != self.arguments[0]:
                continue
            members = "fit, predict, score, get_params" + ("" if info.multi_objective else ", history_") + \
                ", population_"
            lines += [f".. autoclass:: {info.name}", f"   :members: {members}", "   :undoc-members:", "",
                      f".. hyperparameters:: {info.name}", ""]
        if not lines:
            raise self.error(f"no class works on {self.arguments[0]!r}")
        return self.parse_text_to_nodes("\n".join(lines))


class TuningResults(SphinxDirective):
    """``.. tuning-results:: ClassName [file]``: that class's rows of a table written by benchmarks/tuning.py
    (tuning_results.txt unless another file of the docs folder is named), as a table under the file's own
    column heads, without the class column (columns split on runs of two or more spaces)."""

    required_arguments = 1
    optional_arguments = 1

    def run(self):  # type: ignore[no-untyped-def]
        name = self.arguments[0]
        file = self.arguments[1] if len(self.arguments) > 1 else "tuning_results.txt"
        path = Path(self.env.srcdir) / file
        self.env.note_dependency(str(path))
        lines_in = path.read_text().splitlines()
        head = re.split(r"\s{2,}", lines_in[0].strip())[1:]
        rows = [re.split(r"\s{2,}", line.strip()) for line in lines_in[1:]]
        rows = [r[1:] for r in rows if r[0] == name]
        if not rows:
            raise self.error(f"{file} has no rows for {name}")
        if any(len(r) != len(head) for r in rows):
            raise self.error(f"{file}: a row of {name} has not the {len(head)} columns of the head")
        setting = head.index("setting")
        lines = [".. list-table::", "   :header-rows: 1", ""]
        for k, cell in enumerate(head):
            lines.append(f"   {'* -' if k == 0 else '  -'} {cell}")
        for r in rows:
            for k, cell in enumerate(r):
                lines.append(f"   {'* -' if k == 0 else '  -'} {f'``{cell}``' if k == setting else cell}")
        return self.parse_text_to_nodes("\n".join(lines))


def setup(app):  # type: ignore[no-untyped-def]
    app.add_directive("hyperparameters", Hyperparameters)
    app.add_directive("classes", Classes)
    app.add_directive("tuning-results", TuningResults)
    return {"parallel_read_safe": True, "parallel_write_safe": True}
