// Conversions from Python objects to plain engine values, done once at the boundary.
// Each returns false (or an empty optional) with a Python exception set on failure.
#pragma once

#include "module/py_ref.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/distance_matrix.hpp"
#include "core/search.hpp"

namespace hivekit::py {

// Prefixes the pending TypeError's message with "argument '{name}': "; any
// other pending exception is left unchanged.
void prefix_type_error(const char* name);

// An integer in 0 .. 2^64-1 given by int or __index__; a float is refused.
bool to_size(PyObject* obj, std::uint64_t& out);
// A float, or anything with a float value (__float__ / __index__).
bool to_real(PyObject* obj, double& out);
// Only True / False (or a numpy boolean).
bool to_flag(PyObject* obj, bool& out);
// None or an integer in 0 .. 2^64-1.
bool to_seed(PyObject* obj, Seed& out);

// A sequence (not a str) of numbers. Errors are raised unprefixed; callers
// naming an argument add the prefix.
std::optional<std::vector<double>> to_double_vector(PyObject* obj);
// As to_double_vector, reading a one-dimensional C-contiguous buffer of
// native doubles (a numpy float64 array) in one step.
std::optional<std::vector<double>> to_limit_vector(PyObject* obj);
// A sequence of non-negative integers.
std::optional<std::vector<std::uint64_t>> to_index_vector(PyObject* obj);
// A sequence of sequences of numbers; validated as a square matrix with at
// least one row (ValueError with the matrix messages otherwise). Throws
// std::bad_alloc for a matrix that could not stay resident: run it guarded.
std::optional<DistanceMatrix> to_distance_matrix(PyObject* obj, const char* name);

// New list of floats.
PyObject* float_list(const std::vector<double>& values);
PyObject* float_list(const double* values, std::size_t n);
// New list of lists of floats.
PyObject* float_rows(const std::vector<std::vector<double>>& rows);

}  // namespace hivekit::py
