// The search box of the continuous optimisers.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

namespace hivekit {

class Bounds {
public:
    // The box, or the message of the first violated rule: equal lengths, then
    // lower[i] <= upper[i] at each index (a NaN limit passes).
    static std::variant<Bounds, std::string> make(std::vector<double> lower, std::vector<double> upper);

    std::size_t dimension() const { return lower_.size(); }
    const std::vector<double>& lower() const { return lower_; }
    const std::vector<double>& upper() const { return upper_; }

    // Why the box cannot be searched, or nothing: the first non-finite limit
    // (lower before upper at each index), then the first side whose width
    // upper[i] - lower[i] overflows. Every body draws lower + u * width, so
    // either would turn each candidate into inf or NaN.
    std::optional<std::string> unsearchable() const;

    std::vector<double> centre() const;

    // Raises each coordinate to its lower limit, then lowers it to its upper
    // limit; a NaN coordinate ends at the lower limit. The position must have
    // exactly the box's dimension.
    void clip(std::span<double> position) const;

private:
    Bounds(std::vector<double> lower, std::vector<double> upper)
        : lower_(std::move(lower)), upper_(std::move(upper)) {}

    std::vector<double> lower_;
    std::vector<double> upper_;
};

}  // namespace hivekit
