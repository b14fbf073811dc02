#include "capture/stream_config.h"

#include <dshow.h>
#include <dvdmedia.h>

#include <cstring>
#include <memory>
#include <vector>

#include "capture/capture_graph.h"
#include "capture/stream_format.h"
#include "plugin/status_log.h"
#include "settings/settings_store.h"
#include "video/media_type.h"

namespace kvx {
namespace {

static_assert(sizeof(VIDEO_STREAM_CONFIG_CAPS) == 128);
static_assert(sizeof(VIDEOINFOHEADER) == kVideoInfoSize);
static_assert(offsetof(VIDEOINFOHEADER, bmiHeader.biWidth) == kVideoInfoWidthAt);
static_assert(sizeof(VIDEOINFOHEADER2) == kVideoInfo2Size);
static_assert(offsetof(VIDEOINFOHEADER2, bmiHeader.biWidth) == kVideoInfo2WidthAt);

// A driver that claims more capabilities than any card has is read this far and no further.
constexpr int kMostCapabilities = 4096;

struct TaskMediaTypeDeleter {
  void operator()(AM_MEDIA_TYPE* type) const { DeleteTaskMediaType(type); }
};
// A media type the driver handed out, freed with its format block and pUnk.
using TaskMediaType = std::unique_ptr<AM_MEDIA_TYPE, TaskMediaTypeDeleter>;

struct Capability {
  int32_t code;
  TaskMediaType type;
  SizeRange range;
};

SizeRange RangeOf(const VIDEO_STREAM_CONFIG_CAPS& caps) {
  return {caps.MinOutputSize.cx, caps.MinOutputSize.cy,   caps.MaxOutputSize.cx,
          caps.MaxOutputSize.cy, caps.OutputGranularityX, caps.OutputGranularityY,
          caps.MinFrameInterval, caps.MaxFrameInterval};
}

// Lists the rows the pin offers, and keeps their capabilities to start the request from.
void ListFormats(IAMStreamConfig* config, FormatList& formats,
                 std::vector<Capability>& capabilities) {
  StatusLog::LogStep(kLogStepLevel, "Get Supported Format Count ... ");
  int count = 0;
  int size = 0;
  if (FAILED(config->GetNumberOfCapabilities(&count, &size)) ||
      size != sizeof(VIDEO_STREAM_CONFIG_CAPS)) {
    return;
  }
  for (int i = 0; i < count && i < kMostCapabilities; ++i) {
    AM_MEDIA_TYPE* got = nullptr;
    VIDEO_STREAM_CONFIG_CAPS caps;
    const HRESULT hr = config->GetStreamCaps(i, &got, reinterpret_cast<BYTE*>(&caps));
    TaskMediaType type(got);
    if (FAILED(hr) || !type) {
      continue;
    }
    if (const int32_t code = FormatCodeOf(type->subtype, type->formattype)) {
      formats.push_back(FormatRow(code));
      capabilities.push_back({code, std::move(type), RangeOf(caps)});
    }
  }
}

// The capability of the row's code that allows the size asked for, and that size: the wanted
// one, or the nearest the pin allows (ChooseSize). Null, with the wanted size, when the pin
// lists none of the code.
const Capability* StartOf(const std::vector<Capability>& capabilities, int32_t code, int32_t* width,
                          int32_t* height) {
  std::vector<const Capability*> ofCode;
  std::vector<SizeRange> ranges;
  for (const Capability& c : capabilities) {
    if (c.code == code) {
      ofCode.push_back(&c);
      ranges.push_back(c.range);
    }
  }
  ChosenSize chosen;
  if (*width <= 0 || *height <= 0 ||
      !ChooseSize(ranges, *width, *height, code != kFormatRgb24, &chosen)) {
    return ofCode.empty() ? nullptr : ofCode.front();
  }
  *width = chosen.width;
  *height = chosen.height;
  return ofCode[chosen.range];
}

int64_t IntervalOf(const AM_MEDIA_TYPE& type) {
  if (type.pbFormat == nullptr || type.cbFormat < kFrameIntervalAt + 8 ||
      (type.formattype != FORMAT_VideoInfo && type.formattype != FORMAT_VideoInfo2)) {
    return 0;
  }
  int64_t interval;
  std::memcpy(&interval, type.pbFormat + kFrameIntervalAt, sizeof interval);
  return interval;
}

bool IsVideoInfo(const AM_MEDIA_TYPE& type) {
  return type.formattype == FORMAT_VideoInfo && type.cbFormat >= sizeof(VIDEOINFOHEADER) &&
         type.pbFormat != nullptr;
}

bool IsVideoInfo2(const AM_MEDIA_TYPE& type) {
  return type.formattype == FORMAT_VideoInfo2 && type.cbFormat >= sizeof(VIDEOINFOHEADER2) &&
         type.pbFormat != nullptr;
}

// The media type SetFormat is handed: the capability of the chosen subtype where the pin lists
// one, else the current format, in the capability's block type (a current VIDEOINFOHEADER2
// keeps its own block and fields over a VIDEOINFOHEADER capability), at the frame interval
// given, with everything the subtype and the size decide made to agree.
// A block that cannot be made whole (an unknown block type, a size without pixels) goes with
// its subtype alone, for the driver to judge.
HRESULT MakeRequest(const AM_MEDIA_TYPE& current, const AM_MEDIA_TYPE* capability, int32_t code,
                    int32_t width, int32_t height, int64_t interval, MediaTypeValue* request) {
  const AM_MEDIA_TYPE& start = capability != nullptr ? *capability : current;
  HRESULT hr = request->Assign(start);
  if (FAILED(hr)) {
    return hr;
  }
  AM_MEDIA_TYPE* type = request->mutable_type();
  if (capability != nullptr && IsVideoInfo2(current) && IsVideoInfo(*capability)) {
    BYTE* block = request->AllocateFormat(current.cbFormat);
    if (block == nullptr) {
      return E_OUTOFMEMORY;
    }
    std::memcpy(block, current.pbFormat, current.cbFormat);
    reinterpret_cast<VIDEOINFOHEADER2*>(block)->bmiHeader =
        reinterpret_cast<const VIDEOINFOHEADER*>(capability->pbFormat)->bmiHeader;
    type->formattype = FORMAT_VideoInfo2;
  }
  type->majortype = MEDIATYPE_Video;
  type->subtype = SubtypeOf(code);
  uint32_t image = 0;
  if (FitFormatBlock(type->formattype, type->pbFormat, type->cbFormat, code, width, height,
                     interval, &image)) {
    type->bFixedSizeSamples = TRUE;
    type->bTemporalCompression = FALSE;
    type->lSampleSize = image;
  }
  return S_OK;
}

}  // namespace

HRESULT ConfigureStream(const GUID& category) {
  CaptureGraph& g = Graph();
  if (!g.capture || !g.builder) {
    return E_POINTER;
  }
  StatusLog::LogStep(kLogStepLevel, "Create VideoStreamConfig Interface ... ");
  ComPtr<IAMStreamConfig> config;
  HRESULT hr = g.builder->FindInterface(&category, &MEDIATYPE_Video, g.capture.get(),
                                        IID_IAMStreamConfig, config.put_void());
  if (FAILED(hr) || !config) {
    hr = FAILED(hr) ? hr : E_NOINTERFACE;
    StatusLog::LogResult(kLogFailureLevel, hr);
    return hr;
  }
  PipSettings& settings = Settings().current;
  FormatList& formats = Formats();
  formats.clear();
  std::vector<Capability> capabilities;
  ListFormats(config.get(), formats, capabilities);
  if (formats.empty()) {
    formats.push_back(FormatRow(kFormatDefault));
  }

  StatusLog::LogStep(kLogStepLevel, "Get current media format ... ");
  AM_MEDIA_TYPE* got = nullptr;
  hr = config->GetFormat(&got);
  TaskMediaType current(got);
  if (FAILED(hr)) {
    return hr;
  }
  if (!current) {
    return E_POINTER;
  }
  // StreamSize outside the table keeps the pin's own size.
  int32_t width = 0;
  int32_t height = 0;
  if (settings.StreamSize >= 0 && settings.StreamSize < kFrameSizeCount) {
    width = kFrameSizes[settings.StreamSize].width;
    height = kFrameSizes[settings.StreamSize].height;
  } else if (!BlockFrameSize(current->formattype, current->pbFormat, current->cbFormat, &width,
                             &height)) {
    width = height = 0;
  }
  const int32_t code = ChooseFormat(formats, &settings.StreamFormat).code;
  const Capability* capability = StartOf(capabilities, code, &width, &height);
  // The current interval where the capability allows it at that size, else the nearest.
  const int64_t interval = capability != nullptr
                               ? FitInterval(capability->range, IntervalOf(*current))
                               : IntervalOf(*current);
  MediaTypeValue request;
  if (SUCCEEDED(MakeRequest(*current, capability != nullptr ? capability->type.get() : nullptr,
                            code, width, height, interval, &request))) {
    LogLine asked;
    asked << FormatRow(code == kFormatDefault ? kFormatYuy2 : code).name << " " << width << "x"
          << height << " every " << interval << " ... ";
    StatusLog::LogStep(kLogStepLevel, (LogLine() << "Set stream format " << asked.View()).View());
    // A driver that refuses the format streams its own; the connection negotiates from there.
    const HRESULT set = config->SetFormat(request.mutable_type());
    if (FAILED(set)) {
      StatusLog::LogStep(kLogStepLevel,
                         (LogLine() << "Stream format refused: " << asked.View()).View());
      StatusLog::LogResult(kLogFailureLevel, set);
    }
  }
  return hr;
}

}  // namespace kvx
