#include "ui/dialog_window.h"

#include <commctrl.h>

#include "base/contained.h"
#include "base/module_scope.h"
#include "base/thread_slot.h"
#include "ui/modal_scope.h"

namespace kvx {
namespace {

// The host's message loop does not know our modeless dialog, so it never gives the dialog its
// keyboard messages first: without that, Tab and the arrow keys would not move through the
// dialog. A message hook on the dialog's thread does it for the loop. Enter and Escape stay with
// the control that has the focus (the hotkey list opens a row on Enter): in this dialog they
// neither apply nor cancel anything.
ThreadSlot<HWND> t_modeless;
ThreadSlot<HHOOK> t_keyRouting;

bool IsEnterOrEscape(const MSG& msg) {
  const bool key = msg.message == WM_KEYDOWN || msg.message == WM_KEYUP;
  const bool character = msg.message == WM_CHAR;
  return (key && (msg.wParam == VK_RETURN || msg.wParam == VK_ESCAPE)) ||
         (character && (msg.wParam == L'\r' || msg.wParam == 0x1B));
}

void LoadCommonControls() {
  static const bool loaded = [] {
    // The standard classes apart: the common controls Windows XP loads without a manifest know
    // only the others.
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_TAB_CLASSES | ICC_LISTVIEW_CLASSES |
                                                        ICC_UPDOWN_CLASS | ICC_HOTKEY_CLASS};
    const bool ours = InitCommonControlsEx(&controls) != FALSE;
    controls.dwICC = ICC_STANDARD_CLASSES;
    InitCommonControlsEx(&controls);
    return ours;
  }();
  (void)loaded;
}

}  // namespace

LRESULT CALLBACK RouteDialogKeys(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HC_ACTION && wParam == PM_REMOVE) {
    MSG* msg = reinterpret_cast<MSG*>(lParam);
    const HWND dialog = t_modeless.Get();
    if (msg->message >= WM_KEYFIRST && msg->message <= WM_KEYLAST && dialog != nullptr &&
        !IsEnterOrEscape(*msg) && (msg->hwnd == dialog || IsChild(dialog, msg->hwnd))) {
      auto* self = reinterpret_cast<DialogWindow*>(GetWindowLongPtrW(dialog, DWLP_USER));
      if ((self != nullptr && self->TranslateKey(*msg)) || IsDialogMessageW(dialog, msg)) {
        msg->message = WM_NULL;
        msg->wParam = 0;
        msg->lParam = 0;
      }
    }
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

std::wstring FromCp1251(std::string_view text) {
  if (text.empty()) {
    return {};
  }
  const int size = static_cast<int>(text.size());
  const int length = MultiByteToWideChar(1251, 0, text.data(), size, nullptr, 0);
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(1251, 0, text.data(), size, wide.data(), length);
  return wide;
}

std::wstring LoadText(UINT id) {
  const wchar_t* text = nullptr;
  // With no buffer size, LoadStringW lends the resource's own characters.
  const int length = LoadStringW(PluginModule(), id, reinterpret_cast<LPWSTR>(&text), 0);
  return length > 0 && text != nullptr ? std::wstring(text, static_cast<size_t>(length))
                                       : std::wstring();
}

DialogWindow::~DialogWindow() {
  // A window that outlives its object must not reach it any more.
  if (HWND window = Window()) {
    SetWindowLongPtrW(window, DWLP_USER, 0);
  }
}

bool DialogWindow::Create(HWND parent) {
  LoadCommonControls();
  modal_ = false;
  HWND window = CreateDialogParamW(PluginModule(), MAKEINTRESOURCEW(templateId_), parent,
                                   &Procedure, reinterpret_cast<LPARAM>(this));
  if (window == nullptr) {
    return false;
  }
  if ((GetWindowLongW(window, GWL_STYLE) & WS_CHILD) == 0 && t_keyRouting.Get() == nullptr) {
    t_modeless.Set(window);
    t_keyRouting.Set(
        SetWindowsHookExW(WH_GETMESSAGE, &RouteDialogKeys, nullptr, GetCurrentThreadId()));
  }
  return true;
}

OwnersDisabled::OwnersDisabled(HWND owner, bool withOwner) {
  HWND first = withOwner || owner == nullptr ? owner : GetWindow(owner, GW_OWNER);
  for (HWND above = first; above != nullptr; above = GetWindow(above, GW_OWNER)) {
    if (IsWindowEnabled(above)) {
      EnableWindow(above, FALSE);
      disabled_.push_back(above);
    }
  }
}

OwnersDisabled::~OwnersDisabled() {
  for (HWND window : disabled_) {
    // Done may have destroyed the settings dialog while the modal window ran.
    if (IsWindow(window)) {
      EnableWindow(window, TRUE);
    }
  }
}

INT_PTR DialogWindow::RunModal(HWND owner) {
  LoadCommonControls();
  ModalScope loop;
  OwnersDisabled host(owner);
  modal_ = true;
  const INT_PTR result = DialogBoxParamW(PluginModule(), MAKEINTRESOURCEW(templateId_), owner,
                                         &Procedure, reinterpret_cast<LPARAM>(this));
  modal_ = false;
  return result;
}

void DialogWindow::End(INT_PTR result) {
  EndDialog(Window(), result);
}

void DialogWindow::Destroy() {
  if (HWND window = Window()) {
    DestroyWindow(window);
  }
}

void DialogWindow::OnMessage(UINT message, MessageHandler handler) {
  messages_.emplace_back(message, std::move(handler));
}

void DialogWindow::OnCommand(int id, WORD code, std::function<void()> handler) {
  commands_.push_back(Command{id, code, std::move(handler)});
}

void DialogWindow::OnNotify(int id, UINT code, std::function<LRESULT(NMHDR*)> handler) {
  notifies_.push_back(Notify{id, code, std::move(handler)});
}

void DialogWindow::InitialItems(int listId, UINT firstText, int count) {
  items_.push_back(Items{listId, firstText, count});
}

INT_PTR CALLBACK DialogWindow::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  // Handlers run from the host's message loop, outside any entry point: resources still come
  // from the plug-in.
  ResourceScope resources;
  DialogWindow* self = nullptr;
  if (message == WM_INITDIALOG) {
    self = reinterpret_cast<DialogWindow*>(lParam);
    SetWindowLongPtrW(window, DWLP_USER, reinterpret_cast<LONG_PTR>(self));
    self->window_.store(window, std::memory_order_release);
  } else {
    self = reinterpret_cast<DialogWindow*>(GetWindowLongPtrW(window, DWLP_USER));
  }
  if (self == nullptr) {
    return FALSE;
  }
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrW(window, DWLP_USER, 0);
    self->window_.store(nullptr, std::memory_order_release);
    if (window == t_modeless.Get()) {
      UnhookWindowsHookEx(t_keyRouting.Get());
      t_keyRouting.Set(nullptr);
      t_modeless.Set(nullptr);
    }
    self->OnFinalMessage();
    return FALSE;
  }
  return Contained([&] { return self->Dispatch(message, wParam, lParam); }, INT_PTR{FALSE});
}

INT_PTR DialogWindow::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
  for (const auto& [handled, handler] : messages_) {
    if (handled == message) {
      return handler(wParam, lParam);
    }
  }
  switch (message) {
    case WM_INITDIALOG:
      for (const Items& list : items_) {
        for (int i = 0; i < list.count; ++i) {
          const std::wstring text = LoadText(list.firstText + static_cast<UINT>(i));
          SendItem(list.listId, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
        }
      }
      return OnInitDialog();
    case WM_DESTROY:
      OnDestroy();
      return FALSE;
    case WM_COMMAND: {
      const int id = LOWORD(wParam);
      const WORD code = HIWORD(wParam);
      for (const Command& command : commands_) {
        if (command.id == id && command.code == code) {
          command.handler();
          return TRUE;
        }
      }
      // A modal dialog without its own OK or Cancel ends with the button's id.
      if (modal_ && (id == IDOK || id == IDCANCEL) && code == BN_CLICKED) {
        End(id);
        return TRUE;
      }
      return FALSE;
    }
    case WM_NOTIFY: {
      NMHDR* header = reinterpret_cast<NMHDR*>(lParam);
      for (const Notify& notify : notifies_) {
        if (static_cast<UINT_PTR>(notify.id) == header->idFrom && notify.code == header->code) {
          SetWindowLongPtrW(Window(), DWLP_MSGRESULT, notify.handler(header));
          return TRUE;
        }
      }
      return FALSE;
    }
    default:
      return FALSE;
  }
}

}  // namespace kvx
