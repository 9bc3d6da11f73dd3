// Span.to_interval: the span as an Interval of closed real segments.
#include "boundary/entry.hpp"
#include "boundary/instance.hpp"
#include "interval/from_span.hpp"
#include "interval/interval_class.hpp"
#include "span/span_class.hpp"

namespace velnor::span_python {

namespace {

boundary::Ref span_to_interval(PyObject* self) {
    const boundary::Shared<SpanClass> receiver(self);
    return boundary::new_instance<IntervalClass>(interval::from_span(*receiver));
}

}  // namespace

PyObject* to_interval(PyObject* self, PyObject* unused) noexcept {
    return boundary::noargs_entry<span_to_interval>(self, unused);
}

}  // namespace velnor::span_python
