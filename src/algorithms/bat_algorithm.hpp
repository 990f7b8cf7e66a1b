#pragma once

#include <cstdint>

#include "algorithms/result.hpp"
#include "core/bounds.hpp"
#include "core/problem.hpp"

namespace hivekit {

struct BatAlgorithmParams {
    std::uint64_t n_bats = 30;
    std::uint64_t n_iterations = 100;
    double fmin = 0.0;
    double fmax = 2.0;
    double alpha = 0.9;
    double gamma = 0.9;
    double loudness = 1.0;
    double pulse_rate = 0.5;
};

// The smallest n_bats run_bat_algorithm accepts.
inline constexpr SizeLimit kBatAlgorithmSmallest{2, "n_bats must be at least 2 for bat algorithm"};

// Objective calls of run_bat_algorithm.
Evaluations bat_algorithm_evaluations(const BatAlgorithmParams& params);

Outcome run_bat_algorithm(Problem& problem, const Bounds& bounds, const BatAlgorithmParams& params, Seed seed);

}  // namespace hivekit
