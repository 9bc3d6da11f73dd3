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

// Returns the index of the parameter named like `key` (a str), or -1. The names are ASCII, so comparing
// code points is comparing UTF-8 bytes, and it neither fails nor leaves a UTF-8 copy inside the key.
Py_ssize_t find_parameter(const FunctionDescription& description, PyObject* key) {
    const Py_ssize_t length = PyUnicode_GetLength(key);
    for (std::size_t i = 0; i < description.parameters.size(); ++i) {
        const char* name = description.parameters[i];
        // Equal lengths first: the comparison stops at a NUL inside the key.
        if (static_cast<Py_ssize_t>(std::strlen(name)) == length &&
            PyUnicode_CompareWithASCIIString(key, name) == 0) {
            return static_cast<Py_ssize_t>(i);
        }
    }
    return -1;
}

// Binds one keyword argument, or raises the message for the first offending one.
void bind_keyword(const FunctionDescription& description, PyObject* key, PyObject* value, Ref* slots) {
    if (!PyUnicode_Check(key)) {
        // Only a caller in C can pass such a dictionary; the interpreter's own calls refuse it so.
        raise(PyExc_TypeError, "keywords must be strings");
    }
    const Py_ssize_t index = find_parameter(description, key);
    if (index < 0) {
        raise_with_keyword(description, "got an unexpected keyword argument", key);
    }
    if (slots[index]) {
        raise_with_keyword(description, "got multiple values for argument", key);
    }
    slots[index] = Ref::borrow(value);
}

// Raises the missing-arguments message when a required slot is still empty after `given` positionals.
void check_required(const FunctionDescription& description, Py_ssize_t given, const Ref* slots) {
    if (given >= static_cast<Py_ssize_t>(description.required)) {
        return;
    }
    std::vector<const char*> missing;
    for (std::size_t i = 0; i < description.required; ++i) {
        if (!slots[i]) {
            missing.push_back(description.parameters[i]);
        }
    }
    if (!missing.empty()) {
        raise_missing(description, missing);
    }
}

}  // namespace

Ref extract_arguments_tuple_dict(const FunctionDescription& description, PyObject* args, PyObject* kwargs,
                                 Ref* slots) {
    const auto count = static_cast<Py_ssize_t>(description.parameters.size());
    const Py_ssize_t given = args == nullptr ? 0 : PyTuple_Size(args);
    const Py_ssize_t positional = given < count ? given : count;
    for (Py_ssize_t i = 0; i < positional; ++i) {
        slots[i] = Ref::borrow(PyTuple_GetItem(args, i));
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
            bind_keyword(description, key, value, slots);
        }
    }
    check_required(description, given, slots);
    return rest;
}

std::span<PyObject* const> extract_arguments_fastcall(const FunctionDescription& description,
                                                      PyObject* const* args, Py_ssize_t nargs,
                                                      PyObject* kwnames, Ref* slots) {
    const auto count = static_cast<Py_ssize_t>(description.parameters.size());
    const Py_ssize_t positional = nargs < count ? nargs : count;
    for (Py_ssize_t i = 0; i < positional; ++i) {
        slots[i] = Ref::borrow(args[i]);
    }
    std::span<PyObject* const> rest;
    if (nargs > count) {
        if (!description.variadic) {
            raise_too_many(description, nargs);
        }
        rest = std::span<PyObject* const>(args + count, static_cast<std::size_t>(nargs - count));
    }
    if (kwnames != nullptr) {
        // The names come in the order the keywords were written, or in the unpacked dictionary's order.
        const Py_ssize_t keywords = PyTuple_Size(kwnames);
        for (Py_ssize_t i = 0; i < keywords; ++i) {
            bind_keyword(description, PyTuple_GetItem(kwnames, i), args[nargs + i], slots);
        }
    }
    check_required(description, nargs, slots);
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
