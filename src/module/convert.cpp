#include "module/convert.hpp"

#include <bit>
#include <cstring>
#include <new>

#include "algorithms/common.hpp"
#include "core/memory.hpp"
#include "module/module.hpp"

namespace hivekit::py {

void prefix_type_error(const char* name) {
    if (!PyErr_ExceptionMatches(PyExc_TypeError)) return;
    PyObject* raised = PyErr_GetRaisedException();
    Ref text(PyObject_Str(raised));
    if (text) {
        PyErr_Format(PyExc_TypeError, "argument '%s': %U", name, text.get());
        Py_DECREF(raised);
    } else {
        PyErr_Clear();
        PyErr_SetRaisedException(raised);
    }
}

bool to_size(PyObject* obj, std::uint64_t& out) {
    Ref index(PyNumber_Index(obj));
    if (!index) return false;
    unsigned long long value = PyLong_AsUnsignedLongLong(index.get());
    if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return false;
    out = value;
    return true;
}

bool to_real(PyObject* obj, double& out) {
    if (PyFloat_CheckExact(obj)) {
        out = PyFloat_AS_DOUBLE(obj);
        return true;
    }
    double value = PyFloat_AsDouble(obj);
    if (value == -1.0 && PyErr_Occurred()) return false;
    out = value;
    return true;
}

bool to_flag(PyObject* obj, bool& out) {
    if (PyBool_Check(obj)) {
        out = obj == Py_True;
        return true;
    }
    const char* type_name = Py_TYPE(obj)->tp_name;
    if (std::strcmp(type_name, "numpy.bool") == 0 || std::strcmp(type_name, "numpy.bool_") == 0) {
        int truth = PyObject_IsTrue(obj);
        if (truth < 0) return false;
        out = truth != 0;
        return true;
    }
    PyErr_Format(PyExc_TypeError, "'%.200s' object cannot be converted to 'bool'", type_name);
    return false;
}

bool to_seed(PyObject* obj, Seed& out) {
    if (obj == Py_None) {
        out.reset();
        return true;
    }
    std::uint64_t value;
    if (!to_size(obj, value)) return false;
    out = value;
    return true;
}

namespace {

// Checks that obj may be read as a sequence of numbers.
bool check_sequence(PyObject* obj) {
    if (PyUnicode_Check(obj)) {
        PyErr_SetString(PyExc_TypeError, "a str cannot be converted to a list of numbers");
        return false;
    }
    if (!PySequence_Check(obj)) {
        PyErr_Format(PyExc_TypeError, "'%.200s' object cannot be converted to 'Sequence'", Py_TYPE(obj)->tp_name);
        return false;
    }
    return true;
}

// A converted sequence becomes per-element state the fit keeps in several
// copies (the box and its centre, a body's positions, the list every
// evaluation passes), so a length whose copies could not stay resident is
// refused before any element is read: a __len__ may return anything.
constexpr std::size_t kHeldCopies = 16;

template <class T, class Convert>
std::optional<std::vector<T>> convert_sequence(PyObject* obj, Convert convert) {
    if (!check_sequence(obj)) return std::nullopt;
    Py_ssize_t n = PySequence_Size(obj);
    if (n < 0) return std::nullopt;
    std::vector<T> out;
    try {
        require_resident(static_cast<std::size_t>(n), kHeldCopies * sizeof(T));
        out.reserve(static_cast<std::size_t>(n));
    } catch (const std::bad_alloc& failure) {
        raise_memory_error(failure);
        return std::nullopt;
    }
    for (Py_ssize_t i = 0; i < n; ++i) {
        Ref item(PySequence_GetItem(obj, i));
        if (!item) return std::nullopt;
        T value;
        if (!convert(item.get(), value)) return std::nullopt;
        out.push_back(value);
    }
    return out;
}

// The buffer formats whose items are doubles in this machine's byte order.
bool native_double_format(const char* format) {
    if (!format) return false;  // unsigned bytes
    const char* own_order = std::endian::native == std::endian::little ? "<d" : ">d";
    for (const char* same : {"d", "@d", "=d", own_order})
        if (std::strcmp(format, same) == 0) return true;
    return false;
}

// A C-contiguous view of native doubles in `ndim` dimensions, released when
// it goes. Empty for any other object, which then takes the sequence path, and
// empty with an exception set when asking for the view was interrupted.
class DoubleView {
public:
    DoubleView(PyObject* obj, int ndim) {
        if (!PyObject_CheckBuffer(obj)) return;
        if (PyObject_GetBuffer(obj, &view_, PyBUF_RECORDS_RO) < 0) {
            // An exporter that cannot describe itself (numpy refuses datetime
            // arrays) is still a sequence; an interrupt is not swallowed.
            if (PyErr_ExceptionMatches(PyExc_Exception)) PyErr_Clear();
            return;
        }
        held_ = true;
        usable_ = view_.ndim == ndim && view_.itemsize == sizeof(double) && native_double_format(view_.format) &&
                  PyBuffer_IsContiguous(&view_, 'C');
    }
    ~DoubleView() {
        if (held_) PyBuffer_Release(&view_);
    }
    DoubleView(const DoubleView&) = delete;
    DoubleView& operator=(const DoubleView&) = delete;

    explicit operator bool() const { return usable_; }
    std::size_t extent(int axis) const { return static_cast<std::size_t>(view_.shape[axis]); }
    // Bytewise, as a buffer need not be aligned for doubles.
    void copy_to(double* out, std::size_t count) const {
        if (count) std::memcpy(out, view_.buf, count * sizeof(double));
    }

private:
    Py_buffer view_{};
    bool held_ = false;
    bool usable_ = false;
};

// Copies a one-dimensional, C-contiguous buffer of native doubles (a numpy
// float64 array, an array('d'), a memoryview of either) in one step. Every
// item is the same double that float conversion of the element would give,
// so the result equals the element-by-element path's. True when done: `out`
// (empty on entry) holds the values, or stays empty with an exception set.
// False, with no exception set, for any other object, which then takes the
// sequence path.
bool copy_double_buffer(PyObject* obj, std::optional<std::vector<double>>& out) {
    DoubleView view(obj, 1);
    if (!view) return PyErr_Occurred() != nullptr;
    const std::size_t n = view.extent(0);
    try {
        require_resident(n, kHeldCopies * sizeof(double));
        out.emplace(n);
    } catch (const std::bad_alloc& failure) {
        raise_memory_error(failure);
        return true;
    }
    view.copy_to(out->data(), n);
    return true;
}

}  // namespace

std::optional<std::vector<double>> to_double_vector(PyObject* obj) {
    return convert_sequence<double>(obj, to_real);
}

std::optional<std::vector<double>> to_limit_vector(PyObject* obj) {
    std::optional<std::vector<double>> out;
    if (copy_double_buffer(obj, out)) return out;
    return to_double_vector(obj);
}

std::optional<std::vector<std::uint64_t>> to_index_vector(PyObject* obj) {
    return convert_sequence<std::uint64_t>(obj, to_size);
}

namespace {

// A C-contiguous two-dimensional buffer of native doubles (a float64 numpy
// array, for one) is copied straight into the matrix. It holds the values the
// sequence path would read row by row, and a shape that is not square is
// reported as that path would report it: row 0 has the wrong length. Returns
// false, with no error set, for anything else, which then goes through the
// sequence path (true with an error set when asking for the view failed).
bool matrix_from_buffer(PyObject* obj, std::optional<DistanceMatrix>& out) {
    DoubleView view(obj, 2);
    if (!view) return PyErr_Occurred() != nullptr;
    const std::size_t n = view.extent(0), width = view.extent(1);
    if (n == 0) {
        PyErr_SetString(PyExc_ValueError, "distance_matrix must be non-empty");
        return true;
    }
    if (width != n) {
        PyErr_Format(PyExc_ValueError, "distance_matrix must be square: row 0 has length %zu, expected %zu", width, n);
        return true;
    }
    std::vector<double> flat(rows_size(n, n));
    view.copy_to(flat.data(), flat.size());
    out.emplace(n, std::move(flat));
    return true;
}

}  // namespace

std::optional<DistanceMatrix> to_distance_matrix(PyObject* obj, const char* name) {
    std::optional<DistanceMatrix> direct;
    if (matrix_from_buffer(obj, direct)) return direct;
    const auto fail = [name] {
        prefix_type_error(name);
        return std::nullopt;
    };
    if (!check_sequence(obj)) return fail();
    const Py_ssize_t size = PySequence_Size(obj);
    if (size < 0) return fail();
    const std::size_t n = static_cast<std::size_t>(size);
    // Rows go straight into the matrix, so that only one copy of it is ever
    // held. Room for it, and for the arrays of its shape a tour search keeps
    // beside it, is checked before any row is read (throws when missing).
    std::vector<double> flat;
    flat.reserve(rows_size(n, n));
    // Every row is converted before the shape is judged, so a conversion
    // error anywhere comes before the square message.
    std::optional<std::size_t> first_bad;
    std::size_t bad_length = 0;
    for (Py_ssize_t i = 0; i < size; ++i) {
        Ref item(PySequence_GetItem(obj, i));
        if (!item) return fail();
        auto row = to_double_vector(item.get());
        if (!row) return fail();
        if (first_bad) continue;
        if (row->size() != n) {
            first_bad = static_cast<std::size_t>(i);
            bad_length = row->size();
            continue;
        }
        flat.insert(flat.end(), row->begin(), row->end());
    }
    if (n == 0) {
        PyErr_SetString(PyExc_ValueError, "distance_matrix must be non-empty");
        return std::nullopt;
    }
    if (first_bad) {
        PyErr_Format(PyExc_ValueError, "distance_matrix must be square: row %zu has length %zu, expected %zu",
                     *first_bad, bad_length, n);
        return std::nullopt;
    }
    return DistanceMatrix(n, std::move(flat));
}

PyObject* float_list(const double* values, std::size_t n) {
    PyObject* list = PyList_New(static_cast<Py_ssize_t>(n));
    if (!list) return nullptr;
    for (std::size_t i = 0; i < n; ++i) {
        PyObject* item = PyFloat_FromDouble(values[i]);
        if (!item) {
            Py_DECREF(list);
            return nullptr;
        }
        PyList_SET_ITEM(list, static_cast<Py_ssize_t>(i), item);
    }
    return list;
}

PyObject* float_list(const std::vector<double>& values) { return float_list(values.data(), values.size()); }

PyObject* float_rows(const std::vector<std::vector<double>>& rows) {
    PyObject* list = PyList_New(static_cast<Py_ssize_t>(rows.size()));
    if (!list) return nullptr;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        PyObject* row = float_list(rows[i]);
        if (!row) {
            Py_DECREF(list);
            return nullptr;
        }
        PyList_SET_ITEM(list, static_cast<Py_ssize_t>(i), row);
    }
    return list;
}

}  // namespace hivekit::py
