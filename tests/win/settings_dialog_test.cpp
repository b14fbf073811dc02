// The settings dialog, its hotkeys page, the hotkey capture dialog and the about box, driven
// through their controls and with real keystrokes and clicks (see support/dialog_driver.h).
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <atomic>
#include <set>
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
#include "tests/win/support/dialog_driver.h"
#include "tools/host/input_script.h"
#include "ui/dialog_rules.h"
#include "ui/dialog_window.h"
#include "ui/resource_ids.h"
#include "ui/settings_dialog.h"

namespace kvx::test {
namespace {

std::wstring Cell(HWND list, int item, int column) {
  wchar_t text[128] = {};
  LVITEMW cell{};
  cell.iSubItem = column;
  cell.pszText = text;
  cell.cchTextMax = 128;
  SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&cell));
  return text;
}

// The controls of a page that Tab should reach.
std::set<HWND> TabStops(HWND page) {
  std::set<HWND> stops;
  for (HWND c = GetWindow(page, GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT)) {
    const LONG style = GetWindowLongW(c, GWL_STYLE);
    if ((style & (WS_TABSTOP | WS_VISIBLE | WS_DISABLED)) == (WS_TABSTOP | WS_VISIBLE)) {
      stops.insert(c);
    }
  }
  return stops;
}

// Where the focus went, key press after key press.
std::set<HWND> FocusAfter(uint32_t key, size_t presses) {
  std::set<HWND> seen;
  for (size_t i = 0; i < presses; ++i) {
    zhost::sendKey(nullptr, key);
    Pump(40);
    seen.insert(GetFocus());
  }
  return seen;
}

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

  // From the buttons, Tab and Shift+Tab reach every control of the visible page; Ctrl+Tab turns
  // the page and takes the focus into it.
  const std::set<HWND> stops = TabStops(Page(0));
  ASSERT_GT(stops.size(), 15u);
  SetForegroundWindow(dialog);
  SetFocus(GetDlgItem(dialog, IDC_SETTINGS_OK));
  for (const uint32_t key : {0x009u, 0x109u}) {  // Tab, Shift+Tab
    const std::set<HWND> seen = FocusAfter(key, stops.size() + 4);
    for (HWND stop : stops) {
      EXPECT_EQ(seen.count(stop), 1u) << key << " " << GetDlgCtrlID(stop);
    }
  }
  zhost::sendKey(nullptr, 0x209);  // Ctrl+Tab
  Pump(50);
  EXPECT_EQ(Settings().current.SettingsTab, 1u);
  EXPECT_TRUE(IsWindowVisible(Page(1)));
  EXPECT_TRUE(IsChild(Page(1), GetFocus()));
  zhost::sendKey(nullptr, 0x309);  // Ctrl+Shift+Tab
  Pump(50);
  EXPECT_EQ(Settings().current.SettingsTab, 0u);
  EXPECT_TRUE(IsChild(Page(0), GetFocus()));

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
  const uint32_t togglePip = HotkeyRows()[HotkeyRowOf(&PipSettings::HK_PiPOnOff)].defaultCode;
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
  EXPECT_GT(PixelsOf(status, RGB(255, 0, 0)), 50);
  Select("TACX");
  RebuildGraph();
  Pump(100);
  EXPECT_EQ(Text(status), L" ");

  // Text 5, a graph that cannot run, is the device page's save button's to show.
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
  const size_t row = HotkeyRowOf(&PipSettings::HK_PiPOnOff);
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

  // The about box is owned by the dialog; Enter closes it, and so does its close box.
  for (const bool closeBox : {false, true}) {
    std::atomic<bool> aboutOwned{false};
    std::thread closer = WhenOwnedShown(dialog, [&](HWND about) {
      aboutOwned = about != nullptr && !IsWindowEnabled(dialog) && !IsWindowEnabled(host_);
      if (closeBox) {
        aboutOwned = aboutOwned && (GetWindowLongW(about, GWL_STYLE) & WS_SYSMENU) != 0;
        PostMessageW(about, WM_SYSCOMMAND, SC_CLOSE, 0);
      } else {
        Shot(about, L"about.png");
        zhost::sendKey(nullptr, VK_RETURN);
      }
    });
    Click(dialog, IDC_SETTINGS_ABOUT);
    closer.join();
    EXPECT_TRUE(aboutOwned) << closeBox;
    EXPECT_TRUE(IsWindowEnabled(dialog));
    EXPECT_TRUE(IsWindowEnabled(host_));
  }

  Click(dialog, IDC_SETTINGS_OK);
  const uint32_t pip = s.PiPEnable;
  Press(kCtrlRight);
  EXPECT_EQ(s.PiPEnable, 1 - pip);
  // The hotkeys box cleared and OK: the same keys do nothing any more.
  dialog = Open();
  Click(Page(1), IDC_HOTKEYS_ENABLE);
  Click(dialog, IDC_SETTINGS_OK);
  EXPECT_EQ(s.HotKeysEnable, 0u);
  Press(kCtrlRight);
  EXPECT_EQ(s.PiPEnable, 1 - pip);
}

}  // namespace
}  // namespace kvx::test
