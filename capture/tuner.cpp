#include <windows.h>
#include <dshow.h>
#include <ks.h>
#include <ksmedia.h>

#include "capture/capture_graph.h"
#include "capture/channel_logic.h"
#include "capture/tuning.h"
#include "plugin/status_log.h"

namespace kvx {
namespace {

constexpr GUID kPropSetTuner = {STATIC_PROPSETID_TUNER};

// The records at their published sizes; the first 24 bytes are the KSPROPERTY header.
static_assert(sizeof(KSPROPERTY) == 24);
static_assert(sizeof(KSPROPERTY_TUNER_CAPS_S) == 104);
static_assert(sizeof(KSPROPERTY_TUNER_MODE_CAPS_S) == 56);
static_assert(sizeof(KSPROPERTY_TUNER_MODE_S) == 32);
static_assert(sizeof(KSPROPERTY_TUNER_FREQUENCY_S) == 56);
static_assert(sizeof(KSPROPERTY_TUNER_INPUT_S) == 32);
static_assert(KS_TUNER_TUNING_EXACT == kTuningExact && KS_TUNER_TUNING_FINE == kTuningFine);
static_assert(KS_TUNER_STRATEGY_DRIVER_TUNES == kStrategyDriverTunes);

// The instance data is the record after its header; the property data the whole record.
template <class Record>
HRESULT GetProperty(IKsPropertySet* tuner, DWORD id, Record* record) {
  auto* data = reinterpret_cast<BYTE*>(record);
  DWORD returned = 0;
  return tuner->Get(kPropSetTuner, id, data + sizeof(KSPROPERTY),
                    sizeof(Record) - sizeof(KSPROPERTY), data, sizeof(Record), &returned);
}

template <class Record>
HRESULT SetProperty(IKsPropertySet* tuner, DWORD id, Record* record) {
  auto* data = reinterpret_cast<BYTE*>(record);
  return tuner->Set(kPropSetTuner, id, data + sizeof(KSPROPERTY),
                    sizeof(Record) - sizeof(KSPROPERTY), data, sizeof(Record));
}

// The tuner's property set, logged as a step; null with the failure in *hr.
ComPtr<IKsPropertySet> TunerProperties(HRESULT* hr) {
  ComPtr<IKsPropertySet> properties;
  IBaseFilter* tuner = Graph().tuner.get();
  if (tuner == nullptr) {
    *hr = E_POINTER;
    return properties;
  }
  StatusLog::LogStep(kLogStepLevel, "Get KsPropertySet Interface ... ");
  *hr = tuner->QueryInterface(IID_IKsPropertySet, properties.put_void());
  if (FAILED(*hr)) {
    StatusLog::LogFailure(kLogFailureLevel, *hr);
  }
  return properties;
}

HRESULT SetUpTvMode(IKsPropertySet* tuner) {
  KSPROPERTY_TUNER_CAPS_S caps = {};
  HRESULT hr = GetProperty(tuner, KSPROPERTY_TUNER_CAPS, &caps);
  if (FAILED(hr)) {
    return hr;
  }
  if ((caps.ModesSupported & KSPROPERTY_TUNER_MODE_TV) == 0) {
    return E_NOTIMPL;
  }
  KSPROPERTY_TUNER_MODE_S mode = {};
  if (SUCCEEDED(GetProperty(tuner, KSPROPERTY_TUNER_MODE, &mode)) &&
      mode.Mode != KSPROPERTY_TUNER_MODE_TV) {
    mode.Mode = KSPROPERTY_TUNER_MODE_TV;
    SetProperty(tuner, KSPROPERTY_TUNER_MODE, &mode);
  }
  KSPROPERTY_TUNER_MODE_CAPS_S tv = {};
  tv.Mode = KSPROPERTY_TUNER_MODE_TV;
  hr = GetProperty(tuner, KSPROPERTY_TUNER_MODE_CAPS, &tv);
  if (FAILED(hr)) {
    return hr;
  }
  TunerRange& range = TheTunerRange();
  range.MinFrequency = tv.MinFrequency;
  range.MaxFrequency = tv.MaxFrequency;
  range.SettlingTime = tv.SettlingTime;
  range.Strategy = tv.Strategy;
  if (tv.NumberOfInputs > 0) {
    KSPROPERTY_TUNER_INPUT_S input = {};
    hr = GetProperty(tuner, KSPROPERTY_TUNER_INPUT, &input);
    if (SUCCEEDED(hr) && input.InputIndex != 0) {
      input.InputIndex = 0;
      hr = SetProperty(tuner, KSPROPERTY_TUNER_INPUT, &input);
    }
  }
  return hr;
}

}  // namespace

HRESULT SetupTuner() {
  ScopedLock lock(GraphLock());
  HRESULT hr = S_OK;
  ComPtr<IKsPropertySet> tuner = TunerProperties(&hr);
  return tuner ? SetUpTvMode(tuner.get()) : hr;
}

HRESULT TuneFrequency(uint32_t hz) {
  ScopedLock lock(GraphLock());
  HRESULT hr = S_OK;
  ComPtr<IKsPropertySet> tuner = TunerProperties(&hr);
  if (!tuner) {
    return hr;
  }
  if (const uint32_t flags = TuningFlagsFor(TheTunerRange(), hz)) {
    KSPROPERTY_TUNER_FREQUENCY_S frequency = {};
    frequency.Frequency = hz;
    frequency.TuningFlags = flags;
    hr = SetProperty(tuner.get(), KSPROPERTY_TUNER_FREQUENCY, &frequency);
  }
  return hr;
}

}  // namespace kvx
