#include "plugin/plugin.h"

#include <windows.h>
#include <dshow.h>

#include "capture/capture_graph.h"
#include "capture/channels.h"
#include "capture/graph_events.h"
#include "capture/tuning.h"
#include "compose/frame_step.h"
#include "hooks/hooks.h"
#include "base/contained.h"
#include "base/module_scope.h"
#include "plugin/status_log.h"
#include "settings/host_windows.h"
#include "settings/settings_store.h"
#include "ui/dialog_rules.h"
#include "ui/modal_scope.h"
#include "ui/settings_dialog.h"
#include "video/frame_guard.h"

namespace kvx {
namespace {

// "PiP - кадр в кадре" and "Кадр в кадре" in Windows-1251.
constexpr char kName[] = "PiP - \xEA\xE0\xE4\xF0 \xE2 \xEA\xE0\xE4\xF0\xE5";
constexpr char kShortName[] = "\xCA\xE0\xE4\xF0 \xE2 \xEA\xE0\xE4\xF0\xE5";

constexpr PluginDescriptor kDescriptor = {
    kName, kShortName, &Init, &Start, &Frame, &Stop, &ShowSettings, &Done,
};

constexpr DWORD kGetStateTimeoutMs = 5000;

// The thread on which Init had to initialise COM itself, or 0: Done uninitialises it there.
DWORD g_comThread = 0;

void UninitializeCom() {
  CoUninitialize();
}

void DrawPip(IPiPBuffer* buffer, bool waiting, DWORD now) {
  PipFrameView view;
  if (FAILED(buffer->GetFrameView(&view))) {
    return;
  }
  // A frame the card stopped renewing is not a live picture.
  if (waiting || now - view.sampleTick > kStalledAfterMs) {
    DrawBluePip(view.format, Settings().current);
    return;
  }
  DrawPipFrame(PipFrame{view.pixels, view.width, view.height, view.format, view.topDown != 0},
               Settings().current);
}

}  // namespace

LifecycleState& Lifecycle() {
  static LifecycleState state;
  return state;
}

const PluginDescriptor* Descriptor() {
  return &kDescriptor;
}

void RebuildGraph() {
  bool built = false;
  {
    ScopedLock lock(GraphLock());
    LifecycleState& life = Lifecycle();
    if (life.GraphBuilt) {
      TearDownGraph();
      life.GraphBuilt = false;
    }
    life.DeviceWaiting = false;
    const PipSettings before = Settings().current;
    built = BuildGraph();
    AppliedDeviceSelection().FollowRebound(before, Settings().current);
    if (built) {
      WatchGraphEvents();
      life.GraphBuilt = true;
      Dialog().StatusTextId = kStatusGood;
      life.TunerUsable = SUCCEEDED(SetupTuner());
    } else {
      // Releases whatever the failed build acquired.
      TearDownGraph();
      life.GraphBuilt = false;
      Dialog().StatusTextId = kStatusBuildFailed;
    }
  }
  // A command of its own, outside the lock: it asks the host for its channel list.
  if (built) {
    SetChannel(Settings().current.PiPChannelOrder);
  }
  Dialog().PostUpdate(kUpdateStatusLine);
}

bool RunGraph() {
  ScopedLock lock(GraphLock());
  LifecycleState& life = Lifecycle();
  if (life.DeviceWaiting) {
    return true;
  }
  life.GraphRunning = false;
  IMediaControl* control = Graph().control.get();
  if (!life.GraphBuilt || control == nullptr) {
    return true;
  }
  StatusLog::LogStep(kLogStepLevel, "Run DirectShow graph ... ");
  HRESULT hr = control->Run();
  if (SUCCEEDED(hr)) {
    StatusLog::LogStep(kLogStepLevel, "Get state DirectShow graph ... ");
    OAFilterState state;
    control->GetState(kGetStateTimeoutMs, &state);
    // A device that paused but refused to run leaves a frozen picture: that is no success.
    if (!EveryFilterRunning()) {
      hr = VFW_E_NOT_RUNNING;
    }
  }
  if (FAILED(hr)) {
    StatusLog::LogFailure(kLogFailureLevel, hr);
    // The graph may count itself running already and would answer the next Run with success
    // without running anything. A filter that refused can also leave the others paused while
    // the graph says stopped, which its Stop does not undo.
    control->Stop();
    StopEveryFilter();
    Dialog().StatusTextId = kStatusRunFailed;
    Dialog().PostUpdate(kUpdateStatusLine);
    return false;
  }
  life.GraphRunning = true;
  return true;
}

bool StopGraph() {
  ScopedLock lock(GraphLock());
  LifecycleState& life = Lifecycle();
  IMediaControl* control = Graph().control.get();
  if (!life.GraphRunning || control == nullptr) {
    return true;
  }
  StatusLog::LogStep(kLogStepLevel, "Stop DirectShow graph ... ");
  const HRESULT hr = control->Stop();
  if (FAILED(hr)) {
    StatusLog::LogFailure(kLogFailureLevel, hr);
    return false;
  }
  StatusLog::LogStep(kLogStepLevel, "Get state DirectShow graph ... ");
  OAFilterState state;
  control->GetState(kGetStateTimeoutMs, &state);
  life.GraphRunning = false;
  return true;
}

void DeviceWentAway(long eventCode, HRESULT result) {
  LifecycleState& life = Lifecycle();
  switch (eventCode) {
    case EC_DEVICE_LOST:
      StatusLog::LogStep(kLogStepLevel, "PiP device lost ... ");
      break;
    case EC_ERRORABORT:
      StatusLog::LogStep(kLogStepLevel, "DirectShow graph aborted ... ");
      StatusLog::LogResult(kLogFailureLevel, result);
      break;
    default:
      StatusLog::LogStep(kLogStepLevel, "DirectShow stream stopped by an error ... ");
      StatusLog::LogResult(kLogFailureLevel, result);
      break;
  }
  if (!life.GraphBuilt) {
    return;
  }
  StopGraph();
  life.DeviceWaiting = true;
  Dialog().StatusTextId = kStatusDeviceLost;
  Dialog().PostUpdate(kUpdateStatusLine);
}

void DeviceReturned() {
  LifecycleState& life = Lifecycle();
  if (!life.DeviceWaiting) {
    return;
  }
  StatusLog::LogStep(kLogStepLevel, "PiP device back ... ");
  // As the save button does, with the settings and the source the graph had; a PiP switched
  // off meanwhile stays off.
  RebuildGraph();
  const PipSettings& s = Settings().current;
  if (life.Started && s.PiPEnable != 0) {
    RunGraph();
    SetChannel(s.PiPChannelOrder);
  }
}

namespace {

// The entry points' work; each entry point runs it inside Contained (plugin/contained.h).

void InitWork(HostCallbacks* callbacks) {
  ResourceScope scope;
  // A host that uses COM on this thread already keeps its own apartment (S_FALSE, or
  // RPC_E_CHANGED_MODE for a multithreaded one); a host that does not still gets a graph.
  // Single-threaded, as a user-interface thread's apartment should be.
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  if (com == S_OK) {
    g_comThread = GetCurrentThreadId();
  } else if (SUCCEEDED(com)) {
    CoUninitialize();
    // Done came inside a modal box of ours on this thread and left COM's end to the box: this
    // Init keeps the apartment, and its own Done ends it.
    if (TakeOverAfterModalLoops(&UninitializeCom)) {
      g_comThread = GetCurrentThreadId();
    }
  }
  LoadSettings(callbacks);
  Lifecycle().GraphBuilt = false;
  RebuildGraph();
}

int32_t StartWork(HostStream* stream) {
  ResourceScope scope;
  LifecycleState& life = Lifecycle();
  // A missing stream description leaves nothing to draw into.
  const HostStream copy = stream != nullptr ? *stream : HostStream{0, 0, 0, -1, 0};
  life.StreamMode = copy.mode;
  ConfigureHostFrame(copy.width, copy.height, copy.format);
  life.LastFrameTick = 0;
  FindHostWindows();
  // Every Start installs afresh; a hook left from an earlier Start without Stop is replaced, never
  // chained behind a second copy.
  const PipSettings& settings = Settings().current;
  if (settings.HotKeysEnable != 0) {
    InstallKeyboardHook();
  } else {
    RemoveKeyboardHook();
  }
  InstallMouseHook();
  life.Started = true;
  if (settings.PiPEnable != 0) {
    RunGraph();
    SetChannel(settings.PiPChannelOrder);
  }
  return 1;
}

int32_t FrameWork(HostFrame* frame) {
  ResourceScope scope;
  LifecycleState& life = Lifecycle();
  const int32_t mode = life.StreamMode;
  if (mode == 1 || mode == 2) {
    return 0;
  }
  if (frame == nullptr || frame->pixels == nullptr) {
    return 0;
  }
  SetHostPixels(frame->pixels);
  const DWORD now = GetTickCount();
  life.LastFrameTick = now;
  if (const HostChannelState* state = frame->channelState) {
    const int32_t stamp1 = state->stamp1;
    const int32_t stamp2 = state->stamp2;
    if (stamp1 != life.HostStamp1 || stamp2 != life.HostStamp2) {
      life.HostStamp1 = stamp1;
      life.HostStamp2 = stamp2;
      life.HostPosition = state->position;
    }
  }
  // The buffer is loaded once, inside the scope: a tear-down that unpublished it either is seen
  // here or waits for this frame step before the renderer goes.
  FrameReadScope reading;
  IPiPBuffer* buffer = Graph().pPiPBuffer.get();
  const bool waiting = life.DeviceWaiting;
  if (buffer != nullptr && Settings().current.PiPEnable != 0 && (life.GraphRunning || waiting)) {
    DrawPip(buffer, waiting, now);
  }
  return 1;
}

void StopWork() {
  ResourceScope scope;
  Lifecycle().Started = false;
  StopGraph();
  RemoveKeyboardHook();
  RemoveMouseHook();
}

void ShowSettingsWork(void* parentWindow) {
  ResourceScope scope;
  SettingsDialog& dialog = Dialog();
  if (dialog.Window() != nullptr) {
    dialog.FocusAndFlash();
    return;
  }
  HWND parent = parentWindow != nullptr ? *static_cast<HWND*>(parentWindow) : nullptr;
  dialog.Show(parent);
}

void DoneWork() {
  ResourceScope scope;
  // Called from a message one of our modal boxes dispatched: the host may unload the module as
  // soon as we return, while that box's loop is still ours to return into.
  if (InsideModalLoop()) {
    PinModule();
    CloseModalBoxes();
  }
  // No hook may outlive the module, even when the host skipped Stop.
  Lifecycle().Started = false;
  RemoveKeyboardHook();
  RemoveMouseHook();
  if (Lifecycle().GraphBuilt) {
    // The host stops before Done, so the graph is not stopped here.
    TearDownGraph();
  }
  Lifecycle().DeviceWaiting = false;
  CloseGraphEvents();
  Dialog().Destroy();
  SaveSettings();
  if (g_comThread != 0 && g_comThread == GetCurrentThreadId()) {
    g_comThread = 0;
    AfterModalLoops(&UninitializeCom);
  }
}

}  // namespace

void KVX_CDECL Init(HostCallbacks* callbacks) {
  Contained([&] { InitWork(callbacks); });
}

int32_t KVX_CDECL Start(HostStream* stream) {
  return Contained([&] { return StartWork(stream); }, int32_t{1});
}

int32_t KVX_CDECL Frame(HostFrame* frame) {
  return Contained([&] { return FrameWork(frame); }, int32_t{1});
}

void KVX_CDECL Stop() {
  Contained([&] { StopWork(); });
}

void KVX_CDECL ShowSettings(void* parentWindow) {
  Contained([&] { ShowSettingsWork(parentWindow); });
}

void KVX_CDECL Done() {
  Contained([&] { DoneWork(); });
}

}  // namespace kvx
