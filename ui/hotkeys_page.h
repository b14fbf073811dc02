// The settings dialog's second page: the 34 hotkey commands with their key combinations, edited
// one at a time in the small hotkey capture dialog, and the box that switches the keyboard hook.
// Every change goes straight into the settings, where the keyboard hook reads it.
//
// Threads: the host's user-interface thread; the capture dialog runs a nested modal loop there.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <cstdint>
#include <string>

#include "ui/dialog_window.h"

namespace kvx {

class HotkeyCaptureDialog : public DialogWindow {
 public:
  HotkeyCaptureDialog();

  // Runs the dialog owned by owner. Value() is the new code after OK, the old one otherwise.
  void Run(HWND owner, const std::wstring& caption, uint32_t value);
  uint32_t Value() const { return value_; }

 private:
  BOOL OnInitDialog() override;
  // The hot-key control's window procedure while the dialog runs; the control's own comes next.
  static LRESULT CALLBACK WatchKeys(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

  std::wstring caption_;
  WNDPROC controlProc_ = nullptr;
  uint32_t value_ = 0;
  // The last key pressed in the hot-key control other than a modifier, and whether the keyboard
  // flagged it as an extended key.
  UINT lastKey_ = 0;
  bool lastKeyExtended_ = false;
};

class HotkeysPage : public DialogWindow {
 public:
  HotkeysPage();

 private:
  BOOL OnInitDialog() override;
  void OnDestroy() override;
  void EditSelectedRow();

  HIMAGELIST rowHeight_ = nullptr;
  HotkeyCaptureDialog capture_;
  int rowCount_ = 0;
};

}  // namespace kvx
