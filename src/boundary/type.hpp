// Creation of the module's class objects, all built the same way from a type specification.
#pragma once

#include "boundary/ref.hpp"

#include <span>

namespace velnor::boundary {

struct ClassDescription {
    // "velnor_lib.{name}", so that the class reports the module where pickle finds it by name; a static
    // string, the type keeps pointing at it.
    const char* qualified_name;
    const char* doc;             // null for a class without a docstring
    int basic_size;
    destructor dealloc;
    // The class's own slots, without the terminating sentinel. With Py_tp_traverse among them, the class
    // takes part in cyclic garbage collection (its instances are allocated and freed through the collector).
    std::span<const PyType_Slot> slots;
    PyMethodDef* methods;                // null when the class has none
    PyGetSetDef* getset;                 // null when the class has none
    bool unhashable;                     // hashing raises TypeError; the class attribute __hash__ is None
};

// Creates the type object; a failure is an internal fault naming the class.
PyTypeObject* create_type(const ClassDescription& description);

}  // namespace velnor::boundary
