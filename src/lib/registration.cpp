#include "lib/registration.hpp"

#include "boundary/error.hpp"

namespace velnor::registration {

using namespace boundary;

namespace {

// Returns the module's `__all__` list, creating it when the attribute is missing.
Ref all_list(PyObject* module) {
    Ref all = Ref::steal(PyObject_GetAttrString(module, "__all__"));
    if (!all) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) {
            throw_python_error();
        }
        PyErr_Clear();
        all = checked(PyList_New(0));
        if (PyObject_SetAttrString(module, "__all__", all.get()) < 0) {
            throw_python_error();
        }
    }
    if (!PyList_Check(all.get())) {
        raise_conversion_error(all.get(), "PyList");
    }
    return all;
}

}  // namespace

void add(PyObject* module, const char* name, Ref value) {
    Ref all = all_list(module);
    Ref text = Ref::steal(PyUnicode_FromString(name));
    if (!text || PyList_Append(all.get(), text.get()) < 0) {
        PyErr_Clear();
        throw InternalFault("could not append __name__ to __all__");
    }
    if (PyObject_SetAttrString(module, name, value.get()) < 0) {
        throw_python_error();
    }
}

void add_function(PyObject* module, PyMethodDef& definition) {
    Ref module_name = checked(PyModule_GetNameObject(module));
    Ref function = checked(PyCFunction_NewEx(&definition, module, module_name.get()));
    Ref name = checked(PyObject_GetAttrString(function.get(), "__name__"));
    const char* text = PyUnicode_Check(name.get()) ? PyUnicode_AsUTF8AndSize(name.get(), nullptr) : nullptr;
    if (text == nullptr) {
        if (!PyErr_Occurred()) {
            raise_conversion_error(name.get(), "PyString");
        }
        throw_python_error();
    }
    add(module, text, std::move(function));
}

void add_unlisted_function(PyObject* module, PyMethodDef& definition) {
    Ref module_name = checked(PyModule_GetNameObject(module));
    Ref function = checked(PyCFunction_NewEx(&definition, module, module_name.get()));
    if (PyObject_SetAttrString(module, definition.ml_name, function.get()) < 0) {
        throw_python_error();
    }
}

void add_class(PyObject* module, PyTypeObject* type) {
    Ref name = checked(PyObject_GetAttrString(reinterpret_cast<PyObject*>(type), "__name__"));
    const char* text = PyUnicode_AsUTF8AndSize(name.get(), nullptr);
    if (text == nullptr) {
        throw_python_error();
    }
    add(module, text, Ref::borrow(reinterpret_cast<PyObject*>(type)));
}

}  // namespace velnor::registration
