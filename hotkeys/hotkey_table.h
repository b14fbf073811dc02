// The 34 hotkey commands in their fixed order: the order of the HK_ keys in the settings file,
// of their PipSettings fields, of the rows on the hotkeys page and of the keyboard hook's tests.
// The table is constant; the codes currently assigned live in PipSettings.
//
// Threads: the table is read from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "settings/pip_settings.h"

namespace kvx {

// Bits 0-7 the virtual-key code, bits 8-15 the modifier flags below (the word of the common
// controls' hot-key control); 0 is no key.
using HotkeyCode = uint32_t;

inline constexpr uint32_t kHotkeyShift = 0x01;     // HOTKEYF_SHIFT
inline constexpr uint32_t kHotkeyControl = 0x02;   // HOTKEYF_CONTROL
inline constexpr uint32_t kHotkeyAlt = 0x04;       // HOTKEYF_ALT
inline constexpr uint32_t kHotkeyExtended = 0x08;  // HOTKEYF_EXT: bit 24 of the key's lParam

constexpr HotkeyCode MakeHotkeyCode(uint32_t virtualKey, uint32_t flags) {
  return (flags & 0xFF) << 8 | (virtualKey & 0xFF);
}

enum class HotkeyCommand : uint8_t {
  kTogglePiP,     // invert PiPEnable, run or stop the graph
  kNextChannel,   // NextChannel
  kPrevChannel,   // PrevChannel
  kSetChannel,    // SetChannel(source)
  kSetTVChannel,  // SetChannel(PiPTVChannel)
  kSwapChannels,  // SwapChannels
  kShiftLeft,     // PiPWndPosX - 10, ClampPipRect
  kShiftRight,    // PiPWndPosX + 10, ClampPipRect
  kShiftUp,       // PiPWndPosY - 20, ClampPipRect
  kShiftDown,     // PiPWndPosY + 20, ClampPipRect
  kSizePlus,      // ResizePipRect to PiPWndSize + 5, at most 50
  kSizeMinus,     // ResizePipRect to PiPWndSize - 5, at least 10
  kOpacityPlus,   // Opacity + 10, at most 100
  kOpacityMinus,  // Opacity - 10, at least 0
};

struct HotkeyRow {
  const char* key;          // INI key, also the name of the PipSettings field
  const char* displayName;  // column "Команда" of the hotkeys page, Windows-1251
  HotkeyCode defaultCode;
  HotkeyCommand command;
  int32_t source;  // kSetChannel's argument: a channel position, kSourceComposite or kSourceSVideo
  uint32_t PipSettings::*field;
};

inline constexpr size_t kHotkeyCount = 34;

std::span<const HotkeyRow, kHotkeyCount> HotkeyRows();

}  // namespace kvx
