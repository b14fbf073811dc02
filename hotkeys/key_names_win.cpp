#include <windows.h>

#include "hotkeys/hotkey_text.h"

namespace kvx {

std::wstring LayoutKeyName(uint8_t virtualKey, bool extended) {
  const UINT scan = MapVirtualKeyW(virtualKey, MAPVK_VK_TO_VSC);
  // Bit 25 stays clear so left and right keys keep their own names.
  const LONG lParam = static_cast<LONG>(scan << 16 | (extended ? 0x1000000u : 0u));
  wchar_t name[100] = {};
  GetKeyNameTextW(lParam, name, 100);
  name[99] = L'\0';
  return name;
}

std::wstring HotkeyText(uint32_t code) {
  return HotkeyText(code, &LayoutKeyName);
}

}  // namespace kvx
