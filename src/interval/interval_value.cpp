// Interval construction from its four input shapes, and the `segments` view.
#include "boundary/binder.hpp"
#include "boundary/convert.hpp"
#include "boundary/entry.hpp"
#include "boundary/result.hpp"
#include "boundary/set_class.hpp"
#include "core/polled_copy.hpp"
#include "interval/from_span.hpp"
#include "interval/interval_class.hpp"
#include "span/span_class.hpp"

#include <functional>

namespace velnor::interval_python {

using namespace boundary;

namespace {

interval::Segment to_segment(PyObject* item) {
    auto [left_closed, start, end, right_closed] = to_tuple(item, to_bool, to_double, to_double, to_bool);
    return {left_closed, start, end, right_closed};
}

const char* message_of(interval::Defect defect) noexcept {
    switch (defect) {
        case interval::Defect::nan_bound: return "Segment points cannot be NaN";
        case interval::Defect::start_after_end: return "Start point of segment cannot be greater than its end point";
        default: return "Interval cannot contain inf";
    }
}

// What the constructor takes, for the error of an input that fits none of the alternatives.
constexpr const char* accepted =
    "Interval() takes None, a sequence of (left_closed, start, end, right_closed) tuples of a bool, two real "
    "numbers and a bool, a Span, an Interval, or an object whose to_interval() returns an Interval";

// The alternatives in order: a sequence of segment tuples, a span, an interval, the `to_interval()` hook.
interval::Segments segments_from_input(PyObject* input) {
    InputMiss miss;
    if (auto segments = set_class::try_read_sequence<interval::Segments>(input, to_segment, miss)) {
        // All items are converted before the first is validated.
        const interval::Defect defect = interval::keep_valid(*segments);
        if (defect != interval::Defect::none) {
            raise(PyExc_ValueError, message_of(defect));
        }
        interval::merge_segments(*segments);
        return std::move(*segments);
    }
    if (auto converted = set_class::try_read_instance<SpanClass>(input, interval::from_span, miss)) {
        return std::move(*converted);
    }
    if (auto copied = set_class::try_read_instance<IntervalClass>(input, std::identity{}, miss)) {
        return std::move(*copied);
    }
    return set_class::read_from_hook<IntervalClass>(input, "to_interval", miss, accepted);
}

Ref construct(PyTypeObject*, PyObject* args, PyObject* kwargs) {
    const Arguments<1> arguments(descriptions::interval::new_, args, kwargs);
    PyObject* input = arguments[0];
    if (input == nullptr || input == Py_None) {
        return new_instance<IntervalClass>({});
    }
    return new_instance<IntervalClass>(segments_from_input(input));
}

Ref segments(PyObject* self) {
    // The tuples are made from a copy, after the hold ends: an allocation may start a collection whose
    // finalisers run Python code, which must find the object free.
    const interval::Segments copied = core::polled_copy(*Shared<IntervalClass>(self));
    return to_list(copied, [](const interval::Segment& segment) {
        return make_tuple(to_python(segment.left_closed), to_python(segment.start), to_python(segment.end),
                          to_python(segment.right_closed));
    });
}

}  // namespace

PyObject* new_(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
    return new_entry<construct>(type, args, kwargs);
}

PyObject* get_segments(PyObject* self, void* closure) noexcept {
    return getter_entry<segments>(self, closure);
}

}  // namespace velnor::interval_python
