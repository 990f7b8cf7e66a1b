#include "algorithms/glowworm.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "algorithms/common.hpp"
#include "core/numeric.hpp"

namespace hivekit {

// The start; a worm without a brighter neighbour does not move.
Evaluations glowworm_evaluations(const GlowwormParams& params) {
    if (params.n_worms < kGlowwormSmallest.minimum) return 0;
    return params.n_iterations == 0 ? Evaluations(params.n_worms) : std::nullopt;
}

Outcome run_glowworm(Problem& problem, const Bounds& bounds, const GlowwormParams& params, Seed seed) {
    auto prepared = prepare_search(bounds, problem, seed);
    if (auto* error = std::get_if<OptimizerError>(&prepared)) return *error;
    // Named references rather than a structured binding: the lambdas below use
    // them, and capturing a structured binding needs Clang 16 or later.
    SearchSetup& setup = std::get<SearchSetup>(prepared);
    const std::size_t d = setup.dimension;
    RandomSource& rng = setup.rng;
    const std::vector<double>& span = setup.span;

    const std::size_t n = params.n_worms;
    if (auto error = too_few(n, kGlowwormSmallest)) return *error;

    // Worm i occupies [i * d, (i + 1) * d).
    std::vector<double> x(rows_size(n, d));
    std::vector<double> value(n);
    std::vector<double> luciferin(n, 1.0);
    // Moves built but not yet evaluated, in worm order.
    PendingRows waiting(n, d);
    RunResult result;
    result.history.reserve(history_capacity(params.n_iterations));

    WorkMeter meter(problem);
    // The only draws of the run; everything after is deterministic.
    BestRecord best = start_population(problem, x, value, bounds, span, rng, meter);

    // Evaluates the waiting moves as one batch; each worm takes its move or
    // keeps its place, and offers where it stands to the best, in worm order.
    auto settle = [&] {
        waiting.settle(problem, meter, [&](std::size_t i, std::span<const double> move, double f) {
            double* xi = &x[i * d];
            if (f < value[i]) {
                std::copy(move.begin(), move.end(), xi);
                value[i] = f;
            }
            best.offer({xi, d}, value[i]);
        });
    };

    const double keep = 1.0 - params.luciferin_decay;
    const double gain = params.luciferin_enhancement;
    const double step = params.step_size, radius = params.neighborhood_radius;
    for (std::uint64_t t = 0; t < params.n_iterations; ++t) {
        meter.spend(n);
        // max_num drops a NaN value, leaving the 1e-12 floor as divisor.
        for (std::size_t k = 0; k < n; ++k)
            luciferin[k] = keep * luciferin[k] + gain / max_num(value[k] + 1.0, 1e-12);

        // One worm at a time, each move is evaluated and taken or refused
        // before the next worm looks for its target. Moves wait here and are
        // evaluated together, with the same outcome: nothing draws; a worm
        // reads the row and value of another worm only when that one glows
        // brighter (the test comes before any read), and only a worm's own
        // move changes its row and value. So a worm looks for its target at
        // once unless a brighter worm has a move waiting, in which case the
        // waiting moves are settled first, in worm order, as the best sees
        // them one at a time.
        for (std::size_t i = 0; i < n; ++i) {
            // A worm that finds no target is evaluated no more: a swarm where
            // none does spends whole iterations on these comparisons alone.
            meter.spend(n + waiting.members().size());
            for (std::size_t k : waiting.members())
                if (luciferin[k] > luciferin[i]) {
                    settle();
                    break;
                }
            const double* xi = &x[i * d];
            // The target is the neighbour of smallest value, the first of equal
            // minima; a comparison with NaN keeps the current target.
            bool found = false;
            std::size_t target = 0;
            for (std::size_t j = 0; j < n; ++j) {
                if (j == i || !(luciferin[j] > luciferin[i])) continue;
                meter.spend(d);
                const double* xj = &x[j * d];
                double r2 = -0.0;
                for (std::size_t c = 0; c < d; ++c) {
                    const double diff = xi[c] - xj[c];
                    r2 = r2 + diff * diff;
                }
                if (!(std::sqrt(r2) <= radius)) continue;
                if (!found || value[target] > value[j]) target = j;
                found = true;
            }
            if (!found) continue;

            meter.spend(d);
            const double* xk = &x[target * d];
            std::span<double> y = waiting.add(i);
            for (std::size_t c = 0; c < d; ++c) y[c] = xi[c] + step * (xk[c] - xi[c]);
            bounds.clip(y);
        }
        settle();
        result.history.push_back(best.value);
    }

    result.population = split_rows(x, d);
    std::move(best).store_in(result);
    return result;
}

}  // namespace hivekit
