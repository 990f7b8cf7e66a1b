#include "algorithms/differential_evolution.hpp"

#include <algorithm>
#include <vector>

#include "algorithms/common.hpp"

namespace hivekit {

Outcome run_differential_evolution(Problem& problem, const Bounds& bounds, const DifferentialEvolutionParams& params,
                                   Seed seed) {
    auto prepared = prepare_search(bounds, problem, seed);
    if (auto* error = std::get_if<OptimizerError>(&prepared)) return *error;
    auto& [d, rng, span] = std::get<SearchSetup>(prepared);

    const std::size_t n = params.n_individuals;
    if (auto error = too_few(n, 4, "n_individuals", "differential evolution")) return *error;

    // Population row by row: individual i occupies [i * d, (i + 1) * d).
    std::vector<double> x(rows_size(n, d));
    std::vector<double> cost(n), trial(d);
    RunResult result;
    result.history.reserve(history_capacity(params.n_iterations));

    WorkMeter meter(problem);
    BestRecord best = start_population(problem, x, cost, bounds, span, rng, meter);

    const double f = params.f, cr = params.cr;
    for (std::uint64_t g = 0; g < params.n_iterations; ++g) {
        for (std::size_t i = 0; i < n; ++i) {
            meter.spend(d);
            // Partners are drawn from the other n - 1 indices in ascending
            // order; a repeat is discarded and drawn again, so a, b, c keep
            // the order in which they were first drawn.
            std::size_t partner[3];
            std::size_t chosen = 0;
            while (chosen < 3) {
                const std::size_t p = rng.index_below(n - 1);
                const std::size_t other = p < i ? p : p + 1;
                if (std::find(partner, partner + chosen, other) == partner + chosen) partner[chosen++] = other;
            }
            const double* xa = &x[partner[0] * d];
            const double* xb = &x[partner[1] * d];
            const double* xc = &x[partner[2] * d];
            const double* xi = &x[i * d];

            // Every coordinate consumes its crossover draw, the forced one too.
            const std::size_t forced = rng.index_below(d);
            for (std::size_t j = 0; j < d; ++j) {
                const double u = rng.uniform();
                trial[j] = (j == forced || u < cr) ? xa[j] + f * (xb[j] - xc[j]) : xi[j];
            }
            bounds.clip(trial);
            const double ft = problem.evaluate(trial);

            // A tie replaces the parent, so the search crosses plateaus; the
            // replacement is immediate and later individuals see it.
            if (replaces_or_ties(ft, cost[i])) {
                std::copy(trial.begin(), trial.end(), x.begin() + i * d);
                cost[i] = ft;
                best.offer(trial, ft);
            }
        }
        result.history.push_back(best.value);
    }

    result.population = split_rows(x, d);
    std::move(best).store_in(result);
    return result;
}

}  // namespace hivekit
