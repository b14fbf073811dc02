// The modeless settings dialog. The object lives for the module's lifetime; its window exists
// only while the dialog is open.
//
// Threads: Show, Destroy and the window run on the host's user-interface thread. StatusTextId is
// set by the graph operations on whichever thread runs them; PostUpdate may be called from any
// thread.
#pragma once

#include <windows.h>

#include <cstdint>

#include "plugin/shared_value.h"

namespace kvx {

// wParam codes of WM_PIP_UPDATE.
inline constexpr WPARAM kUpdateStatusLine = 2;
inline constexpr WPARAM kUpdatePosX = 5;  // the mouse hook moved the PiP rectangle
inline constexpr WPARAM kUpdatePosY = 6;

// String-table ids of the status line.
inline constexpr int32_t kStatusGood = 3;
inline constexpr int32_t kStatusBuildFailed = 4;
inline constexpr int32_t kStatusRunFailed = 5;

class SettingsDialog {
 public:
  SettingsDialog() { StatusTextId = kStatusGood; }

  HWND Window() const { return window_; }
  // Opens the dialog as a child of parent (which may be null).
  void Show(HWND parent);
  // Brings an open dialog to the user's attention: focus, and the caption flashed twice.
  void FocusAndFlash();
  void Destroy();
  // Posts WM_PIP_UPDATE to the open dialog; nothing while it is closed.
  void PostUpdate(WPARAM code);

  SharedValue<int32_t> StatusTextId;

 private:
  HWND window_ = nullptr;
};

SettingsDialog& Dialog();

}  // namespace kvx
