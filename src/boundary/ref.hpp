// Owned references: one handle whose destructor releases what it owns.
#pragma once

#include "boundary/python.hpp"

#include <utility>

namespace velnor::boundary {

// Owns one strong reference (or none). Ownership changes hands only through steal, borrow and release.
class Ref {
public:
    Ref() noexcept = default;
    Ref(const Ref& other) noexcept : object_(other.object_) { Py_XINCREF(object_); }
    Ref(Ref&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    Ref& operator=(Ref other) noexcept {
        std::swap(object_, other.object_);
        return *this;
    }
    ~Ref() { Py_XDECREF(object_); }

    // Takes over a reference the caller owns (the result of a "new reference" call); null stays empty.
    static Ref steal(PyObject* object) noexcept { return Ref(object); }
    // Takes a new reference to an object the caller only borrows.
    static Ref borrow(PyObject* object) noexcept {
        Py_XINCREF(object);
        return Ref(object);
    }

    PyObject* get() const noexcept { return object_; }
    explicit operator bool() const noexcept { return object_ != nullptr; }
    // Hands the reference to the caller, leaving this handle empty.
    [[nodiscard]] PyObject* release() noexcept { return std::exchange(object_, nullptr); }

private:
    explicit Ref(PyObject* object) noexcept : object_(object) {}
    PyObject* object_ = nullptr;
};

}  // namespace velnor::boundary
