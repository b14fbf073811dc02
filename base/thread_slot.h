// A per-thread value of at most pointer size in the system's thread-local storage.
//
// The plug-in does not use the compiler's thread_local: with the posix thread model it needs the
// runtime's pthread library, which brings functions older Windows lacks, and a DLL that the host
// loads late cannot rely on the image's own TLS section on Windows XP. TlsAlloc works on every
// Windows the host runs on.
//
// Threads: any; each thread sees its own value, zero until it sets one.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <type_traits>

namespace kvx {

template <class T>
class ThreadSlot {
  static_assert(sizeof(T) <= sizeof(void*) && std::is_trivially_copyable_v<T>);

 public:
  constexpr ThreadSlot() = default;
  ~ThreadSlot() {
    if (const DWORD index = index_.load(); index != TLS_OUT_OF_INDEXES) {
      TlsFree(index);
    }
  }
  ThreadSlot(const ThreadSlot&) = delete;
  ThreadSlot& operator=(const ThreadSlot&) = delete;

  // Keeps the thread's last error: hook and dialog procedures run inside the host's own code.
  T Get() const {
    const DWORD error = GetLastError();
    void* stored = TlsGetValue(Index());
    SetLastError(error);
    T value{};
    std::memcpy(&value, &stored, sizeof value);
    return value;
  }
  void Set(T value) {
    void* stored = nullptr;
    std::memcpy(&stored, &value, sizeof value);
    TlsSetValue(Index(), stored);
  }

 private:
  // Allocated at the first use; a thread that loses the race frees its own index.
  DWORD Index() const {
    DWORD index = index_.load(std::memory_order_acquire);
    if (index == TLS_OUT_OF_INDEXES) {
      const DWORD fresh = TlsAlloc();
      if (index_.compare_exchange_strong(index, fresh)) {
        index = fresh;
      } else if (fresh != TLS_OUT_OF_INDEXES) {
        TlsFree(fresh);
      }
    }
    return index;
  }

  mutable std::atomic<DWORD> index_{TLS_OUT_OF_INDEXES};
};

}  // namespace kvx
