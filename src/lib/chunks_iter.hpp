// The Python class ChunksIter and the function iter_chunk that makes its instances.
#pragma once

#include "boundary/instance.hpp"
#include "lib/chunk_source.hpp"

#include <cstddef>

namespace velnor {

namespace chunks {

// The native value of a ChunksIter.
struct State {
    std::size_t chunk_size;  // at least 1
    boundary::Ref source;    // what the iterable's `__iter__()` returned
    bool exhausted;          // the source signalled its end; never cleared
    SourceReader reader;     // how items are read from `source`, decided once
    // Items of the chunk being collected; kept between calls so that its storage is reused.
    OwnedItems buffer;
};

}  // namespace chunks

struct ChunksIterClass {
    using Value = chunks::State;
    static constexpr const char* name = "ChunksIter";
    // Returns the one ChunksIter type object of the process, creating it on the first call.
    static PyTypeObject* type();
};

// Adds the function `iter_chunk` to the module.
void register_iter_chunk(PyObject* module);

}  // namespace velnor
