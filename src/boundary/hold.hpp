// Per-instance guard against conflicting use of one object within a call (the interpreter lock already
// rules out other threads, so plain reads and writes suffice).
#pragma once

#include "boundary/error.hpp"

#include <cstddef>
#include <utility>

namespace velnor::boundary {

// 0 free, n > 0 held by n shared users, -1 held by one exclusive user.
using BorrowFlag = Py_ssize_t;

inline bool try_share(BorrowFlag& flag) noexcept {
    if (flag < 0) {
        return false;
    }
    ++flag;
    return true;
}

inline bool try_exclude(BorrowFlag& flag) noexcept {
    if (flag != 0) {
        return false;
    }
    flag = -1;
    return true;
}

// A shared (read-only) hold, released when the object goes out of scope.
class SharedHold {
public:
    // Raises RuntimeError "Already mutably borrowed" when the flag is held exclusively.
    explicit SharedHold(BorrowFlag& flag) : flag_(&flag) {
        if (!try_share(flag)) {
            raise(PyExc_RuntimeError, already_mutably_borrowed);
        }
    }
    SharedHold(SharedHold&& other) noexcept : flag_(std::exchange(other.flag_, nullptr)) {}
    SharedHold(const SharedHold&) = delete;
    SharedHold& operator=(const SharedHold&) = delete;
    SharedHold& operator=(SharedHold&&) = delete;
    ~SharedHold() {
        if (flag_ != nullptr) {
            --*flag_;
        }
    }

private:
    BorrowFlag* flag_;
};

// An exclusive (mutating) hold, released when the object goes out of scope.
class ExclusiveHold {
public:
    // Raises RuntimeError "Already borrowed" when the flag has any hold.
    explicit ExclusiveHold(BorrowFlag& flag) : flag_(&flag) {
        if (!try_exclude(flag)) {
            raise(PyExc_RuntimeError, already_borrowed);
        }
    }
    ExclusiveHold(ExclusiveHold&& other) noexcept : flag_(std::exchange(other.flag_, nullptr)) {}
    ExclusiveHold(const ExclusiveHold&) = delete;
    ExclusiveHold& operator=(const ExclusiveHold&) = delete;
    ExclusiveHold& operator=(ExclusiveHold&&) = delete;
    ~ExclusiveHold() {
        if (flag_ != nullptr) {
            *flag_ = 0;
        }
    }

private:
    BorrowFlag* flag_;
};

}  // namespace velnor::boundary
