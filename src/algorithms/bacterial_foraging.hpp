#pragma once

#include <cstdint>

#include "algorithms/result.hpp"
#include "core/bounds.hpp"
#include "core/problem.hpp"

namespace hivekit {

struct BacterialForagingParams {
    std::uint64_t n_bacteria = 30;
    std::uint64_t n_iterations = 100;
    std::uint64_t n_chemotactic_steps = 10;
    std::uint64_t n_reproduction_steps = 4;
    double elimination_probability = 0.25;
    double step_scale = 0.1;
};

Outcome run_bacterial_foraging(Problem& problem, const Bounds& bounds, const BacterialForagingParams& params, Seed seed);

}  // namespace hivekit
