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
};

class KeyboardState {
 public:
  // Follows Shift, Ctrl, Alt and the extended bit; the hotkey code of a press of any other key,
  // 0 for a release or a modifier.
  HotkeyCode Track(const KeyStroke& key);
  uint32_t modifiers() const { return modifiers_; }

 private:
  // Survives Stop and Start, and keeps a modifier released while the hook was not looking.
  uint32_t modifiers_ = 0;
};

// Toggles PiP on its hotkey, then, while the graph runs, every other command on this code.
void RunHotkeys(HotkeyCode code, PipSettings& settings, HotkeyActions& actions);

}  // namespace kvx
