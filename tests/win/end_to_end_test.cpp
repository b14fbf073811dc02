// The plug-in whole, in-process with the virtual card: the PiP's border in the host's frames on
// both host formats, computed here from the colour and the opacity alone; and a soak of
// unthrottled frames with channel changes, rebuilds from the device page and dialog cycles,
// after which nothing the plug-in made is left over.
#include <windows.h>
#include <psapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>
#include <cmath>
#include <thread>
#include <vector>

#include "capture/capture_graph.h"
#include "capture/channels.h"
#include "hotkeys/hotkey_table.h"
#include "plugin/plugin.h"
#include "settings/settings_store.h"
#include "tests/win/support/dialog_driver.h"
#include "tests/win/support/host_process.h"
#include "ui/resource_ids.h"
#include "ui/settings_dialog.h"
#include "video/com_object.h"

namespace kvx::test {
namespace {

// Full-range BT.601, as a YUY2 picture holds colours.
struct Yuv {
  double y, u, v;
};
Yuv ToYuv(double r, double g, double b) {
  const double y = 0.299 * r + 0.587 * g + 0.114 * b;
  return {y, 128 + 0.564 * (b - y), 128 + 0.713 * (r - y)};
}

using EndToEnd = SettingsDialogTest;

TEST_F(EndToEnd, TheBorderIsExactAtFullOpacityAndBlendedBelowItOnBothHostFormats) {
  constexpr double kBorder[3] = {200, 40, 100};  // R, G, B
  constexpr uint8_t kGrey = 80;                  // the host's picture underneath
  for (const int32_t format : {kHostFormatRgb24, kHostFormatYuy2}) {
    for (const uint32_t opacity : {100u, 60u}) {
      SCOPED_TRACE(testing::Message() << "format " << format << ", opacity " << opacity);
      PipSettings& s = Settings().current;
      s.PiPEnable = 1;
      s.BorderEnable = 1;
      s.BorderColor = RGB(200, 40, 100);
      s.Opacity = opacity;
      s.PiPWndPosX = 100;
      s.PiPWndPosY = 100;
      s.PiPWndSize = 30;
      RebuildGraph();
      Start(format);
      ASSERT_TRUE(FramesFlowing(3000));
      const HostPicture frame(format, kGrey, 128);

      // The left border's outer column, at 10 % of the width; half-way down the rectangle.
      const int x = 32;  // a pair wholly in the border: the picture beside it owns none of it
      const int y = 24 + 36;
      // Exact in RGB at full opacity; the YUV conversion and the blend round on the way.
      const double keep = opacity / 100.0;
      const double tolerance = format == kHostFormatRgb24 && opacity == 100 ? 0.0 : 2.0;
      const auto check = [&](double got, double border, double under) {
        const double wanted = under + (border - under) * keep;
        EXPECT_LE(std::abs(got - wanted), tolerance) << got << " " << wanted;
      };
      if (format == kHostFormatRgb24) {
        const COLORREF pixel = frame.At(x, y);
        check(GetRValue(pixel), kBorder[0], kGrey);
        check(GetGValue(pixel), kBorder[1], kGrey);
        check(GetBValue(pixel), kBorder[2], kGrey);
      } else {
        const Yuv border = ToYuv(kBorder[0], kBorder[1], kBorder[2]);
        const uint8_t* pair = frame.Pair(x, y);  // Y0 U Y1 V
        check(pair[(x & 1) * 2], border.y, kGrey);
        if ((x & 1) == 0) {  // an even pixel owns the pair's colour
          check(pair[1], border.u, 128);
          check(pair[3], border.v, 128);
        }
      }
      Descriptor()->stop();
    }
  }
}

TEST_F(EndToEnd, HotkeysChangeTheNextFrames) {
  PipSettings& s = Settings().current;
  s.PiPEnable = 1;
  s.BorderEnable = 1;
  s.BorderColor = RGB(0, 200, 0);
  s.Opacity = 60;
  s.PiPWndPosX = 100;
  s.PiPWndPosY = 100;
  s.PiPWndSize = 30;
  RebuildGraph();
  Start(kHostFormatRgb24);
  ASSERT_TRUE(FramesFlowing(3000));
  // The green of the pixel at x, y of the next frame over a black picture.
  const auto green = [](int x, int y) {
    return GetGValue(HostPicture(kHostFormatRgb24, 0, 0).At(x, y));
  };
  const auto code = [](uint32_t PipSettings::*field) {
    return HotkeyRows()[HotkeyRowOf(field)].defaultCode;
  };
  EXPECT_NEAR(green(32, 60), 120, 2);  // 60 % of 200
  Press(code(&PipSettings::HK_PiPWndOpacityPlus));
  EXPECT_NEAR(green(32, 60), 140, 2);
  Press(code(&PipSettings::HK_PiPWndSizePlus));  // 35 %: the corner moves 2.5 % up and left
  EXPECT_EQ(s.PiPWndPosX, 75);
  EXPECT_NEAR(green(24, 60), 140, 2);
  EXPECT_EQ(green(32, 60) < 100, true) << "inside the picture now, not on the border";
  Press(code(&PipSettings::HK_PiPOnOff));
  EXPECT_FALSE(Lifecycle().GraphRunning);
  EXPECT_EQ(green(24, 60), 0);
  Press(code(&PipSettings::HK_PiPOnOff));
  EXPECT_TRUE(Lifecycle().GraphRunning);
  Press(code(&PipSettings::HK_PiPSetChannel_03));
  EXPECT_EQ(s.PiPChannelOrder, 2);
  EXPECT_NEAR(green(24, 60), 140, 2);
}

// Every window of the thread, children included.
int WindowsOfThread() {
  int count = 0;
  EnumThreadWindows(
      GetCurrentThreadId(),
      [](HWND window, LPARAM param) WINAPI -> BOOL {
        auto* n = reinterpret_cast<int*>(param);
        ++*n;
        EnumChildWindows(
            window,
            [](HWND, LPARAM inner) WINAPI -> BOOL {
              ++*reinterpret_cast<int*>(inner);
              return TRUE;
            },
            param);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&count));
  return count;
}

size_t WorkingSet() {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof(counters);
  GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));
  return counters.WorkingSetSize;
}

TEST_F(EndToEnd, FramesChannelChangesRebuildsAndDialogCyclesLeaveNothingBehind) {
  PipSettings& s = Settings().current;
  s.PiPEnable = 1;
  RebuildGraph();
  Start(kHostFormatYuy2);
  ASSERT_TRUE(Lifecycle().GraphRunning);
  std::atomic<bool> stop{false};
  std::atomic<int> frames{0};
  std::thread composer([&] {
    std::vector<uint8_t> pixels(320 * 240 * 2, 0x80);
    HostChannelState state{};
    HostFrame frame{pixels.data(), {}, &state};
    while (!stop) {
      Descriptor()->frame(&frame);
      ++frames;
    }
  });
  const auto cycle = [&](int i) {
    HWND dialog = Open();
    NextChannel();
    Click(Page(0), IDC_SAVE_DEVICES);  // stop, rebuild, run, tune
    Pump(50);
    Click(dialog, i % 2 == 0 ? IDC_SETTINGS_OK : IDC_SETTINGS_CANCEL);
  };
  cycle(0);  // the first opening loads what stays loaded
  const size_t memory = WorkingSet();
  const int windows = WindowsOfThread();
  const LONG objects = LiveObject::Count();
  const LONG card = CardObjects();
  const int framesBefore = frames;
  for (int i = 1; i <= 20; ++i) {
    cycle(i);
  }
  stop = true;
  composer.join();
  const int composed = frames - framesBefore;
  EXPECT_GT(composed, 3000);
  EXPECT_TRUE(Lifecycle().GraphRunning);
  EXPECT_EQ(Dialog().Window(), nullptr);
  EXPECT_EQ(WindowsOfThread(), windows);
  EXPECT_EQ(LiveObject::Count(), objects);
  EXPECT_EQ(CardObjects(), card);
  const long long grown = static_cast<long long>(WorkingSet()) - static_cast<long long>(memory);
  EXPECT_LT(grown, 4 << 20);
  std::printf(
      "soak: %d frames over 20 cycles; windows %d, plug-in objects %ld, card objects %ld "
      "before and after; working set %zu KB before, %+lld KB after\n",
      composed, windows, objects, card, memory / 1024, grown / 1024);
}

FILETIME WriteTime(const std::filesystem::path& file) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  GetFileAttributesExW(file.c_str(), GetFileExInfoStandard, &data);
  return data.ftLastWriteTime;
}

TEST_F(EndToEnd, TheFirstRunWithTheCardSettlesTheFormatAndTheNextLeavesTheFileAlone) {
  ProductRun run;
  run.folder = MakeHostFolder(L"e2e_settle");
  const std::filesystem::path file = run.folder / L"Plugins" / L"KVX_PiP.ini";
  {
    std::ofstream ini(file, std::ios::binary);
    ini << "[COMMON]\r\nTVTunerDevicePath=" << Path(1, tvcard::Role::kTuner)
        << "\r\nTVAudioDevicePath=" << Path(1, tvcard::Role::kTvAudio)
        << "\r\nCrossbarDevicePath=" << Path(1, tvcard::Role::kCrossbar)
        << "\r\nCaptureDevicePath=" << Path(1, tvcard::Role::kCapture) << "\r\nStreamFormat=0\r\n";
  }
  StartHost(run, L"/seconds:2");
  FinishHost(run);
  ASSERT_EQ(run.error, "");
  const std::string first = ReadBytes(file);
  // "Default" became the card's first format, and the whole file was written.
  EXPECT_NE(first.find("\r\nStreamFormat=1\r\n"), std::string::npos);
  EXPECT_NE(first.find("\r\nHK_PiPWndOpacityMinus="), std::string::npos);

  // A day later, a run that changes nothing: the same bytes, the same time.
  FILETIME old = WriteTime(file);
  old.dwHighDateTime -= 200;  // about ten days
  HANDLE handle =
      CreateFileW(file.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  SetFileTime(handle, nullptr, nullptr, &old);
  CloseHandle(handle);
  ProductRun again;
  again.folder = run.folder;
  StartHost(again, L"/seconds:2");
  FinishHost(again);
  EXPECT_EQ(again.error, "");
  EXPECT_EQ(ReadBytes(file), first);
  const FILETIME now = WriteTime(file);
  EXPECT_EQ(CompareFileTime(&old, &now), 0);
}

}  // namespace
}  // namespace kvx::test
