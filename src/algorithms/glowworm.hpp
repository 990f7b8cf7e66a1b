#pragma once

#include <cstdint>

#include "algorithms/result.hpp"
#include "core/bounds.hpp"
#include "core/problem.hpp"

namespace hivekit {

struct GlowwormParams {
    std::uint64_t n_worms = 30;
    std::uint64_t n_iterations = 100;
    double luciferin_decay = 0.4;
    double luciferin_enhancement = 0.6;
    double step_size = 0.1;
    double neighborhood_radius = 1.0;
};

// The smallest n_worms run_glowworm accepts.
inline constexpr SizeLimit kGlowwormSmallest{2, "n_worms must be at least 2 for glowworm optimization"};

// Objective calls of run_glowworm.
Evaluations glowworm_evaluations(const GlowwormParams& params);

Outcome run_glowworm(Problem& problem, const Bounds& bounds, const GlowwormParams& params, Seed seed);

}  // namespace hivekit
