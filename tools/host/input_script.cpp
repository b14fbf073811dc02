#include "tools/host/input_script.h"

#include <algorithm>
#include <sstream>

namespace zhost {
namespace {

INPUT keyInput(WORD key, bool extended, bool up) {
  INPUT input{};
  input.type = INPUT_KEYBOARD;
  input.ki.wVk = key;
  input.ki.dwFlags = (extended ? KEYEVENTF_EXTENDEDKEY : 0) | (up ? KEYEVENTF_KEYUP : 0);
  return input;
}

// The screen in the 0..65535 units of absolute mouse input.
LONG absolute(int value, int size) {
  return static_cast<LONG>((static_cast<long long>(value) * 65535 + size / 2) /
                           std::max(1, size - 1));
}

void focus(HWND window) {
  if (window != nullptr) {
    SetForegroundWindow(window);
    SetFocus(window);
  }
}

}  // namespace

void sendKeyEvent(HWND window, WORD key, bool up) {
  focus(window);
  INPUT input = keyInput(key, false, up);
  SendInput(1, &input, sizeof(INPUT));
}

void sendKey(HWND window, uint32_t code) {
  focus(window);
  const struct {
    uint32_t flag;
    WORD key;
  } modifiers[] = {{0x100, VK_SHIFT}, {0x200, VK_CONTROL}, {0x400, VK_MENU}};
  std::vector<INPUT> inputs;
  for (const auto& m : modifiers) {
    if (code & m.flag)
      inputs.push_back(keyInput(m.key, false, false));
  }
  const bool extended = (code & 0x800) != 0;
  inputs.push_back(keyInput(static_cast<WORD>(code & 0xFF), extended, false));
  inputs.push_back(keyInput(static_cast<WORD>(code & 0xFF), extended, true));
  for (auto m = std::rbegin(modifiers); m != std::rend(modifiers); ++m) {
    if (code & m->flag)
      inputs.push_back(keyInput(m->key, false, true));
  }
  SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}

void sendMouse(HWND window, int x, int y, Button button) {
  POINT point{x, y};
  ClientToScreen(window, &point);
  INPUT input{};
  input.type = INPUT_MOUSE;
  input.mi.dx = absolute(point.x, GetSystemMetrics(SM_CXSCREEN));
  input.mi.dy = absolute(point.y, GetSystemMetrics(SM_CYSCREEN));
  input.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE |
                     (button == Button::kDown ? MOUSEEVENTF_LEFTDOWN : 0) |
                     (button == Button::kUp ? MOUSEEVENTF_LEFTUP : 0);
  SendInput(1, &input, sizeof(INPUT));
}

std::wstring parseInputScript(const std::wstring& script, std::vector<InputAction>& actions) {
  std::wstringstream steps(script);
  std::wstring step;
  while (std::getline(steps, step, L';')) {
    std::wstringstream words(step);
    int at = 0;
    std::wstring verb;
    if (!(words >> at >> verb))
      continue;  // an empty step
    std::vector<int> args;
    std::wstring word;
    while (words >> word)
      args.push_back(word == L"on" ? 1 : word == L"off" ? 0 : _wtoi(word.c_str()));
    const auto add = [&](int delay, const wchar_t* what, std::vector<int> values) {
      actions.push_back({at + delay, what, std::move(values), step});
    };
    const size_t n = args.size();
    if ((verb == L"key" || verb == L"keydown" || verb == L"keyup") && n == 1) {
      add(0, verb.c_str(), args);
    } else if (verb == L"click" && n == 2) {
      add(0, L"down", args);
      add(20, L"up", args);
    } else if (verb == L"dblclick" && n == 2) {
      for (int delay : {0, 80}) {
        add(delay, L"down", args);
        add(delay + 20, L"up", args);
      }
    } else if (verb == L"drag" && n == 4) {
      add(0, L"down", {args[0], args[1]});
      add(60, L"move", {(args[0] + args[2]) / 2, (args[1] + args[3]) / 2});
      add(120, L"move", {args[2], args[3]});
      add(180, L"up", {args[2], args[3]});
    } else if ((verb == L"frames" && n == 1) || (verb == L"start" && n == 0) ||
               (verb == L"settings" && n == 0) || (verb == L"tab" && n == 1) ||
               (verb == L"shot" && n == 1)) {
      add(0, verb.c_str(), args);
    } else {
      return L"bad input step \"" + step + L"\"";
    }
  }
  std::stable_sort(actions.begin(), actions.end(),
                   [](const InputAction& a, const InputAction& b) { return a.atMs < b.atMs; });
  return {};
}

InputRunner::InputRunner(std::vector<InputAction> actions, HWND main, HWND video, int pictureWidth,
                         int pictureHeight, Callback hostVerb, Callback observe)
    : actions_(std::move(actions)),
      main_(main),
      video_(video),
      width_(pictureWidth),
      height_(pictureHeight),
      hostVerb_(std::move(hostVerb)),
      observe_(std::move(observe)) {}

bool InputRunner::run(int elapsedMs) {
  for (; next_ < actions_.size() && actions_[next_].atMs <= elapsedMs; ++next_) {
    const InputAction& a = actions_[next_];
    observe_(a);
    if (a.verb == L"key") {
      sendKey(main_, static_cast<uint32_t>(a.args[0]));
    } else if (a.verb == L"keydown" || a.verb == L"keyup") {
      sendKeyEvent(main_, static_cast<WORD>(a.args[0]), a.verb == L"keyup");
    } else if (a.verb == L"down" || a.verb == L"up" || a.verb == L"move") {
      RECT client{};
      GetClientRect(video_, &client);
      const int x = MulDiv(a.args[0], client.right, width_);
      const int y = MulDiv(a.args[1], client.bottom, height_);
      sendMouse(video_, x, y,
                a.verb == L"down" ? Button::kDown
                : a.verb == L"up" ? Button::kUp
                                  : Button::kNone);
    } else {
      hostVerb_(a);
    }
  }
  return next_ < actions_.size();
}

}  // namespace zhost
