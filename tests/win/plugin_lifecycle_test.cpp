// The entry points' own tests and bookkeeping, and the graph-level operations, driven directly
// on the plug-in's module-wide state.
#include <windows.h>
#include <dshow.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "capture/capture_graph.h"
#include "plugin/plugin.h"
#include "plugin/status_log.h"
#include "settings/settings_store.h"
#include "ui/settings_dialog.h"

namespace kvx {
namespace {

std::vector<std::pair<int32_t, std::string>> g_log;
void Observe(int32_t level, std::string_view text) {
  g_log.emplace_back(level, text);
}

// IMediaControl whose Run and Stop answer what the test chooses.
class FakeMediaControl : public IMediaControl {
 public:
  HRESULT runResult = S_OK;
  HRESULT stopResult = S_OK;
  int runs = 0;
  int stops = 0;
  LONG lastTimeout = 0;
  LONG refs = 1;

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (iid == IID_IUnknown || iid == IID_IDispatch || iid == IID_IMediaControl) {
      *out = static_cast<IMediaControl*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
  STDMETHODIMP_(ULONG) Release() override { return --refs; }
  STDMETHODIMP GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                      UINT*) override {
    return E_NOTIMPL;
  }
  STDMETHODIMP Run() override {
    ++runs;
    return runResult;
  }
  STDMETHODIMP Pause() override { return S_OK; }
  STDMETHODIMP Stop() override {
    ++stops;
    return stopResult;
  }
  STDMETHODIMP GetState(LONG timeout, OAFilterState* state) override {
    lastTimeout = timeout;
    *state = State_Running;
    return S_OK;
  }
  STDMETHODIMP RenderFile(BSTR) override { return E_NOTIMPL; }
  STDMETHODIMP AddSourceFilter(BSTR, IDispatch**) override { return E_NOTIMPL; }
  STDMETHODIMP get_FilterCollection(IDispatch**) override { return E_NOTIMPL; }
  STDMETHODIMP get_RegFilterCollection(IDispatch**) override { return E_NOTIMPL; }
  STDMETHODIMP StopWhenReady() override { return S_OK; }
};

// IPiPBuffer that counts how often the frame step asks for a frame, and hands out `frame` when
// one is set.
class FakePipBuffer : public IPiPBuffer {
 public:
  int calls = 0;
  LONG refs = 1;
  std::vector<uint8_t> frame;
  int32_t width = 0;
  int32_t height = 0;

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (iid == IID_IUnknown || iid == IID_IPiPBuffer) {
      *out = static_cast<IPiPBuffer*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
  STDMETHODIMP_(ULONG) Release() override { return --refs; }
  STDMETHODIMP GetFrame(BYTE** pixels, int32_t* w, int32_t* h, int32_t* format) override {
    ++calls;
    if (frame.empty()) {
      *pixels = nullptr;
      return E_FAIL;
    }
    *pixels = frame.data();
    *w = width;
    *h = height;
    *format = 0;  // YUY2
    return S_OK;
  }
  STDMETHODIMP GetFrameView(PipFrameView* view) override {
    view->topDown = 0;
    view->sampleTick = GetTickCount();  // a live stream
    view->fresh = 1;
    view->refused = 0;
    return GetFrame(&view->pixels, &view->width, &view->height, &view->format);
  }
};

constexpr int kWidth = 64;
constexpr int kHeight = 8;

class PluginLifecycle : public ::testing::Test {
 protected:
  void SetUp() override {
    g_log.clear();
    StatusLog::SetObserverForTesting(&Observe);
    Descriptor()->init(&callbacks_);
    HostStream stream{kWidth, kHeight, 0, kHostFormatYuy2, 0};
    ASSERT_EQ(Descriptor()->start(&stream), 1);
    g_log.clear();  // the build's own steps are the capture graph tests' business
    pixels_.assign(kWidth * kHeight * 2, 0x5A);
    frame_.pixels = pixels_.data();
    frame_.channelState = &state_;
  }
  void TearDown() override {
    Descriptor()->stop();
    Descriptor()->done();
    Graph().control.reset();
    Graph().pPiPBuffer.reset();
    Lifecycle().GraphBuilt = false;
    Lifecycle().GraphRunning = false;
    StatusLog::SetObserverForTesting(nullptr);
  }
  // Pretends a graph was built around the fakes.
  void InstallFakeGraph() {
    Graph().control = ComPtr<IMediaControl>(&control_);
    Graph().pPiPBuffer.publish(ComPtr<IPiPBuffer>(&buffer_));
    Lifecycle().GraphBuilt = true;
  }

  HostCallbacks callbacks_{nullptr, nullptr};
  HostChannelState state_{0, 0, 0};
  HostFrame frame_{};
  std::vector<uint8_t> pixels_;
  FakeMediaControl control_;
  FakePipBuffer buffer_;
};

TEST_F(PluginLifecycle, InitWithoutDevicesLeavesTheGraphUnbuilt) {
  EXPECT_FALSE(Lifecycle().GraphBuilt);
  EXPECT_EQ(Dialog().StatusTextId, kStatusBuildFailed);
  EXPECT_EQ(Settings().current.PiPEnable, 1u);
  // Running an unbuilt graph does nothing and reports success.
  EXPECT_TRUE(RunGraph());
  EXPECT_FALSE(Lifecycle().GraphRunning);
  EXPECT_TRUE(g_log.empty());
}

TEST_F(PluginLifecycle, FrameReturnsOneAndRecordsTheTick) {
  EXPECT_EQ(Lifecycle().LastFrameTick, 0u);
  const DWORD before = GetTickCount();
  EXPECT_EQ(Descriptor()->frame(&frame_), 1);
  const DWORD after = GetTickCount();
  EXPECT_GE(Lifecycle().LastFrameTick, before);
  EXPECT_LE(Lifecycle().LastFrameTick, after);
  // The graph is not running: the pixels are untouched.
  EXPECT_THAT(pixels_, ::testing::Each(0x5A));
}

TEST_F(PluginLifecycle, FramesWithoutPixelsOrInSkipModesReturnZeroAndKeepTheTick) {
  Lifecycle().LastFrameTick = 1234;
  HostFrame empty{};
  EXPECT_EQ(Descriptor()->frame(&empty), 0);
  EXPECT_EQ(Descriptor()->frame(nullptr), 0);
  EXPECT_EQ(Lifecycle().LastFrameTick, 1234u);

  for (int32_t mode : {1, 2}) {
    HostStream stream{kWidth, kHeight, 0, kHostFormatYuy2, mode};
    ASSERT_EQ(Descriptor()->start(&stream), 1);
    Lifecycle().LastFrameTick = 1234;
    EXPECT_EQ(Descriptor()->frame(&frame_), 0) << "mode " << mode;
    EXPECT_EQ(Lifecycle().LastFrameTick, 1234u);
  }
  HostStream normal{kWidth, kHeight, 0, kHostFormatYuy2, 3};
  ASSERT_EQ(Descriptor()->start(&normal), 1);
  EXPECT_EQ(Lifecycle().LastFrameTick, 0u);  // every Start resets it
  EXPECT_EQ(Descriptor()->frame(&frame_), 1);
  EXPECT_NE(Lifecycle().LastFrameTick, 0u);
}

TEST_F(PluginLifecycle, HostPositionIsReadOnlyWhenTheStampChanges) {
  Lifecycle().HostStamp1 = 0;
  Lifecycle().HostStamp2 = 0;
  Lifecycle().HostPosition = 0;
  state_ = {0, 0, 5};  // a host whose stamp stays 0, 0
  Descriptor()->frame(&frame_);
  EXPECT_EQ(Lifecycle().HostPosition, 0);

  state_ = {7, 0, 3};
  Descriptor()->frame(&frame_);
  EXPECT_EQ(Lifecycle().HostPosition, 3);
  state_.position = 4;  // the same stamp: not read
  Descriptor()->frame(&frame_);
  EXPECT_EQ(Lifecycle().HostPosition, 3);
  state_ = {7, 1, kSourceComposite};  // only the second half changes
  Descriptor()->frame(&frame_);
  EXPECT_EQ(Lifecycle().HostPosition, kSourceComposite);
  EXPECT_EQ(Lifecycle().HostStamp1, 7);
  EXPECT_EQ(Lifecycle().HostStamp2, 1);

  // A frame whose host lent no channel state still counts as a frame.
  frame_.channelState = nullptr;
  EXPECT_EQ(Descriptor()->frame(&frame_), 1);
  EXPECT_EQ(Lifecycle().HostPosition, kSourceComposite);
}

TEST_F(PluginLifecycle, FrameStepRunsOnlyWithBufferEnabledAndRunning) {
  InstallFakeGraph();
  Descriptor()->frame(&frame_);
  EXPECT_EQ(buffer_.calls, 0);  // built, not running

  ASSERT_TRUE(RunGraph());
  Descriptor()->frame(&frame_);
  EXPECT_EQ(buffer_.calls, 1);

  Settings().current.PiPEnable = 0;
  Descriptor()->frame(&frame_);
  EXPECT_EQ(buffer_.calls, 1);
  Settings().current.PiPEnable = 1;

  Graph().pPiPBuffer.reset();
  EXPECT_EQ(Descriptor()->frame(&frame_), 1);
  EXPECT_EQ(buffer_.calls, 1);
}

TEST_F(PluginLifecycle, FrameDrawsTheBufferedPictureIntoTheHostFrame) {
  InstallFakeGraph();
  buffer_.width = 32;
  buffer_.height = 16;
  buffer_.frame.assign(32 * 16 * 2, 0);
  for (size_t i = 0; i < buffer_.frame.size(); i += 4) {
    buffer_.frame[i] = buffer_.frame[i + 2] = 200;  // light grey: Y 200, U = V = 128
    buffer_.frame[i + 1] = buffer_.frame[i + 3] = 128;
  }
  Settings().current.Opacity = 100;
  Settings().current.PiPWndSize = 50;
  Settings().current.PiPWndPosX = 250;
  Settings().current.PiPWndPosY = 250;
  Settings().current.BorderEnable = 0;
  ASSERT_TRUE(RunGraph());
  EXPECT_EQ(Descriptor()->frame(&frame_), 1);
  // Host 64x8: the PiP rectangle is {16, 2, 48, 6}.
  const uint8_t* row5 = &pixels_[5 * kWidth * 2];
  EXPECT_EQ(row5[2 * 20], 200);
  EXPECT_EQ(row5[2 * 20 + 1], 128);
  EXPECT_EQ(row5[2 * 10], 0x5A);  // outside the rectangle
  Settings().current = PipSettings::Defaults();
}

TEST_F(PluginLifecycle, RunAndStopFollowTheMediaControl) {
  InstallFakeGraph();
  ASSERT_TRUE(RunGraph());
  EXPECT_TRUE(Lifecycle().GraphRunning);
  EXPECT_EQ(control_.runs, 1);
  EXPECT_EQ(control_.lastTimeout, 5000);

  ASSERT_TRUE(StopGraph());
  EXPECT_FALSE(Lifecycle().GraphRunning);
  EXPECT_EQ(control_.stops, 1);
  // Stopping a stopped graph calls nothing.
  ASSERT_TRUE(StopGraph());
  EXPECT_EQ(control_.stops, 1);

  using Entry = std::pair<int32_t, std::string>;
  EXPECT_THAT(g_log, ::testing::ElementsAre(Entry{1, "Run DirectShow graph ... "},
                                            Entry{1, "Get state DirectShow graph ... "},
                                            Entry{1, "Stop DirectShow graph ... "},
                                            Entry{1, "Get state DirectShow graph ... "}));
}

TEST_F(PluginLifecycle, FailedRunAndStopAreReportedAndLeaveTheFlags) {
  InstallFakeGraph();
  control_.runResult = E_UNEXPECTED;
  Dialog().StatusTextId = kStatusGood;
  EXPECT_FALSE(RunGraph());
  EXPECT_FALSE(Lifecycle().GraphRunning);
  EXPECT_EQ(Dialog().StatusTextId, kStatusRunFailed);
  ASSERT_EQ(g_log.size(), 2u);
  EXPECT_EQ(g_log[1], (std::pair<int32_t, std::string>{0, "0x8000FFFF"}));

  control_.runResult = S_OK;
  ASSERT_TRUE(RunGraph());
  control_.stopResult = E_FAIL;
  EXPECT_FALSE(StopGraph());
  EXPECT_TRUE(Lifecycle().GraphRunning);  // a failed stop leaves it set
  control_.stopResult = S_OK;
  EXPECT_TRUE(StopGraph());
}

TEST_F(PluginLifecycle, StartRunsTheGraphOnlyWithPipEnabled) {
  InstallFakeGraph();
  Settings().current.PiPEnable = 0;
  HostStream stream{kWidth, kHeight, 0, kHostFormatYuy2, 0};
  Descriptor()->start(&stream);
  EXPECT_EQ(control_.runs, 0);
  Settings().current.PiPEnable = 1;
  Descriptor()->start(&stream);
  EXPECT_EQ(control_.runs, 1);
  EXPECT_TRUE(Lifecycle().GraphRunning);
  Descriptor()->stop();
  EXPECT_EQ(control_.stops, 1);
  EXPECT_FALSE(Lifecycle().GraphRunning);
}

TEST_F(PluginLifecycle, RebuildAndDoneReleaseEveryGraphReference) {
  InstallFakeGraph();
  EXPECT_EQ(control_.refs, 2);
  EXPECT_EQ(buffer_.refs, 2);
  RebuildGraph();  // tears the old graph down; the new build fails
  EXPECT_EQ(control_.refs, 1);
  EXPECT_EQ(buffer_.refs, 1);
  EXPECT_FALSE(Lifecycle().GraphBuilt);
  EXPECT_EQ(Dialog().StatusTextId, kStatusBuildFailed);

  InstallFakeGraph();
  Descriptor()->done();  // without a Stop: torn down, not stopped
  EXPECT_EQ(control_.stops, 0);
  EXPECT_EQ(control_.refs, 1);
  EXPECT_EQ(buffer_.refs, 1);
}

TEST_F(PluginLifecycle, MissingStreamAndWindowPointersAreHarmless) {
  EXPECT_EQ(Descriptor()->start(nullptr), 1);
  EXPECT_EQ(Descriptor()->frame(&frame_), 1);
  // Without the host's window the dialog opens unowned, once.
  Descriptor()->showSettings(nullptr);
  HWND opened = Dialog().Window();
  ASSERT_NE(opened, nullptr);
  EXPECT_EQ(GetWindow(opened, GW_OWNER), nullptr);
  HWND none = nullptr;
  Descriptor()->showSettings(&none);
  EXPECT_EQ(Dialog().Window(), opened);
  Dialog().Destroy();
  EXPECT_EQ(Dialog().Window(), nullptr);
}

// The real filter graph's media control, as the capture graph will hold it.
TEST_F(PluginLifecycle, RunsAndStopsARealFilterGraph) {
  ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
  {
    ComPtr<IGraphBuilder> graph;
    ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                               graph.put_void()),
              S_OK);
    ASSERT_EQ(graph.As(&Graph().control), S_OK);
    Lifecycle().GraphBuilt = true;
    EXPECT_TRUE(RunGraph());
    EXPECT_TRUE(Lifecycle().GraphRunning);
    OAFilterState state = State_Stopped;
    Graph().control->GetState(0, &state);
    EXPECT_EQ(state, State_Running);
    EXPECT_TRUE(StopGraph());
    EXPECT_FALSE(Lifecycle().GraphRunning);
    Graph().control->GetState(0, &state);
    EXPECT_EQ(state, State_Stopped);
    Graph().control.reset();
  }
  CoUninitialize();
}

}  // namespace
}  // namespace kvx
