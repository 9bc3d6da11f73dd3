// C++ exceptions that carry failures to the entry trampoline, and the module's own error texts.
#pragma once

#include "boundary/ref.hpp"

#include <stdexcept>
#include <string>

namespace velnor::boundary {

// A Python exception, taken out of the interpreter's error indicator when thrown so that clean-up
// code running during unwinding never sees a pending error. The trampoline puts it back.
class PythonError {
public:
    // Fetches the current error; with none set, stands for SystemError as the interpreter would.
    PythonError() noexcept;
    PythonError(Ref type, Ref value, Ref traceback) noexcept;

    // Sets this error as the interpreter's current one; the handle is empty afterwards.
    void restore() noexcept;
    // True when the exception's type is exactly `type` (not a subclass).
    bool is_exactly(PyObject* type) const noexcept { return type_.get() == type; }
    // True when the exception is an instance of `type` or of a subclass.
    bool matches(PyObject* type) const noexcept;
    // Returns the exception value, normalised.
    PyObject* value() noexcept;
    // True when this error asks the program to stop (see stops_fallbacks).
    bool stops_fallbacks() const noexcept;

private:
    Ref type_;
    Ref value_;
    Ref traceback_;
};

// A broken invariant inside the module's own code: raised to Python as an exception that derives from
// BaseException directly, so that `except Exception` does not hide it.
class InternalFault : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// True for an exception type that means "stop" rather than "this alternative does not fit": anything that
// is not an Exception (KeyboardInterrupt, SystemExit, GeneratorExit) and MemoryError. No fallback, size
// hint or name lookup drops such an error.
bool stops_fallbacks(PyObject* type) noexcept;
// Drops the interpreter's current error where a fallback takes over, or raises it when it stops fallbacks.
void clear_error_or_stop();

// Raises (as PythonError) the interpreter's current error: call right after an API call that failed.
[[noreturn]] void throw_python_error();
// Raises an exception of the given Python type with a plain message.
[[noreturn]] void raise(PyObject* type, const char* message);
[[noreturn]] void raise(PyObject* type, const std::string& message);

// Returns the `__qualname__` of the object's type, or the stand-in used when it cannot be read.
std::string type_name_of(PyObject* object);
// Raises TypeError "'{type}' object cannot be converted to '{target}'".
[[noreturn]] void raise_conversion_error(PyObject* object, const char* target);

// Guard-conflict messages.
inline constexpr const char* already_borrowed = "Already borrowed";
inline constexpr const char* already_mutably_borrowed = "Already mutably borrowed";

// Checks the result of an API call that returns a new reference, raising its error when it is null.
inline Ref checked(PyObject* result) {
    if (result == nullptr) {
        throw_python_error();
    }
    return Ref::steal(result);
}

}  // namespace velnor::boundary
