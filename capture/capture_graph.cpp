#include "capture/capture_graph.h"

#include <new>

#include "capture/device_list.h"
#include "capture/graph_events.h"
#include "capture/stream_config.h"
#include "capture/stream_format.h"
#include "plugin/plugin.h"
#include "plugin/status_log.h"
#include "settings/settings_store.h"
#include "video/pip_renderer.h"

namespace kvx {
namespace {

constexpr DWORD kClassContext = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER;

void Step(std::string_view text) {
  StatusLog::LogStep(kLogStepLevel, text);
}

struct DeviceStep {
  const char* searchText;
  const GUID* category;
  DeviceKind kind;
  std::string PipSettings::*savedName;
  std::string PipSettings::*savedPath;
  uint32_t PipSettings::*nameWasUnique;
  const char* addText;
  const wchar_t* nameInGraph;
  ComPtr<IBaseFilter> CaptureGraph::*field;
};

const DeviceStep kDeviceSteps[] = {
    {"Search TVTunerDevice ... ", &AM_KSCATEGORY_TVTUNER, DeviceKind::kTuner,
     &PipSettings::TVTunerDeviceName, &PipSettings::TVTunerDevicePath,
     &PipSettings::TVTunerDeviceNameUnique, "Add TV Tuner Devise to Graph... ", L"TV Tuner",
     &CaptureGraph::tuner},
    {"Search TVAudioDevice ... ", &AM_KSCATEGORY_TVAUDIO, DeviceKind::kTvAudio,
     &PipSettings::TVAudioDeviceName, &PipSettings::TVAudioDevicePath,
     &PipSettings::TVAudioDeviceNameUnique, "Add TV Audio Devise to Graph... ", L"TV Audio",
     &CaptureGraph::tvAudio},
    {"Search CrossbarDevice ... ", &AM_KSCATEGORY_CROSSBAR, DeviceKind::kCrossbar,
     &PipSettings::CrossbarDeviceName, &PipSettings::CrossbarDevicePath,
     &PipSettings::CrossbarDeviceNameUnique, "Add Crossbar Devise to Graph... ", L"Crossbar",
     &CaptureGraph::crossbar},
    {"Search CaptureDevice ... ", &CLSID_VideoInputDeviceCategory, DeviceKind::kCapture,
     &PipSettings::CaptureDeviceName, &PipSettings::CaptureDevicePath,
     &PipSettings::CaptureDeviceNameUnique, "Add Video Capture (Devise) to Graph... ",
     L"Capture Device", &CaptureGraph::capture},
};

bool AddDevices(CaptureGraph& g) {
  const PipSettings& settings = Settings().current;
  Rebinding& rebound = BuildRebinding();
  rebound = {};
  for (const DeviceStep& step : kDeviceSteps) {
    Step(step.searchText);
    ComPtr<IBaseFilter>& filter = g.*step.field;
    const SavedDevice saved{settings.*step.savedName, settings.*step.savedPath,
                            settings.*step.nameWasUnique != 0};
    BindDecision decision;
    const HRESULT found = FindDevice(*step.category, &filter, Devices(step.kind), saved, &decision);
    if (FAILED(found)) {
      DeviceAccessDenied() = found == E_ACCESSDENIED;
      StatusLog::LogResult(kLogFailureLevel, found);
      return false;
    }
    if (const std::string_view why = BindReasonText(decision.reason); !why.empty()) {
      LogLine line;
      line << why << saved.name;
      if (decision.row > 0) {
        line << " at " << Devices(step.kind)[static_cast<size_t>(decision.row)].path;
      }
      Step(line.View());
    }
    if (decision.reason == BindReason::kByName && filter) {
      // Used for this graph; the settings take the new path only once this graph runs.
      rebound.from[static_cast<int>(step.kind)] = settings.*step.savedPath;
      rebound.path[static_cast<int>(step.kind)] =
          Devices(step.kind)[static_cast<size_t>(decision.row)].path;
    }
    if (!filter) {
      continue;
    }
    Step(step.addText);
    const HRESULT added = g.graph->AddFilter(filter.get(), step.nameInGraph);
    if (FAILED(added)) {
      StatusLog::LogFailure(kLogFailureLevel, added);
      return false;
    }
  }
  return true;
}

bool AddRenderer(CaptureGraph& g) {
  Step("Get PiP Renderer Interface ... ");
  HRESULT constructed = E_OUTOFMEMORY;
  auto* object = new (std::nothrow) PipRenderer(nullptr, &constructed);
  if (object == nullptr) {
    StatusLog::LogFailure(kLogFailureLevel, E_OUTOFMEMORY);
    return false;
  }
  // The first reference; a renderer that failed to construct goes with it.
  ComPtr<IBaseFilter> renderer(static_cast<IBaseFilter*>(object));
  if (FAILED(constructed)) {
    StatusLog::LogFailure(kLogFailureLevel, constructed);
    return false;
  }
  g.renderer = std::move(renderer);
  Step("Add PiP Renderer Filter to Graph... ");
  const HRESULT added = g.graph->AddFilter(g.renderer.get(), L"PiP Renderer");
  if (FAILED(added)) {
    StatusLog::LogFailure(kLogFailureLevel, added);
    return false;
  }
  return true;
}

void ConnectUpstream(CaptureGraph& g) {
  // Whatever RenderStream manages is kept; the build goes on regardless. Without a crossbar
  // (USB grabbers and cameras) there is nothing upstream to connect: every RenderStream here ends
  // on the crossbar, and one without its sink would render the tuner into a window of its own.
  if (!g.crossbar) {
    Step("No crossbar: the capture device alone ... ");
    return;
  }
  if (g.tuner) {
    Step("Connect TV Tuner and Cross Bar video pins... ");
    g.builder->RenderStream(nullptr, nullptr, g.tuner.get(), nullptr, g.crossbar.get());
  }
  if (g.tuner && g.tvAudio) {
    Step("Connect TV Tuner and Cross Bar audio pins ( through TV Audio device )... ");
    g.builder->RenderStream(nullptr, &MEDIATYPE_AnalogAudio, g.tuner.get(), g.tvAudio.get(),
                            g.crossbar.get());
  }
  Step("Connect Cross Bar and Capture Device video pins... ");
  g.builder->RenderStream(nullptr, nullptr, g.crossbar.get(), nullptr, g.capture.get());
  Step("Connect Cross Bar and Capture Device audio pins... ");
  g.builder->RenderStream(nullptr, &MEDIATYPE_AnalogAudio, g.crossbar.get(), nullptr,
                          g.capture.get());
}

// The capture device's unconnected video output pin of this category, set to the saved format,
// if a trial connection to the renderer shows it can be used.
ComPtr<IPin> TryOutputPin(CaptureGraph& g, const GUID& category, IPin* in) {
  ComPtr<IPin> out;
  if (FAILED(g.builder->FindPin(g.capture.get(), PINDIR_OUTPUT, &category, &MEDIATYPE_Video, TRUE,
                                0, out.put())) ||
      !out) {
    return nullptr;
  }
  const HRESULT trial = g.graph->ConnectDirect(out.get(), in, nullptr);
  if (SUCCEEDED(trial)) {
    in->Disconnect();
    out->Disconnect();
  } else if (trial != VFW_E_NO_ACCEPTABLE_TYPES) {
    // The format set next may be what makes the types acceptable; any other refusal is final.
    return nullptr;
  }
  if (FAILED(ConfigureStream(category))) {
    return nullptr;
  }
  return out;
}

bool ConnectRenderer(CaptureGraph& g) {
  Step("Get PiP Renderer Input Pin Interface... ");
  ComPtr<IPin> in;
  HRESULT hr =
      g.builder->FindPin(g.renderer.get(), PINDIR_INPUT, nullptr, nullptr, TRUE, 0, in.put());
  if (FAILED(hr) || !in) {
    StatusLog::LogFailure(kLogFailureLevel, FAILED(hr) ? hr : E_POINTER);
    return false;
  }
  ComPtr<IPin> out = TryOutputPin(g, PIN_CATEGORY_PREVIEW, in.get());
  if (!out) {
    out = TryOutputPin(g, PIN_CATEGORY_CAPTURE, in.get());
  }
  if (!out) {
    return false;
  }
  Step("Direct Connect Capture Device and PiP Renderer Pins... ");
  hr = g.graph->ConnectDirect(out.get(), in.get(), nullptr);
  if (FAILED(hr)) {
    Step("Connect Capture Device and PiP Renderer Pins... ");
    hr = g.graph->Connect(out.get(), in.get());
  }
  if (FAILED(hr)) {
    StatusLog::LogFailure(kLogFailureLevel, hr);
    return false;
  }
  return true;
}

}  // namespace

CaptureGraph& Graph() {
  static CaptureGraph graph;
  return graph;
}

Rebinding& BuildRebinding() {
  static Rebinding rebound;
  return rebound;
}

bool KeepRebinding(PipSettings& settings) {
  Rebinding& rebound = BuildRebinding();
  if (!rebound.Any() || !rebound.ran) {
    return false;
  }
  const bool oneCard = RebindingIsOneCard(rebound, AllDevices());
  bool kept = false;
  for (const DeviceStep& step : kDeviceSteps) {
    const int kind = static_cast<int>(step.kind);
    // A choice the user changed meanwhile is the user's.
    if (oneCard && !rebound.path[kind].empty() && settings.*step.savedPath == rebound.from[kind]) {
      settings.*step.savedPath = rebound.path[kind];
      kept = true;
    }
  }
  Step(oneCard ? "Devices found by their names saved ... "
               : "Devices found by their names not saved: they are not one card's alone ... ");
  rebound = {};
  return kept;
}

CriticalSection& GraphLock() {
  static CriticalSection lock;
  return lock;
}

bool& MissedDevice() {
  static bool missed = false;
  return missed;
}

bool& DeviceAccessDenied() {
  static bool denied = false;
  return denied;
}

bool BuildGraph() {
  ScopedLock lock(GraphLock());
  CaptureGraph& g = Graph();
  MissedDevice() = false;
  DeviceAccessDenied() = false;
  Formats().assign(1, FormatRow(kFormatDefault));

  Step("Get IGraphBuilder Interface... ");
  HRESULT hr = CoCreateInstance(CLSID_FilterGraph, nullptr, kClassContext, IID_IGraphBuilder,
                                g.graph.put_void());
  if (FAILED(hr)) {
    StatusLog::LogResult(kLogFailureLevel, hr);
    return false;
  }
  Step("Get ICaptureGraphBuilder2 Interface ... ");
  hr = CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, kClassContext,
                        IID_ICaptureGraphBuilder2, g.builder.put_void());
  if (FAILED(hr)) {
    StatusLog::LogResult(kLogFailureLevel, hr);
    return false;
  }
  Step("Get IMediaControl Interface... ");
  hr = g.graph.As(&g.control);
  if (FAILED(hr)) {
    StatusLog::LogResult(kLogFailureLevel, hr);
    return false;
  }
  if (!AddDevices(g) || !AddRenderer(g)) {
    return false;
  }
  // The tuner and the TV audio device may be missing, and so may the crossbar where none is
  // configured (a USB grabber or camera is a capture device alone); a configured one may not.
  const PipSettings& s = Settings().current;
  const bool crossbarMissing = !g.crossbar && !s.CrossbarDevicePath.empty();
  const bool captureMissing = !g.capture && !s.CaptureDevicePath.empty();
  MissedDevice() = crossbarMissing || captureMissing;
  if (crossbarMissing) {
    Step("Crossbar device not present ... ");
  }
  if (captureMissing) {
    Step("Capture device not present ... ");
  }
  if (crossbarMissing || !g.capture) {
    return false;
  }
  Lifecycle().CrossbarPresent = static_cast<bool>(g.crossbar);
  Step("Get pPiPBuffer Interface... ");
  ComPtr<IPiPBuffer> buffer;
  hr = g.renderer.As(&buffer);
  if (FAILED(hr)) {
    StatusLog::LogResult(kLogFailureLevel, hr);
    return false;
  }
  g.pPiPBuffer.publish(std::move(buffer));
  Step("Set Filter Graph ... ");
  hr = g.builder->SetFiltergraph(g.graph.get());
  if (FAILED(hr)) {
    StatusLog::LogFailure(kLogFailureLevel, hr);
    return false;
  }
  ConnectUpstream(g);
  return ConnectRenderer(g);
}

void StopEveryFilter() {
  ScopedLock lock(GraphLock());
  CaptureGraph& g = Graph();
  ComPtr<IEnumFilters> filters;
  if (!g.graph || FAILED(g.graph->EnumFilters(filters.put())) || !filters) {
    return;
  }
  ComPtr<IBaseFilter> filter;
  while (filters->Next(1, filter.put(), nullptr) == S_OK) {
    if (filter) {
      filter->Stop();
    }
  }
}

bool EveryFilterRunning() {
  ScopedLock lock(GraphLock());
  ComPtr<IEnumFilters> filters;
  if (!Graph().graph || FAILED(Graph().graph->EnumFilters(filters.put())) || !filters) {
    return true;
  }
  ComPtr<IBaseFilter> filter;
  while (filters->Next(1, filter.put(), nullptr) == S_OK) {
    FILTER_STATE state = State_Running;
    // The state a filter moves to counts, even while it is still getting there; a filter that
    // cannot tell is not held against the graph.
    if (filter && SUCCEEDED(filter->GetState(0, &state)) && state != State_Running) {
      return false;
    }
  }
  return true;
}

void TearDownGraph() {
  ScopedLock lock(GraphLock());
  CaptureGraph& g = Graph();
  // First the frame thread lets go: from here on no frame step finds the renderer.
  Lifecycle().GraphRunning = false;
  Lifecycle().CrossbarPresent = false;
  g.pPiPBuffer.reset();
  StopWatchingGraphEvents();
  // Not through the media control: Done tears a running graph down as it stands. Stopped
  // filters can always be disconnected and removed, and the graph's release then returns.
  StopEveryFilter();
  if (g.graph) {
    for (IBaseFilter* filter :
         {g.renderer.get(), g.capture.get(), g.crossbar.get(), g.tvAudio.get(), g.tuner.get()}) {
      if (filter != nullptr) {
        g.graph->RemoveFilter(filter);
      }
    }
  }
  g.tuner.reset();
  g.tvAudio.reset();
  g.crossbar.reset();
  g.capture.reset();
  g.renderer.reset();
  g.control.reset();
  g.builder.reset();
  g.graph.reset();
}

}  // namespace kvx
