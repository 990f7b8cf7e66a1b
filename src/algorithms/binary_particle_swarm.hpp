#pragma once

#include <cstdint>

#include "algorithms/result.hpp"
#include "core/bounds.hpp"
#include "core/problem.hpp"

namespace hivekit {

struct BinaryParticleSwarmParams {
    std::uint64_t n_particles = 30;
    std::uint64_t n_iterations = 100;
    double w = 0.7;
    double c1 = 1.5;
    double c2 = 1.5;
};

// Objective calls of run_binary_particle_swarm.
Evaluations binary_particle_swarm_evaluations(const BinaryParticleSwarmParams& params);

Outcome run_binary_particle_swarm(Problem& problem, const Bounds& bounds, const BinaryParticleSwarmParams& params, Seed seed);

}  // namespace hivekit
