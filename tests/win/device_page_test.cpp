// The device page with the virtual card, driven through its controls, real clicks and a real
// drag (see support/dialog_driver.h); what it changed shows in the settings, the graph, the
// status line and the frames the plug-in composes.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "capture/capture_graph.h"
#include "capture/device_list.h"
#include "capture/stream_format.h"
#include "plugin/plugin.h"
#include "settings/settings_store.h"
#include "tests/win/support/dialog_driver.h"
#include "tests/win/support/frame_sink.h"
#include "tools/host/input_script.h"
#include "ui/dialog_rules.h"
#include "ui/dialog_window.h"
#include "ui/resource_ids.h"
#include "ui/settings_dialog.h"

namespace kvx::test {
namespace {

using tvcard::Role;

// Set 2's device path on a board with two sets (the dual-set switch).
std::string Path2(Role role) {
  const std::wstring path = tvcard::DualSetPath(role);
  return std::string(path.begin(), path.end());
}

class DevicePageTest : public SettingsDialogTest {
 protected:
  // A running PiP with an opaque green border.
  void StartPip() {
    PipSettings& s = Settings().current;
    s.PiPEnable = 1;
    s.Opacity = 100;
    s.BorderEnable = 1;
    s.BorderColor = RGB(0, 255, 0);
    RebuildGraph();
    Start(kHostFormatRgb24);
    ASSERT_TRUE(Lifecycle().GraphRunning);
    ASSERT_TRUE(FramesFlowing(3000));
  }
  static std::wstring Field(int id) { return Text(GetDlgItem(Page(0), id)); }
  // What the user does with a list: select a row, and the list tells the page.
  static void Pick(int listId, int row) {
    HWND list = GetDlgItem(Page(0), listId);
    SendMessageW(list, CB_SETCURSEL, static_cast<WPARAM>(row), 0);
    SendMessageW(Page(0), WM_COMMAND, MAKEWPARAM(listId, CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(list));
    Pump(50);
  }
  static int RowOf(DeviceKind kind, const std::string& path) {
    const DeviceList& list = Devices(kind);
    for (size_t row = 0; row < list.size(); ++row) {
      if (list[row].path == path) {
        return static_cast<int>(row);
      }
    }
    return -1;
  }
  static void SpinTo(int spinId, int position) {
    HWND spin = GetDlgItem(Page(0), spinId);
    const UINT message = spinId == IDC_POS_X_SPIN ? WM_HSCROLL : WM_VSCROLL;
    SendMessageW(Page(0), message, MAKEWPARAM(SB_THUMBPOSITION, position),
                 reinterpret_cast<LPARAM>(spin));
    Pump(50);
  }
  // A click on one half of a spin: the right (or lower) half steps up for a horizontal spin.
  void ClickSpin(int spinId, bool secondHalf) {
    HWND spin = GetDlgItem(Page(0), spinId);
    RECT r{};
    GetClientRect(spin, &r);
    const bool horizontal = spinId == IDC_POS_X_SPIN;
    const int x = horizontal ? (secondHalf ? r.right * 3 / 4 : r.right / 4) : r.right / 2;
    const int y = horizontal ? r.bottom / 2 : (secondHalf ? r.bottom * 3 / 4 : r.bottom / 4);
    SetForegroundWindow(Dialog().Window());
    zhost::sendMouse(spin, x, y, zhost::Button::kDown);
    Pump(50);
    zhost::sendMouse(spin, x, y, zhost::Button::kUp);
    Pump(150);
  }
};

TEST_F(DevicePageTest, SpinsAndADragMoveThePipLiveAndTheFieldsFollow) {
  PipSettings& s = Settings().current;
  s.PiPWndSize = 30;
  s.PiPWndPosX = 700;
  s.PiPWndPosY = 100;
  StartPip();
  ASSERT_NE(Open(), nullptr);
  Shot(Dialog().Window(), L"settings_device_page.png");
  EXPECT_EQ(Field(IDC_POS_X_FIELD), L"70.0");
  EXPECT_EQ(Field(IDC_WND_SIZE_FIELD), L"30");
  EXPECT_EQ(Field(IDC_OPACITY_FIELD), L"100");

  ClickSpin(IDC_POS_X_SPIN, true);  // 701 is beyond 10 x (100 - 30)
  EXPECT_EQ(s.PiPWndPosX, 700);
  EXPECT_EQ(Field(IDC_POS_X_FIELD), L"70.0");
  ClickSpin(IDC_POS_X_SPIN, false);
  EXPECT_EQ(s.PiPWndPosX, 699);
  EXPECT_EQ(Field(IDC_POS_X_FIELD), L"69.9");
  ClickSpin(IDC_WND_SIZE_SPIN, false);  // the upper half of a vertical spin steps up
  EXPECT_EQ(s.PiPWndSize, 31);
  EXPECT_EQ(s.PiPWndPosX, 690);  // 694 after the step, clamped to 10 x (100 - 31)
  EXPECT_EQ(s.PiPWndPosY, 95);
  EXPECT_EQ(Field(IDC_POS_X_FIELD), L"69.0");
  EXPECT_EQ(Field(IDC_POS_Y_FIELD), L"9.5");
  EXPECT_EQ(Field(IDC_WND_SIZE_FIELD), L"31");

  SpinTo(IDC_POS_Y_SPIN, 0);
  EXPECT_EQ(Field(IDC_POS_Y_FIELD), L"0.0");
  SpinTo(IDC_IMG_SIZE_SPIN, 120);
  SpinTo(IDC_OPACITY_SPIN, 100);
  EXPECT_EQ(s.PiPImgSize, 120);
  EXPECT_EQ(Field(IDC_IMG_SIZE_FIELD), L"120");
  s.PiPWndPosX = 1000;
  Dialog().PostUpdate(kUpdatePosX);
  Pump(50);
  EXPECT_EQ(Field(IDC_POS_X_FIELD), L"100.0");
  SpinTo(IDC_POS_X_SPIN, 500);
  EXPECT_EQ(s.PiPWndPosX, 500);

  // The next frame: the rectangle's left border at 500 thousandths of 320, from the top.
  HostPicture frame(kHostFormatRgb24, 0, 0);
  EXPECT_EQ(frame.At(161, 30), RGB(0, 255, 0));
  EXPECT_NE(frame.At(157, 30), RGB(0, 255, 0));

  // A drag while the dialog is open: the mouse hook moves the PiP and the fields follow.
  const int x = 160 + 49;  // inside the 99x74 rectangle
  const int y = 37;
  Lifecycle().LastFrameTick = GetTickCount();
  zhost::sendMouse(video_, x, y, zhost::Button::kDown);
  Pump(50);
  for (int step = 1; step <= 4; ++step) {
    Lifecycle().LastFrameTick = GetTickCount();
    zhost::sendMouse(video_, x - step * 20, y + step * 20, zhost::Button::kNone);
    Pump(30);
  }
  Lifecycle().LastFrameTick = GetTickCount();
  zhost::sendMouse(video_, x - 80, y + 80, zhost::Button::kUp);
  Pump(150);
  EXPECT_LT(s.PiPWndPosX, 500);
  EXPECT_GT(s.PiPWndPosY, 0);
  const std::string posX = TenthsText(s.PiPWndPosX);
  const std::string posY = TenthsText(s.PiPWndPosY);
  EXPECT_EQ(Field(IDC_POS_X_FIELD), std::wstring(posX.begin(), posX.end()));
  EXPECT_EQ(Field(IDC_POS_Y_FIELD), std::wstring(posY.begin(), posY.end()));

  // The host stops on another thread in the middle of a drag: the video window lets go of the
  // mouse, and after the next Start a drag moves the PiP again.
  RECT client{};
  GetClientRect(video_, &client);
  const auto middle = [&](int32_t pos, int32_t size) {
    return MulDiv(pos, size, 1000) + MulDiv(s.PiPWndSize, size, 200);
  };
  const int x2 = middle(s.PiPWndPosX, client.right);
  const int y2 = middle(s.PiPWndPosY, client.bottom);
  Lifecycle().LastFrameTick = GetTickCount();
  zhost::sendMouse(video_, x2, y2, zhost::Button::kDown);
  Pump(50);
  EXPECT_EQ(GetCapture(), video_);
  std::thread([] { Descriptor()->stop(); }).join();
  Pump(50);
  EXPECT_EQ(GetCapture(), nullptr);
  zhost::sendMouse(video_, x2, y2, zhost::Button::kUp);
  Pump(50);
  Start(kHostFormatRgb24);
  const int32_t before = s.PiPWndPosX;
  // The drag the stop cut short is over: moving the mouse alone moves nothing.
  for (const int dx : {20, 40}) {
    Lifecycle().LastFrameTick = GetTickCount();
    zhost::sendMouse(video_, x2 + dx, y2, zhost::Button::kNone);
    Pump(50);
  }
  EXPECT_EQ(s.PiPWndPosX, before);
  for (const auto& [dx, button] :
       {std::pair{0, zhost::Button::kDown}, std::pair{30, zhost::Button::kNone},
        std::pair{30, zhost::Button::kUp}}) {
    Lifecycle().LastFrameTick = GetTickCount();
    zhost::sendMouse(video_, x2 + dx, y2, button);
    Pump(50);
  }
  EXPECT_GT(s.PiPWndPosX, before);
  EXPECT_EQ(GetCapture(), nullptr);
}

TEST_F(DevicePageTest, ListsStoreTheRowTheUserSawAndTheSaveButtonAppliesIt) {
  // A capture device with a Cyrillic name, after the card's.
  const std::wstring key = L"CLSID\\{860BB310-5D01-11D0-BD3B-00A0C911CE86}\\Instance\\KvxZ";
  wchar_t capture[40];
  StringFromGUID2(tvcard::ClassOf(Role::kCapture), capture, 40);
  const std::pair<const wchar_t*, std::wstring> values[] = {
      {L"CLSID", capture}, {L"FriendlyName", L"Карта ТВ"}, {L"DevicePath", L"\\\\?\\kvx#z"}};
  for (const auto& [name, value] : values) {
    ASSERT_EQ(RegSetKeyValueW(HKEY_CLASSES_ROOT, key.c_str(), name, REG_SZ, value.c_str(),
                              static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
  }
  PipSettings& s = Settings().current;
  Select("");
  s.CaptureDevicePath = "\\\\?\\gone";
  RebuildGraph();
  HWND dialog = Open();
  HWND status = GetDlgItem(dialog, IDC_SETTINGS_STATUS);
  EXPECT_EQ(SendDlgItemMessageW(Page(0), IDC_CAPTURE_LIST, CB_GETCURSEL, 0, 0), 0);
  EXPECT_EQ(s.CaptureDevicePath, "\\\\?\\gone");
  Click(Page(0), IDC_SAVE_DEVICES);
  EXPECT_EQ(Text(status), LoadText(kStatusBuildFailed));

  // Two cards of one make: the second row of that name is card 2, and shows as "#2".
  const auto shownAt = [](int listId, int row) {
    wchar_t text[64] = {};
    SendDlgItemMessageW(Page(0), listId, CB_GETLBTEXT, static_cast<WPARAM>(row),
                        reinterpret_cast<LPARAM>(text));
    return std::wstring(text);
  };
  EXPECT_EQ(shownAt(IDC_TUNER_LIST, RowOf(DeviceKind::kTuner, Path(1, Role::kTuner))),
            L"KVX Virtual TV Tuner");
  EXPECT_EQ(shownAt(IDC_TUNER_LIST, RowOf(DeviceKind::kTuner, Path(2, Role::kTuner))),
            L"KVX Virtual TV Tuner #2");
  Pick(IDC_TUNER_LIST, RowOf(DeviceKind::kTuner, Path(2, Role::kTuner)));
  EXPECT_EQ(s.TVTunerDevicePath, Path(2, Role::kTuner));
  EXPECT_EQ(s.TVTunerDeviceName, "KVX Virtual TV Tuner");  // the device's own name
  // Card 2's capture device brings card 2's other devices along.
  Pick(IDC_TUNER_LIST, RowOf(DeviceKind::kTuner, Path(1, Role::kTuner)));
  Pick(IDC_CAPTURE_LIST, RowOf(DeviceKind::kCapture, Path(2, Role::kCapture)));
  for (const auto& [kind, list, role, path] :
       {std::tuple{DeviceKind::kTuner, IDC_TUNER_LIST, Role::kTuner, &s.TVTunerDevicePath},
        std::tuple{DeviceKind::kTvAudio, IDC_TV_AUDIO_LIST, Role::kTvAudio, &s.TVAudioDevicePath},
        std::tuple{DeviceKind::kCrossbar, IDC_CROSSBAR_LIST, Role::kCrossbar,
                   &s.CrossbarDevicePath}}) {
    EXPECT_EQ(SendDlgItemMessageW(Page(0), list, CB_GETCURSEL, 0, 0), RowOf(kind, Path(2, role)));
    EXPECT_EQ(*path, Path(2, role));
  }
  // And card 1's capture device brings card 1's.
  Pick(IDC_CAPTURE_LIST, RowOf(DeviceKind::kCapture, Path(1, Role::kCapture)));
  EXPECT_EQ(s.TVTunerDevicePath, Path(1, Role::kTuner));
  EXPECT_EQ(s.TVAudioDevicePath, Path(1, Role::kTvAudio));
  EXPECT_EQ(s.CrossbarDevicePath, Path(1, Role::kCrossbar));
  const int cyrillic = RowOf(DeviceKind::kCapture, "\\\\?\\kvx#z");
  ASSERT_GT(cyrillic, 0);
  wchar_t shown[64] = {};
  SendDlgItemMessageW(Page(0), IDC_CAPTURE_LIST, CB_GETLBTEXT, static_cast<WPARAM>(cyrillic),
                      reinterpret_cast<LPARAM>(shown));
  EXPECT_STREQ(shown, L"Карта ТВ");
  Pick(IDC_CAPTURE_LIST, cyrillic);
  EXPECT_EQ(s.CaptureDeviceName, "\xCA\xE0\xF0\xF2\xE0 \xD2\xC2");  // Windows-1251
  Pick(IDC_CAPTURE_LIST, -1);                                       // no selection: nothing stored
  EXPECT_EQ(s.CaptureDevicePath, "\\\\?\\kvx#z");
  // Saved: a name no other device had may find its device again; a card's shared names not.
  Click(Page(0), IDC_SAVE_DEVICES);
  EXPECT_EQ(s.CaptureDeviceNameUnique, 1u);
  EXPECT_EQ(s.TVTunerDeviceNameUnique, 0u);

  // Card 1 chosen and applied: the PiP runs and the format list shows the card's formats.
  for (const auto& [kind, list, role] :
       {std::tuple{DeviceKind::kTuner, IDC_TUNER_LIST, Role::kTuner},
        std::tuple{DeviceKind::kTvAudio, IDC_TV_AUDIO_LIST, Role::kTvAudio},
        std::tuple{DeviceKind::kCrossbar, IDC_CROSSBAR_LIST, Role::kCrossbar},
        std::tuple{DeviceKind::kCapture, IDC_CAPTURE_LIST, Role::kCapture}}) {
    Pick(list, RowOf(kind, Path(1, role)));
  }
  s.PiPEnable = 1;
  Click(Page(0), IDC_SAVE_DEVICES);
  EXPECT_EQ(Text(status), L" ");
  EXPECT_TRUE(Lifecycle().GraphRunning);
  EXPECT_TRUE(FramesFlowing(3000));
  for (uint32_t unique : {s.TVTunerDeviceNameUnique, s.TVAudioDeviceNameUnique,
                          s.CrossbarDeviceNameUnique, s.CaptureDeviceNameUnique}) {
    EXPECT_EQ(unique, 0u);  // card 2 has the same names
  }
  EXPECT_EQ(Field(IDC_STREAMED_FORMAT), L"YUY2 352x288");
  HWND formats = GetDlgItem(Page(0), IDC_STREAM_FORMAT_LIST);
  ASSERT_EQ(SendMessageW(formats, CB_GETCOUNT, 0, 0), static_cast<LRESULT>(Formats().size()));
  Pick(IDC_STREAM_FORMAT_LIST, static_cast<int>(Formats().size()) - 1);
  EXPECT_EQ(s.StreamFormat, Formats().back().code);

  // A capture device alone, as a USB grabber is: the PiP runs, and the pages and the standard
  // that need a tuner, TV audio device or crossbar cannot be asked for.
  const auto enabled = [] {
    std::string which;
    for (const int id : {IDC_TUNER_PAGES, IDC_TV_AUDIO_PAGES, IDC_CROSSBAR_PAGES, IDC_CAPTURE_PAGES,
                         IDC_VIDEO_STANDARD_LIST}) {
      which += IsWindowEnabled(GetDlgItem(Page(0), id)) ? '1' : '0';
    }
    return which;
  };
  EXPECT_EQ(enabled(), "11111");
  for (const int list : {IDC_TUNER_LIST, IDC_TV_AUDIO_LIST, IDC_CROSSBAR_LIST}) {
    Pick(list, 0);
  }
  Click(Page(0), IDC_SAVE_DEVICES);
  EXPECT_EQ(Text(status), L" ");
  EXPECT_TRUE(FramesFlowing(3000));
  EXPECT_EQ(enabled(), "00010");
  for (const auto& [kind, list, role] :
       {std::tuple{DeviceKind::kTuner, IDC_TUNER_LIST, Role::kTuner},
        std::tuple{DeviceKind::kTvAudio, IDC_TV_AUDIO_LIST, Role::kTvAudio},
        std::tuple{DeviceKind::kCrossbar, IDC_CROSSBAR_LIST, Role::kCrossbar}}) {
    Pick(list, RowOf(kind, Path(1, role)));
  }
  Click(Page(0), IDC_SAVE_DEVICES);
  EXPECT_EQ(enabled(), "11111");

  // Picked but not applied: OK keeps the card the graph runs with.
  Pick(IDC_TUNER_LIST, RowOf(DeviceKind::kTuner, Path(2, Role::kTuner)));
  Click(dialog, IDC_SETTINGS_OK);
  EXPECT_EQ(s.TVTunerDevicePath, Path(1, Role::kTuner));

  // Another program streams from the card: the graph builds but cannot run.
  dialog = Open();
  StopGraph();
  SetFaults(tvcard::fault::kBusy);
  {
    CardGraph other(BindCard(1));
    ComPtr<FrameSink> sink = FrameSink::Create();
    ASSERT_EQ(other.ConnectCapture(L"Capture", sink.get(), sink->InputPin()), S_OK);
    ASSERT_EQ(other.control->Run(), S_OK);
    Click(Page(0), IDC_SAVE_DEVICES);
    EXPECT_EQ(Text(GetDlgItem(dialog, IDC_SETTINGS_STATUS)), LoadText(kStatusRunFailed));
    other.Release();
  }
  SetFaults(nullptr);

  // A failed allocation halfway through the save button's build ends that work alone: nothing
  // of the graph is left, and the next press builds and runs it.
  for (const int step : {3, 12, 24}) {
    FailAtLogEntry(step);
    Click(Page(0), IDC_SAVE_DEVICES);
    EXPECT_TRUE(FailedYet());
    EXPECT_FALSE(Lifecycle().GraphBuilt);
    EXPECT_FALSE(Graph().graph || Graph().capture || Graph().renderer) << step;
  }
  Click(Page(0), IDC_SAVE_DEVICES);
  EXPECT_TRUE(Lifecycle().GraphRunning);

  // The card goes away while the PiP runs, and the user presses the save button at once: the
  // PiP waits on, and is live again when the card is back, without the user.
  SetFaults(tvcard::fault::kLostReturn);
  Start();
  Click(Page(0), IDC_SAVE_DEVICES);
  HWND line = GetDlgItem(dialog, IDC_SETTINGS_STATUS);
  const auto shows = [&](int32_t id, DWORD ms) {
    for (const DWORD until = GetTickCount() + ms; Text(line) != LoadText(id);) {
      if (static_cast<LONG>(GetTickCount() - until) > 0) {
        return false;
      }
      Pump(20);
    }
    return true;
  };
  EXPECT_TRUE(shows(kStatusDeviceLost, 2000));
  Click(Page(0), IDC_SAVE_DEVICES);
  EXPECT_EQ(Text(line), LoadText(kStatusDeviceLost));
  EXPECT_TRUE(shows(kStatusGood, 6000));
  EXPECT_TRUE(FramesFlowing(1000));
  SetFaults(nullptr);
  RegDeleteTreeW(HKEY_CLASSES_ROOT, key.c_str());
}

// One board whose single function carries two sets, listed in no particular order: the
// mediums on the pins say which tuner, TV audio device and crossbar belong to set 2's capture
// device.
TEST_F(DevicePageTest, ChoosingASetsCaptureDeviceChoosesTheDevicesWiredToIt) {
  Reregister(L"dual-set,mediums");
  RebuildGraph();
  Open();
  Pick(IDC_CAPTURE_LIST, RowOf(DeviceKind::kCapture, Path2(Role::kCapture)));
  PipSettings& s = Settings().current;
  EXPECT_EQ(s.TVTunerDevicePath, Path2(Role::kTuner));
  EXPECT_EQ(s.TVAudioDevicePath, Path2(Role::kTvAudio));
  EXPECT_EQ(s.CrossbarDevicePath, Path2(Role::kCrossbar));
  Pick(IDC_CAPTURE_LIST, RowOf(DeviceKind::kCapture, Path(1, Role::kCapture)));
  EXPECT_EQ(s.TVTunerDevicePath, Path(1, Role::kTuner));
  EXPECT_EQ(s.CrossbarDevicePath, Path(1, Role::kCrossbar));
}

TEST_F(DevicePageTest, PipBoxColourAndPropertyPagesActOnTheRunningPip) {
  PipSettings& s = Settings().current;
  s.StreamSize = 3;
  StartPip();
  HWND dialog = Open();
  // The border box and the standard and size lists write their settings; refreshes 10 to 12
  // show the settings again.
  EXPECT_EQ(SendDlgItemMessageW(Page(0), IDC_STREAM_SIZE_LIST, CB_GETCURSEL, 0, 0), 3);
  Click(Page(0), IDC_BORDER_ENABLE);
  Pick(IDC_VIDEO_STANDARD_LIST, 4);
  Pick(IDC_STREAM_SIZE_LIST, 5);
  EXPECT_EQ(s.BorderEnable, 0u);
  EXPECT_EQ(s.VideoSystem, 4u);
  EXPECT_EQ(s.StreamSize, 5);
  s.BorderEnable = 1;
  s.VideoSystem = 2;
  s.PiPEnable = 0;
  for (WPARAM code : {kUpdateBorder, kUpdateStandard, kUpdatePipEnable}) {
    Dialog().PostUpdate(code);
  }
  Pump(50);
  EXPECT_EQ(SendDlgItemMessageW(Page(0), IDC_BORDER_ENABLE, BM_GETCHECK, 0, 0), BST_CHECKED);
  EXPECT_EQ(SendDlgItemMessageW(Page(0), IDC_VIDEO_STANDARD_LIST, CB_GETCURSEL, 0, 0), 2);
  EXPECT_EQ(SendDlgItemMessageW(Page(0), IDC_PIP_ENABLE, BM_GETCHECK, 0, 0), BST_UNCHECKED);
  s.PiPEnable = 1;
  Dialog().PostUpdate(kUpdatePipEnable);
  Pump(50);

  Click(Page(0), IDC_PIP_ENABLE);
  EXPECT_EQ(Settings().current.PiPEnable, 0u);
  EXPECT_FALSE(Lifecycle().GraphRunning);
  Log().clear();
  Click(Page(0), IDC_PIP_ENABLE);
  EXPECT_TRUE(Lifecycle().GraphRunning);
  // Run, without tuning again.
  ASSERT_EQ(Log().size(), 2u);
  EXPECT_EQ(Log()[0].second, "Run DirectShow graph ... ");

  // The colour dialog, answered from another thread: confirmed, then cancelled.
  for (const bool confirm : {true, false}) {
    std::thread answer = WhenOwnedShown(dialog, [confirm](HWND colour) {
      SetDlgItemTextW(colour, 706, L"10");  // red, green and blue of the full dialog
      SetDlgItemTextW(colour, 707, L"20");
      SetDlgItemTextW(colour, 708, L"200");
      PostMessageW(colour, WM_COMMAND, confirm ? IDOK : IDCANCEL, 0);
    });
    Settings().current.BorderColor = confirm ? RGB(0, 255, 0) : RGB(1, 2, 3);
    Click(Page(0), IDC_BORDER_COLOR);
    answer.join();
    EXPECT_EQ(Settings().current.BorderColor, confirm ? RGB(10, 20, 200) : RGB(1, 2, 3));
    if (confirm) {
      EXPECT_GT(PixelsOf(GetDlgItem(Page(0), IDC_BORDER_COLOR), RGB(10, 20, 200)), 40);
      Sleep(100);
      HostPicture frame(kHostFormatRgb24, 0, 0);
      const PipSettings& now = Settings().current;
      const int middle = MulDiv(now.PiPWndPosY, 240, 1000) + MulDiv(now.PiPWndSize, 240, 200);
      EXPECT_EQ(frame.At(MulDiv(now.PiPWndPosX, 320, 1000) + 1, middle), RGB(10, 20, 200));
    }
  }

  // "...": the capture device's own pages, in a frame the dialog owns.
  std::atomic<bool> modal{false};
  std::thread close([&] {
    for (int i = 0; i < 250; ++i) {
      Sleep(20);
      if (HWND frame = FindCaption(L"Capture Device")) {
        modal = !IsWindowEnabled(dialog) && !IsWindowEnabled(host_);
        PostMessageW(frame, WM_COMMAND, IDCANCEL, 0);
        return;
      }
    }
  });
  Click(Page(0), IDC_CAPTURE_PAGES);
  close.join();
  EXPECT_TRUE(modal);
  EXPECT_TRUE(IsWindowEnabled(dialog));
  // Without a graph there is nothing to show.
  StopGraph();
  TearDownGraph();
  Lifecycle().GraphBuilt = false;
  const DWORD before = GetTickCount();
  Click(Page(0), IDC_TUNER_PAGES);
  EXPECT_LT(GetTickCount() - before, 1000u);
}

}  // namespace
}  // namespace kvx::test
