#include "algorithms/particle_swarm.hpp"

#include <limits>
#include <vector>

#include "algorithms/common.hpp"
#include "core/numeric.hpp"

namespace hivekit {

// The start, then every particle in every iteration.
Evaluations particle_swarm_evaluations(const ParticleSwarmParams& params) {
    return count_of(params.n_particles, params.n_iterations, params.n_particles);
}

Outcome run_particle_swarm(Problem& problem, const Bounds& bounds, const ParticleSwarmParams& params, Seed seed) {
    auto prepared = prepare_search(bounds, problem, seed, "Bounds must have at least one dimension");
    if (auto* error = std::get_if<OptimizerError>(&prepared)) return *error;
    auto& [d, rng, span] = std::get<SearchSetup>(prepared);

    const std::size_t n = params.n_particles;
    const double inf = std::numeric_limits<double>::infinity();
    // Swarm state row by row: particle i occupies [i * d, (i + 1) * d).
    const std::size_t cells = rows_size(n, d);
    std::vector<double> x(cells), v(cells), p(cells);
    std::vector<double> pv(n, inf);
    BestRecord best{std::vector<double>(d, 0.0), inf};
    const auto& lower = bounds.lower();

    // Two draws per coordinate, taken for a whole particle before its arithmetic.
    std::vector<double> draws(rows_size(2, d));
    WorkMeter meter(problem);
    // The start draws no value-dependent number, so the whole swarm is drawn
    // first and evaluated as one batch, then offered to the best in particle
    // order.
    for (std::size_t i = 0; i < n; ++i) {
        meter.spend(2 * d);
        double* xi = &x[i * d];
        double* vi = &v[i * d];
        rng.fill_uniform(draws);
        // The position's draw comes before the velocity's, coordinate by coordinate.
        for (std::size_t j = 0; j < d; ++j) {
            xi[j] = lower[j] + draws[2 * j] * span[j];
            vi[j] = (span[j] * (2.0 * draws[2 * j + 1] - 1.0)) * 0.1;
        }
    }
    meter.spend(n * d);
    problem.evaluate_batch(x, pv);
    p = x;
    for (std::size_t i = 0; i < n; ++i) best.offer({&x[i * d], d}, pv[i]);

    const double w = params.w, c1 = params.c1, c2 = params.c2;
    for (std::uint64_t it = 0; it < params.n_iterations; ++it) {
        // An iteration of an empty swarm is a step too: it must not escape the meter.
        meter.spend(1);
        for (std::size_t i = 0; i < n; ++i) {
            meter.spend(2 * d);
            double* xi = &x[i * d];
            double* vi = &v[i * d];
            const double* pi = &p[i * d];
            rng.fill_uniform(draws);
            for (std::size_t j = 0; j < d; ++j) {
                const double r1 = draws[2 * j];
                const double r2 = draws[2 * j + 1];
                vi[j] = (w * vi[j] + (r1 * c1) * (pi[j] - xi[j])) + (r2 * c2) * (best.position[j] - xi[j]);
                xi[j] = xi[j] + vi[j];
            }
            bounds.clip({xi, d});
            double f = problem.evaluate({xi, d});
            // The global best moves at once, so later particles of this
            // iteration already steer towards it.
            if (improves(f, pv[i])) {
                pv[i] = f;
                std::copy(xi, xi + d, &p[i * d]);
                best.offer({xi, d}, f);
            }
        }
    }

    RunResult result;
    std::move(best).store_in(result);
    return result;
}

}  // namespace hivekit
