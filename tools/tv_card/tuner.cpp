#include "tools/tv_card/tuner.h"

#include <ks.h>
#include <ksmedia.h>

#include <cstring>

namespace tvcard {
namespace {

constexpr GUID kPropSetTuner = {STATIC_PROPSETID_TUNER};
constexpr GUID kMediumSetStandard = {STATIC_KSMEDIUMSETID_Standard};
constexpr DWORD kHeaderBytes = sizeof(KSPROPERTY);

static_assert(kHeaderBytes == 24);
static_assert(sizeof(KSPROPERTY_TUNER_CAPS_S) == 104);
static_assert(sizeof(KSPROPERTY_TUNER_MODE_CAPS_S) == 56);
static_assert(sizeof(KSPROPERTY_TUNER_MODE_S) == 32);
static_assert(sizeof(KSPROPERTY_TUNER_FREQUENCY_S) == 56);
static_assert(sizeof(KSPROPERTY_TUNER_INPUT_S) == 32);

struct Property {
  DWORD id;
  DWORD recordBytes;
  DWORD support;
  const wchar_t* fault;
};
constexpr DWORD kGet = KSPROPERTY_SUPPORT_GET;
constexpr DWORD kGetSet = KSPROPERTY_SUPPORT_GET | KSPROPERTY_SUPPORT_SET;
constexpr Property kProperties[] = {
    {KSPROPERTY_TUNER_CAPS, sizeof(KSPROPERTY_TUNER_CAPS_S), kGet, fault::kTunerCapsFails},
    {KSPROPERTY_TUNER_MODE_CAPS, sizeof(KSPROPERTY_TUNER_MODE_CAPS_S), kGet,
     fault::kTunerModeCapsFails},
    {KSPROPERTY_TUNER_MODE, sizeof(KSPROPERTY_TUNER_MODE_S), kGetSet, fault::kTunerModeFails},
    {KSPROPERTY_TUNER_FREQUENCY, sizeof(KSPROPERTY_TUNER_FREQUENCY_S), kGetSet,
     fault::kTunerFrequencyFails},
    {KSPROPERTY_TUNER_INPUT, sizeof(KSPROPERTY_TUNER_INPUT_S), kGetSet, fault::kTunerInputFails},
};

// FM radio, which every card has; TV is the card's main mode.
constexpr ULONG kFmMin = 87500000;
constexpr ULONG kFmMax = 108000000;

HRESULT FindProperty(REFGUID set, DWORD id, const Property** found) {
  if (set != kPropSetTuner) {
    return E_PROP_SET_UNSUPPORTED;
  }
  for (const Property& p : kProperties) {
    if (p.id == id) {
      *found = &p;
      return S_OK;
    }
  }
  return E_PROP_ID_UNSUPPORTED;
}

// The checks every call shares; the property's record on success.
HRESULT CheckCall(REFGUID set, DWORD id, bool writing, const void* instance, DWORD instanceBytes,
                  const void* data, DWORD dataBytes, const Property** found) {
  HRESULT hr = FindProperty(set, id, found);
  if (FAILED(hr)) {
    return hr;
  }
  if (writing && ((*found)->support & KSPROPERTY_SUPPORT_SET) == 0) {
    return E_PROP_ID_UNSUPPORTED;
  }
  if (data == nullptr || instance == nullptr) {
    return E_POINTER;
  }
  if (instanceBytes < (*found)->recordBytes - kHeaderBytes || dataBytes < (*found)->recordBytes) {
    return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
  }
  return FaultOn(fault::kTunerFails) || FaultOn((*found)->fault) ? kDeviceFailure : S_OK;
}

bool InRange(ULONG mode, ULONG hz) {
  return mode == KSPROPERTY_TUNER_MODE_TV ? hz >= kMinFrequency && hz <= kMaxFrequency
                                          : hz >= kFmMin && hz <= kFmMax;
}

KSPIN_MEDIUM Medium(int card) {
  KSPIN_MEDIUM medium = {};
  medium.Set = kMediumSetStandard;
  medium.Id = static_cast<ULONG>(card);
  return medium;
}

}  // namespace

TunerFilter::TunerFilter()
    : CardFilter(Role::kTuner),
      video_(this, &filterLock_, L"Analog Video", PINDIR_OUTPUT, MEDIATYPE_AnalogVideo,
             Wire::kTunerVideo),
      audio_(this, &filterLock_, L"Analog Audio", PINDIR_OUTPUT, MEDIATYPE_AnalogAudio,
             Wire::kTunerAudio) {}

HRESULT TunerFilter::QueryInterface(REFIID iid, void** out) {
  return CardFilter::QueryInterface(iid, out);
}

ULONG TunerFilter::AddRef() {
  return CardFilter::AddRef();
}

ULONG TunerFilter::Release() {
  return CardFilter::Release();
}

HRESULT TunerFilter::LookupInterface(REFIID iid, void** out) {
  if (iid == IID_IKsPropertySet) {
    return HandOut(static_cast<IKsPropertySet*>(this), out);
  }
  return CardFilter::LookupInterface(iid, out);
}

kvx::PinBase* TunerFilter::PinAt(int index) {
  switch (index) {
    case 0:
      return &video_;
    case 1:
      return &audio_;
    default:
      return nullptr;
  }
}

HRESULT TunerFilter::Get(REFGUID set, DWORD id, LPVOID instance, DWORD instanceBytes, LPVOID data,
                         DWORD dataBytes, DWORD* returned) {
  const Property* property = nullptr;
  const HRESULT hr = CheckCall(set, id, false, instance, instanceBytes, data, dataBytes, &property);
  if (FAILED(hr)) {
    return hr;
  }
  // The one request field, MODE_CAPS's mode, comes in the instance data, which may be the
  // record's own tail.
  const ULONG requestedMode = *static_cast<const ULONG*>(instance);
  auto* record = static_cast<BYTE*>(data);
  std::memset(record + kHeaderBytes, 0, property->recordBytes - kHeaderBytes);
  const std::shared_ptr<CardState> card = Card();
  std::lock_guard<std::mutex> hold(card->lock);
  switch (id) {
    case KSPROPERTY_TUNER_CAPS: {
      auto* caps = reinterpret_cast<KSPROPERTY_TUNER_CAPS_S*>(record);
      caps->ModesSupported = KSPROPERTY_TUNER_MODE_FM_RADIO;
      if (card->hasTvMode) {
        caps->ModesSupported |= KSPROPERTY_TUNER_MODE_TV;
      }
      caps->VideoMedium = Medium(card->Number());
      caps->TVAudioMedium = Medium(card->Number());
      caps->RadioAudioMedium = Medium(card->Number());
      break;
    }
    case KSPROPERTY_TUNER_MODE_CAPS: {
      auto* caps = reinterpret_cast<KSPROPERTY_TUNER_MODE_CAPS_S*>(record);
      caps->Mode = requestedMode;
      if (caps->Mode == KSPROPERTY_TUNER_MODE_TV && card->hasTvMode) {
        caps->StandardsSupported = kAvailableStandards;
        caps->MinFrequency = kMinFrequency;
        caps->MaxFrequency = kMaxFrequency;
        caps->TuningGranularity = 62500;
        caps->NumberOfInputs = kTunerInputs;
      } else if (caps->Mode == KSPROPERTY_TUNER_MODE_FM_RADIO) {
        caps->StandardsSupported = 0;
        caps->MinFrequency = kFmMin;
        caps->MaxFrequency = kFmMax;
        caps->TuningGranularity = 50000;
        caps->NumberOfInputs = 1;
      } else {
        return E_INVALIDARG;
      }
      caps->SettlingTime = 100;
      caps->Strategy =
          FaultOn(fault::kDriverTunes) ? KS_TUNER_STRATEGY_DRIVER_TUNES : KS_TUNER_STRATEGY_PLL;
      break;
    }
    case KSPROPERTY_TUNER_MODE:
      reinterpret_cast<KSPROPERTY_TUNER_MODE_S*>(record)->Mode = card->tunerMode;
      break;
    case KSPROPERTY_TUNER_FREQUENCY: {
      auto* frequency = reinterpret_cast<KSPROPERTY_TUNER_FREQUENCY_S*>(record);
      frequency->Frequency = card->frequency;
      frequency->LastFrequency = card->lastFrequency;
      frequency->TuningFlags = card->tuningFlags;
      break;
    }
    case KSPROPERTY_TUNER_INPUT:
      reinterpret_cast<KSPROPERTY_TUNER_INPUT_S*>(record)->InputIndex = card->tunerInput;
      break;
  }
  if (returned != nullptr) {
    *returned = property->recordBytes;
  }
  return S_OK;
}

HRESULT TunerFilter::Set(REFGUID set, DWORD id, LPVOID instance, DWORD instanceBytes, LPVOID data,
                         DWORD dataBytes) {
  const Property* property = nullptr;
  const HRESULT hr = CheckCall(set, id, true, instance, instanceBytes, data, dataBytes, &property);
  if (FAILED(hr)) {
    return hr;
  }
  const std::shared_ptr<CardState> card = Card();
  std::lock_guard<std::mutex> hold(card->lock);
  switch (id) {
    case KSPROPERTY_TUNER_MODE: {
      const ULONG mode = static_cast<const KSPROPERTY_TUNER_MODE_S*>(data)->Mode;
      if (mode != KSPROPERTY_TUNER_MODE_FM_RADIO &&
          !(mode == KSPROPERTY_TUNER_MODE_TV && card->hasTvMode)) {
        return E_INVALIDARG;
      }
      card->tunerMode = mode;
      return S_OK;
    }
    case KSPROPERTY_TUNER_FREQUENCY: {
      const auto* frequency = static_cast<const KSPROPERTY_TUNER_FREQUENCY_S*>(data);
      if (!InRange(card->tunerMode, frequency->Frequency)) {
        return E_INVALIDARG;
      }
      card->lastFrequency = card->frequency;
      card->frequency = frequency->Frequency;
      card->tuningFlags = frequency->TuningFlags;
      return S_OK;
    }
    case KSPROPERTY_TUNER_INPUT: {
      const ULONG input = static_cast<const KSPROPERTY_TUNER_INPUT_S*>(data)->InputIndex;
      if (input >= kTunerInputs) {
        return E_INVALIDARG;
      }
      card->tunerInput = input;
      return S_OK;
    }
    default:
      return E_PROP_ID_UNSUPPORTED;
  }
}

HRESULT TunerFilter::QuerySupported(REFGUID set, DWORD id, DWORD* support) {
  if (support == nullptr) {
    return E_POINTER;
  }
  const Property* property = nullptr;
  const HRESULT hr = FindProperty(set, id, &property);
  if (SUCCEEDED(hr)) {
    *support = property->support;
  }
  return hr;
}

}  // namespace tvcard
