// A growing list of match positions that never moves what it holds: the first few live inside the
// object, the rest in blocks of one fixed size. A line with a handful of matches allocates nothing, and
// millions of matches cost one allocation per 4096 of them, on every standard library alike.
#pragma once

#include <cstddef>
#include <iterator>
#include <memory>
#include <vector>

namespace velnor::text {

class Positions {
    static constexpr std::size_t inline_count = 16;
    static constexpr std::size_t block_shift = 12;
    static constexpr std::size_t block_count = std::size_t{1} << block_shift;  // 32 KB of positions

    template <class Owner, class Value>
    class Cursor {
    public:
        using iterator_category = std::bidirectional_iterator_tag;
        using value_type = std::size_t;
        using difference_type = std::ptrdiff_t;
        using pointer = Value*;
        using reference = Value&;

        Cursor() noexcept = default;
        Cursor(Owner* owner, std::size_t index) noexcept : owner_(owner), index_(index) {}
        // A mutable cursor converts to a read-only one.
        operator Cursor<const Positions, const std::size_t>() const noexcept { return {owner_, index_}; }

        reference operator*() const noexcept { return (*owner_)[index_]; }
        Cursor& operator++() noexcept {
            ++index_;
            return *this;
        }
        Cursor operator++(int) noexcept {
            Cursor before = *this;
            ++index_;
            return before;
        }
        Cursor& operator--() noexcept {
            --index_;
            return *this;
        }
        Cursor operator--(int) noexcept {
            Cursor before = *this;
            --index_;
            return before;
        }
        friend bool operator==(const Cursor& a, const Cursor& b) noexcept { return a.index_ == b.index_; }

    private:
        Owner* owner_ = nullptr;
        std::size_t index_ = 0;
    };

public:
    using value_type = std::size_t;
    using iterator = Cursor<Positions, std::size_t>;
    using const_iterator = Cursor<const Positions, const std::size_t>;
    using reverse_iterator = std::reverse_iterator<iterator>;
    using const_reverse_iterator = std::reverse_iterator<const_iterator>;

    Positions() noexcept = default;
    Positions(Positions&& other) noexcept { *this = std::move(other); }
    Positions& operator=(Positions&& other) noexcept {
        for (std::size_t i = 0; i < other.size_ && i < inline_count; ++i) {
            first_[i] = other.first_[i];
        }
        blocks_ = std::move(other.blocks_);
        size_ = other.size_;
        other.blocks_.clear();
        other.size_ = 0;
        return *this;
    }
    Positions(const Positions&) = delete;
    Positions& operator=(const Positions&) = delete;

    void push_back(std::size_t value) {
        if (size_ < inline_count) {
            first_[size_++] = value;
            return;
        }
        const std::size_t offset = (size_ - inline_count) & (block_count - 1);
        if (offset == 0) {
            // Left uninitialised: every slot is written before it is read.
            blocks_.push_back(std::unique_ptr<std::size_t[]>(new std::size_t[block_count]));
        }
        blocks_.back()[offset] = value;
        ++size_;
    }

    std::size_t size() const noexcept { return size_; }
    bool empty() const noexcept { return size_ == 0; }

    std::size_t& operator[](std::size_t index) noexcept {
        if (index < inline_count) {
            return first_[index];
        }
        const std::size_t rest = index - inline_count;
        return blocks_[rest >> block_shift][rest & (block_count - 1)];
    }
    const std::size_t& operator[](std::size_t index) const noexcept {
        return const_cast<Positions&>(*this)[index];
    }

    // Calls `visit(first, last)` for each stretch of consecutive positions, in order: the fast way through.
    template <class Visit>
    void for_each_run(Visit&& visit) const {
        const std::size_t head = size_ < inline_count ? size_ : inline_count;
        visit(first_, first_ + head);
        std::size_t left = size_ - head;
        for (const auto& block : blocks_) {
            const std::size_t count = left < block_count ? left : block_count;
            visit(block.get(), block.get() + count);
            left -= count;
        }
    }

    iterator begin() noexcept { return {this, 0}; }
    iterator end() noexcept { return {this, size_}; }
    const_iterator begin() const noexcept { return {this, 0}; }
    const_iterator end() const noexcept { return {this, size_}; }
    reverse_iterator rbegin() noexcept { return reverse_iterator(end()); }
    reverse_iterator rend() noexcept { return reverse_iterator(begin()); }
    const_reverse_iterator rbegin() const noexcept { return const_reverse_iterator(end()); }
    const_reverse_iterator rend() const noexcept { return const_reverse_iterator(begin()); }

private:
    std::size_t first_[inline_count];
    std::vector<std::unique_ptr<std::size_t[]>> blocks_;
    std::size_t size_ = 0;
};

}  // namespace velnor::text
