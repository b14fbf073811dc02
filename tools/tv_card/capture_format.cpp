#include "tools/tv_card/capture_format.h"

#include <dvdmedia.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <mutex>

#include "tools/tv_card/capture.h"
#include "video/media_guids.h"

namespace tvcard {
namespace {

constexpr GUID kSubtypeMjpg = {
    0x47504A4D, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};

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
    {kvx::kSubtypeNv12, PixelFormat::kNv12, 12, MAKEFOURCC('N', 'V', '1', '2')},
    {kvx::kSubtypeI420, PixelFormat::kI420, 12, MAKEFOURCC('I', '4', '2', '0')},
    {kSubtypeMjpg, PixelFormat::kMjpg, 24, MAKEFOURCC('M', 'J', 'P', 'G')},
};
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
  // Both blocks start with the rectangles.
  const auto& vih = *reinterpret_cast<const VIDEOINFOHEADER*>(type.pbFormat);
  const BITMAPINFOHEADER& header = *HeaderOf(type);
  const PixelInfo& pixel = PixelOf(layout.format);
  const DWORD bytes = static_cast<DWORD>(FrameBytes(layout));
  return header.biBitCount == pixel.bits && header.biCompression == pixel.compression &&
         header.biPlanes == 1 && header.biSizeImage == bytes && type.lSampleSize == bytes &&
         EmptyOrWhole(vih.rcSource, layout) && EmptyOrWhole(vih.rcTarget, layout) &&
         layout.topDown == Offered(layout.format, {layout.width, layout.height}).topDown;
}

REFERENCE_TIME IntervalOf(const AM_MEDIA_TYPE& type) {
  return type.formattype == FORMAT_VideoInfo2
             ? reinterpret_cast<const VIDEOINFOHEADER2*>(type.pbFormat)->AvgTimePerFrame
             : reinterpret_cast<const VIDEOINFOHEADER*>(type.pbFormat)->AvgTimePerFrame;
}

bool Allows(const Offer& offer, const FrameLayout& layout) {
  const auto on = [](LONG v, LONG low, LONG high, int step) {
    return v >= low && v <= high && (step <= 0 || (v - low) % step == 0);
  };
  return offer.format == layout.format &&
         on(layout.width, offer.min.cx, offer.max.cx, offer.stepX) &&
         on(layout.height, offer.min.cy, offer.max.cy, offer.stepY);
}

// The capability that allows the layout in this block type; false for none. A pin whose
// current format is a VIDEOINFOHEADER2 (current-vih2) takes that block type for any format.
bool FindOffer(const FrameLayout& layout, bool videoInfo2, bool usb, Offer* found) {
  for (const Offer& offer : Offers(usb)) {
    if (Allows(offer, layout) &&
        (!videoInfo2 || offer.videoInfo2 || FaultOn(fault::kCurrentVideoInfo2))) {
      *found = offer;
      return true;
    }
  }
  return false;
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

const BITMAPINFOHEADER* HeaderOf(const AM_MEDIA_TYPE& type) {
  if (type.pbFormat == nullptr) {
    return nullptr;
  }
  if (type.formattype == FORMAT_VideoInfo && type.cbFormat >= sizeof(VIDEOINFOHEADER)) {
    return &reinterpret_cast<const VIDEOINFOHEADER*>(type.pbFormat)->bmiHeader;
  }
  if (type.formattype == FORMAT_VideoInfo2 && type.cbFormat >= sizeof(VIDEOINFOHEADER2)) {
    return &reinterpret_cast<const VIDEOINFOHEADER2*>(type.pbFormat)->bmiHeader;
  }
  return nullptr;
}

bool ReadLayout(const AM_MEDIA_TYPE& type, bool usb, FrameLayout* layout) {
  const BITMAPINFOHEADER* header = HeaderOf(type);
  const PixelInfo* pixel = PixelOf(type.subtype);
  if (type.majortype != MEDIATYPE_Video || header == nullptr || pixel == nullptr) {
    return false;
  }
  const bool topDown = pixel->format == PixelFormat::kRgb24 && header->biHeight < 0;
  const LONG height = topDown ? -header->biHeight : header->biHeight;
  const FrameLayout read{pixel->format, static_cast<int>(header->biWidth), static_cast<int>(height),
                         topDown};
  Offer offer;
  if (!FindOffer(read, type.formattype == FORMAT_VideoInfo2, usb, &offer)) {
    return false;
  }
  *layout = read;
  return true;
}

std::vector<Offer> Offers(bool usb) {
  std::vector<Offer> offers;
  const REFERENCE_TIME fastest = FrameInterval(AnalogVideo_NTSC_M);
  const REFERENCE_TIME pal = FrameInterval(AnalogVideo_PAL_B);
  if (usb) {
    // 30 down to 15 frames a second at every size, as UVC devices list their rates.
    constexpr REFERENCE_TIME k30 = 333333;
    constexpr REFERENCE_TIME k15 = 666666;
    const auto alone = [&](PixelFormat format, SIZE size) {
      offers.push_back({format, PixelOf(format).subtype, size, size, 0, 0, k30, k15, false});
    };
    if (FaultOn(fault::kNv12Only)) {
      alone(PixelFormat::kNv12, {640, 480});
      alone(PixelFormat::kI420, {640, 480});
      return offers;
    }
    for (const SIZE size : {SIZE{1920, 1080}, SIZE{1280, 720}, SIZE{640, 480}}) {
      alone(PixelFormat::kMjpg, size);
    }
    alone(PixelFormat::kYuy2, {640, 480});
    alone(PixelFormat::kYuy2, {720, 576});
    alone(PixelFormat::kNv12, {640, 480});
    return offers;
  }
  const bool foreign = FaultOn(fault::kForeignCaps);
  for (const PixelInfo& pixel : kPixels) {
    if (pixel.format > PixelFormat::kRgb24) {
      break;  // the TV cards' decoders deliver 4:2:2 and RGB alone
    }
    const bool videoInfo2 = foreign && pixel.format == PixelFormat::kUyvy;
    const GUID subtype =
        foreign && pixel.format == PixelFormat::kRgb24 ? MEDIASUBTYPE_RGB32 : pixel.subtype;
    if (FaultOn(fault::kRateLimits)) {
      // Up to 30 frames a second below the largest size, 25 alone at it; sizes in steps.
      offers.push_back(
          {pixel.format, subtype, {160, 120}, {352, 288}, 32, 16, fastest, pal, videoInfo2});
      offers.push_back({pixel.format, subtype, {384, 288}, {384, 288}, 0, 0, pal, pal, videoInfo2});
      continue;
    }
    for (const SIZE& size : kOfferedSizes) {
      offers.push_back({pixel.format, subtype, size, size, 0, 0, fastest, pal, videoInfo2});
    }
  }
  return offers;
}

SIZE LargestOffered(PixelFormat format, bool usb) {
  SIZE largest = {0, 0};
  for (const Offer& offer : Offers(usb)) {
    if (offer.format == format && offer.max.cx * offer.max.cy > largest.cx * largest.cy) {
      largest = offer.max;
    }
  }
  return largest;
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

bool CapturePin::Usb() {
  return owner_->Usb();
}

FrameLayout CapturePin::Current() {
  if (formatSet_ || !Usb()) {
    return format_;
  }
  // A USB device starts in the first format it lists.
  const Offer first = Offers(true).front();
  return Offered(first.format, first.max);
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
  const bool usb = Usb();
  if (FaultOn(fault::kRefuseSetFormat) || !ReadLayout(*type, usb, &layout)) {
    return VFW_E_INVALIDMEDIATYPE;
  }
  // A driver with rate limits checks the whole block, and the frame rate at that size; the USB
  // Video Class driver does too.
  const bool limits = FaultOn(fault::kRateLimits) || usb;
  if ((FaultOn(fault::kStrictFormat) || limits) && !Consistent(*type, layout)) {
    return VFW_E_INVALIDMEDIATYPE;
  }
  Offer offer;
  FindOffer(layout, type->formattype == FORMAT_VideoInfo2, usb, &offer);
  const REFERENCE_TIME interval = IntervalOf(*type);
  if (limits && (interval < offer.minInterval || interval > offer.maxInterval)) {
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
    *type = InVideoInfo2(Describe(Current(), Interval())).NewTaskCopy();
  } else {
    *type = Describe(Current(), Interval()).NewTaskCopy();
  }
  return *type != nullptr && (*type)->pbFormat != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT CapturePin::GetNumberOfCapabilities(int* count, int* size) {
  if (count == nullptr || size == nullptr) {
    return E_POINTER;
  }
  *count = static_cast<int>(Offers(Usb()).size());
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
  const bool usb = Usb();
  const std::vector<Offer> offers = Offers(usb);
  if (index >= static_cast<int>(offers.size())) {
    return S_FALSE;
  }
  const Offer& offer = offers[static_cast<size_t>(index)];
  const SIZE size = offer.max;
  const FrameLayout layout = Offered(offer.format, size);
  kvx::MediaTypeValue described =
      Describe(layout, std::clamp(Interval(), offer.minInterval, offer.maxInterval));
  if (offer.videoInfo2) {
    described = InVideoInfo2(described);
  }
  described.mutable_type()->subtype = offer.subtype;
  *type = described.NewTaskCopy();
  if (*type == nullptr || (*type)->pbFormat == nullptr) {
    kvx::DeleteTaskMediaType(*type);
    *type = nullptr;
    return E_OUTOFMEMORY;
  }
  const LONGLONG bitsPerFrame = static_cast<LONGLONG>(FrameBytes(layout)) * 8;
  VIDEO_STREAM_CONFIG_CAPS c = {};
  c.guid = FORMAT_VideoInfo;
  c.VideoStandard = usb ? 0 : kAvailableStandards;
  c.InputSize = usb ? offer.max : SIZE{720, 576};
  c.MinCroppingSize = usb ? offer.max : SIZE{720, 480};
  c.MaxCroppingSize = usb ? offer.max : SIZE{720, 576};
  c.CropGranularityX = c.CropGranularityY = 1;
  c.CropAlignX = c.CropAlignY = 1;
  c.MinOutputSize = offer.min;
  c.MaxOutputSize = offer.max;
  c.OutputGranularityX = offer.stepX;
  c.OutputGranularityY = offer.stepY;
  c.StretchTapsX = c.StretchTapsY = 2;
  c.ShrinkTapsX = c.ShrinkTapsY = 2;
  c.MinFrameInterval = offer.minInterval;
  c.MaxFrameInterval = offer.maxInterval;
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
  const std::vector<Offer> offers = Offers(Usb());
  const int count = formatSet_ ? 1 : 1 + static_cast<int>(offers.size());
  if (position >= count) {
    return VFW_S_NO_MORE_ITEMS;
  }
  FrameLayout layout = Current();
  if (position > 0) {
    const Offer& offer = offers[static_cast<size_t>(position - 1)];
    layout = Offered(offer.format, offer.max);
  }
  *type = Describe(layout, Interval());
  if (!formatSet_ && FaultOn(fault::kTypesAfterFormat)) {
    type->mutable_type()->subtype = MEDIASUBTYPE_RGB32;
  }
  return type->get().pbFormat != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT CapturePin::AcceptMediaType(const AM_MEDIA_TYPE& type) {
  FrameLayout layout;
  // No decoder takes MJPG here, and the pin streams nothing else in its place.
  if (!ReadLayout(type, Usb(), &layout) || layout.format == PixelFormat::kMjpg) {
    return S_FALSE;
  }
  // The sample layout must be the one the subtype says.
  if (HeaderOf(type)->biBitCount != PixelOf(layout.format).bits) {
    return S_FALSE;
  }
  kvx::ScopedLock lock(pinLock());
  return !formatSet_ || SameLayout(layout, format_) ? S_OK : S_FALSE;
}

}  // namespace tvcard
