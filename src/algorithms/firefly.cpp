#include "algorithms/firefly.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "algorithms/common.hpp"

namespace hivekit {

// The start; an iteration moves only fireflies that see a brighter one.
Evaluations firefly_evaluations(const FireflyParams& params) {
    if (params.n_fireflies < kFireflySmallest.minimum) return 0;
    return params.n_iterations == 0 ? Evaluations(params.n_fireflies) : std::nullopt;
}

Outcome run_firefly(Problem& problem, const Bounds& bounds, const FireflyParams& params, Seed seed) {
    auto prepared = prepare_search(bounds, problem, seed);
    if (auto* error = std::get_if<OptimizerError>(&prepared)) return *error;
    auto& [d, rng, span] = std::get<SearchSetup>(prepared);

    const std::size_t n = params.n_fireflies;
    if (auto error = too_few(n, kFireflySmallest)) return *error;

    // Firefly i occupies [i * d, (i + 1) * d).
    std::vector<double> x(rows_size(n, d));
    std::vector<double> value(n);
    std::vector<double> y(d);
    RunResult result;
    result.history.reserve(history_capacity(params.n_iterations));

    WorkMeter meter(problem);
    BestRecord best = start_population(problem, x, value, bounds, span, rng, meter);

    const double beta0 = params.beta0, gamma = params.gamma, alpha = params.alpha;
    for (std::uint64_t t = 0; t < params.n_iterations; ++t) {
        for (std::size_t i = 0; i < n; ++i) {
            // Once the swarm has settled no firefly moves and nothing is
            // evaluated: these comparisons are then all the run does.
            meter.spend(n);
            double* xi = &x[i * d];
            for (std::size_t j = 0; j < n; ++j) {
                // A NaN on either side fails this test and so attracts. Values
                // are the current ones: moves made earlier in this pass count.
                if (value[j] >= value[i]) continue;
                meter.spend(3 * d);
                const double* xj = &x[j * d];
                double r2 = -0.0;
                for (std::size_t c = 0; c < d; ++c) {
                    const double diff = xi[c] - xj[c];
                    r2 = r2 + diff * diff;
                }
                const double r = std::sqrt(r2);
                const double b = beta0 * std::exp(r * -(gamma * r));
                std::copy(xi, xi + d, y.begin());
                for (std::size_t c = 0; c < d; ++c) {
                    const double u = rng.uniform();
                    y[c] = y[c] + ((alpha * (u - 0.5)) * span[c] + b * (xj[c] - y[c]));
                }
                bounds.clip(y);
                const double f = problem.evaluate(y);
                if (f < value[i]) {
                    std::copy(y.begin(), y.end(), xi);
                    value[i] = f;
                    best.offer(y, f);
                } else {
                    best.offer_over_nan(y, f);
                }
            }
        }
        result.history.push_back(best.value);
    }

    result.population = split_rows(x, d);
    std::move(best).store_in(result);
    return result;
}

}  // namespace hivekit
