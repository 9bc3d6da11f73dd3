// The Python class ChunksIter and the function iter_chunk that makes its instances.
#pragma once

#include "boundary/instance.hpp"
#include "lib/chunk_source.hpp"
#include "lib/direct_source.hpp"

#include <cstddef>
#include <optional>

namespace velnor {

namespace chunks {

// The native value of a ChunksIter.
struct State {
    std::size_t chunk_size;  // at least 1
    // What the iterable's `__iter__()` returned; or the exact list, tuple or range itself when `direct`
    // reads it, released once it ran out as its own iterator would release it.
    boundary::Ref source;
    bool exhausted;                     // the source signalled its end; never cleared
    SourceReader reader;                // how items are read from an iterator `source`, decided once
    std::optional<DirectSource> direct;  // set when `source` is a container read without an iterator
    // Items of the chunk being collected; kept between calls so that its storage is reused.
    OwnedItems buffer;
    // While the release of a deep chain of chunk iterators is deferred: the next one waiting.
    PyObject* next_waiting = nullptr;
};

}  // namespace chunks

struct ChunksIterClass {
    using Value = chunks::State;
    static constexpr const char* name = "ChunksIter";
    // The source runs inside the hold of `next`: another thread meeting it is refused, never kept waiting.
    static constexpr bool others_wait = false;
    // Returns the one ChunksIter type object of the process, creating it on the first call.
    static PyTypeObject* type();
};

// Adds the function `iter_chunk` to the module.
void register_iter_chunk(PyObject* module);

}  // namespace velnor
