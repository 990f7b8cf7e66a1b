#include "algorithms/ant_colony.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <span>
#include <string>
#include <vector>

#include "algorithms/common.hpp"
#include "algorithms/tour.hpp"
#include "core/numeric.hpp"

namespace hivekit {

namespace {

constexpr double kDistanceFloor = 1e-10;

// Adds `amount` along a closed tour, edge by edge in position order, each edge
// in both directions.
void deposit(std::vector<double>& tau, std::size_t n, std::span<const std::size_t> tour, double amount) {
    const std::size_t m = tour.size();
    for (std::size_t p = 0; p < m; ++p) {
        const std::size_t a = tour[p], b = tour[p + 1 == m ? 0 : p + 1];
        tau[a * n + b] += amount;
        tau[b * n + a] += amount;
    }
}

// The weights of the unvisited cities added in order from 0.0, each partial
// sum kept in `running`; `ordered` tells whether none was negative or NaN
// (the sums then never decrease). Kept out of line: inlined into the colony's
// loop, the running total was kept in memory, and the chain of additions ran
// at less than half the speed.
#if defined(_MSC_VER) && !defined(__clang__)
__declspec(noinline)
#else
[[gnu::noinline]]
#endif
double add_weights(const double* row, const std::size_t* unvisited, std::size_t len, double* running,
                   bool& ordered) {
    double total = 0.0;
    bool all_ordered = true;
    for (std::size_t k = 0; k < len; ++k) {
        const double w = row[unvisited[k]];
        all_ordered &= w >= 0.0;
        total += w;
        running[k] = total;
    }
    ordered = all_ordered;
    return total;
}

// One ant's walk through all n cities. Draws, in this order: the start city;
// then for each step either the ACS test (ACS only) followed by the roulette
// unless the greedy choice was taken, or, when the weights do not add up to a
// positive finite total, a uniform pick among the unvisited cities.
//
// The roulette reads the running sums the total left behind: they are the same
// additions in the same order, so the same values. When no weight is negative
// (or NaN) they never decrease, and the first one not below the target is
// found by bisection; otherwise it is found by walking them in order.
void build_tour(std::span<std::size_t> tour, std::span<const double> weight, AntVariant variant, double q0,
                RandomSource& rng, std::vector<std::size_t>& unvisited, std::vector<double>& running,
                WorkMeter& meter) {
    const std::size_t n = tour.size();
    const double inf = std::numeric_limits<double>::infinity();
    unvisited.resize(n);
    std::iota(unvisited.begin(), unvisited.end(), std::size_t{0});
    std::size_t city = rng.index_below(n);
    tour[0] = city;
    unvisited.erase(unvisited.begin() + static_cast<std::ptrdiff_t>(city));
    for (std::size_t step = 1; step < n; ++step) {
        const double* row = &weight[city * n];
        const std::size_t len = unvisited.size();
        meter.spend(len);
        bool ordered = true;
        const double total = add_weights(row, unvisited.data(), len, running.data(), ordered);
        std::size_t pick;
        if (total > 0.0 && total < inf) {
            if (variant == AntVariant::Acs && rng.uniform() < q0) {
                // The last of equal maxima wins.
                pick = 0;
                for (std::size_t k = 1; k < len; ++k)
                    if (row[unvisited[k]] >= row[unvisited[pick]]) pick = k;
            } else {
                const double target = total * rng.uniform();
                if (ordered) {
                    // The last sum is the total, which is not below the target.
                    pick = static_cast<std::size_t>(
                        std::lower_bound(running.begin(), running.begin() + static_cast<std::ptrdiff_t>(len), target) -
                        running.begin());
                    if (pick == len) pick = len - 1;
                } else {
                    pick = len - 1;
                    for (std::size_t k = 0; k < len; ++k) {
                        if (running[k] >= target) {
                            pick = k;
                            break;
                        }
                    }
                }
            }
        } else {
            pick = rng.index_below(len);
        }
        city = unvisited[pick];
        tour[step] = city;
        unvisited.erase(unvisited.begin() + static_cast<std::ptrdiff_t>(pick));
    }
}

}  // namespace

// One tour per ant and iteration.
Evaluations ant_colony_evaluations(const AntColonyParams& params) {
    return count_of(params.n_ants, params.n_iterations);
}

Outcome run_ant_colony(Problem& problem, const AntColonyParams& params, Seed seed) {
    const DistanceMatrix* matrix = problem.distance_matrix();
    if (!matrix || matrix->size() == 0)
        return OptimizerError::invalid_input("ant colony requires a non-empty distance matrix");
    const DistanceMatrix& dist = *matrix;
    const std::size_t n = dist.size();
    const std::size_t cells = rows_size(n, n);
    std::vector<double> tau(cells, 1.0 / static_cast<double>(n));

    RandomSource rng = make_random_source(seed);
    // No ant ever walks, so there is no tour to report: failing says so,
    // where returning nothing would pass for a fit and leave a stale result.
    if (params.n_ants == 0 || params.n_iterations == 0)
        return OptimizerError::convergence_failure(
            "no ant completed a finite tour: n_ants and n_iterations must both be at least 1");

    const std::size_t n_ants = params.n_ants;
    std::vector<std::size_t> tours(rows_size(n_ants, n));
    std::vector<double> costs(n_ants);
    std::vector<double> visibility(cells), weight(cells);
    std::vector<std::size_t> unvisited(n), best_tour;
    std::vector<double> choice_weights(n), positions(rows_size(n_ants, n));
    WorkMeter meter(problem);

    // pow(1 / max(D, floor), beta) never changes during a fit; computing it
    // once gives the same bits as computing it for every step.
    for (std::size_t c = 0; c < n; ++c) {
        problem.check_interrupt();
        for (std::size_t j = 0; j < n; ++j)
            visibility[c * n + j] = std::pow(1.0 / max_num(dist(c, j), kDistanceFloor), params.beta);
    }

    TwoOptBatch two_opt(dist, problem, n_ants);
    const bool polish = params.use_two_opt && n >= 4;
    double best_cost = std::numeric_limits<double>::infinity();
    bool has_best = false;

    for (std::uint64_t it = 0; it < params.n_iterations; ++it) {
        // The pheromone stays fixed while the ants walk, so the weights do too.
        for (std::size_t c = 0; c < n; ++c) {
            problem.check_interrupt();
            for (std::size_t j = 0; j < n; ++j)
                weight[c * n + j] = std::pow(tau[c * n + j], params.alpha) * visibility[c * n + j];
        }

        // A walk reads only the weights and the draws, never another ant's
        // polished tour or cost, and neither 2-opt nor a cost draws anything:
        // walking every ant first, then polishing and measuring them all, then
        // taking the best in ant order gives the bits of doing all three ant
        // by ant, and leaves the ants' 2-opt free to run side by side.
        for (std::size_t k = 0; k < n_ants; ++k) {
            problem.check_interrupt();
            build_tour({&tours[k * n], n}, weight, params.variant, params.q0, rng, unvisited, choice_weights, meter);
        }
        if (polish) two_opt.improve(tours, n_ants);
        for (std::size_t k = 0; k < n_ants; ++k) {
            meter.spend(2 * n);  // converted here, measured below
            for (std::size_t p = k * n; p < (k + 1) * n; ++p) positions[p] = static_cast<double>(tours[p]);
        }
        problem.evaluate_batch(positions, costs);
        for (std::size_t k = 0; k < n_ants; ++k) {
            if (improves(costs[k], best_cost)) {
                best_cost = costs[k];
                best_tour.assign(&tours[k * n], &tours[k * n] + n);
                has_best = true;
            }
        }

        const double keep = 1.0 - params.rho;
        for (std::size_t c = 0; c < n; ++c) {
            problem.check_interrupt();
            for (std::size_t j = 0; j < n; ++j) tau[c * n + j] = keep * tau[c * n + j];
        }
        for (std::size_t k = 0; k < n_ants; ++k)
            if (costs[k] > 0.0) deposit(tau, n, {&tours[k * n], n}, params.q / costs[k]);
        if (params.variant != AntVariant::Basic && has_best && best_cost > 0.0)
            deposit(tau, n, best_tour, (params.q * params.elitist_weight) / best_cost);
        if (params.variant == AntVariant::Mmas)
            for (std::size_t c = 0; c < n; ++c) {
                problem.check_interrupt();
                for (std::size_t j = 0; j < n; ++j)
                    tau[c * n + j] = min_num(max_num(tau[c * n + j], params.tau_min), params.tau_max);
            }
    }

    // Forbidden edges (infinite or NaN distances) can leave every tour
    // without a finite length; that is a failed search, not an empty result.
    if (!has_best)
        return OptimizerError::convergence_failure("no ant completed a finite tour in " +
                                                   std::to_string(params.n_iterations) + " iterations of " +
                                                   std::to_string(n_ants) + " ants");
    RunResult result;
    result.best_value = best_cost;
    result.best_solution = std::vector<double>(best_tour.begin(), best_tour.end());
    return result;
}

}  // namespace hivekit
