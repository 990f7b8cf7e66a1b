#include "algorithms/bee_colony.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

#include "algorithms/common.hpp"
#include "core/numeric.hpp"

namespace hivekit {

// The sources at the start, then an employed and an onlooker trial per source
// in every iteration, and a scout's evaluation where a source has failed more
// than `limit` times. A source fails at most once as employed and once per
// onlooker in an iteration, so with `limit` at least n_iterations * (sources
// + 1) no scout ever flies; otherwise the values decide.
Evaluations bee_colony_evaluations(const BeeColonyParams& params) {
    const std::uint64_t sources = std::max<std::uint64_t>(params.n_bees / 2, 1);
    if (params.n_iterations > params.limit / (sources + 1)) return std::nullopt;
    return count_of(sources, 2 * params.n_iterations + 1);
}

Outcome run_bee_colony(Problem& problem, const Bounds& bounds, const BeeColonyParams& params, Seed seed) {
    auto prepared = prepare_search(bounds, problem, seed, "Bounds must have at least one dimension");
    if (auto* error = std::get_if<OptimizerError>(&prepared)) return *error;
    // Named references rather than a structured binding: the lambdas below use
    // them, and capturing a structured binding needs Clang 16 or later.
    SearchSetup& setup = std::get<SearchSetup>(prepared);
    const std::size_t d = setup.dimension;
    RandomSource& rng = setup.rng;
    const std::vector<double>& span = setup.span;

    // Two bees per food source, and never fewer than one source.
    const std::size_t n = std::max<std::uint64_t>(params.n_bees / 2, 1);
    // Sources row by row: source i occupies [i * d, (i + 1) * d).
    std::vector<double> x(rows_size(n, d));
    std::vector<double> cost(n), fitness(n);
    std::vector<std::uint64_t> failures(n, 0);
    // Trials drawn and built but not yet evaluated, and whether a source has
    // one waiting.
    PendingRows waiting(n, d);
    std::vector<unsigned char> is_waiting(n, 0);

    WorkMeter meter(problem);
    BestRecord best = start_population(problem, x, cost, bounds, span, rng, meter);

    // Evaluates the waiting trials as one batch and lets each source take or
    // refuse its candidate, in trial order.
    auto settle = [&] {
        waiting.settle(problem, meter, [&](std::size_t i, std::span<const double> candidate, double f) {
            is_waiting[i] = 0;
            if (improves(f, cost[i])) {
                std::copy(candidate.begin(), candidate.end(), &x[i * d]);
                cost[i] = f;
                failures[i] = 0;
            } else {
                ++failures[i];
            }
        });
    };

    // Moves one coordinate of source i relative to a random partner (or, with
    // a single source, by a tenth of the box width); draws: partner(s), then
    // the coordinate, then the step.
    //
    // One trial at a time, each is evaluated and settled before the next is
    // drawn. Here trials wait and are evaluated together, with the same
    // outcome: no draw of a phase depends on a value settled within it (a
    // trial's draws never do, and the onlookers pick from a snapshot taken
    // once the employed bees' trials are settled); a trial reads only the rows
    // of its source and its partner, and settling a trial writes only its own
    // source's row, cost and failure count, so a trial is built at once unless
    // one of those two rows has a trial waiting, in which case the waiting
    // trials are settled first; and they are settled in trial order.
    auto neighbour_trial = [&](std::size_t i) {
        meter.spend(d);
        std::size_t k = i;
        if (n > 1) {
            k = rng.index_below(n);
            while (k == i) k = rng.index_below(n);
        }
        const std::size_t j = rng.index_below(d);
        const double u = rng.uniform();
        if (is_waiting[i] || is_waiting[k]) settle();
        const double* xi = &x[i * d];
        std::span<double> candidate = waiting.add(i);
        std::copy(xi, xi + d, candidate.begin());
        if (n == 1)
            candidate[j] = xi[j] + ((2.0 * u - 1.0) * span[j]) * 0.1;
        else
            candidate[j] = xi[j] + (2.0 * u - 1.0) * (xi[j] - x[k * d + j]);
        bounds.clip(candidate);
        is_waiting[i] = 1;
    };

    for (std::uint64_t t = 0; t < params.n_iterations; ++t) {
        for (std::size_t i = 0; i < n; ++i) neighbour_trial(i);
        settle();

        // The onlookers all choose from this one snapshot, even though their
        // own trials change the costs.
        meter.spend(n);
        double total = -0.0;
        for (std::size_t i = 0; i < n; ++i) {
            fitness[i] = cost[i] >= 0.0 ? 1.0 / (cost[i] + 1.0) : std::fabs(cost[i]) + 1.0;
            total += fitness[i];
        }
        const bool roulette = std::isfinite(total) && total > 0.0;
        for (std::size_t o = 0; o < n; ++o) {
            meter.spend(n);
            std::size_t pick;
            if (roulette) {
                const double target = total * rng.uniform();
                // Never kept: the running sum repeats the additions of the total, so it ends at the total,
                // and total * u with u below 1 rounds to at most the total. Kept as the rule's own fall-back.
                pick = n - 1;
                double reached = 0.0;
                for (std::size_t k = 0; k < n; ++k) {
                    reached += fitness[k];
                    if (!(reached < target)) {
                        pick = k;
                        break;
                    }
                }
            } else {
                pick = rng.index_below(n);
            }
            neighbour_trial(pick);
        }
        settle();

        // The last of equal maxima is the one abandoned.
        meter.spend(n);
        std::size_t worn = 0;
        for (std::size_t i = 1; i < n; ++i)
            if (failures[i] >= failures[worn]) worn = i;
        if (failures[worn] > params.limit) {
            std::span<double> row{&x[worn * d], d};
            fill_uniform_position(row, bounds, span, rng);
            cost[worn] = problem.evaluate(row);
            failures[worn] = 0;
        }

        // The best is taken only here, after the scouts: a source improved
        // and abandoned within one iteration never reaches it.
        meter.spend(n);
        for (std::size_t i = 0; i < n; ++i) best.offer({&x[i * d], d}, cost[i]);
    }

    RunResult result;
    std::move(best).store_in(result);
    return result;
}

}  // namespace hivekit
