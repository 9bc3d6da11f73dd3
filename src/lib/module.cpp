// The module's entry point: creates the module object and registers every name in a fixed order. Under abi3t
// the interpreter creates the module from a slot array and this file only fills it.
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

constexpr const char* module_doc =
    "Integer spans, real intervals, text match indices and chunked iteration, implemented in native code.";

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

// Fills a new module object: its names, then the process-wide settings of the native cores.
void fill_module(PyObject* module) {
    register_names(module);
    boundary::install_interrupt_check();
    if (boundary::internal_error_type() == nullptr) {  // made now, while memory is at hand
        boundary::throw_python_error();
    }
    boundary::install_float_digits();
    // Test runs force each vector kernel set in turn; naming one this CPU lacks must not pass quietly.
    if (!text::use_kernels_from_environment()) {
        boundary::raise(PyExc_ImportError, "VELNOR_SIMD names no kernel set that this CPU runs");
    }
}

}  // namespace

}  // namespace velnor

#if defined(Py_TARGET_ABI3T)

// abi3t has no module definition object: the interpreter reads the module from this slot array, made once.
namespace velnor {
namespace {

int execute_module(PyObject* module) noexcept {
    return boundary::guarded_int([module] {
        fill_module(module);
        return 0;
    });
}

PyABIInfo_VAR(abi_info);

PySlot module_slots[] = {
    PySlot_PTR_STATIC(Py_mod_abi, &abi_info),
    PySlot_PTR_STATIC(Py_mod_name, "velnor_lib"),
    PySlot_PTR_STATIC(Py_mod_doc, module_doc),
    PySlot_PTR_STATIC(Py_mod_exec, reinterpret_cast<void*>(&execute_module)),
    PySlot_PTR_STATIC(Py_mod_gil, Py_MOD_GIL_NOT_USED),
    // The class objects are the process's own, shared by every interpreter that would import the module.
    PySlot_PTR_STATIC(Py_mod_multiple_interpreters, Py_MOD_MULTIPLE_INTERPRETERS_NOT_SUPPORTED),
    PySlot_END,
};

}  // namespace
}  // namespace velnor

PyMODEXPORT_FUNC PyModExport_velnor_lib() {
    return velnor::module_slots;
}

#else

namespace velnor {
namespace {

PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT,
    "velnor_lib",
    module_doc,
    0,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace
}  // namespace velnor

PyMODINIT_FUNC PyInit_velnor_lib() {
    return velnor::boundary::guarded([] {
        velnor::boundary::Ref module = velnor::boundary::checked(PyModule_Create2(&velnor::module_definition, 3));
#if defined(Py_GIL_DISABLED)
        // Without this a free-threaded interpreter turns the GIL back on at import.
        if (PyUnstable_Module_SetGIL(module.get(), Py_MOD_GIL_NOT_USED) < 0) {
            velnor::boundary::throw_python_error();
        }
#endif
        velnor::fill_module(module.get());
        return module;
    });
}

#endif
