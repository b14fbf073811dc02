// The PiP Renderer under load in Wine's filter graph: state changes on the test thread, samples
// on the source's thread, and a frame reader on a third, as the host's frame thread would.
#include <windows.h>
#include <dshow.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <mutex>
#include <thread>

#include "tests/win/support/com_test.h"
#include "tests/win/support/test_source.h"
#include "tests/win/support/video_types.h"
#include "video/frame_guard.h"

namespace kvx::test {
namespace {

using namespace std::chrono_literals;

// Ends the whole program if a test hangs: a deadlock would otherwise only show as a timeout.
class Watchdog {
 public:
  explicit Watchdog(std::chrono::seconds limit)
      : thread_([this, limit] {
          std::unique_lock<std::mutex> lock(mutex_);
          if (!done_.wait_for(lock, limit, [this] { return finished_; })) {
            std::fprintf(stderr, "deadlock: the test did not finish in time\n");
            std::fflush(stderr);
            std::_Exit(3);
          }
        }) {}
  ~Watchdog() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      finished_ = true;
    }
    done_.notify_one();
    thread_.join();
  }

 private:
  std::mutex mutex_;
  std::condition_variable done_;
  bool finished_ = false;
  std::thread thread_;
};

// Waits until pred holds, for at most two seconds.
template <class Pred>
bool WaitFor(Pred pred) {
  const auto end = std::chrono::steady_clock::now() + 2s;
  while (!pred()) {
    if (std::chrono::steady_clock::now() > end) {
      return false;
    }
    std::this_thread::yield();
  }
  return true;
}

class PipRendererStress : public ComTest {};

TEST_F(PipRendererStress, ThousandRunPauseStopCyclesWhileDeliveringAndReading) {
  Watchdog watchdog(120s);
  const MediaTypeValue type = VideoType(MEDIASUBTYPE_YUY2, 64, 48);
  Chain chain({type});
  ASSERT_EQ(chain.ConnectDirect(type), S_OK);
  ComPtr<IPiPBuffer> buffer = Query<IPiPBuffer>(chain.renderer, IID_IPiPBuffer);
  TestSource& source = *chain.source.get();

  std::atomic<bool> stopReading{false};
  std::atomic<long> framesRead{0};
  std::atomic<uint32_t> checksum{0};
  std::thread reader([&] {
    uint32_t sum = 0;
    while (!stopReading.load()) {
      FrameReadScope reading;
      BYTE* pixels = nullptr;
      int32_t width = 0;
      int32_t height = 0;
      int32_t format = -1;
      if (buffer->GetFrame(&pixels, &width, &height, &format) == S_OK) {
        for (int32_t i = 0; i < width * height * 2; ++i) {
          sum += pixels[i];
        }
        ++framesRead;
      }
    }
    checksum = sum;
  });
  source.StartDelivering();

  // Every state sees samples arrive: the source runs on through each change.
  const auto samplesArrive = [&] {
    const LONG delivered = source.Delivered();
    return WaitFor([&] { return source.Delivered() > delivered; });
  };
  int cycle = 0;
  for (; cycle < 1000; ++cycle) {
    if (chain.control->Run() != S_OK || !samplesArrive()) {
      break;
    }
    const bool probe = cycle % 50 == 0;
    if (probe) {
      // Running: the source's samples are stored.
      const LONG stored = source.Stored();
      EXPECT_TRUE(WaitFor([&] { return source.Stored() > stored; })) << "cycle " << cycle;
    }
    if (chain.control->Pause() != S_OK || !samplesArrive()) {
      break;
    }
    if (probe) {
      // Paused: later samples are refused and the frame stays as it was.
      const std::vector<uint8_t> frame = FrameBytes(chain.renderer.get());
      const LONG delivered = source.Delivered();
      EXPECT_TRUE(WaitFor([&] { return source.Delivered() > delivered + 3; }));
      EXPECT_EQ(FrameBytes(chain.renderer.get()), frame) << "cycle " << cycle;
    }
    if (chain.control->Stop() != S_OK || !samplesArrive()) {
      break;
    }
  }
  EXPECT_EQ(cycle, 1000) << "a state change failed or the source stalled";

  source.StopDelivering();
  stopReading = true;
  reader.join();
  EXPECT_GT(source.Stored(), 0);
  EXPECT_GT(source.Refused(), 0);
  EXPECT_EQ(source.Failed(), 0);
  EXPECT_GT(framesRead.load(), 0);
  std::printf("[          ] %ld samples stored, %ld refused, %ld frames read (checksum %u)\n",
              source.Stored(), source.Refused(), framesRead.load(), checksum.load());
  buffer.reset();
  chain.Release();
}

// The guard in the real renderer: breaking the connection waits for a frame step that has the
// frame, and a frame step that starts afterwards finds none.
TEST_F(PipRendererStress, DisconnectWaitsForAFrameStepInProgress) {
  Watchdog watchdog(60s);
  const MediaTypeValue type = VideoType(MEDIASUBTYPE_RGB24, 32, 8);
  Chain chain({type});
  ASSERT_EQ(chain.ConnectDirect(type), S_OK);
  ComPtr<IPiPBuffer> buffer = Query<IPiPBuffer>(chain.renderer, IID_IPiPBuffer);

  std::promise<void> holding;
  std::promise<void> finish;
  std::shared_future<void> finished = finish.get_future().share();
  std::atomic<bool> stillBlue{false};
  std::thread frameStep([&] {
    FrameReadScope reading;
    BYTE* pixels = nullptr;
    int32_t width = 0;
    EXPECT_EQ(buffer->GetFrame(&pixels, &width, nullptr, nullptr), S_OK);
    holding.set_value();
    finished.wait();
    // Still the live store: the disconnect has not freed it.
    stillBlue = pixels[0] == 0xE0 && pixels[3 * width * 8 - 3] == 0xE0;
  });
  holding.get_future().wait();

  auto disconnected = std::async(std::launch::async, [&] {
    const HRESULT hr = chain.graph->Disconnect(chain.in.get());
    return hr;
  });
  EXPECT_EQ(disconnected.wait_for(200ms), std::future_status::timeout);
  BYTE* pixels = nullptr;
  // Unpublished at once, even while the disconnect waits.
  EXPECT_TRUE(
      WaitFor([&] { return buffer->GetFrame(&pixels, nullptr, nullptr, nullptr) == E_FAIL; }));
  finish.set_value();
  EXPECT_EQ(disconnected.get(), S_OK);
  frameStep.join();
  EXPECT_TRUE(stillBlue.load());
  EXPECT_EQ(FrameReadersForTesting(), 0);

  EXPECT_EQ(chain.graph->Disconnect(chain.out.get()), S_OK);
  buffer.reset();
  chain.Release();
}

}  // namespace
}  // namespace kvx::test
