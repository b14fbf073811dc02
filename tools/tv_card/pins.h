// The card's pins: CardPin adds the output side of a connection to the framework's PinBase, and
// AnalogPin is the analog video or audio wire between the card's devices.
//
// Threads: connections are made and broken on the graph's control threads under the filter's
// lock, which is also the pin's. Connect calls the receiving pin while holding that lock, as
// the framework's own pins do.
#pragma once

#include <windows.h>
#include <dshow.h>

#include "video/filter_base.h"
#include "video/media_type.h"
#include "video/pin_base.h"

namespace tvcard {

class CardPin : public kvx::PinBase {
 public:
  CardPin(kvx::FilterBase* filter, kvx::CriticalSection* lock, const wchar_t* name,
          PIN_DIRECTION direction);

  // For output pins: a complete type is tried alone; otherwise each of the pin's own proposals
  // that fits the partial type, then each of the receiving pin's that this pin accepts.
  STDMETHODIMP Connect(IPin* receivePin, const AM_MEDIA_TYPE* type) override;

 private:
  HRESULT TryConnect(IPin* receivePin, const AM_MEDIA_TYPE& type);
};

// Carries no samples: the card's devices talk through their shared state (tools/tv_card/card.h).
// Proposes and accepts its major type alone.
class AnalogPin final : public CardPin {
 public:
  AnalogPin(kvx::FilterBase* filter, kvx::CriticalSection* lock, const wchar_t* name,
            PIN_DIRECTION direction, const GUID& majorType);

  HRESULT GetMediaType(int position, kvx::MediaTypeValue* type) override;

 protected:
  HRESULT AcceptMediaType(const AM_MEDIA_TYPE& type) override;

 private:
  const GUID majorType_;
};

}  // namespace tvcard
