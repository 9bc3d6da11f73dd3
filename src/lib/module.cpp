// The module's entry point: creates the module object and registers every name in a fixed order.
#include "boundary/allocation_hook.hpp"
#include "boundary/float_digits.hpp"
#include "boundary/trampoline.hpp"
#include "interval/interval_class.hpp"
#include "lib/chunks_iter.hpp"
#include "lib/reconstruct.hpp"
#include "lib/registration.hpp"
#include "lib/text_functions.hpp"
#include "span/span_class.hpp"
#include "text/kernels.hpp"

namespace velnor {

namespace {

PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT,
    "velnor_lib",
    "Integer spans, real intervals, text match indices and chunked iteration, implemented in native code.",
    0,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

// Registration order is also the order of `__all__`.
void register_names(PyObject* module) {
    using namespace registration;
    register_text_functions(module);
    add_class(module, IntervalClass::type());
    add_class(module, SpanClass::type());
    add_class(module, ChunksIterClass::type());
    register_iter_chunk(module);
    add(module, "__version__", boundary::checked(PyUnicode_FromString("0.3.0-beta6")));
    // Reachable for pickle, which finds a reconstructor by module and name, but not one of the module's names.
    register_reconstructor(module);
#if defined(VELNOR_ALLOCATION_HOOK)
    boundary::register_allocation_hook(module);  // test builds only, and never in __all__
#endif
}

}  // namespace

}  // namespace velnor

PyMODINIT_FUNC PyInit_velnor_lib() {
    return velnor::boundary::guarded([] {
        velnor::boundary::Ref module = velnor::boundary::checked(PyModule_Create2(&velnor::module_definition, 3));
        velnor::register_names(module.get());
        velnor::boundary::install_interrupt_check();
        if (velnor::boundary::internal_error_type() == nullptr) {  // made now, while memory is at hand
            velnor::boundary::throw_python_error();
        }
        velnor::boundary::install_float_digits();
        // Test runs force each vector kernel set in turn; naming one this CPU lacks must not pass quietly.
        if (!velnor::text::use_kernels_from_environment()) {
            velnor::boundary::raise(PyExc_ImportError, "VELNOR_SIMD names no kernel set that this CPU runs");
        }
        return module;
    });
}
