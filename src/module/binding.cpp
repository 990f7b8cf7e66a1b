#include "module/binding.hpp"

#include <string>

#include "module/module.hpp"

namespace hivekit::py {

namespace {

bool place_keyword(const char* callable, std::span<const char* const> names, PyObject* key, PyObject* value,
                   PyObject** out) {
    if (!PyUnicode_Check(key)) {
        PyErr_Format(PyExc_TypeError, "%s() keywords must be strings", callable);
        return false;
    }
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (PyUnicode_CompareWithASCIIString(key, names[i]) == 0) {
            if (out[i]) {
                PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument '%s'", callable, names[i]);
                return false;
            }
            out[i] = value;
            return true;
        }
    }
    PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'", callable, key);
    return false;
}

bool check_positional(const char* callable, std::size_t n_params, std::size_t n_required, Py_ssize_t given) {
    if (static_cast<std::size_t>(given) <= n_params) return true;
    if (n_required == n_params) {
        PyErr_Format(PyExc_TypeError, "%s() takes %zu positional argument%s but %zd were given", callable, n_params,
                     n_params == 1 ? "" : "s", given);
    } else {
        PyErr_Format(PyExc_TypeError, "%s() takes from %zu to %zu positional arguments but %zd were given", callable,
                     n_required, n_params, given);
    }
    return false;
}

bool check_required(const char* callable, std::span<const char* const> names, std::size_t n_required,
                    PyObject** out) {
    std::size_t missing = 0;
    std::string list;
    for (std::size_t i = 0; i < n_required; ++i) {
        if (out[i]) continue;
        ++missing;
    }
    if (missing == 0) return true;
    const bool listed = run_guarded([&] {
        std::size_t seen = 0;
        for (std::size_t i = 0; i < n_required; ++i) {
            if (out[i]) continue;
            ++seen;
            if (seen > 1) list += (seen == missing) ? (missing > 2 ? ", and " : " and ") : ", ";
            list.append(1, '\'').append(names[i]).append(1, '\'');
        }
    });
    if (!listed) return false;
    PyErr_Format(PyExc_TypeError, "%s() missing %zu required positional argument%s: %s", callable, missing,
                 missing == 1 ? "" : "s", list.c_str());
    return false;
}

}  // namespace

bool bind_fast(const char* callable, std::span<const char* const> names, std::size_t n_required,
               PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames, PyObject** out) {
    Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
    for (std::size_t i = 0; i < names.size(); ++i) out[i] = nullptr;
    if (!check_positional(callable, names.size(), n_required, nargs)) return false;
    for (Py_ssize_t i = 0; i < nargs; ++i) out[i] = args[i];
    if (kwnames) {
        Py_ssize_t nkw = PyTuple_GET_SIZE(kwnames);
        for (Py_ssize_t k = 0; k < nkw; ++k)
            if (!place_keyword(callable, names, PyTuple_GET_ITEM(kwnames, k), args[nargs + k], out)) return false;
    }
    return check_required(callable, names, n_required, out);
}

bool bind_tuple(const char* callable, std::span<const char* const> names, std::size_t n_required, PyObject* args,
                PyObject* kwargs, PyObject** out) {
    Py_ssize_t nargs = PyTuple_GET_SIZE(args);
    for (std::size_t i = 0; i < names.size(); ++i) out[i] = nullptr;
    if (!check_positional(callable, names.size(), n_required, nargs)) return false;
    for (Py_ssize_t i = 0; i < nargs; ++i) out[i] = PyTuple_GET_ITEM(args, i);
    if (kwargs) {
        Py_ssize_t pos = 0;
        PyObject *key, *value;
        while (PyDict_Next(kwargs, &pos, &key, &value))
            if (!place_keyword(callable, names, key, value, out)) return false;
    }
    return check_required(callable, names, n_required, out);
}

}  // namespace hivekit::py
