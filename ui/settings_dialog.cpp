#include "ui/settings_dialog.h"

#include "plugin/host_records.h"

namespace kvx {

SettingsDialog& Dialog() {
  static SettingsDialog dialog;
  return dialog;
}

void SettingsDialog::Show(HWND) {
  // The dialog's pages are not written yet; nothing opens.
}

void SettingsDialog::FocusAndFlash() {
  if (window_ == nullptr) {
    return;
  }
  SetFocus(window_);
  // Four inversions: the caption flashes twice.
  for (int i = 0; i < 4; ++i) {
    FlashWindow(window_, TRUE);
    Sleep(60);
  }
}

void SettingsDialog::Destroy() {
  if (window_ != nullptr) {
    DestroyWindow(window_);
    window_ = nullptr;
  }
}

void SettingsDialog::PostUpdate(WPARAM code) {
  // A post to a null window would land in the calling thread's own queue.
  if (window_ != nullptr) {
    PostMessageW(window_, kWmPipUpdate, code, 0);
  }
}

}  // namespace kvx
