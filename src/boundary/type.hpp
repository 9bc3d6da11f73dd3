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
    std::span<const PyType_Slot> slots;  // the class's own slots, without the terminating sentinel
    PyMethodDef* methods;                // null when the class has none
    PyGetSetDef* getset;                 // null when the class has none
    bool unhashable;                     // sets the class attribute __hash__ to None
};

// Creates the type object; a failure is an internal fault naming the class.
PyTypeObject* create_type(const ClassDescription& description);

}  // namespace velnor::boundary
