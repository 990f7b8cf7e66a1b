#pragma once

#include <cstdint>

#include "algorithms/result.hpp"
#include "core/bounds.hpp"
#include "core/problem.hpp"

namespace hivekit {

struct GreyWolfParams {
    std::uint64_t n_wolves = 30;
    std::uint64_t n_iterations = 100;
};

// The coefficient a of iteration t (from 0): 2 * (1 - t / max(T - 1, 1)),
// formed as the bracket added to itself; 2 in the first iteration, 0 in the
// last when T >= 2.
double grey_wolf_coefficient(std::uint64_t t, std::uint64_t n_iterations);

// The smallest n_wolves run_grey_wolf accepts.
inline constexpr SizeLimit kGreyWolfSmallest{3, "n_wolves must be at least 3 for grey wolf optimization"};

// Objective calls of run_grey_wolf.
Evaluations grey_wolf_evaluations(const GreyWolfParams& params);

Outcome run_grey_wolf(Problem& problem, const Bounds& bounds, const GreyWolfParams& params, Seed seed);

}  // namespace hivekit
