// The portable copies of the DirectShow identifiers equal the platform's own.
#include <windows.h>
#include <dshow.h>
#include <dvdmedia.h>
#include <uuids.h>

#include <gtest/gtest.h>

#include "video/media_guids.h"
#include "video/pip_buffer.h"

namespace {

TEST(MediaGuids, EqualThePlatformsIdentifiers) {
  EXPECT_TRUE(kvx::SameGuid(kvx::kMediaTypeVideo, MEDIATYPE_Video));
  EXPECT_TRUE(kvx::SameGuid(kvx::kSubtypeYuy2, MEDIASUBTYPE_YUY2));
  EXPECT_TRUE(kvx::SameGuid(kvx::kSubtypeUyvy, MEDIASUBTYPE_UYVY));
  EXPECT_TRUE(kvx::SameGuid(kvx::kSubtypeRgb24, MEDIASUBTYPE_RGB24));
  EXPECT_TRUE(kvx::SameGuid(kvx::kFormatVideoInfo, FORMAT_VideoInfo));
  EXPECT_TRUE(kvx::SameGuid(kvx::kFormatVideoInfo2, FORMAT_VideoInfo2));
}

TEST(MediaGuids, PipIdentifiersReadAsPublished) {
  wchar_t text[40];
  ASSERT_GT(StringFromGUID2(IID_IPiPBuffer, text, 40), 0);
  EXPECT_STREQ(text, L"{FDC78163-662F-4903-B97D-D2D320F1A469}");
  EXPECT_TRUE(kvx::SameGuid(__uuidof(IPiPBuffer), IID_IPiPBuffer));
  ASSERT_GT(StringFromGUID2(CLSID_PipRenderer, text, 40), 0);
  EXPECT_STREQ(text, L"{272866D0-B37C-4891-B8F8-A4A704690721}");
}

// The layouts the frame buffer reads by offset.
static_assert(offsetof(VIDEOINFOHEADER, bmiHeader) == 48);
static_assert(offsetof(VIDEOINFOHEADER2, bmiHeader) == 72);
static_assert(offsetof(BITMAPINFOHEADER, biWidth) == 4);
static_assert(offsetof(BITMAPINFOHEADER, biHeight) == 8);
static_assert(sizeof(VIDEOINFOHEADER) == 88);
static_assert(sizeof(VIDEOINFOHEADER2) == 112);

}  // namespace
