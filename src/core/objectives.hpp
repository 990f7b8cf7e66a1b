// The built-in objectives: the standard benchmark problems as plain functions
// with the calling convention of native objectives: f(x, n, data) for one value, and f(x, n, out, m, data)
// writing m values and returning 0 (non-zero: the evaluation failed).
//
// Each computes exactly what the package's Python definition of the same
// problem computes: the same operations in the same order, sums from left to
// right, and the C library's cos, sin, exp, sqrt and pow, which are the
// functions the interpreter's math module and float power call. Where the
// interpreter raises (a math domain or range error, a division by zero), the
// single-value functions return +infinity and the vector ones fail: those are
// the values a fit gives an objective that raises.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace hivekit::objectives {

using Scalar = double (*)(const double* x, std::size_t n, void* data);
using Vector = int (*)(const double* x, std::size_t n, double* out, std::size_t m, void* data);

double sphere(const double* x, std::size_t n, void* data);
double rastrigin(const double* x, std::size_t n, void* data);
double rosenbrock(const double* x, std::size_t n, void* data);
double ackley(const double* x, std::size_t n, void* data);
double one_max(const double* x, std::size_t n, void* data);

// The four box problems moved so that their minimum lies at `shift` rather
// than at the origin (for rosenbrock at (1, ..., 1)), and for a non-zero
// `rotated` also turned: problem(R (x - shift)), R the n x n matrix stored
// row by row. `data` points to a ShiftData header followed by the `dimension`
// doubles of the shift and, when rotated, the matrix (packed, no padding; read
// with memcpy).
struct ShiftData {
    std::int64_t dimension;
    std::int64_t rotated;
};
double shifted_sphere(const double* x, std::size_t n, void* data);
double shifted_rastrigin(const double* x, std::size_t n, void* data);
double shifted_rosenbrock(const double* x, std::size_t n, void* data);
double shifted_ackley(const double* x, std::size_t n, void* data);

// `data` points to a KnapsackData header followed by `items` int64 weights and
// `items` double values (packed, no padding; read with memcpy).
struct KnapsackData {
    std::int64_t items;
    std::int64_t capacity;
};
double knapsack(const double* x, std::size_t n, void* data);

int zdt1(const double* x, std::size_t n, double* out, std::size_t m, void* data);
int zdt2(const double* x, std::size_t n, double* out, std::size_t m, void* data);
int zdt3(const double* x, std::size_t n, double* out, std::size_t m, void* data);

// The one table of the built-in objectives, by the names a NativeObjective
// takes: a function of one value (`scalar`, n_objectives 0) or of
// `n_objectives` values (`vector`), and the data it reads.
enum class Data { None, Shift, Knapsack };
struct Builtin {
    const char* name;
    Scalar scalar;
    Vector vector;
    std::size_t n_objectives;
    Data data;
};
std::span<const Builtin> builtins();

}  // namespace hivekit::objectives
