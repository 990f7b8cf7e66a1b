#pragma once

#include <cstdint>

#include "algorithms/result.hpp"
#include "core/bounds.hpp"
#include "core/problem.hpp"

namespace hivekit {

struct MopsoParams {
    std::uint64_t n_particles = 30;
    std::uint64_t n_iterations = 100;
    double w = 0.7;
    double c1 = 1.5;
    double c2 = 1.5;
    double mutation_scale = 0.1;
    std::uint64_t archive_size = 50;
};

// Objective calls of run_mopso.
Evaluations mopso_evaluations(const MopsoParams& params);

Outcome run_mopso(Problem& problem, const Bounds& bounds, const MopsoParams& params, Seed seed);

}  // namespace hivekit
