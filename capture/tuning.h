// The PiP card's hardware controls: its tuner (kernel-streaming tuner properties), its
// crossbar's video input and its decoder's analog video standard, and the devices' own
// property pages.
//
// Threads: SetupTuner runs in RebuildGraph; the three controls in the channel commands
// (capture/channels.h). All of these under the capture graph's lock, on the host's thread that
// calls Init and Start or on its user-interface thread. ShowPropertyPages runs on the
// user-interface thread (the device page), without the lock: it is modal.
#pragma once

#include <windows.h>

#include <cstdint>

namespace kvx {

// Puts the tuner in TV mode on its first input and reads its TV range into TheTunerRange().
HRESULT SetupTuner();
// Tunes hz when it lies in the tuner's range; outside it nothing is written.
HRESULT TuneFrequency(uint32_t hz);
// An AnalogVideo_* bit; E_NOTIMPL when the decoder does not offer it.
HRESULT SetVideoStandard(int32_t standard);
// Routes the first input of this physical connector type to the first video-decoder output.
HRESULT RouteCrossbar(int32_t connectorType);

// The filter's own property pages in a modal frame captioned with its name in the graph;
// nothing for a null filter or one without pages.
void ShowPropertyPages(HWND owner, IUnknown* filter);

}  // namespace kvx
