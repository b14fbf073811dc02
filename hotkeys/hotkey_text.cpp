#include "hotkeys/hotkey_text.h"

#include "hotkeys/hotkey_table.h"

namespace kvx {
namespace {

constexpr uint8_t kVkShift = 0x10;
constexpr uint8_t kVkControl = 0x11;
constexpr uint8_t kVkMenu = 0x12;

// The keys between Page Up (0x21) and Down (0x28), Insert and Delete are the numeric pad's
// keys unless extended.
struct PadKey {
  uint8_t virtualKey;
  const wchar_t* extended;
  const wchar_t* pad;
};
constexpr PadKey kPadKeys[] = {
    {0x21, L"Page Up", L"Num 9"},  {0x22, L"Page Down", L"Num 3"}, {0x23, L"End", L"Num 1"},
    {0x24, L"Home", L"Num 7"},     {0x25, L"Left", L"Num 4"},      {0x26, L"Up", L"Num 8"},
    {0x27, L"Right", L"Num 6"},    {0x28, L"Down", L"Num 2"},      {0x2D, L"Insert", L"Num 0"},
    {0x2E, L"Delete", L"Num Del"}, {0x6F, L"Num /", L"/"},         {0x0D, L"Num Enter", L"Enter"},
};

struct NamedKey {
  uint8_t virtualKey;
  const wchar_t* name;
};
constexpr NamedKey kNamedKeys[] = {
    {0x08, L"Backspace"}, {0x09, L"Tab"},       {0x10, L"Shift"},     {0x11, L"Ctrl"},
    {0x12, L"Alt"},       {0x13, L"Pause"},     {0x14, L"Caps Lock"}, {0x1B, L"Esc"},
    {0x20, L"Space"},     {0x2C, L"Prnt Scrn"}, {0x6A, L"Num *"},     {0x6B, L"Num +"},
    {0x6D, L"Num -"},     {0x6E, L"Num Del"},   {0x90, L"Num Lock"},  {0x91, L"Scroll Lock"},
};

}  // namespace

std::wstring StandardKeyName(uint8_t virtualKey, bool extended) {
  if ((virtualKey >= '0' && virtualKey <= '9') || (virtualKey >= 'A' && virtualKey <= 'Z')) {
    return std::wstring(1, static_cast<wchar_t>(virtualKey));
  }
  if (virtualKey >= 0x60 && virtualKey <= 0x69) {  // VK_NUMPAD0 .. VK_NUMPAD9
    return std::wstring(L"Num ") + static_cast<wchar_t>(L'0' + (virtualKey - 0x60));
  }
  if (virtualKey >= 0x70 && virtualKey <= 0x87) {  // VK_F1 .. VK_F24
    // Digits by hand: std::to_wstring would bring the C library's locale code into the DLL.
    const int number = virtualKey - 0x70 + 1;
    std::wstring name = L"F";
    if (number >= 10) {
      name += static_cast<wchar_t>(L'0' + number / 10);
    }
    return name + static_cast<wchar_t>(L'0' + number % 10);
  }
  for (const PadKey& key : kPadKeys) {
    if (key.virtualKey == virtualKey) {
      return extended ? key.extended : key.pad;
    }
  }
  for (const NamedKey& key : kNamedKeys) {
    if (key.virtualKey == virtualKey) {
      return key.name;
    }
  }
  return {};
}

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
