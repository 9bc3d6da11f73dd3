// The allocator of segment lists: a list of several megabytes asks the kernel for transparent huge pages.
//
// A fresh result of 10**7 segments is 160 MB that the kernel faults in 4 KiB at a time, and those faults
// cost as much as the merge that writes them (about 7 ns a segment against 2–3 with huge pages, where the
// kernel leaves huge pages to those who ask). The advice covers only the 2 MiB-aligned inside of the block,
// so it never widens what the allocation can make resident; where the kernel or the platform has no such
// pages it is a no-op, and any refusal is ignored, as the pages then come as before.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace velnor::core {

// Blocks from this size up hold at least one whole huge page inside them.
inline constexpr std::size_t huge_advice_from = std::size_t{4} << 20;

inline void advise_huge_pages([[maybe_unused]] void* block, [[maybe_unused]] std::size_t bytes) noexcept {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    if (bytes < huge_advice_from) {
        return;
    }
    constexpr std::uintptr_t huge = std::uintptr_t{2} << 20;
    const auto begin = (reinterpret_cast<std::uintptr_t>(block) + huge - 1) & ~(huge - 1);
    const auto end = (reinterpret_cast<std::uintptr_t>(block) + bytes) & ~(huge - 1);
    if (end > begin) {
        madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
    }
#endif
}

// std::allocator, plus the advice above for every block it hands out. Slots a list grows into without a
// value (`resize`, a sized constructor) are default-initialised, so a result sized from an upper bound is
// not written twice, nor its unused tail touched at all; values passed in are constructed as usual.
template <class T>
struct SegmentAllocator {
    using value_type = T;

    SegmentAllocator() noexcept = default;
    template <class U>
    SegmentAllocator(const SegmentAllocator<U>&) noexcept {}  // NOLINT: rebinding is implicit, as for std::allocator

    T* allocate(std::size_t count) {
        T* block = std::allocator<T>{}.allocate(count);
        advise_huge_pages(block, count * sizeof(T));
        return block;
    }
    void deallocate(T* block, std::size_t count) noexcept { std::allocator<T>{}.deallocate(block, count); }

    template <class U>
    void construct(U* slot) noexcept(std::is_nothrow_default_constructible_v<U>) {
        ::new (static_cast<void*>(slot)) U;
    }
    template <class U, class... Args>
    void construct(U* slot, Args&&... args) {
        ::new (static_cast<void*>(slot)) U(std::forward<Args>(args)...);
    }

    template <class U>
    friend bool operator==(const SegmentAllocator&, const SegmentAllocator<U>&) noexcept {
        return true;
    }
};

}  // namespace velnor::core
