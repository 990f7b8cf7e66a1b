// Shared by the tour optimiser tests: random plane instances and a tour
// problem that counts what the optimiser asks of it.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "core/error.hpp"
#include "core/tour_problem.hpp"

namespace tour_fixtures {

// Euclidean distances between points of the plane.
inline hivekit::DistanceMatrix euclidean(const std::vector<std::pair<double, double>>& points) {
    const std::size_t n = points.size();
    std::vector<double> flat(n * n);
    for (std::size_t a = 0; a < n; ++a)
        for (std::size_t b = 0; b < n; ++b)
            flat[a * n + b] = std::hypot(points[a].first - points[b].first, points[a].second - points[b].second);
    return hivekit::DistanceMatrix(n, std::move(flat));
}

// Euclidean distances between n random points of the unit square.
inline hivekit::DistanceMatrix random_plane(std::size_t n, std::uint64_t seed) {
    std::mt19937_64 gen(seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::vector<std::pair<double, double>> points(n);
    for (auto& p : points) p = {unit(gen), unit(gen)};
    return euclidean(points);
}

// A tour problem that counts evaluations and interrupt checks; its first
// `nan_evaluations` evaluations answer NaN, and check number `stop_at_check`
// stops the run.
class CountingTour : public hivekit::Problem {
public:
    explicit CountingTour(hivekit::DistanceMatrix d) : inner_(std::move(d)) {}

    double evaluate(std::span<const double> position) override {
        ++evaluations;
        if (evaluations <= nan_evaluations) return std::numeric_limits<double>::quiet_NaN();
        return inner_.evaluate(position);
    }
    std::size_t dimension() const override { return inner_.dimension(); }
    bool is_discrete() const override { return true; }
    std::string_view name() const override { return "tsp"; }
    const hivekit::DistanceMatrix* distance_matrix() const override { return inner_.distance_matrix(); }
    void check_interrupt() override {
        if (++checks == stop_at_check) throw hivekit::EvaluationAborted();
    }

    std::size_t evaluations = 0;
    std::size_t nan_evaluations = 0;
    std::size_t checks = 0;
    std::size_t stop_at_check = 0;

private:
    hivekit::TourProblem inner_;
};

}  // namespace tour_fixtures
