#include "boundary/slow_release.hpp"

namespace velnor::boundary {

namespace {

// Items freed by one pending call.
constexpr Py_ssize_t release_slice = Py_ssize_t{1} << 16;

// Frees the last slice of the list it owns, and comes back for the next one; the rest goes at once when
// the list is short or the slice cannot be cut. No error is left set: there is no caller to report it to.
int release_step(void* argument) noexcept {
    PyObject* list = static_cast<PyObject*>(argument);
    const Py_ssize_t size = PyList_Size(list);
    if (size > release_slice) {
        if (PyList_SetSlice(list, size - release_slice, size, nullptr) == 0) {
            if (Py_AddPendingCall(release_step, list) == 0) {
                return 0;
            }
        } else {
            PyErr_Clear();
        }
    }
    Py_DECREF(list);
    return 0;
}

}  // namespace

void release_in_slices(Ref list) noexcept {
    if (PyList_Size(list.get()) > release_slice && Py_AddPendingCall(release_step, list.get()) == 0) {
        static_cast<void>(list.release());  // the pending call owns it now
    }
}

}  // namespace velnor::boundary
