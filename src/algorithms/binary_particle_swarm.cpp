#include "algorithms/binary_particle_swarm.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "algorithms/common.hpp"
#include "core/numeric.hpp"

namespace hivekit {

// The start, then every particle in every iteration.
Evaluations binary_particle_swarm_evaluations(const BinaryParticleSwarmParams& params) {
    return count_of(params.n_particles, params.n_iterations, params.n_particles);
}

Outcome run_binary_particle_swarm(Problem& problem, const Bounds& bounds, const BinaryParticleSwarmParams& params,
                                  Seed seed) {
    // Only the box's dimension matters: it is the number of bits.
    auto prepared = prepare_search(bounds, problem, seed, "binary PSO requires at least one dimension");
    if (auto* error = std::get_if<OptimizerError>(&prepared)) return *error;
    auto& [d, rng, span] = std::get<SearchSetup>(prepared);

    const std::size_t n = params.n_particles;
    const double inf = std::numeric_limits<double>::infinity();
    // Bits are held as the 0.0 / 1.0 the objective and the velocity rule read,
    // row by row: particle i occupies [i * d, (i + 1) * d).
    const std::size_t cells = rows_size(n, d);
    std::vector<double> x(cells), v(cells, 0.0), p(cells);
    std::vector<double> pv(n, inf);
    BestRecord best{std::vector<double>(d, 0.0), inf};
    std::vector<double> history;
    history.reserve(history_capacity(params.n_iterations));

    WorkMeter meter(problem);
    for (std::size_t i = 0; i < n; ++i) {
        meter.spend(d);
        for (std::size_t j = 0; j < d; ++j) x[i * d + j] = rng.uniform() < 0.5 ? 1.0 : 0.0;
    }
    p = x;
    // Every bit is drawn before any value is read: the swarm is one batch,
    // offered to the best in particle order.
    meter.spend(n * d);
    problem.evaluate_batch(x, pv);
    for (std::size_t i = 0; i < n; ++i) best.offer({&x[i * d], d}, pv[i]);

    const double w = params.w, c1 = params.c1, c2 = params.c2;
    for (std::uint64_t it = 0; it < params.n_iterations; ++it) {
        // An iteration of an empty swarm is a step too: it must not escape the meter.
        meter.spend(1);
        for (std::size_t i = 0; i < n; ++i) {
            meter.spend(3 * d);
            double* xi = &x[i * d];
            double* vi = &v[i * d];
            const double* pi = &p[i * d];
            // Three draws per bit, r1, r2 then r3; a NaN velocity makes the
            // probability NaN, and the bit 0.
            for (std::size_t j = 0; j < d; ++j) {
                const double r1 = rng.uniform();
                const double r2 = rng.uniform();
                vi[j] = (w * vi[j] + (r1 * c1) * (pi[j] - xi[j])) + (r2 * c2) * (best.position[j] - xi[j]);
                const double r3 = rng.uniform();
                const double s = 1.0 / (std::exp(-vi[j]) + 1.0);
                xi[j] = r3 < s ? 1.0 : 0.0;
            }
            const double f = problem.evaluate({xi, d});
            // The global best moves at once, so later particles of this
            // iteration already steer towards it.
            if (improves(f, pv[i])) {
                pv[i] = f;
                std::copy(xi, xi + d, &p[i * d]);
                best.offer({xi, d}, f);
            }
        }
        history.push_back(best.value);
    }

    RunResult result;
    std::move(best).store_in(result);
    result.history = std::move(history);
    result.population = split_rows(x, d);
    return result;
}

}  // namespace hivekit
