#include "video/frame_buffer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <future>
#include <thread>
#include <vector>

namespace kvx {
namespace {

// A VIDEOINFOHEADER (88 bytes) or VIDEOINFOHEADER2 (112 bytes) block with the bitmap size set.
struct FormatBlock {
  std::vector<uint8_t> bytes;
  MediaTypeView view;
};

FormatBlock MakeType(const Guid& subtype, int32_t width, int32_t height, bool videoInfo2 = false,
                     uint32_t blockSize = 0) {
  const uint32_t headerOffset = videoInfo2 ? 72 : 48;
  FormatBlock block;
  block.bytes.assign(blockSize != 0 ? blockSize : headerOffset + 40, 0);
  if (block.bytes.size() >= headerOffset + 12) {
    std::memcpy(&block.bytes[headerOffset + 4], &width, 4);
    std::memcpy(&block.bytes[headerOffset + 8], &height, 4);
  }
  block.view =
      MediaTypeView{kMediaTypeVideo, subtype, videoInfo2 ? kFormatVideoInfo2 : kFormatVideoInfo,
                    static_cast<uint32_t>(block.bytes.size()), block.bytes.data()};
  return block;
}

// Stands in for IMediaSample.
struct FakeSample {
  std::vector<uint8_t> data;
  long actualLength = 0;
  HResult pointerResult = kOk;
  std::function<void()> onGetPointer;

  HResult GetPointer(unsigned char** out) {
    if (onGetPointer) {
      onGetPointer();
    }
    *out = data.empty() ? nullptr : data.data();
    return pointerResult;
  }
  long GetSize() const { return static_cast<long>(data.size()); }
  long GetActualDataLength() const { return actualLength; }
};

FakeSample MakeSample(size_t bytes, uint8_t value) {
  FakeSample s;
  s.data.assign(bytes, value);
  s.actualLength = static_cast<long>(bytes);
  return s;
}

uint8_t* Pixels(const PipFrameBuffer& buffer) {
  uint8_t* p = nullptr;
  EXPECT_EQ(buffer.GetFrame(&p, nullptr, nullptr, nullptr), kOk);
  return p;
}

bool IsPattern(const uint8_t* p, size_t size, std::vector<uint8_t> pattern) {
  for (size_t i = 0; i < size; ++i) {
    if (p[i] != pattern[i % pattern.size()]) {
      return false;
    }
  }
  return true;
}

TEST(FrameBuffer, Yuy2ConnectionIsSizedAlignedAndBlue) {
  PipFrameBuffer buffer;
  FormatBlock type = MakeType(kSubtypeYuy2, 720, 576);
  ASSERT_EQ(buffer.SetFrameFormat(type.view), kOk);
  EXPECT_EQ(buffer.size(), 829440);
  ASSERT_EQ(buffer.AllocateFrame(), kOk);

  uint8_t* p = nullptr;
  int32_t w = 0, h = 0, f = -1;
  ASSERT_EQ(buffer.GetFrame(&p, &w, &h, &f), kOk);
  EXPECT_EQ(w, 720);
  EXPECT_EQ(h, 576);
  EXPECT_EQ(f, kBufferYuy2);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % kFrameAlignment, 0u);
  EXPECT_TRUE(IsPattern(p, 829440, {0x1B, 0xE8, 0x1B, 0x65}));
}

TEST(FrameBuffer, UyvyAndRgb24FillsAndTopDownHeight) {
  PipFrameBuffer uyvy;
  FormatBlock uyvyType = MakeType(kSubtypeUyvy, 352, 288, /*videoInfo2=*/true);
  ASSERT_EQ(uyvy.SetFrameFormat(uyvyType.view), kOk);
  ASSERT_EQ(uyvy.AllocateFrame(), kOk);
  EXPECT_EQ(uyvy.format(), kBufferUyvy);
  EXPECT_TRUE(IsPattern(Pixels(uyvy), 352 * 288 * 2, {0xE8, 0x1B, 0x65, 0x1B}));

  PipFrameBuffer rgb;
  FormatBlock rgbType = MakeType(kSubtypeRgb24, 720, -576);  // top row first
  ASSERT_EQ(rgb.SetFrameFormat(rgbType.view), kOk);
  EXPECT_EQ(rgb.height(), 576);
  EXPECT_EQ(rgb.size(), 1244160);
  ASSERT_EQ(rgb.AllocateFrame(), kOk);
  EXPECT_EQ(rgb.format(), kBufferRgb24);
  EXPECT_TRUE(IsPattern(Pixels(rgb), 1244160, {0xE0, 0x00, 0x00}));
  PipFrameView view{};
  ASSERT_EQ(rgb.GetFrameView(&view), kOk);
  EXPECT_EQ(view.topDown, 1);
  // The sign tells the row order of RGB24 alone; 4:2:2 rows always come top row first.
  ASSERT_EQ(rgb.SetFrameFormat(MakeType(kSubtypeRgb24, 720, 576).view), kOk);
  EXPECT_FALSE(rgb.topDown());
  ASSERT_EQ(uyvy.SetFrameFormat(MakeType(kSubtypeUyvy, 352, -288).view), kOk);
  EXPECT_FALSE(uyvy.topDown());
}

// A driver that changes its frame size while streaming attaches the new type to a sample: the
// store takes that shape before the bytes are copied, and never copies a sample into a shape it
// does not describe.
TEST(FrameBuffer, SampleTypesChangeTheStoreBeforeTheirBytesAreCopied) {
  PipFrameBuffer buffer;
  ASSERT_EQ(buffer.SetFrameFormat(MakeType(kSubtypeYuy2, 16, 8).view), kOk);
  ASSERT_EQ(buffer.AllocateFrame(), kOk);
  buffer.StartStreaming();
  const auto view = [&] {
    PipFrameView v{};
    EXPECT_EQ(buffer.GetFrameView(&v), kOk);
    return v;
  };
  const auto store = [&](const FormatBlock* type, size_t bytes, uint8_t value) {
    FakeSample sample = MakeSample(bytes, value);
    return buffer.StoreSample(&sample, type != nullptr ? &type->view : nullptr);
  };

  // Smaller: the store is exactly the new frame, with no rest of the old one.
  const FormatBlock smaller = MakeType(kSubtypeYuy2, 8, 4);
  EXPECT_EQ(store(&smaller, 64, 0x11), kOk);
  PipFrameView v = view();
  EXPECT_EQ(v.width, 8);
  EXPECT_EQ(v.height, 4);
  EXPECT_EQ(buffer.size(), 64);
  EXPECT_TRUE(IsPattern(v.pixels, 64, {0x11}));
  // The same type announced again keeps the store; later samples go on into it.
  EXPECT_EQ(store(&smaller, 64, 0x12), kOk);
  EXPECT_EQ(view().pixels, v.pixels);
  EXPECT_EQ(store(nullptr, 64, 0x13), kOk);
  EXPECT_TRUE(IsPattern(view().pixels, 64, {0x13}));

  // Another subtype and row order, and a short first sample: the rest is blue, not stale.
  const FormatBlock topDown = MakeType(kSubtypeRgb24, 4, -2);
  EXPECT_EQ(store(&topDown, 12, 0x21), kOk);
  v = view();
  EXPECT_EQ(v.format, kBufferRgb24);
  EXPECT_EQ(v.topDown, 1);
  EXPECT_TRUE(IsPattern(v.pixels, 12, {0x21}));
  EXPECT_TRUE(IsPattern(v.pixels + 12, 12, {0xE0, 0x00, 0x00}));

  // A type the store cannot hold: this sample and the ones after it are refused and the store
  // keeps its last frame, until a type it can hold comes.
  FormatBlock notVideo = MakeType(kSubtypeYuy2, 8, 4);
  notVideo.view.majortype = kSubtypeYuy2;
  for (const FormatBlock& refused :
       {MakeType(kSubtypeYuy2, 7, 4), MakeType(kMediaTypeVideo, 8, 4), notVideo}) {
    const std::vector<uint8_t> before(v.pixels, v.pixels + 12);
    EXPECT_EQ(store(&refused, 64, 0x31), kInvalidMediaType);
    EXPECT_EQ(store(nullptr, 64, 0x32), kRuntimeError);
    EXPECT_TRUE(buffer.Refusing());
    EXPECT_EQ(view().refused, 1);  // drawn as no live picture
    EXPECT_EQ(view().pixels, v.pixels);
    EXPECT_EQ(std::vector<uint8_t>(v.pixels, v.pixels + 12), before);
    EXPECT_EQ(store(&topDown, 24, 0x33), kOk);
    EXPECT_TRUE(IsPattern(view().pixels, 24, {0x33}));
    EXPECT_EQ(view().refused, 0);
  }

  // Without memory for the new shape the old store stays and nothing more is copied; a new
  // connection starts afresh.
  PipFrameBuffer::FailAllocationsForTesting(true);
  EXPECT_EQ(store(&smaller, 64, 0x41), kOutOfMemory);
  PipFrameBuffer::FailAllocationsForTesting(false);
  EXPECT_EQ(store(nullptr, 64, 0x42), kRuntimeError);
  EXPECT_EQ(view().format, kBufferRgb24);
  buffer.StopStreaming();
  ASSERT_EQ(buffer.SetFrameFormat(MakeType(kSubtypeUyvy, 8, 4).view), kOk);
  ASSERT_EQ(buffer.AllocateFrame(), kOk);
  buffer.StartStreaming();
  EXPECT_EQ(store(nullptr, 64, 0x43), kOk);
  EXPECT_TRUE(IsPattern(view().pixels, 64, {0x43}));
}

// 4:2:0 frames (NV12, I420, YV12) are kept as YUY2: each chroma sample serves the 2x2 luma
// block it covers, so the compositor and its exact rules see a 4:2:2 frame.
TEST(FrameBuffer, PlanarFramesAreStoredAsYuy2WithEachChromaRowForItsTwoLumaRows) {
  // A 4x4 frame: luma 10 + the pixel's index, chroma U 100 + block, V 200 + block.
  std::vector<uint8_t> y(16);
  for (size_t i = 0; i < y.size(); ++i) {
    y[i] = static_cast<uint8_t>(10 + i);
  }
  const uint8_t u[] = {100, 101, 102, 103};  // blocks: top left, top right, bottom left, right
  const uint8_t v[] = {200, 201, 202, 203};
  const struct {
    Guid subtype;
    std::vector<uint8_t> chroma;
  } cases[] = {
      {kSubtypeNv12, {u[0], v[0], u[1], v[1], u[2], v[2], u[3], v[3]}},
      {kSubtypeI420, {u[0], u[1], u[2], u[3], v[0], v[1], v[2], v[3]}},
      {kSubtypeYv12, {v[0], v[1], v[2], v[3], u[0], u[1], u[2], u[3]}},
  };
  for (const auto& c : cases) {
    PipFrameBuffer buffer;
    ASSERT_EQ(buffer.SetFrameFormat(MakeType(c.subtype, 4, 4).view), kOk);
    EXPECT_EQ(buffer.format(), kBufferYuy2);
    EXPECT_EQ(buffer.size(), 4 * 4 * 2);
    ASSERT_EQ(buffer.AllocateFrame(), kOk);
    buffer.StartStreaming();
    FakeSample sample;
    sample.data = y;
    sample.data.insert(sample.data.end(), c.chroma.begin(), c.chroma.end());
    sample.actualLength = static_cast<long>(sample.data.size());
    ASSERT_EQ(buffer.StoreSample(&sample), kOk);
    std::vector<uint8_t> expected;
    for (int row = 0; row < 4; ++row) {
      for (int pair = 0; pair < 2; ++pair) {
        const int block = row / 2 * 2 + pair;
        expected.insert(expected.end(),
                        {y[row * 4 + pair * 2], u[block], y[row * 4 + pair * 2 + 1], v[block]});
      }
    }
    EXPECT_EQ(std::vector<uint8_t>(Pixels(buffer), Pixels(buffer) + 32), expected);
    // A sample short of its last row pair's bytes leaves that pair as it was.
    FakeSample shorter = sample;
    std::fill(shorter.data.begin(), shorter.data.begin() + 16, uint8_t{0});
    shorter.actualLength = 20;
    ASSERT_EQ(buffer.StoreSample(&shorter), kOk);
    EXPECT_EQ(Pixels(buffer)[0], SameGuid(c.subtype, kSubtypeNv12) ? 0 : expected[0]);
    EXPECT_EQ(Pixels(buffer)[16], expected[16]);
  }
  // Planes need whole 2x2 blocks.
  PipFrameBuffer odd;
  EXPECT_EQ(odd.SetFrameFormat(MakeType(kSubtypeNv12, 4, 3).view), kFail);
  EXPECT_EQ(odd.SetFrameFormat(MakeType(kSubtypeI420, 5, 4).view), kFail);
}

TEST(FrameBuffer, RefusesTypesItCannotRead) {
  PipFrameBuffer buffer;
  FormatBlock unknownFormat = MakeType(kSubtypeYuy2, 320, 240);
  unknownFormat.view.formattype = kSubtypeYuy2;
  EXPECT_EQ(buffer.SetFrameFormat(unknownFormat.view), kFail);
  EXPECT_EQ(buffer.size(), 0);
  EXPECT_EQ(buffer.width(), 0);

  // An unknown subtype leaves the size read but the store unsized, so nothing is allocated.
  FormatBlock rgb32 = MakeType(kMediaTypeVideo, 320, 240);
  EXPECT_EQ(buffer.SetFrameFormat(rgb32.view), kFail);
  EXPECT_EQ(buffer.width(), 320);
  EXPECT_EQ(buffer.height(), 240);
  EXPECT_EQ(buffer.size(), 0);
  EXPECT_EQ(buffer.AllocateFrame(), kFail);
  uint8_t* p = nullptr;
  EXPECT_EQ(buffer.GetFrame(&p, nullptr, nullptr, nullptr), kFail);
}

TEST(FrameBuffer, RefusesFormatBlocksShorterThanTheirHeader) {
  PipFrameBuffer buffer;
  EXPECT_EQ(buffer.SetFrameFormat(MakeType(kSubtypeYuy2, 320, 240, false, 87).view), kFail);
  EXPECT_EQ(buffer.SetFrameFormat(MakeType(kSubtypeYuy2, 320, 240, false, 88).view), kOk);
  EXPECT_EQ(buffer.SetFrameFormat(MakeType(kSubtypeYuy2, 320, 240, true, 111).view), kFail);
  EXPECT_EQ(buffer.SetFrameFormat(MakeType(kSubtypeYuy2, 320, 240, true, 112).view), kOk);
  // A VIDEOINFOHEADER-sized block announced as VIDEOINFOHEADER2.
  FormatBlock lying = MakeType(kSubtypeYuy2, 320, 240);
  lying.view.formattype = kFormatVideoInfo2;
  EXPECT_EQ(buffer.SetFrameFormat(lying.view), kFail);
  FormatBlock noBlock = MakeType(kSubtypeYuy2, 320, 240);
  noBlock.view.format = nullptr;
  EXPECT_EQ(buffer.SetFrameFormat(noBlock.view), kFail);
  EXPECT_EQ(buffer.size(), 0);
}

TEST(FrameBuffer, RefusesAbsurdSizesAndOdd422Widths) {
  struct Case {
    Guid subtype;
    int32_t width;
    int32_t height;
  };
  const Case refused[] = {
      {kSubtypeYuy2, 0, 240},        {kSubtypeYuy2, -320, 240}, {kSubtypeRgb24, 8193, 2},
      {kSubtypeRgb24, 2, 8193},      {kSubtypeRgb24, 2, -8193}, {kSubtypeRgb24, 2, INT32_MIN},
      {kSubtypeRgb24, INT32_MAX, 2}, {kSubtypeYuy2, 721, 576},  {kSubtypeUyvy, 1, 1},
  };
  for (const Case& c : refused) {
    PipFrameBuffer buffer;
    EXPECT_EQ(buffer.SetFrameFormat(MakeType(c.subtype, c.width, c.height).view), kFail)
        << c.width << "x" << c.height;
    EXPECT_EQ(buffer.size(), 0);
    EXPECT_EQ(buffer.AllocateFrame(), kFail);
  }

  PipFrameBuffer largest;
  ASSERT_EQ(largest.SetFrameFormat(MakeType(kSubtypeRgb24, 8192, -8192).view), kOk);
  EXPECT_EQ(largest.size(), 8192 * 8192 * 3);
  PipFrameBuffer oddRgb;
  ASSERT_EQ(oddRgb.SetFrameFormat(MakeType(kSubtypeRgb24, 7, 3).view), kOk);
  EXPECT_EQ(oddRgb.size(), 63);
  // A zero height passes the format but leaves nothing to allocate.
  PipFrameBuffer flat;
  EXPECT_EQ(flat.SetFrameFormat(MakeType(kSubtypeYuy2, 320, 0).view), kOk);
  EXPECT_EQ(flat.AllocateFrame(), kFail);
}

TEST(FrameBuffer, FailedAllocationIsAnErrorAndNothingIsCopied) {
  PipFrameBuffer buffer;
  ASSERT_EQ(buffer.SetFrameFormat(MakeType(kSubtypeYuy2, 64, 4).view), kOk);
  ASSERT_EQ(buffer.AllocateFrame(), kOk);
  PipFrameBuffer::FailAllocationsForTesting(true);
  EXPECT_EQ(buffer.AllocateFrame(), kOutOfMemory);
  PipFrameBuffer::FailAllocationsForTesting(false);

  uint8_t* p = reinterpret_cast<uint8_t*>(1);
  EXPECT_EQ(buffer.GetFrame(&p, nullptr, nullptr, nullptr), kFail);
  buffer.StartStreaming();
  FakeSample sample = MakeSample(512, 0x42);
  EXPECT_EQ(buffer.StoreSample(&sample), kOk);
  EXPECT_EQ(buffer.GetFrame(&p, nullptr, nullptr, nullptr), kFail);
}

TEST(FrameBuffer, FreeFrameEmptiesTheStoreButKeepsTheFormat) {
  PipFrameBuffer buffer;
  ASSERT_EQ(buffer.SetFrameFormat(MakeType(kSubtypeRgb24, 16, 16).view), kOk);
  ASSERT_EQ(buffer.AllocateFrame(), kOk);
  EXPECT_EQ(buffer.FreeFrame(), kOk);
  EXPECT_EQ(buffer.size(), 0);
  EXPECT_EQ(buffer.width(), 0);
  EXPECT_EQ(buffer.height(), 0);
  EXPECT_EQ(buffer.format(), kBufferRgb24);
  uint8_t* p = nullptr;
  EXPECT_EQ(buffer.GetFrame(&p, nullptr, nullptr, nullptr), kFail);
  EXPECT_EQ(buffer.GetFrame(nullptr, nullptr, nullptr, nullptr), kPointer);

  // A new connection replaces the store.
  ASSERT_EQ(buffer.SetFrameFormat(MakeType(kSubtypeYuy2, 8, 2).view), kOk);
  ASSERT_EQ(buffer.AllocateFrame(), kOk);
  EXPECT_TRUE(IsPattern(Pixels(buffer), 32, {0x1B, 0xE8, 0x1B, 0x65}));
}

TEST(FrameBuffer, StoresSamplesOnlyWhileStreaming) {
  PipFrameBuffer buffer;
  ASSERT_EQ(buffer.SetFrameFormat(MakeType(kSubtypeYuy2, 8, 2).view), kOk);  // 32 bytes
  ASSERT_EQ(buffer.AllocateFrame(), kOk);
  EXPECT_EQ(buffer.StoreSample<FakeSample>(nullptr), kPointer);

  FakeSample first = MakeSample(32, 0x11);
  EXPECT_EQ(buffer.StoreSample(&first), kFalse);
  EXPECT_TRUE(IsPattern(Pixels(buffer), 32, {0x1B, 0xE8, 0x1B, 0x65}));

  const auto fresh = [&] {
    PipFrameView v{};
    EXPECT_EQ(buffer.GetFrameView(&v), kOk);
    return v.fresh;
  };
  buffer.StartStreaming();
  EXPECT_EQ(fresh(), 0);
  EXPECT_EQ(buffer.StoreSample(&first), kOk);
  EXPECT_TRUE(IsPattern(Pixels(buffer), 32, {0x11}));
  EXPECT_EQ(fresh(), 1);

  buffer.StopStreaming();
  FakeSample refused = MakeSample(32, 0x22);
  EXPECT_EQ(buffer.StoreSample(&refused), kFalse);
  EXPECT_TRUE(IsPattern(Pixels(buffer), 32, {0x11}));
  // Streaming again, the frame kept from before is no live one until a sample comes.
  buffer.StartStreaming();
  EXPECT_EQ(fresh(), 0);
}

TEST(FrameBuffer, CutsLongSamplesAndKeepsTheRestAfterShortOnes) {
  PipFrameBuffer buffer;
  ASSERT_EQ(buffer.SetFrameFormat(MakeType(kSubtypeYuy2, 8, 2).view), kOk);
  ASSERT_EQ(buffer.AllocateFrame(), kOk);
  buffer.StartStreaming();

  FakeSample longer = MakeSample(4096, 0x33);
  EXPECT_EQ(buffer.StoreSample(&longer), kOk);
  EXPECT_TRUE(IsPattern(Pixels(buffer), 32, {0x33}));

  FakeSample shorter = MakeSample(32, 0x44);
  shorter.actualLength = 10;
  EXPECT_EQ(buffer.StoreSample(&shorter), kOk);
  EXPECT_TRUE(IsPattern(Pixels(buffer), 10, {0x44}));
  EXPECT_TRUE(IsPattern(Pixels(buffer) + 10, 22, {0x33}));

  FakeSample negative = MakeSample(32, 0x55);
  negative.actualLength = -5;
  EXPECT_EQ(buffer.StoreSample(&negative), kOk);
  EXPECT_TRUE(IsPattern(Pixels(buffer), 10, {0x44}));

  // A sample that claims more data than it holds is read only up to its own end.
  FakeSample lying = MakeSample(8, 0x5A);
  lying.actualLength = 1000;
  EXPECT_EQ(buffer.StoreSample(&lying), kOk);
  EXPECT_TRUE(IsPattern(Pixels(buffer), 8, {0x5A}));
  EXPECT_TRUE(IsPattern(Pixels(buffer) + 8, 2, {0x44}));

  FakeSample broken = MakeSample(32, 0x66);
  broken.pointerResult = kFail;
  EXPECT_EQ(buffer.StoreSample(&broken), kFail);
  EXPECT_TRUE(IsPattern(Pixels(buffer), 8, {0x5A}));
}

TEST(FrameBuffer, StopStreamingWaitsForACopyInProgress) {
  PipFrameBuffer buffer;
  ASSERT_EQ(buffer.SetFrameFormat(MakeType(kSubtypeYuy2, 8, 2).view), kOk);
  ASSERT_EQ(buffer.AllocateFrame(), kOk);
  buffer.StartStreaming();

  std::promise<void> entered;
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  FakeSample sample = MakeSample(32, 0x77);
  sample.onGetPointer = [&] {
    entered.set_value();
    released.wait();
  };
  std::thread streaming([&] { EXPECT_EQ(buffer.StoreSample(&sample), kOk); });
  entered.get_future().wait();

  std::atomic<bool> stopped{false};
  std::thread control([&] {
    buffer.StopStreaming();
    stopped = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(stopped.load());
  release.set_value();
  control.join();
  streaming.join();
  EXPECT_TRUE(stopped.load());
  EXPECT_TRUE(IsPattern(Pixels(buffer), 32, {0x77}));
  EXPECT_FALSE(buffer.Streaming());
}

}  // namespace
}  // namespace kvx
