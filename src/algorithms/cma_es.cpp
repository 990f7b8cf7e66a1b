#include "algorithms/cma_es.hpp"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <vector>

#include "algorithms/common.hpp"
#include "algorithms/ordering.hpp"
#include "core/numeric.hpp"

namespace hivekit {

std::vector<double> cma_es_weights(std::size_t mu) {
    std::vector<double> w(mu);
    const double top = std::log(static_cast<double>(mu) + 0.5);
    double total = 0.0;
    for (std::size_t i = 0; i < mu; ++i) {
        w[i] = max_num(top - std::log(static_cast<double>(i + 1)), 0.0);
        total += w[i];
    }
    total = max_num(total, 1e-12);
    for (double& wi : w) wi = wi / total;
    return w;
}

// The mean at the start, then one generation per iteration.
Evaluations cma_es_evaluations(const CmaEsParams& params) {
    if (params.n_individuals < kCmaEsSmallest.minimum) return 0;
    return count_of(params.n_individuals, params.n_iterations, 1);
}

Outcome run_cma_es(Problem& problem, const Bounds& bounds, const CmaEsParams& params, Seed seed) {
    auto prepared = prepare_search(bounds, problem, seed);
    if (auto* error = std::get_if<OptimizerError>(&prepared)) return *error;
    auto& [d, rng, span] = std::get<SearchSetup>(prepared);

    const std::size_t lambda = params.n_individuals;
    if (auto error = too_few(lambda, kCmaEsSmallest)) return *error;
    const std::size_t mu = lambda / 2;

    // Samples of one generation row by row: sample k occupies [k * d, (k + 1) * d).
    std::vector<double> x(rows_size(lambda, d));
    std::vector<double> values(lambda);
    std::vector<std::size_t> order(lambda);
    std::vector<double> next_mean(d);
    std::vector<double> variance(d, 1.0);
    const std::vector<double> w = cma_es_weights(mu);
    std::vector<double> mean = bounds.centre();
    double step = params.sigma;
    RunResult result;
    result.history.reserve(history_capacity(params.n_iterations));

    WorkMeter meter(problem);
    // The centre is the first best; evaluating it draws nothing.
    BestRecord best{mean, problem.evaluate(mean)};
    if (params.n_iterations == 0) {
        std::move(best).store_in(result);
        return result;
    }

    for (std::uint64_t g = 0; g < params.n_iterations; ++g) {
        // A sample reads the generation's mean, variance and step and its own
        // draws, never a value, so the generation is sampled first and
        // evaluated as one batch; the best then sees the values in sampling
        // order, as it would one sample at a time.
        for (std::size_t k = 0; k < lambda; ++k) {
            meter.spend(2 * d);
            std::span<double> row{&x[k * d], d};
            for (std::size_t j = 0; j < d; ++j) {
                const double u1 = rng.uniform();
                const double u2 = rng.uniform();
                row[j] = (step * std::sqrt(variance[j])) * box_muller(u1, u2) + mean[j];
            }
            bounds.clip(row);
        }
        meter.spend(lambda * d);
        problem.evaluate_batch(x, values);
        for (std::size_t k = 0; k < lambda; ++k) best.offer({&x[k * d], d}, values[k]);

        // Equal values keep sampling order; NaN values rank after every number.
        // improves() is a strict weak ordering (NaN forms the last class), so
        // every stable sort yields this one order and the metered merge sort
        // may stand in for std::stable_sort.
        std::iota(order.begin(), order.end(), std::size_t{0});
        sort_nan_tied_by_halves(
            std::span<std::size_t>(order),
            [&values](std::size_t a, std::size_t b) { return improves(values[a], values[b]); }, meter);
        meter.spend(2 * mu * d);

        for (std::size_t j = 0; j < d; ++j) {
            double m = 0.0;
            for (std::size_t i = 0; i < mu; ++i) m += w[i] * x[order[i] * d + j];
            next_mean[j] = m;
        }
        // The spread about the new mean is normalised by the squared box
        // width, whereas sampling uses the variance without the width.
        for (std::size_t j = 0; j < d; ++j) {
            double spread = 0.0;
            for (std::size_t i = 0; i < mu; ++i) {
                const double dev = x[order[i] * d + j] - next_mean[j];
                spread += dev * (w[i] * dev);
            }
            variance[j] = variance[j] * 0.8 + max_num(spread / (span[j] * span[j] + 1e-12), 1e-12) * 0.2;
        }
        mean.swap(next_mean);
        step = max_num(step * 0.99, 1e-6);
        result.history.push_back(best.value);
    }

    result.population = split_rows(x, d);
    std::move(best).store_in(result);
    return result;
}

}  // namespace hivekit
