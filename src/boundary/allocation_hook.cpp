// Replacement operator new/delete for test builds. Compiled to nothing in every other build.
#if defined(VELNOR_ALLOCATION_HOOK)

#include "boundary/allocation_hook.hpp"

#include "boundary/entry.hpp"
#include "boundary/error.hpp"

#include <atomic>
#include <cstdlib>
#include <new>

namespace velnor::boundary {

namespace {

// Allocations still to go before the one that fails (0: none armed).
std::atomic<long long> countdown{0};
// Failures injected so far, and blocks handed out and not yet freed.
std::atomic<long long> failed{0};
std::atomic<long long> live{0};

void* allocate(std::size_t size) {
    const long long left = countdown.load(std::memory_order_relaxed);
    if (left > 0 && countdown.fetch_sub(1, std::memory_order_relaxed) == 1) {
        failed.fetch_add(1, std::memory_order_relaxed);
        throw std::bad_alloc();
    }
    void* block = std::malloc(size == 0 ? 1 : size);
    if (block == nullptr) {
        throw std::bad_alloc();
    }
    live.fetch_add(1, std::memory_order_relaxed);
    return block;
}

void release(void* block) noexcept {
    if (block != nullptr) {
        live.fetch_sub(1, std::memory_order_relaxed);
        std::free(block);
    }
}

PyObject* fail_allocation(PyObject*, PyObject* argument) noexcept {
    const long long k = PyLong_AsLongLong(argument);
    if (k == -1 && PyErr_Occurred()) {
        return nullptr;
    }
    countdown.store(k < 0 ? 0 : k, std::memory_order_relaxed);
    Py_RETURN_NONE;
}

PyObject* allocations_failed(PyObject*, PyObject*) noexcept {
    return PyLong_FromLongLong(failed.load(std::memory_order_relaxed));
}

PyObject* allocations_live(PyObject*, PyObject*) noexcept {
    return PyLong_FromLongLong(live.load(std::memory_order_relaxed));
}

PyMethodDef hook_functions[] = {
    {"_fail_allocation", fail_allocation, METH_O,
     "Makes the k-th C++ allocation from now fail with std::bad_alloc (0 disarms)."},
    {"_allocations_failed", allocations_failed, METH_NOARGS, "Returns the number of failures injected so far."},
    {"_allocations_live", allocations_live, METH_NOARGS, "Returns the number of C++ blocks not yet freed."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

void register_allocation_hook(PyObject* module) {
    if (PyModule_AddFunctions(module, hook_functions) < 0) {
        throw_python_error();
    }
}

}  // namespace velnor::boundary

// The replacements must be visible to the dynamic linker although the module hides its other symbols.
#define VELNOR_REPLACEMENT __attribute__((visibility("default")))

VELNOR_REPLACEMENT void* operator new(std::size_t size) {
    return velnor::boundary::allocate(size);
}
VELNOR_REPLACEMENT void* operator new[](std::size_t size) {
    return velnor::boundary::allocate(size);
}
VELNOR_REPLACEMENT void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return velnor::boundary::allocate(size);
    } catch (...) {
        return nullptr;
    }
}
VELNOR_REPLACEMENT void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return velnor::boundary::allocate(size);
    } catch (...) {
        return nullptr;
    }
}
VELNOR_REPLACEMENT void operator delete(void* block) noexcept {
    velnor::boundary::release(block);
}
VELNOR_REPLACEMENT void operator delete[](void* block) noexcept {
    velnor::boundary::release(block);
}
VELNOR_REPLACEMENT void operator delete(void* block, std::size_t) noexcept {
    velnor::boundary::release(block);
}
VELNOR_REPLACEMENT void operator delete[](void* block, std::size_t) noexcept {
    velnor::boundary::release(block);
}

#endif  // VELNOR_ALLOCATION_HOOK
