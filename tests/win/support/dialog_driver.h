// Driving the settings dialog in-process, on the test thread as the host's user-interface
// thread: a window standing in for the host's main window and one for its video window, the
// virtual card as the PiP card, and helpers to pump messages, find the dialog's pages, answer
// its modal windows from another thread and look at what the screen shows. Set KVX_SHOTS to a
// folder to keep pictures of the dialogs.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "settings/pip_settings.h"
#include "tests/win/support/pip_card.h"

namespace kvx::test {

// Dispatches the test thread's messages for ms milliseconds.
void Pump(DWORD ms);
// Saves a picture of a window as the screen shows it when KVX_SHOTS names a folder.
void Shot(HWND window, const wchar_t* name);
// Pixels of exactly this colour in a window as the screen shows it.
int PixelsOf(HWND window, COLORREF colour);
std::wstring Text(HWND window);
// The visible top-level window whose caption holds part, or null.
HWND FindCaption(const wchar_t* part);
// The row of the hotkey table that edits field.
size_t HotkeyRowOf(uint32_t PipSettings::*field);

// One 320x240 host frame the plug-in composed, over a picture of one byte value (grey in YUY2
// when the U and V bytes are 128).
class HostPicture {
 public:
  HostPicture(int32_t format, uint8_t fill, uint8_t chroma);
  // RGB24: the pixel at x, y as 0x00BBGGRR.
  COLORREF At(int x, int y) const;
  // YUY2: the four bytes Y0 U Y1 V of the pair that holds x, y.
  const uint8_t* Pair(int x, int y) const { return &pixels_[(y * 320 + (x & ~1)) * 2]; }

 private:
  std::vector<uint8_t> pixels_;
};

// On another thread: waits for a top-level window with this caption (null after 5 s), then acts
// on it while the test thread sits in the window's modal loop.
std::thread WhenShown(std::wstring caption, std::function<void(HWND)> act);
// The same for the active window owned by owner.
std::thread WhenOwnedShown(HWND owner, std::function<void(HWND)> act);

class SettingsDialogTest : public PipCardTest {
 protected:
  void SetUp() override;
  void TearDown() override;

  // ShowSettings with the host's main window, then the dialog's first messages.
  HWND Open();
  // The two pages are the tab control's dialogs, the device page first.
  static HWND Page(int index);
  static void Click(HWND window, int id);
  // Start with a 320x240 picture in the format given.
  void Start(int32_t format = kHostFormatYuy2);
  // A hotkey pressed on the host's window while frames arrive.
  void Press(uint32_t code);

  HWND host_ = nullptr;
  HWND videoFrame_ = nullptr;
  HWND video_ = nullptr;
};

}  // namespace kvx::test
