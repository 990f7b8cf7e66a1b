#include "algorithms/grey_wolf.hpp"

namespace hivekit {

Outcome run_grey_wolf(Problem&, const Bounds&, const GreyWolfParams&, Seed) { throw NotImplementedYet(); }

}  // namespace hivekit
