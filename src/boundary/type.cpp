#include "boundary/type.hpp"

#include "boundary/error.hpp"
#include "boundary/trampoline.hpp"

#include <cstring>
#include <string>
#include <vector>

namespace velnor::boundary {

namespace {

PyObject* no_constructor(PyTypeObject*, PyObject*, PyObject*) noexcept {
    PyErr_SetString(PyExc_TypeError, "No constructor defined");
    return nullptr;
}

template <class Function>
void* slot_pointer(Function function) noexcept {
    return reinterpret_cast<void*>(function);
}

}  // namespace

PyTypeObject* create_type(const ClassDescription& description) {
    // Slot order: base, docstring, deallocator, hash, the class's own, constructor fallback, methods, getters.
    std::vector<PyType_Slot> slots;
    slots.push_back({Py_tp_base, &PyBaseObject_Type});
    if (description.doc != nullptr) {
        slots.push_back({Py_tp_doc, const_cast<char*>(description.doc)});
    }
    slots.push_back({Py_tp_dealloc, slot_pointer(description.dealloc)});
    if (description.unhashable) {
        // The interpreter shows this hash as the class attribute `__hash__ = None`, as for `set`; an
        // immutable type cannot be given that attribute after its creation.
        slots.push_back({Py_tp_hash, slot_pointer(&PyObject_HashNotImplemented)});
    }
    bool has_constructor = false;
    bool collectable = false;  // a class that holds Python objects traverses them
    for (const PyType_Slot& slot : description.slots) {
        has_constructor = has_constructor || slot.slot == Py_tp_new;
        collectable = collectable || slot.slot == Py_tp_traverse;
        slots.push_back(slot);
    }
    if (!has_constructor) {
        slots.push_back({Py_tp_new, slot_pointer(&no_constructor)});
    }
    if (description.methods != nullptr) {
        slots.push_back({Py_tp_methods, description.methods});
    }
    if (description.getset != nullptr) {
        slots.push_back({Py_tp_getset, description.getset});
    }
    slots.push_back({0, nullptr});

    PyType_Spec spec{
        .name = description.qualified_name,
#if defined(Py_TARGET_ABI3T)
        .basicsize = -description.basic_size,  // the instance data after the opaque header
#else
        .basicsize = description.basic_size,
#endif
        .itemsize = 0,
        // Immutable, as built-in types are: a class attribute cannot be set or deleted.
        .flags = static_cast<unsigned int>(Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE |
                                           (collectable ? Py_TPFLAGS_HAVE_GC : 0)),
        .slots = slots.data(),
    };
    const char* short_name = std::strrchr(description.qualified_name, '.') + 1;
    Ref type = Ref::steal(PyType_FromSpec(&spec));
    if (!type) {
        PyErr_Clear();
        throw InternalFault(std::string("An error occurred while initializing class ") + short_name);
    }
    return reinterpret_cast<PyTypeObject*>(type.release());
}

}  // namespace velnor::boundary
