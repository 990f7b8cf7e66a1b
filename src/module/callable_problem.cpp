#include "module/callable_problem.hpp"

#include <limits>

#include "core/error.hpp"
#include "module/convert.hpp"

namespace hivekit::py {

namespace {
constexpr double kInfinity = std::numeric_limits<double>::infinity();
}

bool number_from_result(PyObject* result, double& out) { return to_real(result, out); }

void abort_run() { throw EvaluationAborted(); }

void check_signals() {
    if (PyErr_CheckSignals() < 0) abort_run();
}

PyObject* CallableProblem::call(std::span<const double> position) {
    Ref args(float_list(position.data(), position.size()));
    if (!args) abort_run();  // no memory for the argument: not the objective's failure
    return PyObject_CallOneArg(objective_, args.get());
}

void CallableProblem::absorb_error() {
    if (PyErr_ExceptionMatches(PyExc_Exception)) {
        PyErr_Clear();
        return;
    }
    abort_run();
}

// An objective written in C (a builtin such as sum) runs no bytecode, so the
// interpreter never acts on a pending Ctrl-C inside it; every evaluation
// therefore looks for one itself, after the objective has returned or failed.
double CallableProblem::evaluate(std::span<const double> position) {
    Ref result(call(position));
    double value;
    if (!result || !number_from_result(result.get(), value)) {
        absorb_error();
        value = kInfinity;
    }
    check_signals();
    return value;
}

void CallableProblem::evaluate_objectives(std::span<const double> position, std::vector<double>& out) {
    Ref result(call(position));
    std::optional<std::vector<double>> values;
    if (result) values = to_double_vector(result.get());
    if (values) {
        out = std::move(*values);
    } else {
        absorb_error();
        out.assign(1, kInfinity);
    }
    check_signals();
}

}  // namespace hivekit::py
