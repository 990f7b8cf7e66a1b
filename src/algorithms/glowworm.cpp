#include "algorithms/glowworm.hpp"

namespace hivekit {

Outcome run_glowworm(Problem&, const Bounds&, const GlowwormParams&, Seed) { throw NotImplementedYet(); }

}  // namespace hivekit
