// The plug-in's boundary with the host: the descriptor and its six entry points, the
// module-wide lifecycle flags, and the graph-level operations shared by the entry points, the
// hotkeys and the settings dialog.
//
// Threads: the host calls Init, Start, Stop, ShowSettings and Done on its user-interface thread
// and Frame on whichever thread processes its video. RebuildGraph, RunGraph and StopGraph run on
// the host's thread that calls the entry points and on the user-interface thread.
#pragma once

#include <cstdint>

#include "plugin/host_records.h"
#include "plugin/shared_value.h"

namespace kvx {

struct LifecycleState {
  SharedValue<bool> GraphBuilt;
  // Between the host's Start and Stop (or Done).
  SharedValue<bool> Started;
  SharedValue<bool> GraphRunning;
  SharedValue<bool> TunerUsable;
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

void RebuildGraph();
bool RunGraph();
bool StopGraph();

void KVX_CDECL Init(HostCallbacks* callbacks);
int32_t KVX_CDECL Start(HostStream* stream);
int32_t KVX_CDECL Frame(HostFrame* frame);
void KVX_CDECL Stop();
void KVX_CDECL ShowSettings(void* parentWindow);
void KVX_CDECL Done();

}  // namespace kvx
