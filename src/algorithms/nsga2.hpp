#pragma once

#include <cstdint>

#include "algorithms/result.hpp"
#include "core/bounds.hpp"
#include "core/problem.hpp"

namespace hivekit {

struct Nsga2Params {
    std::uint64_t n_individuals = 40;
    std::uint64_t n_iterations = 100;
    double crossover_rate = 0.9;
    double mutation_rate = 0.1;
    double mutation_scale = 0.1;
    std::uint64_t archive_size = 50;
};

// Objective calls of run_nsga2.
Evaluations nsga2_evaluations(const Nsga2Params& params);

Outcome run_nsga2(Problem& problem, const Bounds& bounds, const Nsga2Params& params, Seed seed);

}  // namespace hivekit
