// The one way in from the interpreter: every function, method and slot runs its body through `guarded`,
// so no C++ exception ever unwinds into the interpreter.
#pragma once

#include "boundary/hold.hpp"
#include "boundary/ref.hpp"

#include <exception>

namespace velnor::boundary {

// Makes sure the calling thread's C++ exception state exists before any work starts.
// The C++ runtime keeps that state in thread-local storage of its shared library, which the C library
// allocates in each thread on first use; when that allocation fails the process aborts ("cannot allocate
// memory for thread-local data"). Left alone, first use is the first throw in a thread, which under memory
// exhaustion is exactly the std::bad_alloc or MemoryError being reported. Asking for the exception count
// reads that state, so it is allocated on a thread's first call, before the call has used any memory, and
// every later throw finds it. Under glibc a one-byte flag in static thread-local storage (allocated with
// the thread, never lazily) remembers that it is done, so later calls pay one load and one branch.
// A thread whose first call comes after memory ran out would still abort here, so Linux builds with GCC link
// the runtime in (CMakeLists.txt): its state is then static thread-local storage of this module, and the
// touch costs nothing.
inline void touch_exception_state() noexcept {
#if defined(__GNUC__)
    const int count = std::uncaught_exceptions();
    asm volatile("" : : "r"(count));  // the function is declared pure: keep the call
#endif
}

#if defined(__GLIBC__)
[[gnu::tls_model("initial-exec")]] inline thread_local bool exception_state_ready = false;

inline void prepare_thread_for_errors() noexcept {
    if (!exception_state_ready) [[unlikely]] {
        touch_exception_state();
        exception_state_ready = true;
    }
}
#else
inline void prepare_thread_for_errors() noexcept {
    touch_exception_state();
}
#endif

// Turns the exception being handled into the interpreter's current error:
// a PythonError is put back, std::bad_alloc becomes MemoryError, anything else an InternalError.
void set_error_from_current_exception() noexcept;

// Installs the interrupt check of the Python-free cores: a pending signal whose handler raises (Ctrl-C)
// stops the running loop with that exception. Called once at import.
void install_interrupt_check() noexcept;

// Returns the process-wide InternalError type (a direct subclass of BaseException), made on the first call
// that succeeds (the module makes it at import); null with the error set when making it fails.
PyObject* internal_error_type() noexcept;

// Runs `body` (returning Ref) and hands its new reference to the interpreter, or null with the error set.
// A call that backed off from another thread's hold has released all of its own: it waits for that one and
// runs again.
template <class Body>
PyObject* guarded(Body&& body) noexcept {
    prepare_thread_for_errors();
    const HoldScope scope;
    for (;;) {
        try {
            return body().release();
        } catch (const HoldBackOff& conflict) {
            if (!wait_after_back_off(conflict)) {
                return nullptr;
            }
        } catch (...) {
            set_error_from_current_exception();
            return nullptr;
        }
    }
}

// As `guarded`, for slots that answer an int (containment: 1, 0, or -1 on failure).
template <class Body>
int guarded_int(Body&& body) noexcept {
    prepare_thread_for_errors();
    const HoldScope scope;
    for (;;) {
        try {
            return body();
        } catch (const HoldBackOff& conflict) {
            if (!wait_after_back_off(conflict)) {
                return -1;
            }
        } catch (...) {
            set_error_from_current_exception();
            return -1;
        }
    }
}

}  // namespace velnor::boundary
