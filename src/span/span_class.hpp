// The Python class Span: traits for the boundary layer and the pieces its type object is built from.
#pragma once

#include "boundary/convert.hpp"
#include "boundary/instance.hpp"
#include "span/algebra.hpp"
#include "span/format.hpp"
#include "span/segment.hpp"
#include "span/state.hpp"

namespace velnor {

struct SpanClass {
    using Value = span::Segments;
    using Derived = core::SegmentIndex<std::int64_t>;  // built at the first membership test after a change
    using Point = std::int64_t;
    static constexpr const char* name = "Span";
    static Point to_point(PyObject* object) { return boundary::to_int64(object); }
    // Returns the one Span type object of the process, creating it on the first call.
    static PyTypeObject* type();
};

namespace span_python {

// Constructor and `segments`.
PyObject* new_(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept;
PyObject* get_segments(PyObject* self, void*) noexcept;

// Conversion to an Interval of closed segments.
PyObject* to_interval(PyObject* self, PyObject*) noexcept;

}  // namespace span_python
}  // namespace velnor
