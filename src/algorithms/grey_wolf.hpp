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

Outcome run_grey_wolf(Problem& problem, const Bounds& bounds, const GreyWolfParams& params, Seed seed);

}  // namespace hivekit
