#include "module/interrupt_gate.hpp"

#include "core/error.hpp"

namespace hivekit::py {

namespace {

// Whether the calling thread is the main thread, the only one that runs
// signal handlers; true when it cannot be told.
bool on_main_thread() {
    Ref threading(PyImport_ImportModule("threading"));
    Ref main = threading ? Ref(PyObject_CallMethod(threading.get(), "main_thread", nullptr)) : Ref();
    Ref ident = main ? Ref(PyObject_GetAttrString(main.get(), "ident")) : Ref();
    if (!ident || !PyLong_Check(ident.get())) {
        PyErr_Clear();
        return true;
    }
    unsigned long value = PyLong_AsUnsignedLong(ident.get());
    if (PyErr_Occurred()) {
        PyErr_Clear();
        return true;
    }
    return value == PyThread_get_thread_ident();
}

constexpr auto kCheckEvery = std::chrono::milliseconds(1);

}  // namespace

InterruptGate::InterruptGate() : signals_reach_(on_main_thread()), last_check_(Clock::now()) {}

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
