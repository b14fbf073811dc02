// Host window discovery in process: windows of the host's classes and titles made by the test,
// decoys beside them, and the query each search sends to the main window found.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hotkeys/hotkey_text.h"
#include "settings/host_windows.h"
#include "settings/settings_store.h"

namespace kvx::test {
namespace {

struct Received {
  HWND window;
  WPARAM wParam;
  LPARAM lParam;
};
std::vector<Received> g_received;

LRESULT CALLBACK RecordingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kWmHostCommand) {
    g_received.push_back({window, wParam, lParam});
    return 1;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

void Register(const wchar_t* name) {
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = &RecordingProc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = name;
  RegisterClassW(&windowClass);
}

class FindHostWindowsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Register(L"TMain");
    Register(L"TVideoFrame");
    Register(L"KvxTestChild");
    g_received.clear();
    saved_ = Settings().location;
  }
  void TearDown() override {
    for (auto it = windows_.rbegin(); it != windows_.rend(); ++it) {
      DestroyWindow(*it);
    }
    Settings().location = saved_;
  }

  HWND Top(const wchar_t* windowClass, const wchar_t* title) {
    HWND window = CreateWindowExW(0, windowClass, title, WS_OVERLAPPEDWINDOW, 0, 0, 200, 150,
                                  nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    windows_.push_back(window);
    return window;
  }
  HWND Child(HWND parent, const wchar_t* title) {
    HWND window = CreateWindowExW(0, L"KvxTestChild", title, WS_CHILD, 0, 0, 50, 50, parent,
                                  nullptr, GetModuleHandleW(nullptr), nullptr);
    windows_.push_back(window);
    return window;
  }
  void Find(const wchar_t* instanceId) {
    Settings().location.instanceId = instanceId;
    FindHostWindows();
  }

  std::vector<HWND> windows_;
  SettingsLocation saved_;
};

TEST_F(FindHostWindowsTest, PlainTitlesWithoutAnInstance) {
  HWND main = Top(L"TMain", L"Zorvinta");
  HWND frame = Top(L"TVideoFrame", L"Video window");
  HWND video = Child(frame, L"ActiveMovie Window");
  HWND otherMain = Top(L"TMain", L"Zorvinta.Inst2");
  Top(L"TVideoFrame", L"Video window.Inst2");
  // Right title, wrong class.
  Top(L"KvxTestChild", L"Zorvinta");

  Find(L"");
  EXPECT_EQ(Settings().MainWindow, main);
  EXPECT_EQ(Settings().VideoFrameWindow, frame);
  EXPECT_EQ(Settings().VideoWindow, video);
  ASSERT_EQ(g_received.size(), 1u);
  EXPECT_EQ(g_received[0].window, main);
  EXPECT_EQ(g_received[0].wParam, 1309u);
  EXPECT_EQ(g_received[0].lParam, 0);
  EXPECT_NE(g_received[0].window, otherMain);
}

TEST_F(FindHostWindowsTest, InstanceTitlesWithAnInstance) {
  Top(L"TMain", L"Zorvinta");
  Child(Top(L"TVideoFrame", L"Video window"), L"ActiveMovie Window");
  Top(L"TMain", L"Zorvinta.Inst3");
  HWND main = Top(L"TMain", L"Zorvinta.Inst2");
  HWND frame = Top(L"TVideoFrame", L"Video window.Inst2");
  HWND video = Child(frame, L"ActiveMovie Window");

  Find(L"2");
  EXPECT_EQ(Settings().MainWindow, main);
  EXPECT_EQ(Settings().VideoFrameWindow, frame);
  EXPECT_EQ(Settings().VideoWindow, video);
  ASSERT_EQ(g_received.size(), 1u);
  EXPECT_EQ(g_received[0].window, main);

  // An instance whose windows are not there finds nothing and sends nothing.
  g_received.clear();
  Find(L"7");
  EXPECT_EQ(Settings().MainWindow, nullptr);
  EXPECT_EQ(Settings().VideoFrameWindow, nullptr);
  EXPECT_EQ(Settings().VideoWindow, nullptr);
  EXPECT_TRUE(g_received.empty());
}

TEST_F(FindHostWindowsTest, TheVideoFrameStandsInForAMissingVideoWindow) {
  Top(L"TMain", L"Zorvinta");
  HWND frame = Top(L"TVideoFrame", L"Video window");
  Find(L"");
  EXPECT_EQ(Settings().VideoWindow, frame);

  // Only a direct child counts, and only by its title.
  HWND inner = Child(frame, L"Overlay");
  Child(inner, L"ActiveMovie Window");
  Find(L"");
  EXPECT_EQ(Settings().VideoWindow, frame);
  HWND video = Child(frame, L"ActiveMovie Window");
  Find(L"");
  EXPECT_EQ(Settings().VideoWindow, video);
}

TEST_F(FindHostWindowsTest, NoVideoFrameMeansNoVideoWindow) {
  // Some other program's top-level renderer window is not the host's.
  Top(L"KvxTestChild", L"ActiveMovie Window");
  HWND main = Top(L"TMain", L"Zorvinta");
  Find(L"");
  EXPECT_EQ(Settings().MainWindow, main);
  EXPECT_EQ(Settings().VideoFrameWindow, nullptr);
  EXPECT_EQ(Settings().VideoWindow, nullptr);
  EXPECT_EQ(g_received.size(), 1u);
}

TEST_F(FindHostWindowsTest, EverySearchReplacesTheHandles) {
  HWND frame = Top(L"TVideoFrame", L"Video window");
  Find(L"");
  EXPECT_EQ(Settings().VideoFrameWindow, frame);
  EXPECT_EQ(Settings().MainWindow, nullptr);
  EXPECT_TRUE(g_received.empty());
  DestroyWindow(frame);
  windows_.clear();
  HWND main = Top(L"TMain", L"Zorvinta");
  Find(L"");
  EXPECT_EQ(Settings().MainWindow, main);
  EXPECT_EQ(Settings().VideoFrameWindow, nullptr);
  EXPECT_EQ(Settings().VideoWindow, nullptr);
}

TEST(LayoutKeyNames, NameHotkeysWithTheActiveLayout) {
  const std::wstring ctrl = LayoutKeyName(VK_CONTROL, false);
  const std::wstring alt = LayoutKeyName(VK_MENU, false);
  ASSERT_FALSE(ctrl.empty());
  ASSERT_FALSE(alt.empty());
  EXPECT_EQ(HotkeyText(0x0250), ctrl + L" + " + LayoutKeyName('P', false));
  // The keypad's divide key has its own name only as an extended key.
  const std::wstring divide = LayoutKeyName(VK_DIVIDE, true);
  EXPECT_NE(divide, LayoutKeyName(VK_DIVIDE, false));
  EXPECT_EQ(HotkeyText(0x0A6F), ctrl + L" + " + divide);
  EXPECT_EQ(HotkeyText(0x0600), ctrl + L" + " + alt + L" + ");
  EXPECT_EQ(HotkeyText(0), L"");
  // Named even where the layout gives the numeric pad no scan codes.
  EXPECT_FALSE(LayoutKeyName(VK_NUMPAD1, false).empty());
}

}  // namespace
}  // namespace kvx::test
