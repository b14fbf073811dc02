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

#include "base/shared_value.h"
#include "ui/about_dialog.h"
#include "ui/device_page.h"
#include "ui/dialog_window.h"
#include "ui/hotkeys_page.h"
#include "ui/update_codes.h"

namespace kvx {

// String-table ids of the status line.
inline constexpr int32_t kStatusGood = 3;
inline constexpr int32_t kStatusBuildFailed = 4;
inline constexpr int32_t kStatusRunFailed = 5;
inline constexpr int32_t kStatusDeviceLost = 6;
inline constexpr int32_t kStatusAccessDenied = 7;

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
  bool TranslateKey(const MSG& msg) override;
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
