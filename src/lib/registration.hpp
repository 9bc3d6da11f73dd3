// Adding names to the module: each name goes into `__all__` and becomes a module attribute.
#pragma once

#include "boundary/ref.hpp"

namespace velnor::registration {

// Appends `name` to the module's `__all__` (creating the list on first use), then sets the attribute.
void add(PyObject* module, const char* name, boundary::Ref value);
// Creates a built-in function bound to the module from a static record and adds it under its name.
void add_function(PyObject* module, PyMethodDef& definition);
// Creates a built-in function bound to the module and sets it as an attribute only, not in `__all__`: for
// names the module needs to be reachable (pickle finds functions by module and name) but does not offer.
void add_unlisted_function(PyObject* module, PyMethodDef& definition);
// Adds a class under its Python name (the part of the type name after the last dot).
void add_class(PyObject* module, PyTypeObject* type);

}  // namespace velnor::registration
