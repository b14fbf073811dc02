// The vector kernels against the reference kernels, byte for byte, over random geometry; the
// reference draws every row through the row and column passes, so the rows the compositor copies
// straight from the source are held to them too.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
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
  const int32_t layouts[] = {kLayoutYuy2, kLayoutUyvy, kLayoutRgb24};
  ComposeCase c{};
  c.srcLayout = layouts[Between(rng, 0, 2)];
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
      c.dstLayout = c.srcLayout == kLayoutRgb24 ? kLayoutRgb24 : kLayoutYuy2;
    }
  }
  const int32_t pick = Between(rng, 0, 9);
  c.opacity = pick == 0 ? 100 : pick == 1 ? 0 : Between(rng, 1, 99);
  c.srcShift = static_cast<size_t>(Between(rng, 0, 15));
  c.dstShift = static_cast<size_t>(Between(rng, 0, 15));
  return c;
}

// Runs one case at one level into a fresh copy of the destination; the copy ends exactly at its
// allocation's end, so an over-read or over-write faults under AddressSanitizer.
std::vector<uint8_t> Run(Compositor& compositor, const ComposeCase& c,
                         const std::vector<uint8_t>& src, const std::vector<uint8_t>& dstStart) {
  std::vector<uint8_t> dst(dstStart);
  compositor.Compose(src.data() + c.srcShift, c.srcWidth, c.srcHeight, c.crop, c.srcLayout,
                     dst.data() + c.dstShift, c.dstWidth, c.dstHeight, c.rect, c.dstLayout,
                     c.opacity);
  return dst;
}

void Compare(Isa isa, int cases, uint32_t seed) {
  std::mt19937 rng(seed);
  Compositor reference;
  reference.SetIsa(Isa::kScalar);
  reference.SetShortcutsForTesting(false);
  Compositor vector;
  vector.SetIsa(isa);
  for (int i = 0; i < cases; ++i) {
    const ComposeCase c = RandomCase(rng);
    const std::vector<uint8_t> src = testing::RandomFrame(
        rng, c.srcShift + testing::FrameBytes(c.srcLayout, c.srcWidth, c.srcHeight));
    const std::vector<uint8_t> dst = testing::RandomFrame(
        rng, c.dstShift + testing::FrameBytes(c.dstLayout, c.dstWidth, c.dstHeight));
    const std::vector<uint8_t> expected = Run(reference, c, src, dst);
    const std::vector<uint8_t> actual = Run(vector, c, src, dst);
    if (expected != actual) {
      size_t at = 0;
      while (expected[at] == actual[at]) {
        ++at;
      }
      FAIL() << "case " << i << " (seed " << seed << "): layouts " << c.srcLayout << "->"
             << c.dstLayout << ", src " << c.srcWidth << "x" << c.srcHeight << " crop {"
             << c.crop.left << "," << c.crop.top << "," << c.crop.right << "," << c.crop.bottom
             << "}, dst " << c.dstWidth << "x" << c.dstHeight << " rect {" << c.rect.left << ","
             << c.rect.top << "," << c.rect.right << "," << c.rect.bottom << "}, opacity "
             << c.opacity << ": first difference at byte " << at - c.dstShift << ": "
             << int{expected[at]} << " != " << int{actual[at]};
    }
  }
}

TEST(CompositorDifferential, CopiedRowsMatchTheReference) {
  Compare(Isa::kScalar, 2000, 1224);
}

#if defined(__x86_64__) || defined(__i386__)
TEST(CompositorDifferential, Sse2MatchesTheReference) {
  Compare(Isa::kSse2, 4000, 20261208);
}

TEST(CompositorDifferential, Avx2MatchesTheReference) {
  if (DetectIsa() != Isa::kAvx2) {
    GTEST_SKIP() << "this CPU has no AVX2";
  }
  Compare(Isa::kAvx2, 4000, 8122026);
}
#endif

}  // namespace
}  // namespace kvx
