// The PiP card's DirectShow graph and its filters.
//
// Threads: built, run, stopped and torn down on the host's thread that calls Init, Start, Stop
// and Done, and on the user-interface thread (hotkeys, settings dialog). pipBuffer is read by the
// frame step on the host's frame thread.
#pragma once

#include <windows.h>
#include <dshow.h>

#include "video/com_ptr.h"
#include "video/pip_buffer.h"

namespace kvx {

struct CaptureGraph {
  ComPtr<IGraphBuilder> graph;
  ComPtr<IMediaControl> mediaControl;
  ComPtr<IPiPBuffer> pipBuffer;
};

CaptureGraph& Graph();

HRESULT BuildGraph();
// Releases whatever the graph holds; safe on a partly built or empty graph.
void TearDownGraph();

// Tuner and source selection on a built graph.
HRESULT SetupTuner();
HRESULT SetChannel(int32_t position);

}  // namespace kvx
