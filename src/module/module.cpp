// Module entry: creates _hivekit and registers two_opt and the estimator classes.
#include "module/module.hpp"

#include <new>
#include <stdexcept>

#include "core/error.hpp"

namespace hivekit::py {

PyObject* EngineFault = nullptr;

bool run_guarded(const std::function<void()>& body, const char* owner) {
    try {
        body();
        return true;
    } catch (const EvaluationAborted&) {
        if (!PyErr_Occurred()) PyErr_SetString(PyExc_SystemError, "run stopped without an exception");
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const std::length_error&) {
        PyErr_NoMemory();
    } catch (const NotImplementedYet&) {
        PyErr_Format(PyExc_NotImplementedError, "%s.fit is not implemented yet", owner);
    } catch (const std::exception& fault) {
        PyErr_SetString(EngineFault, fault.what());
    }
    return false;
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

namespace {

PyMethodDef kFunctions[] = {
    {"two_opt", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(two_opt)), METH_FASTCALL | METH_KEYWORDS,
     "two_opt(tour, distance_matrix)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef kModule = {
    PyModuleDef_HEAD_INIT, "_hivekit", "Metaheuristic optimisers with a C++ engine.", -1, nullptr,
    nullptr, nullptr, nullptr, nullptr,
};

PyObject* create_module() {
    // The types and the fault exception are process-wide; a second interpreter
    // would share them, so only the main interpreter may import the module.
    if (PyInterpreterState_Get() != PyInterpreterState_Main()) {
        PyErr_SetString(PyExc_ImportError, "hivekit._hivekit cannot be imported in a sub-interpreter");
        return nullptr;
    }
    Ref module(PyModule_Create(&kModule));
    if (!module) return nullptr;
    if (!EngineFault) {
        EngineFault = PyErr_NewExceptionWithDoc("hivekit._hivekit.EngineFault",
                                                "A broken invariant inside the optimiser engine.",
                                                PyExc_BaseException, nullptr);
        if (!EngineFault) return nullptr;
    }
    if (PyModule_AddObjectRef(module.get(), "EngineFault", EngineFault) < 0) return nullptr;
    if (!add_public(module.get(), "two_opt", PyCFunction_NewEx(&kFunctions[0], nullptr, module.get()))) return nullptr;
    if (!add_estimator_types(module.get())) return nullptr;
    return module.release();
}

}  // namespace

}  // namespace hivekit::py

PyMODINIT_FUNC PyInit__hivekit(void) { return hivekit::py::create_module(); }
