// The PiP card's capture graph built from the virtual TV card: the whole build, its branches
// under the card's faults, the device lists, the stream format, and tear-downs that neither
// leak, hang nor race the frame thread.
#include <windows.h>
#include <dshow.h>
#include <dbt.h>
#include <dvdmedia.h>

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <new>
#include <string_view>
#include <cwctype>
#include <functional>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "capture/capture_graph.h"
#include "capture/channels.h"
#include "capture/device_list.h"
#include "capture/graph_events.h"
#include "capture/stream_format.h"
#include "plugin/plugin.h"
#include "plugin/status_log.h"
#include "settings/settings_store.h"
#include "tests/win/support/frame_sink.h"
#include "tests/win/support/pip_card.h"
#include "tools/tv_card/picture.h"
#include "ui/settings_dialog.h"
#include "video/media_type.h"

namespace kvx::test {
namespace {

namespace fault = tvcard::fault;
using tvcard::Role;

// The name of the capture device's pin that feeds the renderer; "" when none does.
std::wstring RendererPeer() {
  ComPtr<IPin> in;
  ComPtr<IPin> peer;
  PIN_INFO info;
  if (!Graph().renderer || FAILED(Graph().renderer->FindPin(L"Video In", in.put())) ||
      FAILED(in->ConnectedTo(peer.put())) || FAILED(peer->QueryPinInfo(&info))) {
    return L"";
  }
  info.pFilter->Release();
  return info.achName;
}

using CaptureGraphTest = PipCardTest;

TEST_F(CaptureGraphTest, TheWholeBuildStandsRunsAndDrawsTheCardsPicture) {
  RebuildGraph();
  ASSERT_TRUE(Lifecycle().GraphBuilt);
  EXPECT_EQ(Dialog().StatusTextId, kStatusGood);
  EXPECT_EQ(RendererPeer(), L"Preview");
  const std::string find[] = {"Create System Device's Enumerator ... ",
                              "Create Class Enumerator ... "};
  const std::vector<std::string> expected = {
      "Get IGraphBuilder Interface... ", "Get ICaptureGraphBuilder2 Interface ... ",
      "Get IMediaControl Interface... ", "Search TVTunerDevice ... ", find[0], find[1],
      "Add TV Tuner Devise to Graph... ", "Search TVAudioDevice ... ", find[0], find[1],
      "Add TV Audio Devise to Graph... ", "Search CrossbarDevice ... ", find[0], find[1],
      "Add Crossbar Devise to Graph... ", "Search CaptureDevice ... ", find[0], find[1],
      "Add Video Capture (Devise) to Graph... ", "Get PiP Renderer Interface ... ",
      "Add PiP Renderer Filter to Graph... ", "Get pPiPBuffer Interface... ",
      "Set Filter Graph ... ", "Connect TV Tuner and Cross Bar video pins... ",
      "Connect TV Tuner and Cross Bar audio pins ( through TV Audio device )... ",
      "Connect Cross Bar and Capture Device video pins... ",
      "Connect Cross Bar and Capture Device audio pins... ",
      "Get PiP Renderer Input Pin Interface... ", "Create VideoStreamConfig Interface ... ",
      "Get Supported Format Count ... ", "Get current media format ... ",
      "Set stream format YUY2 352x288 every 400000 ... ",
      "Direct Connect Capture Device and PiP Renderer Pins... ",
      // Then the tuner is set up, and channel 1 tuned.
      "Get KsPropertySet Interface ... ", "Get KsPropertySet Interface ... "};
  std::vector<std::string> logged;
  for (const auto& [level, text] : Log()) {
    EXPECT_EQ(level, kLogStepLevel) << text;
    logged.push_back(text);
  }
  EXPECT_EQ(logged, expected);

  // Frames reach the renderer, and Frame draws them into the host's picture.
  HostStream stream{320, 240, 0, kHostFormatYuy2, 0};
  ASSERT_EQ(Descriptor()->start(&stream), 1);
  EXPECT_TRUE(Lifecycle().GraphRunning);
  EXPECT_TRUE(FramesFlowing(2000));
  std::vector<uint8_t> pixels(320 * 240 * 2, 0x5A);
  HostChannelState state{0, 0, 0};
  HostFrame frame{};
  frame.pixels = pixels.data();
  frame.channelState = &state;
  EXPECT_EQ(Descriptor()->frame(&frame), 1);
  // The PiP rectangle begins at 65 % of the frame's width and height.
  const auto row = [&](int x, int y) {
    const auto at = pixels.begin() + (y * 320 + x) * 2;
    return std::vector<uint8_t>(at, at + 16);
  };
  EXPECT_EQ(row(100, 100), std::vector<uint8_t>(16, 0x5A));
  EXPECT_NE(row(260, 200), std::vector<uint8_t>(16, 0x5A));
  Descriptor()->stop();
  EXPECT_FALSE(Lifecycle().GraphRunning);
}

TEST_F(CaptureGraphTest, BuildBranchesFollowTheDevicesAndTheCardsFaults) {
  constexpr char kConnected[] = "Direct Connect Capture Device and PiP Renderer Pins... ";
  constexpr char kRendererAdded[] = "Add PiP Renderer Filter to Graph... ";
  constexpr char kFallback[] = "Connect Capture Device and PiP Renderer Pins... ";
  const struct {
    const char* devices;
    const wchar_t* faults;
    const wchar_t* pin;  // feeding the renderer; none when the build fails
    const char* last;    // the last log entry's text
    const char* absent;  // a step that must not be logged
  } cases[] = {
      {"ACX", L"", L"Preview", kConnected, "Connect TV Tuner and Cross Bar video pins... "},
      {"CX", L"", L"Preview", kConnected, "Add TV Audio Devise to Graph... "},
      // No crossbar chosen: the capture device alone suffices, with nothing upstream to connect.
      {"TAX", L"", L"Preview", kConnected, "Connect TV Tuner and Cross Bar video pins... "},
      // No capture device: the build ends after the renderer joined, silently.
      {"TAC", L"", L"", kRendererAdded, "Get pPiPBuffer Interface... "},
      {"TACX", fault::kNoPreview, L"Capture", kConnected, kFallback},
      {"TACX", fault::kFailPreviewFormat, L"Capture", kConnected, kFallback},
      {"TACX", fault::kPreviewRefuses, L"Capture", kConnected, kFallback},
      // The trial finds no acceptable type; the format set next makes the preview pin usable...
      {"TACX", fault::kTypesAfterFormat, L"Preview", kConnected, kFallback},
      // ... unless the pin refuses it: the graph's own connection is tried, and fails.
      {"TACX", L"types-after-format,refuse-setformat", L"", "0x80040217",
       "Get KsPropertySet Interface ... "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.devices) + " " + std::string(c.faults, c.faults + wcslen(c.faults)));
    Select(c.devices);
    SetFaults(c.faults);
    Log().clear();
    RebuildGraph();
    const bool built = c.pin[0] != 0;
    EXPECT_EQ(Lifecycle().GraphBuilt, built);
    EXPECT_EQ(Dialog().StatusTextId, built ? kStatusGood : kStatusBuildFailed);
    EXPECT_EQ(RendererPeer(), c.pin);
    ASSERT_FALSE(Log().empty());
    // A built graph goes on to tune; a failed build's last entry is its last step.
    EXPECT_TRUE(built ? Logged(c.last) : Log().back().second == c.last) << Log().back().second;
    EXPECT_FALSE(Logged(c.absent));
    if (built) {  // the TV audio device joins without the tuner
      EXPECT_EQ(Graph().tvAudio.get() != nullptr, c.devices[0] == 'A' || c.devices[1] == 'A');
    }
  }
  EXPECT_TRUE(Logged(kFallback));
}

TEST_F(CaptureGraphTest, DeviceListsNameEveryReadableDeviceAndBindOnlyTheSavedPath) {
  Reregister(fault::kUnreadableDevice);  // listed last by the enumerator
  const std::string name = "KVX Virtual Crossbar";
  const DeviceList both = {
      {kNoDeviceName, ""}, {name, Path(1, Role::kCrossbar)}, {name, Path(2, Role::kCrossbar)}};
  std::string upper = Path(2, Role::kCrossbar);
  for (char& c : upper) {
    c = static_cast<char>(toupper(c));
  }
  DeviceList list;
  ComPtr<IBaseFilter> crossbar;
  for (const std::string& saved : {std::string(), upper, Path(2, Role::kCrossbar)}) {
    EXPECT_EQ(FindDevice(AM_KSCATEGORY_CROSSBAR, &crossbar, list, SavedDevice{{}, saved}), S_OK);
    EXPECT_EQ(list, both);
    EXPECT_EQ(static_cast<bool>(crossbar), saved == Path(2, Role::kCrossbar));
  }
  // The bound crossbar is card 2's: its composite input shows on card 2's capture device alone.
  ASSERT_EQ(RouteVideo(crossbar.get(), 1), S_OK);
  for (int card : {1, 2}) {
    ComPtr<IAMAnalogVideoDecoder> decoder =
        Query<IAMAnalogVideoDecoder>(BindCard(card).capture, IID_IAMAnalogVideoDecoder);
    LONG locked = -1;
    EXPECT_EQ(decoder->get_HorizontalLocked(&locked), S_OK);
    EXPECT_EQ(locked, card == 2 ? 1 : 0) << "card " << card;
  }
  crossbar.reset();

  // A build refills all four lists; devices without a friendly name are not listed.
  Reregister(fault::kNoFriendlyName);
  RebuildGraph();
  EXPECT_FALSE(Lifecycle().GraphBuilt);
  for (DeviceKind kind :
       {DeviceKind::kTuner, DeviceKind::kTvAudio, DeviceKind::kCrossbar, DeviceKind::kCapture}) {
    EXPECT_EQ(Devices(kind), (DeviceList{{kNoDeviceName, ""}}));
  }

  // A host thread without COM: Init gives it an apartment until Done, and finds the devices.
  Reregister(nullptr);
  std::thread([] {
    HostCallbacks none{nullptr, nullptr};
    Descriptor()->init(&none);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), RPC_E_CHANGED_MODE);
    EXPECT_EQ(Devices(DeviceKind::kCapture).size(), 3u);
    Descriptor()->done();
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    CoUninitialize();
  }).join();
}

// The rows the format list shows, as "YUY2*6 UYVY*6": each name with its count.
std::string FormatRows() {
  std::string rows;
  for (size_t i = 0, n = 1; i < Formats().size(); ++i, ++n) {
    if (i + 1 == Formats().size() || Formats()[i + 1].name != Formats()[i].name) {
      rows += (rows.empty() ? "" : " ") + Formats()[i].name + "*" + std::to_string(n);
      n = 0;
    }
  }
  return rows;
}

TEST_F(CaptureGraphTest, StreamFormatFollowsThePinsOfferAndTheSettings) {
  const std::string all = "YUY2*6 UYVY*6 RGB24*6";
  constexpr REFERENCE_TIME kPal = 400000;
  const struct {
    const wchar_t* faults;
    int32_t streamFormat;
    int32_t streamSize;
    std::string rows;
    int32_t savedFormat;  // StreamFormat after the build
    LONG width;           // in the block the pin received
    LONG height;
    bool v2;     // a VIDEOINFOHEADER2 block
    bool taken;  // the pin streams it; else its own 320x240
  } cases[] = {
      {L"", 0, 5, all, 1, 384, 288, false, true},
      {L"", 2, 6, all, 2, 320, 240, false, true},  // the pin's own size is kept
      {L"", 3, -1, all, 3, 320, 240, false, true},
      // UYVY offered in VIDEOINFOHEADER2 blocks alone is asked for in one, and taken.
      {fault::kForeignCaps, 2, 4, "YUY2*6 UYVY*6", 2, 352, 288, true, true},
      {fault::kShortCaps, 3, 0, "Default*1", 0, 160, 120, false, true},
      // Strict drivers take each format at a size other than their own...
      {fault::kStrictFormat, 1, 1, all, 1, 192, 144, false, true},
      {fault::kStrictFormat, 2, 0, all, 2, 160, 120, false, true},
      {fault::kStrictFormat, 3, 5, all, 3, 384, 288, false, true},
      // ... and top-down RGB24 keeps its row order.
      {L"strict-format,top-down-rgb", 3, 3, all, 3, 352, -240, false, true},
      // A VIDEOINFOHEADER2 current format keeps its block type, which such a pin takes.
      {fault::kCurrentVideoInfo2, 1, 1, all, 1, 192, 144, true, true},
      // Sizes in steps of 32x16 up to 352x288, and 384x288 alone: the nearest allowed size at
      // least the saved one.
      {fault::kRateLimits, 1, 1, "YUY2*2 UYVY*2 RGB24*2", 1, 192, 152, false, true},
      {fault::kRateLimits, 2, 4, "YUY2*2 UYVY*2 RGB24*2", 2, 384, 288, false, true},
  };
  const GUID subtypes[] = {MEDIASUBTYPE_YUY2, MEDIASUBTYPE_YUY2, MEDIASUBTYPE_UYVY,
                           MEDIASUBTYPE_RGB24};
  const DWORD compressions[] = {MAKEFOURCC('Y', 'U', 'Y', '2'), MAKEFOURCC('Y', 'U', 'Y', '2'),
                                MAKEFOURCC('U', 'Y', 'V', 'Y'), BI_RGB};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.faults, c.faults + wcslen(c.faults)) + " " +
                 std::to_string(c.streamFormat) + " " + std::to_string(c.streamSize));
    SetFaults(c.faults);
    Settings().current.StreamFormat = c.streamFormat;
    Settings().current.StreamSize = c.streamSize;
    Log().clear();
    RebuildGraph();
    EXPECT_TRUE(Lifecycle().GraphBuilt);
    EXPECT_EQ(FormatRows(), c.rows);
    EXPECT_EQ(Settings().current.StreamFormat, c.savedFormat);

    // The block agrees with itself: what the subtype and the size decide, for the whole frame.
    const MediaTypeValue set = LastSetFormat();
    const AM_MEDIA_TYPE& type = set.get();
    ASSERT_EQ(type.cbFormat, c.v2 ? sizeof(VIDEOINFOHEADER2) : sizeof(VIDEOINFOHEADER));
    EXPECT_EQ(type.formattype, c.v2 ? FORMAT_VideoInfo2 : FORMAT_VideoInfo);
    EXPECT_EQ(type.subtype, subtypes[c.savedFormat]);
    const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(type.pbFormat);
    const BITMAPINFOHEADER& header =
        c.v2 ? reinterpret_cast<const VIDEOINFOHEADER2*>(type.pbFormat)->bmiHeader : vih->bmiHeader;
    const WORD bits = c.savedFormat == kFormatRgb24 ? 24 : 16;
    const DWORD bytes = static_cast<DWORD>(c.width * std::abs(c.height) * bits / 8);
    EXPECT_EQ(header.biWidth, c.width);
    EXPECT_EQ(header.biHeight, c.height);
    EXPECT_EQ(header.biBitCount, bits);
    EXPECT_EQ(header.biCompression, compressions[c.savedFormat]);
    EXPECT_EQ(header.biPlanes, 1);
    EXPECT_EQ(header.biSizeImage, bytes);
    EXPECT_EQ(type.lSampleSize, bytes);
    EXPECT_TRUE(type.bFixedSizeSamples);
    EXPECT_TRUE(IsRectEmpty(&vih->rcSource) && IsRectEmpty(&vih->rcTarget));
    EXPECT_EQ(vih->AvgTimePerFrame, kPal);  // both blocks keep it in the same place

    // What the pin took is what reaches the renderer; a refusal is in the log.
    EXPECT_EQ(Logged(""), !c.taken);
    BYTE* pixels = nullptr;
    int32_t width = 0;
    int32_t height = 0;
    ASSERT_EQ(Graph().pPiPBuffer.get()->GetFrame(&pixels, &width, &height, nullptr), S_OK);
    EXPECT_EQ(width, c.taken ? c.width : 320);
    EXPECT_EQ(height, c.taken ? std::abs(c.height) : 240);
    ASSERT_TRUE(RunGraph());
    EXPECT_TRUE(FramesFlowing(2000));
    StopGraph();
  }

  // A driver with frame-rate limits per size takes every block at every size and standard: at
  // 30 frames a second (NTSC) the largest size, offered at 25 alone, is asked for at 25.
  SetFaults(fault::kRateLimits);
  CardFilters held = BindCard(1);  // keeps the card's standard between the builds
  ComPtr<IAMAnalogVideoDecoder> decoder =
      Query<IAMAnalogVideoDecoder>(held.capture, IID_IAMAnalogVideoDecoder);
  for (const LONG standard : {AnalogVideo_PAL_B, AnalogVideo_NTSC_M}) {
    ASSERT_EQ(decoder->put_TVFormat(standard), S_OK);
    for (int32_t format = 1; format <= 3; ++format) {
      for (int32_t size = 0; size < kFrameSizeCount; ++size) {
        SCOPED_TRACE(std::to_string(standard) + " " + std::to_string(format) + " " +
                     std::to_string(size));
        Settings().current.StreamFormat = format;
        Settings().current.StreamSize = size;
        Log().clear();
        RebuildGraph();
        ASSERT_TRUE(Lifecycle().GraphBuilt);
        const MediaTypeValue set = LastSetFormat();
        const auto& vih = *reinterpret_cast<const VIDEOINFOHEADER*>(set.get().pbFormat);
        const bool largest = vih.bmiHeader.biWidth == 384;
        EXPECT_EQ(vih.AvgTimePerFrame, largest || standard == AnalogVideo_PAL_B ? kPal : 333667);
        EXPECT_FALSE(Logged("")) << "refused";
        BYTE* pixels = nullptr;
        int32_t width = 0;
        ASSERT_EQ(Graph().pPiPBuffer.get()->GetFrame(&pixels, &width, nullptr, nullptr), S_OK);
        EXPECT_EQ(width, vih.bmiHeader.biWidth);
      }
    }
  }
}

TEST_F(CaptureGraphTest, RebuildingUnderTheFrameThreadAndChannelCommandsNeitherLeaksNorRaces) {
  HostStream stream{320, 240, 0, kHostFormatYuy2, 0};
  Descriptor()->start(&stream);
  std::atomic<bool> done{false};
  std::atomic<int> frames{0};
  std::thread host([&] {
    std::vector<uint8_t> pixels(320 * 240 * 2);
    HostChannelState state{0, 0, 0};
    HostFrame frame{};
    frame.pixels = pixels.data();
    frame.channelState = &state;
    for (; !done; ++frames) {
      Descriptor()->frame(&frame);
    }
  });
  // Channel commands as the hooks and the dialog fire them, from a thread of their own.
  std::thread commands([&] {
    for (int i = 0; !done; ++i) {
      const int32_t sources[] = {0, 1, -2, 3, -3, 9, -1};
      SetChannel(sources[i % 7]);
      NextChannel();
      PrevChannel();
      Lifecycle().HostPosition = i % 3;
      SwapChannels();
    }
  });
  for (int i = 0; i < 200 && !HasFatalFailure(); ++i) {
    StopGraph();
    RebuildGraph();
    EXPECT_TRUE(Lifecycle().GraphBuilt) << "cycle " << i;
    EXPECT_TRUE(RunGraph()) << "cycle " << i;
  }
  done = true;
  host.join();
  commands.join();
  EXPECT_GT(frames, 200);
  Descriptor()->stop();
  Descriptor()->done();
  EXPECT_FALSE(Graph().graph);
  // TearDown checks that none of the card's or the plug-in's objects outlived the graph.
}

// The number of the card's frame that these bytes are, drawn in this layout, or -1: a picture
// that is whole, the right way up and at the right size, not one mixed from frames of another
// geometry.
int CardFrameNumber(const std::vector<uint8_t>& bytes, const tvcard::FrameLayout& layout) {
  const tvcard::Scene station{tvcard::SceneKind::kStation, kTestChannels[1].frequency};
  std::vector<uint8_t> drawn(tvcard::FrameBytes(layout));
  std::vector<uint32_t> canvas;
  if (bytes.size() != drawn.size()) {
    return -1;
  }
  // The square comes back to its place after a few hundred frames.
  for (uint32_t number = 0; number < 600; ++number) {
    tvcard::DrawFrame(station, number, layout, drawn.data(), canvas);
    if (drawn == bytes) {
      return static_cast<int>(number);
    }
  }
  return -1;
}

// The PiP over the whole host frame, one to one, so the host's bytes become the frame's own:
// the graph built and started with a host picture of the layout's size.
void StartFullFramePip(int32_t streamFormat, int32_t streamSize, int32_t hostFormat,
                       const tvcard::FrameLayout& layout) {
  PipSettings& s = Settings().current;
  s.StreamFormat = streamFormat;
  s.StreamSize = streamSize;
  s.PiPWndPosX = s.PiPWndPosY = 0;
  s.PiPWndSize = s.PiPImgSize = s.Opacity = 100;
  s.BorderEnable = 0;
  RebuildGraph();
  ASSERT_TRUE(Lifecycle().GraphBuilt);
  HostStream stream{layout.width, layout.height, 0, hostFormat, 0};
  ASSERT_EQ(Descriptor()->start(&stream), 1);
  ASSERT_TRUE(Lifecycle().GraphRunning);
}

// The host's frame thread: Frame over and over, keeping the last picture it composed.
class FrameThread {
 public:
  explicit FrameThread(size_t bytes)
      : thread_([this, bytes] {
          std::vector<uint8_t> pixels(bytes);
          HostChannelState state{};
          HostFrame frame{pixels.data(), {}, &state};
          while (!stop_) {
            Descriptor()->frame(&frame);
            ScopedLock lock(lock_);
            latest_ = pixels;
            ++frames_;
          }
        }) {}
  ~FrameThread() {
    stop_ = true;
    thread_.join();
  }
  std::vector<uint8_t> Latest() {
    ScopedLock lock(lock_);
    return latest_;
  }
  int Frames() {
    ScopedLock lock(lock_);
    return frames_;
  }

 private:
  std::atomic<bool> stop_{false};
  CriticalSection lock_;
  std::vector<uint8_t> latest_;
  int frames_ = 0;
  std::thread thread_;
};

// Dispatches the test thread's messages (the graph's events among them) until done() or the
// time is up.
bool PumpUntil(const std::function<bool()>& done, DWORD ms) {
  for (const DWORD until = GetTickCount() + ms; !done();) {
    if (static_cast<LONG>(GetTickCount() - until) > 0) {
      return false;
    }
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      DispatchMessageW(&msg);
    }
    Sleep(10);
  }
  return true;
}

bool IsBlueYuy2(const std::vector<uint8_t>& bytes) {
  const uint8_t blue[4] = {0x1B, 0xE8, 0x1B, 0x65};
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] != blue[i % 4]) {
      return false;
    }
  }
  return !bytes.empty();
}

TEST_F(CaptureGraphTest, FramesThatChangeSizeOrComeTopRowFirstAreDrawnWholeAndUpright) {
  using tvcard::PixelFormat;
  const struct {
    const wchar_t* faults;
    int32_t streamFormat;
    int32_t streamSize;
    int32_t hostFormat;
    tvcard::FrameLayout drawn;  // as the host's frame holds the picture
  } cases[] = {
      // At the 25th frame the card goes from 352x288 to 320x240...
      {fault::kFormatChange, 1, 4, kHostFormatYuy2, {PixelFormat::kYuy2, 320, 240}},
      // ... and from there to 352x288, top row first.
      {L"format-change,top-down-rgb", 3, 2, kHostFormatRgb24, {PixelFormat::kRgb24, 352, 288}},
      {L"top-down-rgb,strict-format", 3, 2, kHostFormatRgb24, {PixelFormat::kRgb24, 320, 240}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.faults, c.faults + wcslen(c.faults)));
    SetFaults(c.faults);
    StartFullFramePip(c.streamFormat, c.streamSize, c.hostFormat, c.drawn);
    // The frame thread draws throughout, the change included.
    FrameThread host(tvcard::FrameBytes(c.drawn));
    PipFrameView view{};
    PumpUntil(
        [&] {
          return Graph().pPiPBuffer.get()->GetFrameView(&view) == S_OK &&
                 view.width == c.drawn.width && view.height == c.drawn.height;
        },
        3000);
    EXPECT_EQ(view.width, c.drawn.width);
    EXPECT_EQ(view.height, c.drawn.height);
    EXPECT_EQ(view.topDown, c.streamFormat == kFormatRgb24 ? 1 : 0);
    // A frame the card drew, whole: no part of another geometry, no row upside down. A sample
    // may land while a frame is drawn; the next frame step shows a whole one.
    int number = -1;
    PumpUntil([&] { return (number = CardFrameNumber(host.Latest(), c.drawn)) >= 0; }, 1000);
    EXPECT_GE(number,
              wcsstr(c.faults, fault::kFormatChange) != nullptr ? tvcard::kFormatChangeFrame : 0);
    EXPECT_GT(host.Frames(), 0);
    // The renderer's pin tells the graph the type it now stores.
    ComPtr<IPin> in;
    AM_MEDIA_TYPE type{};
    ASSERT_EQ(Graph().renderer->FindPin(L"Video In", in.put()), S_OK);
    ASSERT_EQ(in->ConnectionMediaType(&type), S_OK);
    int32_t width = 0;
    int32_t height = 0;
    EXPECT_TRUE(BlockFrameSize(type.formattype, type.pbFormat, type.cbFormat, &width, &height));
    FreeMediaTypeFields(&type);
    EXPECT_EQ(width, c.drawn.width);
    EXPECT_EQ(height, c.drawn.height);
    Descriptor()->stop();
  }
}

// Done on another thread; if it hangs, the test program ends rather than the run's patience.
// Meanwhile this thread, which built the graph, answers the messages sent to it, as a host's
// user-interface thread does: Done has it close the graph's event window.
void DoneWithinSeconds(DWORD seconds) {
  const auto done = [](void*) WINAPI -> DWORD {
    Descriptor()->done();
    return 0;
  };
  HANDLE thread = CreateThread(nullptr, 0, done, nullptr, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  const DWORD until = GetTickCount() + seconds * 1000;
  DWORD waited = WAIT_TIMEOUT;
  while (static_cast<LONG>(until - GetTickCount()) > 0 &&
         (waited = MsgWaitForMultipleObjects(1, &thread, FALSE, until - GetTickCount(),
                                             QS_SENDMESSAGE)) == WAIT_OBJECT_0 + 1) {
    MSG msg;
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
  }
  if (waited != WAIT_OBJECT_0) {
    ADD_FAILURE() << "Done did not return";
    std::fflush(nullptr);
    TerminateProcess(GetCurrentProcess(), 3);
  }
  CloseHandle(thread);
}

// The system's WM_DEVICECHANGE for a device interface that arrived, as it reaches the plug-in.
void Arrive(const std::wstring& path) {
  std::vector<BYTE> arrival(sizeof(DEV_BROADCAST_DEVICEINTERFACE_W) + path.size() * 2);
  auto* device = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W*>(arrival.data());
  device->dbcc_size = static_cast<DWORD>(arrival.size());
  device->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  std::memcpy(device->dbcc_name, path.c_str(), (path.size() + 1) * 2);
  SendMessageW(GraphEventWindowForTesting(), WM_DEVICECHANGE, DBT_DEVICEARRIVAL,
               reinterpret_cast<LPARAM>(device));
}

TEST_F(CaptureGraphTest, ABusyDeviceFailsTheRunAndALostOneComesBackWhenItsPathArrives) {
  SetFaults(fault::kBusy);
  CardGraph other(BindCard(1));  // another program streams from card 1
  ComPtr<FrameSink> sink = FrameSink::Create();
  ASSERT_EQ(other.ConnectCapture(L"Capture", sink.get(), sink->InputPin()), S_OK);
  ASSERT_EQ(other.control->Run(), S_OK);
  RebuildGraph();
  ASSERT_TRUE(Lifecycle().GraphBuilt);
  EXPECT_FALSE(RunGraph());
  EXPECT_FALSE(Lifecycle().GraphRunning);
  EXPECT_EQ(Dialog().StatusTextId, kStatusRunFailed);
  DoneWithinSeconds(10);
  EXPECT_FALSE(Graph().graph);
  other.Release();
  sink.reset();

  // Away after five frames, and never back by itself: the system's arrival of its device path
  // (in whatever letter case) brings it back.
  SetFaults(fault::kLost);
  RebuildGraph();
  HostStream stream{320, 240, 0, kHostFormatYuy2, 0};
  ASSERT_EQ(Descriptor()->start(&stream), 1);
  EXPECT_TRUE(PumpUntil([] { return Dialog().StatusTextId == kStatusDeviceLost; }, 2000));
  EXPECT_FALSE(FramesFlowing(300));
  SetFaults(nullptr);
  std::wstring path = tvcard::DevicePath(1, Role::kCapture);
  for (wchar_t& c : path) {
    c = static_cast<wchar_t>(towupper(c));
  }
  Arrive(path);
  EXPECT_TRUE(Lifecycle().GraphRunning);
  EXPECT_EQ(Dialog().StatusTextId, kStatusGood);
  EXPECT_TRUE(FramesFlowing(2000));

  // A device that pauses but will not run: the next run, once it would, really runs.
  StopGraph();
  SetFaults(fault::kRunFails);
  EXPECT_FALSE(RunGraph());
  EXPECT_EQ(Dialog().StatusTextId, kStatusRunFailed);
  SetFaults(nullptr);
  ASSERT_TRUE(RunGraph());
  EXPECT_TRUE(FramesFlowing(2000));
  // Done on the graph while it streams.
  DoneWithinSeconds(10);
  EXPECT_FALSE(Graph().graph);
}

// A device that goes away and comes back, or stops delivering for a while: the PiP is blue
// while no live picture comes, and live again after, without any user action.
TEST_F(CaptureGraphTest, ADeviceThatGoesAwayOrStallsIsBlueUntilItsPictureIsBack) {
  using tvcard::PixelFormat;
  const tvcard::FrameLayout layout{PixelFormat::kYuy2, 320, 240};
  const auto live = [&](FrameThread& host) {
    return PumpUntil([&] { return CardFrameNumber(host.Latest(), layout) >= 0; }, 1000);
  };
  // A stream that stalls for four seconds, without any event.
  SetFaults(fault::kStall);
  StartFullFramePip(kFormatYuy2, 2, kHostFormatYuy2, layout);
  {
    FrameThread host(tvcard::FrameBytes(layout));
    EXPECT_TRUE(live(host));
    EXPECT_TRUE(PumpUntil([&] { return IsBlueYuy2(host.Latest()); }, 4000));
    EXPECT_TRUE(Lifecycle().GraphRunning);
    EXPECT_EQ(Dialog().StatusTextId, kStatusGood);
    EXPECT_TRUE(PumpUntil([&] { return CardFrameNumber(host.Latest(), layout) >= 0; }, 4000));
  }
  Descriptor()->stop();

  SetFaults(fault::kLostReturn);
  StartFullFramePip(kFormatYuy2, 2, kHostFormatYuy2, layout);
  {
    FrameThread host(tvcard::FrameBytes(layout));
    // Gone after five frames: stopped, told, and blue rather than the last frame.
    EXPECT_TRUE(PumpUntil([] { return Dialog().StatusTextId == kStatusDeviceLost; }, 2000));
    EXPECT_FALSE(Lifecycle().GraphRunning);
    EXPECT_TRUE(Logged("PiP device lost ... "));
    EXPECT_TRUE(PumpUntil([&] { return IsBlueYuy2(host.Latest()); }, 500));
    // Back two seconds later: rebuilt by the tries and running on its own.
    EXPECT_TRUE(PumpUntil([] { return static_cast<bool>(Lifecycle().GraphRunning); }, 4000));
    EXPECT_EQ(Dialog().StatusTextId, kStatusGood);
    EXPECT_TRUE(live(host));
  }
  Descriptor()->stop();

  // A device back before it can run (its first run fails), and a stream that aborts with the
  // device still there: text 6 while the tries go on, then live again without the user.
  for (const wchar_t* faults : {fault::kSlowReturn, fault::kErrorAbort}) {
    SCOPED_TRACE(faults == fault::kSlowReturn ? "slow-return" : "error-abort");
    SetFaults(faults);
    Log().clear();
    StartFullFramePip(kFormatYuy2, 2, kHostFormatYuy2, layout);
    FrameThread host(tvcard::FrameBytes(layout));
    EXPECT_TRUE(PumpUntil([] { return Dialog().StatusTextId == kStatusDeviceLost; }, 3000));
    // Gone once: the filter that runs after it keeps streaming (slow-return's failed first run
    // is the card's, whatever the switches say now).
    SetFaults(nullptr);
    EXPECT_TRUE(PumpUntil([] { return static_cast<bool>(Lifecycle().GraphRunning); }, 10000));
    EXPECT_EQ(Dialog().StatusTextId, kStatusGood);
    EXPECT_TRUE(live(host));
    // The run refused by the device still loading (the graph reports it as a filter not
    // running), or the abort, is in the log.
    EXPECT_TRUE(
        Logged(faults == fault::kSlowReturn ? "0x80040226" : "DirectShow graph aborted ... "));
    Descriptor()->stop();
  }
  SetFaults(fault::kLostReturn);
  StartFullFramePip(kFormatYuy2, 2, kHostFormatYuy2, layout);
  // Away again, and the host unloads the plug-in meanwhile: nothing is left and nothing waits.
  EXPECT_TRUE(PumpUntil([] { return static_cast<bool>(Lifecycle().DeviceWaiting); }, 2000));
  DoneWithinSeconds(10);
  EXPECT_FALSE(Graph().graph);
  Sleep(tvcard::kReturnAfterMs);  // the card is back for the tests after this one
}

// Card `number`'s four devices as the device page saved them, by name and path; `unique`: no
// other device had their names then.
void SaveCard(int number, bool unique) {
  PipSettings& s = Settings().current;
  const std::pair<std::string PipSettings::*, uint32_t PipSettings::*> paths[] = {
      {&PipSettings::TVTunerDevicePath, &PipSettings::TVTunerDeviceNameUnique},
      {&PipSettings::TVAudioDevicePath, &PipSettings::TVAudioDeviceNameUnique},
      {&PipSettings::CrossbarDevicePath, &PipSettings::CrossbarDeviceNameUnique},
      {&PipSettings::CaptureDevicePath, &PipSettings::CaptureDeviceNameUnique}};
  std::string PipSettings::*const names[] = {
      &PipSettings::TVTunerDeviceName, &PipSettings::TVAudioDeviceName,
      &PipSettings::CrossbarDeviceName, &PipSettings::CaptureDeviceName};
  for (Role role : tvcard::kRoles) {
    const int i = static_cast<int>(role);
    const std::wstring name = tvcard::FriendlyNameOf(role);  // ASCII
    s.*names[i] = std::string(name.begin(), name.end());
    s.*paths[i].first = Path(number, role);
    s.*paths[i].second = unique ? 1 : 0;
  }
}

// Card `number` pulled out: its devices leave every category.
void PullCard(int number) {
  for (Role role : tvcard::kRoles) {
    wchar_t category[40];
    StringFromGUID2(tvcard::CategoryOf(role), category, 40);
    const std::wstring key =
        std::wstring(L"CLSID\\") + category + L"\\Instance\\" + tvcard::InstanceName(number);
    ASSERT_EQ(RegDeleteTreeW(HKEY_CLASSES_ROOT, key.c_str()), ERROR_SUCCESS);
    RegDeleteKeyW(HKEY_CLASSES_ROOT, key.c_str());
  }
}

// Two cards of one make share every name, and the other card is usually the host's own: a
// device saved while a namesake was there is never found by its name, whichever card it was.
// A card chosen while its names were its own is, even when it comes back under another port
// while the PiP waits, and its new paths are saved once its graph has run.
TEST_F(CaptureGraphTest, ANameFindsOnlyADeviceThatCannotBeAnotherCard) {
  HostStream stream{320, 240, 0, kHostFormatYuy2, 0};
  for (const int saved : {2, 1}) {
    SCOPED_TRACE(saved);
    Reregister(nullptr);
    SaveCard(saved, false);
    PullCard(saved);
    const PipSettings before = Settings().current;
    Log().clear();
    Settings().current.PiPEnable = 1;
    RebuildGraph();
    ASSERT_EQ(Descriptor()->start(&stream), 1);
    EXPECT_FALSE(Lifecycle().GraphBuilt);
    EXPECT_FALSE(Graph().capture);
    EXPECT_TRUE(Logged("Capture device not present ... "));
    EXPECT_TRUE(
        Logged("Device not bound by its name: another device had the name when it was "
               "chosen ... KVX Virtual Video Capture"));
    // Plugged in again: its arrival builds the PiP from its own paths.
    ASSERT_EQ(Register(), S_OK);
    Arrive(tvcard::DevicePath(saved, Role::kCapture));
    EXPECT_TRUE(Lifecycle().GraphRunning);
    EXPECT_TRUE(FramesFlowing(2000));
    Descriptor()->stop();
    DoneWithinSeconds(10);
    Settings().current.PiPEnable = before.PiPEnable;
    EXPECT_EQ(Settings().current, before);
  }

  // Chosen while unique; gone while the PiP runs, and back under another port meanwhile.
  Reregister(fault::kLost);
  SaveCard(1, true);
  Settings().current.PiPEnable = 1;
  RebuildGraph();
  ASSERT_EQ(Descriptor()->start(&stream), 1);
  EXPECT_TRUE(PumpUntil([] { return static_cast<bool>(Lifecycle().DeviceWaiting); }, 2000));
  Reregister(fault::kReplug);
  Arrive(tvcard::DevicePath(1, Role::kCapture, true));
  EXPECT_TRUE(PumpUntil([] { return static_cast<bool>(Lifecycle().GraphRunning); }, 3000));
  EXPECT_TRUE(FramesFlowing(2000));
  EXPECT_TRUE(Logged("Device found by its name ... KVX Virtual Video Capture at " +
                     Path(1, Role::kCapture, true)));
  EXPECT_EQ(Settings().current.CaptureDevicePath, Path(1, Role::kCapture));  // until Done
  Descriptor()->stop();
  // Done on another thread than the one that made the event window: the window goes all the
  // same, with its device notification, before Done returns.
  HWND events = GraphEventWindowForTesting();
  ASSERT_NE(events, nullptr);
  DoneWithinSeconds(10);
  EXPECT_FALSE(IsWindow(events));
  for (Role role : tvcard::kRoles) {
    const std::string* paths[] = {
        &Settings().current.TVTunerDevicePath, &Settings().current.TVAudioDevicePath,
        &Settings().current.CrossbarDevicePath, &Settings().current.CaptureDevicePath};
    EXPECT_EQ(*paths[static_cast<int>(role)], Path(1, role, true));
  }
}

// A failed allocation at any step of a build, in Init or in a try after the device came back,
// ends that work and leaves nothing half-built: Done releases every filter (so the host's
// FreeLibrary has nothing left to release under the loader lock), and the next Init builds.
TEST_F(CaptureGraphTest, AFailedAllocationAtAnyStepOfABuildLeavesNothingHalfDone) {
  HostCallbacks callbacks{Settings().host};
  // Init reads the test's settings file (support/settings_sandbox.cpp): card 1's devices.
  Descriptor()->init(&callbacks);
  Descriptor()->done();
  {
    std::ofstream ini(std::filesystem::path(Settings().location.path), std::ios::binary);
    ini << "[COMMON]\r\n";
    for (const auto& [key, role] :
         {std::pair{"TVTuner", Role::kTuner}, std::pair{"TVAudio", Role::kTvAudio},
          std::pair{"Crossbar", Role::kCrossbar}, std::pair{"Capture", Role::kCapture}}) {
      ini << key << "DevicePath=" << Path(1, role) << "\r\n";
    }
  }
  const auto empty = [] {
    const CaptureGraph& g = Graph();
    return !g.graph && !g.builder && !g.control && !g.pPiPBuffer.get() && !g.tuner && !g.tvAudio &&
           !g.crossbar && !g.capture && !g.renderer;
  };
  // The entries a whole build makes, Init's tuning included.
  Log().clear();
  Descriptor()->init(&callbacks);
  ASSERT_TRUE(Lifecycle().GraphBuilt);
  const int steps = static_cast<int>(Log().size());
  Descriptor()->done();
  for (int step = 1; step <= steps; ++step) {
    SCOPED_TRACE(step);
    FailAtLogEntry(step);
    Descriptor()->init(&callbacks);
    FailAtLogEntry(0);
    EXPECT_FALSE(Lifecycle().GraphRunning);
    DoneWithinSeconds(10);
    EXPECT_TRUE(empty());
    EXPECT_FALSE(Lifecycle().GraphBuilt);
    EXPECT_EQ(CardObjects(), 0);
  }
  Descriptor()->init(&callbacks);
  EXPECT_TRUE(Lifecycle().GraphBuilt);
  Descriptor()->done();

  // The same in the try that follows the device's return: the wait goes on, and Done ends it.
  SetFaults(fault::kLostReturn);
  HostStream stream{320, 240, 0, kHostFormatYuy2, 0};
  for (const int step : {1, 8, 20, steps - 1}) {
    SCOPED_TRACE(step);
    Settings().current.PiPEnable = 1;
    Descriptor()->init(&callbacks);
    ASSERT_EQ(Descriptor()->start(&stream), 1);
    ASSERT_TRUE(PumpUntil([] { return static_cast<bool>(Lifecycle().DeviceWaiting); }, 2000));
    Log().clear();
    FailAtLogEntry(step);
    PumpUntil([] { return FailedYet() || Lifecycle().GraphRunning; }, 4000);
    FailAtLogEntry(0);
    EXPECT_TRUE(Lifecycle().DeviceWaiting || Lifecycle().GraphRunning);
    Descriptor()->stop();
    DoneWithinSeconds(10);
    EXPECT_TRUE(empty());
    EXPECT_EQ(CardObjects(), 0);
    Sleep(tvcard::kReturnAfterMs);  // the card back for the next round
  }
  SetFaults(nullptr);
}

// What people plug in today: a USB grabber or camera is a capture device alone, with discrete
// sizes, compressed and 4:2:0 formats first, and a system that may keep it from the plug-in.
TEST_F(CaptureGraphTest, AUsbGrabberAloneIsEnoughAndItsPictureIsTheCardsOwn) {
  Reregister(fault::kUvc);
  const std::wstring usb = tvcard::kUsbDevicePath;
  PipSettings& s = Settings().current;
  Select("");
  s.CaptureDevicePath.assign(usb.begin(), usb.end());
  const tvcard::FrameLayout layout{tvcard::PixelFormat::kYuy2, 640, 480};
  // The colour bars above the moving square, as the card draws them in YUY2; each byte of the
  // PiP's within one level of them.
  std::vector<uint8_t> bars(tvcard::FrameBytes(layout));
  std::vector<uint32_t> canvas;
  tvcard::DrawFrame({tvcard::SceneKind::kColourBars, 0}, 0, layout, bars.data(), canvas);
  const auto showsBars = [&](const std::vector<uint8_t>& got) {
    const size_t above = 390 * 640 * 2;
    size_t i = 0;
    while (got.size() == bars.size() && i < above && std::abs(got[i] - bars[i]) <= 1) {
      ++i;
    }
    return i == above;
  };
  const struct {
    const wchar_t* faults;
    int32_t format;
    const char* rows;
    const char* asked;
  } cases[] = {
      // The saved 352x288 is below every size: the smallest above it, in the packed format
      // though MJPG and NV12 are listed too.
      {L"", kFormatDefault, "YUY2*2 NV12*1", "Set stream format YUY2 640x480 every 400000 ... "},
      // 4:2:0 alone: the store keeps it as 4:2:2, in the colours the YUY2 picture has.
      {fault::kNv12Only, kFormatDefault, "NV12*1 I420*1",
       "Set stream format NV12 640x480 every 400000 ... "},
      {fault::kNv12Only, kFormatI420, "NV12*1 I420*1",
       "Set stream format I420 640x480 every 400000 ... "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.faults, c.faults + wcslen(c.faults)));
    SetFaults(c.faults);
    Log().clear();
    StartFullFramePip(c.format, 4, kHostFormatYuy2, layout);
    EXPECT_EQ(Dialog().StatusTextId, kStatusGood);
    EXPECT_EQ(RendererPeer(), L"Capture");
    EXPECT_EQ(FormatRows(), c.rows);
    EXPECT_TRUE(Logged("No crossbar: the capture device alone ... "));
    EXPECT_TRUE(Logged(c.asked));
    EXPECT_FALSE(Logged("Stream format refused: " + std::string(c.asked + 18)));
    EXPECT_FALSE(Lifecycle().CrossbarPresent);  // the channel hotkeys do nothing
    FrameThread host(tvcard::FrameBytes(layout));
    EXPECT_TRUE(PumpUntil([&] { return showsBars(host.Latest()); }, 3000));
    Descriptor()->stop();
  }

  // A configured crossbar that is not there is still a card not all there, and says so.
  SetFaults(nullptr);
  s.CrossbarDevicePath = Path(1, Role::kCrossbar, true);
  Log().clear();
  RebuildGraph();
  EXPECT_FALSE(Lifecycle().GraphBuilt);
  EXPECT_EQ(Dialog().StatusTextId, kStatusBuildFailed);
  EXPECT_TRUE(Logged("Crossbar device not present ... "));

  // Windows keeps the camera from desktop programs: a text of its own, no tries while that
  // holds, and the save button's build and run once it is allowed.
  s.CrossbarDevicePath.clear();
  SetFaults(fault::kDenyAccess);
  RebuildGraph();
  ASSERT_TRUE(Lifecycle().GraphBuilt);
  EXPECT_FALSE(RunGraph());
  EXPECT_EQ(Dialog().StatusTextId, kStatusAccessDenied);
  EXPECT_FALSE(Lifecycle().DeviceWaiting);
  EXPECT_FALSE(Lifecycle().GraphRunning);
  SetFaults(nullptr);
  RebuildGraph();
  EXPECT_TRUE(RunGraph());
  EXPECT_EQ(Dialog().StatusTextId, kStatusGood);
  EXPECT_TRUE(FramesFlowing(2000));
}

}  // namespace
}  // namespace kvx::test
