#include "boundary/input_miss.hpp"

#include <utility>

namespace velnor::boundary {

namespace {

// The exception object of `error`, normalised and carrying its traceback, as a `raise` would leave it.
Ref exception_object(PythonError error) {
    error.restore();
    PyObject* parts[3] = {nullptr, nullptr, nullptr};
    PyErr_Fetch(&parts[0], &parts[1], &parts[2]);
    PyErr_NormalizeException(&parts[0], &parts[1], &parts[2]);
    const Ref type = Ref::steal(parts[0]);
    Ref value = Ref::steal(parts[1]);
    const Ref traceback = Ref::steal(parts[2]);
    if (value && traceback && PyException_SetTraceback(value.get(), traceback.get()) < 0) {
        clear_error_or_stop();
    }
    return value;
}

// Adds `note` (null when making it failed) to the exception, where exceptions have notes (3.11 on).
void add_note(PyObject* exception, Ref note) {
    if (!note) {
        clear_error_or_stop();
        return;
    }
    const Ref method = Ref::steal(PyObject_GetAttrString(exception, "add_note"));
    if (!method || !Ref::steal(PyObject_CallFunctionObjArgs(method.get(), note.get(), nullptr))) {
        clear_error_or_stop();
    }
}

}  // namespace

void InputMiss::item_failed(PythonError error, Ref item, std::size_t index) noexcept {
    reason_ = Reason::item;
    error_.emplace(std::move(error));
    item_ = std::move(item);
    index_ = index;
}

void InputMiss::read_failed(PythonError error) noexcept {
    reason_ = Reason::read;
    error_.emplace(std::move(error));
}

Ref InputMiss::cause(PyObject* input) {
    switch (reason_) {
        case Reason::none:
            return Ref();
        case Reason::not_a_sequence:
            try {
                raise_conversion_error(input, "Sequence");
            } catch (PythonError& error) {
                if (error.stops_fallbacks()) {
                    throw;
                }
                return exception_object(std::move(error));
            }
        case Reason::item: {
            Ref exception = exception_object(std::move(*error_));
            if (exception) {
                // The item's text is cut at 200 characters: the note names the item, it need not show it all.
                add_note(exception.get(),
                         Ref::steal(PyUnicode_FromFormat("item %zu of the sequence: %.200R", index_, item_.get())));
            }
            return exception;
        }
        case Reason::read:
            return exception_object(std::move(*error_));
        case Reason::instance_held:
            try {
                raise(PyExc_RuntimeError, already_mutably_borrowed);
            } catch (PythonError& error) {
                return exception_object(std::move(error));
            }
    }
    return Ref();
}

void InputMiss::explain(PythonError& error, PyObject* input, const char* accepted) {
    PyObject* exception = error.value();
    if (exception == nullptr) {
        return;
    }
    if (!Ref::steal(PyException_GetCause(exception))) {
        if (Ref cause = this->cause(input)) {
            PyException_SetCause(exception, cause.release());  // takes the reference
        } else {
            clear_error_or_stop();
        }
    }
    add_note(exception, Ref::steal(PyUnicode_FromString(accepted)));
}

}  // namespace velnor::boundary
