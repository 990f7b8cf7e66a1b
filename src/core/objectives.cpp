#include "core/objectives.hpp"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>

namespace hivekit::objectives {

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();
constexpr double kPi = 3.141592653589793;  // the interpreter's math.pi
constexpr double kE = 2.718281828459045;   // and math.e

// One call of a C library function under the math module's rules: it raises
// when the result is NaN for a non-NaN argument, infinite for a finite one, or
// when errno reports anything but an underflow to a small result.
bool math_call(double (*fn)(double), double x, double& r) {
    errno = 0;
    r = fn(x);
    if (std::isnan(r) && !std::isnan(x)) return false;
    if (std::isinf(r) && std::isfinite(x)) return false;
    if (std::isfinite(r) && errno != 0) return errno == ERANGE && std::fabs(r) < 1.5;
    return true;
}

double c_cos(double x) { return ::cos(x); }
double c_sin(double x) { return ::sin(x); }
double c_exp(double x) { return ::exp(x); }
double c_sqrt(double x) { return ::sqrt(x); }

// Read through a volatile so that the compiler cannot turn pow(a, 2.0) into
// a * a: the interpreter calls the library's pow, which need not round the
// square exactly as the product does.
volatile double g_two = 2.0;

// The interpreter's `a ** 2` on a float: its special cases, then the
// library's pow of |a|, failing (OverflowError) when pow reports a range error
// other than an underflow to zero or returns an infinity.
bool float_square(double a, double& r) {
    if (std::isnan(a)) {
        r = a;
        return true;
    }
    if (std::isinf(a)) {
        r = std::fabs(a);
        return true;
    }
    if (a == 0.0) {
        r = 0.0;
        return true;
    }
    if (a < 0.0) a = -a;
    if (a == 1.0) {
        r = 1.0;
        return true;
    }
    const double two = g_two;
    errno = 0;
    r = ::pow(a, two);
    if (errno == 0) {
        if (std::isinf(r)) errno = ERANGE;
    } else if (errno == ERANGE && r == 0.0) {
        errno = 0;
    }
    return errno == 0;
}

// The interpreter's float division refuses a zero divisor, whatever the dividend.
bool divide(double a, double b, double& r) {
    if (b == 0.0) return false;
    r = a / b;
    return true;
}

double zdt_g(const double* x, std::size_t n) {
    if (n < 2) return 1.0;
    double total = 0.0;
    for (std::size_t i = 1; i < n; ++i) total += x[i];
    return 1.0 + 9.0 * total / static_cast<double>(n - 1);
}

// Each problem is written once over its coordinates, read through `z(i)`: the
// plain problems read x itself, the shifted ones the moved point below.
template <class Coordinate>
double sphere_of(Coordinate z, std::size_t n) {
    double total = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        const double v = z(i);
        total += v * v;
    }
    return total;
}

template <class Coordinate>
double rastrigin_of(Coordinate z, std::size_t n) {
    const double base = 10.0 * static_cast<double>(n);
    double total = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        const double v = z(i);
        double c;
        if (!math_call(c_cos, 2.0 * kPi * v, c)) return kInfinity;
        total += v * v - 10.0 * c;
    }
    return base + total;
}

template <class Coordinate>
double rosenbrock_of(Coordinate z, std::size_t n) {
    double total = 0.0;
    for (std::size_t i = 0; i + 1 < n; ++i) {
        const double a = z(i);
        const double b = z(i + 1);
        double valley, slope;
        if (!float_square(b - a * a, valley) || !float_square(1.0 - a, slope)) return kInfinity;
        total += 100.0 * valley + slope;
    }
    return total;
}

template <class Coordinate>
double ackley_of(Coordinate z, std::size_t n) {
    if (n == 0) return 0.0;
    double squares = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        const double v = z(i);
        squares += v * v;
    }
    squares = squares / static_cast<double>(n);
    double cosines = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        double c;
        if (!math_call(c_cos, 2.0 * kPi * z(i), c)) return kInfinity;
        cosines += c;
    }
    cosines = cosines / static_cast<double>(n);
    double root, first, second;
    if (!math_call(c_sqrt, squares, root) || !math_call(c_exp, -0.2 * root, first) ||
        !math_call(c_exp, cosines, second))
        return kInfinity;
    return -20.0 * first - second + 20.0 + kE;
}

struct Plain {
    const double* x;
    double operator()(std::size_t i) const { return x[i]; }
};

double load(const unsigned char* p, std::size_t i) {
    double v;
    std::memcpy(&v, p + i * sizeof v, sizeof v);
    return v;
}

// The point moved by the shift and then turned by the rotation's row i,
// summed left to right as the Python definition does. Each coordinate is
// worked out afresh when it is read, twice for some: it comes out the same
// every time and needs no scratch memory, which a call on a worker thread
// must not allocate.
struct Moved {
    const double* x;
    std::size_t n;
    const unsigned char* shift;
    const unsigned char* rotation;  // null: not rotated
    double operator()(std::size_t i) const {
        if (!rotation) return x[i] - load(shift, i);
        double total = 0.0;
        for (std::size_t j = 0; j < n; ++j) total += load(rotation, i * n + j) * (x[j] - load(shift, j));
        return total;
    }
};

// The package checks the data's size against its header when the objective is
// made; the header is checked against the point here.
bool moved(const double* x, std::size_t n, void* data, Moved& out) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    ShiftData header;
    std::memcpy(&header, bytes, sizeof header);
    if (header.dimension < 0 || static_cast<std::uint64_t>(header.dimension) != n) return false;
    const unsigned char* shift = bytes + sizeof header;
    out = Moved{x, n, shift, header.rotated ? shift + n * sizeof(double) : nullptr};
    return true;
}

}  // namespace

double sphere(const double* x, std::size_t n, void*) { return sphere_of(Plain{x}, n); }
double rastrigin(const double* x, std::size_t n, void*) { return rastrigin_of(Plain{x}, n); }
double rosenbrock(const double* x, std::size_t n, void*) { return rosenbrock_of(Plain{x}, n); }
double ackley(const double* x, std::size_t n, void*) { return ackley_of(Plain{x}, n); }

double shifted_sphere(const double* x, std::size_t n, void* data) {
    Moved z{};
    return moved(x, n, data, z) ? sphere_of(z, n) : kInfinity;
}

double shifted_rastrigin(const double* x, std::size_t n, void* data) {
    Moved z{};
    return moved(x, n, data, z) ? rastrigin_of(z, n) : kInfinity;
}

// The valley's minimum (1, ..., 1) is moved onto the shift.
double shifted_rosenbrock(const double* x, std::size_t n, void* data) {
    Moved z{};
    if (!moved(x, n, data, z)) return kInfinity;
    return rosenbrock_of([&z](std::size_t i) { return z(i) + 1.0; }, n);
}

double shifted_ackley(const double* x, std::size_t n, void* data) {
    Moved z{};
    return moved(x, n, data, z) ? ackley_of(z, n) : kInfinity;
}

double one_max(const double* x, std::size_t n, void*) {
    double total = 0.0;
    for (std::size_t i = 0; i < n; ++i)
        if (x[i] < 0.5) total += 1.0;
    return total;
}

double knapsack(const double* x, std::size_t n, void* data) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    KnapsackData header;
    std::memcpy(&header, bytes, sizeof header);
    if (header.items < 0 || static_cast<std::uint64_t>(header.items) != n) return kInfinity;
    const unsigned char* weights = bytes + sizeof header;
    const unsigned char* values = weights + n * sizeof(std::int64_t);
    // The package limits the total weight and the capacity so that this sum
    // and the difference below stay exact in 64 bits, as the interpreter's
    // integers are.
    std::int64_t weight = 0;
    double value = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        if (x[i] >= 0.5) {
            std::int64_t w;
            double v;
            std::memcpy(&w, weights + i * sizeof w, sizeof w);
            std::memcpy(&v, values + i * sizeof v, sizeof v);
            weight += w;
            value += v;
        }
    }
    if (weight > header.capacity) return static_cast<double>(weight - header.capacity);
    return -value;
}

int zdt1(const double* x, std::size_t n, double* out, std::size_t m, void*) {
    if (n == 0 || m != 2) return 1;
    const double f1 = x[0];
    const double g = zdt_g(x, n);
    double ratio, root;
    if (!divide(f1, g, ratio) || !math_call(c_sqrt, ratio, root)) return 1;
    out[0] = f1;
    out[1] = g * (1.0 - root);
    return 0;
}

int zdt2(const double* x, std::size_t n, double* out, std::size_t m, void*) {
    if (n == 0 || m != 2) return 1;
    const double f1 = x[0];
    const double g = zdt_g(x, n);
    double ratio, square;
    if (!divide(f1, g, ratio) || !float_square(ratio, square)) return 1;
    out[0] = f1;
    out[1] = g * (1.0 - square);
    return 0;
}

int zdt3(const double* x, std::size_t n, double* out, std::size_t m, void*) {
    if (n == 0 || m != 2) return 1;
    const double f1 = x[0];
    const double g = zdt_g(x, n);
    double ratio, root, wave;
    if (!divide(f1, g, ratio) || !math_call(c_sqrt, ratio, root) || !math_call(c_sin, 10.0 * kPi * f1, wave))
        return 1;
    out[0] = f1;
    out[1] = g * (1.0 - root - ratio * wave);
    return 0;
}

namespace {

constexpr Builtin kBuiltins[] = {
    {"sphere", sphere, nullptr, 0, Data::None},
    {"rastrigin", rastrigin, nullptr, 0, Data::None},
    {"rosenbrock", rosenbrock, nullptr, 0, Data::None},
    {"ackley", ackley, nullptr, 0, Data::None},
    {"shifted_sphere", shifted_sphere, nullptr, 0, Data::Shift},
    {"shifted_rastrigin", shifted_rastrigin, nullptr, 0, Data::Shift},
    {"shifted_rosenbrock", shifted_rosenbrock, nullptr, 0, Data::Shift},
    {"shifted_ackley", shifted_ackley, nullptr, 0, Data::Shift},
    {"one_max", one_max, nullptr, 0, Data::None},
    {"knapsack", knapsack, nullptr, 0, Data::Knapsack},
    {"zdt1", nullptr, zdt1, 2, Data::None},
    {"zdt2", nullptr, zdt2, 2, Data::None},
    {"zdt3", nullptr, zdt3, 2, Data::None},
};

}  // namespace

std::span<const Builtin> builtins() { return kBuiltins; }

}  // namespace hivekit::objectives
