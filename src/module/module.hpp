// Pieces of the module that its parts share.
#pragma once

#include "module/py_ref.hpp"

#include <functional>
#include <new>

namespace hivekit::py {

// The exception type of internal faults (derives from BaseException).
extern PyObject* EngineFault;

// Runs an engine call, turning what it throws into a Python exception:
// a stopped run re-raises the objective's exception, allocation failures
// become MemoryError, broken invariants EngineFault. False when it failed.
bool run_guarded(const std::function<void()>& body);

// Sets MemoryError for a failed allocation, with the reason when the engine
// refused a working set larger than the machine's memory.
void raise_memory_error(const std::bad_alloc& failure);

// Builds the sixteen estimator types and adds them to the module in order.
bool add_estimator_types(PyObject* module);

// The module-level two_opt(tour, distance_matrix).
PyObject* two_opt(PyObject* self, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames);

// _plane_rows(x, y, rule): the TSPLIB distance matrix of points in the plane
// under the rule "EUC_2D", "CEIL_2D" or "ATT", as a list of lists of floats
// in which equal entries share one float.
PyObject* plane_rows(PyObject* module, PyObject* const* args, Py_ssize_t nargs);

// Registers `value` under `name` after adding the name to __all__ (steals value).
bool add_public(PyObject* module, const char* name, PyObject* value);

}  // namespace hivekit::py
