#include "algorithms/bee_colony.hpp"

namespace hivekit {

Outcome run_bee_colony(Problem&, const Bounds&, const BeeColonyParams&, Seed) { throw NotImplementedYet(); }

}  // namespace hivekit
