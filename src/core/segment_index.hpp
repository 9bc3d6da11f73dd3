// A search index over the ends of a long sorted segment list, answering what first_reaching answers with
// a handful of cache misses instead of one per halving.
#pragma once

#include "core/first_reaching.hpp"

#include <atomic>
#include <cstddef>
#include <limits>
#include <memory>
#include <mutex>
#include <new>

namespace velnor::core {

// A static B+ tree whose leaves are the segment list itself, in blocks of `leaf` segments. Level 1 holds
// the last end of every block, and each level above holds the last key of every node of 16 keys below,
// until one node remains. A node is 16 keys on two cache lines, compared all at once without a branch;
// at a million segments a search reads four nodes, the upper ones hot in cache, and one block.
// Memory: one key per 8 segments and a sixteenth more for the levels above, about 1.1 bytes a segment.
//
// The index is not built with the list: a first probe of a fresh value is a plain halving search, O(log n)
// with no allocation. Probes are counted, and once they reach one per `probes_per_build` segments (about what
// a build costs in saved cache misses) the next probe builds the index, and every later one uses it. It must
// be reset whenever the list changes. Lists too short to profit are searched by plain halving; so is any
// list when the index cannot get memory (nothing is thrown; the count starts over).
//
// Readers may probe from several threads at once while none changes the list: the build runs under a
// mutex, once, into memory no reader sees until it is complete, and is published by a release store of one
// pointer that readers load with acquire. reset() is for a writer that holds the list alone.
template <class Key>
class SegmentIndex {
public:
    // Lists shorter than this fit in the nearer caches, where halving is as fast.
    static constexpr std::size_t indexed_from = 2048;
    // A build reads one end in 8 and writes a key for it; a search through the index saves about a dozen
    // cache misses. One probe per this many segments pays for the build.
    static constexpr std::size_t probes_per_build = 256;

    SegmentIndex() noexcept = default;
    SegmentIndex(const SegmentIndex&) = delete;
    SegmentIndex& operator=(const SegmentIndex&) = delete;
    ~SegmentIndex() { delete tree_.load(std::memory_order_relaxed); }

    // Forgets the index and the probe count. Only while no reader can probe.
    void reset() noexcept {
        delete tree_.exchange(nullptr, std::memory_order_relaxed);
        probes_.store(0, std::memory_order_relaxed);
    }

    bool built() const noexcept { return tree_.load(std::memory_order_acquire) != nullptr; }

    // The index of the first segment whose end is not below x (`segments.size()` when none is), as
    // first_reaching gives it.
    template <class Segments>
    std::size_t first_reaching(const Segments& segments, Key x) noexcept {
        const std::size_t size = segments.size();
        if (size < indexed_from) {
            return core::first_reaching(segments, x);
        }
        const Tree* tree = tree_.load(std::memory_order_acquire);
        if (tree == nullptr) {
            if (probes_.fetch_add(1, std::memory_order_relaxed) < size / probes_per_build) {
                return core::first_reaching(segments, x);
            }
            tree = build_once(segments);
            if (tree == nullptr) {
                return core::first_reaching(segments, x);
            }
        }
        return tree->first_reaching(segments, x);
    }

private:
    static constexpr std::size_t leaf = 8;
    static constexpr std::size_t fanout = 16;
    static constexpr std::size_t max_levels = 20;  // 8 * 16**19 segments exceed any address space
    // Pads the last node of a level: no point lies above it.
    static constexpr Key padding = std::numeric_limits<Key>::has_infinity ? std::numeric_limits<Key>::infinity()
                                                                          : std::numeric_limits<Key>::max();

    struct alignas(64) Node {
        Key keys[fanout];
    };

    static std::size_t below(const Node& node, Key x) noexcept {
        std::size_t count = 0;
        for (std::size_t i = 0; i < fanout; ++i) {
            count += node.keys[i] < x ? 1 : 0;
        }
        return count;
    }

    static std::size_t nodes_for(std::size_t keys) noexcept { return (keys + fanout - 1) / fanout; }

    // The key at position `flat` of the levels laid end to end.
    static Key& key_at(Node* nodes, std::size_t flat) noexcept { return nodes[flat / fanout].keys[flat % fanout]; }

    // The levels of one list, immutable once made.
    struct Tree {
        std::unique_ptr<Node[]> nodes;
        std::size_t level_start[max_levels] = {};  // first node of each level, level 0 (above the blocks) first
        std::size_t levels = 0;
        std::size_t top_size = 0;  // keys in the one node of the top level

        template <class Segments>
        std::size_t first_reaching(const Segments& segments, Key x) const noexcept {
            const std::size_t size = segments.size();
            std::size_t child = below(nodes[level_start[levels - 1]], x);
            if (child == top_size) {
                return size;  // x lies above every end
            }
            // Every node visited from here has a last key not below x, so its count stays inside it.
            for (std::size_t level = levels - 1; level-- > 0;) {
                child = child * fanout + below(nodes[level_start[level] + child], x);
            }
            const std::size_t first = child * leaf;
            const auto* block = segments.data() + first;
            std::size_t within = 0;
            if (first + leaf <= size) {
                for (std::size_t i = 0; i < leaf; ++i) {
                    within += block[i].end < x ? 1 : 0;
                }
            } else {
                for (std::size_t i = 0; i < size - first; ++i) {
                    within += block[i].end < x ? 1 : 0;
                }
            }
            return first + within;
        }
    };

    // The published tree, built by whichever reader comes first; nullptr when the memory is not there.
    template <class Segments>
    const Tree* build_once(const Segments& segments) noexcept {
        const std::lock_guard<std::mutex> lock(build_mutex_);
        if (const Tree* ready = tree_.load(std::memory_order_acquire)) {
            return ready;
        }
        Tree* tree = build(segments);
        if (tree == nullptr) {
            probes_.store(0, std::memory_order_relaxed);
            return nullptr;
        }
        tree_.store(tree, std::memory_order_release);
        return tree;
    }

    // Fills the levels bottom up; nullptr (and nothing built) when the memory is not there.
    template <class Segments>
    static Tree* build(const Segments& segments) noexcept {
        const std::size_t size = segments.size();
        std::size_t counts[max_levels];
        std::size_t levels = 0;
        std::size_t total = 0;
        for (std::size_t keys = (size + leaf - 1) / leaf;; keys = nodes_for(keys)) {
            counts[levels++] = keys;
            total += nodes_for(keys);
            if (keys <= fanout) {
                break;
            }
        }
        std::unique_ptr<Tree> tree(new (std::nothrow) Tree);
        if (!tree) {
            return nullptr;
        }
        tree->nodes.reset(new (std::nothrow) Node[total]);
        if (!tree->nodes) {
            return nullptr;
        }
        Node* const base = tree->nodes.get();
        for (std::size_t b = 0; b < counts[0]; ++b) {
            const std::size_t last = b * leaf + leaf - 1;
            key_at(base, b) = segments[last < size ? last : size - 1].end;
        }
        std::size_t start = 0;  // in keys
        for (std::size_t level = 0; level < levels; ++level) {
            tree->level_start[level] = start / fanout;
            const std::size_t count = counts[level];
            const std::size_t slots = nodes_for(count) * fanout;
            for (std::size_t i = count; i < slots; ++i) {
                key_at(base, start + i) = padding;
            }
            if (level + 1 < levels) {
                for (std::size_t c = 0; c < counts[level + 1]; ++c) {
                    const std::size_t last = c * fanout + fanout - 1;
                    key_at(base, start + slots + c) = key_at(base, start + (last < count ? last : count - 1));
                }
            }
            start += slots;
        }
        tree->top_size = counts[levels - 1];
        tree->levels = levels;
        return tree.release();
    }

    std::atomic<const Tree*> tree_{nullptr};
    std::atomic<std::size_t> probes_{0};
    std::mutex build_mutex_;
};

}  // namespace velnor::core
