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

Outcome run_bat_algorithm(Problem& problem, const Bounds& bounds, const BatAlgorithmParams& params, Seed seed);

}  // namespace hivekit
