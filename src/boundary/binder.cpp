#include "boundary/binder.hpp"

#include "core/compiler.hpp"

#include <cstring>
#include <string>
#include <vector>

namespace velnor::boundary {

namespace {

// "{class}.{callable}()" for methods and constructors, "{callable}()" for module functions.
std::string full_name(const FunctionDescription& description) {
    std::string name;
    if (description.class_name != nullptr) {
        name.append(description.class_name).append(".");
    }
    return name.append(description.name).append("()");
}

std::string was_or_were(Py_ssize_t given) {
    return std::to_string(given) + (given == 1 ? " was given" : " were given");
}

// Messages are built off the hot path.
[[noreturn]] VELNOR_COLD void raise_too_many(const FunctionDescription& description,
                                              Py_ssize_t given) {
    const std::size_t count = description.parameters.size();
    std::string takes = description.required == count
                            ? std::to_string(count)
                            : "from " + std::to_string(description.required) + " to " + std::to_string(count);
    raise(PyExc_TypeError,
          full_name(description) + " takes " + takes + " positional arguments but " + was_or_were(given));
}

[[noreturn]] VELNOR_COLD void raise_with_keyword(const FunctionDescription& description,
                                                  const char* what, PyObject* key) {
    Ref message = Ref::steal(PyUnicode_FromFormat("%s %s '%U'", full_name(description).c_str(), what, key));
    if (message) {
        PyErr_SetObject(PyExc_TypeError, message.get());
    }
    throw_python_error();
}

[[noreturn]] VELNOR_COLD void raise_missing(const FunctionDescription& description,
                                             const std::vector<const char*>& missing) {
    std::string list;
    for (std::size_t i = 0; i < missing.size(); ++i) {
        if (i > 0) {
            list += missing.size() == 2 ? " and " : (i + 1 == missing.size() ? ", and " : ", ");
        }
        list.append("'").append(missing[i]).append("'");
    }
    raise(PyExc_TypeError, full_name(description) + " missing " + std::to_string(missing.size()) +
                               " required positional " + (missing.size() == 1 ? "argument" : "arguments") +
                               ": " + list);
}

// Returns the index of the parameter named like `key`, or -1. Keys are compared as UTF-8 bytes.
Py_ssize_t find_parameter(const FunctionDescription& description, PyObject* key) {
    Py_ssize_t size = 0;
    const char* text = PyUnicode_Check(key) ? PyUnicode_AsUTF8AndSize(key, &size) : nullptr;
    if (text == nullptr) {
        PyErr_Clear();  // A key that has no UTF-8 form matches no parameter.
        return -1;
    }
    for (std::size_t i = 0; i < description.parameters.size(); ++i) {
        const char* name = description.parameters[i];
        if (std::strlen(name) == static_cast<std::size_t>(size) && std::memcmp(name, text, size) == 0) {
            return static_cast<Py_ssize_t>(i);
        }
    }
    return -1;
}

}  // namespace

Ref extract_arguments_tuple_dict(const FunctionDescription& description, PyObject* args, PyObject* kwargs,
                                 PyObject** slots) {
    const auto count = static_cast<Py_ssize_t>(description.parameters.size());
    const Py_ssize_t given = args == nullptr ? 0 : PyTuple_Size(args);
    const Py_ssize_t positional = given < count ? given : count;
    for (Py_ssize_t i = 0; i < positional; ++i) {
        slots[i] = PyTuple_GetItem(args, i);
    }
    Ref rest;
    if (given > count) {
        if (!description.variadic) {
            raise_too_many(description, given);
        }
        rest = checked(PyTuple_GetSlice(args, count, given));
    } else if (description.variadic) {
        rest = checked(PyTuple_New(0));
    }
    if (kwargs != nullptr) {
        Py_ssize_t position = 0;
        PyObject* key = nullptr;
        PyObject* value = nullptr;
        while (PyDict_Next(kwargs, &position, &key, &value)) {
            const Py_ssize_t index = find_parameter(description, key);
            if (index < 0) {
                raise_with_keyword(description, "got an unexpected keyword argument", key);
            }
            if (slots[index] != nullptr) {
                raise_with_keyword(description, "got multiple values for argument", key);
            }
            slots[index] = value;
        }
    }
    if (given < static_cast<Py_ssize_t>(description.required)) {
        std::vector<const char*> missing;
        for (std::size_t i = 0; i < description.required; ++i) {
            if (slots[i] == nullptr) {
                missing.push_back(description.parameters[i]);
            }
        }
        if (!missing.empty()) {
            raise_missing(description, missing);
        }
    }
    return rest;
}

PythonError argument_extraction_error(const char* name, PythonError error) {
    if (!error.is_exactly(PyExc_TypeError)) {
        return error;
    }
    PyObject* original = error.value();
    Ref text = Ref::steal(PyObject_Str(original));
    if (!text) {
        return PythonError();
    }
    Ref message = Ref::steal(PyUnicode_FromFormat("argument '%s': %U", name, text.get()));
    if (!message) {
        return PythonError();
    }
    Ref replacement = Ref::steal(PyObject_CallFunctionObjArgs(PyExc_TypeError, message.get(), nullptr));
    if (!replacement) {
        return PythonError();
    }
    // PyException_SetCause steals its argument; GetCause gives a new reference, so the pair balances.
    PyException_SetCause(replacement.get(), PyException_GetCause(original));
    return PythonError(Ref::borrow(PyExc_TypeError), std::move(replacement), Ref());
}

}  // namespace velnor::boundary
