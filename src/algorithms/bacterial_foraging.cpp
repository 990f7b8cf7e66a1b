#include "algorithms/bacterial_foraging.hpp"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "algorithms/common.hpp"
#include "algorithms/ordering.hpp"

namespace hivekit {

std::vector<std::size_t> bacterial_reproduction_ranks(std::size_t n) {
    const std::size_t survivors = std::max<std::size_t>(n / 2, 1);
    std::vector<std::size_t> ranks(n);
    for (std::size_t k = 0; k < n; ++k) ranks[k] = k % survivors;
    return ranks;
}

Outcome run_bacterial_foraging(Problem& problem, const Bounds& bounds, const BacterialForagingParams& params,
                               Seed seed) {
    auto prepared = prepare_search(bounds, problem, seed);
    if (auto* error = std::get_if<OptimizerError>(&prepared)) return *error;
    auto& [d, rng, span] = std::get<SearchSetup>(prepared);

    const std::size_t n = params.n_bacteria;
    if (auto error = too_few(n, 2, "n_bacteria", "bacterial foraging")) return *error;

    // Bacterium i occupies [i * d, (i + 1) * d); the second pair of buffers
    // receives the population rebuilt by reproduction.
    const std::size_t cells = rows_size(n, d);
    std::vector<double> x(cells), next_x(cells);
    std::vector<double> value(n), next_value(n);
    std::vector<double> y(d);
    const std::vector<std::size_t> source_rank = bacterial_reproduction_ranks(n);
    ValueRanking ranking(n);
    RunResult result;
    result.history.reserve(history_capacity(params.n_iterations));

    WorkMeter meter(problem);
    BestRecord best = start_population(problem, x, value, bounds, span, rng, meter);

    const double step_scale = params.step_scale;
    const double elimination = params.elimination_probability;
    for (std::uint64_t t = 0; t < params.n_iterations; ++t) {
        for (std::uint64_t step = 0; step < params.n_chemotactic_steps; ++step) {
            for (std::size_t b = 0; b < n; ++b) {
                meter.spend(d);
                double* xb = &x[b * d];
                for (std::size_t j = 0; j < d; ++j) {
                    const double u = rng.uniform();
                    y[j] = xb[j] + ((2.0 * u - 1.0) * step_scale) * span[j];
                }
                bounds.clip(y);
                const double f = problem.evaluate(y);
                if (f < value[b]) {
                    std::copy(y.begin(), y.end(), xb);
                    value[b] = f;
                }
                best.offer({xb, d}, value[b]);
            }
        }

        // Reproduction: the better half, in rank order, is laid over the whole
        // population; copies keep their values and cost no evaluation.
        // Without chemotactic steps and eliminations an iteration is nothing
        // but this.
        auto order = ranking.ascending(value, meter);
        for (std::size_t k = 0; k < n; ++k) {
            meter.spend(d);
            const std::size_t from = order[source_rank[k]];
            std::copy(x.begin() + from * d, x.begin() + (from + 1) * d, next_x.begin() + k * d);
            next_value[k] = value[from];
        }
        x.swap(next_x);
        value.swap(next_value);

        for (std::size_t b = 0; b < n; ++b) {
            meter.spend(1);
            if (!(rng.uniform() < elimination)) continue;
            meter.spend(d);
            double* xb = &x[b * d];
            fill_uniform_position({xb, d}, bounds, span, rng);
            value[b] = problem.evaluate({xb, d});
            best.offer({xb, d}, value[b]);
        }
        result.history.push_back(best.value);
    }

    result.population = split_rows(x, d);
    std::move(best).store_in(result);
    return result;
}

}  // namespace hivekit
