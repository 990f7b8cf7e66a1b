// The TSPLIB plane rules, computed here rather than in the reader's Python:
// the matrix of a few thousand cities is millions of entries.
#include "module/module.hpp"

#include <bit>
#include <cmath>
#include <cstdint>
#include <vector>

#include "module/convert.hpp"

namespace hivekit::py {

namespace {

// Float objects for values, equal values (by their bits) sharing one, found
// in an open table that stops taking new values once it is half full. The
// table holds only the objects, which carry their values: the less memory it
// takes, the more of it stays in the processor's cache.
class SharedFloats {
public:
    SharedFloats() : floats_(kSlots) {}

    // A new reference, or null with an exception set.
    PyObject* get(double x) {
        const std::uint64_t bits = std::bit_cast<std::uint64_t>(x);
        std::size_t slot = static_cast<std::size_t>((bits * 0x9E3779B97F4A7C15ull) >> (64 - kSlotBits));
        while (floats_[slot] && std::bit_cast<std::uint64_t>(PyFloat_AS_DOUBLE(floats_[slot].get())) != bits)
            slot = (slot + 1) & (kSlots - 1);
        if (floats_[slot]) return Py_NewRef(floats_[slot].get());
        PyObject* f = PyFloat_FromDouble(x);
        if (f && filled_ < kSlots / 2) {
            floats_[slot] = Ref::borrow(f);
            ++filled_;
        }
        return f;
    }

private:
    static constexpr int kSlotBits = 17;
    static constexpr std::size_t kSlots = std::size_t{1} << kSlotBits;
    std::vector<Ref> floats_;
    std::size_t filled_ = 0;
};

}  // namespace

PyObject* plane_rows(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    if (nargs != 3 || !PyUnicode_Check(args[2])) {
        PyErr_SetString(PyExc_TypeError, "_plane_rows takes x, y and the name of a rule");
        return nullptr;
    }
    enum class Rule { Euclidean, Ceiling, Pseudo };
    Rule rule;
    if (PyUnicode_CompareWithASCIIString(args[2], "EUC_2D") == 0)
        rule = Rule::Euclidean;
    else if (PyUnicode_CompareWithASCIIString(args[2], "CEIL_2D") == 0)
        rule = Rule::Ceiling;
    else if (PyUnicode_CompareWithASCIIString(args[2], "ATT") == 0)
        rule = Rule::Pseudo;
    else
        return PyErr_Format(PyExc_ValueError, "no plane rule named %R", args[2]);
    // The coordinates, the buffers and the table are allocated here: a
    // failure to get them raises MemoryError.
    PyObject* matrix = nullptr;
    run_guarded([&] {
        const auto xs = to_double_vector(args[0]);
        if (!xs) return;
        const auto ys = to_double_vector(args[1]);
        if (!ys) return;
        if (ys->size() != xs->size()) {
            PyErr_SetString(PyExc_ValueError, "x and y differ in length");
            return;
        }
        const std::size_t n = xs->size();
        // The rules of the TSPLIB reader, operation for operation in doubles:
        // the same bits as its Python arithmetic (math.sqrt is the correctly
        // rounded square root, and math.floor and math.ceil give whole numbers
        // that convert back exactly). A non-negative double below 2^52 rounds
        // down by truncation; one at or above it is whole already. The
        // library's floor and ceil would be calls on processors without
        // rounding instructions.
        const auto down = [](double v) { return v < 0x1p52 ? static_cast<double>(static_cast<std::int64_t>(v)) : v; };
        const auto distance = [rule, down](double dx, double dy) {
            const double squares = dx * dx + dy * dy;
            switch (rule) {
                case Rule::Euclidean: return down(std::sqrt(squares) + 0.5);
                case Rule::Ceiling: {
                    const double d = std::sqrt(squares), t = down(d);
                    return t < d ? t + 1.0 : t;
                }
                case Rule::Pseudo: {
                    const double r = std::sqrt(squares / 10.0);
                    const double t = down(r + 0.5);
                    return t < r ? t + 1.0 : t;
                }
            }
            return 0.0;
        };
        SharedFloats shared;
        std::vector<double> row_values(n);
        Ref rows(PyList_New(static_cast<Py_ssize_t>(n)));
        if (!rows) return;
        for (std::size_t i = 0; i < n; ++i) {
            const double xi = (*xs)[i], yi = (*ys)[i];
            for (std::size_t j = 0; j < n; ++j) row_values[j] = distance(xi - (*xs)[j], yi - (*ys)[j]);
            row_values[i] = 0.0;
            PyObject* row = PyList_New(static_cast<Py_ssize_t>(n));
            if (!row) return;
            PyList_SET_ITEM(rows.get(), static_cast<Py_ssize_t>(i), row);
            for (std::size_t j = 0; j < n; ++j) {
                PyObject* f = shared.get(row_values[j]);
                if (!f) return;
                PyList_SET_ITEM(row, static_cast<Py_ssize_t>(j), f);
            }
            if (PyErr_CheckSignals() < 0) return;
        }
        matrix = rows.release();
    });
    return matrix;
}

}  // namespace hivekit::py
