#include "capture/capture_graph.h"

namespace kvx {

CaptureGraph& Graph() {
  static CaptureGraph graph;
  return graph;
}

HRESULT BuildGraph() {
  // No capture graph can be built yet: the build fails and the plug-in runs without PiP.
  return E_NOTIMPL;
}

void TearDownGraph() {
  CaptureGraph& g = Graph();
  g.pipBuffer.reset();
  g.mediaControl.reset();
  g.graph.reset();
}

HRESULT SetupTuner() {
  return E_NOTIMPL;
}

HRESULT SetChannel(int32_t) {
  return E_NOTIMPL;
}

}  // namespace kvx
