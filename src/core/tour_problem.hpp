// A closed-tour problem over a validated distance matrix.
#pragma once

#include <functional>
#include <string_view>
#include <utility>

#include "core/problem.hpp"

namespace hivekit {

class TourProblem final : public Problem {
public:
    // `interrupt_check` is called by check_interrupt(); it may throw EvaluationAborted.
    explicit TourProblem(DistanceMatrix matrix, std::function<void()> interrupt_check = {})
        : matrix_(std::move(matrix)), interrupt_check_(std::move(interrupt_check)) {}

    // Closed length of the tour whose entries are city numbers held in doubles,
    // each truncated toward zero (negative and NaN give 0, values past the
    // index range saturate); +infinity at the first edge leaving the matrix.
    double evaluate(std::span<const double> position) override;
    std::size_t dimension() const override { return matrix_.size(); }
    bool is_discrete() const override { return true; }
    std::string_view name() const override { return "tsp"; }
    const DistanceMatrix* distance_matrix() const override { return &matrix_; }
    void check_interrupt() override {
        if (interrupt_check_) interrupt_check_();
    }

    const DistanceMatrix& matrix() const { return matrix_; }

private:
    DistanceMatrix matrix_;
    std::function<void()> interrupt_check_;
};

// City index of a whole number held in a double (see TourProblem::evaluate).
std::size_t city_index(double value);

}  // namespace hivekit
