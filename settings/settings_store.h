// The single module-wide settings object.
//
// Threads: LoadSettings and SaveSettings run on the host's thread that calls Init and Done;
// FindHostWindows on the thread that calls Start. Everything else reads and writes the fields
// directly, without a lock (see PipSettings).
#pragma once

#include <cstdint>

#include "plugin/host_records.h"
#include "settings/pip_settings.h"

namespace kvx {

// An opaque window handle (HWND on Windows).
using WindowHandle = void*;

struct SettingsStore {
  PipSettings current;
  // The host's windows, found at every Start.
  WindowHandle MainWindow = nullptr;
  WindowHandle VideoFrameWindow = nullptr;
  WindowHandle VideoWindow = nullptr;
  // Top-left corner of the settings dialog when it was last closed; -100, -100 = never placed.
  int32_t DlgWndPosX = 0;
  int32_t DlgWndPosY = 0;
  // The host's callbacks, kept unchanged from Init for the plug-in's lifetime.
  HostCallbacks host{};

  // The host's channel at a 0-based position, or null beyond its list. A host that lent no
  // lookup function has no channels.
  const HostChannel* HostChannelAt(int32_t position) const;
};

SettingsStore& Settings();

// Init: keeps the host's callbacks, then reads the settings.
void LoadSettings(const HostCallbacks* callbacks);
// Done: writes the settings back.
void SaveSettings();

}  // namespace kvx
