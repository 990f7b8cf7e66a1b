#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

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

// For each member k of the population rebuilt by reproduction, the rank (in
// ascending value order) of the bacterium it copies: k mod max(n / 2, 1).
std::vector<std::size_t> bacterial_reproduction_ranks(std::size_t n);

// n_reproduction_steps is carried for get_params only: reproduction runs once
// per iteration.
// The smallest n_bacteria run_bacterial_foraging accepts.
inline constexpr SizeLimit kBacterialForagingSmallest{2, "n_bacteria must be at least 2 for bacterial foraging"};

// Objective calls of run_bacterial_foraging.
Evaluations bacterial_foraging_evaluations(const BacterialForagingParams& params);

Outcome run_bacterial_foraging(Problem& problem, const Bounds& bounds, const BacterialForagingParams& params,
                               Seed seed);

}  // namespace hivekit
