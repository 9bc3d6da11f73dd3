// Freeing a list of a hundred million items takes a second or more. A call that stops (Ctrl-C) with such a
// partial result hands it here and returns at once; the list is freed afterwards, a slice at a time, between
// the bytecodes of the main thread, each slice a millisecond or so.
#pragma once

#include "boundary/ref.hpp"

namespace velnor::boundary {

// Releases `list`, a list that no Python code can reach: at once when it is short, otherwise from its end,
// one slice per pending call of the interpreter (at once after all when no pending call can be added).
void release_in_slices(Ref list) noexcept;

}  // namespace velnor::boundary
