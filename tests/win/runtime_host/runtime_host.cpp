// A host that drives the plug-in DLL's own runtime, not a test program's: it loads KVX_PiP.dll
// from its folder as Zorvinta does and reports what the process is left with. Plain Win32 and
// CreateThread, so that its own runtime adds nothing to what it measures.
//
//   runtime_host unwinder [preload]   an exception inside the DLL, caught inside the DLL, with
//                                     libgcc_s_dw2-1.dll loaded first when asked
//   runtime_host cycles <n>           n load/Init/Start/Frame/Stop/Done/unload cycles, each on
//                                     a host thread that then ends, with frame threads that race
//                                     Init for the DLL's first uses of its statics and end too
//   runtime_host threads <n>          one load, and n such host threads one after another
//
// Each prints one line of figures and exits 0; a host the plug-in ended exits otherwise.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <initializer_list>

#include "plugin/host_records.h"

namespace {

wchar_t g_folder[MAX_PATH];

// The result line, on the console and in result.txt beside the program for the test to read.
void Report(const char* line) {
  std::fputs(line, stdout);
  HANDLE file = CreateFileW(L"result.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD written = 0;
  WriteFile(file, line, static_cast<DWORD>(std::strlen(line)), &written, nullptr);
  CloseHandle(file);
}

const wchar_t* Beside(const wchar_t* name) {
  static wchar_t path[MAX_PATH];
  std::swprintf(path, MAX_PATH, L"%ls\\%ls", g_folder, name);
  return path;
}

// A settings file the plug-in reads whole: 16 MiB, the most it reads.
void WriteLargeSettings() {
  CreateDirectoryW(Beside(L"Plugins"), nullptr);
  HANDLE file = CreateFileW(Beside(L"Plugins\\KVX_PiP.ini"), GENERIC_WRITE, 0, nullptr,
                            CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  static char line[4096];
  std::memset(line, ';', sizeof line);
  line[sizeof line - 2] = '\r';
  line[sizeof line - 1] = '\n';
  DWORD written = 0;
  WriteFile(file, "[COMMON]\r\n", 10, &written, nullptr);
  for (int i = 0; i < 4096; ++i) {  // the largest file the plug-in reads: 16 MiB exactly
    WriteFile(file, line + (i == 0 ? 10 : 0), sizeof line - (i == 0 ? 10 : 0), &written, nullptr);
  }
  CloseHandle(file);
}

// Reserves address space until no 16 MiB are left in one piece: reading the settings file
// whole fails for want of memory, inside the plug-in; smaller allocations still succeed.
struct Exhaustion {
  void* blocks[4096];
  int count = 0;
  Exhaustion() {
    if (sizeof(void*) != 4) {
      return;  // a 64-bit process has more than it can reserve here
    }
    while (count < 4096) {
      void* block = VirtualAlloc(nullptr, 16 << 20, MEM_RESERVE, PAGE_NOACCESS);
      if (block == nullptr) {
        break;
      }
      blocks[count++] = block;
    }
  }
  ~Exhaustion() {
    while (count > 0) {
      VirtualFree(blocks[--count], 0, MEM_RELEASE);
    }
  }
};

const kvx::PluginDescriptor* Descriptor(HMODULE module) {
  auto get = reinterpret_cast<kvx::PluginDescriptorFn>(
      reinterpret_cast<void*>(GetProcAddress(module, "Zorvinta_Plugin_PR")));
  return get != nullptr ? get() : nullptr;
}

// Bytes in use in every heap of the process.
long long HeapBytes() {
  HANDLE heaps[64];
  const DWORD count = GetProcessHeaps(64, heaps);
  long long bytes = 0;
  for (DWORD i = 0; i < count && i < 64; ++i) {
    PROCESS_HEAP_ENTRY entry{};
    HeapLock(heaps[i]);
    while (HeapWalk(heaps[i], &entry)) {
      if ((entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) != 0) {
        bytes += entry.cbData;
      }
    }
    HeapUnlock(heaps[i]);
  }
  return bytes;
}

// How many thread-local indexes are free: one fewer for each the DLL leaves behind, wherever
// in the table it lies.
DWORD FreeTls() {
  static DWORD taken[2048];
  DWORD count = 0;
  while (count < 2048 && (taken[count] = TlsAlloc()) != TLS_OUT_OF_INDEXES) {
    ++count;
  }
  for (DWORD i = 0; i < count; ++i) {
    TlsFree(taken[i]);
  }
  return count;
}

struct Cycle {
  const kvx::PluginDescriptor* plugin;
  HANDLE go;
  bool exhaust;  // Init reads the settings with too little memory left
};

DWORD WINAPI FrameThread(void* context) {
  auto* cycle = static_cast<Cycle*>(context);
  static uint8_t pixels[4][64 * 48 * 2];
  static LONG next = 0;
  uint8_t* own = pixels[InterlockedIncrement(&next) % 4];
  kvx::HostChannelState state{};
  kvx::HostFrame frame{};
  frame.pixels = own;
  frame.channelState = &state;
  WaitForSingleObject(cycle->go, INFINITE);
  for (int i = 0; i < 50; ++i) {
    cycle->plugin->frame(&frame);
  }
  return 0;
}

// The host's user-interface thread for one load: it reads a settings file too large for the
// memory left (an exception inside the DLL, on this thread) while four frame threads, started
// before anything of the DLL ran, race its first uses of its statics; then it ends.
DWORD WINAPI HostThread(void* context) {
  auto* cycle = static_cast<Cycle*>(context);
  kvx::HostCallbacks callbacks{nullptr, nullptr};
  HANDLE frames[4];
  for (HANDLE& thread : frames) {
    thread = CreateThread(nullptr, 0, &FrameThread, cycle, 0, nullptr);
  }
  SetEvent(cycle->go);
  if (cycle->exhaust) {
    Exhaustion exhausted;
    cycle->plugin->init(&callbacks);
  } else {
    cycle->plugin->init(&callbacks);
  }
  WaitForMultipleObjects(4, frames, TRUE, INFINITE);
  for (HANDLE thread : frames) {
    CloseHandle(thread);
  }
  kvx::HostStream stream{64, 48, 0, kvx::kHostFormatYuy2, 0};
  cycle->plugin->start(&stream);
  cycle->plugin->stop();
  cycle->plugin->done();
  return 0;
}

bool OneCycle() {
  HMODULE module = LoadLibraryW(Beside(L"KVX_PiP.dll"));
  if (module == nullptr) {
    return false;
  }
  Cycle cycle{Descriptor(module), CreateEventW(nullptr, TRUE, FALSE, nullptr), true};
  HANDLE host = CreateThread(nullptr, 0, &HostThread, &cycle, 0, nullptr);
  WaitForSingleObject(host, INFINITE);
  CloseHandle(host);
  CloseHandle(cycle.go);
  return FreeLibrary(module) != FALSE;
}

int Cycles(int n) {
  WriteLargeSettings();
  const DWORD tlsFirst = FreeTls();
  if (!OneCycle()) {  // what the first load leaves for good (the system's own caches)
    std::printf("cannot load KVX_PiP.dll\n");
    return 2;
  }
  const long long heapBefore = HeapBytes();
  const DWORD tlsBefore = FreeTls();
  for (int i = 0; i < n; ++i) {
    if (!OneCycle()) {
      return 2;
    }
  }
  char line[128];
  std::snprintf(line, sizeof line, "cycles %d heap %lld tls %lu %lu (%lu before the first)\n", n,
                HeapBytes() - heapBefore, tlsBefore, FreeTls(), tlsFirst);
  Report(line);
  return 0;
}

// One load, and host threads one after another, first n that do what the next n do without
// meeting an exception inside the DLL, then n that meet one: what the exception's threads leave
// beyond the others'.
int Threads(int n) {
  WriteLargeSettings();
  HMODULE module = LoadLibraryW(Beside(L"KVX_PiP.dll"));
  if (module == nullptr) {
    std::printf("cannot load KVX_PiP.dll\n");
    return 2;
  }
  Cycle cycle{Descriptor(module), CreateEventW(nullptr, TRUE, FALSE, nullptr), false};
  long long grown[2] = {};
  for (const bool exhaust : {false, true}) {
    cycle.exhaust = exhaust;
    // A file the plug-in reads without trouble, or one too large for the memory left.
    if (!exhaust) {
      DeleteFileW(Beside(L"Plugins\\KVX_PiP.ini"));
    } else {
      WriteLargeSettings();
    }
    long long before = 0;
    for (int i = 0; i <= n; ++i) {
      if (i == 1) {
        before = HeapBytes();  // after the first, which sets up what stays while loaded
      }
      HANDLE host = CreateThread(nullptr, 0, &HostThread, &cycle, 0, nullptr);
      WaitForSingleObject(host, INFINITE);
      CloseHandle(host);
    }
    grown[exhaust ? 1 : 0] = HeapBytes() - before;
  }
  char line[128];
  std::snprintf(line, sizeof line, "threads %d heap %lld with exceptions %lld\n", n, grown[0],
                grown[1]);
  CloseHandle(cycle.go);
  FreeLibrary(module);
  Report(line);
  return 0;
}

int Unwinder(bool preload) {
  if (preload && LoadLibraryW(Beside(L"libgcc_s_dw2-1.dll")) == nullptr) {
    std::printf("no libgcc_s_dw2-1.dll\n");
    return 2;
  }
  WriteLargeSettings();
  HMODULE module = LoadLibraryW(Beside(L"KVX_PiP.dll"));
  const kvx::PluginDescriptor* plugin = module != nullptr ? Descriptor(module) : nullptr;
  if (plugin == nullptr) {
    std::printf("cannot load KVX_PiP.dll\n");
    return 2;
  }
  kvx::HostCallbacks callbacks{nullptr, nullptr};
  int reserved = 0;
  {
    Exhaustion exhausted;
    plugin->init(&callbacks);
    reserved = exhausted.count;
  }
  plugin->done();
  FreeLibrary(module);
  char line[128];
  std::snprintf(line, sizeof line, "unwinder: the host goes on (%d blocks of 16 MiB reserved)\n",
                reserved);
  Report(line);
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  // A crash ends the process with its code rather than a dialog no one sees.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  const DWORD n = GetModuleFileNameW(nullptr, g_folder, MAX_PATH);
  for (DWORD i = n; i > 0; --i) {
    if (g_folder[i - 1] == L'\\' || g_folder[i - 1] == L'/') {
      g_folder[i - 1] = 0;
      break;
    }
  }
  if (argc >= 2 && std::wcscmp(argv[1], L"unwinder") == 0) {
    return Unwinder(argc >= 3 && std::wcscmp(argv[2], L"preload") == 0);
  }
  if (argc >= 3 && std::wcscmp(argv[1], L"cycles") == 0) {
    return Cycles(_wtoi(argv[2]));
  }
  if (argc >= 3 && std::wcscmp(argv[1], L"threads") == 0) {
    return Threads(_wtoi(argv[2]));
  }
  std::printf("usage: runtime_host unwinder [preload] | cycles <n> | threads <n>\n");
  return 2;
}
