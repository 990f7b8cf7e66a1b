// A square matrix of doubles stored row by row; D(a, b) is the cost from a to b.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

namespace hivekit {

class DistanceMatrix {
public:
    DistanceMatrix() = default;
    // Takes n*n values row by row.
    DistanceMatrix(std::size_t n, std::vector<double> values) : n_(n), values_(std::move(values)) {}

    std::size_t size() const { return n_; }
    double operator()(std::size_t from, std::size_t to) const { return values_[from * n_ + to]; }
    std::span<const double> row(std::size_t from) const { return {values_.data() + from * n_, n_}; }

private:
    std::size_t n_ = 0;
    std::vector<double> values_;
};

}  // namespace hivekit
