// The host's code calls into the plug-in through the entry points, the hooks and the window
// and dialog procedures; an exception that left one of them would end the host. Each of them
// runs its work inside Contained: a failure inside (the one the library reports is memory that
// cannot be had) ends that piece of work, and the call returns what it returns when it has
// nothing to do.
//
// Threads: any.
#pragma once

namespace kvx {

template <class Work, class Result>
Result Contained(Work&& work, Result nothingDone) noexcept {
  try {
    return work();
  } catch (...) {
    return nothingDone;
  }
}

template <class Work>
void Contained(Work&& work) noexcept {
  try {
    work();
  } catch (...) {
  }
}

}  // namespace kvx
