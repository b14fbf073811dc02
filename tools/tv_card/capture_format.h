// The capture device's format offer, shared by its pins and its streaming thread: the sizes it
// lists (with YUY2, UYVY and RGB24 at each; the USB grabber's own list), how a media type reads as
// a frame layout, and the complete type a pin describes for a layout. The pins' IAMStreamConfig and
// their side of the connection's negotiation live in capture_format.cpp.
//
// Threads: any; everything here is a pure function of its arguments and the fault switches.
#pragma once

#include <windows.h>
#include <dshow.h>

#include "tools/tv_card/picture.h"
#include "video/media_type.h"

namespace tvcard {

#include <vector>

inline constexpr SIZE kOfferedSizes[] = {{160, 120}, {192, 144}, {320, 240},
                                         {352, 240}, {352, 288}, {384, 288}};

// One capability of the capture pins: a pixel format (under the subtype listed, which the
// foreign-caps switch changes) from min to max size in steps (0: every size between), at
// frame intervals from minInterval to maxInterval, in a VIDEOINFOHEADER or VIDEOINFOHEADER2.
struct Offer {
  PixelFormat format;
  GUID subtype;
  SIZE min;
  SIZE max;
  int stepX;
  int stepY;
  REFERENCE_TIME minInterval;
  REFERENCE_TIME maxInterval;
  bool videoInfo2;
};

// The pins' capabilities in GetStreamCaps order, as the fault switches make them now: every
// format at each of the six sizes, or under rate-limits a range of sizes and the largest alone.
// The USB grabber's (usb) lists its discrete sizes instead.
std::vector<Offer> Offers(bool usb);
// The largest frame the pins offer in the format; their buffers hold it.
SIZE LargestOffered(PixelFormat format, bool usb);

// The bitmap header of a VIDEOINFOHEADER or VIDEOINFOHEADER2 block; null for any other.
const BITMAPINFOHEADER* HeaderOf(const AM_MEDIA_TYPE& type);

// The subtype, frame size and row order of a video type we can produce: a size a capability of
// the subtype allows, in a VIDEOINFOHEADER or (where the capability has one) VIDEOINFOHEADER2
// block; nothing else in the block is looked at. A negative height is a top-down RGB24 frame;
// 4:2:2 heights are positive.
bool ReadLayout(const AM_MEDIA_TYPE& type, bool usb, FrameLayout* layout);

// A complete description of the layout; empty when out of memory.
kvx::MediaTypeValue Describe(const FrameLayout& layout, REFERENCE_TIME interval);

}  // namespace tvcard
