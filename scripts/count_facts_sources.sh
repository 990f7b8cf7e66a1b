#!/usr/bin/env bash
# Counts the places where each fact about the built-in objectives, AntColony's variants, the memory guard,
# the bundled TSPLIB instances and the demonstration settings is written by hand: one line per place, a
# place being a line of a tracked file outside the test data and the generated parts of the README. Run from anywhere: bash scripts/count_facts_sources.sh
# (REV=main counts in that commit instead of the working tree; VERBOSE=1 lists the places).
cd "$(dirname "${BASH_SOURCE[0]}")/.." || exit 1
places() {  # label, a grep pattern, and the paths searched (default: every tracked source, page and test)
    local label=$1 pattern=$2
    shift 2
    local hits
    hits=$(git grep -n -E "$pattern" ${REV:+"$REV"} -- "${@:-.}" ':!tests/data' ':!docs/tuning_results.txt' \
        ':!scripts/count_facts_sources.sh' ':!python/hivekit/data' | grep -v -- '<!-- /')  # not the generated parts
    printf '%-44s %2d\n' "$label" "$(printf '%s' "$hits" | grep -c .)"
    [ -n "${VERBOSE:-}" ] && printf '%s\n' "$hits" | sed 's/^/    /'
    return 0
}
# The list of built-in objective names (one line naming the last of them, zdt3, as a name in quotes or a
# call) and each docstring (the shortest of them stands for all).
places "built-in objective names"            '"zdt3"|zdt3\('
places "built-in objective docstrings"        'Pareto front in five disconnected pieces'
# The four variant names in one list (a line naming both the last two).
places "AntColony variant names"             'elitist.{1,12}mmas'
# The memory guard: reading the machine's physical memory.
places "memory guard"                         'SC_PHYS_PAGES'
# The bundled instances and their optima: pcb442's optimum, and the list of the names.
places "bundled TSPLIB optima"                '50778'
places "bundled TSPLIB names"                 'kroA100.{1,30}pcb442'
# The demonstration: its classes named again (the registry names each once), the problem of a tour,
# two-objective or bit-vector class (which its kind decides), and the list of the centred box problems.
places "demo: classes named again"            '^ *(DemoRun\()?"[A-Z][A-Za-z0-9]+"(, "|: \()' python/hivekit/__main__.py
places "demo: problem of a class's kind"      '"[A-Z][A-Za-z0-9]+", "(tsp:berlin52|zdt1|knapsack)"|^ *(TOUR|PARETO|BITS)_PROBLEM = ' python
places "centred box problem names"            '"sphere", "rastrigin", "rosenbrock", "ackley"|centred `sphere`'
