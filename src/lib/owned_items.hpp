// The items of a chunk while it is collected: a growable array of owned references.
#pragma once

#include "boundary/error.hpp"

#include <cstddef>
#include <cstring>
#include <memory>
#include <span>
#include <utility>

namespace velnor::chunks {

// Owns one reference per item. Unlike a vector of Ref, handing the items to a list leaves nothing to
// release one by one, which matters at one call per item.
class OwnedItems {
public:
    OwnedItems() noexcept = default;
    OwnedItems(OwnedItems&& other) noexcept
        : items_(std::move(other.items_)),
          size_(std::exchange(other.size_, 0)),
          capacity_(std::exchange(other.capacity_, 0)) {}
    OwnedItems(const OwnedItems&) = delete;
    OwnedItems& operator=(const OwnedItems&) = delete;
    OwnedItems& operator=(OwnedItems&&) = delete;
    ~OwnedItems() { discard(); }

    std::size_t size() const noexcept { return size_; }
    bool empty() const noexcept { return size_ == 0; }
    // The items held, for the garbage collector's traversal.
    std::span<PyObject* const> items() const noexcept { return {items_.get(), size_}; }

    // The free slots after the items, at least one: the storage starts with room for 4 and doubles when
    // full. References written there are owned once `commit` counts them.
    std::span<PyObject*> free_slots() {
        if (size_ == capacity_) {
            grow();
        }
        return {items_.get() + size_, capacity_ - size_};
    }

    // Takes over the first `count` free slots as items.
    void commit(std::size_t count) noexcept { size_ += count; }

    // Releases every item and keeps the storage for the next chunk.
    void discard() noexcept {
        while (size_ > 0) {
            Py_DECREF(items_[--size_]);  // the count drops first: a finaliser run here sees no stale item
        }
    }

    // Moves the items, in order, into a new list of exactly their number; this holds none afterwards.
    boundary::Ref take_list() {
        boundary::Ref list = boundary::checked(PyList_New(static_cast<Py_ssize_t>(size_)));
        for (std::size_t index = 0; index < size_; ++index) {
            PyList_SetItem(list.get(), static_cast<Py_ssize_t>(index), items_[index]);  // steals; cannot fail
        }
        size_ = 0;
        return list;
    }

private:
    void grow() {
        const std::size_t capacity = capacity_ == 0 ? 4 : capacity_ * 2;
        std::unique_ptr<PyObject*[]> items(new PyObject*[capacity]);  // left uninitialised, as only the first size_ are read
        if (size_ > 0) {
            std::memcpy(items.get(), items_.get(), size_ * sizeof(PyObject*));
        }
        items_ = std::move(items);
        capacity_ = capacity;
    }

    std::unique_ptr<PyObject*[]> items_;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

}  // namespace velnor::chunks
