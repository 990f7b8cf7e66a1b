#include "module/native_objective.hpp"

#include "core/threads.hpp"

#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "module/convert.hpp"
#include "module/module.hpp"

namespace hivekit::py {

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();

using objectives::Builtin;

struct NativeObject {
    PyObject_HEAD
    NativeFunction fn;
    const Builtin* builtin;    // the built-in function it calls, if any
    PyObject* function_owner;  // what the address came from: a ctypes callback must outlive its use
    PyObject* data_owner;      // the object the data pointer points into
    PyObject* data_target;     // a ctypes pointer's targets when it was read (a list), or null
    Py_buffer view;            // held while data_owner's buffer is in use
    bool has_view;
};

PyTypeObject* g_native_type = nullptr;

NativeObject* as_native(PyObject* obj) { return reinterpret_cast<NativeObject*>(obj); }

// Modules already imported, or null: an object of ctypes or cffi implies that
// its module is loaded, so neither is ever imported here.
Ref imported(const char* name) {
    Ref text(PyUnicode_FromString(name));
    if (!text) return Ref();
    return Ref(PyImport_GetModule(text.get()));
}

bool integer_address(PyObject* value, void*& out) {
    unsigned long long address = PyLong_AsUnsignedLongLong(value);
    if (address == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return false;
    out = reinterpret_cast<void*>(static_cast<std::uintptr_t>(address));
    return true;
}

// 1: `obj` is an instance of module.attr; 0: it is not (or the module is not
// loaded, or has no such attribute); -1: error, set.
int instance_of(PyObject* obj, PyObject* module, const char* attr) {
    if (!module) return PyErr_Occurred() ? -1 : 0;
    Ref cls(PyObject_GetAttrString(module, attr));
    if (!cls) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return -1;
        PyErr_Clear();
        return 0;
    }
    return PyObject_IsInstance(obj, cls.get());
}

// The address held by a ctypes pointer or function pointer.
bool ctypes_pointer_value(PyObject* ctypes, PyObject* obj, void*& out) {
    Ref void_p(PyObject_GetAttrString(ctypes, "c_void_p"));
    if (!void_p) return false;
    Ref cast(PyObject_CallMethod(ctypes, "cast", "OO", obj, void_p.get()));
    if (!cast) return false;
    Ref value(PyObject_GetAttrString(cast.get(), "value"));
    if (!value) return false;
    if (value.get() == Py_None) {
        out = nullptr;
        return true;
    }
    return integer_address(value.get(), out);
}

// Appends to `out` every object of a ctypes `_objects` record: the record is
// None, one object, or a dict whose values are objects or records again.
bool collect_kept(PyObject* record, PyObject* out) {
    if (record == Py_None) return true;
    if (!PyDict_CheckExact(record)) return PyList_Append(out, record) == 0;
    if (Py_EnterRecursiveCall(" while reading what a ctypes pointer keeps alive")) return false;
    Ref values(PyDict_Values(record));
    bool ok = static_cast<bool>(values);
    for (Py_ssize_t i = 0; ok && i < PyList_GET_SIZE(values.get()); ++i)
        ok = collect_kept(PyList_GET_ITEM(values.get(), i), out);
    Py_LeaveRecursiveCall();
    return ok;
}

// A ctypes pointer does not own its target: the object at the root of its
// `_b_base_` chain records what keeps the target alive, and assigning the
// pointer's `contents` (or a field's pointer) replaces that record, freeing the
// old target while the objective would still read it. The objective keeps the
// objects recorded when it read the address, so the address stays valid
// whatever is done to the pointer afterwards. (Reading the pointer again when a
// fit starts would not do: a native fit runs unlocked, and another thread could
// re-point it mid-run.)
bool keep_ctypes_target(NativeObject* self, PyObject* pointer) {
    Ref root = Ref::borrow(pointer);
    for (;;) {
        Ref base(PyObject_GetAttrString(root.get(), "_b_base_"));
        if (!base) return false;
        if (base.get() == Py_None) break;
        root = std::move(base);
    }
    Ref record(PyObject_GetAttrString(root.get(), "_objects"));
    if (!record) return false;
    Ref kept(PyList_New(0));
    if (!kept || !collect_kept(record.get(), kept.get())) return false;
    self->data_target = kept.release();
    return true;
}

// The address a cffi pointer, function or array holds.
bool cffi_pointer_value(PyObject* backend, PyObject* obj, void*& out) {
    Ref kind_type(PyObject_CallMethod(backend, "new_primitive_type", "s", "uintptr_t"));
    if (!kind_type) return false;
    Ref cast(PyObject_CallMethod(backend, "cast", "OO", kind_type.get(), obj));
    if (!cast) return false;
    Ref value(PyNumber_Long(cast.get()));
    return value && integer_address(value.get(), out);
}

// A function's address from an int, a ctypes or cffi function pointer, or an
// object with an integer `address` (such as a compiled callback of numba).
bool function_address(PyObject* obj, void*& out) {
    if (PyLong_Check(obj)) return integer_address(obj, out);
    Ref ctypes = imported("ctypes");
    int is = instance_of(obj, ctypes.get(), "_CFuncPtr");
    if (is < 0) return false;
    if (is) return ctypes_pointer_value(ctypes.get(), obj, out);
    Ref backend = imported("_cffi_backend");
    is = instance_of(obj, backend.get(), "_CDataBase");
    if (is < 0) return false;
    if (is) {
        Ref ctype(PyObject_CallMethod(backend.get(), "typeof", "O", obj));
        if (!ctype) return false;
        Ref kind(PyObject_GetAttrString(ctype.get(), "kind"));
        if (!kind) return false;
        if (PyUnicode_CompareWithASCIIString(kind.get(), "function") != 0 &&
            PyUnicode_CompareWithASCIIString(kind.get(), "pointer") != 0) {
            PyErr_SetString(PyExc_TypeError, "a cffi object given as function must be a function or a pointer");
            return false;
        }
        return cffi_pointer_value(backend.get(), obj, out);
    }
    Ref address(PyObject_GetAttrString(obj, "address"));
    if (address && PyLong_Check(address.get())) return integer_address(address.get(), out);
    if (!address && !PyErr_ExceptionMatches(PyExc_AttributeError)) return false;
    PyErr_Clear();
    PyErr_Format(PyExc_TypeError,
                 "function must be an int address, a ctypes or cffi function pointer, an object with an integer "
                 ".address or the name of a built-in objective, not '%.200s'",
                 Py_TYPE(obj)->tp_name);
    return false;
}

// The data pointer from an int, a ctypes or cffi pointer, or an object with a
// contiguous buffer (bytes, array.array, a numpy array, a ctypes array...).
bool data_address(NativeObject* self, PyObject* obj) {
    void*& out = self->fn.data;
    if (obj == Py_None) return true;
    if (PyLong_Check(obj)) return integer_address(obj, out);
    Ref ctypes = imported("ctypes");
    for (const char* pointer_type : {"_Pointer", "c_void_p", "c_char_p"}) {
        int is = instance_of(obj, ctypes.get(), pointer_type);
        if (is < 0) return false;
        if (is) return keep_ctypes_target(self, obj) && ctypes_pointer_value(ctypes.get(), obj, out);
    }
    Ref backend = imported("_cffi_backend");
    int is = instance_of(obj, backend.get(), "_CDataBase");
    if (is < 0) return false;
    if (is) return cffi_pointer_value(backend.get(), obj, out);
    if (!PyObject_CheckBuffer(obj)) {
        PyErr_Format(PyExc_TypeError,
                     "data must be None, an int address, a ctypes or cffi pointer or an object with a buffer, "
                     "not '%.200s'",
                     Py_TYPE(obj)->tp_name);
        return false;
    }
    if (PyObject_GetBuffer(obj, &self->view, PyBUF_SIMPLE) < 0) return false;
    self->has_view = true;
    out = self->view.buf;
    return true;
}

const Builtin* find_builtin(PyObject* name) {
    for (const Builtin& b : objectives::builtins())
        if (PyUnicode_CompareWithASCIIString(name, b.name) == 0) return &b;
    return nullptr;
}

// The knapsack reads a header and two arrays from its data: refuse anything
// that is not exactly that, since the function trusts it.
bool check_knapsack_data(NativeObject* self) {
    using objectives::KnapsackData;
    if (!self->has_view || static_cast<std::size_t>(self->view.len) < sizeof(KnapsackData)) {
        PyErr_SetString(PyExc_ValueError, "the knapsack objective needs its packed instance as data");
        return false;
    }
    KnapsackData header;
    std::memcpy(&header, self->view.buf, sizeof header);
    const auto items = static_cast<std::uint64_t>(header.items);
    if (header.items < 0 || (static_cast<std::size_t>(self->view.len) - sizeof header) / 16 != items ||
        (static_cast<std::size_t>(self->view.len) - sizeof header) % 16 != 0) {
        PyErr_SetString(PyExc_ValueError, "the knapsack data does not hold as many weights and values as it says");
        return false;
    }
    if (self->fn.dimension && *self->fn.dimension != items) {
        PyErr_SetString(PyExc_ValueError, "the knapsack's dimension is its number of items");
        return false;
    }
    self->fn.dimension = items;
    return true;
}

// The shifted problems read a header, the shift and perhaps a square matrix
// from their data: refuse anything that is not exactly that.
bool check_shift_data(NativeObject* self) {
    using objectives::ShiftData;
    if (!self->has_view || static_cast<std::size_t>(self->view.len) < sizeof(ShiftData)) {
        PyErr_SetString(PyExc_ValueError, "a shifted objective needs its packed shift (and rotation) as data");
        return false;
    }
    ShiftData header;
    std::memcpy(&header, self->view.buf, sizeof header);
    const std::size_t rest = static_cast<std::size_t>(self->view.len) - sizeof header;
    // Below 2**31 coordinates n * (n + 1) cannot overflow; no matrix that large fits in memory anyway.
    const bool sane = header.dimension >= 0 && header.dimension < (std::int64_t{1} << 31) &&
                      (header.rotated == 0 || header.rotated == 1) && rest % sizeof(double) == 0;
    const auto n = static_cast<std::uint64_t>(header.dimension);
    const std::uint64_t expected = header.rotated ? n * (n + 1) : n;
    if (!sane || rest / sizeof(double) != expected) {
        PyErr_SetString(PyExc_ValueError, "the shifted objective's data does not hold the shift and rotation it says");
        return false;
    }
    if (self->fn.dimension && *self->fn.dimension != n) {
        PyErr_SetString(PyExc_ValueError, "a shifted objective's dimension is the length of its shift");
        return false;
    }
    self->fn.dimension = n;
    return true;
}

bool optional_size(PyObject* obj, const char* name, std::optional<std::size_t>& out) {
    if (!obj || obj == Py_None) return true;
    std::uint64_t value;
    if (!to_size(obj, value)) {
        prefix_type_error(name);
        return false;
    }
    out = value;
    return true;
}

int native_traverse(PyObject* self, visitproc visit, void* arg) {
    Py_VISIT(Py_TYPE(self));
    Py_VISIT(as_native(self)->function_owner);
    Py_VISIT(as_native(self)->data_owner);
    Py_VISIT(as_native(self)->data_target);
    // The view holds its exporter too, which need not be data_owner itself.
    if (as_native(self)->has_view) Py_VISIT(as_native(self)->view.obj);
    return 0;
}

int native_clear(PyObject* self) {
    NativeObject* n = as_native(self);
    if (n->has_view) {
        n->has_view = false;
        PyBuffer_Release(&n->view);
    }
    Py_CLEAR(n->function_owner);
    Py_CLEAR(n->data_owner);
    Py_CLEAR(n->data_target);
    return 0;
}

void native_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    PyObject_GC_UnTrack(self);
    native_clear(self);
    as_native(self)->fn.~NativeFunction();
    type->tp_free(self);
    Py_DECREF(type);
}

PyObject* native_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    static const char* names[] = {"function", "data", "n_objectives", "dimension", nullptr};
    PyObject *function, *data = Py_None, *n_objectives = nullptr, *dimension = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|OOO:NativeObjective", const_cast<char**>(names), &function,
                                     &data, &n_objectives, &dimension))
        return nullptr;
    Ref self(type->tp_alloc(type, 0));
    if (!self) return nullptr;
    NativeObject* n = as_native(self.get());
    new (&n->fn) NativeFunction();
    n->function_owner = Py_NewRef(function);
    if (data != Py_None) n->data_owner = Py_NewRef(data);

    std::optional<std::size_t> objectives;
    if (!optional_size(n_objectives, "n_objectives", objectives) ||
        !optional_size(dimension, "dimension", n->fn.dimension) || !data_address(n, data))
        return nullptr;
    if (objectives && *objectives == 0) {
        PyErr_SetString(PyExc_ValueError, "n_objectives must be at least 1 (None for an objective of one value)");
        return nullptr;
    }
    if (PyUnicode_Check(function)) {
        n->builtin = find_builtin(function);
        if (!n->builtin) {
            PyErr_Format(PyExc_ValueError, "no built-in objective is called %R", function);
            return nullptr;
        }
        if (objectives && *objectives != n->builtin->n_objectives) {
            PyErr_Format(PyExc_ValueError, "the built-in objective %s has n_objectives %zu", n->builtin->name,
                         n->builtin->n_objectives);
            return nullptr;
        }
        n->fn.scalar = n->builtin->scalar;
        n->fn.vector = n->builtin->vector;
        n->fn.n_objectives = n->builtin->n_objectives;
        if (n->builtin->data == objectives::Data::Knapsack && !check_knapsack_data(n)) return nullptr;
        if (n->builtin->data == objectives::Data::Shift && !check_shift_data(n)) return nullptr;
        return self.release();
    }
    void* address = nullptr;
    if (!function_address(function, address)) return nullptr;
    if (!address) {
        PyErr_SetString(PyExc_ValueError, "the function address must not be null");
        return nullptr;
    }
    n->fn.n_objectives = objectives.value_or(0);
    // Calling through the converted pointer is how every C function pointer
    // handed over by an address is used.
    if (objectives)
        n->fn.vector = reinterpret_cast<objectives::Vector>(address);
    else
        n->fn.scalar = reinterpret_cast<objectives::Scalar>(address);
    return self.release();
}

void* address_of(const NativeFunction& fn) {
    return fn.scalar ? reinterpret_cast<void*>(fn.scalar) : reinterpret_cast<void*>(fn.vector);
}

bool check_dimension(const NativeFunction& fn, std::size_t n) {
    if (!fn.dimension || *fn.dimension == n) return true;
    PyErr_Format(PyExc_ValueError, "this native objective takes %zu coordinates, got %zu", *fn.dimension, n);
    return false;
}

void raise_failed() { PyErr_SetString(PyExc_ValueError, "the native objective failed at this point"); }

PyObject* native_call(PyObject* self, PyObject* args, PyObject* kwargs) {
    static const char* names[] = {"x", nullptr};
    PyObject* x;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O:NativeObjective.__call__", const_cast<char**>(names), &x))
        return nullptr;
    const NativeFunction& fn = as_native(self)->fn;
    PyObject* done = nullptr;
    run_guarded([&] {
        auto values = to_double_vector(x);
        if (!values || !check_dimension(fn, values->size())) return;
        if (!fn.n_objectives) {
            done = PyFloat_FromDouble(fn.scalar(values->data(), values->size(), fn.data));
            return;
        }
        std::vector<double> out(fn.n_objectives);
        if (fn.vector(values->data(), values->size(), out.data(), out.size(), fn.data) != 0)
            raise_failed();
        else
            done = float_list(out);
    });
    return done;
}

PyObject* native_repr(PyObject* self) {
    NativeObject* n = as_native(self);
    const char* type_name = Py_TYPE(self)->tp_name;
    if (n->builtin) return PyUnicode_FromFormat("%s('%s')", type_name, n->builtin->name);
    if (n->fn.n_objectives)
        return PyUnicode_FromFormat("%s(%p, n_objectives=%zu)", type_name, address_of(n->fn), n->fn.n_objectives);
    return PyUnicode_FromFormat("%s(%p)", type_name, address_of(n->fn));
}

// A built-in objective pickles by its name (and data); an address means
// nothing in another process, so any other objective refuses.
PyObject* native_reduce(PyObject* self, PyObject*) {
    NativeObject* n = as_native(self);
    if (!n->builtin) {
        PyErr_SetString(PyExc_TypeError,
                        "a native objective made from an address cannot be pickled: the address means nothing in "
                        "another process");
        return nullptr;
    }
    PyObject* data = n->data_owner ? n->data_owner : Py_None;
    if (n->fn.dimension)
        return Py_BuildValue("(O(sOOn))", Py_TYPE(self), n->builtin->name, data, Py_None,
                             static_cast<Py_ssize_t>(*n->fn.dimension));
    return Py_BuildValue("(O(sO))", Py_TYPE(self), n->builtin->name, data);
}

PyObject* optional_size_object(const std::optional<std::size_t>& value) {
    if (!value) Py_RETURN_NONE;
    return PyLong_FromSize_t(*value);
}

PyObject* get_address(PyObject* self, void*) {
    return PyLong_FromVoidPtr(address_of(as_native(self)->fn));
}
PyObject* get_n_objectives(PyObject* self, void*) {
    const NativeFunction& fn = as_native(self)->fn;
    return optional_size_object(fn.n_objectives ? std::optional<std::size_t>(fn.n_objectives) : std::nullopt);
}
PyObject* get_dimension(PyObject* self, void*) { return optional_size_object(as_native(self)->fn.dimension); }

PyGetSetDef kGetSet[] = {
    {"address", get_address, nullptr, "Address of the C function.", nullptr},
    {"n_objectives", get_n_objectives, nullptr,
     "Number of values the function writes, or None for a function that returns one.", nullptr},
    {"dimension", get_dimension, nullptr, "The only number of coordinates the function takes, or None.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef kMethods[] = {
    {"__reduce__", native_reduce, METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

constexpr const char* kDoc =
    "NativeObjective(function, data=None, n_objectives=None, dimension=None)\n--\n\n"
    "An objective written in C, which fit calls without the interpreter.\n\n"
    "With n_objectives None, function is `double f(const double* x, size_t n, void* data)`; otherwise it is\n"
    "`int f(const double* x, size_t n, double* out, size_t m, void* data)`, which writes m = n_objectives\n"
    "values to out and returns 0 (anything else marks a failed evaluation). function is an int address, a\n"
    "ctypes or cffi function pointer, an object with an integer .address (a numba cfunc), or the name of a\n"
    "built-in objective. data (None, an int address, a ctypes or cffi pointer, or an object with a buffer) is\n"
    "passed to every call and kept alive by this object; a ctypes pointer is read once, and what it points to\n"
    "then stays in use and alive even if the pointer is pointed elsewhere. dimension, when given, is the only\n"
    "number of coordinates the function accepts. A fit with a native objective releases the interpreter lock: the\n"
    "function must not call into Python without taking the lock, nor keep the pointers it is given.";

}  // namespace

const NativeFunction* native_function(PyObject* obj) {
    if (!g_native_type || !PyObject_TypeCheck(obj, g_native_type)) return nullptr;
    return &as_native(obj)->fn;
}

bool probe_native(const NativeFunction& fn, std::span<const double> point, bool objectives) {
    if (objectives && !fn.n_objectives) {
        PyErr_SetString(PyExc_TypeError,
                        "this optimiser minimises several objectives: give the native objective n_objectives");
        return false;
    }
    if (!objectives && fn.n_objectives) {
        PyErr_SetString(PyExc_TypeError,
                        "this optimiser minimises one objective, but the native objective writes n_objectives values");
        return false;
    }
    if (!check_dimension(fn, point.size())) return false;
    if (!objectives) {
        fn.scalar(point.data(), point.size(), fn.data);
        return true;
    }
    std::vector<double> out(fn.n_objectives);
    if (fn.vector(point.data(), point.size(), out.data(), out.size(), fn.data) == 0) return true;
    raise_failed();
    return false;
}

namespace {

constexpr auto kPollAtLeast = std::chrono::microseconds(250);
constexpr auto kPollAtMost = std::chrono::microseconds(500);
constexpr std::size_t kMaxStride = std::size_t{1} << 16;

}  // namespace

NativeProblem::NativeProblem(const NativeFunction& fn, std::size_t dimension)
    : fn_(fn), dimension_(dimension), last_poll_(Clock::now()) {}

void NativeProblem::evaluate_objectives(std::span<const double> position, std::vector<double>& out) {
    tick();
    out.resize(fn_.n_objectives);
    if (fn_.vector(position.data(), position.size(), out.data(), out.size(), fn_.data) != 0) out.assign(1, kInfinity);
}

void NativeProblem::evaluate_batch(std::span<const double> rows, std::span<double> values) {
    const std::size_t n = values.size();
    threads::Team team(n);
    if (team.size() == 1) return Problem::evaluate_batch(rows, values);
    const std::size_t d = rows.size() / n;
    team.run(n, [&](std::size_t i, std::size_t) { values[i] = fn_.scalar(&rows[i * d], d, fn_.data); });
    check_interrupt();
}

void NativeProblem::evaluate_objectives_batch(std::span<const double> rows, std::span<std::vector<double>> out) {
    const std::size_t n = out.size();
    threads::Team team(n);
    if (team.size() == 1) return Problem::evaluate_objectives_batch(rows, out);
    const std::size_t d = rows.size() / n;
    for (auto& values : out) values.resize(fn_.n_objectives);  // no allocation on the helper threads
    team.run(n, [&](std::size_t i, std::size_t) {
        if (fn_.vector(&rows[i * d], d, out[i].data(), out[i].size(), fn_.data) != 0) out[i].assign(1, kInfinity);
    });
    check_interrupt();
}

// The clock is read every `stride_` evaluations; the stride doubles while the
// readings come closer than kPollAtLeast and shrinks in proportion when they
// are further apart than kPollAtMost, so an objective that suddenly costs more
// is still looked at well within a millisecond or two.
void NativeProblem::poll() {
    const auto now = Clock::now();
    const auto elapsed = now - last_poll_;
    last_poll_ = now;
    if (elapsed < kPollAtLeast) {
        if (stride_ < kMaxStride) stride_ *= 2;
    } else if (elapsed > kPollAtMost) {
        const double shrink = std::chrono::duration<double>(kPollAtMost) / std::chrono::duration<double>(elapsed);
        const auto scaled = static_cast<std::size_t>(static_cast<double>(stride_) * shrink);
        stride_ = scaled > 0 ? scaled : 1;
    }
    countdown_ = stride_;
    check_interrupt();
}

bool add_native_objective(PyObject* module) {
    if (!g_native_type) {
        PyType_Slot slots[] = {
            {Py_tp_new, reinterpret_cast<void*>(native_new)},
            {Py_tp_dealloc, reinterpret_cast<void*>(native_dealloc)},
            {Py_tp_traverse, reinterpret_cast<void*>(native_traverse)},
            {Py_tp_clear, reinterpret_cast<void*>(native_clear)},
            {Py_tp_call, reinterpret_cast<void*>(native_call)},
            {Py_tp_repr, reinterpret_cast<void*>(native_repr)},
            {Py_tp_getset, kGetSet},
            {Py_tp_methods, kMethods},
            {Py_tp_doc, const_cast<char*>(kDoc)},
            {0, nullptr},
        };
        PyType_Spec type_spec = {"hivekit._hivekit.NativeObjective", static_cast<int>(sizeof(NativeObject)), 0,
                            Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC, slots};
        g_native_type = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&type_spec));
        if (!g_native_type) return false;
        // Named by its bare name as the estimator classes are; __module__ keeps the path.
        g_native_type->tp_name = "NativeObjective";
    }
    return PyModule_AddObjectRef(module, "NativeObjective", reinterpret_cast<PyObject*>(g_native_type)) == 0;
}

}  // namespace hivekit::py
