// Objectives written in C: a function address called by the engine directly,
// without the interpreter, and the problem that lets a fit run unlocked.
#pragma once

#include "module/py_ref.hpp"

#include <chrono>
#include <cstddef>
#include <optional>
#include <span>

#include "core/problem.hpp"
#include "core/threads.hpp"
#include "core/objectives.hpp"
#include "module/interrupt_gate.hpp"

namespace hivekit::py {

// What a native objective calls: one value (`scalar`, when n_objectives is 0)
// or n_objectives values written to an output array (`vector`, 0 on success).
struct NativeFunction {
    objectives::Scalar scalar = nullptr;
    objectives::Vector vector = nullptr;
    void* data = nullptr;
    std::size_t n_objectives = 0;
    std::optional<std::size_t> dimension;  // the only length the function accepts, when declared
};

// The function of a native objective object, or null for any other object.
const NativeFunction* native_function(PyObject* obj);

// The probe call of a fit with a native objective, made with the lock held:
// false with a Python exception set when the objective cannot serve a fit of
// this kind (one value against several), refuses the box's dimension, or
// fails at `point`.
bool probe_native(const NativeFunction& fn, std::span<const double> point, bool objectives);

// Evaluates the function directly. The fit runs with the interpreter lock
// released (an Unlocked of gate() around the body), and the gate takes it back
// about every millisecond of work to let a pending Ctrl-C stop the run.
class NativeProblem final : public Problem {
public:
    NativeProblem(const NativeFunction& fn, std::size_t dimension);

    double evaluate(std::span<const double> position) override {
        tick();
        return fn_.scalar(position.data(), position.size(), fn_.data);
    }
    void evaluate_objectives(std::span<const double> position, std::vector<double>& out) override;
    // With more than one engine thread, the rows of a batch are spread over
    // them; each row's value is the function's alone, so the values are those
    // of calls made one by one.
    void evaluate_batch(std::span<const double> rows, std::span<double> values) override;
    void evaluate_objectives_batch(std::span<const double> rows, std::span<std::vector<double>> out) override;
    bool evaluates_together() const override { return threads::count() > 1; }
    std::size_t dimension() const override { return dimension_; }
    bool is_discrete() const override { return false; }
    std::string_view name() const override { return "objective"; }
    const DistanceMatrix* distance_matrix() const override { return nullptr; }
    void check_interrupt() override { gate_.check(); }

    InterruptGate& gate() { return gate_; }

private:
    using Clock = std::chrono::steady_clock;

    void tick() {
        if (--countdown_ == 0) poll();
    }
    void poll();

    NativeFunction fn_;
    std::size_t dimension_;
    InterruptGate gate_;
    // Evaluations between two clock readings, adapted so that the readings
    // fall a fraction of a millisecond apart whatever an evaluation costs.
    std::size_t stride_ = 1;
    std::size_t countdown_ = 1;
    Clock::time_point last_poll_;
};

// Adds the NativeObjective type and the factory of the built-in objectives.
bool add_native_objective(PyObject* module);

}  // namespace hivekit::py
