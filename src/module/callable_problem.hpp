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
//
// An objective that evaluates candidates in batches (the package's Vectorized
// and Parallel, and a Monitor around one) has a method `_hivekit_batch(data,
// n, d)`: `data` is a bytearray of n rows of d doubles, and the method returns
// a list of n results, each read as one plain call's result would be (None or
// anything that is not a number counts as a failed evaluation). Every
// evaluation of such an objective goes through that method, one row at a time
// where a body evaluates one candidate at a time; an exception the method
// raises stops the run, whatever its type, since it reports a broken batch
// rather than one failed evaluation.
class CallableProblem final : public Problem {
public:
    // `batch` is the objective's batch method, or null (borrowed).
    CallableProblem(PyObject* objective, std::size_t dimension, PyObject* batch = nullptr)
        : objective_(objective), batch_(batch), dimension_(dimension) {}

    double evaluate(std::span<const double> position) override;
    void evaluate_objectives(std::span<const double> position, std::vector<double>& out) override;
    void evaluate_batch(std::span<const double> rows, std::span<double> values) override;
    void evaluate_objectives_batch(std::span<const double> rows, std::span<std::vector<double>> out) override;
    bool evaluates_together() const override { return batch_ != nullptr; }
    std::size_t dimension() const override { return dimension_; }
    bool is_discrete() const override { return false; }
    std::string_view name() const override { return "objective"; }
    const DistanceMatrix* distance_matrix() const override { return nullptr; }
    void check_interrupt() override { check_signals(); }

private:
    PyObject* call(std::span<const double> position);
    // Swallows a pending Exception; anything else stops the run.
    void absorb_error();
    // The tuple of results of n rows from the batch method, or a stopped run.
    Ref call_batch(std::span<const double> rows, std::size_t n);

    PyObject* objective_;  // borrowed: the fit call keeps its argument alive
    PyObject* batch_;      // borrowed, likewise; null for a plain objective
    std::size_t dimension_;
};

// The batch method of an objective that has one (a new reference), null
// without an error for any other objective, null with an error set when
// looking it up failed.
PyObject* batch_method(PyObject* objective);

// Reads a number the way an evaluation does; false with the error set otherwise.
bool number_from_result(PyObject* result, double& out);

// Raises the exception that stopped a run (held as pending) and throws
// EvaluationAborted, so the engine unwinds.
[[noreturn]] void abort_run();


}  // namespace hivekit::py
