#include "algorithms/ant_colony.hpp"

namespace hivekit {

Outcome run_ant_colony(Problem&, const AntColonyParams&, Seed) { throw NotImplementedYet(); }

}  // namespace hivekit
