// The PiP card's DirectShow graph: tuner -> TV audio -> crossbar -> capture device -> PiP
// Renderer, built from the saved device paths, and torn down again.
//
// Threads: BuildGraph and TearDownGraph run on the host's thread that calls Init and Done, and
// on the user-interface thread (the device page's apply command); RunGraph and StopGraph
// (plugin/plugin.h) use control on those threads and for the hotkeys, and the channel commands
// (capture/channels.h) use the filters. Each of these holds GraphLock while it works on the
// record. Nothing else touches the record, except:
//
//   The frame step, on the host's frame thread, reads pPiPBuffer: it loads the pointer once,
//   inside a FrameReadScope, and calls only GetFrame on it. It never adds or releases a
//   reference to the renderer and never queries it. Tear-down clears GraphRunning and
//   unpublishes pPiPBuffer before it releases anything, and the renderer's destruction waits for
//   frame steps that may have found it.
#pragma once

#include <windows.h>
#include <dshow.h>

#include <cstdint>

#include "capture/device_binding.h"
#include "settings/pip_settings.h"
#include "video/com_ptr.h"
#include "video/critical_section.h"
#include "video/pip_buffer.h"
#include "video/published_com_ptr.h"

namespace kvx {

// Each non-null pointer holds one reference; all are null at load and after TearDownGraph.
struct CaptureGraph {
  ComPtr<IGraphBuilder> graph;
  ComPtr<ICaptureGraphBuilder2> builder;
  ComPtr<IMediaControl> control;
  PublishedComPtr<IPiPBuffer> pPiPBuffer;
  ComPtr<IBaseFilter> tuner;
  ComPtr<IBaseFilter> tvAudio;
  ComPtr<IBaseFilter> crossbar;
  ComPtr<IBaseFilter> capture;
  ComPtr<IBaseFilter> renderer;
};

CaptureGraph& Graph();

// The devices the last build bound by their names; RunGraph notes when that graph runs.
Rebinding& BuildRebinding();
// Once the graph built from them ran, and when they are one card's alone, the paths of devices
// found by their names replace the saved ones that were gone; true when a path changed. The
// record is emptied either way. Allocates: called where the host's thread may (Start, a
// rebuild, Done), never on the hotkey paths.
bool KeepRebinding(PipSettings& settings);

// Guards the record and the work done with its filters: builds, tear-downs, running, stopping,
// tuning and routing. Taken by the host's thread and its user-interface thread, before any
// DirectShow lock; never by the frame thread or a streaming thread, so it cannot hold them up.
CriticalSection& GraphLock();

// Builds the graph into an empty record and leaves it stopped; true when the whole graph
// stands. The device lists and the format list are refilled on the way. A failed build keeps
// what it acquired for TearDownGraph.
bool BuildGraph();
// Whether the last build failed for a configured crossbar or capture device that is not there
// (pulled out, not enumerated yet): its arrival is worth another build.
bool& MissedDevice();
// Whether the last build failed because the system denied access to the capture device (a
// camera that Windows' privacy settings keep from desktop programs).
bool& DeviceAccessDenied();
// Empties the record, whatever state the graph and its filters are in; never waits on a
// filter that refused to pause or run.
void TearDownGraph();
// Stops every filter in the graph directly, converters included. Wine's graph can report
// itself stopped while filters it had paused stay paused (a device that refused to run); those
// would refuse to be removed.
void StopEveryFilter();
// False when a filter of the graph says it is not running after the graph was told to run.
// Some graphs (Wine's) answer Run with success even when a filter refused to run.
bool EveryFilterRunning();

}  // namespace kvx
