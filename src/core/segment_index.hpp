// A search index over the ends of a long sorted segment list, answering what first_reaching answers with
// a handful of cache misses instead of one per halving.
#pragma once

#include "core/first_reaching.hpp"

#include <cstddef>
#include <limits>
#include <memory>
#include <new>

namespace velnor::core {

// A static B+ tree whose leaves are the segment list itself, in blocks of `leaf` segments. Level 1 holds
// the last end of every block, and each level above holds the last key of every node of 16 keys below,
// until one node remains. A node is 16 keys on two cache lines, compared all at once without a branch;
// at a million segments a search reads four nodes, the upper ones hot in cache, and one block.
// Memory: one key per 8 segments and a sixteenth more for the levels above, about 1.1 bytes a segment.
//
// The index is built at the first search after it was reset, from the list it is given, and must be
// reset whenever that list changes. Lists too short to profit are searched by plain halving; so is any
// list when the index cannot get memory (nothing is thrown).
template <class Key>
class SegmentIndex {
public:
    // Lists shorter than this fit in the nearer caches, where halving is as fast.
    static constexpr std::size_t indexed_from = 2048;

    SegmentIndex() noexcept = default;
    SegmentIndex(const SegmentIndex&) = delete;
    SegmentIndex& operator=(const SegmentIndex&) = delete;

    void reset() noexcept {
        nodes_.reset();
        levels_ = 0;
    }

    bool built() const noexcept { return levels_ != 0; }

    // The index of the first segment whose end is not below x (`segments.size()` when none is), as
    // first_reaching gives it.
    template <class Segments>
    std::size_t first_reaching(const Segments& segments, Key x) noexcept {
        const std::size_t size = segments.size();
        if (size < indexed_from || (!built() && !build(segments))) {
            return core::first_reaching(segments, x);
        }
        std::size_t child = below(nodes_[level_start_[levels_ - 1]], x);
        if (child == top_size_) {
            return size;  // x lies above every end
        }
        // Every node visited from here has a last key not below x, so its count stays inside it.
        for (std::size_t level = levels_ - 1; level-- > 0;) {
            child = child * fanout + below(nodes_[level_start_[level] + child], x);
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

    // Fills the levels bottom up; false (and nothing built) when the memory is not there.
    template <class Segments>
    bool build(const Segments& segments) noexcept {
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
        std::unique_ptr<Node[]> nodes(new (std::nothrow) Node[total]);
        if (!nodes) {
            return false;
        }
        Node* const base = nodes.get();
        for (std::size_t b = 0; b < counts[0]; ++b) {
            const std::size_t last = b * leaf + leaf - 1;
            key_at(base, b) = segments[last < size ? last : size - 1].end;
        }
        std::size_t start = 0;  // in keys
        for (std::size_t level = 0; level < levels; ++level) {
            level_start_[level] = start / fanout;
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
        top_size_ = counts[levels - 1];
        nodes_ = std::move(nodes);
        levels_ = levels;
        return true;
    }

    std::unique_ptr<Node[]> nodes_;
    std::size_t level_start_[max_levels] = {};  // first node of each level, level 0 (above the blocks) first
    std::size_t levels_ = 0;                    // 0 while not built
    std::size_t top_size_ = 0;                  // keys in the one node of the top level
};

}  // namespace velnor::core
