// A 32-bit value shared between the host's threads without a lock: each read and write is one
// aligned access, and a reader uses whatever value it finds.
#pragma once

#include <atomic>

namespace kvx {

template <class T>
class SharedValue {
  static_assert(sizeof(T) <= 4 && std::atomic<T>::is_always_lock_free);

 public:
  SharedValue() = default;
  SharedValue(const SharedValue&) = delete;
  SharedValue& operator=(const SharedValue&) = delete;

  operator T() const { return value_.load(std::memory_order_relaxed); }
  SharedValue& operator=(T value) {
    value_.store(value, std::memory_order_relaxed);
    return *this;
  }
  // The value before, replaced in one step.
  T exchange(T value) { return value_.exchange(value, std::memory_order_relaxed); }

 private:
  std::atomic<T> value_{};
};

}  // namespace kvx
