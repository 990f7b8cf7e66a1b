#include "algorithms/grey_wolf.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "algorithms/common.hpp"
#include "algorithms/ordering.hpp"

namespace hivekit {

double grey_wolf_coefficient(std::uint64_t t, std::uint64_t n_iterations) {
    const double span = static_cast<double>(n_iterations > 1 ? n_iterations - 1 : 1);
    const double bracket = 1.0 - static_cast<double>(t) / span;
    return bracket + bracket;
}

// The pack at the start and in every iteration.
Evaluations grey_wolf_evaluations(const GreyWolfParams& params) {
    if (params.n_wolves < kGreyWolfSmallest.minimum) return 0;
    return count_of(params.n_wolves, params.n_iterations, params.n_wolves);
}

Outcome run_grey_wolf(Problem& problem, const Bounds& bounds, const GreyWolfParams& params, Seed seed) {
    auto prepared = prepare_search(bounds, problem, seed);
    if (auto* error = std::get_if<OptimizerError>(&prepared)) return *error;
    // Named references rather than a structured binding: the lambdas below use
    // them, and capturing a structured binding needs Clang 16 or later.
    SearchSetup& setup = std::get<SearchSetup>(prepared);
    const std::size_t d = setup.dimension;
    RandomSource& rng = setup.rng;
    const std::vector<double>& span = setup.span;

    const std::size_t n = params.n_wolves;
    if (auto error = too_few(n, kGreyWolfSmallest)) return *error;

    // Wolf i occupies [i * d, (i + 1) * d).
    std::vector<double> x(rows_size(n, d));
    std::vector<double> value(n);
    std::vector<double> alpha(d), beta(d), delta(d);
    ValueRanking ranking(n);
    RunResult result;
    result.history.reserve(history_capacity(params.n_iterations));

    WorkMeter meter(problem);
    BestRecord best = start_population(problem, x, value, bounds, span, rng, meter);

    const auto copy_row = [&](std::size_t i, std::vector<double>& to) {
        std::copy(x.begin() + i * d, x.begin() + (i + 1) * d, to.begin());
    };
    for (std::uint64_t t = 0; t < params.n_iterations; ++t) {
        const double a = grey_wolf_coefficient(t, params.n_iterations);
        const double a2 = a + a;
        // Leaders are frozen for the whole pass; the moves below are not greedy
        // and must not shift them.
        auto order = ranking.ascending(value, meter);
        copy_row(order[0], alpha);
        copy_row(order[1], beta);
        copy_row(order[2], delta);
        // A wolf's move reads the frozen leaders, its own position and its own
        // draws, and nothing in the pass reads a value, so the whole pack moves
        // first, each wolf in place of its old position, and is evaluated as
        // one batch; the best then sees the values in wolf order, as it would
        // one wolf at a time.
        for (std::size_t i = 0; i < n; ++i) {
            meter.spend(6 * d);
            double* xi = &x[i * d];
            for (std::size_t j = 0; j < d; ++j) {
                const double r1a = rng.uniform();
                const double r2a = rng.uniform();
                const double r1b = rng.uniform();
                const double r2b = rng.uniform();
                const double r1d = rng.uniform();
                const double r2d = rng.uniform();
                const double xij = xi[j];
                const double xa = alpha[j] - (a2 * r1a - a) * std::fabs((r2a + r2a) * alpha[j] - xij);
                const double xb = beta[j] - (a2 * r1b - a) * std::fabs((r2b + r2b) * beta[j] - xij);
                const double xd = delta[j] - (a2 * r1d - a) * std::fabs((r2d + r2d) * delta[j] - xij);
                xi[j] = ((xa + xb) + xd) / 3.0;
            }
            bounds.clip({xi, d});
        }
        meter.spend(n * d);
        problem.evaluate_batch(x, value);
        for (std::size_t i = 0; i < n; ++i) best.offer({&x[i * d], d}, value[i]);
        result.history.push_back(best.value);
    }

    result.population = split_rows(x, d);
    std::move(best).store_in(result);
    return result;
}

}  // namespace hivekit
