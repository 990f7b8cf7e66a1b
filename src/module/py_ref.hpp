// Owning handle of one strong Python reference.
#pragma once

#include "module/py_compat.hpp"

#include <utility>

namespace hivekit::py {

class Ref {
public:
    Ref() = default;
    // Takes over a new reference (may be null).
    explicit Ref(PyObject* owned) : ptr_(owned) {}
    static Ref borrow(PyObject* borrowed) {
        Py_XINCREF(borrowed);
        return Ref(borrowed);
    }
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    Ref(Ref&& other) noexcept : ptr_(std::exchange(other.ptr_, nullptr)) {}
    Ref& operator=(Ref&& other) noexcept {
        if (this != &other) {
            Py_XDECREF(ptr_);
            ptr_ = std::exchange(other.ptr_, nullptr);
        }
        return *this;
    }
    ~Ref() { Py_XDECREF(ptr_); }

    PyObject* get() const { return ptr_; }
    // Hands the reference to the caller.
    PyObject* release() { return std::exchange(ptr_, nullptr); }
    explicit operator bool() const { return ptr_ != nullptr; }

private:
    PyObject* ptr_ = nullptr;
};

}  // namespace hivekit::py
