// Video media types for tests: well-formed ones and the hostile ones a broken driver might offer.
#pragma once

#include <windows.h>
#include <dshow.h>

#include "video/media_type.h"

namespace kvx::test {

enum class Block { kVideoInfo, kVideoInfo2 };

// A video type with a VIDEOINFOHEADER or VIDEOINFOHEADER2 block describing width x height at
// the subtype's bit depth (16 for 4:2:2, 24 for RGB24, 32 for RGB32, 16 for anything else).
// lSampleSize is the frame's size in bytes, or 0 when that makes no sense.
MediaTypeValue VideoType(const GUID& subtype, LONG width, LONG height,
                         Block block = Block::kVideoInfo);

// The same type with its format block cut to `size` bytes.
MediaTypeValue WithBlockSize(const MediaTypeValue& type, ULONG size);

}  // namespace kvx::test
