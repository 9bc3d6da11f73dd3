// iter_chunk, the iterator slots of ChunksIter, and its type object.
#include "lib/chunks_iter.hpp"

#include "boundary/binder.hpp"
#include "boundary/convert.hpp"
#include "boundary/entry.hpp"
#include "boundary/type.hpp"
#include "lib/registration.hpp"

#include <utility>

namespace velnor {

using namespace boundary;

namespace {

Ref call_no_arguments(PyObject* object, const char* method_name) {
    Ref method = checked(PyObject_GetAttrString(object, method_name));
    Ref no_arguments = checked(PyTuple_New(0));
    return checked(PyObject_Call(method.get(), no_arguments.get(), nullptr));
}

Ref iter_chunk(PyObject*, PyObject* args, PyObject* kwargs) {
    const Arguments<2> arguments(descriptions::iter_chunk, args, kwargs);
    const std::size_t chunk_size = arguments.convert(1, to_size);
    if (chunk_size == 0) {
        raise(PyExc_ValueError, "chunk_size cannot be 0 or lower.");
    }
    // Held for the call: the lookup and call of `__iter__` may drop every other reference to it.
    Ref iterable = Ref::borrow(arguments[0]);
    if (auto direct = chunks::DirectSource::of(iterable.get())) {
        return new_instance<ChunksIterClass>(chunks::State{
            .chunk_size = chunk_size,
            .source = std::move(iterable),
            .exhausted = false,
            .reader = chunks::SourceReader(),
            .direct = std::move(direct),
            .buffer = {},
        });
    }
    // An attribute lookup on the object, so an instance attribute `__iter__` is honoured.
    Ref source = call_no_arguments(iterable.get(), "__iter__");
    chunks::SourceReader reader(source.get());
    return new_instance<ChunksIterClass>(chunks::State{
        .chunk_size = chunk_size,
        .source = std::move(source),
        .exhausted = false,
        .reader = std::move(reader),
        .direct = std::nullopt,
        .buffer = {},
    });
}

Ref iter_self(PyObject* self) {
    const Shared<ChunksIterClass> receiver(self);
    return Ref::borrow(self);
}

// Releases the items still in the buffer (all of them when collecting failed) and keeps its storage.
class DiscardOnExit {
public:
    explicit DiscardOnExit(chunks::OwnedItems& buffer) noexcept : buffer_(buffer) {}
    DiscardOnExit(const DiscardOnExit&) = delete;
    DiscardOnExit& operator=(const DiscardOnExit&) = delete;
    ~DiscardOnExit() { buffer_.discard(); }

private:
    chunks::OwnedItems& buffer_;
};

// Counts one level of native recursion while the source runs: a chain of chunk iterators over chunk
// iterators recurses once per level, and deep enough it must end in RecursionError, not a crash.
class RecursionGuard {
public:
    RecursionGuard() {
        if (Py_EnterRecursiveCall(" while getting the next chunk") != 0) {
            throw_python_error();
        }
    }
    RecursionGuard(const RecursionGuard&) = delete;
    RecursionGuard& operator=(const RecursionGuard&) = delete;
    ~RecursionGuard() { Py_LeaveRecursiveCall(); }
};

// An empty result with no error set tells the interpreter that the iteration has ended.
Ref next_chunk(PyObject* self) {
    const Exclusive<ChunksIterClass> receiver(self);
    chunks::State& state = *receiver;
    if (state.exhausted) {
        return {};
    }
    if (state.direct) {
        Ref chunk = state.direct->read(state.source.get(), state.chunk_size, state.exhausted);
        if (state.exhausted) {
            state.source = Ref();
        }
        return chunk;
    }
    const RecursionGuard guard;
    chunks::OwnedItems& chunk = state.buffer;
    const DiscardOnExit discard(chunk);
    // An error from the source leaves `exhausted` unset and the partial chunk to be discarded.
    state.exhausted = state.reader.read(state.source.get(), chunk, state.chunk_size);
    if (chunk.empty()) {
        return {};
    }
    return chunk.take_list();
}

// A chunk iterator wraps a live source that may be consumed elsewhere, so no copy or pickle could resume
// it faithfully: refused as generators refuse. copy.copy and copy.deepcopy reach the same refusal.
Ref refuse_pickle(PyObject*) {
    raise(PyExc_TypeError, "cannot pickle 'ChunksIter' object");
}

PyMethodDef methods[] = {
    noargs_method<refuse_pickle>("__reduce__", "Refused: a chunk iterator cannot be pickled or copied."),
    {nullptr, nullptr, 0, nullptr},
};

// Releasing a chunk iterator releases its source, which may be another chunk iterator, and so on: a chain
// a million deep would recurse a million times. Past a small depth the release is deferred instead: the
// instance waits on a list that the outermost release of the same thread empties, one at a time, at a
// shallow depth. Each thread keeps its own depth and list (static thread-local storage, so nothing is
// allocated for them), which needs no lock with or without the interpreter's.
constexpr int deferring_depth = 50;

struct DeferredReleases {
    int depth;
    PyObject* waiting;  // instances whose release was deferred
};

VELNOR_STATIC_TLS thread_local DeferredReleases deferred = {0, nullptr};

chunks::State& state_of(PyObject* object) noexcept {
    return instance<ChunksIterClass>(object)->value;
}

void release_now(PyObject* object) noexcept {
    ++deferred.depth;
    boundary::dealloc<ChunksIterClass>(object);
    --deferred.depth;
}

void release(PyObject* object) noexcept {
    PyObject_GC_UnTrack(object);  // a collection run from here on must not find it
    if (deferred.depth >= deferring_depth) {
        state_of(object).next_waiting = deferred.waiting;
        deferred.waiting = object;
        return;
    }
    release_now(object);
    while (deferred.depth == 0 && deferred.waiting != nullptr) {
        PyObject* next = deferred.waiting;
        deferred.waiting = state_of(next).next_waiting;
        release_now(next);
    }
}

// A chunk iterator holds its source, which may hold the iterator in turn (a generator that iterates it, an
// object keeping both): such a cycle is found through the source, the type kept for the source's class and
// the items of a chunk being collected.
int traverse(PyObject* object, visitproc visit, void* arg) noexcept {
    const chunks::State& state = state_of(object);
    Py_VISIT(Py_TYPE(object));
    Py_VISIT(state.source.get());
    Py_VISIT(state.reader.kept_type());
    for (PyObject* item : state.buffer.items()) {
        Py_VISIT(item);
    }
    return 0;
}

// Breaks a cycle: the iterator ends as if its source had run out. The references are moved out first and
// dropped last, since dropping one may run Python code that reaches this iterator.
int clear(PyObject* object) noexcept {
    chunks::State& state = state_of(object);
    state.exhausted = true;
    state.direct.reset();
    const Ref source = std::exchange(state.source, Ref());
    const chunks::SourceReader reader = std::exchange(state.reader, chunks::SourceReader());
    state.buffer.discard();
    return 0;
}

template <class Function>
void* slot_pointer(Function function) noexcept {
    return reinterpret_cast<void*>(function);
}

const PyType_Slot slots[] = {
    {Py_tp_iter, slot_pointer(&unary_entry<iter_self>)},
    {Py_tp_iternext, slot_pointer(&unary_entry<next_chunk>)},
    {Py_tp_traverse, slot_pointer(&traverse)},
    {Py_tp_clear, slot_pointer(&clear)},
};

PyMethodDef iter_chunk_definition = varargs_method<iter_chunk>("iter_chunk", nullptr);

}  // namespace

PyTypeObject* ChunksIterClass::type() {
    static PyTypeObject* const type = create_type({
        .qualified_name = "velnor_lib.ChunksIter",
        .doc = nullptr,
        .basic_size = static_cast<int>(sizeof(InstanceOf<ChunksIterClass>)),
        .dealloc = release,
        .slots = slots,
        .methods = methods,
        .getset = nullptr,
        .unhashable = false,
    });
    return type;
}

void register_iter_chunk(PyObject* module) {
    registration::add_function(module, iter_chunk_definition);
}

}  // namespace velnor
