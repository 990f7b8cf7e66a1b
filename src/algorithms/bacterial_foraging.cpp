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

// The start; swims and eliminations follow the values and the draws.
Evaluations bacterial_foraging_evaluations(const BacterialForagingParams& params) {
    if (params.n_bacteria < kBacterialForagingSmallest.minimum) return 0;
    return params.n_iterations == 0 ? Evaluations(params.n_bacteria) : std::nullopt;
}

Outcome run_bacterial_foraging(Problem& problem, const Bounds& bounds, const BacterialForagingParams& params,
                               Seed seed) {
    auto prepared = prepare_search(bounds, problem, seed);
    if (auto* error = std::get_if<OptimizerError>(&prepared)) return *error;
    auto& [d, rng, span] = std::get<SearchSetup>(prepared);

    const std::size_t n = params.n_bacteria;
    if (auto error = too_few(n, kBacterialForagingSmallest)) return *error;

    // Bacterium i occupies [i * d, (i + 1) * d); the second pair of buffers
    // receives the population rebuilt by reproduction.
    const std::size_t cells = rows_size(n, d);
    std::vector<double> x(cells), next_x(cells);
    std::vector<double> value(n), next_value(n);
    // One batch: the tumbles of a chemotactic step, or the newcomers of the
    // eliminations, with their values (and, for newcomers, whom they replace).
    std::vector<double> batch(rows_size(n, d)), batch_value(n);
    std::vector<std::size_t> replaced(n);
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
            // A tumble starts from its own bacterium and reads no value, and
            // only that bacterium can take it, so a step's tumbles are drawn
            // first and evaluated as one batch, then taken in bacterium order.
            for (std::size_t b = 0; b < n; ++b) {
                meter.spend(d);
                const double* xb = &x[b * d];
                std::span<double> y{&batch[b * d], d};
                for (std::size_t j = 0; j < d; ++j) {
                    const double u = rng.uniform();
                    y[j] = xb[j] + ((2.0 * u - 1.0) * step_scale) * span[j];
                }
                bounds.clip(y);
            }
            meter.spend(n * d);
            problem.evaluate_batch(batch, batch_value);
            for (std::size_t b = 0; b < n; ++b) {
                meter.spend(d);
                double* xb = &x[b * d];
                const double f = batch_value[b];
                if (f < value[b]) {
                    std::copy(&batch[b * d], &batch[(b + 1) * d], xb);
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

        // Whether a bacterium is eliminated, and where its newcomer lands,
        // come from the stream alone, and a newcomer's value is read only by
        // the best, so the newcomers are one batch, offered in bacterium order.
        std::size_t newcomers = 0;
        for (std::size_t b = 0; b < n; ++b) {
            meter.spend(1);
            if (!(rng.uniform() < elimination)) continue;
            meter.spend(2 * d);
            std::span<double> fresh{&batch[newcomers * d], d};
            fill_uniform_position(fresh, bounds, span, rng);
            std::copy(fresh.begin(), fresh.end(), &x[b * d]);
            replaced[newcomers++] = b;
        }
        if (newcomers > 0)
            problem.evaluate_batch(std::span<const double>(batch).first(newcomers * d),
                                   std::span<double>(batch_value).first(newcomers));
        for (std::size_t k = 0; k < newcomers; ++k) {
            const std::size_t b = replaced[k];
            value[b] = batch_value[k];
            best.offer({&x[b * d], d}, value[b]);
        }
        result.history.push_back(best.value);
    }

    result.population = split_rows(x, d);
    std::move(best).store_in(result);
    return result;
}

}  // namespace hivekit
