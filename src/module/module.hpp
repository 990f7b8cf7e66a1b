// Pieces of the module that its parts share.
#pragma once

#include "module/py_ref.hpp"

#include <new>
#include <utility>

namespace hivekit::py {

// The exception type of internal faults (derives from BaseException).
extern PyObject* EngineFault;

// Sets the Python exception for the C++ exception being handled: a stopped
// run keeps the objective's exception, allocation failures become
// MemoryError, broken invariants EngineFault. Call it only inside a catch.
void raise_caught() noexcept;

// Runs an engine call, turning what it throws into a Python exception (see
// raise_caught). False when it failed. The body is called where it is: held
// as a std::function it could need an allocation before the try, and that
// failure would escape.
template <class Body>
bool run_guarded(Body&& body) noexcept {
    try {
        std::forward<Body>(body)();
        return true;
    } catch (...) {
        raise_caught();
        return false;
    }
}

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
