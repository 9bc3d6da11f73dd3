// Installs the interpreter's float repr as the digit source of the interval text forms.
#pragma once

#include "boundary/python.hpp"

namespace velnor::boundary {

// Called once at import.
void install_float_digits() noexcept;

}  // namespace velnor::boundary
