// The contended side of the holds: telling the caller's own holds from other threads', waiting detached from
// the interpreter, and the fork handler.
#include "boundary/hold.hpp"

#include <algorithm>
#include <chrono>
#include <thread>

#if !defined(_WIN32)
#include <pthread.h>
#endif

namespace velnor::boundary {

namespace {

// True when the calling thread may hold `flag` in a way that conflicts with `mode`: it is the exclusive
// owner, or holds it around Python code, or, for an exclusive hold of a flag held shared, has a shared hold
// of its own anywhere (a call takes its exclusive hold first, so this happens only on re-entry).
bool mine(const BorrowFlag* flag, HoldMode mode, std::uint64_t word) noexcept {
    if ((word & hold_bits::count_mask) == hold_bits::exclusive) {
        return flag->owner.load(std::memory_order_relaxed) == &thread_holds;
    }
    if (mode == HoldMode::exclusive && thread_holds.waitable != 0) {
        return true;
    }
    for (const HoldNode* hold = thread_holds.newest; hold != nullptr; hold = hold->older) {
        if (hold->flag == flag) {
            return true;
        }
    }
    return false;
}

// In a forked child, only the forking thread exists: its holds kept around Python code, whose calls are in
// progress across the fork, are written again in the new generation, which leaves every other word free.
// (Its other holds end before it runs Python code again, unless a finaliser forks inside one.)
void keep_only_mine(std::uint64_t epoch) noexcept {
    for (HoldNode* hold = thread_holds.newest; hold != nullptr; hold = hold->older) {
        hold->flag->word.store(epoch, std::memory_order_relaxed);
    }
    for (HoldNode* hold = thread_holds.newest; hold != nullptr; hold = hold->older) {
        std::atomic<std::uint64_t>& word = hold->flag->word;
        if (hold->mode == HoldMode::exclusive) {
            word.store(epoch | hold_bits::exclusive, std::memory_order_relaxed);
        } else {
            word.fetch_add(1 + (hold->policy == HoldPolicy::runs_python ? hold_bits::runner : 0),
                           std::memory_order_relaxed);
        }
        hold->epoch = epoch;
    }
}

// True when a hold in `mode` conflicts with `word`.
bool conflicts(std::uint64_t word, HoldMode mode) noexcept {
    if ((word & hold_bits::epoch_mask) != hold_epoch.load(std::memory_order_relaxed)) {
        return false;
    }
    const std::uint64_t count = word & hold_bits::count_mask;
    return mode == HoldMode::exclusive ? count != 0 : count >= hold_bits::exclusive - 1;
}

// True when a wait for `mode` is over: the flag is free for it, or a hold that runs Python code appeared on
// it (those are not waited for).
bool settled(const BorrowFlag& flag, HoldMode mode) noexcept {
    const std::uint64_t word = flag.word.load(std::memory_order_acquire);
    return !conflicts(word, mode) || (mode == HoldMode::exclusive && (word & hold_bits::runner_mask) != 0);
}

// Waits until `flag` is settled for `mode`. Holds last as long as one native operation, so the wait starts by
// spinning; past that it leaves the interpreter (other threads run, a stop-the-world collection proceeds)
// and sleeps in growing steps, coming back every few milliseconds to run signal handlers, so that Ctrl-C
// ends a long wait.
void wait_until_settled(const BorrowFlag& flag, HoldMode mode) {
    for (int spin = 0; spin < 64; ++spin) {
        if (settled(flag, mode)) {
            return;
        }
    }
    using namespace std::chrono;
    while (!settled(flag, mode)) {
        PyThreadState* state = PyEval_SaveThread();
        const auto until = steady_clock::now() + milliseconds(10);
        auto pause = microseconds(10);
        for (int round = 0; !settled(flag, mode) && steady_clock::now() < until; ++round) {
            if (round < 32) {
                std::this_thread::yield();
            } else {
                std::this_thread::sleep_for(pause);
                pause = std::min(pause * 2, microseconds(500));
            }
        }
        PyEval_RestoreThread(state);
        if (PyErr_CheckSignals() < 0) {
            throw_python_error();
        }
    }
}

#if !defined(_WIN32)
void forked_child() noexcept {
    const std::uint64_t epoch = hold_epoch.load(std::memory_order_relaxed) + hold_bits::epoch_unit;
    hold_epoch.store(epoch, std::memory_order_relaxed);
    keep_only_mine(epoch);
}

// Registered when the library is loaded, before any hold can exist.
[[maybe_unused]] const bool fork_handler_installed = pthread_atfork(nullptr, nullptr, forked_child) == 0;
#endif

}  // namespace

bool take_slowly(HoldNode& node, PyObject* object, bool refuse_quietly) {
    BorrowFlag& flag = *node.flag;
    const HoldMode mode = node.mode;
    const bool marks = node.policy == HoldPolicy::runs_python;
    for (;;) {
        const std::uint64_t epoch = hold_epoch.load(std::memory_order_relaxed);
        std::uint64_t word = flag.word.load(std::memory_order_relaxed);
        const bool current = (word & hold_bits::epoch_mask) == epoch;
        if (!conflicts(word, mode)) {
            if (marks && current && (word & hold_bits::runner_mask) == hold_bits::runner_mask) {
                raise(PyExc_RecursionError, "maximum recursion depth exceeded in a membership test");
            }
            const std::uint64_t base = current ? word : epoch;
            const std::uint64_t wanted = mode == HoldMode::exclusive ? (epoch | hold_bits::exclusive)
                                                                     : base + 1 + (marks ? hold_bits::runner : 0);
            if (replace_word(flag.word, word, wanted, std::memory_order_acquire)) {
                node.epoch = epoch;
                return true;
            }
            continue;  // the word changed under the attempt
        }
        const ThreadHolds& me = thread_holds;
        const bool runs_python = mode == HoldMode::exclusive && (word & hold_bits::runner_mask) != 0;
        if (node.policy == HoldPolicy::never_waits || runs_python || me.outer_waitable != 0 ||
            mine(&flag, mode, word)) {
            break;
        }
        if (me.waitable == 0) {
            wait_until_settled(flag, mode);
            continue;
        }
        throw HoldBackOff{Ref::borrow(object), &flag, mode};
    }
    if (refuse_quietly) {
        return false;
    }
    raise(PyExc_RuntimeError, mode == HoldMode::exclusive ? already_borrowed : already_mutably_borrowed);
}

bool wait_after_back_off(const HoldBackOff& conflict) noexcept {
    try {
        wait_until_settled(*conflict.flag, conflict.mode);
        return true;
    } catch (PythonError& error) {
        error.restore();
        return false;
    }
}

}  // namespace velnor::boundary
