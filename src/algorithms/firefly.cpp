#include "algorithms/firefly.hpp"

namespace hivekit {

Outcome run_firefly(Problem&, const Bounds&, const FireflyParams&, Seed) { throw NotImplementedYet(); }

}  // namespace hivekit
