#include "algorithms/nsga2.hpp"

#include <algorithm>
#include <limits>
#include <vector>

#include "algorithms/common.hpp"
#include "algorithms/pareto.hpp"

namespace hivekit {

namespace {

// Rank (front number) and crowding distance of every member of a population;
// a member that belongs to no front ranks last with crowding 0.
struct Standing {
    std::vector<std::size_t> rank;
    std::vector<double> crowding;

    Standing(std::span<const Individual> population, WorkMeter& meter)
        : rank(population.size(), std::numeric_limits<std::size_t>::max()), crowding(population.size(), 0.0) {
        const auto fronts = non_dominated_sort(population, meter);
        for (std::size_t k = 0; k < fronts.size(); ++k)
            for (const Crowding& c : crowding_distance(population, fronts[k], meter)) {
                rank[c.index] = k;
                crowding[c.index] = c.distance;
            }
    }

    // Binary tournament: a and b are drawn in that order and may coincide;
    // b wins every tie, equal crowding included.
    std::size_t tournament(RandomSource& rng, std::size_t size) const {
        const std::size_t a = rng.index_below(size);
        const std::size_t b = rng.index_below(size);
        if (rank[a] < rank[b] || (rank[a] == rank[b] && crowding[a] > crowding[b])) return a;
        return b;
    }
};

}  // namespace

// The start, then one child per individual and generation (while no NaN shrinks the population).
Evaluations nsga2_evaluations(const Nsga2Params& params) {
    return count_of(params.n_individuals, params.n_iterations, params.n_individuals);
}

Outcome run_nsga2(Problem& problem, const Bounds& bounds, const Nsga2Params& params, Seed seed) {
    auto prepared = prepare_search(bounds, problem, seed, "bounds must not be empty");
    if (auto* error = std::get_if<OptimizerError>(&prepared)) return *error;
    auto& [d, rng, span] = std::get<SearchSetup>(prepared);

    const std::size_t n = params.n_individuals;
    // Parents and children share one list: the children are appended behind
    // the parents, which is the order environmental selection reads them in.
    std::vector<Individual> population;
    population.reserve(rows_size(n, 2));
    // One batch of n positions row by row, the initial ones or a
    // generation's children, and their objective vectors.
    std::vector<double> rows(rows_size(n, d));
    std::vector<std::vector<double>> objectives(n);
    WorkMeter meter(problem);
    fill_uniform_population(rows, n, bounds, span, rng, meter);
    meter.spend(n * d);
    problem.evaluate_objectives_batch(rows, objectives);
    population.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        meter.spend(d);
        population[i].position.assign(&rows[i * d], &rows[i * d] + d);
        population[i].objectives.swap(objectives[i]);
    }

    const double crossover_rate = params.crossover_rate;
    const double mutation_rate = params.mutation_rate;
    const double mutation_scale = params.mutation_scale;
    for (std::uint64_t generation = 0; generation < params.n_iterations; ++generation) {
        // Dominance cycles (NaN objective values) can empty the population; an
        // empty one breeds nothing and stays empty, so the remaining
        // generations would change nothing.
        if (population.empty()) break;
        const std::size_t parents = population.size();
        const Standing standing(population, meter);
        // Every child is bred before any is evaluated; the draws of a child are
        // its two tournaments, the crossover test (and alpha), then the
        // mutation test (and step) of each coordinate in order. The children
        // are therefore one batch.
        for (std::size_t c = 0; c < n; ++c) {
            meter.spend(3 * d);
            const std::size_t first = standing.tournament(rng, parents);
            const std::size_t second = standing.tournament(rng, parents);
            Individual child;
            child.position = population[first].position;
            const auto& other = population[second].position;
            if (rng.uniform() < crossover_rate) {
                const double alpha = rng.uniform();
                for (std::size_t j = 0; j < d; ++j)
                    child.position[j] = alpha * child.position[j] + (1.0 - alpha) * other[j];
            }
            for (std::size_t j = 0; j < d; ++j) {
                if (rng.uniform() < mutation_rate) {
                    const double r = rng.uniform();
                    child.position[j] = child.position[j] + mutation_scale * ((r + r) - 1.0);
                }
            }
            bounds.clip(child.position);
            std::copy(child.position.begin(), child.position.end(), &rows[c * d]);
            population.push_back(std::move(child));
        }
        meter.spend(n * d);
        problem.evaluate_objectives_batch(rows, objectives);
        for (std::size_t c = 0; c < n; ++c) population[parents + c].objectives.swap(objectives[c]);

        std::vector<Individual> next;
        next.reserve(rows_size(n, 2));
        for (std::size_t index : select_indices_by_fronts(population, n, meter))
            next.push_back(std::move(population[index]));
        population = std::move(next);
    }

    RunResult result;
    for (std::size_t index : select_indices_by_fronts(population, params.archive_size, meter)) {
        meter.spend(d);
        result.archive_positions.push_back(population[index].position);
        result.archive_objectives.push_back(population[index].objectives);
    }
    result.population.reserve(population.size());
    for (auto& individual : population) result.population.push_back(std::move(individual.position));
    return result;
}

}  // namespace hivekit
