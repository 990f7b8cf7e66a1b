#include "core/error.hpp"

namespace hivekit {

std::string OptimizerError::display() const {
    switch (kind) {
        case ErrorKind::InvalidInput:
            return "Invalid input: " + message;
        case ErrorKind::ConvergenceFailure:
            return "Convergence error: " + message;
        case ErrorKind::DimensionMismatch:
            return "Dimension mismatch: " + message;
    }
    return message;
}

}  // namespace hivekit
