#pragma once

#include <string>

namespace hivekit {

// Shortest round-trip decimal form of a double without exponent: 1.0 -> "1",
// 1e-4 -> "0.0001", 1e21 -> "1000000000000000000000", -0.0 -> "-0",
// NaN -> "NaN", infinities -> "inf" / "-inf".
std::string format_number(double value);

}  // namespace hivekit
