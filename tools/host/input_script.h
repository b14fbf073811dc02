// Scripted user input for the host stand-in and the Wine tests: key presses by hotkey code,
// clicks, double-clicks and drags at points of a window's client area, all sent with SendInput,
// so they pass through the input queue (and its hooks) like a user's.
//
// A script is a list of steps separated by ';', each "<ms> <verb> <arguments>", ms counted from
// the script's start:
//   key <code>                a hotkey code: low byte the virtual key, 0x100 Shift, 0x200 Ctrl,
//                             0x400 Alt, 0x800 an extended key (592 is Ctrl+P)
//   keydown <vk>, keyup <vk>  one key pressed or released alone (17 is Ctrl)
//   click <x> <y>             the left button at a point of the picture
//   dblclick <x> <y>          two clicks 80 ms apart
//   drag <x1> <y1> <x2> <y2>  press at the first point, move to the second, release
//   frames on|off             the host's own verbs (run by the caller): plug-in frames on or
//   start                     off, Start again, the plug-in's settings (ShowSettings), a
//   settings                  click on tab n of the open settings dialog, and a picture of
//   tab <n>                   the screen (screen_<n>.png in the /save folder)
//   shot <n>
// Points are in picture pixels; the runner scales them to the video window's client area.
//
// Threads: everything on the thread that owns the windows (the host's UI thread); the input
// arrives through that thread's message loop.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace zhost {

// Presses and releases the key of a hotkey code with its modifiers, focusing window first.
void sendKey(HWND window, uint32_t code);
// Presses or releases one key, focusing window first.
void sendKeyEvent(HWND window, WORD key, bool up);
// Moves the pointer to a point of window's client area, optionally pressing or releasing the
// left button there.
enum class Button { kNone, kDown, kUp };
void sendMouse(HWND window, int x, int y, Button button);

struct InputAction {
  int atMs;
  std::wstring verb;  // key, move, down, up, or a host verb (frames, start)
  std::vector<int> args;
  std::wstring text;  // the step as written, for the log
};

// The actions of a script in time order, each compound step broken into its timed parts.
// Returns an error text, empty when the script was understood.
std::wstring parseInputScript(const std::wstring& script, std::vector<InputAction>& actions);

// Runs due actions of a parsed script against the video window (points) and the main window
// (keys); host verbs go to hostVerb. Every action is shown to observe first.
class InputRunner {
 public:
  using Callback = std::function<void(const InputAction&)>;
  InputRunner(std::vector<InputAction> actions, HWND main, HWND video, int pictureWidth,
              int pictureHeight, Callback hostVerb, Callback observe);
  // Runs the actions due at elapsedMs; true while some remain.
  bool run(int elapsedMs);

 private:
  std::vector<InputAction> actions_;
  size_t next_ = 0;
  HWND main_;
  HWND video_;
  int width_;
  int height_;
  Callback hostVerb_;
  Callback observe_;
};

}  // namespace zhost
