// Pickling and copying of the two set classes. A pickle names the module's reconstructor and carries the
// class name and the segment list in its fixed-width binary state (span/state.hpp, interval/state.hpp);
// copies are new objects with their own lists.
//
// `Class` is a traits type as in set_class.hpp; its value's namespace must offer, found by lookup:
//   std::size_t state_size(const Value&);
//   void encode_state(const Value&, std::span<std::uint8_t>);
#pragma once

#include "boundary/entry.hpp"
#include "boundary/instance.hpp"
#include "boundary/result.hpp"
#include "core/polled_copy.hpp"

#include <array>
#include <cstdint>
#include <span>
#include <utility>

namespace velnor::boundary::set_pickle {

// The module attribute that pickles name; kept out of `__all__`.
inline constexpr const char* reconstructor_name = "_reconstruct";
inline constexpr const char* reconstructor_doc =
    "Rebuilds a Span or an Interval from the state its pickle carries; not for direct use.";

// The segment list as a new bytes object, written in place.
template <class Class>
Ref state_bytes(const typename Class::Value& value) {
    const std::size_t size = state_size(value);
    Ref bytes = checked(PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(size)));
    char* buffer = PyBytes_AsString(bytes.get());
    if (buffer == nullptr) {
        throw_python_error();
    }
    encode_state(value, std::span<std::uint8_t>(reinterpret_cast<std::uint8_t*>(buffer), size));
    return bytes;
}

// __reduce__: (velnor_lib._reconstruct, (class name, state)). The reconstructor is looked up on the
// imported module each time, as pickle does when it checks that the name leads back to that object.
// The class name is interned, so a pickle of many objects stores it once.
template <class Class>
Ref reduce(PyObject* self) {
    Ref state = state_bytes<Class>(*Shared<Class>(self));  // the hold ends here, before any Python code runs
    Ref module = checked(PyImport_ImportModule("velnor_lib"));
    Ref reconstructor = checked(PyObject_GetAttrString(module.get(), reconstructor_name));
    Ref name = checked(PyUnicode_InternFromString(Class::name));
    return make_tuple(std::move(reconstructor), make_tuple(std::move(name), std::move(state)));
}

// __copy__ and __deepcopy__: a new object with a copy of the list. The list holds no Python objects, so a
// deep copy is the same as a shallow one and the memo has nothing to record beyond what copy.deepcopy does.
template <class Class>
Ref copy(PyObject* self) {
    typename Class::Value copied = core::polled_copy(*Shared<Class>(self));  // the hold ends before the object is made
    return new_instance<Class>(std::move(copied));
}

template <class Class>
Ref deep_copy(PyObject* self, PyObject*) {
    return copy<Class>(self);
}

// Method-table rows, in the order the class lists them.
template <class Class>
std::array<PyMethodDef, 3> methods() {
    return {{
        noargs_method<reduce<Class>>("__reduce__", "Return state information for pickling."),
        noargs_method<copy<Class>>("__copy__", "Return a new object with a copy of the segments."),
        {"__deepcopy__", binary_entry<deep_copy<Class>>, METH_O, "Return a new object with a copy of the segments."},
    }};
}

}  // namespace velnor::boundary::set_pickle
