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

PyObject* batch_method(PyObject* objective) {
    PyObject* method = PyObject_GetAttrString(objective, "_hivekit_batch");
    if (!method) {
        if (PyErr_ExceptionMatches(PyExc_AttributeError)) PyErr_Clear();
        return nullptr;
    }
    if (!PyCallable_Check(method)) Py_CLEAR(method);
    return method;
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
Ref CallableProblem::call_batch(std::span<const double> rows, std::size_t n) {
    const std::size_t d = n ? rows.size() / n : 0;
    Ref data(PyByteArray_FromStringAndSize(reinterpret_cast<const char*>(rows.data()),
                                           static_cast<Py_ssize_t>(rows.size() * sizeof(double))));
    if (!data) abort_run();
    Ref result(PyObject_CallFunction(batch_, "Onn", data.get(), static_cast<Py_ssize_t>(n),
                                     static_cast<Py_ssize_t>(d)));
    if (!result) abort_run();
    if (!PyList_CheckExact(result.get()) || PyList_GET_SIZE(result.get()) != static_cast<Py_ssize_t>(n)) {
        PyErr_Format(PyExc_TypeError, "_hivekit_batch must return a list of %zu results, not '%.200s'", n,
                     Py_TYPE(result.get())->tp_name);
        abort_run();
    }
    // A tuple cannot change while its items are converted (a conversion may run Python code).
    Ref items(PyList_AsTuple(result.get()));
    if (!items) abort_run();
    return items;
}

void CallableProblem::evaluate_batch(std::span<const double> rows, std::span<double> values) {
    if (!batch_) return Problem::evaluate_batch(rows, values);
    if (values.empty()) return;
    Ref results = call_batch(rows, values.size());
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (!number_from_result(PyTuple_GET_ITEM(results.get(), static_cast<Py_ssize_t>(i)), values[i])) {
            absorb_error();
            values[i] = kInfinity;
        }
    }
    check_signals();
}

void CallableProblem::evaluate_objectives_batch(std::span<const double> rows, std::span<std::vector<double>> out) {
    if (!batch_) return Problem::evaluate_objectives_batch(rows, out);
    if (out.empty()) return;
    Ref results = call_batch(rows, out.size());
    for (std::size_t i = 0; i < out.size(); ++i) {
        auto values = to_double_vector(PyTuple_GET_ITEM(results.get(), static_cast<Py_ssize_t>(i)));
        if (values) {
            out[i] = std::move(*values);
        } else {
            absorb_error();
            out[i].assign(1, kInfinity);
        }
    }
    check_signals();
}

double CallableProblem::evaluate(std::span<const double> position) {
    if (batch_) {
        double value;
        evaluate_batch(position, {&value, 1});
        return value;
    }
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
    if (batch_) return evaluate_objectives_batch(position, {&out, 1});
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
