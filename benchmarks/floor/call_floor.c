/* The least any library must do per objective evaluation: build a fresh list of
   d new floats, call the objective with it, read the result as a double. */
#define PY_SSIZE_T_CLEAN
#include <Python.h>

static PyObject *run(PyObject *self, PyObject *args) {
    PyObject *objective;
    Py_ssize_t calls, d;
    if (!PyArg_ParseTuple(args, "Onn", &objective, &calls, &d)) return NULL;
    double total = 0.0;
    for (Py_ssize_t c = 0; c < calls; ++c) {
        PyObject *list = PyList_New(d);
        if (!list) return NULL;
        for (Py_ssize_t j = 0; j < d; ++j) {
            PyObject *item = PyFloat_FromDouble((double)(c + j) * 1e-3);
            if (!item) {
                Py_DECREF(list);
                return NULL;
            }
            PyList_SET_ITEM(list, j, item);
        }
        PyObject *result = PyObject_CallOneArg(objective, list);
        Py_DECREF(list);
        if (!result) return NULL;
        double value = PyFloat_AsDouble(result);
        Py_DECREF(result);
        if (value == -1.0 && PyErr_Occurred()) return NULL;
        total += value;
    }
    return PyFloat_FromDouble(total);
}

static PyMethodDef methods[] = {{"run", run, METH_VARARGS, NULL}, {NULL, NULL, 0, NULL}};
static struct PyModuleDef module = {PyModuleDef_HEAD_INIT, "call_floor", NULL, -1, methods};
PyMODINIT_FUNC PyInit_call_floor(void) { return PyModule_Create(&module); }
