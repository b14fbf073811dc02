#include "ui/modal_scope.h"

#include <atomic>
#include <utility>

#include "base/module_scope.h"
#include "base/thread_slot.h"

namespace kvx {
namespace {

std::atomic<int> g_loops{0};
// This thread's innermost scope, null outside any.
ThreadSlot<ModalScope*> t_innermost;

}  // namespace

// The first captioned top-level window a loop creates is its box.
LRESULT CALLBACK WatchModalBoxes(int code, WPARAM wParam, LPARAM lParam) {
  ModalScope* scope = t_innermost.Get();
  if (code == HCBT_CREATEWND && scope != nullptr && scope->box_ == nullptr) {
    const CREATESTRUCTW* create = reinterpret_cast<CBT_CREATEWNDW*>(lParam)->lpcs;
    if ((create->style & WS_CHILD) == 0 && (create->style & WS_CAPTION) == WS_CAPTION) {
      scope->box_ = reinterpret_cast<HWND>(wParam);
    }
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

ModalScope::ModalScope() : outer_(t_innermost.Get()) {
  ++g_loops;
  if (outer_ == nullptr) {
    watch_ = SetWindowsHookExW(WH_CBT, &WatchModalBoxes, nullptr, GetCurrentThreadId());
  }
  t_innermost.Set(this);
}

ModalScope::~ModalScope() {
  t_innermost.Set(outer_);
  --g_loops;
  if (outer_ != nullptr) {
    return;
  }
  if (watch_ != nullptr) {
    UnhookWindowsHookEx(watch_);
  }
  if (afterLoops_ != nullptr) {
    afterLoops_();
  }
}

bool InsideModalLoop() {
  return g_loops.load() > 0;
}

void CloseModalBoxes() {
  for (ModalScope* scope = t_innermost.Get(); scope != nullptr; scope = scope->outer_) {
    if (HWND box = std::exchange(scope->box_, nullptr); box != nullptr && IsWindow(box)) {
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

ModalScope* ModalScope::Outermost() {
  ModalScope* scope = t_innermost.Get();
  while (scope != nullptr && scope->outer_ != nullptr) {
    scope = scope->outer_;
  }
  return scope;
}

void AfterModalLoops(void (*action)()) {
  if (ModalScope* outermost = ModalScope::Outermost()) {
    outermost->afterLoops_ = action;
  } else {
    action();
  }
}

}  // namespace kvx
