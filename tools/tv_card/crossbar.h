// The card's crossbar and its TV audio device.
//
// Crossbar: five inputs (tuner video, composite, S-Video, tuner audio, line audio) and two
// outputs (video decoder, audio decoder), as pins in that order, inputs first. IAMCrossbar
// numbers inputs and outputs separately in the same order. A video output takes only video
// inputs and an audio output only audio inputs; input -1 disconnects an output. The video
// decoder's route decides what the capture device shows.
//
// TV audio: one analog audio input and one output, and nothing else.
//
// Threads: control threads only; IAMCrossbar calls take the card's lock.
#pragma once

#include <windows.h>
#include <dshow.h>

#include "tools/tv_card/card_filter.h"
#include "tools/tv_card/pins.h"

namespace tvcard {

class CrossbarFilter final : public CardFilter, public IAMCrossbar {
 public:
  CrossbarFilter();

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  // IAMCrossbar
  STDMETHODIMP get_PinCounts(LONG* outputs, LONG* inputs) override;
  STDMETHODIMP CanRoute(LONG output, LONG input) override;
  STDMETHODIMP Route(LONG output, LONG input) override;
  STDMETHODIMP get_IsRoutedTo(LONG output, LONG* input) override;
  STDMETHODIMP get_CrossbarPinInfo(BOOL isInput, LONG index, LONG* related, LONG* type) override;

  int PinCount() override { return kInputCount + kOutputCount; }
  kvx::PinBase* PinAt(int index) override;

 protected:
  HRESULT LookupInterface(REFIID iid, void** out) override;

 private:
  AnalogPin tunerVideoIn_;
  AnalogPin compositeIn_;
  AnalogPin sVideoIn_;
  AnalogPin tunerAudioIn_;
  AnalogPin lineAudioIn_;
  AnalogPin videoDecoderOut_;
  AnalogPin audioDecoderOut_;
};

class TvAudioFilter final : public CardFilter {
 public:
  TvAudioFilter();

  int PinCount() override { return 2; }
  kvx::PinBase* PinAt(int index) override;

 private:
  AnalogPin in_;
  AnalogPin out_;
};

}  // namespace tvcard
