#include "algorithms/mopso.hpp"

namespace hivekit {

Outcome run_mopso(Problem&, const Bounds&, const MopsoParams&, Seed) { throw NotImplementedYet(); }

}  // namespace hivekit
