// Interval construction from its four input shapes, and the `segments` view.
#include "boundary/binder.hpp"
#include "boundary/convert.hpp"
#include "boundary/entry.hpp"
#include "boundary/result.hpp"
#include "interval/from_span.hpp"
#include "interval/interval_class.hpp"
#include "span/span_class.hpp"

#include <optional>

namespace velnor::interval_python {

using namespace boundary;

namespace {

interval::Segment to_segment(PyObject* item) {
    auto [left_closed, start, end, right_closed] = to_tuple(item, to_bool, to_double, to_double, to_bool);
    return {left_closed, start, end, right_closed};
}

// The `Segments` alternative: every item converted, or nothing when any item is not a segment 4-tuple.
std::optional<interval::Segments> try_read_segments(PyObject* input) {
    if (!PySequence_Check(input)) {
        return std::nullopt;
    }
    try {
        return to_vector(input, to_segment);
    } catch (PythonError&) {
        return std::nullopt;  // this alternative failed; the next one decides
    }
}

// The `Span` alternative: a span that is not held exclusively, as closed real segments.
std::optional<interval::Segments> try_read_span(PyObject* input) {
    if (auto shared = try_read_shared<SpanClass>(input)) {
        return interval::from_span(**shared);
    }
    return std::nullopt;
}

// The `Interval` alternative: a copy of an interval that is not held exclusively.
std::optional<interval::Segments> try_read_interval(PyObject* input) {
    if (auto shared = try_read_shared<IntervalClass>(input)) {
        return **shared;
    }
    return std::nullopt;
}

// The `PyAny` alternative: whatever `input.to_interval()` returns must be an interval.
interval::Segments read_to_interval_hook(PyObject* input) {
    Ref method = checked(PyObject_GetAttrString(input, "to_interval"));
    Ref no_arguments = checked(PyTuple_New(0));
    Ref result = checked(PyObject_Call(method.get(), no_arguments.get(), nullptr));
    return read_copy<IntervalClass>(result.get());
}

const char* message_of(interval::Defect defect) noexcept {
    switch (defect) {
        case interval::Defect::nan_bound: return "Segment points cannot be NaN";
        case interval::Defect::start_after_end: return "Start point of segment cannot be greater than its end point";
        default: return "Interval cannot contain inf";
    }
}

interval::Segments segments_from_input(PyObject* input) {
    if (auto segments = try_read_segments(input)) {
        // All items are converted before the first is validated.
        const interval::Defect defect = interval::keep_valid(*segments);
        if (defect != interval::Defect::none) {
            raise(PyExc_ValueError, message_of(defect));
        }
        interval::merge_segments(*segments);
        return std::move(*segments);
    }
    if (auto converted = try_read_span(input)) {
        return std::move(*converted);
    }
    if (auto copied = try_read_interval(input)) {
        return std::move(*copied);
    }
    return read_to_interval_hook(input);
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
    const Shared<IntervalClass> receiver(self);
    return to_list(*receiver, [](const interval::Segment& segment) {
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
