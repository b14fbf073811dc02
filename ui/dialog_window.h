// A small dialog layer over plain Win32: a dialog object made from one of the plug-in's
// templates, modeless or modal, with one handler per message, command or notification, and
// controls reached by id.
//
// Threads: everything runs on the thread that created the window (the host's user-interface
// thread); only Window() may be read from other threads.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace kvx {

// A Windows-1251 text as the wide text every control shows.
std::wstring FromCp1251(std::string_view text);
// A text of the plug-in's string table; empty when it has none.
std::wstring LoadText(UINT id);

// A window the dialog does not own, such as the host's window it is parented to: held while the
// dialog exists and let go, never destroyed, when it is gone.
class ForeignWindow {
 public:
  void Attach(HWND window) { window_ = window; }
  void Detach() { window_ = nullptr; }
  HWND Get() const { return window_; }

 private:
  HWND window_ = nullptr;
};

// While a modal window owned by owner runs: the windows above owner in the chain of owners (the
// host's) are disabled too, as the modal window disables only its owner. The host closing and
// unloading the plug-in while the modal loop runs would return into code that is gone. With
// withOwner, owner itself too, for modal windows that may not disable it.
class OwnersDisabled {
 public:
  explicit OwnersDisabled(HWND owner, bool withOwner = false);
  ~OwnersDisabled();
  OwnersDisabled(const OwnersDisabled&) = delete;
  OwnersDisabled& operator=(const OwnersDisabled&) = delete;

 private:
  std::vector<HWND> disabled_;
};

class DialogWindow {
 public:
  explicit DialogWindow(UINT templateId) : templateId_(templateId) {}
  virtual ~DialogWindow();
  DialogWindow(const DialogWindow&) = delete;
  DialogWindow& operator=(const DialogWindow&) = delete;

  // The window while it exists, null from its last message on, whatever destroyed it.
  HWND Window() const { return window_.load(std::memory_order_acquire); }
  HWND Item(int id) const { return GetDlgItem(Window(), id); }

  // A modeless dialog (a child window when the template says so). False if it could not be made.
  bool Create(HWND parent);
  // Runs the dialog modally, owned by owner; returns what End was given, or -1.
  INT_PTR RunModal(HWND owner);
  // Ends a modal dialog.
  void End(INT_PTR result);
  // Destroys a modeless dialog's window; nothing when there is none.
  void Destroy();

 protected:
  using MessageHandler = std::function<INT_PTR(WPARAM, LPARAM)>;
  // A handled message; the handler's value is what the dialog procedure returns (TRUE, or a
  // brush for the WM_CTLCOLOR messages).
  void OnMessage(UINT message, MessageHandler handler);
  // WM_COMMAND from a control with this id and notification code.
  void OnCommand(int id, WORD code, std::function<void()> handler);
  // WM_NOTIFY from a control with this id and code; the value is the notification's result.
  void OnNotify(int id, UINT code, std::function<LRESULT(NMHDR*)> handler);
  // The template's initial items of a list: count texts of the string table from firstText on.
  void InitialItems(int listId, UINT firstText, int count);

  // After the initial items are in: return TRUE to let the dialog set the focus.
  virtual BOOL OnInitDialog() { return TRUE; }
  // WM_DESTROY, the window and its controls still there.
  virtual void OnDestroy() {}
  // After the window's last message.
  virtual void OnFinalMessage() {}
  // A modeless dialog's keyboard message before the dialog manager sees it: true when it was
  // handled (it then goes no further).
  virtual bool TranslateKey(const MSG&) { return false; }

  void SetItemText(int id, const std::wstring& text) {
    SetDlgItemTextW(Window(), id, text.c_str());
  }
  LRESULT SendItem(int id, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const {
    return SendDlgItemMessageW(Window(), id, message, wParam, lParam);
  }

 private:
  struct Command {
    int id;
    WORD code;
    std::function<void()> handler;
  };
  struct Notify {
    int id;
    UINT code;
    std::function<LRESULT(NMHDR*)> handler;
  };
  struct Items {
    int listId;
    UINT firstText;
    int count;
  };

  friend LRESULT CALLBACK RouteDialogKeys(int code, WPARAM wParam, LPARAM lParam);
  static INT_PTR CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR Dispatch(UINT message, WPARAM wParam, LPARAM lParam);

  const UINT templateId_;
  std::atomic<HWND> window_{nullptr};
  bool modal_ = false;
  std::vector<std::pair<UINT, MessageHandler>> messages_;
  std::vector<Command> commands_;
  std::vector<Notify> notifies_;
  std::vector<Items> items_;
};

}  // namespace kvx
