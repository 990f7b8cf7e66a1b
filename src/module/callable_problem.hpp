// The Python objective seen through the engine's problem interface.
#pragma once

#include "module/py_ref.hpp"

#include "core/problem.hpp"

namespace hivekit::py {

// Lets Ctrl-C stop a long computation that calls no Python code: when a signal
// handler has raised, the run unwinds and the caller sees KeyboardInterrupt.
void check_signals();

// Calls the objective with a new list of floats per evaluation. Exceptions of
// the objective and results that are not numbers count as +infinity; an
// exception outside the Exception hierarchy (KeyboardInterrupt, SystemExit)
// is kept and stops the run by EvaluationAborted, and so does a Ctrl-C seen
// between evaluations.
class CallableProblem final : public Problem {
public:
    CallableProblem(PyObject* objective, std::size_t dimension) : objective_(objective), dimension_(dimension) {}

    double evaluate(std::span<const double> position) override;
    void evaluate_objectives(std::span<const double> position, std::vector<double>& out) override;
    std::size_t dimension() const override { return dimension_; }
    bool is_discrete() const override { return false; }
    std::string_view name() const override { return "objective"; }
    const DistanceMatrix* distance_matrix() const override { return nullptr; }
    void check_interrupt() override { check_signals(); }

private:
    PyObject* call(std::span<const double> position);
    // Swallows a pending Exception; anything else stops the run.
    void absorb_error();

    PyObject* objective_;  // borrowed: the fit call keeps its argument alive
    std::size_t dimension_;
};

// Reads a number the way an evaluation does; false with the error set otherwise.
bool number_from_result(PyObject* result, double& out);

// Raises the exception that stopped a run (held as pending) and throws
// EvaluationAborted, so the engine unwinds.
[[noreturn]] void abort_run();


}  // namespace hivekit::py
