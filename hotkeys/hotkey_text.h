// The readable form of a HotkeyCode, for column "Горячая клавиша" of the hotkeys page:
// "Ctrl + Shift + Alt + key", with the names the active keyboard layout gives.
//
// Threads: the host's user-interface thread (the keyboard layout is per thread).
#pragma once

#include <cstdint>
#include <string>

namespace kvx {

// The layout's name of a key; extended asks for the extended key's name (bit 24 of lParam).
using KeyNameFn = std::wstring (*)(uint8_t virtualKey, bool extended);

// Bits 16-31 of code are ignored; 0 in bits 0-15 is the empty text.
std::wstring HotkeyText(uint32_t code, KeyNameFn keyName);

// The names an English keyboard layout gives, for a layout that names no such key and for the
// read-me's hotkey table; empty for a key it does not know.
std::wstring StandardKeyName(uint8_t virtualKey, bool extended);

#ifdef _WIN32
// The active keyboard layout's name of a key, at most 99 characters.
std::wstring LayoutKeyName(uint8_t virtualKey, bool extended);
// HotkeyText with the active keyboard layout's names.
std::wstring HotkeyText(uint32_t code);
#endif

}  // namespace kvx
