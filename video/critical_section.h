// A recursive lock: the platform's critical section on Windows, a recursive mutex elsewhere.
#pragma once

#ifdef _WIN32
#include <windows.h>
#else
#include <mutex>
#endif

namespace kvx {

class CriticalSection {
 public:
#ifdef _WIN32
  CriticalSection() {
    InitializeCriticalSection(&cs_);
  }
  ~CriticalSection() {
    DeleteCriticalSection(&cs_);
  }
  void Enter() {
    EnterCriticalSection(&cs_);
  }
  void Leave() {
    LeaveCriticalSection(&cs_);
  }
#else
  CriticalSection() = default;
  void Enter() {
    mutex_.lock();
  }
  void Leave() {
    mutex_.unlock();
  }
#endif
  CriticalSection(const CriticalSection&) = delete;
  CriticalSection& operator=(const CriticalSection&) = delete;

 private:
#ifdef _WIN32
  CRITICAL_SECTION cs_;
#else
  std::recursive_mutex mutex_;
#endif
};

class ScopedLock {
 public:
  explicit ScopedLock(CriticalSection& cs) : cs_(cs) { cs_.Enter(); }
  ~ScopedLock() { cs_.Leave(); }
  ScopedLock(const ScopedLock&) = delete;
  ScopedLock& operator=(const ScopedLock&) = delete;

 private:
  CriticalSection& cs_;
};

}  // namespace kvx
