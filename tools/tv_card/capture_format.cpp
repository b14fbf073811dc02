#include "tools/tv_card/capture_format.h"

#include <dvdmedia.h>

#include <cstring>
#include <iterator>
#include <mutex>

#include "tools/tv_card/capture.h"
#include "video/media_guids.h"

namespace tvcard {
namespace {

struct PixelInfo {
  GUID subtype;
  PixelFormat format;
  WORD bits;
  DWORD compression;
};
constexpr PixelInfo kPixels[] = {
    {kvx::kSubtypeYuy2, PixelFormat::kYuy2, 16, MAKEFOURCC('Y', 'U', 'Y', '2')},
    {kvx::kSubtypeUyvy, PixelFormat::kUyvy, 16, MAKEFOURCC('U', 'Y', 'V', 'Y')},
    {kvx::kSubtypeRgb24, PixelFormat::kRgb24, 24, BI_RGB},
};
constexpr int kSizeCount = static_cast<int>(std::size(kOfferedSizes));
constexpr int kCapabilityCount = static_cast<int>(std::size(kPixels)) * kSizeCount;

static_assert(sizeof(VIDEO_STREAM_CONFIG_CAPS) == 128);

const PixelInfo* PixelOf(const GUID& subtype) {
  for (const PixelInfo& pixel : kPixels) {
    if (pixel.subtype == subtype) {
      return &pixel;
    }
  }
  return nullptr;
}

const PixelInfo& PixelOf(PixelFormat format) {
  return kPixels[static_cast<int>(format)];
}

bool SizeOffered(LONG width, LONG height) {
  for (const SIZE& size : kOfferedSizes) {
    if (size.cx == width && size.cy == height) {
      return true;
    }
  }
  return false;
}

// A layout the card offers; its RGB24 frames come top row first under top-down-rgb.
FrameLayout Offered(PixelFormat format, SIZE size) {
  return {format, static_cast<int>(size.cx), static_cast<int>(size.cy),
          format == PixelFormat::kRgb24 && FaultOn(fault::kTopDownRgb)};
}

bool EmptyOrWhole(const RECT& r, const FrameLayout& layout) {
  return (r.left == 0 && r.top == 0 && r.right == 0 && r.bottom == 0) ||
         (r.left == 0 && r.top == 0 && r.right == layout.width && r.bottom == layout.height);
}

// What a strict driver checks of a type ReadLayout could read: every field that the subtype
// and the size decide, and the row order it produces.
bool Consistent(const AM_MEDIA_TYPE& type, const FrameLayout& layout) {
  const auto& vih = *reinterpret_cast<const VIDEOINFOHEADER*>(type.pbFormat);
  const BITMAPINFOHEADER& header = vih.bmiHeader;
  const PixelInfo& pixel = PixelOf(layout.format);
  const DWORD bytes = static_cast<DWORD>(FrameBytes(layout));
  return header.biBitCount == pixel.bits && header.biCompression == pixel.compression &&
         header.biPlanes == 1 && header.biSizeImage == bytes && type.lSampleSize == bytes &&
         EmptyOrWhole(vih.rcSource, layout) && EmptyOrWhole(vih.rcTarget, layout) &&
         layout.topDown == Offered(layout.format, {layout.width, layout.height}).topDown;
}

// The same description in a VIDEOINFOHEADER2 block.
kvx::MediaTypeValue InVideoInfo2(const kvx::MediaTypeValue& from) {
  kvx::MediaTypeValue value = from;
  if (from.get().pbFormat == nullptr) {
    return value;
  }
  const auto& vih = *reinterpret_cast<const VIDEOINFOHEADER*>(from.get().pbFormat);
  auto* vih2 = reinterpret_cast<VIDEOINFOHEADER2*>(value.AllocateFormat(sizeof(VIDEOINFOHEADER2)));
  if (vih2 != nullptr) {
    vih2->rcSource = vih.rcSource;
    vih2->rcTarget = vih.rcTarget;
    vih2->dwBitRate = vih.dwBitRate;
    vih2->AvgTimePerFrame = vih.AvgTimePerFrame;
    vih2->bmiHeader = vih.bmiHeader;
    value.mutable_type()->formattype = FORMAT_VideoInfo2;
  }
  return value;
}

// Until when each card is away after its device was lost (lost-return), as a tick count; 0 when
std::mutex g_setFormatLock;
kvx::MediaTypeValue g_lastSetFormat;
bool g_setFormatSeen = false;

void RememberSetFormat(const AM_MEDIA_TYPE& type) {
  std::lock_guard<std::mutex> hold(g_setFormatLock);
  g_setFormatSeen = SUCCEEDED(g_lastSetFormat.Assign(type));
}

bool SameLayout(const FrameLayout& a, const FrameLayout& b) {
  return a.format == b.format && a.width == b.width && a.height == b.height;
}

}  // namespace

bool ReadLayout(const AM_MEDIA_TYPE& type, FrameLayout* layout) {
  if (type.majortype != MEDIATYPE_Video || type.formattype != FORMAT_VideoInfo ||
      type.cbFormat < sizeof(VIDEOINFOHEADER) || type.pbFormat == nullptr) {
    return false;
  }
  const PixelInfo* pixel = PixelOf(type.subtype);
  const BITMAPINFOHEADER& header =
      reinterpret_cast<const VIDEOINFOHEADER*>(type.pbFormat)->bmiHeader;
  if (pixel == nullptr) {
    return false;
  }
  const bool topDown = pixel->format == PixelFormat::kRgb24 && header.biHeight < 0;
  const LONG height = topDown ? -header.biHeight : header.biHeight;
  if (!SizeOffered(header.biWidth, height)) {
    return false;
  }
  *layout = {pixel->format, static_cast<int>(header.biWidth), static_cast<int>(height), topDown};
  return true;
}

kvx::MediaTypeValue Describe(const FrameLayout& layout, REFERENCE_TIME interval) {
  const PixelInfo& pixel = PixelOf(layout.format);
  const DWORD bytes = static_cast<DWORD>(FrameBytes(layout));
  kvx::MediaTypeValue value;
  auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(value.AllocateFormat(sizeof(VIDEOINFOHEADER)));
  if (vih == nullptr) {
    return value;
  }
  AM_MEDIA_TYPE* type = value.mutable_type();
  type->majortype = MEDIATYPE_Video;
  type->subtype = pixel.subtype;
  type->bFixedSizeSamples = TRUE;
  type->lSampleSize = bytes;
  type->formattype = FORMAT_VideoInfo;
  vih->AvgTimePerFrame = interval;
  vih->dwBitRate = static_cast<DWORD>(bytes * 8LL * 10000000 / interval);
  vih->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  vih->bmiHeader.biWidth = layout.width;
  vih->bmiHeader.biHeight = layout.topDown ? -layout.height : layout.height;
  vih->bmiHeader.biPlanes = 1;
  vih->bmiHeader.biBitCount = pixel.bits;
  vih->bmiHeader.biCompression = pixel.compression;
  vih->bmiHeader.biSizeImage = bytes;
  return value;
}

HRESULT LastSetFormat(AM_MEDIA_TYPE* type) {
  std::lock_guard<std::mutex> hold(g_setFormatLock);
  if (!g_setFormatSeen) {
    return S_FALSE;
  }
  g_setFormatSeen = false;
  const HRESULT hr = g_lastSetFormat.CopyTo(type);
  g_lastSetFormat.Clear();
  return hr;
}

REFERENCE_TIME CapturePin::Interval() {
  const std::shared_ptr<CardState> card = owner_->Card();
  std::lock_guard<std::mutex> hold(card->lock);
  return FrameInterval(card->standard);
}

HRESULT CapturePin::SetFormat(AM_MEDIA_TYPE* type) {
  if (type == nullptr) {
    return E_POINTER;
  }
  RememberSetFormat(*type);
  FrameLayout layout;
  if (FaultOn(fault::kRefuseSetFormat) || !ReadLayout(*type, &layout) ||
      (FaultOn(fault::kStrictFormat) && !Consistent(*type, layout))) {
    return VFW_E_INVALIDMEDIATYPE;
  }
  kvx::ComPtr<IFilterGraph> graph;
  {
    kvx::ScopedLock lock(pinLock());
    if (filter()->State() != State_Stopped) {
      return VFW_E_NOT_STOPPED;
    }
    if (IsConnected()) {
      const kvx::MediaTypeValue described = Describe(layout, Interval());
      if (peer()->QueryAccept(&described.get()) != S_OK) {
        return VFW_E_INVALIDMEDIATYPE;
      }
      FILTER_INFO info;
      if (SUCCEEDED(filter()->QueryFilterInfo(&info))) {
        graph.attach(info.pGraph);
      }
    }
    format_ = layout;
    formatSet_ = true;
    BumpMediaTypeVersion();
  }
  // Outside the filter lock: the graph takes its own lock and then ours.
  return graph ? graph->Reconnect(this) : S_OK;
}

HRESULT CapturePin::GetFormat(AM_MEDIA_TYPE** type) {
  if (type == nullptr) {
    return E_POINTER;
  }
  if (category_ == PIN_CATEGORY_PREVIEW && FaultOn(fault::kFailPreviewFormat)) {
    return kDeviceFailure;
  }
  kvx::ScopedLock lock(pinLock());
  FrameLayout changed;
  bool wasChanged;
  {
    std::lock_guard<std::mutex> hold(changeLock_);
    wasChanged = changed_;
    changed = changedLayout_;
  }
  if (IsConnected() && wasChanged) {
    *type = Describe(changed, Interval()).NewTaskCopy();
  } else if (IsConnected()) {
    *type = connectionType().NewTaskCopy();
  } else if (FaultOn(fault::kCurrentVideoInfo2)) {
    *type = InVideoInfo2(Describe(format_, Interval())).NewTaskCopy();
  } else {
    *type = Describe(format_, Interval()).NewTaskCopy();
  }
  return *type != nullptr && (*type)->pbFormat != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT CapturePin::GetNumberOfCapabilities(int* count, int* size) {
  if (count == nullptr || size == nullptr) {
    return E_POINTER;
  }
  *count = kCapabilityCount;
  *size = FaultOn(fault::kShortCaps) ? 64 : sizeof(VIDEO_STREAM_CONFIG_CAPS);
  return S_OK;
}

HRESULT CapturePin::GetStreamCaps(int index, AM_MEDIA_TYPE** type, BYTE* caps) {
  if (type == nullptr || caps == nullptr) {
    return E_POINTER;
  }
  *type = nullptr;
  if (index < 0) {
    return E_INVALIDARG;
  }
  if (index >= kCapabilityCount) {
    return S_FALSE;
  }
  const SIZE size = kOfferedSizes[index % kSizeCount];
  const FrameLayout layout = Offered(kPixels[index / kSizeCount].format, size);
  kvx::MediaTypeValue described = Describe(layout, Interval());
  if (FaultOn(fault::kForeignCaps) && layout.format == PixelFormat::kUyvy) {
    described = InVideoInfo2(described);
  } else if (FaultOn(fault::kForeignCaps) && layout.format == PixelFormat::kRgb24) {
    described.mutable_type()->subtype = MEDIASUBTYPE_RGB32;
  }
  *type = described.NewTaskCopy();
  if (*type == nullptr || (*type)->pbFormat == nullptr) {
    kvx::DeleteTaskMediaType(*type);
    *type = nullptr;
    return E_OUTOFMEMORY;
  }
  const LONGLONG bitsPerFrame = static_cast<LONGLONG>(FrameBytes(layout)) * 8;
  VIDEO_STREAM_CONFIG_CAPS c = {};
  c.guid = FORMAT_VideoInfo;
  c.VideoStandard = kAvailableStandards;
  c.InputSize = {720, 576};
  c.MinCroppingSize = {720, 480};
  c.MaxCroppingSize = {720, 576};
  c.CropGranularityX = c.CropGranularityY = 1;
  c.CropAlignX = c.CropAlignY = 1;
  c.MinOutputSize = c.MaxOutputSize = size;
  c.StretchTapsX = c.StretchTapsY = 2;
  c.ShrinkTapsX = c.ShrinkTapsY = 2;
  c.MinFrameInterval = FrameInterval(AnalogVideo_NTSC_M);
  c.MaxFrameInterval = FrameInterval(AnalogVideo_PAL_B);
  c.MinBitsPerSecond = static_cast<LONG>(bitsPerFrame * 25);
  c.MaxBitsPerSecond = static_cast<LONG>(bitsPerFrame * 30);
  std::memcpy(caps, &c, sizeof c);
  return S_OK;
}

HRESULT CapturePin::GetMediaType(int position, kvx::MediaTypeValue* type) {
  if (position < 0) {
    return E_INVALIDARG;
  }
  kvx::ScopedLock lock(pinLock());
  const int count = formatSet_ ? 1 : 1 + kCapabilityCount;
  if (position >= count) {
    return VFW_S_NO_MORE_ITEMS;
  }
  FrameLayout layout = format_;
  if (position > 0) {
    layout = Offered(kPixels[(position - 1) / kSizeCount].format,
                     kOfferedSizes[(position - 1) % kSizeCount]);
  }
  *type = Describe(layout, Interval());
  if (!formatSet_ && FaultOn(fault::kTypesAfterFormat)) {
    type->mutable_type()->subtype = MEDIASUBTYPE_RGB32;
  }
  return type->get().pbFormat != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT CapturePin::AcceptMediaType(const AM_MEDIA_TYPE& type) {
  FrameLayout layout;
  if (!ReadLayout(type, &layout)) {
    return S_FALSE;
  }
  // The sample layout must be the one the subtype says.
  const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(type.pbFormat);
  if (vih->bmiHeader.biBitCount != PixelOf(layout.format).bits) {
    return S_FALSE;
  }
  kvx::ScopedLock lock(pinLock());
  return !formatSet_ || SameLayout(layout, format_) ? S_OK : S_FALSE;
}

}  // namespace tvcard
