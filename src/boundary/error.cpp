#include "boundary/error.hpp"

namespace velnor::boundary {

PythonError::PythonError() noexcept {
    PyObject* type = nullptr;
    PyObject* value = nullptr;
    PyObject* traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    if (type == nullptr) {
        type_ = Ref::borrow(PyExc_SystemError);
        value_ = Ref::steal(PyUnicode_FromString("attempted to fetch exception but none was set"));
        return;
    }
    type_ = Ref::steal(type);
    value_ = Ref::steal(value);
    traceback_ = Ref::steal(traceback);
}

PythonError::PythonError(Ref type, Ref value, Ref traceback) noexcept
    : type_(std::move(type)), value_(std::move(value)), traceback_(std::move(traceback)) {}

void PythonError::restore() noexcept {
    PyErr_Restore(type_.release(), value_.release(), traceback_.release());
}

bool PythonError::matches(PyObject* type) const noexcept {
    return PyErr_GivenExceptionMatches(type_.get(), type) != 0;
}

PyObject* PythonError::value() noexcept {
    PyObject* type = type_.release();
    PyObject* value = value_.release();
    PyObject* traceback = traceback_.release();
    PyErr_NormalizeException(&type, &value, &traceback);
    type_ = Ref::steal(type);
    value_ = Ref::steal(value);
    traceback_ = Ref::steal(traceback);
    return value_.get();
}

bool PythonError::stops_fallbacks() const noexcept {
    return boundary::stops_fallbacks(type_.get());
}

bool stops_fallbacks(PyObject* type) noexcept {
    return PyErr_GivenExceptionMatches(type, PyExc_Exception) == 0 ||
           PyErr_GivenExceptionMatches(type, PyExc_MemoryError) != 0;
}

void clear_error_or_stop() {
    PyObject* type = PyErr_Occurred();
    if (type != nullptr && stops_fallbacks(type)) {
        throw_python_error();
    }
    PyErr_Clear();
}

void throw_python_error() {
    throw PythonError();
}

void raise(PyObject* type, const char* message) {
    PyErr_SetString(type, message);
    throw PythonError();
}

void raise(PyObject* type, const std::string& message) {
    raise(type, message.c_str());
}

std::string type_name_of(PyObject* object) {
    Ref name = Ref::steal(PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(object)), "__qualname__"));
    if (name && PyUnicode_Check(name.get())) {
        Py_ssize_t size = 0;
        if (const char* text = PyUnicode_AsUTF8AndSize(name.get(), &size)) {
            return std::string(text, static_cast<std::size_t>(size));
        }
    }
    clear_error_or_stop();
    return "<failed to extract type name>";
}

void raise_conversion_error(PyObject* object, const char* target) {
    // Built by appending: GCC 12 reports a false -Wrestrict on `"..." + std::string`.
    std::string message("'");
    message.append(type_name_of(object)).append("' object cannot be converted to '").append(target).append("'");
    raise(PyExc_TypeError, message);
}

}  // namespace velnor::boundary
