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
    // An attribute lookup on the object, so an instance attribute `__iter__` is honoured.
    Ref source = call_no_arguments(arguments[0], "__iter__");
    chunks::SourceReader reader(source.get());
    return new_instance<ChunksIterClass>(chunks::State{
        .chunk_size = chunk_size,
        .source = std::move(source),
        .exhausted = false,
        .reader = std::move(reader),
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

// An empty result with no error set tells the interpreter that the iteration has ended.
Ref next_chunk(PyObject* self) {
    const Exclusive<ChunksIterClass> receiver(self);
    chunks::State& state = *receiver;
    if (state.exhausted) {
        return {};
    }
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

template <class Function>
void* slot_pointer(Function function) noexcept {
    return reinterpret_cast<void*>(function);
}

const PyType_Slot slots[] = {
    {Py_tp_iter, slot_pointer(&unary_entry<iter_self>)},
    {Py_tp_iternext, slot_pointer(&unary_entry<next_chunk>)},
};

PyMethodDef iter_chunk_definition = varargs_method<iter_chunk>("iter_chunk", nullptr);

}  // namespace

PyTypeObject* ChunksIterClass::type() {
    static PyTypeObject* const type = create_type({
        .qualified_name = "builtins.ChunksIter",
        .doc = nullptr,
        .basic_size = static_cast<int>(sizeof(InstanceOf<ChunksIterClass>)),
        .dealloc = boundary::dealloc<ChunksIterClass>,
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
