// Module entry: creates _hivekit and registers two_opt and the estimator classes.
#include "module/module.hpp"

#include <cstdint>
#include <iterator>
#include <new>
#include <stdexcept>

#include "algorithms/registry.hpp"
#include "core/error.hpp"
#include "core/memory.hpp"
#include "core/threads.hpp"
#include "module/native_objective.hpp"

namespace hivekit::py {

PyObject* EngineFault = nullptr;

void raise_memory_error(const std::bad_alloc& failure) {
    if (dynamic_cast<const WorkingSetTooLarge*>(&failure))
        PyErr_SetString(PyExc_MemoryError, failure.what());
    else
        PyErr_NoMemory();
}

void raise_caught() noexcept {
    try {
        throw;
    } catch (const EvaluationAborted&) {
        if (!PyErr_Occurred()) PyErr_SetString(PyExc_SystemError, "run stopped without an exception");
    } catch (const std::bad_alloc& failure) {
        raise_memory_error(failure);
    } catch (const std::length_error&) {
        PyErr_NoMemory();
    } catch (const std::exception& fault) {
        PyErr_SetString(EngineFault, fault.what());
    } catch (...) {
        PyErr_SetString(EngineFault, "an unknown exception stopped the engine");
    }
}

bool add_public(PyObject* module, const char* name, PyObject* value) {
    Ref owned(value);
    if (!owned) return false;
    PyObject* all = PyObject_GetAttrString(module, "__all__");
    if (!all) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return false;
        PyErr_Clear();
        all = PyList_New(0);
        if (!all || PyModule_AddObjectRef(module, "__all__", all) < 0) {
            Py_XDECREF(all);
            return false;
        }
    }
    Ref all_ref(all);
    Ref text(PyUnicode_FromString(name));
    if (!text || PyList_Append(all, text.get()) < 0) return false;
    return PyModule_AddObjectRef(module, name, owned.get()) == 0;
}

// _set_threads(n): the engine's threads (at least 1); _get_threads().
constexpr unsigned long long kMaxThreads = 1024;

PyObject* set_threads(PyObject*, PyObject* arg) {
    if (!PyLong_Check(arg) || PyBool_Check(arg)) {
        PyErr_Format(PyExc_TypeError, "the number of threads must be an int, not '%.200s'", Py_TYPE(arg)->tp_name);
        return nullptr;
    }
    int overflow = 0;
    const long long n = PyLong_AsLongLongAndOverflow(arg, &overflow);
    if (n == -1 && PyErr_Occurred()) return nullptr;
    if (overflow || n < 1 || static_cast<unsigned long long>(n) > kMaxThreads) {
        PyErr_Format(PyExc_ValueError, "the number of threads must be between 1 and %llu", kMaxThreads);
        return nullptr;
    }
    threads::set_count(static_cast<std::size_t>(n));
    Py_RETURN_NONE;
}

PyObject* get_threads(PyObject*, PyObject*) { return PyLong_FromSize_t(threads::count()); }

// _over_physical_memory(count, item_bytes): the engine's memory limit for the
// package's own checks. A count beyond the size range exceeds it.
PyObject* over_physical_memory(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    if (nargs != 2) {
        PyErr_Format(PyExc_TypeError, "_over_physical_memory takes 2 arguments, got %zd", nargs);
        return nullptr;
    }
    std::size_t sizes[2];
    for (int k : {0, 1}) {
        if (!PyLong_Check(args[k])) {
            PyErr_Format(PyExc_TypeError, "expected an int, not '%.200s'", Py_TYPE(args[k])->tp_name);
            return nullptr;
        }
        int overflow = 0;
        const long long value = PyLong_AsLongLongAndOverflow(args[k], &overflow);
        if (value == -1 && PyErr_Occurred()) return nullptr;
        if (overflow < 0 || (overflow == 0 && value < 0)) {
            PyErr_SetString(PyExc_ValueError, "sizes must not be negative");
            return nullptr;
        }
        if (overflow > 0) {
            if (k == 0) return PyLong_FromSize_t(physical_memory_bytes());
            sizes[k] = SIZE_MAX;
        } else {
            sizes[k] = static_cast<std::size_t>(value);
        }
    }
    if (exceeds_resident(sizes[0], sizes[1])) return PyLong_FromSize_t(physical_memory_bytes());
    Py_RETURN_NONE;
}

PyMethodDef kFunctions[] = {
    {"two_opt", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(two_opt)), METH_FASTCALL | METH_KEYWORDS,
     "two_opt(tour, distance_matrix)\n--\n\n"},
    {"_plane_rows", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(plane_rows)), METH_FASTCALL,
     "_plane_rows(x, y, rule, /)\n--\n\nThe TSPLIB distance matrix of points in the plane under the rule "
     "\"EUC_2D\", \"CEIL_2D\" or \"ATT\", equal entries sharing one float object."},
    {"_set_threads", set_threads, METH_O, "_set_threads(n, /)\n--\n\nSets the number of the engine's threads."},
    {"_get_threads", get_threads, METH_NOARGS, "_get_threads()\n--\n\nThe number of the engine's threads."},
    {"_over_physical_memory", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(over_physical_memory)),
     METH_FASTCALL,
     "_over_physical_memory(count, item_bytes, /)\n--\n\nThe bytes of physical memory when count items of "
     "item_bytes bytes exceed them, else None."},
    {nullptr, nullptr, 0, nullptr},
};

// Adds two_opt, then the estimator classes in order, stopping at the first failure.
int exec_module(PyObject* module) {
    if (PyInterpreterState_Get() != PyInterpreterState_Main()) {
        PyErr_SetString(PyExc_ImportError, "hivekit._hivekit cannot be loaded in a sub-interpreter");
        return -1;
    }
    if (!EngineFault) {
        EngineFault = PyErr_NewExceptionWithDoc("hivekit._hivekit.EngineFault",
                                                "A broken invariant inside the optimiser engine.",
                                                PyExc_BaseException, nullptr);
        if (!EngineFault) return -1;
    }
    if (PyModule_AddObjectRef(module, "EngineFault", EngineFault) < 0) return -1;
    if (!add_public(module, "two_opt", PyCFunction_NewEx(&kFunctions[0], nullptr, module))) return -1;
    Ref rows(PyCFunction_NewEx(&kFunctions[1], nullptr, module));
    if (!rows || PyModule_AddObjectRef(module, "_plane_rows", rows.get()) < 0) return -1;
    for (int k : {2, 3, 4}) {
        Ref function(PyCFunction_NewEx(&kFunctions[k], nullptr, module));
        if (!function || PyModule_AddObjectRef(module, kFunctions[k].ml_name, function.get()) < 0) return -1;
    }
    // AntColony's variant names by code, for the package's command line and documentation.
    Ref variants(PyTuple_New(static_cast<Py_ssize_t>(std::size(kVariantNames))));
    if (!variants) return -1;
    for (std::size_t code = 0; code < std::size(kVariantNames); ++code) {
        PyObject* name = PyUnicode_FromString(kVariantNames[code]);
        if (!name) return -1;
        PyTuple_SET_ITEM(variants.get(), static_cast<Py_ssize_t>(code), name);
    }
    if (PyModule_AddObjectRef(module, "_variant_names", variants.get()) < 0) return -1;
    // The types' texts are built in C++ strings.
    bool added = false;
    if (!run_guarded([&] { added = add_estimator_types(module) && add_native_objective(module); }) || !added)
        return -1;
    return 0;
}

// The types and the fault exception are process-wide objects, so the module
// refuses to load in a sub-interpreter (the import raises ImportError there).
// CPython 3.11 has no slot to say so; exec_module's own check refuses it there.
PyModuleDef_Slot kSlots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(exec_module)},
#if PY_VERSION_HEX >= 0x030C0000
    {Py_mod_multiple_interpreters, Py_MOD_MULTIPLE_INTERPRETERS_NOT_SUPPORTED},
#endif
    {0, nullptr},
};

PyModuleDef kModule = {
    PyModuleDef_HEAD_INIT, "_hivekit", "Metaheuristic optimisers with a C++ engine.", 0, nullptr,
    kSlots, nullptr, nullptr, nullptr,
};


}  // namespace hivekit::py

PyMODINIT_FUNC PyInit__hivekit(void) { return PyModuleDef_Init(&hivekit::py::kModule); }
