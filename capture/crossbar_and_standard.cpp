#include <windows.h>
#include <dshow.h>

#include "capture/capture_graph.h"
#include "capture/channel_logic.h"
#include "capture/tuning.h"
#include "plugin/status_log.h"

namespace kvx {
namespace {

// A driver that claims more pins than any crossbar has is searched this far and no further.
constexpr LONG kMostPins = 256;

// The first pin of the type on one side, in index order; -1 when there is none.
LONG FirstPin(IAMCrossbar* crossbar, BOOL input, LONG count, LONG type) {
  for (LONG i = 0; i < count && i < kMostPins; ++i) {
    LONG related = 0;
    LONG found = 0;
    if (SUCCEEDED(crossbar->get_CrossbarPinInfo(input, i, &related, &found)) && found == type) {
      return i;
    }
  }
  return -1;
}

}  // namespace

HRESULT RouteCrossbar(int32_t connectorType) {
  ScopedLock lock(GraphLock());
  IBaseFilter* filter = Graph().crossbar.get();
  if (filter == nullptr) {
    return E_POINTER;
  }
  StatusLog::LogStep(kLogStepLevel, "Get Crossbar Interface... ");
  ComPtr<IAMCrossbar> crossbar;
  HRESULT hr = filter->QueryInterface(IID_IAMCrossbar, crossbar.put_void());
  if (FAILED(hr)) {
    StatusLog::LogResult(kLogFailureLevel, hr);
    return hr;
  }
  StatusLog::LogStep(kLogStepLevel, "Get Crossbar pin count... ");
  LONG outputs = 0;
  LONG inputs = 0;
  hr = crossbar->get_PinCounts(&outputs, &inputs);
  if (FAILED(hr) || outputs <= 0 || inputs <= 0) {
    return hr;
  }
  // Only the first video-decoder output and the first input of the type are considered.
  const LONG output = FirstPin(crossbar.get(), FALSE, outputs, kConnectorVideoDecoder);
  const LONG input =
      output < 0 ? -1 : FirstPin(crossbar.get(), TRUE, inputs, static_cast<LONG>(connectorType));
  if (input < 0) {
    return E_FAIL;
  }
  LONG routed = -1;
  if (SUCCEEDED(crossbar->get_IsRoutedTo(output, &routed)) && routed == input) {
    return S_OK;
  }
  return SUCCEEDED(crossbar->Route(output, input)) ? S_OK : E_FAIL;
}

HRESULT SetVideoStandard(int32_t standard) {
  ScopedLock lock(GraphLock());
  IBaseFilter* capture = Graph().capture.get();
  if (capture == nullptr) {
    return E_POINTER;
  }
  StatusLog::LogStep(kLogStepLevel, "Get Analog Video Decoder Interface... ");
  ComPtr<IAMAnalogVideoDecoder> decoder;
  HRESULT hr = capture->QueryInterface(IID_IAMAnalogVideoDecoder, decoder.put_void());
  if (FAILED(hr)) {
    StatusLog::LogResult(kLogFailureLevel, hr);
    return hr;
  }
  LONG available = 0;
  hr = decoder->get_AvailableTVFormats(&available);
  if (FAILED(hr)) {
    return hr;
  }
  return (available & standard) != 0 ? decoder->put_TVFormat(standard) : E_NOTIMPL;
}

}  // namespace kvx
