// The module-level tour function.
#include "module/module.hpp"

namespace hivekit::py {

PyObject* two_opt(PyObject*, PyObject* const*, Py_ssize_t, PyObject*) {
    PyErr_SetString(PyExc_NotImplementedError, "two_opt is not implemented yet");
    return nullptr;
}

}  // namespace hivekit::py
