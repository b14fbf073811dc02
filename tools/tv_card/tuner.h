// The card's TV tuner: analog video and audio output pins, and the kernel-streaming tuner
// property set (PROPSETID_TUNER) through IKsPropertySet on the filter: caps, mode caps, mode,
// frequency and input, each exchanged as its published record, header included. The instance
// data must be the record after its 24-byte KSPROPERTY header, and the property data the whole
// record; shorter buffers are refused, as a driver with those minimum sizes refuses them.
//
// Threads: property calls come on control threads; they take the card's lock only.
#pragma once

#include <windows.h>
#include <dshow.h>

#include "tools/tv_card/card_filter.h"
#include "tools/tv_card/pins.h"

namespace tvcard {

class TunerFilter final : public CardFilter, public IKsPropertySet {
 public:
  TunerFilter();

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  // IKsPropertySet
  STDMETHODIMP Set(REFGUID set, DWORD id, LPVOID instance, DWORD instanceBytes, LPVOID data,
                   DWORD dataBytes) override;
  STDMETHODIMP Get(REFGUID set, DWORD id, LPVOID instance, DWORD instanceBytes, LPVOID data,
                   DWORD dataBytes, DWORD* returned) override;
  STDMETHODIMP QuerySupported(REFGUID set, DWORD id, DWORD* support) override;

  int PinCount() override { return 2; }
  kvx::PinBase* PinAt(int index) override;

 protected:
  HRESULT LookupInterface(REFIID iid, void** out) override;

 private:
  AnalogPin video_;
  AnalogPin audio_;
};

}  // namespace tvcard
