#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "algorithms/result.hpp"
#include "core/bounds.hpp"
#include "core/problem.hpp"

namespace hivekit {

struct PermutationGeneticParams {
    std::uint64_t n_individuals = 40;
    std::uint64_t n_iterations = 100;
    double mutation_rate = 0.1;
    bool use_two_opt = true;
};

// The smallest n_individuals run_permutation_genetic accepts.
inline constexpr SizeLimit kPermutationGeneticSmallest{1, "n_individuals must be at least 1"};

// Objective calls of run_permutation_genetic.
Evaluations permutation_genetic_evaluations(const PermutationGeneticParams& params);

Outcome run_permutation_genetic(Problem& problem, const PermutationGeneticParams& params, Seed seed);

// Order crossover of two permutations of 0 .. L-1: positions start .. end
// (inclusive) keep the first parent's cities; the other positions, from
// end + 1 onward and wrapping round, receive the second parent's cities in
// its order, skipping those already placed. `placed` is scratch space.
void order_crossover(std::span<const std::size_t> first, std::span<const std::size_t> second, std::size_t start,
                     std::size_t end, std::span<std::size_t> child, std::vector<unsigned char>& placed);

}  // namespace hivekit
