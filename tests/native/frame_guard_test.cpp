// The frame-buffer lifetime guard: a frame step that has the frame keeps it alive until it ends,
// across disconnects and reconnects, while samples keep arriving.
#include "video/frame_guard.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <future>
#include <thread>
#include <vector>

#include "video/frame_buffer.h"

namespace kvx {
namespace {

using namespace std::chrono_literals;

struct VideoInfo {
  std::vector<uint8_t> block;
  MediaTypeView view;
};

// A YUY2 VIDEOINFOHEADER type of width x height.
VideoInfo Yuy2(int32_t width, int32_t height) {
  VideoInfo type;
  type.block.assign(88, 0);
  std::memcpy(&type.block[52], &width, 4);
  std::memcpy(&type.block[56], &height, 4);
  type.view = MediaTypeView{kMediaTypeVideo, kSubtypeYuy2, kFormatVideoInfo, 88, type.block.data()};
  return type;
}

// Stands in for IMediaSample: a buffer of one value.
struct Sample {
  std::vector<uint8_t> data;
  int GetPointer(unsigned char** out) {
    *out = data.data();
    return 0;
  }
  long GetSize() const { return static_cast<long>(data.size()); }
  long GetActualDataLength() const { return static_cast<long>(data.size()); }
};

// Reads every byte, as the compositor would. Kept out of line: under ThreadSanitizer its reads
// racing with a sample copy are the designed race (tests/native/tsan.supp).
[[gnu::noinline]] unsigned ReadWholeFrame(const uint8_t* pixels, size_t bytes) {
  unsigned sum = 0;
  for (size_t i = 0; i < bytes; ++i) {
    sum += pixels[i];
  }
  return sum;
}

void Connect(PipFrameBuffer& buffer, int32_t width, int32_t height) {
  ASSERT_EQ(buffer.SetFrameFormat(Yuy2(width, height).view), kOk);
  ASSERT_EQ(buffer.AllocateFrame(), kOk);
}

TEST(FrameGuard, WaitReturnsAtOnceWithoutFrameSteps) {
  EXPECT_EQ(FrameReadersForTesting(), 0);
  auto waited = std::async(std::launch::async, [] { WaitForFrameReaders(); });
  EXPECT_EQ(waited.wait_for(5s), std::future_status::ready);
  {
    FrameReadScope scope;
    EXPECT_EQ(FrameReadersForTesting(), 1);
  }
  EXPECT_EQ(FrameReadersForTesting(), 0);
}

TEST(FrameGuard, FreeFrameWaitsForAFrameStepThatHasTheFrame) {
  PipFrameBuffer buffer;
  Connect(buffer, 64, 4);
  std::promise<void> holding;
  std::promise<void> finish;
  std::shared_future<void> finished = finish.get_future().share();
  std::atomic<bool> readBlue{false};
  std::thread frameStep([&] {
    FrameReadScope reading;
    uint8_t* pixels = nullptr;
    ASSERT_EQ(buffer.GetFrame(&pixels, nullptr, nullptr, nullptr), kOk);
    holding.set_value();
    finished.wait();
    readBlue = pixels[0] == 0x1B && pixels[64 * 4 * 2 - 1] == 0x65;
  });
  holding.get_future().wait();

  auto freed = std::async(std::launch::async, [&] { return buffer.FreeFrame(); });
  EXPECT_EQ(freed.wait_for(100ms), std::future_status::timeout);
  // Frame steps that start now find nothing, even before the old store is freed.
  uint8_t* pixels = nullptr;
  for (int i = 0; i < 1000 && buffer.GetFrame(&pixels, nullptr, nullptr, nullptr) == kOk; ++i) {
    std::this_thread::sleep_for(1ms);
  }
  EXPECT_EQ(buffer.GetFrame(&pixels, nullptr, nullptr, nullptr), kFail);
  finish.set_value();
  EXPECT_EQ(freed.get(), kOk);
  frameStep.join();
  EXPECT_TRUE(readBlue.load());
}

// Frame steps that begin while a disconnect waits must not keep it waiting: with one frame
// thread after another, there is no moment without a frame step in progress.
TEST(FrameGuard, LaterFrameStepsDoNotDelayTheWait) {
  PipFrameBuffer buffer;
  Connect(buffer, 8, 2);
  auto first = std::make_unique<FrameReadScope>();
  auto freed = std::async(std::launch::async, [&] { return buffer.FreeFrame(); });
  uint8_t* pixels = nullptr;
  while (buffer.GetFrame(&pixels, nullptr, nullptr, nullptr) == kOk) {
    std::this_thread::yield();
  }
  // Wait until the waiter has moved on to counting only the first scope.
  std::this_thread::sleep_for(50ms);
  auto second = std::make_unique<FrameReadScope>();
  first.reset();
  EXPECT_EQ(freed.wait_for(5s), std::future_status::ready) << "the wait starved";
  second.reset();
  EXPECT_EQ(freed.get(), kOk);
  EXPECT_EQ(FrameReadersForTesting(), 0);
}

TEST(FrameGuard, SampleThatPassedTheFlagBeforeStopIsNotCopiedAfterIt) {
  PipFrameBuffer buffer;
  Connect(buffer, 8, 2);
  buffer.StartStreaming();
  Sample sample{std::vector<uint8_t>(32, 0x77)};
  buffer.ReceiveLock().Enter();
  auto stored = std::async(std::launch::async, [&] { return buffer.StoreSample(&sample); });
  // The sample is now past the first flag test, waiting for the lock.
  std::this_thread::sleep_for(100ms);
  buffer.StopStreaming();
  buffer.ReceiveLock().Leave();
  EXPECT_EQ(stored.get(), kFalse);
  uint8_t* pixels = nullptr;
  ASSERT_EQ(buffer.GetFrame(&pixels, nullptr, nullptr, nullptr), kOk);
  EXPECT_EQ(pixels[0], 0x1B);
}

// Connections made and broken over and over while a streaming thread copies samples, changing
// the frame size now and then, and a frame thread reads every byte of whatever frame it gets. Under
// AddressSanitizer a read of a freed store fails the run; under ThreadSanitizer so does an
// unordered access.
TEST(FrameGuard, NoReadOfAFreedStoreAcrossDisconnects) {
  PipFrameBuffer buffer;
  std::atomic<bool> stop{false};
  std::atomic<long> framesRead{0};
  std::atomic<long> samplesStored{0};
  std::atomic<unsigned> checksum{0};

  std::thread streaming([&] {
    Sample sample{std::vector<uint8_t>(64 * 64 * 2, 0)};
    // Now and then the driver changes the frame size while streaming, as with a new standard.
    const VideoInfo changes[] = {Yuy2(64, 64), Yuy2(8, 8), Yuy2(32, 16)};
    for (uint8_t fill = 0; !stop.load(); ++fill) {
      std::memset(sample.data.data(), fill, sample.data.size());
      const MediaTypeView* change = fill % 16 == 0 ? &changes[fill / 16 % 3].view : nullptr;
      if (buffer.StoreSample(&sample, change) == kOk) {
        ++samplesStored;
      }
    }
  });
  std::thread frameThread([&] {
    unsigned sum = 0;
    while (!stop.load()) {
      FrameReadScope reading;
      uint8_t* pixels = nullptr;
      int32_t width = 0;
      int32_t height = 0;
      if (buffer.GetFrame(&pixels, &width, &height, nullptr) == kOk) {
        sum += ReadWholeFrame(pixels, static_cast<size_t>(width) * height * 2);
        ++framesRead;
      }
    }
    checksum = sum;
  });

  // Sizes change so that a stale size or pointer would run off the end of a new store.
  const int32_t sides[] = {8, 64, 16, 32};
  for (int cycle = 0; cycle < 400; ++cycle) {
    const int32_t side = sides[cycle % 4];
    Connect(buffer, side, side);
    buffer.StartStreaming();
    const long before = samplesStored.load();
    for (int i = 0; i < 10000 && samplesStored.load() == before; ++i) {
      std::this_thread::yield();
    }
    buffer.StopStreaming();
    ASSERT_EQ(buffer.FreeFrame(), kOk);
  }
  stop = true;
  streaming.join();
  frameThread.join();
  EXPECT_GT(framesRead.load(), 0);
  EXPECT_GT(samplesStored.load(), 0);
  EXPECT_EQ(FrameReadersForTesting(), 0);
}

}  // namespace
}  // namespace kvx
