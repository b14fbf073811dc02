#include "tools/tv_card/crossbar.h"

namespace tvcard {
namespace {

struct Connector {
  LONG type;
  LONG related;
};
constexpr Connector kInputs[kInputCount] = {
    {PhysConn_Video_Tuner, kInputTunerAudio}, {PhysConn_Video_Composite, kInputLineAudio},
    {PhysConn_Video_SVideo, kInputLineAudio}, {PhysConn_Audio_Tuner, kInputTunerVideo},
    {PhysConn_Audio_Line, kInputComposite},
};
constexpr Connector kOutputs[kOutputCount] = {
    {PhysConn_Video_VideoDecoder, kOutputAudioDecoder},
    {PhysConn_Audio_AudioDecoder, kOutputVideoDecoder},
};

bool IsVideo(LONG type) {
  return type < PhysConn_Audio_Tuner;
}

}  // namespace

CrossbarFilter::CrossbarFilter()
    : CardFilter(Role::kCrossbar),
      tunerVideoIn_(this, &filterLock_, L"0: Video Tuner In", PINDIR_INPUT, MEDIATYPE_AnalogVideo,
                    Wire::kTunerVideo),
      compositeIn_(this, &filterLock_, L"1: Video Composite In", PINDIR_INPUT,
                   MEDIATYPE_AnalogVideo),
      sVideoIn_(this, &filterLock_, L"2: Video SVideo In", PINDIR_INPUT, MEDIATYPE_AnalogVideo),
      tunerAudioIn_(this, &filterLock_, L"3: Audio Tuner In", PINDIR_INPUT, MEDIATYPE_AnalogAudio,
                    Wire::kTvAudioOut),
      lineAudioIn_(this, &filterLock_, L"4: Audio Line In", PINDIR_INPUT, MEDIATYPE_AnalogAudio),
      videoDecoderOut_(this, &filterLock_, L"0: Video Decoder Out", PINDIR_OUTPUT,
                       MEDIATYPE_AnalogVideo, Wire::kDecoderVideo),
      audioDecoderOut_(this, &filterLock_, L"1: Audio Decoder Out", PINDIR_OUTPUT,
                       MEDIATYPE_AnalogAudio) {}

HRESULT CrossbarFilter::QueryInterface(REFIID iid, void** out) {
  return CardFilter::QueryInterface(iid, out);
}

ULONG CrossbarFilter::AddRef() {
  return CardFilter::AddRef();
}

ULONG CrossbarFilter::Release() {
  return CardFilter::Release();
}

HRESULT CrossbarFilter::LookupInterface(REFIID iid, void** out) {
  if (iid == IID_IAMCrossbar) {
    return HandOut(static_cast<IAMCrossbar*>(this), out);
  }
  return CardFilter::LookupInterface(iid, out);
}

kvx::PinBase* CrossbarFilter::PinAt(int index) {
  kvx::PinBase* const pins[] = {&tunerVideoIn_, &compositeIn_,     &sVideoIn_,       &tunerAudioIn_,
                                &lineAudioIn_,  &videoDecoderOut_, &audioDecoderOut_};
  return index >= 0 && index < PinCount() ? pins[index] : nullptr;
}

HRESULT CrossbarFilter::get_PinCounts(LONG* outputs, LONG* inputs) {
  if (outputs == nullptr || inputs == nullptr) {
    return E_POINTER;
  }
  *outputs = kOutputCount;
  *inputs = kInputCount;
  return S_OK;
}

HRESULT CrossbarFilter::CanRoute(LONG output, LONG input) {
  if (output < 0 || output >= kOutputCount || input < -1 || input >= kInputCount) {
    return E_INVALIDARG;
  }
  return input == -1 || IsVideo(kInputs[input].type) == IsVideo(kOutputs[output].type) ? S_OK
                                                                                       : S_FALSE;
}

HRESULT CrossbarFilter::Route(LONG output, LONG input) {
  const HRESULT hr = CanRoute(output, input);
  if (hr != S_OK) {
    return FAILED(hr) ? hr : VFW_E_CANNOT_CONNECT;
  }
  if (FaultOn(fault::kRouteFails)) {
    return kDeviceFailure;
  }
  const std::shared_ptr<CardState> card = Card();
  std::lock_guard<std::mutex> hold(card->lock);
  (output == kOutputVideoDecoder ? card->videoRoute : card->audioRoute) = input;
  return S_OK;
}

HRESULT CrossbarFilter::get_IsRoutedTo(LONG output, LONG* input) {
  if (input == nullptr) {
    return E_POINTER;
  }
  if (output < 0 || output >= kOutputCount) {
    return E_INVALIDARG;
  }
  if (FaultOn(fault::kRouteQueryFails)) {
    return kDeviceFailure;
  }
  const std::shared_ptr<CardState> card = Card();
  std::lock_guard<std::mutex> hold(card->lock);
  *input = output == kOutputVideoDecoder ? card->videoRoute : card->audioRoute;
  return S_OK;
}

HRESULT CrossbarFilter::get_CrossbarPinInfo(BOOL isInput, LONG index, LONG* related, LONG* type) {
  if (related == nullptr || type == nullptr) {
    return E_POINTER;
  }
  const LONG count = isInput ? kInputCount : kOutputCount;
  if (index < 0 || index >= count) {
    return E_INVALIDARG;
  }
  const Connector& connector = isInput ? kInputs[index] : kOutputs[index];
  *related = connector.related;
  *type = connector.type;
  if (*type == PhysConn_Video_VideoDecoder && FaultOn(fault::kNoDecoderOutput)) {
    *type = PhysConn_Video_SerialDigital;
  } else if (*type == PhysConn_Video_SVideo && FaultOn(fault::kTwinComposite)) {
    *type = PhysConn_Video_Composite;
  }
  return S_OK;
}

TvAudioFilter::TvAudioFilter()
    : CardFilter(Role::kTvAudio),
      in_(this, &filterLock_, L"TVAudio In", PINDIR_INPUT, MEDIATYPE_AnalogAudio,
          Wire::kTunerAudio),
      out_(this, &filterLock_, L"TVAudio Out", PINDIR_OUTPUT, MEDIATYPE_AnalogAudio,
           Wire::kTvAudioOut) {}

kvx::PinBase* TvAudioFilter::PinAt(int index) {
  return index == 0 ? &in_ : index == 1 ? &out_ : nullptr;
}

}  // namespace tvcard
