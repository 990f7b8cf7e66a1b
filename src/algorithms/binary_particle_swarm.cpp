#include "algorithms/binary_particle_swarm.hpp"

namespace hivekit {

Outcome run_binary_particle_swarm(Problem&, const Bounds&, const BinaryParticleSwarmParams&, Seed) { throw NotImplementedYet(); }

}  // namespace hivekit
