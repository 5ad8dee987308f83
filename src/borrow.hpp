// Per-object borrows: many shared readers or one exclusive writer. The only
// way two calls on one cube can overlap is re-entrance from Python code that
// a call runs (an argument's __index__), and a refused borrow raises instead
// of corrupting the state. Guards release on every path out of a call.
#pragma once

#include <atomic>
#include <cstdint>

#include "errors.hpp"

namespace turnwheel {

inline constexpr std::uintptr_t kExclusive = ~std::uintptr_t{0};

class ExclusiveBorrow {
  public:
    explicit ExclusiveBorrow(std::uintptr_t& flag) : flag_(flag) {
        std::uintptr_t expected = 0;
        held_ = flag_.compare_exchange_strong(expected, kExclusive);
        if (!held_) errors::already_borrowed();
    }
    ~ExclusiveBorrow() {
        if (held_) flag_.store(0);
    }
    ExclusiveBorrow(const ExclusiveBorrow&) = delete;
    ExclusiveBorrow& operator=(const ExclusiveBorrow&) = delete;

    explicit operator bool() const { return held_; }

  private:
    std::atomic_ref<std::uintptr_t> flag_;
    bool held_;
};

class SharedBorrow {
  public:
    explicit SharedBorrow(std::uintptr_t& flag) : flag_(flag), held_(false) {
        std::uintptr_t current = flag_.load();
        do {
            if (current == kExclusive) {
                errors::already_mutably_borrowed();
                return;
            }
        } while (!flag_.compare_exchange_weak(current, current + 1));
        held_ = true;
    }
    ~SharedBorrow() {
        if (held_) flag_.fetch_sub(1);
    }
    SharedBorrow(const SharedBorrow&) = delete;
    SharedBorrow& operator=(const SharedBorrow&) = delete;

    explicit operator bool() const { return held_; }

  private:
    std::atomic_ref<std::uintptr_t> flag_;
    bool held_;
};

// A call that runs no Python code between taking and releasing its borrow
// cannot be re-entered, and the interpreter lock (or, without it, the cube's
// critical section) keeps every other thread out for its whole length, so
// recording the borrow would be invisible to everyone. Such calls (turns,
// readers) only check that nobody else holds the object, which keeps the
// cheapest calls free of atomic read-modify-write instructions.
class UnobservedExclusiveBorrow {
  public:
    explicit UnobservedExclusiveBorrow(std::uintptr_t& flag)
        : free_(std::atomic_ref<std::uintptr_t>(flag).load(std::memory_order_acquire) == 0) {
        if (!free_) errors::already_borrowed();
    }
    explicit operator bool() const { return free_; }

  private:
    bool free_;
};

class UnobservedSharedBorrow {
  public:
    explicit UnobservedSharedBorrow(std::uintptr_t& flag)
        : free_(std::atomic_ref<std::uintptr_t>(flag).load(std::memory_order_acquire) != kExclusive) {
        if (!free_) errors::already_mutably_borrowed();
    }
    explicit operator bool() const { return free_; }

  private:
    bool free_;
};

}  // namespace turnwheel
