#pragma once

#include <cstdint>

#include "algorithms/result.hpp"
#include "core/bounds.hpp"
#include "core/problem.hpp"

namespace hivekit {

struct DifferentialEvolutionParams {
    std::uint64_t n_individuals = 40;
    std::uint64_t n_iterations = 100;
    double f = 0.8;
    double cr = 0.9;
};

Outcome run_differential_evolution(Problem& problem, const Bounds& bounds, const DifferentialEvolutionParams& params, Seed seed);

}  // namespace hivekit
