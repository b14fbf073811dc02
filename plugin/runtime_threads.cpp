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
// Threads: any; every function is safe to call from several threads at once.
#include <windows.h>

#include <cerrno>
#include <cstdint>
#include <new>

namespace {

// Function-local statics: one lock for every guard, which the initialising thread may take again
// for a static met inside another's initialiser. The holder's id (no thread has id 0) and depth.
volatile LONG g_guardOwner = 0;
LONG g_guardDepth = 0;

void LockGuards() {
  const LONG self = static_cast<LONG>(GetCurrentThreadId());
  if (g_guardOwner == self) {
    ++g_guardDepth;
    return;
  }
  for (int round = 0; InterlockedCompareExchange(&g_guardOwner, self, 0) != 0; ++round) {
    Sleep(round < 64 ? 0 : 1);
  }
  g_guardDepth = 1;
}

void UnlockGuards() {
  if (--g_guardDepth == 0) {
    InterlockedExchange(&g_guardOwner, 0);
  }
}

bool Initialised(const uint64_t* guard) {
  return __atomic_load_n(reinterpret_cast<const uint8_t*>(guard), __ATOMIC_ACQUIRE) != 0;
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

}  // namespace

extern "C" {

int __cxa_guard_acquire(uint64_t* guard) {
  if (Initialised(guard)) {
    return 0;
  }
  LockGuards();
  if (Initialised(guard)) {
    UnlockGuards();
    return 0;
  }
  return 1;  // the caller initialises, then releases
}

void __cxa_guard_release(uint64_t* guard) {
  __atomic_store_n(reinterpret_cast<uint8_t*>(guard), 1, __ATOMIC_RELEASE);
  UnlockGuards();
}

void __cxa_guard_abort(uint64_t*) {
  UnlockGuards();
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

// A key's destructor is not run at thread exit: the runtime keeps only the exception machinery's
// per-thread state there, which exists only on threads that met an exception.
int pthread_key_create(unsigned* key, void (*)(void*)) {
  const DWORD index = TlsAlloc();
  if (index == TLS_OUT_OF_INDEXES) {
    return EAGAIN;
  }
  *key = index;
  return 0;
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
