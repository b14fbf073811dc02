// What the settings dialog decides without a window: where it opens, the device choice the
// capture graph was last built with, and what Cancel puts back.
//
// Threads: the host's user-interface thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "settings/pip_settings.h"
#include "settings/settings_store.h"

namespace kvx {

// The device choice the capture graph was last built with from the dialog: set when the dialog
// opens and by the device page's save button. OK and Cancel put it back into the settings, so a
// choice takes effect only when it is applied.
struct DeviceSelection {
  std::string TVTunerDeviceName;
  std::string TVTunerDevicePath;
  std::string TVAudioDeviceName;
  std::string TVAudioDevicePath;
  std::string CrossbarDeviceName;
  std::string CrossbarDevicePath;
  std::string CaptureDeviceName;
  std::string CaptureDevicePath;
  uint32_t TVTunerDeviceNameUnique = 0;
  uint32_t TVAudioDeviceNameUnique = 0;
  uint32_t CrossbarDeviceNameUnique = 0;
  uint32_t CaptureDeviceNameUnique = 0;
  int32_t StreamFormat = 0;
  int32_t StreamSize = 0;

  void TakeFrom(const PipSettings& settings);
  void PutBack(PipSettings& settings) const;
  // A build that found a saved device under a new path (a replugged one) moved the settings
  // from `before` to `after`: a selection of the old path takes the new one.
  void FollowRebound(const PipSettings& before, const PipSettings& after);
};

DeviceSelection& AppliedDeviceSelection();

// Cancel: every setting returns to the snapshot taken when the dialog opened, except what has
// already acted on the outside world: the applied devices (the graph runs with them) and the
// PiP's source (a swap retuned the card and told the host).
void CancelDialogChanges(SettingsStore& store, const DeviceSelection& applied);

// The names a device list shows: a name an earlier row already has gets " #2", the next " #3",
// in the list's order, so two cards of one make can be told apart. A number whose name the
// list already shows (a driver that numbers its own devices) is skipped: no two rows look alike.
std::vector<std::string> NumberedNames(const std::vector<std::string>& names);

// A position in tenths of a percent as the device page shows it: 650 is "65.0". The decimal
// point is '.' whatever locale the host set.
std::string TenthsText(int32_t tenths);

struct ScreenRect {
  int32_t left;
  int32_t top;
  int32_t right;
  int32_t bottom;
};

struct ScreenPoint {
  int32_t x;
  int32_t y;
};

// Where the dialog opens: its stored corner, unless it was never placed or lies beyond the
// screen; then centred on the host's window and kept on the screen.
ScreenPoint DialogPosition(DialogPos stored, int32_t screenWidth, int32_t screenHeight,
                           const ScreenRect& dialog, const ScreenRect& host);

}  // namespace kvx
