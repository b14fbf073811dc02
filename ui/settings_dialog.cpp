#include "ui/settings_dialog.h"

#include <commctrl.h>

#include "hooks/hooks.h"
#include "plugin/host_records.h"
#include "plugin/plugin.h"
#include "settings/settings_store.h"
#include "ui/dialog_rules.h"
#include "ui/resource_ids.h"

namespace kvx {

SettingsDialog& Dialog() {
  static SettingsDialog dialog;
  return dialog;
}

SettingsDialog::SettingsDialog() : DialogWindow(IDD_SETTINGS) {
  StatusTextId = kStatusGood;
  OnMessage(kWmPipUpdate, [this](WPARAM code, LPARAM) {
    Update(code);
    return TRUE;
  });
  OnNotify(IDC_SETTINGS_TABS, TCN_SELCHANGE, [this](NMHDR*) -> LRESULT {
    Settings().current.SettingsTab =
        static_cast<uint32_t>(SendItem(IDC_SETTINGS_TABS, TCM_GETCURSEL));
    PostUpdate(kUpdateTab);
    return 0;
  });
  OnCommand(IDC_SETTINGS_OK, BN_CLICKED, [this] { Ok(); });
  OnCommand(IDC_SETTINGS_CANCEL, BN_CLICKED, [this] { PostMessageW(Window(), WM_CLOSE, 0, 0); });
  OnCommand(IDC_SETTINGS_ABOUT, BN_CLICKED, [this] { about_.RunModal(Window()); });
  // Enter and Escape neither apply nor close anything; only the buttons and the close box do.
  OnCommand(IDOK, BN_CLICKED, [] {});
  OnCommand(IDCANCEL, BN_CLICKED, [] {});
  OnMessage(WM_CLOSE, [this](WPARAM, LPARAM) {
    Cancel();
    return TRUE;
  });
  OnMessage(WM_CTLCOLORSTATIC, [this](WPARAM wParam, LPARAM lParam) -> INT_PTR {
    HDC dc = reinterpret_cast<HDC>(wParam);
    // The default colours and brush of a dialog's static control.
    const LRESULT brush = DefWindowProcW(Window(), WM_CTLCOLORSTATIC, wParam, lParam);
    if (GetDlgCtrlID(reinterpret_cast<HWND>(lParam)) == IDC_SETTINGS_STATUS) {
      SetTextColor(dc, RGB(255, 0, 0));
    }
    return static_cast<INT_PTR>(brush);
  });
}

void SettingsDialog::Show(HWND host) {
  if (Window() != nullptr) {
    FocusAndFlash();
    return;
  }
  host_.Attach(host);
  if (!Create(host_.Get())) {
    host_.Detach();
    return;
  }
  ShowWindow(Window(), SW_SHOW);
}

void SettingsDialog::FocusAndFlash() {
  HWND window = Window();
  if (window == nullptr) {
    return;
  }
  SetFocus(window);
  // Four inversions: the caption flashes twice.
  for (int i = 0; i < 4; ++i) {
    FlashWindow(window, TRUE);
    Sleep(60);
  }
}

void SettingsDialog::PostUpdate(WPARAM code) {
  // A post to a null window would land in the calling thread's own queue.
  if (HWND window = Window()) {
    PostMessageW(window, kWmPipUpdate, code, 0);
  }
}

BOOL SettingsDialog::OnInitDialog() {
  HWND window = Window();
  SettingsStore& store = Settings();
  RECT dialog{};
  GetWindowRect(window, &dialog);
  RECT host{};
  if (host_.Get() == nullptr || !GetWindowRect(host_.Get(), &host)) {
    host = RECT{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  }
  const ScreenPoint at = DialogPosition(store.GetDialogPos(), GetSystemMetrics(SM_CXSCREEN),
                                        GetSystemMetrics(SM_CYSCREEN),
                                        {dialog.left, dialog.top, dialog.right, dialog.bottom},
                                        {host.left, host.top, host.right, host.bottom});
  SetWindowPos(window, nullptr, at.x, at.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);

  store.Snapshot();
  AppliedDeviceSelection().TakeFrom(store.current);

  HWND tabs = Item(IDC_SETTINGS_TABS);
  const UINT captions[] = {IDS_TAB_DEVICE, IDS_TAB_HOTKEYS};
  for (int i = 0; i < 2; ++i) {
    std::wstring text = LoadText(captions[i]);
    TCITEMW item{};
    item.mask = TCIF_TEXT;
    item.pszText = text.data();
    SendMessageW(tabs, TCM_INSERTITEMW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&item));
  }
  devicePage_.Create(tabs);
  hotkeysPage_.Create(tabs);
  RECT area{};
  GetClientRect(tabs, &area);
  SendMessageW(tabs, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&area));
  for (DialogWindow* page :
       {static_cast<DialogWindow*>(&devicePage_), static_cast<DialogWindow*>(&hotkeysPage_)}) {
    SetWindowPos(page->Window(), nullptr, area.left - 2, area.top, area.right - area.left + 2,
                 area.bottom - area.top, SWP_NOZORDER | SWP_NOACTIVATE);
  }
  PostUpdate(kUpdateAll);
  return TRUE;
}

void SettingsDialog::Update(WPARAM code) {
  if (code == kUpdateAll || code == kUpdateTab) {
    const uint32_t tab = Settings().current.SettingsTab;
    SendItem(IDC_SETTINGS_TABS, TCM_SETCURSEL, tab);
    if (tab <= 1) {
      ShowWindow(devicePage_.Window(), tab == 0 ? SW_SHOW : SW_HIDE);
      ShowWindow(hotkeysPage_.Window(), tab == 1 ? SW_SHOW : SW_HIDE);
    }
  }
  if (code == kUpdateAll || code == kUpdateStatusLine) {
    SetItemText(IDC_SETTINGS_STATUS,
                LoadText(static_cast<UINT>(static_cast<int32_t>(StatusTextId))));
  }
  if (code >= kUpdateDevices && code <= kUpdatePipEnable) {
    if (HWND page = devicePage_.Window()) {
      PostMessageW(page, kWmPipUpdate, code, 0);
    }
  }
}

bool SettingsDialog::TranslateKey(const MSG& msg) {
  // Ctrl+Tab and Ctrl+Shift+Tab turn the page, as in the system's own tabbed dialogs; the focus
  // goes to the new page's first control.
  if (msg.message != WM_KEYDOWN || msg.wParam != VK_TAB || GetKeyState(VK_CONTROL) >= 0) {
    return false;
  }
  uint32_t& tab = Settings().current.SettingsTab;
  tab = tab == 0 ? 1 : 0;
  Update(kUpdateTab);
  HWND page = tab == 0 ? devicePage_.Window() : hotkeysPage_.Window();
  if (HWND first = GetNextDlgTabItem(page, nullptr, FALSE)) {
    SendMessageW(Window(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(first), TRUE);
  }
  return true;
}

void SettingsDialog::Ok() {
  // Device and format choices not applied with the device page's save button are dropped.
  AppliedDeviceSelection().PutBack(Settings().current);
  DestroyWindow(Window());
}

void SettingsDialog::Cancel() {
  CancelDialogChanges(Settings(), AppliedDeviceSelection());
  const PipSettings& settings = Settings().current;
  // Cancel undoes what the settings drive outside the record too: the keyboard hook (only
  // while the host runs, between Start and Stop) and whether the graph runs.
  if (Lifecycle().Started) {
    if (settings.HotKeysEnable != 0) {
      InstallKeyboardHook();
    } else {
      RemoveKeyboardHook();
    }
  }
  if (settings.PiPEnable != 0) {
    RunGraph();
  } else {
    StopGraph();
  }
  DestroyWindow(Window());
}

void SettingsDialog::OnDestroy() {
  RECT rect{};
  GetWindowRect(Window(), &rect);
  Settings().SetDialogPos(rect.left, rect.top);
}

void SettingsDialog::OnFinalMessage() {
  host_.Detach();
}

}  // namespace kvx
