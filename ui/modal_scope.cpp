#include "ui/modal_scope.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <utility>

#include "plugin/module_scope.h"

namespace kvx {
namespace {

constexpr int kMostBoxes = 4;

std::atomic<int> g_loops{0};
thread_local int t_depth = 0;
thread_local HHOOK t_watch = nullptr;
// The box of each nested loop, outermost first; null until it is created.
thread_local HWND t_boxes[kMostBoxes] = {};
thread_local void (*t_afterLoops)() = nullptr;

LRESULT CALLBACK WatchCreation(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HCBT_CREATEWND && t_depth > 0 && t_depth <= kMostBoxes &&
      t_boxes[t_depth - 1] == nullptr) {
    const CREATESTRUCTW* create = reinterpret_cast<CBT_CREATEWNDW*>(lParam)->lpcs;
    if ((create->style & WS_CHILD) == 0 && (create->style & WS_CAPTION) == WS_CAPTION) {
      t_boxes[t_depth - 1] = reinterpret_cast<HWND>(wParam);
    }
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

}  // namespace

ModalScope::ModalScope() {
  ++g_loops;
  if (t_depth < kMostBoxes) {
    t_boxes[t_depth] = nullptr;
  }
  if (t_depth++ == 0) {
    t_watch = SetWindowsHookExW(WH_CBT, &WatchCreation, nullptr, GetCurrentThreadId());
  }
}

ModalScope::~ModalScope() {
  --g_loops;
  if (--t_depth < kMostBoxes) {
    t_boxes[t_depth] = nullptr;
  }
  if (t_depth > 0) {
    return;
  }
  if (HHOOK watch = std::exchange(t_watch, nullptr)) {
    UnhookWindowsHookEx(watch);
  }
  if (void (*action)() = std::exchange(t_afterLoops, nullptr)) {
    action();
  }
}

bool InsideModalLoop() {
  return g_loops.load() > 0;
}

void CloseModalBoxes() {
  for (int i = std::min(t_depth, kMostBoxes) - 1; i >= 0; --i) {
    if (HWND box = std::exchange(t_boxes[i], nullptr); box != nullptr && IsWindow(box)) {
      // As the close box does: every box of ours ends on it.
      SendMessageW(box, WM_CLOSE, 0, 0);
    }
  }
}

void PinModule() {
  HMODULE pinned = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                     reinterpret_cast<LPCWSTR>(PluginModule()), &pinned);
}

void AfterModalLoops(void (*action)()) {
  if (t_depth == 0) {
    action();
  } else {
    t_afterLoops = action;
  }
}

}  // namespace kvx
