// The single module-wide settings object: the settings record in use, the settings dialog's
// position, Cancel's snapshot, the settings file and its location, and the host's windows.
//
// Threads: LoadSettings and SaveSettings run on the host's thread that calls Init and Done;
// FindHostWindows on the thread that calls Start; Snapshot, Restore and the dialog position on
// the host's user-interface thread (the settings dialog). Everything else reads and writes the
// fields of current directly, without a lock (see PipSettings).
#pragma once

#include <cstdint>
#include <optional>

#include "plugin/host_records.h"
#include "settings/ini_file.h"
#include "settings/pip_settings.h"
#include "settings/settings_location.h"

namespace kvx {

// An opaque window handle (HWND on Windows).
using WindowHandle = void*;

// What the settings store needs from the system: the facts that place the settings file, the
// folder it lies in, and the file itself.
class SettingsSystem : public SettingsFiles {
 public:
  virtual LocationFacts GatherFacts() = 0;
  // Creates the folder's last level; an existing folder or a failure is ignored.
  virtual void CreateFolder(const std::wstring& folder) = 0;
};

struct DialogPos {
  int32_t x;
  int32_t y;
};

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
  // Where the settings file lies; the instance id also names the host's windows.
  SettingsLocation location;
  IniFile ini;

  // The host's channel at a 0-based position, or null beyond its list. A host that lent no
  // lookup function has no channels.
  const HostChannel* HostChannelAt(int32_t position) const;

  // Keeps the host's callbacks, locates the settings file through system and reads it: every
  // setting takes the file's value or its default. system must outlive the next Save.
  void Load(const HostCallbacks* callbacks, SettingsSystem& system);
  // Writes the settings back. The file is not touched when its text would not change, when it
  // could not be read at Load, or when it holds text of its own (hand edits, other sections)
  // and no setting has changed since Load.
  void Save();

  // The settings dialog opens: keeps a copy of every setting for Cancel.
  void Snapshot();
  // The settings dialog is cancelled: every setting returns to the last Snapshot. Without one
  // nothing changes.
  void Restore();
  DialogPos GetDialogPos() const { return {DlgWndPosX, DlgWndPosY}; }
  void SetDialogPos(int32_t x, int32_t y);

 private:
  std::optional<PipSettings> backup_;
  // The values as Load left them, to tell whether anything changed.
  PipSettings loaded_;
  DialogPos loadedDialogPos_{0, 0};
};

SettingsStore& Settings();

// Init: keeps the host's callbacks, then reads the settings through the platform's system.
void LoadSettings(const HostCallbacks* callbacks);
// Done: writes the settings back (see SettingsStore::Save).
void SaveSettings();

// Tests put their own system in place of the platform's for LoadSettings; null restores the
// platform's. Returns the one set before.
SettingsSystem* SetSettingsSystemForTesting(SettingsSystem* system);
// The testing system when one is set, else platform. Used by each platform's LoadSettings.
SettingsSystem& SettingsSystemInUse(SettingsSystem& platform);

}  // namespace kvx
