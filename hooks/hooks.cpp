#include "hooks/hooks.h"

#include <windows.h>

#include <atomic>
#include <utility>

#include "capture/channels.h"
#include "hooks/hotkey_dispatch.h"
#include "hooks/mouse_drag.h"
#include "base/contained.h"
#include "plugin/plugin.h"
#include "base/shared_value.h"
#include "settings/settings_store.h"
#include "ui/settings_dialog.h"

namespace kvx {
namespace {

// The hook handles and the state the procedures keep; the user-interface thread's alone once
// the hooks run.
HHOOK g_mouseHook = nullptr;
HHOOK g_keyboardHook = nullptr;
MouseDrag g_drag;
KeyboardState g_keys;
// The thread the mouse hook watches, whether a drag holds its mouse capture, and whether the hook
// was removed (until the next install). A hook removed from another thread may still run once
// on its own thread; it then drops the drag and takes no capture. The flag stays set, so no call
// of the procedure can use it up before another sees it. The flags are sequentially consistent:
// a remover either sees the capture taken, or the procedure that takes it sees the hook gone and
// lets go itself.
SharedValue<uint32_t> g_mouseThread;
std::atomic<bool> g_holdsCapture{false};
std::atomic<bool> g_mouseHookGone{false};
// Every removal counts: a drag that a removal cut short is over, also for a hook installed
// again since. The procedure keeps the count it last acted on.
std::atomic<uint32_t> g_mouseRemovals{0};
uint32_t g_removalsSeen = 0;

class HookActions final : public HotkeyActions {
 public:
  bool GraphRunning() override { return Lifecycle().GraphRunning; }
  bool CanSwitchSource() override { return Lifecycle().CrossbarPresent; }
  void RunGraph() override { kvx::RunGraph(); }
  void StopGraph() override { kvx::StopGraph(); }
  void NextChannel() override { kvx::NextChannel(); }
  void PrevChannel() override { kvx::PrevChannel(); }
  void SetChannel(int32_t position) override { kvx::SetChannel(position); }
  void SwapChannels() override { kvx::SwapChannels(); }
};

MouseMessage MessageOf(WPARAM message) {
  switch (message) {
    case WM_LBUTTONDOWN:
      return MouseMessage::kLeftDown;
    case WM_LBUTTONUP:
      return MouseMessage::kLeftUp;
    case WM_MOUSEMOVE:
      return MouseMessage::kMove;
    default:
      return MouseMessage::kOther;
  }
}

LRESULT MouseWork(int code, WPARAM message, LPARAM data) {
  // HC_NOREMOVE: a message only peeked at comes again with HC_ACTION when it is taken.
  const auto* mouse = reinterpret_cast<const MOUSEHOOKSTRUCT*>(data);
  if (code != HC_ACTION || mouse == nullptr) {
    return CallNextHookEx(nullptr, code, message, data);
  }
  const uint32_t removals = g_mouseRemovals;
  if (g_mouseHookGone || removals != g_removalsSeen) {
    g_removalsSeen = removals;
    if (g_drag.Abandon() && g_holdsCapture.exchange(false)) {
      ReleaseCapture();
    }
    if (g_mouseHookGone) {
      return CallNextHookEx(nullptr, code, message, data);
    }
  }
  auto* video = static_cast<HWND>(Settings().VideoWindow);
  MouseEvent event = {MessageOf(message), false, 0, 0, 0, 0, GetTickCount(), GetDoubleClickTime()};
  event.gateOpen = FramesArriving(event.tick, Lifecycle().LastFrameTick) &&
                   Lifecycle().GraphRunning && video != nullptr && mouse->hwnd == video;
  RECT client = {};
  POINT point = mouse->pt;
  if (event.gateOpen && GetClientRect(video, &client) && ScreenToClient(video, &point)) {
    event.x = point.x;
    event.y = point.y;
    event.width = client.right - client.left;
    event.height = client.bottom - client.top;
  }
  const MouseOutcome out = g_drag.Handle(event, Settings().current);
  if (out.capture) {
    g_holdsCapture = true;
    SetCapture(video);
    // Removed from another thread meanwhile, too late for it to see the capture.
    if (g_mouseHookGone) {
      g_drag.Abandon();
      ReleaseCapture();
      g_holdsCapture = false;
      return CallNextHookEx(nullptr, code, message, data);
    }
  }
  if (out.releaseCapture) {
    ReleaseCapture();
    g_holdsCapture = false;
  }
  if (out.positionChanged) {
    Dialog().PostUpdate(kUpdatePosX);
    Dialog().PostUpdate(kUpdatePosY);
  }
  // Swapping needs a source to route: without a crossbar the host would be sent a channel the
  // PiP never showed.
  if (out.swap && Lifecycle().CrossbarPresent) {
    SwapChannels();
  }
  return out.swallow ? 1 : CallNextHookEx(nullptr, code, message, data);
}

LRESULT KeyboardWork(int code, WPARAM key, LPARAM flags) {
  // The gate: frames arriving and no settings dialog; while it is closed the modifiers are not
  // followed either. A hotkey is never swallowed.
  if (code == HC_ACTION && FramesArriving(GetTickCount(), Lifecycle().LastFrameTick) &&
      Dialog().Window() == nullptr) {
    const uint32_t down = (GetKeyState(VK_SHIFT) < 0 ? kHotkeyShift : 0) |
                          (GetKeyState(VK_CONTROL) < 0 ? kHotkeyControl : 0) |
                          (GetKeyState(VK_MENU) < 0 ? kHotkeyAlt : 0);
    const KeyStroke stroke = {static_cast<uint32_t>(key), (flags & (1 << 24)) != 0,
                              (flags & (1u << 31)) != 0, down};
    if (const HotkeyCode hotkey = g_keys.Track(stroke)) {
      HookActions actions;
      RunHotkeys(hotkey, Settings().current, actions);
    }
  }
  return CallNextHookEx(nullptr, code, key, flags);
}

// Hook procedures run inside the host's own message handling; work that fails passes the
// message on as if the hook were not there.
template <LRESULT (*Work)(int, WPARAM, LPARAM)>
LRESULT CALLBACK HookProc(int code, WPARAM wParam, LPARAM lParam) {
  LRESULT result = 0;
  const bool done = Contained(
      [&] {
        result = Work(code, wParam, lParam);
        return true;
      },
      false);
  return done ? result : CallNextHookEx(nullptr, code, wParam, lParam);
}

DWORD Install(HHOOK& hook, int kind, HOOKPROC procedure) {
  if (HHOOK old = std::exchange(hook, nullptr)) {
    UnhookWindowsHookEx(old);
  }
  auto* main = static_cast<HWND>(Settings().MainWindow);
  const DWORD thread = main != nullptr ? GetWindowThreadProcessId(main, nullptr) : 0;
  if (thread != 0) {
    hook = SetWindowsHookExW(kind, procedure, nullptr, thread);
  }
  return thread;
}

void Remove(HHOOK& hook) {
  if (HHOOK h = std::exchange(hook, nullptr)) {
    UnhookWindowsHookEx(h);
  }
}

}  // namespace

void InstallMouseHook() {
  g_mouseHookGone = false;
  g_mouseThread = Install(g_mouseHook, WH_MOUSE, &HookProc<&MouseWork>);
}

void InstallKeyboardHook() {
  Install(g_keyboardHook, WH_KEYBOARD, &HookProc<&KeyboardWork>);
}

void RemoveMouseHook() {
  g_mouseHookGone = true;
  ++g_mouseRemovals;
  Remove(g_mouseHook);
  if (GetCurrentThreadId() == g_mouseThread) {
    if (g_drag.Abandon()) {
      ReleaseCapture();
      g_holdsCapture = false;
    }
    return;
  }
  // Another thread: the drag state is the procedure's, and ReleaseCapture would act on this
  // thread alone. The video window's own thread lets go of the capture on WM_CANCELMODE.
  auto* video = static_cast<HWND>(Settings().VideoWindow);
  // A post to no window would land in this thread's own queue.
  if (g_holdsCapture.exchange(false) && video != nullptr && IsWindow(video)) {
    PostMessageW(video, WM_CANCELMODE, 0, 0);
  }
}

void RemoveKeyboardHook() {
  Remove(g_keyboardHook);
}

}  // namespace kvx
