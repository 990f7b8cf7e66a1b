#include "algorithms/permutation_genetic.hpp"

#include <algorithm>
#include <numeric>
#include <utility>

#include "algorithms/common.hpp"
#include "algorithms/tour.hpp"
#include "core/numeric.hpp"

namespace hivekit {

namespace {

// Ascending cost, equal costs in storage order. A NaN cost ranks after every
// number, so it never heads the ranking while a number is there.
void rank(std::vector<std::size_t>& order, const std::vector<double>& cost) {
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(),
                     [&cost](std::size_t a, std::size_t b) { return improves(cost[a], cost[b]); });
}

// Binary tournament over the ranked population; a tie keeps the first draw,
// and a comparison with NaN takes the second.
std::size_t tournament(RandomSource& rng, const std::vector<std::size_t>& order, const std::vector<double>& cost) {
    const std::size_t first = order[rng.index_below(order.size())];
    const std::size_t second = order[rng.index_below(order.size())];
    return cost[first] <= cost[second] ? first : second;
}

// Units of a generation's fixed cost (ranking, history, elite); a unit is
// one city copied or measured.
constexpr std::size_t kGenerationUnits = 32;

void to_position(std::span<const std::size_t> tour, std::span<double> position) {
    for (std::size_t p = 0; p < tour.size(); ++p) position[p] = static_cast<double>(tour[p]);
}

}  // namespace

void order_crossover(std::span<const std::size_t> first, std::span<const std::size_t> second, std::size_t start,
                     std::size_t end, std::span<std::size_t> child, std::vector<unsigned char>& placed) {
    const std::size_t length = first.size();
    placed.assign(length, 0);
    for (std::size_t p = start; p <= end; ++p) {
        child[p] = first[p];
        placed[first[p]] = 1;
    }
    // Both parents hold every city once, so one pass over the second parent
    // fills exactly the positions the segment left empty.
    std::size_t missing = length - (end - start + 1);
    std::size_t write = end + 1 == length ? 0 : end + 1;
    for (std::size_t r = 0; r < length && missing > 0; ++r) {
        const std::size_t city = second[r];
        if (placed[city]) continue;
        placed[city] = 1;
        child[write] = city;
        write = write + 1 == length ? 0 : write + 1;
        --missing;
    }
}

// The start, then every child but the elite in every generation.
Evaluations permutation_genetic_evaluations(const PermutationGeneticParams& params) {
    if (params.n_individuals < kPermutationGeneticSmallest.minimum) return 0;
    return count_of(params.n_individuals - 1, params.n_iterations, params.n_individuals);
}

Outcome run_permutation_genetic(Problem& problem, const PermutationGeneticParams& params, Seed seed) {
    const DistanceMatrix* matrix = problem.distance_matrix();
    if (!matrix) return OptimizerError::invalid_input("GA requires a discrete distance matrix");
    const std::size_t n = matrix->size();
    if (n < 3) return OptimizerError::invalid_input("distance matrix must have at least 3 cities");
    const std::size_t size = params.n_individuals;
    // Without generations an empty population would still leave nothing to
    // report, and a fit that stores nothing must not pass for one that worked.
    if (auto error = too_few(size, kPermutationGeneticSmallest)) return *error;

    const std::size_t cells = rows_size(size, n);
    std::vector<std::size_t> current(cells), next(cells);
    std::vector<double> cost(size), next_cost(size), positions(cells);
    std::vector<std::size_t> order(size);
    std::vector<unsigned char> placed(n);
    std::vector<double> history;
    history.reserve(history_capacity(params.n_iterations));
    auto row = [n](std::vector<std::size_t>& rows, std::size_t i) { return std::span<std::size_t>(&rows[i * n], n); };

    RandomSource rng = make_random_source(seed);

    // Every individual is shuffled before any is evaluated: the draws of the
    // initial population come first, in one block.
    for (std::size_t i = 0; i < size; ++i) {
        problem.check_interrupt();
        auto tour = row(current, i);
        std::iota(tour.begin(), tour.end(), std::size_t{0});
        rng.shuffle(tour);
    }
    // Each individual is measured and then polished, and its polished length
    // becomes its cost; no job reads another's tour or cost and none draws,
    // so measuring them all first and then polishing them all, side by side
    // on the engine's threads, gives the same bits.
    for (std::size_t i = 0; i < size; ++i) {
        problem.check_interrupt();
        to_position(row(current, i), {&positions[i * n], n});
    }
    problem.evaluate_batch(positions, cost);
    if (params.use_two_opt && n >= 4) TwoOptBatch(*matrix, problem, size).improve(current, size, cost);

    // A generation can be a few nanoseconds (one individual makes no child),
    // so interrupts are checked by the work done, not once per loop.
    WorkMeter meter(problem);
    for (std::uint64_t g = 0; g < params.n_iterations; ++g) {
        meter.spend(kGenerationUnits + size);
        rank(order, cost);
        const std::size_t elite = order[0];
        history.push_back(cost[elite]);
        std::ranges::copy(row(current, elite), row(next, 0).begin());
        next_cost[0] = cost[elite];
        for (std::size_t c = 1; c < size; ++c) {
            meter.spend(4 * n);
            const std::size_t first = tournament(rng, order, cost);
            const std::size_t second = tournament(rng, order, cost);
            const std::size_t start = rng.index_below(n);
            const std::size_t end = start + rng.index_below(n - start);
            auto child = row(next, c);
            order_crossover(row(current, first), row(current, second), start, end, child, placed);
            if (n != 1 && rng.uniform() <= params.mutation_rate) {
                const std::size_t a = rng.index_below(n);
                const std::size_t b = rng.index_below(n);
                std::swap(child[a], child[b]);
            }
            to_position(child, {&positions[c * n], n});
        }
        // The children's costs are read only once the next generation ranks
        // them, so they are measured together, in child order.
        if (size > 1) problem.evaluate_batch({&positions[n], (size - 1) * n}, {&next_cost[1], size - 1});
        std::swap(current, next);
        std::swap(cost, next_cost);
    }

    RunResult result;
    rank(order, cost);
    result.best_value = cost[order[0]];
    auto best = row(current, order[0]);
    result.best_solution = std::vector<double>(best.begin(), best.end());
    result.history = std::move(history);
    result.population.reserve(size);
    for (std::size_t r = 0; r < size; ++r) {
        auto tour = row(current, order[r]);
        result.population.emplace_back(tour.begin(), tour.end());
    }
    return result;
}

}  // namespace hivekit
