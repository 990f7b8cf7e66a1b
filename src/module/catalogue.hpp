// The table that describes the sixteen estimator classes: their parameters
// with kinds and defaults, their texts, their fit family and their engine.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "algorithms/result.hpp"
#include "core/bounds.hpp"
#include "core/problem.hpp"

namespace hivekit::py {

enum class ParamKind { Size, Real, Flag, Variant, };

// A stored hyperparameter: sizes, flags and variant codes in `size`, reals in `real`.
struct ParamValue {
    std::uint64_t size = 0;
    double real = 0.0;

    double as_float(ParamKind kind) const { return kind == ParamKind::Real ? real : static_cast<double>(size); }
};

struct ParamSpec {
    const char* name;
    ParamKind kind;
    ParamValue fallback;
    const char* default_text;  // as shown in the signature
};

// What fit takes, what the probe call receives and what fit keeps.
enum class Family {
    BestOnly,    // one-entry history_ and population_ from the best
    Recorded,    // history_ and population_ as the engine built them
    ParetoArchive,  // no history_; predict/score read the archive
};
enum class FitInput { Box, Tour };
enum class Probe { Centre, Zeros, CentreObjectives, None };

struct FitCall {
    Problem& problem;
    const Bounds* bounds;  // null for tour problems
    const ParamValue* params;
    Seed seed;
};

struct ClassSpec {
    const char* name;
    const char* docstring;
    std::span<const ParamSpec> params;
    Family family;
    FitInput input;
    Probe probe;
    std::size_t repr_params;  // leading parameters shown by __repr__; 0 keeps the default repr
    bool documented_methods;  // publishes method docstrings
    bool index_solution;      // predict returns city indices as ints
    Outcome (*run)(const FitCall&);
};

std::span<const ClassSpec> catalogue();

// Docstrings of the documented classes' methods (tour and box wording).
struct MethodDocs {
    const char* fit;
    const char* predict;
    const char* score;
    const char* get_params;
};
MethodDocs method_docs(const ClassSpec& entry);

}  // namespace hivekit::py
