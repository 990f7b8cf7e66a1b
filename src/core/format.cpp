#include "core/format.hpp"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <system_error>

namespace hivekit {

std::string format_number(double value) {
    if (std::isnan(value)) return "NaN";
    if (std::isinf(value)) return value > 0 ? "inf" : "-inf";

    // Shortest round-trip digits in scientific form, then re-laid without exponent.
    char buf[64];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific);
    (void)ec;
    std::string sci(buf, end);
    bool negative = sci[0] == '-';
    if (negative) sci.erase(0, 1);
    auto e_pos = sci.find('e');
    int exponent = std::atoi(sci.c_str() + e_pos + 1);
    std::string digits;
    for (std::size_t i = 0; i < e_pos; ++i)
        if (sci[i] != '.') digits.push_back(sci[i]);

    // digits d0 d1 d2 ... represent d0.d1d2... x 10^exponent
    std::string out;
    int point = exponent + 1;  // digits before the decimal point
    if (point <= 0) {
        out = "0." + std::string(static_cast<std::size_t>(-point), '0') + digits;
    } else if (static_cast<std::size_t>(point) >= digits.size()) {
        out = digits + std::string(static_cast<std::size_t>(point) - digits.size(), '0');
    } else {
        out = digits.substr(0, static_cast<std::size_t>(point)) + "." + digits.substr(static_cast<std::size_t>(point));
    }
    if (out == "0" && !negative) return out;
    return negative ? "-" + out : out;
}

}  // namespace hivekit
