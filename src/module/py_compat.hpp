// The few C API functions the extension uses that are younger than the oldest
// CPython it supports (3.11), written for the interpreters that lack them, in
// terms of the older calls CPython itself implements them with.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#if PY_VERSION_HEX < 0x030C0000
// 3.12: the raised exception as one object. The fetched triple is normalised to
// an instance that carries its traceback, as 3.12 stores the raised exception.
inline PyObject* PyErr_GetRaisedException() {
    PyObject* type = nullptr;
    PyObject* value = nullptr;
    PyObject* traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    PyErr_NormalizeException(&type, &value, &traceback);
    if (traceback && value && PyException_SetTraceback(value, traceback) < 0) PyErr_Clear();
    Py_XDECREF(type);
    Py_XDECREF(traceback);
    return value;
}

// 3.12: raises exc (a new reference it takes over); null clears the indicator.
inline void PyErr_SetRaisedException(PyObject* exc) {
    if (!exc) {
        PyErr_Clear();
        return;
    }
    PyErr_Restore(Py_NewRef(reinterpret_cast<PyObject*>(Py_TYPE(exc))), exc, PyException_GetTraceback(exc));
}
#endif
