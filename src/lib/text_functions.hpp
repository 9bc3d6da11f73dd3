// The text match functions: match_indices and its unit and direction variants, and utf16len.
#pragma once

#include "boundary/python.hpp"

namespace velnor {

// Adds the seven text functions to the module, in their documented order.
void register_text_functions(PyObject* module);

}  // namespace velnor
