// The vector kernels against the reference kernels, byte for byte, over random geometry; the
// reference draws every row through the row and column passes, so the rows the compositor copies
// straight from the source are held to them too. Built natively and, as compose_tests.exe, with
// the shipped 32-bit code generation (tests/CMakeLists.txt).
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "compose/compositor.h"
#include "support/pixels.h"

namespace kvx {
namespace {

struct ComposeCase {
  int32_t srcLayout, srcWidth, srcHeight;
  Rect crop;
  int32_t dstLayout, dstWidth, dstHeight;
  Rect rect;
  int32_t opacity;
  size_t srcShift, dstShift;  // start the frames off 16-byte alignment
};

int32_t Between(std::mt19937& rng, int32_t lo, int32_t hi) {
  return std::uniform_int_distribution<int32_t>(lo, hi)(rng);
}

ComposeCase RandomCase(std::mt19937& rng) {
  const int32_t layouts[] = {kLayoutYuy2, kLayoutUyvy, kLayoutRgb24, kLayoutRgb24TopDown};
  ComposeCase c{};
  c.srcLayout = layouts[Between(rng, 0, 3)];
  c.dstLayout = Between(rng, 0, 1) == 0 ? kLayoutYuy2 : kLayoutRgb24;
  const bool big = Between(rng, 0, 9) == 0;
  c.srcWidth = Between(rng, 1, big ? 400 : 70);
  c.srcHeight = Between(rng, 1, big ? 300 : 50);
  c.dstWidth = Between(rng, 1, big ? 800 : 90);
  c.dstHeight = Between(rng, 1, big ? 600 : 60);
  if (Between(rng, 0, 1) == 0) {
    // A centred zoom crop, as the frame step makes it.
    const int32_t zoom = Between(rng, 50, 200);
    const int32_t cw = c.srcWidth * 100 / zoom;
    const int32_t ch = c.srcHeight * 100 / zoom;
    c.crop = {(c.srcWidth - cw) / 2, (c.srcHeight - ch) / 2, (c.srcWidth - cw) / 2 + cw,
              (c.srcHeight - ch) / 2 + ch};
  } else {
    const int32_t l = Between(rng, -10, c.srcWidth);
    const int32_t t = Between(rng, -10, c.srcHeight);
    c.crop = {l, t, l + Between(rng, 0, c.srcWidth + 10), t + Between(rng, 0, c.srcHeight + 10)};
  }
  const int32_t l = Between(rng, -c.dstWidth / 2, c.dstWidth);
  const int32_t t = Between(rng, -c.dstHeight / 2, c.dstHeight);
  c.rect = {l, t, l + Between(rng, 0, 2 * c.dstWidth), t + Between(rng, 0, 2 * c.dstHeight)};
  if (Between(rng, 0, 2) == 0) {
    // The crop's own size: rows and columns map one to one.
    c.rect.right = l + c.crop.Width();
    c.rect.bottom = t + c.crop.Height();
    if (Between(rng, 0, 1) == 0) {
      c.dstLayout = IsRgb24(c.srcLayout) ? kLayoutRgb24 : kLayoutYuy2;
    }
  }
  const int32_t pick = Between(rng, 0, 9);
  c.opacity = pick == 0 ? 100 : pick == 1 ? 0 : Between(rng, 1, 99);
  c.srcShift = static_cast<size_t>(Between(rng, 0, 15));
  c.dstShift = static_cast<size_t>(Between(rng, 0, 15));
  return c;
}

// Runs one case at one level on fresh copies of the source and the destination; each copy's last
// row ends where the memory the program may touch ends, so reading or writing past a row's end
// faults (see ExactBuffer).
std::vector<uint8_t> Run(Compositor& compositor, const ComposeCase& c,
                         const std::vector<uint8_t>& src, const std::vector<uint8_t>& dstStart) {
  testing::ExactBuffer source(src);
  testing::ExactBuffer dst(dstStart);
  compositor.Compose(source.data() + c.srcShift, c.srcWidth, c.srcHeight, c.crop, c.srcLayout,
                     dst.data() + c.dstShift, c.dstWidth, c.dstHeight, c.rect, c.dstLayout,
                     c.opacity);
  return dst.bytes();
}

// Draws one case at the reference and at the tested level; a failure names the case and the
// first byte that differs.
void ExpectSame(Compositor& reference, Compositor& tested, const ComposeCase& c, std::mt19937& rng,
                const std::string& name) {
  const std::vector<uint8_t> src = testing::RandomFrame(
      rng, c.srcShift + testing::FrameBytes(c.srcLayout, c.srcWidth, c.srcHeight));
  const std::vector<uint8_t> dst = testing::RandomFrame(
      rng, c.dstShift + testing::FrameBytes(c.dstLayout, c.dstWidth, c.dstHeight));
  const std::vector<uint8_t> expected = Run(reference, c, src, dst);
  const std::vector<uint8_t> actual = Run(tested, c, src, dst);
  if (expected != actual) {
    size_t at = 0;
    while (expected[at] == actual[at]) {
      ++at;
    }
    ADD_FAILURE() << name << ": layouts " << c.srcLayout << "->" << c.dstLayout << ", src "
                  << c.srcWidth << "x" << c.srcHeight << " crop {" << c.crop.left << ","
                  << c.crop.top << "," << c.crop.right << "," << c.crop.bottom << "}, dst "
                  << c.dstWidth << "x" << c.dstHeight << " rect {" << c.rect.left << ","
                  << c.rect.top << "," << c.rect.right << "," << c.rect.bottom << "}, opacity "
                  << c.opacity << ": first difference at byte " << at - c.dstShift << ": "
                  << int{expected[at]} << " != " << int{actual[at]};
  }
}

void Compare(Isa isa, int cases, uint32_t seed) {
  std::mt19937 rng(seed);
  Compositor reference;
  reference.SetIsa(Isa::kScalar);
  reference.SetShortcutsForTesting(false);
  Compositor vector;
  vector.SetIsa(isa);
  for (int i = 0; i < cases && !::testing::Test::HasFailure(); ++i) {
    ExpectSame(reference, vector, RandomCase(rng), rng,
               "case " + std::to_string(i) + " (seed " + std::to_string(seed) + ")");
  }
}

// Column reductions from none to three to one, densely around two to one, where a pixel pair's
// samples stop fitting in the 16 bytes the SSSE3 and AVX2 column kernels read them from, and the
// kernels read every sample on its own instead: both ways, at both parities and both blends.
void CompareAcrossReductions(Isa isa) {
  std::mt19937 rng(2112);
  Compositor reference;
  reference.SetIsa(Isa::kScalar);
  reference.SetShortcutsForTesting(false);
  Compositor vector;
  vector.SetIsa(isa);
  for (const int32_t srcLayout : {kLayoutYuy2, kLayoutRgb24}) {
    for (const int32_t dstLayout : {kLayoutYuy2, kLayoutRgb24}) {
      for (int32_t cropWidth = 60; cropWidth <= 190 && !::testing::Test::HasFailure();
           cropWidth += cropWidth < 110 || cropWidth > 130 ? 7 : 1) {
        ComposeCase c{};
        c.srcLayout = srcLayout;
        c.srcWidth = 200;
        c.srcHeight = 6;
        c.crop = {3, 1, 3 + cropWidth, 5};
        c.dstLayout = dstLayout;
        c.dstWidth = 80;
        c.dstHeight = 5;
        c.rect = {cropWidth % 2, 0, cropWidth % 2 + 61, 3};
        c.opacity = cropWidth % 3 == 0 ? 100 : 60;
        ExpectSame(reference, vector, c, rng, "crop width " + std::to_string(cropWidth));
      }
    }
  }
}

// A top-down RGB24 frame is the same picture as its rows stored the other way round, and is
// drawn to the same bytes, at every level and on the copied rows too.
TEST(CompositorDifferential, TopDownRgb24DrawsAsTheSamePictureStoredBottomUp) {
  std::mt19937 rng(2512);
  std::vector<Isa> levels = {Isa::kScalar};
#if defined(__x86_64__) || defined(__i386__)
  for (const Isa isa : {Isa::kSse2, Isa::kSsse3, Isa::kAvx2}) {
    if (isa <= DetectIsa()) {
      levels.push_back(isa);
    }
  }
#endif
  for (int i = 0; i < 600 && !::testing::Test::HasFailure(); ++i) {
    ComposeCase c = RandomCase(rng);
    c.srcLayout = kLayoutRgb24;
    c.srcShift = 0;
    const std::vector<uint8_t> bottomUp =
        testing::RandomFrame(rng, testing::FrameBytes(c.srcLayout, c.srcWidth, c.srcHeight));
    std::vector<uint8_t> topDown(bottomUp.size());
    const size_t row = 3 * static_cast<size_t>(c.srcWidth);
    for (int32_t y = 0; y < c.srcHeight; ++y) {
      std::memcpy(&topDown[y * row], &bottomUp[(c.srcHeight - 1 - y) * row], row);
    }
    const std::vector<uint8_t> dst = testing::RandomFrame(
        rng, c.dstShift + testing::FrameBytes(c.dstLayout, c.dstWidth, c.dstHeight));
    for (const Isa isa : levels) {
      Compositor compositor;
      compositor.SetIsa(isa);
      ComposeCase flipped = c;
      flipped.srcLayout = kLayoutRgb24TopDown;
      EXPECT_EQ(kvx::Run(compositor, flipped, topDown, dst), kvx::Run(compositor, c, bottomUp, dst))
          << "case " << i << " at level " << static_cast<int>(isa);
    }
  }
}

TEST(CompositorDifferential, CopiedRowsMatchTheReference) {
  Compare(Isa::kScalar, 2000, 1224);
}

#if defined(__x86_64__) || defined(__i386__)
TEST(CompositorDifferential, Sse2MatchesTheReference) {
  Compare(Isa::kSse2, 4000, 20261208);
  CompareAcrossReductions(Isa::kSse2);
}

TEST(CompositorDifferential, Ssse3MatchesTheReference) {
  if (DetectIsa() < Isa::kSsse3) {
    GTEST_SKIP() << "this CPU has no SSSE3";
  }
  Compare(Isa::kSsse3, 4000, 3122026);
  CompareAcrossReductions(Isa::kSsse3);
}

TEST(CompositorDifferential, Avx2MatchesTheReference) {
  if (DetectIsa() != Isa::kAvx2) {
    GTEST_SKIP() << "this CPU has no AVX2";
  }
  Compare(Isa::kAvx2, 4000, 8122026);
  CompareAcrossReductions(Isa::kAvx2);
}
#endif

}  // namespace
}  // namespace kvx
