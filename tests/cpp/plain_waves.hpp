// The bee colony and the glowworms as they are written one candidate at a
// time: each trial or move is built, evaluated and settled before the next is
// drawn. The references their waves must match bit for bit, call order
// included; nothing else catches a wave settled too late.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "algorithms/bee_colony.hpp"
#include "algorithms/common.hpp"
#include "algorithms/glowworm.hpp"
#include "core/numeric.hpp"

namespace hivekit::test_support {

inline Outcome plain_bee_colony(Problem& problem, const Bounds& bounds, const BeeColonyParams& params, Seed seed) {
    auto prepared = prepare_search(bounds, problem, seed, "Bounds must have at least one dimension");
    if (auto* error = std::get_if<OptimizerError>(&prepared)) return *error;
    SearchSetup& setup = std::get<SearchSetup>(prepared);
    const std::size_t d = setup.dimension;
    RandomSource& rng = setup.rng;
    const std::vector<double>& span = setup.span;

    const std::size_t n = std::max<std::uint64_t>(params.n_bees / 2, 1);  // sources, row by row
    std::vector<double> x(rows_size(n, d));
    std::vector<double> cost(n), fitness(n), candidate(d);
    std::vector<std::uint64_t> failures(n, 0);

    WorkMeter meter;  // never asks: the references are never stopped
    BestRecord best = start_population(problem, x, cost, bounds, span, rng, meter);

    // Moves one coordinate of source i relative to a random partner (or, with
    // a single source, by a tenth of the box width); draws: partner(s), then
    // the coordinate, then the step.
    auto neighbour_trial = [&](std::size_t i) {
        double* xi = &x[i * d];
        std::copy(xi, xi + d, candidate.begin());
        if (n == 1) {
            const std::size_t j = rng.index_below(d);
            const double u = rng.uniform();
            candidate[j] = xi[j] + ((2.0 * u - 1.0) * span[j]) * 0.1;
        } else {
            std::size_t k = rng.index_below(n);
            while (k == i) k = rng.index_below(n);
            const std::size_t j = rng.index_below(d);
            const double u = rng.uniform();
            candidate[j] = xi[j] + (2.0 * u - 1.0) * (xi[j] - x[k * d + j]);
        }
        bounds.clip(candidate);
        const double f = problem.evaluate(candidate);
        if (improves(f, cost[i])) {
            std::copy(candidate.begin(), candidate.end(), xi);
            cost[i] = f;
            failures[i] = 0;
        } else {
            ++failures[i];
        }
    };

    for (std::uint64_t t = 0; t < params.n_iterations; ++t) {
        for (std::size_t i = 0; i < n; ++i) neighbour_trial(i);

        // The onlookers all choose from this one snapshot, even though their
        // own trials change the costs.
        double total = -0.0;
        for (std::size_t i = 0; i < n; ++i) {
            fitness[i] = cost[i] >= 0.0 ? 1.0 / (cost[i] + 1.0) : std::fabs(cost[i]) + 1.0;
            total += fitness[i];
        }
        const bool roulette = std::isfinite(total) && total > 0.0;
        for (std::size_t o = 0; o < n; ++o) {
            std::size_t pick;
            if (roulette) {
                const double target = total * rng.uniform();
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

        // The last of equal maxima is the one abandoned.
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
        for (std::size_t i = 0; i < n; ++i) best.offer({&x[i * d], d}, cost[i]);
    }

    RunResult result;
    std::move(best).store_in(result);
    return result;
}

inline Outcome plain_glowworm(Problem& problem, const Bounds& bounds, const GlowwormParams& params, Seed seed) {
    auto prepared = prepare_search(bounds, problem, seed);
    if (auto* error = std::get_if<OptimizerError>(&prepared)) return *error;
    SearchSetup& setup = std::get<SearchSetup>(prepared);
    const std::size_t d = setup.dimension;
    RandomSource& rng = setup.rng;
    const std::vector<double>& span = setup.span;

    const std::size_t n = params.n_worms;
    if (auto error = too_few(n, kGlowwormSmallest)) return *error;

    std::vector<double> x(rows_size(n, d));
    std::vector<double> value(n);
    std::vector<double> luciferin(n, 1.0);
    std::vector<double> y(d);
    RunResult result;
    result.history.reserve(history_capacity(params.n_iterations));

    WorkMeter meter;  // never asks: the references are never stopped
    BestRecord best = start_population(problem, x, value, bounds, span, rng, meter);

    const double keep = 1.0 - params.luciferin_decay;
    const double gain = params.luciferin_enhancement;
    const double step = params.step_size, radius = params.neighborhood_radius;
    for (std::uint64_t t = 0; t < params.n_iterations; ++t) {
        // max_num drops a NaN value, leaving the 1e-12 floor as divisor.
        for (std::size_t k = 0; k < n; ++k)
            luciferin[k] = keep * luciferin[k] + gain / max_num(value[k] + 1.0, 1e-12);

        for (std::size_t i = 0; i < n; ++i) {
            double* xi = &x[i * d];
            // The target is the neighbour of smallest value, the first of equal
            // minima; a comparison with NaN keeps the current target.
            bool found = false;
            std::size_t target = 0;
            for (std::size_t j = 0; j < n; ++j) {
                if (j == i || !(luciferin[j] > luciferin[i])) continue;
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

            const double* xk = &x[target * d];
            for (std::size_t c = 0; c < d; ++c) y[c] = xi[c] + step * (xk[c] - xi[c]);
            bounds.clip(y);
            const double f = problem.evaluate(y);
            if (f < value[i]) {
                std::copy(y.begin(), y.end(), xi);
                value[i] = f;
            }
            best.offer({xi, d}, value[i]);
        }
        result.history.push_back(best.value);
    }

    result.population = split_rows(x, d);
    std::move(best).store_in(result);
    return result;
}

}  // namespace hivekit::test_support
