// Failure values of the engine and the few exceptions that cross it.
#pragma once

#include <stdexcept>
#include <string>

namespace hivekit {

enum class ErrorKind { InvalidInput, ConvergenceFailure, DimensionMismatch };

// A domain failure of an optimiser body, returned as a value.
struct OptimizerError {
    ErrorKind kind;
    std::string message;

    static OptimizerError invalid_input(std::string m) { return {ErrorKind::InvalidInput, std::move(m)}; }
    static OptimizerError convergence_failure(std::string m) {
        return {ErrorKind::ConvergenceFailure, std::move(m)};
    }
    static OptimizerError dimension_mismatch(std::string m) {
        return {ErrorKind::DimensionMismatch, std::move(m)};
    }
    // "Invalid input: ...", "Convergence error: ...", "Dimension mismatch: ...".
    std::string display() const;
};

// A broken invariant inside the engine (empty sampling range, no entropy, ...).
class InternalFault : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Thrown by a problem's evaluate() when the caller must stop the run at once
// (the Python layer uses it for KeyboardInterrupt and friends). The engine only
// lets it pass; every body is written so that unwinding leaves nothing behind.
class EvaluationAborted : public std::exception {
public:
    const char* what() const noexcept override { return "evaluation aborted"; }
};

}  // namespace hivekit
