// Creation of the module's class objects, all built the same way from a type specification.
#pragma once

#include "boundary/ref.hpp"

#include <span>

namespace velnor::boundary {

struct ClassDescription {
    const char* qualified_name;  // "builtins.{name}": a static string, the type keeps pointing at it
    const char* doc;             // null for a class without a docstring
    int basic_size;
    destructor dealloc;
    // The class's own slots, without the terminating sentinel. With Py_tp_traverse among them, the class
    // takes part in cyclic garbage collection (its instances are allocated and freed through the collector).
    std::span<const PyType_Slot> slots;
    PyMethodDef* methods;                // null when the class has none
    PyGetSetDef* getset;                 // null when the class has none
    bool unhashable;                     // sets the class attribute __hash__ to None
};

// Creates the type object; a failure is an internal fault naming the class.
PyTypeObject* create_type(const ClassDescription& description);

}  // namespace velnor::boundary
