// The Python class Interval: traits for the boundary layer and the pieces its type object is built from.
#pragma once

#include "boundary/convert.hpp"
#include "boundary/instance.hpp"
#include "interval/algebra.hpp"
#include "interval/format.hpp"
#include "interval/segment.hpp"
#include "interval/state.hpp"

namespace velnor {

struct IntervalClass {
    using Value = interval::Segments;
    using Derived = core::SegmentIndex<double>;  // built at the first membership test after a change
    using Point = double;
    static constexpr const char* name = "Interval";
    static Point to_point(PyObject* object) { return boundary::to_double(object); }
    // Returns the one Interval type object of the process, creating it on the first call.
    static PyTypeObject* type();
};

namespace interval_python {

// Constructor and `segments`.
PyObject* new_(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept;
PyObject* get_segments(PyObject* self, void*) noexcept;

}  // namespace interval_python
}  // namespace velnor
