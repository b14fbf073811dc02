// Keeps the DLL's unwind tables with the unwinder linked into the DLL (32-bit builds).
//
// The start-up code of a 32-bit DLL registers the DLL's unwind tables with libgcc_s_dw2-1.dll
// when some other module of the process has that DLL loaded (a plug-in built with MinGW's
// shared runtime), and with the statically linked unwinder otherwise. Ours is static, so in the
// first case it would find no tables, and the first exception thrown inside the DLL would end
// the host even where it is caught. The start-up code finds that DLL with GetModuleHandleA, the
// only caller of it in this DLL: its import is answered here, and that one name is not found.
// (64-bit builds unwind through the system's tables and register nothing.)
//
// Threads: called by the start-up code while the DLL loads and unloads.
#include <windows.h>

#if defined(__i386__)

namespace {

constexpr char kSharedUnwinder[] = "libgcc_s_dw2-1.dll";

bool SameAsciiName(const char* a, const char* b) {
  const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
  for (; *a != 0 && *b != 0; ++a, ++b) {
    if (lower(*a) != lower(*b)) {
      return false;
    }
  }
  return *a == *b;
}

HMODULE WINAPI FindLoadedModule(LPCSTR name) {
  if (name == nullptr) {
    return GetModuleHandleW(nullptr);
  }
  if (SameAsciiName(name, kSharedUnwinder)) {
    return nullptr;
  }
  wchar_t wide[MAX_PATH];
  if (MultiByteToWideChar(CP_ACP, 0, name, -1, wide, MAX_PATH) == 0) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  return GetModuleHandleW(wide);
}

}  // namespace

// The import slot the start-up code calls through.
extern "C" HMODULE(WINAPI* const kGetModuleHandleA)(LPCSTR) __asm__("__imp__GetModuleHandleA@4");
extern "C" HMODULE(WINAPI* const kGetModuleHandleA)(LPCSTR) = &FindLoadedModule;

#endif
