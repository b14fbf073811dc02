#include "capture/stream_config.h"

#include <dshow.h>
#include <dvdmedia.h>

#include <memory>

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

void ListFormats(IAMStreamConfig* config, FormatList& formats) {
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
    }
  }
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
  FormatList& formats = Formats();
  formats.clear();
  ListFormats(config.get(), formats);
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
  // The block keeps its own format type: a VIDEOINFOHEADER2 block gets the size in its own
  // header, and a block too short for its header is not written at all.
  PipSettings& settings = Settings().current;
  SetFrameSize(current->formattype, current->pbFormat, current->cbFormat, settings.StreamSize);
  current->subtype = SubtypeOf(ChooseFormat(formats, &settings.StreamFormat).code);
  config->SetFormat(current.get());
  return hr;
}

}  // namespace kvx
