#include "core/bounds.hpp"

#include <cmath>

#include "core/error.hpp"
#include "core/format.hpp"
#include "core/numeric.hpp"

namespace hivekit {

std::variant<Bounds, std::string> Bounds::make(std::vector<double> lower, std::vector<double> upper) {
    if (lower.size() != upper.size()) return std::string("Lower and upper bounds must have the same length");
    for (std::size_t i = 0; i < lower.size(); ++i) {
        if (lower[i] > upper[i]) {
            return "Lower bound " + format_number(lower[i]) + " > upper bound " + format_number(upper[i]) +
                   " at index " + std::to_string(i);
        }
    }
    return Bounds(std::move(lower), std::move(upper));
}

std::optional<std::string> Bounds::unsearchable() const {
    const auto limit = [](const char* side, std::size_t i, double v) {
        return "Bounds must be finite: " + std::string(side) + "[" + std::to_string(i) + "] is " + format_number(v);
    };
    for (std::size_t i = 0; i < lower_.size(); ++i) {
        if (!std::isfinite(lower_[i])) return limit("lower", i, lower_[i]);
        if (!std::isfinite(upper_[i])) return limit("upper", i, upper_[i]);
    }
    for (std::size_t i = 0; i < lower_.size(); ++i) {
        if (!std::isfinite(upper_[i] - lower_[i])) {
            const std::string k = std::to_string(i);
            return "Bounds are too wide: upper[" + k + "] - lower[" + k + "] overflows";
        }
    }
    return std::nullopt;
}

std::vector<double> Bounds::centre() const {
    std::vector<double> c(lower_.size());
    for (std::size_t i = 0; i < c.size(); ++i) c[i] = (lower_[i] + upper_[i]) * 0.5;
    return c;
}

void Bounds::clip(std::span<double> position) const {
    if (position.size() > lower_.size()) throw InternalFault("position longer than the search box");
    for (std::size_t i = 0; i < position.size(); ++i)
        position[i] = min_num(max_num(position[i], lower_[i]), upper_[i]);
}

}  // namespace hivekit
