// Work that must happen however a scope is left: by its end, a return or a throw (a failed
// allocation inside Contained work). Cancel() keeps it from running once the scope's work has
// come out as planned.
//
// Threads: the owner's.
#pragma once

#include <utility>

namespace kvx {

template <class Undo>
class OnExit {
 public:
  explicit OnExit(Undo undo) : undo_(std::move(undo)) {}
  ~OnExit() {
    if (armed_) {
      undo_();
    }
  }
  OnExit(const OnExit&) = delete;
  OnExit& operator=(const OnExit&) = delete;

  void Cancel() { armed_ = false; }

 private:
  Undo undo_;
  bool armed_ = true;
};

}  // namespace kvx
