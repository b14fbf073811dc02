#include "ui/hotkeys_page.h"

#include "hooks/hooks.h"
#include "hotkeys/hotkey_table.h"
#include "hotkeys/hotkey_text.h"
#include "base/mul_div.h"
#include "settings/settings_store.h"
#include "ui/resource_ids.h"

namespace kvx {
namespace {

// The capture dialog that watches a hot-key control, kept on the control.
constexpr wchar_t kWatcher[] = L"KvxHotkeyCapture";

uint32_t& FieldOf(size_t row) {
  return Settings().current.*(HotkeyRows()[row].field);
}

void SetRowKeyText(HWND list, int item, uint32_t code) {
  std::wstring text = HotkeyText(code);
  LVITEMW cell{};
  cell.iSubItem = 1;
  cell.pszText = text.data();
  SendMessageW(list, LVM_SETITEMTEXTW, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&cell));
}

}  // namespace

HotkeyCaptureDialog::HotkeyCaptureDialog() : DialogWindow(IDD_HOTKEY_CAPTURE) {
  OnCommand(IDOK, BN_CLICKED, [this] {
    uint32_t code = static_cast<uint32_t>(SendItem(IDC_HOTKEY_EDIT, HKM_GETHOTKEY)) & 0xFFFF;
    // Some hot-key controls drop the extended-key flag; the keyboard hook tells Right from
    // numeric-pad 6 by it, so the press itself decides.
    if ((code & 0xFF) != 0 && (code & 0xFF) == lastKey_ && lastKeyExtended_) {
      code |= HOTKEYF_EXT << 8;
    }
    value_ = code;
    End(IDOK);
  });
  OnCommand(IDCANCEL, BN_CLICKED, [this] { End(IDCANCEL); });
}

void HotkeyCaptureDialog::Run(HWND owner, const std::wstring& caption, uint32_t value) {
  caption_ = caption;
  value_ = value;
  lastKey_ = 0;
  lastKeyExtended_ = false;
  RunModal(owner);
}

BOOL HotkeyCaptureDialog::OnInitDialog() {
  SetWindowTextW(Window(), caption_.c_str());
  HWND control = Item(IDC_HOTKEY_EDIT);
  // A window procedure of our own in front of the control's: the common controls' subclass
  // helpers are exported by name only from their version 6, which Windows XP loads for programs
  // with a manifest alone.
  SetPropW(control, kWatcher, this);
  controlProc_ = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrW(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&WatchKeys)));
  SendMessageW(control, HKM_SETHOTKEY, value_ & 0xFFFF, 0);
  SetFocus(control);
  return FALSE;
}

LRESULT CALLBACK HotkeyCaptureDialog::WatchKeys(HWND window, UINT message, WPARAM wParam,
                                                LPARAM lParam) {
  auto* dialog = static_cast<HotkeyCaptureDialog*>(GetPropW(window, kWatcher));
  if (dialog == nullptr) {
    return DefWindowProcW(window, message, wParam, lParam);
  }
  const WNDPROC next = dialog->controlProc_;
  if (message == WM_KEYDOWN || message == WM_SYSKEYDOWN) {
    if (wParam != VK_SHIFT && wParam != VK_CONTROL && wParam != VK_MENU) {
      dialog->lastKey_ = static_cast<UINT>(wParam);
      dialog->lastKeyExtended_ = (lParam & (1 << 24)) != 0;
    }
  } else if (message == WM_NCDESTROY) {
    SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(next));
    RemovePropW(window, kWatcher);
  }
  return CallWindowProcW(next, window, message, wParam, lParam);
}

HotkeysPage::HotkeysPage() : DialogWindow(IDD_HOTKEYS_PAGE) {
  const auto edit = [this](NMHDR*) -> LRESULT {
    EditSelectedRow();
    return 0;
  };
  OnNotify(IDC_HOTKEY_LIST, NM_DBLCLK, edit);
  OnNotify(IDC_HOTKEY_LIST, NM_RETURN, edit);
  OnCommand(IDC_HOTKEYS_ENABLE, BN_CLICKED, [this] {
    const bool enable = SendItem(IDC_HOTKEYS_ENABLE, BM_GETCHECK) == BST_CHECKED;
    Settings().current.HotKeysEnable = enable ? 1 : 0;
    if (enable) {
      InstallKeyboardHook();
    } else {
      RemoveKeyboardHook();
    }
  });
}

BOOL HotkeysPage::OnInitDialog() {
  HWND list = Item(IDC_HOTKEY_LIST);
  // An image list of empty 1-pixel images gives the rows a sixth of an inch of height.
  HDC dc = GetDC(Window());
  const int dpi = GetDeviceCaps(dc, LOGPIXELSY);
  ReleaseDC(Window(), dc);
  rowHeight_ = ImageList_Create(1, dpi / 6, ILC_COLOR, 1, 1);
  SendMessageW(list, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(rowHeight_));
  SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, ~0u, LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT);

  RECT client{};
  GetClientRect(list, &client);
  const int width = client.right - client.left;
  std::wstring command = LoadText(IDS_COLUMN_COMMAND);
  std::wstring key = LoadText(IDS_COLUMN_HOTKEY);
  LVCOLUMNW column{};
  column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT;
  column.fmt = LVCFMT_LEFT;
  column.cx = MulDiv(width, 60, 100);
  column.pszText = command.data();
  SendMessageW(list, LVM_INSERTCOLUMNW, 0, reinterpret_cast<LPARAM>(&column));
  column.cx = MulDiv(width, 40, 100) - GetSystemMetrics(SM_CXVSCROLL);
  column.pszText = key.data();
  SendMessageW(list, LVM_INSERTCOLUMNW, 1, reinterpret_cast<LPARAM>(&column));

  rowCount_ = 0;
  for (size_t row = 0; row < kHotkeyCount; ++row) {
    std::wstring name = FromCp1251(HotkeyRows()[row].displayName);
    LVITEMW item{};
    item.mask = LVIF_TEXT | LVIF_PARAM;
    item.iItem = rowCount_;
    item.pszText = name.data();
    item.lParam = static_cast<LPARAM>(row);  // which setting the row edits
    const int at =
        static_cast<int>(SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
    SetRowKeyText(list, at, FieldOf(row));
    ++rowCount_;
  }
  SendItem(IDC_HOTKEYS_ENABLE, BM_SETCHECK,
           Settings().current.HotKeysEnable != 0 ? BST_CHECKED : BST_UNCHECKED);
  return TRUE;
}

void HotkeysPage::OnDestroy() {
  // The list would destroy an image list it was given; the page made it, so the page does.
  SendItem(IDC_HOTKEY_LIST, LVM_SETIMAGELIST, LVSIL_SMALL, 0);
  ImageList_Destroy(rowHeight_);
  rowHeight_ = nullptr;
}

void HotkeysPage::EditSelectedRow() {
  HWND list = Item(IDC_HOTKEY_LIST);
  const int item =
      static_cast<int>(SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
  if (item < 0) {
    return;
  }
  LVITEMW data{};
  data.mask = LVIF_PARAM;
  data.iItem = item;
  SendMessageW(list, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&data));
  const size_t row = static_cast<size_t>(data.lParam);
  if (row >= kHotkeyCount) {
    return;
  }
  wchar_t name[128] = {};
  LVITEMW text{};
  text.iSubItem = 0;
  text.pszText = name;
  text.cchTextMax = 128;
  SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&text));
  // Owned by the settings dialog, so nothing underneath can be pressed while it is open.
  capture_.Run(GetAncestor(Window(), GA_ROOT), name, FieldOf(row));
  if (Window() == nullptr) {
    return;  // the dialog was closed underneath (Done): the settings are saved already
  }
  FieldOf(row) = capture_.Value();
  SetRowKeyText(list, item, capture_.Value());
}

}  // namespace kvx
