// The one table of the sixteen optimiser classes. Each hyperparameter is
// declared once, bound to its field of the class's parameter struct, and takes
// its default from that field; the Python types, their signatures, get_params,
// the conversions and the contract tests all read this table, and so do the
// stub and the README's class table, generated from it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "algorithms/result.hpp"
#include "core/bounds.hpp"
#include "core/problem.hpp"

namespace hivekit {

// Room for the hyperparameters of one class; the table refuses, at compile
// time, a class with more.
inline constexpr std::size_t kMaxParams = 12;

enum class ParamKind { Size, Real, Flag, Variant };

// A stored hyperparameter: sizes, flags and variant codes in `size`, reals in `real`.
struct ParamValue {
    std::uint64_t size = 0;
    double real = 0.0;

    double as_float(ParamKind kind) const { return kind == ParamKind::Real ? real : static_cast<double>(size); }
};

struct ParamSpec {
    const char* name;
    ParamKind kind;
    ParamValue fallback;  // the parameter struct's default
};

// AntColony's rule sets by code; any other text selects code 0.
inline constexpr const char* kVariantNames[] = {"basic", "acs", "elitist", "mmas"};

// What fit takes, what the probe call receives and what fit keeps.
enum class Family {
    BestOnly,       // one-entry history_ and population_ from the best
    Recorded,       // history_ and population_ as the engine built them
    ParetoArchive,  // no history_; predict/score read the archive
};
enum class FitInput { Box, Tour };
enum class Probe { Centre, Zeros, CentreObjectives, None };

// How a class meets its user, besides its parameters.
struct Surface {
    const char* name;
    const char* docstring;
    Family family = Family::Recorded;
    FitInput input = FitInput::Box;
    Probe probe = Probe::Centre;
    std::size_t repr_params = 0;      // leading parameters shown by __repr__; 0 keeps the default repr
    bool documented_methods = false;  // publishes method docstrings
    bool index_solution = false;      // predict returns city indices as ints
};

struct FitCall {
    Problem& problem;
    const Bounds* bounds;  // null for tour problems
    std::span<const ParamValue> params;  // in table order
    Seed seed;
};

struct ClassSpec {
    Surface surface;
    std::span<const ParamSpec> params;
    Outcome (*run)(const FitCall&);
    // The objective calls of a run with these parameters (in table order), as
    // the class's body states them.
    Evaluations (*evaluations)(std::span<const ParamValue> params);
    SizeLimit smallest;  // of the first parameter, as the body checks it
};

// The classes in registration order.
std::span<const ClassSpec> registry();

// A parameter's default as a constructor signature shows it: 50, 0.9, 1e-4,
// True, "basic".
std::string signature_default(const ParamSpec& param);

}  // namespace hivekit
