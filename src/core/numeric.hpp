// Comparisons on doubles shared by every optimiser.
#pragma once

namespace hivekit {

// maxNum / minNum: a NaN operand is ignored; when the operands compare equal
// (+0 and -0 included) the first one is returned. Written as comparisons so
// the sign of a zero result never depends on the compiler.
inline double max_num(double a, double b) {
    if (a != a) return b;
    if (b != b) return a;
    return b > a ? b : a;
}

inline double min_num(double a, double b) {
    if (a != a) return b;
    if (b != b) return a;
    return b < a ? b : a;
}

// Whether value f replaces the current best: strictly smaller, or a number
// where the best so far is NaN (a NaN never stays best once a number is seen).
inline bool improves(double f, double best) { return f < best || (best != best && f == f); }

}  // namespace hivekit
