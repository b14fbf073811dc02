// The plug-in's boundary with the host: the descriptor and its six entry points, the
// module-wide lifecycle flags, and the graph-level operations shared by the entry points, the
// hotkeys and the settings dialog.
//
// Threads: the host calls Init, Start, Stop, ShowSettings and Done on its user-interface thread
// and Frame on whichever thread processes its video. RebuildGraph, RunGraph and StopGraph run on
// the host's thread that calls the entry points and on the user-interface thread.
#pragma once

#include <cstdint>

#include <windows.h>

#include "plugin/host_records.h"
#include "base/shared_value.h"

namespace kvx {

struct LifecycleState {
  SharedValue<bool> GraphBuilt;
  // Between the host's Start and Stop (or Done).
  SharedValue<bool> Started;
  SharedValue<bool> GraphRunning;
  // The PiP card's device went away (or its stream broke off): the graph, stopped, waits for it
  // to come back, and tries are made until a graph built afresh runs; the PiP shows the blue
  // picture meanwhile. Cleared by that run and by Done.
  SharedValue<bool> DeviceWaiting;
  // The PiP Renderer refuses the samples of a type it cannot draw: status text 6 meanwhile.
  SharedValue<bool> SamplesRefused;
  SharedValue<bool> TunerUsable;
  // The graph standing has a crossbar (an analog card); a USB grabber or camera has none.
  SharedValue<bool> CrossbarPresent;
  // Tick count of the last Frame that carried pixels; 0 after Start. The hooks act only while
  // host frames keep arriving.
  SharedValue<uint32_t> LastFrameTick;
  // The host's channel-state stamp last seen, and the position read with it.
  SharedValue<int32_t> HostStamp1;
  SharedValue<int32_t> HostStamp2;
  SharedValue<int32_t> HostPosition;
  // HostStream's mode, copied at Start; size and format go to the frame step.
  SharedValue<int32_t> StreamMode;
};

LifecycleState& Lifecycle();

const PluginDescriptor* Descriptor();

// A rebuild asked for while one is under way on the same thread does nothing.
void RebuildGraph();
// A graph run after its device went away ends the wait. The graph that was stopped then is not
// run again: a try is asked for instead, which builds a new one.
bool RunGraph();
bool StopGraph();

// The graph's events (capture/graph_events.h), on the thread that builds the graph. The device
// went away or the stream ended in an error (EC_DEVICE_LOST, EC_ERRORABORT with its result,
// EC_STREAM_ERROR_STOPPED): the graph is stopped and waits, status text 6, and a try comes
// after 1, 2, 4, 8 and then every 15 seconds.
void DeviceWentAway(long eventCode, HRESULT result);
// A device arrived (EC_DEVICE_LOST with lParam2 1, or a capture device in WM_DEVICECHANGE):
// a waiting graph is tried at once, the delays starting over.
void DeviceReturned();
// A try while the graph waits: rebuilt, and run as the save button would, unless the PiP is
// off or the host stopped. During a rebuild it waits for that rebuild's end.
void TryDeviceAgain();

// The newest frame older than this is a stalled stream, drawn as the blue picture.
inline constexpr uint32_t kStalledAfterMs = 2000;

void KVX_CDECL Init(HostCallbacks* callbacks);
int32_t KVX_CDECL Start(HostStream* stream);
int32_t KVX_CDECL Frame(HostFrame* frame);
void KVX_CDECL Stop();
void KVX_CDECL ShowSettings(void* parentWindow);
void KVX_CDECL Done();

}  // namespace kvx
