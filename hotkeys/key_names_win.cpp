#include <windows.h>

#include <string>

#include "hotkeys/hotkey_text.h"

namespace kvx {

std::wstring LayoutKeyName(uint8_t virtualKey, bool extended) {
  const UINT scan = MapVirtualKeyW(virtualKey, MAPVK_VK_TO_VSC);
  // Bit 25 stays clear so left and right keys keep their own names.
  const LONG lParam = static_cast<LONG>(scan << 16 | (extended ? 0x1000000u : 0u));
  wchar_t name[100] = {};
  if (scan != 0) {
    GetKeyNameTextW(lParam, name, 100);
  }
  name[99] = L'\0';
  if (name[0] != L'\0') {
    return name;
  }
  // Some keyboard layouts map no scan code to the numeric pad's keys (Wine's X11 layouts); the
  // names Windows gives them keep such a hotkey readable.
  return StandardKeyName(virtualKey, extended);
}

std::wstring HotkeyText(uint32_t code) {
  return HotkeyText(code, &LayoutKeyName);
}

}  // namespace kvx
