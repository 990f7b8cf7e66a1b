#include "algorithms/bat_algorithm.hpp"

#include <cmath>
#include <vector>

#include "algorithms/common.hpp"

namespace hivekit {

// The start, then every bat in every iteration.
Evaluations bat_algorithm_evaluations(const BatAlgorithmParams& params) {
    if (params.n_bats < kBatAlgorithmSmallest.minimum) return 0;
    return count_of(params.n_bats, params.n_iterations, params.n_bats);
}

Outcome run_bat_algorithm(Problem& problem, const Bounds& bounds, const BatAlgorithmParams& params, Seed seed) {
    auto prepared = prepare_search(bounds, problem, seed);
    if (auto* error = std::get_if<OptimizerError>(&prepared)) return *error;
    auto& [d, rng, span] = std::get<SearchSetup>(prepared);

    const std::size_t n = params.n_bats;
    if (auto error = too_few(n, kBatAlgorithmSmallest)) return *error;

    // Positions and velocities row by row: bat i occupies [i * d, (i + 1) * d).
    const std::size_t cells = rows_size(n, d);
    std::vector<double> x(cells), v(cells, 0.0);
    std::vector<double> loudness(n, params.loudness), pulse_rate(n, params.pulse_rate), recorded(n);
    RunResult result;
    result.history.reserve(history_capacity(params.n_iterations));

    WorkMeter meter(problem);
    BestRecord best = start_population(problem, x, recorded, bounds, span, rng, meter);

    const double fmin = params.fmin, fmax = params.fmax, alpha = params.alpha, gamma = params.gamma;
    for (std::uint64_t t = 1; t <= params.n_iterations; ++t) {
        const double decay = 1.0 - std::exp(-(gamma * static_cast<double>(t)));
        for (std::size_t i = 0; i < n; ++i) {
            meter.spend(d);
            std::span<double> xi{&x[i * d], d};
            double* vi = &v[i * d];
            const double q = fmin + (fmax - fmin) * rng.uniform();
            for (std::size_t j = 0; j < d; ++j) {
                vi[j] = (xi[j] - best.position[j]) * q + vi[j];
                xi[j] = xi[j] + vi[j];
            }
            bounds.clip(xi);
            // The jump replaces the flight's position but keeps its velocity;
            // u1 is drawn before u2 for each coordinate.
            if (rng.uniform() > pulse_rate[i]) {
                meter.spend(2 * d);
                for (std::size_t j = 0; j < d; ++j) {
                    const double u1 = rng.uniform();
                    const double u2 = rng.uniform();
                    xi[j] = best.position[j] + box_muller(u1, u2) * 0.001;
                }
                bounds.clip(xi);
            }
            const double f = problem.evaluate(xi);

            // The loudness draw is made only for a value no worse than the
            // bat's recorded one. The bat keeps its new position either way;
            // acceptance moves only its record, loudness, pulse rate and the best.
            if (replaces_or_ties(f, recorded[i]) && rng.uniform() < loudness[i]) {
                recorded[i] = f;
                loudness[i] = alpha * loudness[i];
                pulse_rate[i] = pulse_rate[i] * decay;
                best.offer(xi, f);
            } else {
                best.offer_over_nan(xi, f);
            }
        }
        result.history.push_back(best.value);
    }

    result.population = split_rows(x, d);
    std::move(best).store_in(result);
    return result;
}

}  // namespace hivekit
