#include "tests/win/support/video_types.h"

#include <dvdmedia.h>

#include <cstdlib>
#include <cstring>

namespace kvx::test {
namespace {

WORD BitsFor(const GUID& subtype) {
  if (subtype == MEDIASUBTYPE_RGB24) {
    return 24;
  }
  if (subtype == MEDIASUBTYPE_RGB32) {
    return 32;
  }
  return 16;
}

DWORD CompressionFor(const GUID& subtype) {
  if (subtype == MEDIASUBTYPE_RGB24 || subtype == MEDIASUBTYPE_RGB32) {
    return BI_RGB;
  }
  // The FOURCC subtypes carry their code in Data1.
  return subtype.Data1;
}

}  // namespace

MediaTypeValue VideoType(const GUID& subtype, LONG width, LONG height, Block block) {
  MediaTypeValue value;
  AM_MEDIA_TYPE* type = value.mutable_type();
  type->majortype = MEDIATYPE_Video;
  type->subtype = subtype;
  type->bFixedSizeSamples = TRUE;
  const WORD bits = BitsFor(subtype);
  const long long bytes = static_cast<long long>(width) * std::llabs(height) * bits / 8;
  type->lSampleSize = bytes > 0 && bytes < (1ll << 30) ? static_cast<ULONG>(bytes) : 0;

  BITMAPINFOHEADER* header;
  if (block == Block::kVideoInfo) {
    type->formattype = FORMAT_VideoInfo;
    auto* info = reinterpret_cast<VIDEOINFOHEADER*>(value.AllocateFormat(sizeof(VIDEOINFOHEADER)));
    info->AvgTimePerFrame = 400000;
    header = &info->bmiHeader;
  } else {
    type->formattype = FORMAT_VideoInfo2;
    auto* info =
        reinterpret_cast<VIDEOINFOHEADER2*>(value.AllocateFormat(sizeof(VIDEOINFOHEADER2)));
    info->AvgTimePerFrame = 400000;
    info->dwPictAspectRatioX = 4;
    info->dwPictAspectRatioY = 3;
    header = &info->bmiHeader;
  }
  header->biSize = sizeof(BITMAPINFOHEADER);
  header->biWidth = width;
  header->biHeight = height;
  header->biPlanes = 1;
  header->biBitCount = bits;
  header->biCompression = CompressionFor(subtype);
  header->biSizeImage = type->lSampleSize;
  return value;
}

MediaTypeValue WithBlockSize(const MediaTypeValue& type, ULONG size) {
  MediaTypeValue cut = type;
  const ULONG keep = size < type.get().cbFormat ? size : type.get().cbFormat;
  BYTE* block = cut.AllocateFormat(size);
  std::memcpy(block, type.get().pbFormat, keep);
  return cut;
}

}  // namespace kvx::test
