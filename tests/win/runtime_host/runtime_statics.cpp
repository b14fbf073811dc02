// Function-local statics under the DLL's own runtime (runtime/threads.cpp and exceptions.cpp,
// linked here in place of the pthread library exactly as into KVX_PiP.dll): sixteen threads,
// started and released together before anything is built, race for statics whose initialisers
// take a while, and one of those initialisers needs another static that a second thread builds.
// Exactly one thread builds each object, no thread goes on before the object stands, and one
// object being built never holds up another.
//
// Prints one line, "statics built <n> early <n> blocked <n>", and exits 0 when they are 2, 0
// and 0.
#include <windows.h>

#include <cstdio>

namespace {

LONG g_built = 0;
LONG g_early = 0;
LONG g_blocked = 0;
HANDLE g_go = nullptr;

struct Slow {
  explicit Slow(DWORD ms) {
    InterlockedIncrement(&g_built);
    Sleep(ms);
    ready = 1;
  }
  volatile LONG ready = 0;
};

Slow& Other() {
  static Slow other(100);
  return other;
}

DWORD WINAPI BuildOther(void*) {
  return Other().ready != 0 ? 0 : 1;
}

// Its initialiser waits for another thread to build Other(): a runtime that held one lock
// while any static is built would keep that thread waiting until this one gives up.
struct NeedsOther {
  NeedsOther() {
    InterlockedIncrement(&g_built);
    HANDLE helper = CreateThread(nullptr, 0, &BuildOther, nullptr, 0, nullptr);
    if (WaitForSingleObject(helper, 5000) != WAIT_OBJECT_0) {
      InterlockedIncrement(&g_blocked);
    }
    CloseHandle(helper);
    Sleep(100);
    ready = 1;
  }
  volatile LONG ready = 0;
};

NeedsOther& First() {
  static NeedsOther first;
  return first;
}

DWORD WINAPI Racer(void*) {
  WaitForSingleObject(g_go, INFINITE);
  if (First().ready == 0 || Other().ready == 0) {
    InterlockedIncrement(&g_early);
  }
  return 0;
}

}  // namespace

int main() {
  g_go = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE racers[16];
  for (HANDLE& racer : racers) {
    racer = CreateThread(nullptr, 0, &Racer, nullptr, 0, nullptr);
  }
  Sleep(50);  // all of them waiting at the start
  SetEvent(g_go);
  WaitForMultipleObjects(16, racers, TRUE, INFINITE);
  std::printf("statics built %ld early %ld blocked %ld\n", g_built, g_early, g_blocked);
  return g_built == 2 && g_early == 0 && g_blocked == 0 ? 0 : 1;
}
