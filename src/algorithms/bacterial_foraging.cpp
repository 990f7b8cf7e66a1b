#include "algorithms/bacterial_foraging.hpp"

namespace hivekit {

Outcome run_bacterial_foraging(Problem&, const Bounds&, const BacterialForagingParams&, Seed) { throw NotImplementedYet(); }

}  // namespace hivekit
