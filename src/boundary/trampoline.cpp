#include "boundary/trampoline.hpp"

#include "boundary/error.hpp"
#include "core/interrupt.hpp"

#include <atomic>
#include <exception>
#include <new>

namespace velnor::boundary {

PyObject* internal_error_type() noexcept {
    // Made at import and never released: it outlives every module object. Until one exists (making it can
    // fail for want of memory), each call tries again rather than remember the failure.
    static std::atomic<PyObject*> type{nullptr};
    PyObject* known = type.load(std::memory_order_acquire);
    if (known != nullptr) {
        return known;
    }
    PyObject* made = PyErr_NewExceptionWithDoc(
        "velnor_lib.InternalError",
        "A fault inside velnor_lib's native code; it derives from BaseException so that it is not swallowed.",
        PyExc_BaseException, nullptr);
    if (made == nullptr || type.compare_exchange_strong(known, made, std::memory_order_acq_rel)) {
        return made;
    }
    Py_DECREF(made);  // another thread's is kept
    return known;
}

namespace {

// Runs the handlers of pending signals; one that raises turns into the exception that stops the loop.
void check_signals() {
    if (PyErr_CheckSignals() < 0) {
        throw_python_error();
    }
}

void set_internal_error(const char* message) noexcept {
    PyObject* type = internal_error_type();
    if (type == nullptr) {
        return;  // Creating the type failed and left its own error set.
    }
    PyErr_SetString(type, message);
}

}  // namespace

void install_interrupt_check() noexcept {
    core::interrupt_check.store(check_signals, std::memory_order_relaxed);
}

void set_error_from_current_exception() noexcept {
    try {
        throw;
    } catch (PythonError& error) {
        error.restore();
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const std::exception& fault) {
        set_internal_error(fault.what());
    } catch (...) {
        set_internal_error("unknown internal fault");
    }
}

}  // namespace velnor::boundary
