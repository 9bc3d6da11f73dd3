// Text forms of integer segment lists.
#pragma once

#include "span/segment.hpp"

#include <string>

namespace velnor::span {

// "Span([(1, 3), (5, 7)])": a constructor call that rebuilds the same span.
std::string format_repr(const Segments& segments);
// "[1, 3] ∪ [5, 7]", or "∅" when empty.
std::string format_str(const Segments& segments);

}  // namespace velnor::span
