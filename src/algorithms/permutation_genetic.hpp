#pragma once

#include <cstdint>

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

Outcome run_permutation_genetic(Problem& problem, const PermutationGeneticParams& params, Seed seed);

}  // namespace hivekit
