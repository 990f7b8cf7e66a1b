#include "module/interrupt_gate.hpp"

#include "core/error.hpp"

namespace hivekit::py {

namespace {

// Whether the calling thread is the main thread, the only one that runs
// signal handlers: 1 or 0, or -1 with the error set when asking failed.
// Asking runs Python code, and with it the handler of a signal that came just
// before: what that handler raises (KeyboardInterrupt, say) is the caller's to
// raise, never to drop. An answer that is not a number counts as the main
// thread.
int on_main_thread() {
    Ref threading(PyImport_ImportModule("threading"));
    Ref main = threading ? Ref(PyObject_CallMethod(threading.get(), "main_thread", nullptr)) : Ref();
    Ref ident = main ? Ref(PyObject_GetAttrString(main.get(), "ident")) : Ref();
    if (!ident) return -1;
    if (!PyLong_Check(ident.get())) return 1;
    const unsigned long value = PyLong_AsUnsignedLong(ident.get());
    if (value == static_cast<unsigned long>(-1) && PyErr_Occurred()) return -1;
    return value == PyThread_get_thread_ident() ? 1 : 0;
}

constexpr auto kCheckEvery = std::chrono::milliseconds(1);

}  // namespace

InterruptGate::InterruptGate() : last_check_(Clock::now()) {
    const int main = on_main_thread();
    ready_ = main >= 0;
    signals_reach_ = main != 0;
}

// Bodies may call this more often than needed; taking the lock back costs far
// more than reading the clock, so it happens at most once a millisecond.
void InterruptGate::check() {
    const auto now = Clock::now();
    if (now - last_check_ < kCheckEvery) return;
    last_check_ = now;
    if (!signals_reach_) return;
    if (!released_) {
        if (PyErr_CheckSignals() < 0) throw EvaluationAborted();
        return;
    }
    PyEval_RestoreThread(released_);
    const int status = PyErr_CheckSignals();
    released_ = PyEval_SaveThread();
    // The raised exception stays with the thread state until the run has
    // unwound and the lock is taken back for good.
    if (status < 0) throw EvaluationAborted();
}

InterruptGate::Unlocked::Unlocked(InterruptGate& gate) : gate_(gate) {
    gate_.last_check_ = Clock::now();
    gate_.released_ = PyEval_SaveThread();
}

InterruptGate::Unlocked::~Unlocked() {
    PyEval_RestoreThread(gate_.released_);
    gate_.released_ = nullptr;
}

}  // namespace hivekit::py
