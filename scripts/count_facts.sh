#!/usr/bin/env bash
# Counts the files that state each fact about a class, by a grep per fact, in
# the working tree or in a given commit:  scripts/count_facts.sh [COMMIT]
# Files written by scripts/generate_surface.py (the stub's class section and the
# README's class table) are counted apart: a test keeps them current.
cd "$(dirname "${BASH_SOURCE[0]}")/.."
REF="${1:-}"

show() { if [ -n "$REF" ]; then git show "$REF:$1"; else cat "$1"; fi; }

places() {  # places LABEL ERE
    local files written=() generated=() f
    files="$(git grep -lE "$2" $REF -- . ':!tests/data' ':!scripts/count_facts.sh' | sed "s|^$REF:||" | sort -u)"
    for f in $files; do
        case "$f" in
            python/hivekit/_hivekit.pyi) generated+=("$f") ;;
            README.md)  # only its class table is generated
                show README.md | awk 'BEGIN{t=0} /^<!-- The class table/{t=1} /^<!-- End of the class table/{t=0} {print t"\t"$0}' \
                    > /tmp/count_facts.$$
                grep -qE "^1"$'\t'".*($2)" /tmp/count_facts.$$ && generated+=("README.md(table)")
                grep -qE "^0"$'\t'".*($2)" /tmp/count_facts.$$ && written+=("README.md")
                rm -f /tmp/count_facts.$$ ;;
            *) written+=("$f") ;;
        esac
    done
    printf '%-58s %2d written, %d generated   %s | %s\n' "$1" "${#written[@]}" "${#generated[@]}" \
        "${written[*]}" "${generated[*]}"
}

echo "== smallest sizes and their refusals"
while IFS='|' read -r label pattern; do places "$label" "$pattern"; done <<'FACTS'
GreyWolfOptimizer n_wolves >= 3|must be at least 3 for grey wolf|"grey wolf optimization"|"n_wolves", 3\)|"n_wolves": .*at least 3
FireflyOptimizer n_fireflies >= 2|must be at least 2 for firefly|"firefly optimization"|"n_fireflies": .*at least 2
CuckooSearch n_nests >= 2|must be at least 2 for cuckoo|"cuckoo search"\)|if n >= 2 else|"n_nests": .*at least 2
BatAlgorithm n_bats >= 2|must be at least 2 for bat|"bat algorithm"\)|"n_bats", 2\)|"n_bats": .*at least 2
GlowwormOptimizer n_worms >= 2|must be at least 2 for glowworm|"glowworm optimization"|"n_worms": .*at least 2
BacterialForagingOptimizer n_bacteria >= 2|must be at least 2 for bacterial|"bacterial foraging"\)|"n_bacteria": .*at least 2
DifferentialEvolution n_individuals >= 4|must be at least 4 for differential|"differential evolution"\)|"n_individuals", 4\)|"n_individuals": .*at least 4\)
CmaEsOptimizer n_individuals >= 4|must be at least 4 for CMA|"CMA-ES"\)|if n >= 4 else|"n_individuals": .*at least 4\); the
PermutationGeneticOptimizer n_individuals >= 1|n_individuals must be at least 1"|"n_individuals must be at least 1", [\[]
FACTS

echo "== objective calls of a fit (the engine: the count's definition next to the body; before: the C++ contract"
echo "   table's row, monitor.py's table, the docs extension's text)"
while IFS='|' read -r label pattern; do places "$label" "$pattern"; done <<'FACTS'
AntColony|^Evaluations ant_colony_evaluations\(.*\{$|"AntColony": _|\{"AntColony", [^,]+, [0-9]+,
ParticleSwarm|^Evaluations particle_swarm_evaluations\(.*\{$|"ParticleSwarm": _|\{"ParticleSwarm", [^,]+, [0-9]+,|"n_particles": "swarm size; N x
BeeColony|^Evaluations bee_colony_evaluations\(.*\{$|"BeeColony": _|\{"BeeColony", [^,]+, [0-9]+,
GreyWolfOptimizer|^Evaluations grey_wolf_evaluations\(.*\{$|"GreyWolfOptimizer": _|\{"GreyWolfOptimizer", [^,]+, [0-9]+,|"n_wolves": "pack size \(at least 3\); N x
FireflyOptimizer|^Evaluations firefly_evaluations\(.*\{$|"FireflyOptimizer": _|\{"FireflyOptimizer", [^,]+, [0-9]+,
SimulatedAnnealing|^Evaluations simulated_annealing_evaluations\(.*\{$|"SimulatedAnnealing": _|\{"SimulatedAnnealing", [^,]+, [0-9]+,|n_iterations \+ 1 in all
CuckooSearch|^Evaluations cuckoo_search_evaluations\(.*\{$|"CuckooSearch": _|\{"CuckooSearch", [^,]+, [0-9]+,
BatAlgorithm|^Evaluations bat_algorithm_evaluations\(.*\{$|"BatAlgorithm": _|\{"BatAlgorithm", [^,]+, [0-9]+,|"n_bats": "swarm size \(at least 2\); N x
GlowwormOptimizer|^Evaluations glowworm_evaluations\(.*\{$|"GlowwormOptimizer": _|\{"GlowwormOptimizer", [^,]+, [0-9]+,
BacterialForagingOptimizer|^Evaluations bacterial_foraging_evaluations\(.*\{$|"BacterialForagingOptimizer": _|\{"BacterialForagingOptimizer", [^,]+, [0-9]+,
DifferentialEvolution|^Evaluations differential_evolution_evaluations\(.*\{$|"DifferentialEvolution": _|\{"DifferentialEvolution", [^,]+, [0-9]+,|population size \(at least 4\); N x
CmaEsOptimizer|^Evaluations cma_es_evaluations\(.*\{$|"CmaEsOptimizer": _|\{"CmaEsOptimizer", [^,]+, [0-9]+,
PermutationGeneticOptimizer|^Evaluations permutation_genetic_evaluations\(.*\{$|"PermutationGeneticOptimizer": _|\{"PermutationGeneticOptimizer", [^,]+, [0-9]+,
BinaryParticleSwarm|^Evaluations binary_particle_swarm_evaluations\(.*\{$|"BinaryParticleSwarm": _|\{"BinaryParticleSwarm", [^,]+, [0-9]+,
Nsga2Optimizer|^Evaluations nsga2_evaluations\(.*\{$|"Nsga2Optimizer": _|\{"Nsga2Optimizer", [^,]+, [0-9]+,
MopsoOptimizer|^Evaluations mopso_evaluations\(.*\{$|"MopsoOptimizer": _|\{"MopsoOptimizer", [^,]+, [0-9]+,
FACTS

echo "== class docstrings (first line)"
while IFS='|' read -r label pattern; do places "$label" "$pattern"; done <<'FACTS'
AntColony|Ant Colony Optimization for discrete problems
ParticleSwarm|Particle Swarm Optimization for continuous minimization
BeeColony|Artificial Bee Colony for continuous minimization
GreyWolfOptimizer|Grey Wolf Optimizer for continuous minimization
FireflyOptimizer|Firefly algorithm for continuous minimization
SimulatedAnnealing|Simulated annealing for continuous minimization
CuckooSearch|Cuckoo search for continuous minimization
BatAlgorithm|Bat algorithm for continuous minimization
GlowwormOptimizer|Glowworm swarm optimizer for continuous minimization
BacterialForagingOptimizer|Bacterial foraging optimizer for continuous minimization
DifferentialEvolution|Differential evolution for continuous minimization
CmaEsOptimizer|CMA-ES-style optimizer for continuous minimization
PermutationGeneticOptimizer|Permutation genetic optimizer for TSP-like
BinaryParticleSwarm|Binary PSO for bit-vector objectives
Nsga2Optimizer|NSGA-II-style multi-objective optimizer
MopsoOptimizer|"Multi-objective PSO\.
FACTS

echo "== constructor defaults (one class as the sample: BatAlgorithm's pulse_rate=0.5)"
places "BatAlgorithm pulse_rate default" 'pulse_rate( = |: _Real = |=)0\.5'

echo "== facts of other work, counted only"
places "berlin52 optimum 7542" '\b7542\b'
places "variant names (\"elitist\" with \"mmas\")" '"elitist".*"mmas"'
