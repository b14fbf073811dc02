// The virtual TV card streaming in Wine's filter graph, built by hand: tuner -> crossbar ->
// capture device -> a sink. The picture follows the tuner and the crossbar, frames come at the
// standard's rate, and Pause and Stop never wait on a blocked streaming thread.
#include <windows.h>
#include <dshow.h>
#include <ks.h>
#include <ksmedia.h>

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <set>
#include <vector>

#include "tests/win/support/com_test.h"
#include "tests/win/support/frame_sink.h"
#include "tests/win/support/tv_card.h"
#include "video/pip_renderer.h"

namespace kvx::test {
namespace {

constexpr int kWidth = 384;
constexpr int kHeight = 288;
constexpr ULONG kStationA = 175250000;  // R6 and E5
constexpr ULONG kStationB = 183250000;  // R7
constexpr ULONG kNoStation = 100000000;

using Frame = std::vector<uint8_t>;

// A frame begun after whatever the test just changed: the next one may have been drawn before.
Frame FreshFrame(FrameSink* sink) {
  sink->NextFrame(kWaitMs);
  Frame frame = sink->NextFrame(kWaitMs).bytes;
  EXPECT_FALSE(frame.empty()) << "no frame within " << kWaitMs << " ms";
  return frame;
}

uint32_t Corner(const Frame& frame) {
  return PixelAt(frame, kWidth, kHeight, 4, 4);
}

bool IsGrey(uint32_t rgb) {
  return (rgb >> 16 & 0xFF) == (rgb >> 8 & 0xFF) && (rgb >> 8 & 0xFF) == (rgb & 0xFF);
}

// The white pixels of the band where the frequency is written.
std::vector<bool> TextMask(const Frame& frame) {
  std::vector<bool> mask;
  for (int y = kHeight / 4; y < kHeight * 3 / 4; y += 2) {
    for (int x = 0; x < kWidth; x += 2) {
      mask.push_back(PixelAt(frame, kWidth, kHeight, x, y) == 0xFFFFFF);
    }
  }
  return mask;
}

int Count(const std::vector<bool>& mask) {
  int n = 0;
  for (bool b : mask) {
    n += b ? 1 : 0;
  }
  return n;
}

// Rows in which two frames differ.
std::set<int> RowsThatDiffer(const Frame& a, const Frame& b) {
  std::set<int> rows;
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      if (PixelAt(a, kWidth, kHeight, x, y) != PixelAt(b, kWidth, kHeight, x, y)) {
        rows.insert(y);
        break;
      }
    }
  }
  return rows;
}

class TvCardStream : public TvCardTest {
 protected:
  // Card `number` with its capture device's pin into a new sink, in the given format.
  void Start(int number, const wchar_t* pin, const GUID& subtype, LONG width, LONG height) {
    graph_ = std::make_unique<CardGraph>(BindCard(number));
    ASSERT_EQ(SetCaptureFormat(graph_->card.capture.get(), pin, subtype, width, height), S_OK);
    sink_ = FrameSink::Create();
    ASSERT_EQ(graph_->ConnectCapture(pin, sink_.get(), sink_->InputPin()), S_OK);
    ASSERT_EQ(graph_->control->Run(), S_OK);
  }
  void TearDown() override {
    if (graph_) {
      graph_->Release();
    }
    graph_.reset();
    sink_.reset();
    TvCardTest::TearDown();
  }

  std::unique_ptr<CardGraph> graph_;
  ComPtr<FrameSink> sink_;
};

TEST_F(TvCardStream, PictureFollowsTheTunerFrequency) {
  ASSERT_NO_FATAL_FAILURE(Start(1, L"Preview", MEDIASUBTYPE_RGB24, kWidth, kHeight));
  IBaseFilter* tuner = graph_->card.tuner.get();

  ASSERT_EQ(Tune(tuner, kStationA), S_OK);
  const Frame a = FreshFrame(sink_.get());
  ASSERT_EQ(a.size(), static_cast<size_t>(kWidth * kHeight * 3));
  // A plain colour behind the frequency.
  for (int x : {4, kWidth / 2, kWidth - 5}) {
    EXPECT_EQ(PixelAt(a, kWidth, kHeight, x, 4), Corner(a)) << x;
  }
  EXPECT_NE(Corner(a), 0u);
  EXPECT_FALSE(IsGrey(Corner(a)));
  const std::vector<bool> textA = TextMask(a);
  EXPECT_GT(Count(textA), 200);

  ASSERT_EQ(Tune(tuner, kStationB), S_OK);
  const Frame b = FreshFrame(sink_.get());
  EXPECT_NE(Corner(b), Corner(a));
  EXPECT_NE(TextMask(b), textA);

  // The same station looks the same again.
  ASSERT_EQ(Tune(tuner, kStationA), S_OK);
  const Frame again = FreshFrame(sink_.get());
  EXPECT_EQ(Corner(again), Corner(a));
  EXPECT_EQ(TextMask(again), textA);

  // Off every channel: snow, different in every frame.
  ASSERT_EQ(Tune(tuner, kNoStation), S_OK);
  const Frame snow = FreshFrame(sink_.get());
  const Frame more = sink_->NextFrame(kWaitMs).bytes;
  EXPECT_EQ(RowsThatDiffer(snow, more).size(), static_cast<size_t>(kHeight));
  std::set<uint32_t> greys;
  for (int x = 0; x < 64; ++x) {
    const uint32_t pixel = PixelAt(snow, kWidth, kHeight, x, 10);
    EXPECT_TRUE(IsGrey(pixel));
    greys.insert(pixel);
  }
  EXPECT_GT(greys.size(), 20u);

  // Stations come in on the antenna input only.
  ASSERT_EQ(Tune(tuner, kStationA), S_OK);
  KSPROPERTY_TUNER_INPUT_S input = {};
  input.InputIndex = 1;
  ASSERT_EQ(SetTunerRecord(tuner, KSPROPERTY_TUNER_INPUT, &input, sizeof input), S_OK);
  const Frame cable = FreshFrame(sink_.get());
  EXPECT_TRUE(IsGrey(Corner(cable)));
  EXPECT_NE(Corner(cable), Corner(a));
}

TEST_F(TvCardStream, PictureFollowsTheCrossbarRoute) {
  ASSERT_NO_FATAL_FAILURE(Start(1, L"Preview", MEDIASUBTYPE_RGB24, kWidth, kHeight));
  IBaseFilter* crossbar = graph_->card.crossbar.get();
  ASSERT_EQ(Tune(graph_->card.tuner.get(), kStationA), S_OK);
  const uint32_t station = Corner(FreshFrame(sink_.get()));

  // Composite: eight bars of falling brightness, each one colour.
  ASSERT_EQ(RouteVideo(crossbar, 1), S_OK);
  const Frame bars = FreshFrame(sink_.get());
  std::set<uint32_t> colours;
  int lastWeight = 100 * 256;
  for (int bar = 0; bar < 8; ++bar) {
    const int left = bar * kWidth / 8 + 2;
    const int right = (bar + 1) * kWidth / 8 - 3;
    const uint32_t colour = PixelAt(bars, kWidth, kHeight, left, 20);
    EXPECT_EQ(PixelAt(bars, kWidth, kHeight, right, 20), colour) << bar;
    EXPECT_EQ(PixelAt(bars, kWidth, kHeight, left, kHeight / 2), colour) << bar;
    colours.insert(colour);
    const int weight =
        (colour >> 16 & 0xFF) * 30 + (colour >> 8 & 0xFF) * 59 + (colour & 0xFF) * 11;
    EXPECT_LT(weight, lastWeight) << bar;
    lastWeight = weight;
  }
  EXPECT_EQ(colours.size(), 8u);
  EXPECT_EQ(PixelAt(bars, kWidth, kHeight, kWidth - 3, 20), 0u);

  // S-Video: a grey ramp from black to white.
  ASSERT_EQ(RouteVideo(crossbar, 2), S_OK);
  const Frame ramp = FreshFrame(sink_.get());
  uint32_t previous = 0;
  for (int x = 0; x < kWidth; ++x) {
    const uint32_t pixel = PixelAt(ramp, kWidth, kHeight, x, 20);
    ASSERT_TRUE(IsGrey(pixel)) << x;
    EXPECT_GE(pixel & 0xFF, previous & 0xFF) << x;
    previous = pixel;
  }
  EXPECT_LT(PixelAt(ramp, kWidth, kHeight, 0, 20) & 0xFF, 8u);
  EXPECT_GT(previous & 0xFF, 247u);

  // Nothing routed: black.
  ASSERT_EQ(RouteVideo(crossbar, -1), S_OK);
  EXPECT_EQ(Corner(FreshFrame(sink_.get())), 0u);

  // Back to the tuner, which kept its station.
  ASSERT_EQ(RouteVideo(crossbar, 0), S_OK);
  EXPECT_EQ(Corner(FreshFrame(sink_.get())), station);
}

TEST_F(TvCardStream, AMovingSquareShowsMotion) {
  ASSERT_NO_FATAL_FAILURE(Start(1, L"Capture", MEDIASUBTYPE_RGB24, kWidth, kHeight));
  ASSERT_EQ(Tune(graph_->card.tuner.get(), kStationA), S_OK);
  const Frame first = FreshFrame(sink_.get());
  const Frame second = sink_->NextFrame(kWaitMs).bytes;
  const Frame third = sink_->NextFrame(kWaitMs).bytes;
  const std::set<int> moved = RowsThatDiffer(first, third);
  ASSERT_FALSE(moved.empty());
  // Only a band near the bottom changes, a square's height.
  EXPECT_GT(*moved.begin(), kHeight * 3 / 4);
  EXPECT_LE(moved.size(), static_cast<size_t>(kHeight / 8));
  EXPECT_FALSE(RowsThatDiffer(first, second).empty());
}

TEST_F(TvCardStream, YuvFramesCarryTheBarsInTheirOwnByteOrder) {
  for (const GUID& subtype : {MEDIASUBTYPE_YUY2, MEDIASUBTYPE_UYVY}) {
    const bool yuy2 = subtype == MEDIASUBTYPE_YUY2;
    SCOPED_TRACE(yuy2 ? "YUY2" : "UYVY");
    ASSERT_NO_FATAL_FAILURE(Start(2, L"Capture", subtype, 320, 240));
    ASSERT_EQ(RouteVideo(graph_->card.crossbar.get(), 1), S_OK);
    const Frame frame = FreshFrame(sink_.get());
    ASSERT_EQ(frame.size(), 320u * 240 * 2);
    const size_t row = 20 * 320 * 2;
    const int lumaAt = yuy2 ? 0 : 1;
    const int chromaAt = yuy2 ? 1 : 0;
    int previous = 256;
    for (int bar = 0; bar < 8; ++bar) {
      const size_t pair = row + static_cast<size_t>((bar * 40 + 18) / 2) * 4;
      const int luma = frame[pair + lumaAt];
      EXPECT_LT(luma, previous) << bar;
      previous = luma;
    }
    // The white bar and the black one carry no colour; black sits at studio black.
    EXPECT_NEAR(frame[row + 8 + chromaAt], 128, 1);
    EXPECT_NEAR(frame[row + 8 + chromaAt + 2], 128, 1);
    EXPECT_EQ(frame[row + 318 * 2 + lumaAt], 16);
    graph_->Release();
    graph_.reset();
    sink_.reset();
    ASSERT_EQ(CardObjects(), 0);
  }
}

TEST_F(TvCardStream, FramesComeAtTheStandardsRate) {
  ASSERT_NO_FATAL_FAILURE(Start(1, L"Capture", MEDIASUBTYPE_YUY2, 160, 120));
  ASSERT_TRUE(sink_->WaitForCount(2, kWaitMs));
  const LONG startCount = sink_->Count();
  const auto started = std::chrono::steady_clock::now();
  ASSERT_TRUE(sink_->WaitForCount(startCount + 10, kWaitMs));
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - started);
  EXPECT_GT(elapsed.count(), 10 * 40 / 2);
  EXPECT_LT(elapsed.count(), 10 * 40 * 2);
  std::vector<REFERENCE_TIME> starts = sink_->Starts();
  ASSERT_GE(starts.size(), 10u);
  EXPECT_EQ(starts[0], 0);
  for (size_t i = 1; i < starts.size(); ++i) {
    EXPECT_EQ(starts[i] - starts[i - 1], 400000) << i;
  }

  // A 525-line standard: 30000/1001 frames a second.
  ASSERT_EQ(graph_->control->Stop(), S_OK);
  ComPtr<IAMAnalogVideoDecoder> decoder;
  ASSERT_EQ(graph_->card.capture->QueryInterface(IID_IAMAnalogVideoDecoder, decoder.put_void()),
            S_OK);
  ASSERT_EQ(decoder->put_TVFormat(AnalogVideo_NTSC_M), S_OK);
  const size_t before = sink_->Starts().size();
  ASSERT_EQ(graph_->control->Run(), S_OK);
  ASSERT_TRUE(sink_->WaitForCount(static_cast<LONG>(before) + 5, kWaitMs));
  starts = sink_->Starts();
  EXPECT_EQ(starts[before], 0);
  for (size_t i = before + 1; i < starts.size(); ++i) {
    EXPECT_EQ(starts[i] - starts[i - 1], 333667) << i;
  }
}

TEST_F(TvCardStream, PausedCardDeliversNothingAndRunResumes) {
  ASSERT_NO_FATAL_FAILURE(Start(1, L"Capture", MEDIASUBTYPE_YUY2, 160, 120));
  ASSERT_TRUE(sink_->WaitForCount(2, kWaitMs));
  ASSERT_EQ(graph_->control->Pause(), S_OK);
  FILTER_STATE state;
  EXPECT_EQ(graph_->card.capture->GetState(0, &state), VFW_S_CANT_CUE);
  EXPECT_EQ(state, State_Paused);
  Sleep(60);  // a frame in flight may still land
  const LONG paused = sink_->Count();
  Sleep(150);
  EXPECT_EQ(sink_->Count(), paused);
  ASSERT_EQ(graph_->control->Run(), S_OK);
  EXPECT_TRUE(sink_->WaitForCount(paused + 3, kWaitMs));
}

TEST_F(TvCardStream, PauseAndStopDoNotWaitOnABlockedReceive) {
  ASSERT_NO_FATAL_FAILURE(Start(1, L"Capture", MEDIASUBTYPE_YUY2, 160, 120));
  sink_->HoldSamples(true);
  ASSERT_TRUE(sink_->WaitUntilHolding(kWaitMs));
  // The capture filter alone, while its streaming thread sits in the sink's Receive; on a
  // thread of its own, so that a Pause that waits fails the test instead of hanging it.
  IBaseFilter* capture = graph_->card.capture.get();
  std::future<HRESULT> paused = std::async(std::launch::async, [capture] {
    const HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    const HRESULT hr = capture->Pause();
    if (SUCCEEDED(com)) {
      CoUninitialize();
    }
    return hr;
  });
  const bool returned =
      paused.wait_for(std::chrono::milliseconds(500)) == std::future_status::ready;
  sink_->HoldSamples(false);
  ASSERT_TRUE(returned) << "Pause waited for the streaming thread";
  ASSERT_EQ(paused.get(), S_OK);

  // The graph stops the sink first, which lets the thread go; then the capture device.
  sink_->HoldSamples(true);
  ASSERT_EQ(graph_->control->Pause(), S_OK);
  ASSERT_EQ(graph_->control->Run(), S_OK);
  ASSERT_TRUE(sink_->WaitUntilHolding(kWaitMs));
  const auto before = std::chrono::steady_clock::now();
  ASSERT_EQ(graph_->control->Stop(), S_OK);
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(500));
  FILTER_STATE state;
  ASSERT_EQ(capture->GetState(0, &state), S_OK);
  EXPECT_EQ(state, State_Stopped);
}

TEST_F(TvCardStream, SetFormatOnAConnectedPinReconnects) {
  ASSERT_NO_FATAL_FAILURE(Start(1, L"Preview", MEDIASUBTYPE_YUY2, 320, 240));
  ASSERT_TRUE(sink_->WaitForCount(1, kWaitMs));
  EXPECT_EQ(SetCaptureFormat(graph_->card.capture.get(), L"Preview", MEDIASUBTYPE_RGB24, 160, 120),
            VFW_E_NOT_STOPPED);
  ASSERT_EQ(graph_->control->Stop(), S_OK);
  ASSERT_EQ(SetCaptureFormat(graph_->card.capture.get(), L"Preview", MEDIASUBTYPE_RGB24, 160, 120),
            S_OK);
  const MediaTypeValue type = sink_->Type();
  EXPECT_EQ(type.get().subtype, MEDIASUBTYPE_RGB24);
  ASSERT_GE(type.get().cbFormat, sizeof(VIDEOINFOHEADER));
  EXPECT_EQ(reinterpret_cast<const VIDEOINFOHEADER*>(type.get().pbFormat)->bmiHeader.biWidth, 160);
  const LONG before = sink_->Count();
  ASSERT_EQ(graph_->control->Run(), S_OK);
  ASSERT_TRUE(sink_->WaitForCount(before + 1, kWaitMs));
  EXPECT_EQ(sink_->Last().bytes.size(), 160u * 120 * 3);
}

TEST_F(TvCardStream, TwoCardsShowTheirOwnChannels) {
  ASSERT_NO_FATAL_FAILURE(Start(1, L"Preview", MEDIASUBTYPE_RGB24, kWidth, kHeight));
  CardGraph second(BindCard(2));
  ASSERT_EQ(
      SetCaptureFormat(second.card.capture.get(), L"Preview", MEDIASUBTYPE_RGB24, kWidth, kHeight),
      S_OK);
  ComPtr<FrameSink> secondSink = FrameSink::Create();
  ASSERT_EQ(second.ConnectCapture(L"Preview", secondSink.get(), secondSink->InputPin()), S_OK);
  ASSERT_EQ(second.control->Run(), S_OK);

  ASSERT_EQ(Tune(graph_->card.tuner.get(), kStationA), S_OK);
  ASSERT_EQ(Tune(second.card.tuner.get(), kStationB), S_OK);
  const uint32_t one = Corner(FreshFrame(sink_.get()));
  const uint32_t two = Corner(FreshFrame(secondSink.get()));
  EXPECT_NE(one, two);
  ASSERT_EQ(Tune(second.card.tuner.get(), kStationA), S_OK);
  EXPECT_EQ(Corner(FreshFrame(secondSink.get())), one);
  // Card 1's crossbar leaves card 2's picture alone.
  ASSERT_EQ(RouteVideo(graph_->card.crossbar.get(), 1), S_OK);
  EXPECT_NE(Corner(FreshFrame(sink_.get())), one);
  EXPECT_EQ(Corner(FreshFrame(secondSink.get())), one);

  second.Release();
  secondSink.reset();
}

TEST_F(TvCardStream, PipRendererGetsTheCardsPicture) {
  CardGraph graph(BindCard(1));
  ASSERT_EQ(
      SetCaptureFormat(graph.card.capture.get(), L"Preview", MEDIASUBTYPE_RGB24, kWidth, kHeight),
      S_OK);
  ASSERT_EQ(
      SetCaptureFormat(graph.card.capture.get(), L"Capture", MEDIASUBTYPE_RGB24, kWidth, kHeight),
      S_OK);
  ComPtr<PipRenderer> renderer = NewRenderer();
  ComPtr<IPin> in = FindPin(renderer.get(), L"Video In");
  ASSERT_EQ(graph.ConnectCapture(L"Preview", renderer.get(), in.get()), S_OK);
  // The capture pin feeds a sink, so the renderer's picture can be compared with it.
  ComPtr<FrameSink> sink = FrameSink::Create();
  ASSERT_EQ(graph.ConnectCapture(L"Capture", sink.get(), sink->InputPin()), S_OK);
  ASSERT_EQ(graph.control->Run(), S_OK);

  for (ULONG hz : {kStationA, kStationB}) {
    ASSERT_EQ(Tune(graph.card.tuner.get(), hz), S_OK);
    const uint32_t expected = Corner(FreshFrame(sink.get()));
    FreshFrame(sink.get());  // the renderer's pin had the same frame at least as early
    const std::vector<uint8_t> shown = FrameBytes(renderer.get());
    ASSERT_EQ(shown.size(), static_cast<size_t>(kWidth * kHeight * 3));
    EXPECT_EQ(Corner(shown), expected) << hz;
  }
  in.reset();
  renderer.reset();
  graph.Release();
  sink.reset();
}

}  // namespace
}  // namespace kvx::test
