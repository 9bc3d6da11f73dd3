// A way for long loops in the Python-free cores to stop early when the caller asks (a pending Ctrl-C),
// without the cores knowing who asks. The module installs the check at import; fuzzers and test drivers
// leave it empty, and then polling costs one counter decrement.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace velnor::core {

// Throws when the running call must stop (the exception leaves through the loop that polled); returns
// normally otherwise. Installed at import, which may happen while other threads poll: atomic, read relaxed
// (a plain load).
using InterruptCheck = void (*)();
inline std::atomic<InterruptCheck> interrupt_check{nullptr};

// Units of work (items, segments, bytes scanned) between two checks: a check costs tens of nanoseconds,
// and 2**20 units of the cheapest loop take well under a millisecond, so a signal lands within a few
// milliseconds while the checks stay below the noise.
inline constexpr std::size_t interrupt_interval = std::size_t{1} << 20;

// Calls the installed check now.
inline void check_interrupt() {
    if (const InterruptCheck check = interrupt_check.load(std::memory_order_relaxed); check != nullptr) {
        check();
    }
}

// Counts work done by one loop and checks every `interval` units. Not thread-safe: one per loop.
class InterruptPoll {
public:
    explicit InterruptPoll(std::size_t interval = interrupt_interval) noexcept
        : interval_(static_cast<std::int64_t>(interval)), remaining_(static_cast<std::int64_t>(interval)) {}

    // Records `units` of work; checks when the interval is used up.
    void tick(std::size_t units = 1) {
        remaining_ -= static_cast<std::int64_t>(units);
        if (remaining_ <= 0) {
            remaining_ = interval_;
            check_interrupt();
        }
    }

private:
    std::int64_t interval_;
    std::int64_t remaining_;
};

}  // namespace velnor::core
