#include "core/tour_problem.hpp"

#include <cstdint>
#include <limits>

namespace hivekit {

std::size_t city_index(double value) {
    if (!(value > 0.0)) return 0;  // negative, zero and NaN
    if (value >= 18446744073709551616.0) return std::numeric_limits<std::size_t>::max();
    return static_cast<std::size_t>(value);
}

double TourProblem::evaluate(std::span<const double> position) {
    const std::size_t m = position.size();
    const std::size_t n = matrix_.size();
    double total = 0.0;
    for (std::size_t k = 0; k < m; ++k) {
        std::size_t a = city_index(position[k]);
        std::size_t b = city_index(position[k + 1 == m ? 0 : k + 1]);
        if (a >= n || b >= n) return std::numeric_limits<double>::infinity();
        total += matrix_(a, b);
    }
    return total;
}

}  // namespace hivekit
