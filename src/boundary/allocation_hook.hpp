// Test builds only (VELNOR_ALLOCATION_HOOK): a countdown inside the C++ allocator that makes one chosen
// allocation fail, so tests can drive every allocation-failure path of every call.
#pragma once

#include "boundary/python.hpp"

namespace velnor::boundary {

// Adds the private control functions `_fail_allocation`, `_allocations_failed` and `_allocations_live`
// to the module, outside `__all__`.
void register_allocation_hook(PyObject* module);

}  // namespace velnor::boundary
