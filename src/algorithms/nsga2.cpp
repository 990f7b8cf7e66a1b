#include "algorithms/nsga2.hpp"

namespace hivekit {

Outcome run_nsga2(Problem&, const Bounds&, const Nsga2Params&, Seed) { throw NotImplementedYet(); }

}  // namespace hivekit
