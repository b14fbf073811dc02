// What the keyboard hook does with a key: follow the modifier keys, build the hotkey code of a
// press, and run every command whose hotkey holds that code, in the hotkey table's order.
// Portable; hooks/hooks.cpp feeds it the hook's keys and carries out the graph and channel
// operations through HotkeyActions.
//
// Threads: the host's user-interface thread, the one whose keys the hook watches. The settings
// fields are written without a lock.
#pragma once

#include <cstdint>

#include "hotkeys/hotkey_table.h"
#include "settings/pip_settings.h"

namespace kvx {

// The operations hotkeys reach outside the settings record.
class HotkeyActions {
 public:
  virtual ~HotkeyActions() = default;
  virtual bool GraphRunning() = 0;
  // The graph has a crossbar to route sources and channels through; a USB grabber or camera
  // has none, and the channel commands' hotkeys then do nothing.
  virtual bool CanSwitchSource() = 0;
  virtual void RunGraph() = 0;
  virtual void StopGraph() = 0;
  virtual void NextChannel() = 0;
  virtual void PrevChannel() = 0;
  virtual void SetChannel(int32_t position) = 0;
  virtual void SwapChannels() = 0;
};

struct KeyStroke {
  uint32_t virtualKey;
  bool extended;  // bit 24 of the key's flags
  bool released;  // bit 31
  // The Shift, Ctrl and Alt bits whose keys the system reports down (kHotkeyShift, ...).
  uint32_t modifiersDown;
};

class KeyboardState {
 public:
  // Follows Shift, Ctrl and Alt; the hotkey code of a press of any other key, 0 for a release
  // or a modifier.
  HotkeyCode Track(const KeyStroke& key);
  uint32_t modifiers() const { return modifiers_; }

 private:
  // The modifiers whose press the hook saw. A release the hook missed (the gate was closed, or
  // another window had the focus) must not turn plain keys into hotkeys: the next key press
  // keeps only the bits whose key the system still reports down.
  uint32_t modifiers_ = 0;
};

// Toggles PiP on its hotkey, then, while the graph runs, every other command on this code.
void RunHotkeys(HotkeyCode code, PipSettings& settings, HotkeyActions& actions);

}  // namespace kvx
