#include "hooks/hooks.h"

#include <windows.h>

#include <utility>

namespace kvx {
namespace {

HHOOK g_mouseHook = nullptr;
HHOOK g_keyboardHook = nullptr;

void Remove(HHOOK& hook) {
  if (HHOOK h = std::exchange(hook, nullptr)) {
    UnhookWindowsHookEx(h);
  }
}

}  // namespace

// The hook procedures are not written yet, so nothing is installed.
void InstallMouseHook() {}
void InstallKeyboardHook() {}

void RemoveMouseHook() {
  Remove(g_mouseHook);
}
void RemoveKeyboardHook() {
  Remove(g_keyboardHook);
}

void ForgetHookHandles() {
  g_mouseHook = nullptr;
  g_keyboardHook = nullptr;
}

}  // namespace kvx
