// Per-instance guard against conflicting use of one object, correct with or without the interpreter lock.
//
// A conflict with a hold of the calling thread is a real conflict (re-entry, an object used as its own
// operand while changed) and raises as always. A set held by another thread is only busy: the caller waits,
// detached from the interpreter, and concurrent calls serialise. Waiting can never close a cycle, because a
// thread only ever waits while it holds no set: the first hold of a call waits in place; a later one that
// meets another thread's hold backs off instead (HoldBackOff unwinds the call, every hold is released on the
// way out, and the entry trampoline waits and runs the call again, which is sound because no call changes
// anything before it has taken all its holds). Holds taken around Python code are never waited for: a chunk
// iterator's (its source runs inside), a membership test converting its item through Python, and every hold
// of a thread that runs Python code inside another hold (a finaliser); those conflicts raise as they always
// did. Each thread keeps its holds in an intrusive list in static thread-local storage (no allocation), which
// tells its own holds from other threads' and lets a forked child keep the forking thread's holds and drop
// the others.
#pragma once

#include "boundary/error.hpp"

#include <atomic>
#include <cstdint>
#include <utility>

#if defined(__GLIBC__)
// Allocated with the thread, never lazily: a thread whose first call comes when memory has run out works.
#define VELNOR_STATIC_TLS [[gnu::tls_model("initial-exec")]]
#else
#define VELNOR_STATIC_TLS
#endif

namespace velnor::boundary {

// The guard word: bits 0-31 count shared holds (all ones: one exclusive hold), bits 32-47 count shared holds
// that run Python code, bits 48-63 the fork generation the word was written in. A word of an older
// generation is free: whoever held it does not exist in this process.
struct BorrowFlag {
    std::atomic<std::uint64_t> word{0};
    std::atomic<const void*> owner{nullptr};  // the exclusive holder's thread record
};

namespace hold_bits {
inline constexpr std::uint64_t count_mask = 0xFFFF'FFFFu;
inline constexpr std::uint64_t exclusive = count_mask;
inline constexpr std::uint64_t runner = std::uint64_t{1} << 32;
inline constexpr std::uint64_t runner_mask = std::uint64_t{0xFFFF} << 32;
inline constexpr std::uint64_t epoch_unit = std::uint64_t{1} << 48;
inline constexpr std::uint64_t epoch_mask = std::uint64_t{0xFFFF} << 48;
}  // namespace hold_bits

// The fork generation, in the position it has in a guard word; advanced in a forked child only.
inline std::atomic<std::uint64_t> hold_epoch{0};

enum class HoldMode : std::uint8_t { shared, exclusive };

// Who may wait for a hold: sets are waited for by other threads; a chunk iterator never is; a shared hold
// kept while Python code runs is not either, and marks the word so that writers know.
enum class HoldPolicy : std::uint8_t { waitable, never_waits, runs_python };

class Hold;

// The calling thread's holds (newest first), how many of them other threads may wait for, and how many of
// those it had when its innermost trampoline was entered (nonzero: Python code runs inside a hold).
struct ThreadHolds {
    Hold* newest;
    unsigned waitable;
    unsigned outer_waitable;
};

VELNOR_STATIC_TLS inline thread_local ThreadHolds thread_holds = {nullptr, 0, 0};

// Thrown to unwind a call that met another thread's hold while holding sets of its own; the trampoline
// waits until `flag` could be taken in `mode` and runs the call again. `object` keeps the flag alive.
struct HoldBackOff {
    Ref object;
    BorrowFlag* flag;
    HoldMode mode;
};

// Waits, detached, until `flag` could be taken in `mode`; false with the interpreter's error set when a
// signal handler raised meanwhile.
bool wait_after_back_off(const HoldBackOff& conflict) noexcept;

// Installs the fork handler that keeps only the forking thread's holds in the child. Called at import.
void install_hold_fork_handler() noexcept;

// One hold on one object's flag, released when it goes out of scope.
class Hold {
public:
    // Takes the hold, waiting for other threads as the policy allows. A conflict that raises throws
    // RuntimeError "Already borrowed" (exclusive) or "Already mutably borrowed" (shared), unless
    // `refuse_quietly`, which leaves this object empty instead (see held()).
    Hold(BorrowFlag& flag, PyObject* object, HoldMode mode, HoldPolicy policy, bool refuse_quietly = false)
        : flag_(&flag), mode_(mode), policy_(policy) {
        const std::uint64_t epoch = hold_epoch.load(std::memory_order_relaxed);
        std::uint64_t word = flag.word.load(std::memory_order_relaxed);
        if (!try_take(word, epoch) && !take_slowly(object, refuse_quietly)) {
            flag_ = nullptr;
            return;
        }
        link();
    }
    Hold(Hold&& other) noexcept
        : newer_(other.newer_), older_(other.older_), flag_(std::exchange(other.flag_, nullptr)),
          epoch_(other.epoch_), mode_(other.mode_), policy_(other.policy_) {
        if (flag_ != nullptr) {
            (newer_ != nullptr ? newer_->older_ : thread_holds.newest) = this;
            if (older_ != nullptr) {
                older_->newer_ = this;
            }
        }
    }
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;
    Hold& operator=(Hold&&) = delete;
    ~Hold() {
        if (flag_ == nullptr) {
            return;
        }
        unlink();
        if (mode_ == HoldMode::exclusive) {
            flag_->owner.store(nullptr, std::memory_order_relaxed);
            // No other thread writes a word held exclusively, so a plain store releases it. A word of another
            // generation belongs to the forked child's own users now.
            if ((flag_->word.load(std::memory_order_relaxed) & hold_bits::epoch_mask) == epoch_) {
                flag_->word.store(epoch_, std::memory_order_release);
            }
            return;
        }
        const std::uint64_t step = 1 + (policy_ == HoldPolicy::runs_python ? hold_bits::runner : 0);
        std::uint64_t word = flag_->word.load(std::memory_order_relaxed);
        while ((word & hold_bits::epoch_mask) == epoch_ &&
               !flag_->word.compare_exchange_weak(word, word - step, std::memory_order_release,
                                                  std::memory_order_relaxed)) {
        }
    }

    // False when a quiet refusal left this object without a hold.
    bool held() const noexcept { return flag_ != nullptr; }

private:
    friend struct HoldList;

    // One attempt on the word last read: true when the hold is taken; `word` is refreshed on failure.
    bool try_take(std::uint64_t& word, std::uint64_t epoch) noexcept {
        std::uint64_t wanted;
        const bool current = (word & hold_bits::epoch_mask) == epoch;
        const std::uint64_t count = current ? word & hold_bits::count_mask : 0;
        const std::uint64_t base = current ? word : epoch;
        if (mode_ == HoldMode::exclusive) {
            if (count != 0) {
                return false;
            }
            wanted = epoch | hold_bits::exclusive;
        } else {
            if (count >= hold_bits::exclusive - 1 ||
                (policy_ == HoldPolicy::runs_python && (base & hold_bits::runner_mask) == hold_bits::runner_mask)) {
                return false;
            }
            wanted = base + 1 + (policy_ == HoldPolicy::runs_python ? hold_bits::runner : 0);
        }
        if (!flag_->word.compare_exchange_strong(word, wanted, std::memory_order_acquire, std::memory_order_relaxed)) {
            return false;
        }
        epoch_ = epoch;
        if (mode_ == HoldMode::exclusive) {
            flag_->owner.store(&thread_holds, std::memory_order_relaxed);
        }
        return true;
    }

    // The contended path: retries, raises, waits or backs off. False for a quiet refusal.
    bool take_slowly(PyObject* object, bool refuse_quietly);

    void link() noexcept {
        ThreadHolds& mine = thread_holds;
        newer_ = nullptr;
        older_ = mine.newest;
        if (older_ != nullptr) {
            older_->newer_ = this;
        }
        mine.newest = this;
        if (policy_ != HoldPolicy::never_waits) {
            ++mine.waitable;
        }
    }

    void unlink() noexcept {
        ThreadHolds& mine = thread_holds;
        (newer_ != nullptr ? newer_->older_ : mine.newest) = older_;
        if (older_ != nullptr) {
            older_->newer_ = newer_;
        }
        if (policy_ != HoldPolicy::never_waits) {
            --mine.waitable;
        }
    }

    Hold* newer_ = nullptr;
    Hold* older_ = nullptr;
    BorrowFlag* flag_;
    std::uint64_t epoch_ = 0;
    HoldMode mode_;
    HoldPolicy policy_;
};

// Marks the calling thread's holds taken before a trampoline was entered as out of reach of a back-off,
// for the length of that trampoline.
class HoldScope {
public:
    HoldScope() noexcept : saved_(thread_holds.outer_waitable) { thread_holds.outer_waitable = thread_holds.waitable; }
    HoldScope(const HoldScope&) = delete;
    HoldScope& operator=(const HoldScope&) = delete;
    ~HoldScope() { thread_holds.outer_waitable = saved_; }

private:
    unsigned saved_;
};

}  // namespace velnor::boundary
