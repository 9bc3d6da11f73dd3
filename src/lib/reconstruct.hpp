// The function that pickles of Span and Interval name to rebuild their objects.
#pragma once

#include "boundary/python.hpp"

namespace velnor {

// Sets `_reconstruct` on the module, outside `__all__`.
void register_reconstructor(PyObject* module);

}  // namespace velnor
