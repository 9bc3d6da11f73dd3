// The contended side of the holds: telling the caller's own holds from other threads', waiting detached from
// the interpreter, and the fork handler.
#include "boundary/hold.hpp"

#include <chrono>
#include <thread>

#if !defined(_WIN32)
#include <pthread.h>
#endif

namespace velnor::boundary {

struct HoldList {
    // True when the calling thread holds `flag` in any mode.
    static bool mine(const BorrowFlag* flag) noexcept {
        for (const Hold* hold = thread_holds.newest; hold != nullptr; hold = hold->older_) {
            if (hold->flag_ == flag) {
                return true;
            }
        }
        return false;
    }

    // In a forked child, only the forking thread exists: its holds are written again in the new generation,
    // which leaves every other word free.
    static void keep_only_mine(std::uint64_t epoch) noexcept {
        for (Hold* hold = thread_holds.newest; hold != nullptr; hold = hold->older_) {
            hold->flag_->word.store(epoch, std::memory_order_relaxed);
        }
        for (Hold* hold = thread_holds.newest; hold != nullptr; hold = hold->older_) {
            std::atomic<std::uint64_t>& word = hold->flag_->word;
            if (hold->mode_ == HoldMode::exclusive) {
                word.store(epoch | hold_bits::exclusive, std::memory_order_relaxed);
            } else {
                word.fetch_add(1 + (hold->policy_ == HoldPolicy::runs_python ? hold_bits::runner : 0),
                               std::memory_order_relaxed);
            }
            hold->epoch_ = epoch;
        }
    }
};

namespace {

// True when a hold in `mode` would not conflict with the word now.
bool free_for(const BorrowFlag& flag, HoldMode mode) noexcept {
    const std::uint64_t word = flag.word.load(std::memory_order_acquire);
    if ((word & hold_bits::epoch_mask) != hold_epoch.load(std::memory_order_relaxed)) {
        return true;
    }
    const std::uint64_t count = word & hold_bits::count_mask;
    return mode == HoldMode::exclusive ? count == 0 : count != hold_bits::exclusive;
}

// Waits until `flag` is free for `mode`. Holds last as long as one native operation, so the wait starts by
// spinning; past that it leaves the interpreter (other threads run, a stop-the-world collection proceeds)
// and sleeps in growing steps, coming back every few milliseconds to run signal handlers, so that Ctrl-C
// ends a long wait.
void wait_until_free(const BorrowFlag& flag, HoldMode mode) {
    for (int spin = 0; spin < 64; ++spin) {
        if (free_for(flag, mode)) {
            return;
        }
    }
    using namespace std::chrono;
    while (!free_for(flag, mode)) {
        PyThreadState* state = PyEval_SaveThread();
        const auto until = steady_clock::now() + milliseconds(10);
        auto pause = microseconds(10);
        for (int round = 0; !free_for(flag, mode) && steady_clock::now() < until; ++round) {
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
    HoldList::keep_only_mine(epoch);
}

// Registered when the library is loaded, before any hold can exist.
[[maybe_unused]] const bool fork_handler_installed = pthread_atfork(nullptr, nullptr, forked_child) == 0;
#endif

}  // namespace

bool Hold::take_slowly(PyObject* object, bool refuse_quietly) {
    for (;;) {
        const std::uint64_t epoch = hold_epoch.load(std::memory_order_relaxed);
        std::uint64_t word = flag_->word.load(std::memory_order_relaxed);
        if (try_take(word, epoch)) {
            return true;
        }
        if (free_for(*flag_, mode_)) {
            continue;  // the word changed under the attempt
        }
        const ThreadHolds& mine = thread_holds;
        const bool runs_python = mode_ == HoldMode::exclusive && (word & hold_bits::runner_mask) != 0 &&
                                 (word & hold_bits::epoch_mask) == epoch;
        if (policy_ == HoldPolicy::never_waits || runs_python || mine.outer_waitable != 0 || HoldList::mine(flag_)) {
            break;
        }
        if (mine.waitable == 0) {
            wait_until_free(*flag_, mode_);
            continue;
        }
        throw HoldBackOff{Ref::borrow(object), flag_, mode_};
    }
    if (refuse_quietly) {
        return false;
    }
    raise(PyExc_RuntimeError, mode_ == HoldMode::exclusive ? already_borrowed : already_mutably_borrowed);
}

bool wait_after_back_off(const HoldBackOff& conflict) noexcept {
    try {
        wait_until_free(*conflict.flag, conflict.mode);
        return true;
    } catch (PythonError& error) {
        error.restore();
        return false;
    }
}

}  // namespace velnor::boundary
