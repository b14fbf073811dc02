// The capture device's format offer, shared by its pins and its streaming thread: the sizes it
// lists (with YUY2, UYVY and RGB24 at each), how a media type reads as a frame layout, and the
// complete type a pin describes for a layout. The pins' IAMStreamConfig and their side of the
// connection's negotiation live in capture_format.cpp.
//
// Threads: any; everything here is a pure function of its arguments and the fault switches.
#pragma once

#include <windows.h>
#include <dshow.h>

#include "tools/tv_card/picture.h"
#include "video/media_type.h"

namespace tvcard {

inline constexpr SIZE kOfferedSizes[] = {{160, 120}, {192, 144}, {320, 240},
                                         {352, 240}, {352, 288}, {384, 288}};
inline constexpr SIZE kLargestSize = kOfferedSizes[5];

// The subtype, frame size and row order of a VIDEOINFOHEADER video type we can produce; nothing
// else in the block is looked at. A negative height is a top-down RGB24 frame; 4:2:2 heights
// are positive.
bool ReadLayout(const AM_MEDIA_TYPE& type, FrameLayout* layout);

// A complete description of the layout; empty when out of memory.
kvx::MediaTypeValue Describe(const FrameLayout& layout, REFERENCE_TIME interval);

}  // namespace tvcard
