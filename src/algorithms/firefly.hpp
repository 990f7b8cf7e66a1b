#pragma once

#include <cstdint>

#include "algorithms/result.hpp"
#include "core/bounds.hpp"
#include "core/problem.hpp"

namespace hivekit {

struct FireflyParams {
    std::uint64_t n_fireflies = 30;
    std::uint64_t n_iterations = 100;
    double beta0 = 1.0;
    double gamma = 1.0;
    double alpha = 0.2;
};

// The smallest n_fireflies run_firefly accepts.
inline constexpr SizeLimit kFireflySmallest{2, "n_fireflies must be at least 2 for firefly optimization"};

// Objective calls of run_firefly.
Evaluations firefly_evaluations(const FireflyParams& params);

Outcome run_firefly(Problem& problem, const Bounds& bounds, const FireflyParams& params, Seed seed);

}  // namespace hivekit
