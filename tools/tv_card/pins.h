// The card's pins: CardPin adds the output side of a connection to the framework's PinBase, and
// AnalogPin is the analog video or audio wire between the card's devices.
//
// Threads: connections are made and broken on the graph's control threads under the filter's
// lock, which is also the pin's. Connect calls the receiving pin while holding that lock, as
// the framework's own pins do.
#pragma once

#include <windows.h>
#include <dshow.h>
#include <ks.h>
// IKsPin is declared only for code built on DirectShow's stream classes, which announce
// themselves this way; the interface itself needs nothing of theirs.
#ifndef __STREAMS__
#define __STREAMS__
#endif
#include <ksproxy.h>

#include "video/filter_base.h"
#include "video/media_type.h"
#include "video/pin_base.h"

namespace tvcard {

// The wire on the board a pin sits on: the two pins of a wire share a kernel-streaming medium,
// whose id is the card's own, as WDM analog drivers publish them (the mediums switch).
enum class Wire { kNone, kTunerVideo, kTunerAudio, kTvAudioOut, kDecoderVideo };

// The medium the card's pins share: set kCardMediumSet, id card * 16 + the wire.
inline constexpr GUID kCardMediumSet = {
    0x5BC43FA1, 0x7F1B, 0x4C3E, {0x8A, 0x56, 0x0E, 0x44, 0x21, 0x9D, 0x73, 0x0C}};

// Under the mediums switch the pin answers IKsPin, of which only KsQueryMediums works.
class CardPin : public kvx::PinBase, public IKsPin {
 public:
  CardPin(kvx::FilterBase* filter, kvx::CriticalSection* lock, const wchar_t* name,
          PIN_DIRECTION direction, Wire wire = Wire::kNone);

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;
  // For output pins: a complete type is tried alone; otherwise each of the pin's own proposals
  // that fits the partial type, then each of the receiving pin's that this pin accepts.
  STDMETHODIMP Connect(IPin* receivePin, const AM_MEDIA_TYPE* type) override;

  // IKsPin: the pin's one medium, in a list the caller frees with CoTaskMemFree.
  STDMETHODIMP KsQueryMediums(PKSMULTIPLE_ITEM* mediums) override;
  STDMETHODIMP KsQueryInterfaces(PKSMULTIPLE_ITEM*) override { return E_NOTIMPL; }
  STDMETHODIMP KsCreateSinkPinHandle(KSPIN_INTERFACE&, KSPIN_MEDIUM&) override { return E_NOTIMPL; }
  STDMETHODIMP KsGetCurrentCommunication(KSPIN_COMMUNICATION*, KSPIN_INTERFACE*,
                                         KSPIN_MEDIUM*) override {
    return E_NOTIMPL;
  }
  STDMETHODIMP KsPropagateAcquire() override { return E_NOTIMPL; }
  STDMETHODIMP KsDeliver(IMediaSample*, ULONG) override { return E_NOTIMPL; }
  STDMETHODIMP KsMediaSamplesCompleted(PKSSTREAM_SEGMENT) override { return E_NOTIMPL; }
  STDMETHODIMP_(IMemAllocator*) KsPeekAllocator(KSPEEKOPERATION) override { return nullptr; }
  STDMETHODIMP KsReceiveAllocator(IMemAllocator*) override { return E_NOTIMPL; }
  STDMETHODIMP KsRenegotiateAllocator() override { return E_NOTIMPL; }
  STDMETHODIMP_(LONG) KsIncrementPendingIoCount() override { return 0; }
  STDMETHODIMP_(LONG) KsDecrementPendingIoCount() override { return 0; }
  STDMETHODIMP KsQualityNotify(ULONG, REFERENCE_TIME) override { return E_NOTIMPL; }

 protected:
  HRESULT LookupInterface(REFIID iid, void** out) override;

 private:
  HRESULT TryConnect(IPin* receivePin, const AM_MEDIA_TYPE& type);

  const Wire wire_;
};

// Carries no samples: the card's devices talk through their shared state (tools/tv_card/card.h).
// Proposes and accepts its major type alone.
class AnalogPin final : public CardPin {
 public:
  AnalogPin(kvx::FilterBase* filter, kvx::CriticalSection* lock, const wchar_t* name,
            PIN_DIRECTION direction, const GUID& majorType, Wire wire = Wire::kNone);

  HRESULT GetMediaType(int position, kvx::MediaTypeValue* type) override;

 protected:
  HRESULT AcceptMediaType(const AM_MEDIA_TYPE& type) override;

 private:
  const GUID majorType_;
};

}  // namespace tvcard
