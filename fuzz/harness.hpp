// What every fuzz target shares: reading the input byte by byte, and stopping on a failed check.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace fuzz {

// Each target defines its name, which prefixes its failure messages.
extern const char* const target_name;

// Stops the run; libFuzzer keeps the input that got here as a crash.
[[noreturn]] inline void fail(const char* what) {
    std::fprintf(stderr, "%s: %s\n", target_name, what);
    std::abort();
}

inline void check(bool condition, const char* what) {
    if (!condition) {
        fail(what);
    }
}

// Reads the input one byte at a time; past the end every byte reads as 0.
class ByteReader {
public:
    ByteReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    std::uint8_t byte() { return position_ < size_ ? data_[position_++] : 0; }
    std::size_t word() {
        const std::size_t high = byte();
        return high << 8 | byte();
    }
    std::uint64_t bits() {
        std::uint64_t value = 0;
        for (int i = 0; i < 8; ++i) {
            value = value << 8 | byte();
        }
        return value;
    }
    bool done() const { return position_ >= size_; }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t position_ = 0;
};

}  // namespace fuzz
