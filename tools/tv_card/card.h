// One virtual card's hardware: the tuner's, crossbar's and decoder's registers, shared by the
// card's four filters the way the devices of one board share its chips. The tuner writes the
// frequency, the crossbar the routes, the decoder the standard; the capture filter's streaming
// thread reads them for every frame it draws. The graph's pin connections between the filters
// carry no data, as on a real card, where they only describe the wiring.
//
// Threads: any control thread (the filters' interface calls) and the capture filter's streaming
// thread. The registers are guarded by the card's lock, the innermost lock of the card: a thread
// may hold a filter lock when it takes it, never the other way round.
#pragma once

#include <windows.h>
#include <dshow.h>

#include <cstdint>
#include <memory>
#include <mutex>

#include "tools/tv_card/picture.h"
#include "tools/tv_card/tv_card.h"
#include "video/com_object.h"

namespace tvcard {

// Whether a fault switch is set in the environment now.
bool FaultOn(const wchar_t* name);

// Crossbar inputs and outputs, in pin order.
inline constexpr LONG kInputTunerVideo = 0;
inline constexpr LONG kInputComposite = 1;
inline constexpr LONG kInputSVideo = 2;
inline constexpr LONG kInputTunerAudio = 3;
inline constexpr LONG kInputLineAudio = 4;
inline constexpr LONG kInputCount = 5;
inline constexpr LONG kOutputVideoDecoder = 0;
inline constexpr LONG kOutputAudioDecoder = 1;
inline constexpr LONG kOutputCount = 2;

// What the tuner offers; MinFrequency to MaxFrequency in Hz.
inline constexpr ULONG kMinFrequency = 45000000;
inline constexpr ULONG kMaxFrequency = 860000000;
inline constexpr ULONG kTunerInputs = 2;  // 0 antenna, 1 cable; stations come in on the antenna

// The standards the decoder offers: all but PAL-60, NTSC 4.43 and the rare SECAM variants.
inline constexpr LONG kAvailableStandards =
    AnalogVideo_NTSC_M | AnalogVideo_NTSC_M_J | AnalogVideo_PAL_B | AnalogVideo_PAL_D |
    AnalogVideo_PAL_G | AnalogVideo_PAL_H | AnalogVideo_PAL_I | AnalogVideo_PAL_M |
    AnalogVideo_PAL_N | AnalogVideo_SECAM_B | AnalogVideo_SECAM_D | AnalogVideo_SECAM_G |
    AnalogVideo_SECAM_K | AnalogVideo_SECAM_L;
// 100 ns units per frame: 25 frames a second, or 30000/1001 for the 525-line standards.
REFERENCE_TIME FrameInterval(LONG standard);
LONG LinesOf(LONG standard);

class CardState : private kvx::LiveObject {
 public:
  explicit CardState(int number);

  int Number() const { return number_; }
  // What the capture device sees now; takes the lock.
  Scene CurrentScene();

  // Fixed when the card powers on.
  const bool hasTvMode;
  // Guards the registers below; taken by the control threads (tuner, crossbar and decoder calls)
  // and by the capture filter's streaming thread once a frame, never while waiting on anything.
  std::mutex lock;
  ULONG tunerMode;
  ULONG frequency = 0;
  ULONG lastFrequency = 0;
  ULONG tuningFlags = 0;
  ULONG tunerInput = 0;
  LONG videoRoute = kInputTunerVideo;
  LONG audioRoute = kInputTunerAudio;
  LONG standard = AnalogVideo_PAL_B;
  // The capture filter that has the card's stream open, or null; compared, never dereferenced.
  const void* streamOwner = nullptr;

 private:
  const int number_;
};

// The state of card `number` (1 to kLastCard), shared while any filter holds it and created
// afresh, at power-on values, when none does. Any thread.
std::shared_ptr<CardState> OpenCard(int number);

}  // namespace tvcard
