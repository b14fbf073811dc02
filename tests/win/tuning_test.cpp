// Tuning the virtual card as the PiP card: what the channel commands leave in the card's tuner,
// crossbar and decoder, the host stand-in told to tune, and the devices' property pages.
#include <windows.h>
#include <dshow.h>
#include <ks.h>
#include <ksmedia.h>

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

#include "capture/capture_graph.h"
#include "capture/channel_logic.h"
#include "capture/channels.h"
#include "capture/tuning.h"
#include "plugin/plugin.h"
#include "plugin/status_log.h"
#include "settings/settings_store.h"
#include "tests/win/support/allocation_count.h"
#include "tests/win/support/host_process.h"
#include "tests/win/support/dialog_driver.h"
#include "tests/win/support/pip_card.h"

namespace kvx::test {
namespace {

namespace fault = tvcard::fault;

struct CardState {
  ULONG frequency;
  ULONG flags;
  LONG input;  // routed to the video decoder
  LONG standard;
};

CardState ReadCard() {
  KSPROPERTY_TUNER_FREQUENCY_S tuned = {};
  EXPECT_EQ(GetTunerRecord(Graph().tuner.get(), KSPROPERTY_TUNER_FREQUENCY, &tuned, sizeof tuned),
            S_OK);
  LONG input = -9;
  Query<IAMCrossbar>(Graph().crossbar, IID_IAMCrossbar)->get_IsRoutedTo(0, &input);
  LONG standard = 0;
  Query<IAMAnalogVideoDecoder>(Graph().capture, IID_IAMAnalogVideoDecoder)->get_TVFormat(&standard);
  return {tuned.Frequency, tuned.TuningFlags, input, standard};
}

using TuningTest = PipCardTest;

// What the hotkeys and the mouse set off on a running PiP (on/off, the channel commands with
// their tuning, routing and standards, the swap) allocates nothing: a failed allocation there
// could leave the PiP half switched, and the hooks run inside the host's input.
TEST_F(TuningTest, TheHotkeyAndMousePathsAllocateNothing) {
  RebuildGraph();
  ASSERT_TRUE(Lifecycle().GraphBuilt);
  ASSERT_TRUE(RunGraph());
  const auto commands = [] {
    EXPECT_TRUE(StopGraph());
    EXPECT_TRUE(RunGraph());
    NextChannel();
    PrevChannel();
    for (const int32_t position : {2, -2, -3, 0}) {
      SetChannel(position);
    }
    SwapChannels();
  };
  commands();                                 // first uses, which may set up what stays
  StatusLog::SetObserverForTesting(nullptr);  // the test's own record of the log allocates
  int counted = 0;
  {
    AllocationCount allocations;
    commands();
    counted = allocations.Count();
  }
  EXPECT_EQ(counted, 0);
  EXPECT_TRUE(Lifecycle().GraphRunning);
}

TEST_F(TuningTest, ChannelCommandsSetTheCardsTunerCrossbarAndDecoder) {
  Settings().current.VideoSystem = 2;  // PAL unless the channel says otherwise
  // The card's tuner left on FM radio and its second input: the build puts it back on TV and
  // input 0.
  CardFilters before = BindCard(1);
  KSPROPERTY_TUNER_MODE_S mode = {};
  mode.Mode = KSPROPERTY_TUNER_MODE_FM_RADIO;
  ASSERT_EQ(SetTunerRecord(before.tuner.get(), KSPROPERTY_TUNER_MODE, &mode, sizeof mode), S_OK);
  KSPROPERTY_TUNER_INPUT_S input = {};
  input.InputIndex = 1;
  ASSERT_EQ(SetTunerRecord(before.tuner.get(), KSPROPERTY_TUNER_INPUT, &input, sizeof input), S_OK);
  RebuildGraph();
  ASSERT_TRUE(Lifecycle().TunerUsable);
  ASSERT_EQ(GetTunerRecord(before.tuner.get(), KSPROPERTY_TUNER_MODE, &mode, sizeof mode), S_OK);
  ASSERT_EQ(GetTunerRecord(before.tuner.get(), KSPROPERTY_TUNER_INPUT, &input, sizeof input), S_OK);
  EXPECT_EQ(mode.Mode, static_cast<ULONG>(KSPROPERTY_TUNER_MODE_TV));
  EXPECT_EQ(input.InputIndex, 0u);
  before = {};
  EXPECT_EQ(TheTunerRange().MinFrequency, 45000000u);  // the card's TV range
  EXPECT_EQ(TheTunerRange().MaxFrequency, 860000000u);
  const struct {
    int32_t position;
    CardState card;  // afterwards
  } steps[] = {
      {-3, {175250000, KS_TUNER_TUNING_EXACT, 2, AnalogVideo_PAL_B}},  // channel 1 at the build
      {0, {49750000, KS_TUNER_TUNING_EXACT, 0, AnalogVideo_SECAM_D}},  // back on the tuner input
      {-2, {49750000, KS_TUNER_TUNING_EXACT, 1, AnalogVideo_SECAM_D}},
      {3, {471250000, KS_TUNER_TUNING_EXACT, 0, AnalogVideo_PAL_B}},
      {2, {471250000, KS_TUNER_TUNING_EXACT, 0, AnalogVideo_PAL_B}},  // 870 MHz: not tuned
      {1, {175250000, KS_TUNER_TUNING_EXACT, 0, AnalogVideo_PAL_B}},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(step.position);
    SetChannel(step.position);
    const CardState card = ReadCard();
    EXPECT_EQ(card.frequency, step.card.frequency);
    EXPECT_EQ(card.flags, step.card.flags);
    EXPECT_EQ(card.input, step.card.input);
    EXPECT_EQ(card.standard, step.card.standard);
    EXPECT_EQ(Settings().current.PiPChannelOrder, step.position);
  }
  EXPECT_EQ(Settings().current.PiPTVChannel, 1);
  EXPECT_EQ(SetVideoStandard(AnalogVideo_PAL_60), E_NOTIMPL);  // the card has no PAL 60
  EXPECT_EQ(ReadCard().standard, AnalogVideo_PAL_B);

  // A tuner whose driver tunes is asked to fine-tune.
  SetFaults(fault::kDriverTunes);
  RebuildGraph();
  SetChannel(0);
  EXPECT_EQ(ReadCard().flags, static_cast<ULONG>(KS_TUNER_TUNING_FINE));
}

TEST_F(TuningTest, WithoutAUsableTunerEverySourceIsTheCompositeInput) {
  const struct {
    const wchar_t* faults;
    bool usable;
  } tuners[] = {
      {fault::kTunerCapsFails, false},     {fault::kNoTvMode, false},
      {fault::kTunerModeCapsFails, false}, {fault::kTunerInputFails, false},
      {fault::kTunerModeFails, true},      {fault::kTunerFrequencyFails, true},
  };
  for (const auto& t : tuners) {
    SCOPED_TRACE(std::string(t.faults, t.faults + wcslen(t.faults)));
    SetFaults(t.faults);
    Settings().current.PiPChannelOrder = 1;
    RebuildGraph();
    ASSERT_TRUE(Lifecycle().GraphBuilt);
    EXPECT_EQ(Lifecycle().TunerUsable, t.usable);
    SetChannel(-3);
    EXPECT_EQ(Settings().current.PiPChannelOrder, t.usable ? -3 : -2);
    LONG input = -9;
    Query<IAMCrossbar>(Graph().crossbar, IID_IAMCrossbar)->get_IsRoutedTo(0, &input);
    EXPECT_EQ(input, t.usable ? 2 : 1);
  }

  // Crossbar layouts: only the first video-decoder output and the first input of a type count.
  const struct {
    const wchar_t* faults;
    int32_t connector;
    HRESULT result;
    LONG input;  // routed afterwards
  } layouts[] = {
      {fault::kNoDecoderOutput, kConnectorSVideo, E_FAIL, 0},
      {fault::kTwinComposite, kConnectorComposite, S_OK, 1},
      {fault::kTwinComposite, kConnectorSVideo, E_FAIL, 1},
      {fault::kRouteQueryFails, kConnectorSVideo, S_OK, 2},
      {fault::kRouteFails, kConnectorComposite, E_FAIL, 2},
  };
  SetFaults(nullptr);
  RebuildGraph();
  for (const auto& l : layouts) {
    SCOPED_TRACE(std::string(l.faults, l.faults + wcslen(l.faults)));
    SetChannel(0);
    SetFaults(l.faults);
    EXPECT_EQ(RouteCrossbar(l.connector), l.result);
    SetFaults(nullptr);
    LONG input = -9;
    Query<IAMCrossbar>(Graph().crossbar, IID_IAMCrossbar)->get_IsRoutedTo(0, &input);
    EXPECT_EQ(input, l.input);
  }
}

TEST_F(TuningTest, SwapTunesThePipToTheHostsChannelAndTheHostToThePips) {
  ProductRun run;
  run.folder = MakeHostFolder(L"swap");
  StartHost(run, L"/seconds:2");
  HWND main = nullptr;
  for (int i = 0; i < 200 && main == nullptr; ++i, Sleep(20)) {
    main = FindWindowW(L"TMain", L"Zorvinta");
  }
  ASSERT_NE(main, nullptr);
  RebuildGraph();
  Settings().current.PiPChannelOrder = 3;
  Lifecycle().HostPosition = 0;
  SwapChannels();  // no host window known yet: the PiP swaps, the host is not told
  EXPECT_EQ(Settings().current.PiPChannelOrder, 0);
  Settings().MainWindow = main;
  Lifecycle().HostPosition = 1;
  SwapChannels();
  EXPECT_EQ(Settings().current.PiPChannelOrder, 1);
  EXPECT_EQ(ReadCard().frequency, 175250000u);
  FinishHost(run);
  EXPECT_EQ(run.error, "");
  EXPECT_EQ(run.Count("host command 1225, lParam"), 1u);
  EXPECT_EQ(run.Count("lParam 1: tuned to channel 0"), 1u);
}

// A host that holds a lock of its own around its calls into the plug-in and takes it in its
// channel lookup as well.
std::mutex g_hostLock;
std::atomic<bool> g_lookingUp{false};
HostChannel* KVX_CDECL LockingLookup(int32_t position) {
  g_lookingUp = true;
  std::lock_guard<std::mutex> hold(g_hostLock);
  return position >= 0 && position < kTestChannelCount ? &kTestChannels[position] : nullptr;
}

TEST_F(TuningTest, AHostLockingAroundItsCallsNeverWaitsOnAChannelCommand) {
  RebuildGraph();
  ASSERT_TRUE(RunGraph());
  Settings().host = HostCallbacks{&LockingLookup, nullptr};
  std::unique_lock<std::mutex> host(g_hostLock);
  std::thread user([] { SetChannel(3); });  // a hotkey on the user-interface thread
  while (!g_lookingUp) {
    Sleep(1);
  }
  Sleep(50);
  // The host's Stop, from inside its lock.
  std::atomic<bool> stopped{false};
  std::thread stop([&] {
    StopGraph();
    stopped = true;
  });
  for (int i = 0; i < 300 && !stopped; ++i) {
    Sleep(10);
  }
  EXPECT_TRUE(stopped);
  host.unlock();
  user.join();
  stop.join();
  EXPECT_EQ(Settings().current.PiPChannelOrder, 3);
  EXPECT_EQ(ReadCard().frequency, 471250000u);
}

TEST_F(TuningTest, PropertyPagesOpenInAFrameCaptionedWithTheDevicesName) {
  RebuildGraph();
  std::atomic<bool> done{false};
  std::atomic<int> named{0};
  std::atomic<int> frames{0};
  std::thread closer([&] {
    while (!done) {
      if (HWND frame = FindCaption(L"Propert")) {
        named += FindCaption(L"Capture Device") == frame ? 1 : 0;
        ++frames;
        PostMessageW(frame, WM_COMMAND, IDCANCEL, 0);
        Sleep(200);
      }
      Sleep(10);
    }
  });
  // Each returns once its frame is closed.
  ShowPropertyPages(nullptr, Graph().capture.get());
  EXPECT_EQ(named, 1);
  ShowPropertyPages(nullptr, Graph().renderer.get());  // no pages
  ShowPropertyPages(nullptr, nullptr);
  EXPECT_EQ(frames, 1);
  // A device in no graph has no name and no graph to release.
  ShowPropertyPages(nullptr, BindCard(2).tuner.get());
  done = true;
  closer.join();
  EXPECT_EQ(frames, 2);
}

}  // namespace
}  // namespace kvx::test
