#pragma once

#include <cstdint>

#include "algorithms/result.hpp"
#include "core/bounds.hpp"
#include "core/problem.hpp"

namespace hivekit {

struct SimulatedAnnealingParams {
    double initial_temperature = 10.0;
    double cooling_rate = 0.95;
    double step_scale = 0.1;
    std::uint64_t n_iterations = 100;
};

// Objective calls of run_simulated_annealing.
Evaluations simulated_annealing_evaluations(const SimulatedAnnealingParams& params);

Outcome run_simulated_annealing(Problem& problem, const Bounds& bounds, const SimulatedAnnealingParams& params, Seed seed);

}  // namespace hivekit
