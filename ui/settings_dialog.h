// The modeless settings dialog: two tab pages (the PiP device and the hotkeys), OK, Cancel,
// About, and a status line that tells whether the PiP capture graph could be built and started.
// The object lives for the module's lifetime; its window exists only while the dialog is open.
//
// Threads: Show, Destroy and every handler run on the host's user-interface thread.
// StatusTextId is set by the graph operations on whichever thread runs them; Window() and
// PostUpdate may be used from any thread.
#pragma once

#include <windows.h>

#include <cstdint>

#include "plugin/shared_value.h"
#include "ui/about_dialog.h"
#include "ui/device_page.h"
#include "ui/dialog_window.h"
#include "ui/hotkeys_page.h"

namespace kvx {

// wParam codes of WM_PIP_UPDATE. The dialog handles 0 to 2 and passes 3 to 12 to the device
// page.
inline constexpr WPARAM kUpdateAll = 0;
inline constexpr WPARAM kUpdateTab = 1;
inline constexpr WPARAM kUpdateStatusLine = 2;
inline constexpr WPARAM kUpdatePosX = 5;  // the mouse hook moved the PiP rectangle
inline constexpr WPARAM kUpdatePosY = 6;
inline constexpr WPARAM kUpdateLastPageCode = 12;

// String-table ids of the status line.
inline constexpr int32_t kStatusGood = 3;
inline constexpr int32_t kStatusBuildFailed = 4;
inline constexpr int32_t kStatusRunFailed = 5;

class SettingsDialog : public DialogWindow {
 public:
  SettingsDialog();

  // Opens the dialog, owned by the host's window (which may be null).
  void Show(HWND host);
  // Brings an open dialog to the user's attention: focus, and the caption flashed twice.
  void FocusAndFlash();
  // Posts WM_PIP_UPDATE to the open dialog; nothing while it is closed.
  void PostUpdate(WPARAM code);

  SharedValue<int32_t> StatusTextId;

 private:
  BOOL OnInitDialog() override;
  void OnDestroy() override;
  void OnFinalMessage() override;
  void Update(WPARAM code);
  void Ok();
  void Cancel();

  ForeignWindow host_;
  AboutDialog about_;
  DevicePage devicePage_;
  HotkeysPage hotkeysPage_;
};

SettingsDialog& Dialog();

}  // namespace kvx
