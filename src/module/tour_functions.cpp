// The module-level tour function.
#include <optional>
#include <vector>

#include "algorithms/tour.hpp"
#include "core/error.hpp"
#include "module/binding.hpp"
#include "module/convert.hpp"
#include "module/interrupt_gate.hpp"
#include "module/module.hpp"

namespace hivekit::py {

namespace {

constexpr const char* kTwoOptParams[] = {"tour", "distance_matrix"};

PyObject* tour_result(const std::vector<std::size_t>& tour, double length) {
    Ref list(PyList_New(static_cast<Py_ssize_t>(tour.size())));
    if (!list) return nullptr;
    for (std::size_t i = 0; i < tour.size(); ++i) {
        PyObject* item = PyLong_FromSize_t(tour[i]);
        if (!item) return nullptr;
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item);
    }
    Ref value(PyFloat_FromDouble(length));
    if (!value) return nullptr;
    return PyTuple_Pack(2, list.get(), value.get());
}

}  // namespace

PyObject* two_opt(PyObject*, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
    PyObject* given[2];
    if (!bind_fast("two_opt", kTwoOptParams, 2, args, nargsf, kwnames, given)) return nullptr;
    // The matrix is converted and validated before the tour is looked at.
    std::optional<DistanceMatrix> matrix;
    std::optional<std::vector<std::uint64_t>> entries;
    if (!run_guarded([&] { matrix = to_distance_matrix(given[1], "distance_matrix"); }) || !matrix)
        return nullptr;
    if (!run_guarded([&] { entries = to_index_vector(given[0]); })) return nullptr;
    if (!entries) {
        prefix_type_error("tour");
        return nullptr;
    }
    std::vector<std::size_t> tour;
    if (!run_guarded([&] { tour.assign(entries->begin(), entries->end()); })) return nullptr;
    if (auto bad = first_entry_out_of_range(tour, matrix->size())) {
        PyErr_Format(PyExc_ValueError, "tour entry %zu is %zu, not below the number of cities %zu", *bad, tour[*bad],
                     matrix->size());
        return nullptr;
    }
    // The search reads only the converted matrix and tour: it runs without the
    // interpreter lock.
    double length = 0.0;
    InterruptGate gate;
    if (!gate) return nullptr;
    if (!run_guarded([&] {
            InterruptGate::Unlocked released(gate);
            length = TwoOptSearch(*matrix, [&gate] { gate.check(); }).improve(tour);
        }))
        return nullptr;
    return tour_result(tour, length);
}

}  // namespace hivekit::py
