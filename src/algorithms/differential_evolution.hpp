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

// The smallest n_individuals run_differential_evolution accepts.
inline constexpr SizeLimit kDifferentialEvolutionSmallest{
    4, "n_individuals must be at least 4 for differential evolution"};

// Objective calls of run_differential_evolution.
Evaluations differential_evolution_evaluations(const DifferentialEvolutionParams& params);

Outcome run_differential_evolution(Problem& problem, const Bounds& bounds, const DifferentialEvolutionParams& params, Seed seed);

}  // namespace hivekit
