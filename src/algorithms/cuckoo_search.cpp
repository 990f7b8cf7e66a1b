#include "algorithms/cuckoo_search.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "algorithms/common.hpp"
#include "algorithms/ordering.hpp"
#include "core/numeric.hpp"

namespace hivekit {

std::uint64_t cuckoo_abandon_count(double pa, std::uint64_t n_nests) {
    const double wanted = std::ceil(pa * static_cast<double>(n_nests));
    // Saturating conversion: a negative or NaN product abandons nothing by
    // itself, a product beyond the integer range abandons everything.
    std::uint64_t count = 0;
    if (wanted >= 18446744073709551616.0)
        count = UINT64_MAX;
    else if (wanted > 0.0)
        count = static_cast<std::uint64_t>(wanted);
    return std::min(n_nests, std::max<std::uint64_t>(count, 1));
}

// The nests at the start, then in every iteration one flight per nest and the
// abandoned nests rebuilt.
Evaluations cuckoo_search_evaluations(const CuckooSearchParams& params) {
    const std::uint64_t n = params.n_nests;
    if (n < kCuckooSearchSmallest.minimum) return 0;
    return count_of(count_of(1, n, cuckoo_abandon_count(params.pa, n)), params.n_iterations, n);
}

Outcome run_cuckoo_search(Problem& problem, const Bounds& bounds, const CuckooSearchParams& params, Seed seed) {
    auto prepared = prepare_search(bounds, problem, seed);
    if (auto* error = std::get_if<OptimizerError>(&prepared)) return *error;
    // Named references rather than a structured binding: the lambdas below use
    // them, and capturing a structured binding needs Clang 16 or later.
    SearchSetup& setup = std::get<SearchSetup>(prepared);
    const std::size_t d = setup.dimension;
    RandomSource& rng = setup.rng;
    const std::vector<double>& span = setup.span;

    const std::size_t n = params.n_nests;
    if (auto error = too_few(n, kCuckooSearchSmallest)) return *error;

    // Nest i occupies [i * d, (i + 1) * d).
    std::vector<double> x(rows_size(n, d));
    std::vector<double> value(n);
    const std::size_t k = cuckoo_abandon_count(params.pa, n);
    // One batch of rows with their values: the nests rebuilt at the end of an
    // iteration (at most n of them) followed by the next iteration's n flights.
    std::vector<double> batch(rows_size(2 * n, d));
    std::vector<double> batch_value(2 * n);
    ValueRanking ranking(n);
    RunResult result;
    result.history.reserve(history_capacity(params.n_iterations));

    WorkMeter meter(problem);
    BestRecord best = start_population(problem, x, value, bounds, span, rng, meter);

    // The worst nests are rebuilt in worst-first order, which fixes the order
    // of their draws; their new positions come from the stream alone. Their
    // values are read first by the best that ends their iteration, so they
    // wait in the batch's first rows, for the next iteration's flights, which
    // start from the rebuilt nests but read no value either. The batch holds
    // the rows in the order one evaluation at a time makes them, and its
    // values are read in that order: the rebuilt nests' values, the best and
    // history of their iteration, then the flights.
    std::span<const std::size_t> rebuilt_nests;
    const auto end_iteration = [&] {
        for (std::size_t r = 0; r < rebuilt_nests.size(); ++r) value[rebuilt_nests[r]] = batch_value[r];
        // Only now does the best move: a flight improvement of a nest that was
        // just abandoned is lost.
        meter.spend(n);
        const std::size_t top = initial_best_index(value);
        best.offer({&x[top * d], d}, value[top]);
        result.history.push_back(best.value);
    };

    const double alpha = params.alpha, levy_scale = params.levy_scale;
    for (std::uint64_t t = 0; t < params.n_iterations; ++t) {
        // A flight starts from its own nest and reads no value, and only its
        // own nest can take it, so all flights are drawn first and evaluated
        // as one batch; the nests then take them in nest order.
        const std::size_t waiting = rebuilt_nests.size();
        for (std::size_t i = 0; i < n; ++i) {
            meter.spend(2 * d);
            const double* xi = &x[i * d];
            std::span<double> y{&batch[(waiting + i) * d], d};
            std::copy(xi, xi + d, y.begin());
            for (std::size_t j = 0; j < d; ++j) {
                const double u1 = rng.uniform();
                const double u2 = rng.uniform();
                const double s = std::pow(max_num(std::fabs(u2 - 0.5), 1e-12), 0.6666666666666666);
                const double h = alpha * (((u1 - 0.5) / s) * levy_scale);
                y[j] = y[j] + h * span[j];
            }
            bounds.clip(y);
        }
        meter.spend((waiting + n) * d);
        problem.evaluate_batch(std::span<const double>(batch).first((waiting + n) * d),
                               std::span<double>(batch_value).first(waiting + n));
        if (t > 0) end_iteration();
        for (std::size_t i = 0; i < n; ++i) {
            meter.spend(d);
            const double f = batch_value[waiting + i];
            // A number also displaces a nest stuck at NaN, so numbers found by
            // the flights can reach the best.
            if (improves(f, value[i])) {
                std::copy(&batch[(waiting + i) * d], &batch[(waiting + i + 1) * d], &x[i * d]);
                value[i] = f;
            }
        }

        rebuilt_nests = ranking.descending(value, meter).first(k);
        for (std::size_t r = 0; r < k; ++r) {
            meter.spend(2 * d);
            std::span<double> fresh{&batch[r * d], d};
            fill_uniform_position(fresh, bounds, span, rng);
            std::copy(fresh.begin(), fresh.end(), &x[rebuilt_nests[r] * d]);
        }
    }
    if (params.n_iterations > 0) {
        problem.evaluate_batch(std::span<const double>(batch).first(k * d), std::span<double>(batch_value).first(k));
        end_iteration();
    }

    result.population = split_rows(x, d);
    std::move(best).store_in(result);
    return result;
}

}  // namespace hivekit
