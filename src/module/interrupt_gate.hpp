// Engine work that runs with the interpreter lock released and still stops at
// a Ctrl-C.
#pragma once

#include "module/py_ref.hpp"

#include <chrono>

namespace hivekit::py {

// Made with the interpreter lock held, on the thread that runs the engine.
// While an Unlocked lives, the lock is released; check() then takes it back
// at most once a millisecond to look for a pending Ctrl-C, and only on the
// main thread, the only one signal handlers run on (a fit on another thread
// never takes the lock back, so fits on several threads run side by side).
// Without an Unlocked, check() looks with the lock it already holds. Only the
// thread that made the gate may call check(): the engine's own threads never
// do. Making the gate can run a signal handler; a gate that tests false left
// what the handler raised set, and the caller returns it before any run.
class InterruptGate {
public:
    InterruptGate();
    InterruptGate(const InterruptGate&) = delete;
    InterruptGate& operator=(const InterruptGate&) = delete;

    explicit operator bool() const { return ready_; }

    // Throws EvaluationAborted, with KeyboardInterrupt (or what the handler
    // raised) pending, when a signal handler has raised. Cheap to call more
    // often than needed: between two looks it only reads the clock.
    void check();

    // Releases the interpreter lock for its lifetime (around the engine's run).
    class Unlocked {
    public:
        explicit Unlocked(InterruptGate& gate);
        ~Unlocked();
        Unlocked(const Unlocked&) = delete;
        Unlocked& operator=(const Unlocked&) = delete;

    private:
        InterruptGate& gate_;
    };

private:
    using Clock = std::chrono::steady_clock;

    PyThreadState* released_ = nullptr;  // set while the lock is released
    bool ready_;                         // made without an error
    bool signals_reach_;                 // made on the main thread
    Clock::time_point last_check_;
};

}  // namespace hivekit::py
