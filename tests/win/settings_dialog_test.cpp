// The settings dialog in-process, on the test thread as the host's user-interface thread: driven
// through its controls and with real keystrokes and clicks, with the virtual card as the PiP
// card and a window standing in for the host's main window. Set KVX_SHOTS to a folder to keep
// pictures of the dialogs.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "capture/capture_graph.h"
#include "hotkeys/hotkey_table.h"
#include "hotkeys/hotkey_text.h"
#include "plugin/plugin.h"
#include "settings/settings_store.h"
#include "tests/win/support/frame_sink.h"
#include "tests/win/support/pip_card.h"
#include "tools/host/input_script.h"
#include "tools/host/png.h"
#include "ui/dialog_rules.h"
#include "ui/dialog_window.h"
#include "ui/resource_ids.h"
#include "ui/settings_dialog.h"

namespace kvx::test {
namespace {

void Pump(DWORD ms) {
  MSG msg;
  for (DWORD until = GetTickCount() + ms; GetTickCount() < until; Sleep(5)) {
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
}

// A picture of a window as the screen shows it, kept when KVX_SHOTS names a folder.
void Shot(HWND window, const wchar_t* name) {
  wchar_t folder[MAX_PATH] = {};
  if (GetEnvironmentVariableW(L"KVX_SHOTS", folder, MAX_PATH) == 0) {
    return;
  }
  RECT r{};
  GetWindowRect(window, &r);
  const int width = r.right - r.left;
  const int height = r.bottom - r.top;
  std::vector<uint32_t> pixels(static_cast<size_t>(width) * height);
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
  SelectObject(memory, old);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  GetDIBits(memory, bitmap, 0, static_cast<UINT>(height), pixels.data(), &info, DIB_RGB_COLORS);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  zhost::savePng(std::wstring(folder) + L"\\" + name, pixels.data(), width, height);
}

// Pure-red pixels of a window as the screen shows it.
int RedPixels(HWND window) {
  RECT r{};
  GetWindowRect(window, &r);
  HDC screen = GetDC(nullptr);
  int red = 0;
  for (int y = r.top; y < r.bottom; ++y) {
    for (int x = r.left; x < r.right; ++x) {
      red += GetPixel(screen, x, y) == RGB(255, 0, 0) ? 1 : 0;
    }
  }
  ReleaseDC(nullptr, screen);
  return red;
}

std::wstring Text(HWND window) {
  wchar_t text[256] = {};
  GetWindowTextW(window, text, 256);
  return text;
}

std::wstring Cell(HWND list, int item, int column) {
  wchar_t text[128] = {};
  LVITEMW cell{};
  cell.iSubItem = column;
  cell.pszText = text;
  cell.cchTextMax = 128;
  SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&cell));
  return text;
}

size_t RowOf(uint32_t PipSettings::*field) {
  for (size_t row = 0; row < kHotkeyCount; ++row) {
    if (HotkeyRows()[row].field == field) {
      return row;
    }
  }
  return kHotkeyCount;
}

// Waits on another thread for a top-level window with this caption, then does something to it
// while the test thread sits in the window's modal loop.
std::thread WhenShown(std::wstring caption, std::function<void(HWND)> act) {
  return std::thread([caption = std::move(caption), act = std::move(act)] {
    HWND window = nullptr;
    for (int i = 0; i < 250 && window == nullptr; ++i) {
      Sleep(20);
      window = FindWindowW(nullptr, caption.c_str());
    }
    Sleep(150);  // drawn
    act(window);
  });
}

class SettingsDialogTest : public PipCardTest {
 protected:
  void SetUp() override {
    PipCardTest::SetUp();
    WNDCLASSW main = {};
    main.lpfnWndProc = DefWindowProcW;
    main.lpszClassName = L"TMain";
    RegisterClassW(&main);
    host_ = CreateWindowW(L"TMain", L"Zorvinta", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 300, 200, 640,
                          480, nullptr, nullptr, nullptr, nullptr);
    Settings().SetDialogPos(-100, -100);
  }

  void TearDown() override {
    Dialog().Destroy();
    Descriptor()->stop();
    DestroyWindow(host_);
    UnregisterClassW(L"TMain", nullptr);
    PipCardTest::TearDown();
  }

  HWND Open() {
    ShowSettings(&host_);
    Pump(150);
    return Dialog().Window();
  }
  // The two pages are the tab control's dialogs, the device page first.
  static HWND Page(int index) {
    HWND tabs = GetDlgItem(Dialog().Window(), IDC_SETTINGS_TABS);
    HWND page = FindWindowExW(tabs, nullptr, L"#32770", nullptr);
    return index == 0 ? page : FindWindowExW(tabs, page, L"#32770", nullptr);
  }
  static void Click(HWND window, int id) {
    SendDlgItemMessageW(window, id, BM_CLICK, 0, 0);
    Pump(100);
  }
  void Start() {
    HostStream stream{320, 240, 0, kHostFormatYuy2, 0};
    Descriptor()->start(&stream);
  }
  // A hotkey pressed on the host's window while frames arrive.
  void Press(uint32_t code) {
    Lifecycle().LastFrameTick = GetTickCount();
    zhost::sendKey(host_, code);
    Pump(200);
  }

  HWND host_ = nullptr;
};

TEST_F(SettingsDialogTest, OpensOnceCentredRemembersItsPlaceAndOnlyItsButtonsCloseIt) {
  HWND dialog = Open();
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(Text(dialog), L"KVX_PiP плагин");
  RECT d{};
  RECT h{};
  GetWindowRect(dialog, &d);
  GetWindowRect(host_, &h);
  EXPECT_NEAR(d.left + d.right, h.left + h.right, 2);
  EXPECT_NEAR(d.top + d.bottom, h.top + h.bottom, 2);
  EXPECT_TRUE(IsWindowVisible(Page(0)));
  EXPECT_FALSE(IsWindowVisible(Page(1)));
  Shot(dialog, L"settings_device_page.png");

  ShowSettings(&host_);  // a second time: the same dialog, flashed
  Pump(50);
  EXPECT_EQ(Dialog().Window(), dialog);
  EXPECT_EQ(FindWindowExW(nullptr, dialog, L"#32770", L"KVX_PiP плагин"), nullptr);

  // The second tab, clicked with the mouse.
  HWND tabs = GetDlgItem(dialog, IDC_SETTINGS_TABS);
  RECT tab{};
  SendMessageW(tabs, TCM_GETITEMRECT, 1, reinterpret_cast<LPARAM>(&tab));
  SetForegroundWindow(dialog);
  for (auto button : {zhost::Button::kDown, zhost::Button::kUp}) {
    zhost::sendMouse(tabs, (tab.left + tab.right) / 2, (tab.top + tab.bottom) / 2, button);
    Pump(100);
  }
  EXPECT_EQ(Settings().current.SettingsTab, 1u);
  EXPECT_FALSE(IsWindowVisible(Page(0)));
  EXPECT_TRUE(IsWindowVisible(Page(1)));
  Shot(dialog, L"settings_hotkeys_page.png");

  // Enter and Escape, on the tab control and on the Cancel button, do nothing.
  for (int id : {IDC_SETTINGS_TABS, IDC_SETTINGS_CANCEL}) {
    for (uint32_t key : {VK_RETURN, VK_ESCAPE}) {
      zhost::sendKey(GetDlgItem(dialog, id), key);
      Pump(100);
      ASSERT_EQ(Dialog().Window(), dialog) << id << " " << key;
    }
  }

  // The close box cancels; the dialog reopens where it was moved.
  Settings().current.Opacity = 5;
  SetWindowPos(dialog, nullptr, 40, 50, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  SendMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
  Pump(50);
  EXPECT_EQ(Dialog().Window(), nullptr);
  EXPECT_EQ(Settings().current.Opacity, PipSettings::Defaults().Opacity);
  EXPECT_EQ(Settings().current.SettingsTab, 0u);
  dialog = Open();
  GetWindowRect(dialog, &d);
  EXPECT_EQ(d.left, 40);
  EXPECT_EQ(d.top, 50);
  Click(dialog, IDC_SETTINGS_OK);
  EXPECT_EQ(Dialog().Window(), nullptr);

  // Stored beyond the screen's right edge: centred again. A tab beyond the two: no page.
  Settings().SetDialogPos(GetSystemMetrics(SM_CXSCREEN), 10);
  Settings().current.SettingsTab = 7;
  dialog = Open();
  GetWindowRect(dialog, &d);
  EXPECT_NEAR(d.left + d.right, h.left + h.right, 2);
  EXPECT_FALSE(IsWindowVisible(Page(0)));
  EXPECT_FALSE(IsWindowVisible(Page(1)));

  // The host's window goes, and its dialog with it.
  DestroyWindow(host_);
  EXPECT_EQ(Dialog().Window(), nullptr);
}

TEST_F(SettingsDialogTest, CancelPutsBackTheSettingsTheHookAndTheGraphButKeepsWhatWasApplied) {
  const struct {
    uint32_t hotkeys;  // at opening; the dialog inverts it and PiPEnable
    uint32_t pip;
  } cases[] = {{1, 1}, {0, 0}};
  const uint32_t togglePip = HotkeyRows()[RowOf(&PipSettings::HK_PiPOnOff)].defaultCode;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.hotkeys);
    PipSettings& s = Settings().current;
    s = PipSettings::Defaults();
    Select("TACX");
    s.HotKeysEnable = c.hotkeys;
    s.PiPEnable = c.pip;
    RebuildGraph();
    Start();
    ASSERT_EQ(Lifecycle().GraphRunning, c.pip != 0);
    const PipSettings before = s;

    HWND dialog = Open();
    ASSERT_NE(dialog, nullptr);
    s.PiPWndPosX = 123;
    s.HK_PiPWndOpacityPlus = 0x241;
    Click(Page(1), IDC_HOTKEYS_ENABLE);
    ASSERT_EQ(s.HotKeysEnable, 1 - c.hotkeys);
    // What the device page's PiP box does.
    s.PiPEnable = 1 - c.pip;
    s.PiPEnable != 0 ? RunGraph() : StopGraph();
    // A device choice applied with the save button, one not applied, and a swap.
    s.TVAudioDevicePath.clear();
    AppliedDeviceSelection().TakeFrom(s);
    s.CaptureDeviceName = "not applied";
    s.PiPChannelOrder = 2;
    Click(dialog, IDC_SETTINGS_CANCEL);
    ASSERT_EQ(Dialog().Window(), nullptr);

    EXPECT_EQ(s.PiPWndPosX, before.PiPWndPosX);
    EXPECT_EQ(s.HK_PiPWndOpacityPlus, before.HK_PiPWndOpacityPlus);
    EXPECT_EQ(s.HotKeysEnable, c.hotkeys);
    EXPECT_EQ(s.PiPEnable, c.pip);
    EXPECT_EQ(Lifecycle().GraphRunning, c.pip != 0);
    EXPECT_EQ(s.TVAudioDevicePath, "");
    EXPECT_EQ(s.CaptureDeviceName, before.CaptureDeviceName);
    EXPECT_EQ(s.PiPChannelOrder, 2);
    Press(togglePip);  // the hook is there only if hotkeys are enabled again
    EXPECT_EQ(s.PiPEnable, c.hotkeys != 0 ? 1 - c.pip : c.pip);
    Descriptor()->stop();
  }
}

TEST_F(SettingsDialogTest, OkDropsUnappliedDevicesAndDoneKeepsTheLiveChangesInTheFile) {
  LoadSettings(&Settings().host);
  PipSettings& s = Settings().current;
  Select("TACX");
  const std::string applied = s.CaptureDeviceName;
  HWND dialog = Open();
  s.CaptureDeviceName = "not applied";
  s.PiPWndSize = 33;
  Click(dialog, IDC_SETTINGS_OK);
  EXPECT_EQ(s.CaptureDeviceName, applied);
  EXPECT_EQ(s.PiPWndSize, 33);

  dialog = Open();
  s.CaptureDeviceName = "not applied";
  s.PiPWndSize = 34;
  SetWindowPos(dialog, nullptr, 60, 70, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  Descriptor()->done();
  EXPECT_EQ(Dialog().Window(), nullptr);
  std::ifstream file(std::filesystem::path(Settings().location.path), std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  for (const char* line : {"DlgWndPosX=60\r", "DlgWndPosY=70\r", "PiPWndSize=34\r",
                           "CaptureDeviceName=not applied\r"}) {
    EXPECT_NE(text.str().find(line), std::string::npos) << line;
  }
}

TEST_F(SettingsDialogTest, TheStatusLineTellsInRedWhatTheGraphDid) {
  Select("");
  RebuildGraph();
  HWND dialog = Open();
  HWND status = GetDlgItem(dialog, IDC_SETTINGS_STATUS);
  EXPECT_EQ(Text(status), LoadText(kStatusBuildFailed));
  EXPECT_GT(RedPixels(status), 50);
  Select("TACX");
  RebuildGraph();
  Pump(100);
  EXPECT_EQ(Text(status), L" ");

  // Another program streams from the card: the graph builds but cannot run.
  StopGraph();
  SetFaults(tvcard::fault::kBusy);
  CardGraph other(BindCard(1));
  ComPtr<FrameSink> sink = FrameSink::Create();
  ASSERT_EQ(other.ConnectCapture(L"Capture", sink.get(), sink->InputPin()), S_OK);
  ASSERT_EQ(other.control->Run(), S_OK);
  EXPECT_FALSE(RunGraph());
  Pump(100);
  EXPECT_EQ(Text(status), LoadText(kStatusRunFailed));
  other.control->Stop();
  other.Release();
}

TEST_F(SettingsDialogTest, AHotkeyCapturedWithRealKeysIsTheOneTheKeyboardHookFires) {
  PipSettings& s = Settings().current;
  s.HotKeysEnable = 1;
  s.SettingsTab = 1;
  Start();
  HWND dialog = Open();
  HWND list = GetDlgItem(Page(1), IDC_HOTKEY_LIST);
  ASSERT_EQ(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0), static_cast<LRESULT>(kHotkeyCount));
  for (size_t row = 0; row < kHotkeyCount; ++row) {
    EXPECT_EQ(Cell(list, static_cast<int>(row), 0), FromCp1251(HotkeyRows()[row].displayName));
    EXPECT_EQ(Cell(list, static_cast<int>(row), 1), HotkeyText(HotkeyRows()[row].defaultCode));
  }
  // Enter with no row selected opens nothing.
  zhost::sendKey(list, VK_RETURN);
  Pump(200);
  const size_t row = RowOf(&PipSettings::HK_PiPOnOff);
  const std::wstring name = FromCp1251(HotkeyRows()[row].displayName);
  EXPECT_EQ(FindWindowW(nullptr, name.c_str()), nullptr);

  LVITEMW state{};
  state.stateMask = state.state = LVIS_SELECTED | LVIS_FOCUSED;
  SendMessageW(list, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&state));
  constexpr uint32_t kCtrlRight = 0xA27;  // Ctrl, extended key, VK_RIGHT
  const struct {
    uint32_t typed;   // 0: nothing typed
    uint32_t closer;  // Enter confirms, Escape cancels
    uint32_t stored;
  } edits[] = {{kCtrlRight, VK_ESCAPE, 0x250},
               {kCtrlRight, VK_RETURN, kCtrlRight},
               {0, VK_RETURN, kCtrlRight}};
  for (const auto& edit : edits) {
    std::atomic<bool> seen{false};
    std::thread typist = WhenShown(name, [&](HWND capture) {
      seen = capture != nullptr;
      if (edit.typed != 0) {
        zhost::sendKey(nullptr, edit.typed);
        Sleep(100);
      } else {
        Shot(capture, L"hotkey_capture.png");
      }
      zhost::sendKey(nullptr, edit.closer);
    });
    zhost::sendKey(list, VK_RETURN);
    Pump(300);
    typist.join();
    EXPECT_TRUE(seen);
    EXPECT_EQ(s.HK_PiPOnOff, edit.stored);
    EXPECT_EQ(Cell(list, static_cast<int>(row), 1), HotkeyText(edit.stored));
  }
  ASSERT_EQ(Dialog().Window(), dialog);

  // The about box is owned by the dialog; Enter closes it.
  std::atomic<bool> aboutOwned{false};
  std::thread closer([&] {
    for (int i = 0; i < 100; ++i) {
      Sleep(30);
      HWND active = GetForegroundWindow();
      if (active != nullptr && active != dialog && GetWindow(active, GW_OWNER) == dialog) {
        aboutOwned = !IsWindowEnabled(dialog) && !IsWindowEnabled(host_);
        Sleep(150);
        Shot(active, L"about.png");
        zhost::sendKey(nullptr, VK_RETURN);
        return;
      }
    }
  });
  Click(dialog, IDC_SETTINGS_ABOUT);
  closer.join();
  EXPECT_TRUE(aboutOwned);
  EXPECT_TRUE(IsWindowEnabled(dialog));
  EXPECT_TRUE(IsWindowEnabled(host_));

  Click(dialog, IDC_SETTINGS_OK);
  const uint32_t pip = s.PiPEnable;
  Press(kCtrlRight);
  EXPECT_EQ(s.PiPEnable, 1 - pip);
}

}  // namespace
}  // namespace kvx::test
