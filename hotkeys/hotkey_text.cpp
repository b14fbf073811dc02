#include "hotkeys/hotkey_text.h"

#include "hotkeys/hotkey_table.h"

namespace kvx {
namespace {

constexpr uint8_t kVkShift = 0x10;
constexpr uint8_t kVkControl = 0x11;
constexpr uint8_t kVkMenu = 0x12;

}  // namespace

std::wstring HotkeyText(uint32_t code, KeyNameFn keyName) {
  const auto key = static_cast<uint8_t>(code & 0xFF);
  const uint32_t flags = code >> 8 & 0xFF;
  std::wstring text;
  if (key == 0 && flags == 0) {
    return text;
  }
  // Always Ctrl, Shift, Alt, whatever order they were pressed in; never extended.
  if (flags & kHotkeyControl) {
    text += keyName(kVkControl, false) + L" + ";
  }
  if (flags & kHotkeyShift) {
    text += keyName(kVkShift, false) + L" + ";
  }
  if (flags & kHotkeyAlt) {
    text += keyName(kVkMenu, false) + L" + ";
  }
  // Modifiers alone end with their separator.
  if (key != 0) {
    text += keyName(key, (flags & kHotkeyExtended) != 0);
  }
  return text;
}

}  // namespace kvx
