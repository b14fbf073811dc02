#include "ui/device_page.h"

#include <commctrl.h>
#include <commdlg.h>

#include "capture/capture_graph.h"
#include "capture/card_devices.h"
#include "capture/channel_logic.h"
#include "capture/channels.h"
#include "capture/stream_format.h"
#include "capture/tuning.h"
#include "hooks/pip_rect.h"
#include "plugin/host_records.h"
#include "plugin/plugin.h"
#include "settings/settings_store.h"
#include "ui/dialog_rules.h"
#include "ui/modal_scope.h"
#include "ui/resource_ids.h"
#include "ui/update_codes.h"
#include "video/media_type.h"

namespace kvx {
namespace {

struct DeviceControls {
  DeviceKind kind;
  int listId;
  std::string PipSettings::*name;
  std::string PipSettings::*path;
  uint32_t PipSettings::*nameUnique;
};
constexpr DeviceControls kDeviceControls[] = {
    {DeviceKind::kTuner, IDC_TUNER_LIST, &PipSettings::TVTunerDeviceName,
     &PipSettings::TVTunerDevicePath, &PipSettings::TVTunerDeviceNameUnique},
    {DeviceKind::kTvAudio, IDC_TV_AUDIO_LIST, &PipSettings::TVAudioDeviceName,
     &PipSettings::TVAudioDevicePath, &PipSettings::TVAudioDeviceNameUnique},
    {DeviceKind::kCrossbar, IDC_CROSSBAR_LIST, &PipSettings::CrossbarDeviceName,
     &PipSettings::CrossbarDevicePath, &PipSettings::CrossbarDeviceNameUnique},
    {DeviceKind::kCapture, IDC_CAPTURE_LIST, &PipSettings::CaptureDeviceName,
     &PipSettings::CaptureDevicePath, &PipSettings::CaptureDeviceNameUnique},
};

struct SpinControls {
  int spinId;
  int fieldId;
  int32_t lowest;
  int32_t highest;
};
constexpr SpinControls kPosX{IDC_POS_X_SPIN, IDC_POS_X_FIELD, 0, 1000};
constexpr SpinControls kPosY{IDC_POS_Y_SPIN, IDC_POS_Y_FIELD, 0, 1000};
constexpr SpinControls kWndSize{IDC_WND_SIZE_SPIN, IDC_WND_SIZE_FIELD, 10, 50};
constexpr SpinControls kImgSize{IDC_IMG_SIZE_SPIN, IDC_IMG_SIZE_FIELD, 100, 150};
constexpr SpinControls kOpacity{IDC_OPACITY_SPIN, IDC_OPACITY_FIELD, 0, 100};

// The colour dialog's custom colours, kept while the plug-in is loaded.
COLORREF g_customColors[16] = {};

// A selection of a list, or -1 when there is none or it lies beyond count rows.
int Selected(HWND list, size_t count) {
  const LRESULT index = SendMessageW(list, CB_GETCURSEL, 0, 0);
  return index >= 0 && static_cast<size_t>(index) < count ? static_cast<int>(index) : -1;
}

// "YUY2 640x480": the format and size the capture pin streams into the renderer; empty while
// no graph stands.
std::wstring StreamedText() {
  ComPtr<IPin> in;
  AM_MEDIA_TYPE type{};
  {
    ScopedLock lock(GraphLock());
    if (!Graph().renderer || FAILED(Graph().renderer->FindPin(L"Video In", in.put())) ||
        in->ConnectionMediaType(&type) != S_OK) {
      return {};
    }
  }
  int32_t width = 0;
  int32_t height = 0;
  const int32_t code = FormatCodeOf(type.subtype, type.formattype);
  const bool sized = BlockFrameSize(type.formattype, type.pbFormat, type.cbFormat, &width, &height);
  FreeMediaTypeFields(&type);
  if (code == kFormatDefault || !sized) {
    return {};
  }
  // Put together by hand: the printf family would bring the C library's locale machinery in.
  std::wstring text;
  for (const char c : FormatRow(code).name) {
    text += static_cast<wchar_t>(c);
  }
  for (const auto& [separator, number] : {std::pair{L' ', width}, std::pair{L'x', height}}) {
    text += separator;
    wchar_t digits[12];
    int at = 12;
    for (uint32_t n = static_cast<uint32_t>(number); at == 12 || n != 0; n /= 10) {
      digits[--at] = static_cast<wchar_t>(L'0' + n % 10);
    }
    text.append(digits + at, digits + 12);
  }
  return text;
}

}  // namespace

DevicePage::DevicePage() : DialogWindow(IDD_DEVICE_PAGE) {
  InitialItems(IDC_STREAM_FORMAT_LIST, IDS_FORMAT_ITEMS, 1);
  InitialItems(IDC_STREAM_SIZE_LIST, IDS_SIZE_ITEMS, kFrameSizeCount);
  InitialItems(IDC_VIDEO_STANDARD_LIST, IDS_STANDARD_ITEMS, 6);

  OnMessage(kWmPipUpdate, [this](WPARAM code, LPARAM) {
    Update(code);
    return TRUE;
  });
  // Up-down controls report every step with SB_THUMBPOSITION and the new position.
  const auto scroll = [this](WPARAM wParam, LPARAM lParam) -> INT_PTR {
    if (LOWORD(wParam) == SB_THUMBPOSITION && lParam != 0) {
      Spin(reinterpret_cast<HWND>(lParam), static_cast<int16_t>(HIWORD(wParam)));
    }
    return FALSE;
  };
  OnMessage(WM_HSCROLL, scroll);
  OnMessage(WM_VSCROLL, scroll);

  for (const DeviceControls& device : kDeviceControls) {
    OnCommand(device.listId, CBN_SELCHANGE, [this, kind = device.kind] { PickDevice(kind); });
  }
  OnCommand(IDC_STREAM_FORMAT_LIST, CBN_SELCHANGE, [this] {
    HWND list = Item(IDC_STREAM_FORMAT_LIST);
    const int index = Selected(list, static_cast<size_t>(SendMessageW(list, CB_GETCOUNT, 0, 0)));
    if (index >= 0) {
      Settings().current.StreamFormat =
          static_cast<int32_t>(SendMessageW(list, CB_GETITEMDATA, static_cast<WPARAM>(index), 0));
    }
  });
  OnCommand(IDC_STREAM_SIZE_LIST, CBN_SELCHANGE, [this] {
    const int index = Selected(Item(IDC_STREAM_SIZE_LIST), kFrameSizeCount);
    if (index >= 0) {
      Settings().current.StreamSize = index;
    }
  });
  OnCommand(IDC_VIDEO_STANDARD_LIST, CBN_SELCHANGE, [this] {
    const int index = Selected(Item(IDC_VIDEO_STANDARD_LIST), std::size(kVideoStandards));
    if (index >= 0) {
      Settings().current.VideoSystem = static_cast<uint32_t>(index);  // used at the next tuning
    }
  });
  OnCommand(IDC_BORDER_ENABLE, BN_CLICKED, [this] {
    Settings().current.BorderEnable = SendItem(IDC_BORDER_ENABLE, BM_GETCHECK) == BST_CHECKED;
  });
  OnCommand(IDC_PIP_ENABLE, BN_CLICKED, [this] {
    const bool enable = SendItem(IDC_PIP_ENABLE, BM_GETCHECK) == BST_CHECKED;
    Settings().current.PiPEnable = enable ? 1 : 0;
    // The channel is not selected again: the card kept it.
    enable ? RunGraph() : StopGraph();
  });
  OnCommand(IDC_BORDER_COLOR, BN_CLICKED, [this] { ChooseBorderColor(); });
  for (int id : {IDC_TUNER_PAGES, IDC_TV_AUDIO_PAGES, IDC_CROSSBAR_PAGES, IDC_CAPTURE_PAGES}) {
    OnCommand(id, BN_CLICKED, [this, id] { ShowPages(id); });
  }
  OnCommand(IDC_SAVE_DEVICES, BN_CLICKED, [this] { ApplyDevices(); });
  OnMessage(WM_DRAWITEM, [](WPARAM, LPARAM lParam) -> INT_PTR {
    const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
    if (item->CtlID != IDC_BORDER_COLOR) {
      return FALSE;
    }
    RECT rect = item->rcItem;
    HBRUSH brush = CreateSolidBrush(Settings().current.BorderColor & 0xFFFFFF);
    HGDIOBJ old = SelectObject(item->hDC, brush);
    FillRect(item->hDC, &rect, brush);
    SelectObject(item->hDC, old);
    DeleteObject(brush);
    DrawEdge(item->hDC, &rect, EDGE_BUMP, BF_RECT);
    return TRUE;
  });
}

BOOL DevicePage::OnInitDialog() {
  for (const SpinControls& spin : {kPosX, kPosY, kWndSize, kImgSize, kOpacity}) {
    SendItem(spin.spinId, UDM_SETBUDDY, reinterpret_cast<WPARAM>(Item(spin.fieldId)));
    SendItem(spin.spinId, UDM_SETRANGE, 0, MAKELPARAM(spin.highest, spin.lowest));
  }
  SendItem(IDC_STREAM_SIZE_LIST, CB_SETCURSEL, static_cast<WPARAM>(Settings().current.StreamSize));
  Post(kUpdateAll);
  return TRUE;
}

void DevicePage::Post(WPARAM code) {
  // The page may be gone after the save button's driver calls; a post to no window would land
  // in the host's own queue.
  if (HWND window = Window()) {
    PostMessageW(window, kWmPipUpdate, code, 0);
  }
}

void DevicePage::Update(WPARAM code) {
  const PipSettings& s = Settings().current;
  const auto wanted = [code](WPARAM own) { return code == kUpdateAll || code == own; };
  if (wanted(kUpdateDevices)) {
    ShowDevices();
  }
  if (wanted(kUpdateFormats)) {
    ShowFormats();
  }
  if (wanted(kUpdatePosX)) {
    ShowNumber(kPosX.spinId, kPosX.fieldId, s.PiPWndPosX, true);
  }
  if (wanted(kUpdatePosY)) {
    ShowNumber(kPosY.spinId, kPosY.fieldId, s.PiPWndPosY, true);
  }
  if (wanted(kUpdateWndSize)) {
    ShowNumber(kWndSize.spinId, kWndSize.fieldId, s.PiPWndSize, false);
  }
  if (wanted(kUpdateImgSize)) {
    ShowNumber(kImgSize.spinId, kImgSize.fieldId, s.PiPImgSize, false);
  }
  if (wanted(kUpdateOpacity)) {
    ShowNumber(kOpacity.spinId, kOpacity.fieldId, static_cast<int32_t>(s.Opacity), false);
  }
  if (wanted(kUpdateBorder)) {
    SendItem(IDC_BORDER_ENABLE, BM_SETCHECK, s.BorderEnable != 0 ? BST_CHECKED : BST_UNCHECKED);
  }
  if (wanted(kUpdateStandard)) {
    SendItem(IDC_VIDEO_STANDARD_LIST, CB_SETCURSEL, s.VideoSystem);
  }
  if (wanted(kUpdatePipEnable)) {
    SendItem(IDC_PIP_ENABLE, BM_SETCHECK, s.PiPEnable != 0 ? BST_CHECKED : BST_UNCHECKED);
  }
}

void DevicePage::ShowDevices() {
  const PipSettings& s = Settings().current;
  for (const DeviceControls& device : kDeviceControls) {
    DeviceList& shown = shown_[static_cast<size_t>(device.kind)];
    shown = Devices(device.kind);
    HWND list = Item(device.listId);
    SendMessageW(list, CB_RESETCONTENT, 0, 0);
    int selected = 0;
    std::vector<std::string> names;
    for (const DeviceEntry& entry : shown) {
      names.push_back(entry.name);
    }
    names = NumberedNames(names);
    for (size_t row = 0; row < shown.size(); ++row) {
      const std::wstring name = FromCp1251(names[row]);
      SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.c_str()));
      if (shown[row].path == s.*device.path) {
        selected = static_cast<int>(row);  // the last that matches
      }
    }
    SendMessageW(list, CB_SETCURSEL, static_cast<WPARAM>(selected), 0);
  }
}

void DevicePage::ShowFormats() {
  HWND list = Item(IDC_STREAM_FORMAT_LIST);
  SendMessageW(list, CB_RESETCONTENT, 0, 0);
  int selected = 0;
  const FormatList& formats = Formats();
  for (size_t row = 0; row < formats.size(); ++row) {
    const std::wstring name = FromCp1251(formats[row].name);
    const LRESULT at = SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.c_str()));
    SendMessageW(list, CB_SETITEMDATA, static_cast<WPARAM>(at), formats[row].code);
    if (formats[row].code == Settings().current.StreamFormat) {
      selected = static_cast<int>(row);
    }
  }
  SendMessageW(list, CB_SETCURSEL, static_cast<WPARAM>(selected), 0);
  SetItemText(IDC_STREAMED_FORMAT, StreamedText());
  // A USB grabber or camera has no tuner, TV audio or crossbar: their pages and the analog
  // video standard have nothing behind them.
  ScopedLock lock(GraphLock());
  const CaptureGraph& graph = Graph();
  EnableWindow(Item(IDC_TUNER_PAGES), static_cast<bool>(graph.tuner));
  EnableWindow(Item(IDC_TV_AUDIO_PAGES), static_cast<bool>(graph.tvAudio));
  EnableWindow(Item(IDC_CROSSBAR_PAGES), static_cast<bool>(graph.crossbar));
  EnableWindow(Item(IDC_VIDEO_STANDARD_LIST), !graph.capture || graph.crossbar);
}

void DevicePage::ShowNumber(int spinId, int fieldId, int32_t value, bool tenths) {
  // Setting the position sends no notification, so a refresh never feeds back.
  SendItem(spinId, UDM_SETPOS, 0, MAKELPARAM(static_cast<uint32_t>(value) & 0xFFFF, 0));
  const std::string text = tenths ? TenthsText(value) : std::to_string(value);
  SetItemText(fieldId, std::wstring(text.begin(), text.end()));
}

void DevicePage::PickDevice(DeviceKind kind) {
  const DeviceControls& device = kDeviceControls[static_cast<size_t>(kind)];
  const DeviceList& shown = shown_[static_cast<size_t>(kind)];
  const int index = Selected(Item(device.listId), shown.size());
  if (index < 0) {
    return;
  }
  PipSettings& s = Settings().current;
  s.*device.name = shown[static_cast<size_t>(index)].name;
  s.*device.path = shown[static_cast<size_t>(index)].path;
  if (kind == DeviceKind::kCapture) {
    FollowCard(s.CaptureDevicePath);
  }
}

void DevicePage::FollowCard(const std::string& capturePath) {
  // The other lists take the devices of the capture device's card, where it has one.
  const CardRows card = CardOf(shown_, capturePath);
  for (const DeviceControls& device : kDeviceControls) {
    const int row = card.row[static_cast<int>(device.kind)];
    if (device.kind == DeviceKind::kCapture || row < 0) {
      continue;
    }
    const DeviceEntry& entry = shown_[static_cast<int>(device.kind)][static_cast<size_t>(row)];
    SendItem(device.listId, CB_SETCURSEL, static_cast<WPARAM>(row));
    PipSettings& s = Settings().current;
    s.*device.name = entry.name;
    s.*device.path = entry.path;
  }
}

void DevicePage::Spin(HWND spin, int32_t position) {
  PipSettings& s = Settings().current;
  switch (GetDlgCtrlID(spin)) {
    case IDC_POS_X_SPIN:
      s.PiPWndPosX = position;
      ClampPipRect(s);
      Post(kUpdatePosX);
      break;
    case IDC_POS_Y_SPIN:
      s.PiPWndPosY = position;
      ClampPipRect(s);
      Post(kUpdatePosY);
      break;
    case IDC_WND_SIZE_SPIN:
      ResizePipRect(s, position);
      Post(kUpdatePosX);
      Post(kUpdatePosY);
      Post(kUpdateWndSize);
      break;
    case IDC_IMG_SIZE_SPIN:
      s.PiPImgSize = position;
      Post(kUpdateImgSize);
      break;
    case IDC_OPACITY_SPIN:
      s.Opacity = static_cast<uint32_t>(position);
      Post(kUpdateOpacity);
      break;
    default:
      break;
  }
}

void DevicePage::ChooseBorderColor() {
  // Owned by the settings dialog, so nothing underneath can be pressed while it is open.
  HWND owner = GetAncestor(Window(), GA_ROOT);
  CHOOSECOLORW choose{};
  choose.lStructSize = sizeof(choose);
  choose.hwndOwner = owner;
  choose.rgbResult = Settings().current.BorderColor & 0xFFFFFF;
  choose.lpCustColors = g_customColors;
  choose.Flags = CC_RGBINIT | CC_FULLOPEN;
  BOOL chosen = FALSE;
  {
    ModalScope loop;
    OwnersDisabled host(owner);
    chosen = ChooseColorW(&choose);
  }
  if (Window() == nullptr) {
    return;  // the dialog was closed underneath (Done): the settings are saved already
  }
  if (chosen) {
    Settings().current.BorderColor = choose.rgbResult;
  }
  RedrawWindow(Item(IDC_BORDER_COLOR), nullptr, nullptr,
               RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
}

void DevicePage::ShowPages(int buttonId) {
  // Outside the filter's reference: COM may only go once the frame has let go of the filter.
  ModalScope loop;
  ComPtr<IBaseFilter> filter;
  {
    ScopedLock lock(GraphLock());
    const CaptureGraph& graph = Graph();
    filter = buttonId == IDC_TUNER_PAGES      ? graph.tuner
             : buttonId == IDC_TV_AUDIO_PAGES ? graph.tvAudio
             : buttonId == IDC_CROSSBAR_PAGES ? graph.crossbar
                                              : graph.capture;
  }
  if (!filter) {
    return;
  }
  // The frame is modal and owned by the settings dialog, which cannot be closed underneath it.
  // Some systems' frames take no owner, so the dialog is disabled here as well.
  HWND owner = GetAncestor(Window(), GA_ROOT);
  OwnersDisabled dialogAndHost(owner, true);
  ShowPropertyPages(owner, filter.get());
}

void DevicePage::ApplyDevices() {
  // Whether each choice can later be found by its name: only when no other device the user saw
  // in its list had that name. A saved device that is not listed now (it is away) keeps what
  // was known when it was chosen.
  PipSettings& chosen = Settings().current;
  for (const DeviceControls& device : kDeviceControls) {
    const DeviceList& shown = shown_[static_cast<int>(device.kind)];
    const std::string& path = chosen.*device.path;
    bool listed = false;
    for (size_t row = 1; row < shown.size(); ++row) {
      listed = listed || shown[row].path == path;
    }
    if (path.empty()) {
      chosen.*device.nameUnique = 0;
    } else if (listed) {
      chosen.*device.nameUnique = NameUnique(shown, chosen.*device.name) ? 1 : 0;
    }
  }
  AppliedDeviceSelection().TakeFrom(chosen);
  StopGraph();
  RebuildGraph();
  const PipSettings& s = Settings().current;
  if (s.PiPEnable != 0) {
    RunGraph();
    SetChannel(s.PiPTVChannel);
  }
  Post(kUpdateFormats);
}

}  // namespace kvx
