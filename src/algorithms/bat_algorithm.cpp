#include "algorithms/bat_algorithm.hpp"

namespace hivekit {

Outcome run_bat_algorithm(Problem&, const Bounds&, const BatAlgorithmParams&, Seed) { throw NotImplementedYet(); }

}  // namespace hivekit
