// _reconstruct(name, state): the other half of Span.__reduce__ and Interval.__reduce__. A pickle is data
// from outside, so the state is decoded only when it proves normalised; anything else is refused with
// ValueError (or TypeError for arguments of the wrong type), and no object is made.
#include "lib/reconstruct.hpp"

#include "boundary/binder.hpp"
#include "boundary/convert.hpp"
#include "boundary/entry.hpp"
#include "boundary/set_pickle.hpp"
#include "interval/interval_class.hpp"
#include "lib/registration.hpp"
#include "span/span_class.hpp"

#include <algorithm>
#include <cstdint>
#include <span>
#include <string>

namespace velnor {

using namespace boundary;

namespace {

constexpr const char* name_state[] = {"name", "state"};
constexpr FunctionDescription reconstruct_description = {nullptr, set_pickle::reconstructor_name, name_state, 2,
                                                         false};

// Converter: a bytes object (or subclass), lent in place.
std::span<const std::uint8_t> to_bytes(PyObject* object) {
    char* data = nullptr;
    Py_ssize_t size = 0;
    if (!PyBytes_Check(object)) {
        raise_conversion_error(object, "PyBytes");
    }
    if (PyBytes_AsStringAndSize(object, &data, &size) < 0) {
        throw_python_error();
    }
    return {reinterpret_cast<const std::uint8_t*>(data), static_cast<std::size_t>(size)};
}

template <class Class>
Ref rebuild(std::span<const std::uint8_t> state) {
    typename Class::Value segments;
    const core::StateError error = decode_state(state, segments);
    if (error.fault != core::StateFault::none) {
        raise(PyExc_ValueError, core::state_message(Class::name, error));
    }
    return new_instance<Class>(std::move(segments));
}

bool is_named(PyObject* text, const char* name) {
    const int differs = PyUnicode_CompareWithASCIIString(text, name);
    if (differs == -1 && PyErr_Occurred()) {
        throw_python_error();
    }
    return differs == 0;
}

// At most this many code points of an unknown name are quoted in the message.
constexpr Py_ssize_t quoted_name_limit = 50;

// The name as repr() writes it, which escapes NUL, lone surrogates and other unprintable code points; a
// longer name is cut, an ellipsis before the closing quote.
std::string quoted_name(PyObject* name) {
    const Py_ssize_t length = PyUnicode_GetLength(name);
    if (length < 0) {
        throw_python_error();
    }
    // A substring is an exact str, whose repr runs no Python code.
    Ref head = checked(PyUnicode_Substring(name, 0, std::min(length, quoted_name_limit)));
    Ref quoted = checked(PyObject_Repr(head.get()));
    Py_ssize_t size = 0;
    const char* text = PyUnicode_AsUTF8AndSize(quoted.get(), &size);
    if (text == nullptr) {
        throw_python_error();
    }
    std::string out(text, static_cast<std::size_t>(size));
    if (length > quoted_name_limit) {
        out.insert(out.size() - 1, "...");
    }
    return out;
}

Ref reconstruct(PyObject*, PyObject* args, PyObject* kwargs) {
    const Arguments<2> arguments(reconstruct_description, args, kwargs);
    PyObject* name = arguments.convert(0, to_str);
    const std::span<const std::uint8_t> state = arguments.convert(1, to_bytes);
    if (is_named(name, SpanClass::name)) {
        return rebuild<SpanClass>(state);
    }
    if (is_named(name, IntervalClass::name)) {
        return rebuild<IntervalClass>(state);
    }
    raise(PyExc_ValueError, "_reconstruct() rebuilds a 'Span' or an 'Interval', not " + quoted_name(name));
}

PyMethodDef reconstruct_definition = varargs_method<reconstruct>(set_pickle::reconstructor_name,
                                                                 set_pickle::reconstructor_doc);

}  // namespace

void register_reconstructor(PyObject* module) {
    registration::add_unlisted_function(module, reconstruct_definition);
}

}  // namespace velnor
