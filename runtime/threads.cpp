// The thread support the compiler's runtime needs inside the plug-in DLL, made of calls every
// Windows since XP SP3 has. Linked into the DLL alone (tests keep the runtime's own).
//
// With the posix thread model the runtime takes its locks, one-time initialisation and
// thread-specific values from the pthread library, whose Windows implementation imports
// functions Windows XP lacks. The runtime calls only the functions below (function-local
// statics, the exception machinery's registers and its per-thread state); this file provides
// them, so that library is never linked in. A new use of another pthread function would bring
// the library back and fail the link with duplicate symbols.
//
// The DLL's entry point runs the thread-specific values' destructors when a host thread ends
// while the DLL is loaded, and the unload gives back every thread-local index the runtime took,
// after the last static destructor.
//
// Threads: any; every function is safe to call from several threads at once.
#include <windows.h>

#include <cerrno>
#include <cstdint>
#include <new>

namespace __gnu_cxx {
void __freeres() noexcept;
}

namespace kvx {
// A function-local static met again while its own initialiser runs (exceptions.cpp).
[[noreturn]] void ThrowRecursiveInit();
}  // namespace kvx

namespace {

// A short lock for the key table; held for a few instructions, never while anything runs.
class SpinLock {
 public:
  void Lock() {
    for (int round = 0; InterlockedCompareExchange(&held_, 1, 0) != 0; ++round) {
      Sleep(round < 64 ? 0 : 1);
    }
  }
  void Unlock() { InterlockedExchange(&held_, 0); }

 private:
  volatile LONG held_ = 0;
};

// Function-local statics. The Itanium ABI leaves all but a guard's first byte (set once the
// object stands) to the runtime: the 32 bits at offset 4 hold the id of the thread constructing
// it (no thread has id 0). A thread waits only for the object it needs, and the initialiser
// runs under no lock, so it may use other statics and wait for other threads.
bool Initialised(const uint64_t* guard) {
  return __atomic_load_n(reinterpret_cast<const uint8_t*>(guard), __ATOMIC_ACQUIRE) != 0;
}

volatile LONG* ConstructorOf(uint64_t* guard) {
  return reinterpret_cast<volatile LONG*>(reinterpret_cast<uint8_t*>(guard) + 4);
}

// The pthread library's mutex is a pointer-sized handle; -1, -2 and -3 mark a statically
// initialised one, made at its first lock.
using Mutex = intptr_t;

bool Unmade(Mutex value) {
  return value >= -3 && value <= -1;
}

CRITICAL_SECTION* MakeSection() {
  auto* section = new (std::nothrow) CRITICAL_SECTION;
  if (section != nullptr) {
    InitializeCriticalSection(section);
  }
  return section;
}

void FreeSection(CRITICAL_SECTION* section) {
  DeleteCriticalSection(section);
  delete section;
}

CRITICAL_SECTION* SectionOf(Mutex* mutex) {
  const Mutex seen = __atomic_load_n(mutex, __ATOMIC_ACQUIRE);
  if (!Unmade(seen)) {
    return reinterpret_cast<CRITICAL_SECTION*>(seen);
  }
  CRITICAL_SECTION* made = MakeSection();
  if (made == nullptr) {
    return nullptr;
  }
  Mutex expected = seen;
  if (__atomic_compare_exchange_n(mutex, &expected, reinterpret_cast<Mutex>(made), false,
                                  __ATOMIC_ACQ_REL, __ATOMIC_ACQUIRE)) {
    return made;
  }
  FreeSection(made);  // another thread made it first
  return reinterpret_cast<CRITICAL_SECTION*>(expected);
}

// Thread-specific keys: the runtime makes one or two for the life of the DLL.
constexpr int kMostKeys = 8;
// As POSIX: destructors that set values again are run again, this many rounds at most.
constexpr int kDestructorRounds = 4;
struct Key {
  DWORD index;
  void (*destructor)(void*);
};
Key g_keys[kMostKeys];
LONG g_keyCount = 0;
SpinLock g_keyLock;

// Runs this thread's destructors for its non-null values, as a thread exit does.
void EndThreadValues() {
  for (int round = 0; round < kDestructorRounds; ++round) {
    bool ran = false;
    for (LONG k = 0; k < __atomic_load_n(&g_keyCount, __ATOMIC_ACQUIRE); ++k) {
      const Key key = g_keys[k];
      void* value = TlsGetValue(key.index);
      if (value != nullptr && key.destructor != nullptr) {
        TlsSetValue(key.index, nullptr);
        key.destructor(value);
        ran = true;
      }
    }
    if (!ran) {
      return;
    }
  }
}

// Constructed before and so destroyed after every other static object of the DLL: whatever
// their destructors still need of the runtime is there until this one runs.
struct RuntimeRelease {
  ~RuntimeRelease() {
    // The unloading thread's values (the host's threads that outlive the DLL keep theirs, a few
    // hundred bytes at most), then the indexes, then the exception machinery's emergency pool.
    EndThreadValues();
    for (LONG k = 0; k < g_keyCount; ++k) {
      TlsFree(g_keys[k].index);
    }
    g_keyCount = 0;
    __gnu_cxx::__freeres();
  }
};
RuntimeRelease g_release __attribute__((init_priority(101)));

}  // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_THREAD_DETACH) {
    EndThreadValues();
  }
  return TRUE;
}

int __cxa_guard_acquire(uint64_t* guard) {
  if (Initialised(guard)) {
    return 0;
  }
  const LONG self = static_cast<LONG>(GetCurrentThreadId());
  volatile LONG* constructor = ConstructorOf(guard);
  for (int round = 0;; ++round) {
    const LONG was = InterlockedCompareExchange(constructor, self, 0);
    if (was == 0) {
      if (Initialised(guard)) {  // finished between the first test and now
        InterlockedExchange(constructor, 0);
        return 0;
      }
      return 1;  // the caller constructs, then releases or aborts
    }
    if (was == self) {
      kvx::ThrowRecursiveInit();
    }
    Sleep(round < 64 ? 0 : 1);
    if (Initialised(guard)) {
      return 0;
    }
  }
}

void __cxa_guard_release(uint64_t* guard) {
  __atomic_store_n(reinterpret_cast<uint8_t*>(guard), 1, __ATOMIC_RELEASE);
  InterlockedExchange(ConstructorOf(guard), 0);
}

void __cxa_guard_abort(uint64_t* guard) {
  InterlockedExchange(ConstructorOf(guard), 0);
}

int pthread_mutex_init(Mutex* mutex, const unsigned*) {
  CRITICAL_SECTION* made = MakeSection();
  if (made == nullptr) {
    return ENOMEM;
  }
  *mutex = reinterpret_cast<Mutex>(made);
  return 0;
}

int pthread_mutex_destroy(Mutex* mutex) {
  if (!Unmade(*mutex) && *mutex != 0) {
    FreeSection(reinterpret_cast<CRITICAL_SECTION*>(*mutex));
  }
  *mutex = -1;
  return 0;
}

int pthread_mutex_lock(Mutex* mutex) {
  CRITICAL_SECTION* section = SectionOf(mutex);
  if (section == nullptr) {
    return ENOMEM;
  }
  EnterCriticalSection(section);
  return 0;
}

int pthread_mutex_unlock(Mutex* mutex) {
  LeaveCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(*mutex));
  return 0;
}

// 0 not run yet, 1 running, 2 done.
int pthread_once(long* once, void (*function)()) {
  if (InterlockedCompareExchange(once, 1, 0) == 0) {
    function();
    InterlockedExchange(once, 2);
    return 0;
  }
  for (int round = 0; InterlockedCompareExchange(once, 2, 2) != 2; ++round) {
    Sleep(round < 64 ? 0 : 1);
  }
  return 0;
}

int pthread_key_create(unsigned* key, void (*destructor)(void*)) {
  g_keyLock.Lock();
  int result = EAGAIN;
  if (g_keyCount < kMostKeys) {
    const DWORD index = TlsAlloc();
    if (index != TLS_OUT_OF_INDEXES) {
      g_keys[g_keyCount] = Key{index, destructor};
      __atomic_store_n(&g_keyCount, g_keyCount + 1, __ATOMIC_RELEASE);
      *key = index;
      result = 0;
    }
  }
  g_keyLock.Unlock();
  return result;
}

void* pthread_getspecific(unsigned key) {
  // TlsGetValue clears the last error, which the runtime's callers may still need.
  const DWORD error = GetLastError();
  void* value = TlsGetValue(key);
  SetLastError(error);
  return value;
}

int pthread_setspecific(unsigned key, const void* value) {
  return TlsSetValue(key, const_cast<void*>(value)) ? 0 : EINVAL;
}

}  // extern "C"
