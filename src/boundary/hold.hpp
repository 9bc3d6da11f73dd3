// Per-instance guard against conflicting use of one object, correct with or without the interpreter lock.
//
// A conflict with a hold of the calling thread is a real conflict (re-entry, an object used as its own
// operand while changed) and raises as always. A set held by another thread is only busy: the caller waits,
// detached from the interpreter, and concurrent calls serialise. Waiting can never close a cycle, because a
// thread only ever waits while it holds no set that others wait for: the first hold of a call waits in place;
// a later one that meets another thread's hold backs off instead (HoldBackOff unwinds the call, every hold is
// released on the way out, and the entry trampoline waits and runs the call again, which is sound because no
// call changes anything before it has taken all its holds). Holds kept around Python code are never waited
// for: a chunk iterator's (its source runs inside), a membership test converting its item through Python;
// and a thread running Python code inside a set's hold (a finaliser, a signal handler) neither waits nor backs
// off. Those conflicts raise as they always did.
//
// A thread tells its own holds from other threads' by the exclusive owner, by its count of waitable holds,
// and by a list of its holds kept around Python code (intrusive, in static thread-local storage: nothing is
// allocated). A forked child keeps the forking thread's holds of that list, the ones whose call is still in
// progress across the fork, and finds every other hold free.
//
// Under the interpreter lock another thread can meet a hold only when Python code runs inside it: the rules
// above keep every same-thread conflict and every hold around deliberate Python code raising as before, and
// turn the rest (finalisers run by a collection) into waits.
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

// With an interpreter lock, every change of a guard word happens under it (a waiting thread only reads):
// plain loads and stores suffice. Without one (free-threaded builds, or a module for both kinds), changes
// are compare-and-swap.
#if defined(Py_GIL_DISABLED) || defined(Py_TARGET_ABI3T)
#define VELNOR_ATOMIC_HOLDS 1
#else
#define VELNOR_ATOMIC_HOLDS 0
#endif

namespace velnor::boundary {

// Replaces `expected`, the word last read, by `wanted`; on failure `expected` is the word now.
inline bool replace_word(std::atomic<std::uint64_t>& word, std::uint64_t& expected, std::uint64_t wanted,
                         std::memory_order order) noexcept {
#if VELNOR_ATOMIC_HOLDS
    return word.compare_exchange_strong(expected, wanted, order, std::memory_order_relaxed);
#else
    static_cast<void>(expected);
    word.store(wanted, order == std::memory_order_acquire ? std::memory_order_relaxed : order);
    return true;
#endif
}

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

struct HoldNode;

// The calling thread's holds kept around Python code (newest first), how many holds it has that other
// threads may wait for, and how many of those it had when its innermost trampoline was entered (nonzero:
// Python code runs inside such a hold). A thread may wait only while it holds none that others wait for.
struct ThreadHolds {
    HoldNode* newest;
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

// What a hold is, as the slow path and the fork handler see it. The links are set only for holds kept
// around Python code, which are the ones in the thread's list.
struct HoldNode {
    HoldNode* newer;
    HoldNode* older;
    BorrowFlag* flag;
    std::uint64_t epoch;  // the generation the hold was taken in
    HoldMode mode;
    HoldPolicy policy;
};

// The contended path of taking `node` (its flag, mode and policy set): retries, raises, waits or backs
// off; false for a quiet refusal. Sets the epoch when it takes the hold.
bool take_slowly(HoldNode& node, PyObject* object, bool refuse_quietly);

// One hold on one object's flag, released when it goes out of scope. Mode and policy are compile-time
// constants, so the uncontended path is a load of the word, one compare-and-swap (or store under the
// interpreter lock) each way, and a thread-local count.
template <HoldMode Mode, HoldPolicy Policy>
class Hold {
public:
    // Takes the hold, waiting for other threads as the policy allows. A conflict that raises throws
    // RuntimeError "Already borrowed" (exclusive) or "Already mutably borrowed" (shared), unless
    // `refuse_quietly`, which leaves this object empty instead (see held()).
    Hold(BorrowFlag& flag, PyObject* object, bool refuse_quietly = false) {
        node_.flag = &flag;
        const std::uint64_t epoch = hold_epoch.load(std::memory_order_relaxed);
        std::uint64_t word = flag.word.load(std::memory_order_relaxed);
        if (try_take(flag, word, epoch)) [[likely]] {
            node_.epoch = epoch;
        } else {
            node_.mode = Mode;
            node_.policy = Policy;
            if (!take_slowly(node_, object, refuse_quietly)) {
                node_.flag = nullptr;
                return;
            }
        }
        if constexpr (Mode == HoldMode::exclusive) {
            flag.owner.store(&thread_holds, std::memory_order_relaxed);
        }
        link();
    }
    Hold(Hold&& other) noexcept : node_(other.node_) {
        other.node_.flag = nullptr;
        if constexpr (Policy != HoldPolicy::waitable) {
            if (node_.flag != nullptr) {
                (node_.newer != nullptr ? node_.newer->older : thread_holds.newest) = &node_;
                if (node_.older != nullptr) {
                    node_.older->newer = &node_;
                }
            }
        }
    }
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;
    Hold& operator=(Hold&&) = delete;
    ~Hold() {
        BorrowFlag* const flag = node_.flag;
        if (flag == nullptr) {
            return;
        }
        unlink();
        const std::uint64_t epoch = node_.epoch;
        std::uint64_t word = flag->word.load(std::memory_order_relaxed);
        if constexpr (Mode == HoldMode::exclusive) {
            flag->owner.store(nullptr, std::memory_order_relaxed);
            // No other thread writes a word held exclusively, so a plain store releases it. A word of another
            // generation belongs to the forked child's own users now.
            if ((word & hold_bits::epoch_mask) == epoch) {
                flag->word.store(epoch, std::memory_order_release);
            }
        } else {
            constexpr std::uint64_t step = 1 + (Policy == HoldPolicy::runs_python ? hold_bits::runner : 0);
            while ((word & hold_bits::epoch_mask) == epoch &&
                   !replace_word(flag->word, word, word - step, std::memory_order_release)) {
            }
        }
    }

    // False when a quiet refusal left this object without a hold.
    bool held() const noexcept { return node_.flag != nullptr; }

private:
    // One attempt on the word last read: true when the hold is taken.
    static bool try_take(BorrowFlag& flag, std::uint64_t word, std::uint64_t epoch) noexcept {
        const bool current = (word & hold_bits::epoch_mask) == epoch;
        const std::uint64_t count = current ? word & hold_bits::count_mask : 0;
        std::uint64_t wanted;
        if constexpr (Mode == HoldMode::exclusive) {
            if (count != 0) {
                return false;
            }
            wanted = epoch | hold_bits::exclusive;
        } else {
            const std::uint64_t base = current ? word : epoch;
            if (count >= hold_bits::exclusive - 1) {
                return false;
            }
            if constexpr (Policy == HoldPolicy::runs_python) {
                if ((base & hold_bits::runner_mask) == hold_bits::runner_mask) {
                    return false;  // no room for another mark: the slow path says so
                }
                wanted = base + 1 + hold_bits::runner;
            } else {
                wanted = base + 1;
            }
        }
        return replace_word(flag.word, word, wanted, std::memory_order_acquire);
    }

    void link() noexcept {
        ThreadHolds& mine = thread_holds;
        if constexpr (Policy == HoldPolicy::waitable) {
            ++mine.waitable;
        } else {
            node_.mode = Mode;
            node_.policy = Policy;
            node_.newer = nullptr;
            node_.older = mine.newest;
            if (node_.older != nullptr) {
                node_.older->newer = &node_;
            }
            mine.newest = &node_;
        }
    }

    void unlink() noexcept {
        ThreadHolds& mine = thread_holds;
        if constexpr (Policy == HoldPolicy::waitable) {
            --mine.waitable;
        } else {
            (node_.newer != nullptr ? node_.newer->older : mine.newest) = node_.older;
            if (node_.older != nullptr) {
                node_.older->newer = node_.newer;
            }
        }
    }

    HoldNode node_;
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
