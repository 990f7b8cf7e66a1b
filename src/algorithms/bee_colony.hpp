#pragma once

#include <cstdint>

#include "algorithms/result.hpp"
#include "core/bounds.hpp"
#include "core/problem.hpp"

namespace hivekit {

struct BeeColonyParams {
    std::uint64_t n_bees = 50;
    std::uint64_t n_iterations = 100;
    std::uint64_t limit = 10;
};

// Objective calls of run_bee_colony.
Evaluations bee_colony_evaluations(const BeeColonyParams& params);

Outcome run_bee_colony(Problem& problem, const Bounds& bounds, const BeeColonyParams& params, Seed seed);

}  // namespace hivekit
