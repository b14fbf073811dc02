// The hooks with real input: the host stand-in runs the product with the virtual card as its PiP
// card and sends a script of drags, clicks and keys through the input queue; what the host's
// windows saw, the frames it saved and the settings file written at Done tell what the hooks
// did. One in-process case shows that Done leaves no hook behind.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <utility>

#include "plugin/plugin.h"
#include "settings/settings_store.h"
#include "tests/win/support/host_process.h"
#include "tests/win/support/pip_card.h"
#include "tools/host/input_script.h"

namespace kvx::test {
namespace {

namespace fs = std::filesystem;
using tvcard::Role;

// The host with card 1 as the PiP card: opaque, with a green border, so a frame shows exactly
// where the rectangle is.
ProductRun RunHost(const std::wstring& name, const std::wstring& script, int seconds = 4,
                   const std::string& moreSettings = "") {
  ProductRun run;
  run.folder = MakeHostFolder(name);
  std::ofstream ini(run.folder / L"Plugins" / L"KVX_PiP.ini", std::ios::binary);
  ini << "[COMMON]\r\n";
  for (Role role : tvcard::kRoles) {
    const char* key = role == Role::kTuner      ? "TVTuner"
                      : role == Role::kTvAudio  ? "TVAudio"
                      : role == Role::kCrossbar ? "Crossbar"
                                                : "Capture";
    const std::wstring device = tvcard::FriendlyNameOf(role);  // ASCII
    ini << key << "DeviceName=" << std::string(device.begin(), device.end()) << "\r\n"
        << key << "DevicePath=" << Path(1, role) << "\r\n";
  }
  ini << "Opacity=100\r\nBorderColor=65280\r\n" << moreSettings;
  ini.close();
  StartHost(run, L"/seconds:" + std::to_wstring(seconds) +
                     L" /format:rgb24 /saveevery:25 \"/save:" + (run.folder / L"frames").wstring() +
                     L"\"" + (script.empty() ? L"" : L" \"/input:" + script + L"\""));
  FinishHost(run);
  return run;
}

// A setting as Done wrote it.
std::string Saved(const ProductRun& run, const std::string& key) {
  const std::string ini = ReadBytes(run.folder / L"Plugins" / L"KVX_PiP.ini");
  const size_t at = ini.find("\n" + key + "=");
  return at == std::string::npos
             ? ""
             : ini.substr(at + key.size() + 2, ini.find('\r', at) - at - key.size() - 2);
}

bool IsGreen(uint32_t pixel) {
  return (pixel & 0xFF00) > 0xA000 && (pixel >> 16) < 0x60 && (pixel & 0xFF) < 0x60;
}

using HookInput = PipCardTest;

TEST_F(HookInput, DragMovesThePipClicksOutsideReachTheHostAndADoubleClickSwaps) {
  // The PiP starts at 468,374 to 684,547 of the 720x576 picture.
  const ProductRun run =
      RunHost(L"mouse", L"800 drag 550 450 250 200; 1600 click 50 50; 2400 dblclick 300 250");
  ASSERT_EQ(run.error, "");
  // 300 pixels left and 250 up are 417 and 434 thousandths.
  EXPECT_EQ(Saved(run, "PiPWndPosX"), "233");
  EXPECT_EQ(Saved(run, "PiPWndPosY"), "216");
  // The drag's press and the double-click's were the plug-in's; the click outside and the
  // releases that swapped nothing reached the host.
  EXPECT_EQ(run.Count("video window: left button down"), 1u);
  EXPECT_EQ(run.Count("video window: left button down at 50,50"), 1u);
  EXPECT_EQ(run.Count("video window: left button up"), 3u);
  // The swap: the PiP takes the host's channel 0 and the host the PiP's channel 1.
  EXPECT_EQ(run.Count("host command 1225, lParam 2: tuned to channel 1"), 1u);
  EXPECT_EQ(Saved(run, "PiPChannelOrder"), "0");
  // Frame 51, two seconds in, shows the rectangle where the drag left it, and not where it was.
  const Image frame = readPng(run.folder / L"frames" / L"frame_0051.png");
  ASSERT_EQ(frame.width, 720);
  EXPECT_TRUE(IsGreen(frame.at(169, 200))) << std::hex << frame.at(169, 200);
  EXPECT_FALSE(IsGreen(frame.at(469, 450))) << std::hex << frame.at(469, 450);
}

TEST_F(HookInput, HotkeysActOncePerPressWhileFramesArriveAndTheHostSeesEveryKey) {
  // Start twice; Ctrl+Right moves, Ctrl+P turns PiP off (once), Ctrl+Right then does nothing,
  // and Ctrl+P after the frames stopped does nothing either. A Ctrl whose release came while
  // the frames had stopped does not make the plain P that follows a Ctrl+P; a real Ctrl+P turns
  // PiP on again. With the settings dialog open, Ctrl+Right moves nothing.
  const ProductRun run = RunHost(L"keys",
                                 L"600 start; 900 key 2599; 1200 key 592; 1500 key 2599; "
                                 L"1800 frames off; 2600 key 592; 2800 frames on; 3000 keydown 17; "
                                 L"3100 frames off; 3700 keyup 17; 3800 frames on; 4000 key 80; "
                                 L"4200 key 592; 4400 settings; 4700 key 2599",
                                 5);
  ASSERT_EQ(run.error, "");
  EXPECT_EQ(Saved(run, "PiPWndPosX"), "660");
  EXPECT_EQ(Saved(run, "PiPEnable"), "1");
  EXPECT_EQ(run.Count("key down 0x50"), 4u);
  EXPECT_EQ(run.Count("key down 0x27 extended"), 3u);
  EXPECT_EQ(run.Count("key down 0x11"), 7u);
}

// Card 1 plugged into another port: its devices keep their names and change their paths. A
// card chosen while its names were its own is found by them, and the file keeps the new paths;
// a file from before that knows nothing of the names keeps its paths, and no PiP is drawn.
TEST_F(HookInput, ARepluggedCardIsFoundByItsNamesOnlyWhenTheyWereItsOwn) {
  Reregister(tvcard::fault::kReplug);
  const std::string unique =
      "TVTunerDeviceNameUnique=1\r\nTVAudioDeviceNameUnique=1\r\n"
      "CrossbarDeviceNameUnique=1\r\nCaptureDeviceNameUnique=1\r\n";
  for (const bool chosenUnique : {true, false}) {
    SCOPED_TRACE(chosenUnique);
    const ProductRun run = RunHost(L"replug", L"", 3, chosenUnique ? unique : "");
    ASSERT_EQ(run.error, "");
    for (auto [key, role] : {std::pair{"TVTunerDevicePath", Role::kTuner},
                             std::pair{"TVAudioDevicePath", Role::kTvAudio},
                             std::pair{"CrossbarDevicePath", Role::kCrossbar},
                             std::pair{"CaptureDevicePath", Role::kCapture}}) {
      EXPECT_EQ(Saved(run, key), Path(1, role, chosenUnique)) << key;
    }
    // The PiP's border where it starts, two seconds in.
    const Image frame = readPng(run.folder / L"frames" / L"frame_0051.png");
    ASSERT_EQ(frame.width, 720);
    EXPECT_EQ(IsGreen(frame.at(469, 450)), chosenUnique) << std::hex << frame.at(469, 450);
  }
}

TEST_F(HookInput, DoneRemovesTheHooksEvenWithoutStop) {
  WNDCLASSW main = {};
  main.lpfnWndProc = DefWindowProcW;
  main.lpszClassName = L"TMain";
  RegisterClassW(&main);
  HWND window = CreateWindowW(L"TMain", L"Zorvinta", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200,
                              100, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(window, nullptr);
  const auto press = [&] {
    Lifecycle().LastFrameTick = GetTickCount();  // frames arriving
    zhost::sendKey(window, 592);
    MSG msg;
    for (DWORD until = GetTickCount() + 300; GetTickCount() < until; Sleep(5)) {
      while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        DispatchMessageW(&msg);
      }
    }
  };
  HostStream stream{320, 240, 0, kHostFormatYuy2, 0};
  Descriptor()->start(&stream);
  press();
  EXPECT_EQ(Settings().current.PiPEnable, 0u);  // the hook is there
  Descriptor()->done();
  press();
  EXPECT_EQ(Settings().current.PiPEnable, 0u);  // and gone
  DestroyWindow(window);
  UnregisterClassW(L"TMain", nullptr);
}

}  // namespace
}  // namespace kvx::test
