#pragma once

#include <cstdint>

#include "algorithms/result.hpp"
#include "core/bounds.hpp"
#include "core/problem.hpp"

namespace hivekit {

struct ParticleSwarmParams {
    std::uint64_t n_particles = 30;
    std::uint64_t n_iterations = 100;
    double w = 0.9;
    double c1 = 2.0;
    double c2 = 2.0;
};

// Objective calls of run_particle_swarm.
Evaluations particle_swarm_evaluations(const ParticleSwarmParams& params);

Outcome run_particle_swarm(Problem& problem, const Bounds& bounds, const ParticleSwarmParams& params, Seed seed);

}  // namespace hivekit
