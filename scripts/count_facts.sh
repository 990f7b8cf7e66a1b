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
    files="$(git grep -lE "$2" $REF -- . ':!tests/data' | sed "s|^$REF:||" | sort -u)"
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

echo "== objective calls of a fit (the engine's statement: one function definition per class)"
while IFS='|' read -r label pattern; do places "$label" "$pattern"; done <<'FACTS'
N x (t + 1): ParticleSwarm, BinaryParticleSwarm, Nsga2, Mopso|kPerMember =|_per_member\("n_particles"\)|_per_member\("n_individuals"\)|^Evaluations (particle_swarm|binary_particle_swarm|nsga2|mopso)_evaluations\(.*\{$
N x (t + 1) above a minimum: GreyWolf, Bat, DifferentialEvolution|kPerMember, (true|false)\}|_per_member\("n_(wolves|bats|individuals)", [0-9]\)|N x \(n_iterations \+ 1\) evaluations|^Evaluations (grey_wolf|bat_algorithm|differential_evolution)_evaluations\(.*\{$
AntColony: N x t|return n \* t;|^Evaluations (ant_colony)_evaluations\(.*\{$
BeeColony: sources x (1 + 2t) without scouts|max<U>\(n / 2, 1\) \* \(1 \+ 2 \* t\)|"BeeColony": _depends|^Evaluations (bee_colony)_evaluations\(.*\{$
CuckooSearch: N + t x (N + abandoned)|n \+ t \* \(n \+|abandoned\(p\["pa"\]|^Evaluations (cuckoo_search)_evaluations\(.*\{$
SimulatedAnnealing: t + 1|return t \+ 1;|return 1 \+ int\(p\["n_iterations"\]\)|\(n_iterations \+ 1 in all\)|^Evaluations (simulated_annealing)_evaluations\(.*\{$
CmaEsOptimizer: 1 + N x t|return 1 \+ n \* t;|return 1 \+ int\(p\["n_iterations"\]\) \* n|^Evaluations (cma_es)_evaluations\(.*\{$
PermutationGeneticOptimizer: N + (N - 1) x t|return n \+ \(n - 1\) \* t;|^Evaluations (permutation_genetic)_evaluations\(.*\{$
Firefly, Glowworm, BacterialForaging: N at the start only|kStartOnly, true|"(FireflyOptimizer|GlowwormOptimizer|BacterialForagingOptimizer)": _depends|^Evaluations (firefly|glowworm|bacterial_foraging)_evaluations\(.*\{$
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
