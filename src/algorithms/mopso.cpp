#include "algorithms/mopso.hpp"

#include <vector>

#include "algorithms/common.hpp"
#include "algorithms/pareto.hpp"

namespace hivekit {

namespace {

// Positions a particle may take as its leader this iteration: the archive's
// first front in front order, or the whole archive when dominance cycles
// (NaN objective values) leave it without a front.
std::vector<const double*> leader_candidates(const std::vector<Individual>& archive, WorkMeter& meter) {
    std::vector<const double*> candidates;
    const auto fronts = non_dominated_sort(archive, meter);
    meter.spend(archive.size());
    if (fronts.empty()) {
        for (const auto& member : archive) candidates.push_back(member.position.data());
    } else {
        for (std::size_t index : fronts.front()) candidates.push_back(archive[index].position.data());
    }
    return candidates;
}

}  // namespace

// The start, then every particle in every iteration.
Evaluations mopso_evaluations(const MopsoParams& params) {
    return count_of(params.n_particles, params.n_iterations, params.n_particles);
}

Outcome run_mopso(Problem& problem, const Bounds& bounds, const MopsoParams& params, Seed seed) {
    auto prepared = prepare_search(bounds, problem, seed, "bounds must not be empty");
    if (auto* error = std::get_if<OptimizerError>(&prepared)) return *error;
    auto& [d, rng, span] = std::get<SearchSetup>(prepared);

    const std::size_t n = params.n_particles;
    // Swarm state row by row: particle i occupies [i * d, (i + 1) * d).
    const std::size_t cells = rows_size(n, d);
    std::vector<double> x(cells), v(cells, 0.0);
    std::vector<Individual> best(n);
    std::vector<Individual> pool;
    pool.reserve(n);
    // The objective vectors of one batch, the whole swarm, in particle order.
    std::vector<std::vector<double>> f(n);

    WorkMeter meter(problem);
    fill_uniform_population(x, n, bounds, span, rng, meter);
    meter.spend(2 * n * d);
    problem.evaluate_objectives_batch(x, f);
    for (std::size_t i = 0; i < n; ++i) {
        best[i].position.assign(&x[i * d], &x[i * d] + d);
        best[i].objectives.swap(f[i]);
    }
    std::vector<Individual> archive = select_by_fronts(best, params.archive_size, meter);

    const double w = params.w, c1 = params.c1, c2 = params.c2;
    for (std::uint64_t it = 0; it < params.n_iterations; ++it) {
        // Without particles an iteration draws, evaluates and archives nothing.
        if (n == 0) break;
        // The archive stays fixed for the whole iteration, so the candidates do
        // too. A single archived individual leads every particle without a
        // draw; an empty archive leaves each particle to follow its own
        // personal best, again without a draw.
        std::vector<const double*> candidates;
        if (archive.size() > 1) candidates = leader_candidates(archive, meter);
        // A particle's move reads the fixed candidates, its own state and its
        // own draws, and its vector is read only by its own personal best, so
        // the swarm moves first and is evaluated as one batch; the personal
        // bests then take the vectors in particle order.
        for (std::size_t i = 0; i < n; ++i) {
            meter.spend(2 * d);
            double* xi = &x[i * d];
            double* vi = &v[i * d];
            const double* pi = best[i].position.data();
            const double* leader = pi;
            if (archive.size() == 1)
                leader = archive.front().position.data();
            else if (!candidates.empty())
                leader = candidates[rng.choose_index(candidates.size())];
            for (std::size_t j = 0; j < d; ++j) {
                const double r1 = rng.uniform();
                const double r2 = rng.uniform();
                vi[j] = (w * vi[j] + (r1 * c1) * (pi[j] - xi[j])) + (r2 * c2) * (leader[j] - xi[j]);
                xi[j] = vi[j] + xi[j];
            }
            bounds.clip({xi, d});
        }
        meter.spend(n * d);
        problem.evaluate_objectives_batch(x, f);
        for (std::size_t i = 0; i < n; ++i) {
            const double* xi = &x[i * d];
            // Only a strictly dominating vector replaces the personal best;
            // equal and incomparable ones leave it in place.
            if (dominates(f[i], best[i].objectives)) {
                best[i].position.assign(xi, xi + d);
                best[i].objectives.swap(f[i]);
            }
        }
        pool.clear();
        pool.insert(pool.end(), archive.begin(), archive.end());
        pool.insert(pool.end(), best.begin(), best.end());
        meter.spend(pool.size() * d);
        archive = select_by_fronts(pool, params.archive_size, meter);
    }

    RunResult result;
    result.archive_positions.reserve(archive.size());
    result.archive_objectives.reserve(archive.size());
    for (auto& member : archive) {
        result.archive_positions.push_back(std::move(member.position));
        result.archive_objectives.push_back(std::move(member.objectives));
    }
    result.population = split_rows(x, d);
    return result;
}

}  // namespace hivekit
