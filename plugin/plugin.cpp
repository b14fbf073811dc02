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
#include "base/on_exit.h"
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

// The thread on which Init took a COM reference, or 0: Done gives it back there.
DWORD g_comThread = 0;

void UninitializeCom() {
  CoUninitialize();
}

void DrawPip(IPiPBuffer* buffer, bool waiting, DWORD now) {
  PipFrameView view;
  if (FAILED(buffer->GetFrameView(&view))) {
    return;
  }
  // A frame the card stopped renewing, or one from before the graph last ran, is not a live
  // picture; nor is a store whose samples are refused. A sample stored after `now` was read
  // is no older than that.
  const int32_t age = static_cast<int32_t>(now - view.sampleTick);
  if (waiting || view.refused != 0 || view.fresh == 0 ||
      age > static_cast<int32_t>(kStalledAfterMs)) {
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

namespace {

// While the graph waits for its device: how many tries failed since it went away or came back,
// for the time to the next. The building thread's own.
int g_failedTries = 0;
// A rebuild is under way on this thread; a try that comes meanwhile (a nested message loop)
// waits for its end.
bool g_rebuilding = false;
bool g_tryPending = false;
// The graph is the one stopped when its device went away: it is never run again.
SharedValue<bool> g_graphStale;

DWORD DelayBeforeTry(int failed) {
  constexpr DWORD kDelaysMs[] = {1000, 2000, 4000, 8000};
  return failed < 4 ? kDelaysMs[failed] : 15000;
}

// Windows keeps the camera from desktop programs (its privacy settings): no try changes that
// until the user allows it, so the wait ends here, and the save button builds again.
void ShowAccessDenied() {
  LifecycleState& life = Lifecycle();
  life.DeviceWaiting = false;
  g_failedTries = 0;
  CancelDeviceTry();
  Dialog().StatusTextId = kStatusAccessDenied;
}

// A try that did not end in a live picture: the next one comes later, the longer the more have
// failed. Allocates nothing: it runs on the hotkeys' paths too.
void KeepWaiting() {
  ScheduleDeviceTry(DelayBeforeTry(g_failedTries));
  if (g_failedTries < 4) {
    ++g_failedTries;
  }
}

// Devices found by their names go into the settings once their graph ran, before a new build
// or Done forgets them.
void KeepFoundDevices() {
  PipSettings& settings = Settings().current;
  if (!BuildRebinding().Any()) {
    return;
  }
  const PipSettings before = settings;
  if (KeepRebinding(settings)) {
    AppliedDeviceSelection().FollowRebound(before, settings);
  }
}

}  // namespace

void RebuildGraph() {
  if (g_rebuilding) {
    return;
  }
  g_rebuilding = true;
  OnExit rebuilt([] { g_rebuilding = false; });
  KeepFoundDevices();
  LifecycleState& life = Lifecycle();
  bool built = false;
  {
    ScopedLock lock(GraphLock());
    if (life.GraphBuilt) {
      TearDownGraph();
      life.GraphBuilt = false;
    }
    g_graphStale = false;
    life.SamplesRefused = false;
    // However the build ends, a throw included, what it acquired is let go as after a failed
    // build, and the flags say so.
    OnExit failed([&life] {
      TearDownGraph();
      life.GraphBuilt = false;
      if (!life.DeviceWaiting) {
        Dialog().StatusTextId = kStatusBuildFailed;
      }
    });
    built = BuildGraph();
    if (built) {
      failed.Cancel();
      WatchGraphEvents();
      life.GraphBuilt = true;
      // While the graph waits for its device, text 3 comes back with the picture.
      if (!life.DeviceWaiting) {
        Dialog().StatusTextId = kStatusGood;
      }
      life.TunerUsable = SUCCEEDED(SetupTuner());
    }
  }
  rebuilt.Cancel();
  g_rebuilding = false;
  if (!built && DeviceAccessDenied()) {
    ShowAccessDenied();
  }
  // A command of its own, outside the lock: it asks the host for its channel list.
  if (built) {
    SetChannel(Settings().current.PiPChannelOrder);
  } else if (life.DeviceWaiting) {
    KeepWaiting();
  } else if (MissedDevice()) {
    WatchGraphEvents();  // a configured device that is not there yet: its arrival rebuilds
  }
  if (g_tryPending) {
    g_tryPending = false;
    ScheduleDeviceTry(0);
  }
  Dialog().PostUpdate(kUpdateStatusLine);
}

bool RunGraph() {
  ScopedLock lock(GraphLock());
  LifecycleState& life = Lifecycle();
  if (life.DeviceWaiting && g_graphStale) {
    // The graph whose device went away runs no more: a new one is built at once, on the thread
    // that builds, and run there.
    ScheduleDeviceTry(0);
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
    if (hr == E_ACCESSDENIED) {
      ShowAccessDenied();
    } else if (life.DeviceWaiting) {
      KeepWaiting();  // a device back before it can run: still text 6
    } else {
      Dialog().StatusTextId = kStatusRunFailed;
    }
    Dialog().PostUpdate(kUpdateStatusLine);
    return false;
  }
  life.GraphRunning = true;
  BuildRebinding().ran = true;
  if (life.DeviceWaiting) {
    life.DeviceWaiting = false;
    g_failedTries = 0;
    CancelDeviceTry();
    Dialog().StatusTextId = kStatusGood;
    Dialog().PostUpdate(kUpdateStatusLine);
  }
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
  g_graphStale = true;
  if (!life.DeviceWaiting) {
    life.DeviceWaiting = true;
    g_failedTries = 0;
  }
  Dialog().StatusTextId = kStatusDeviceLost;
  Dialog().PostUpdate(kUpdateStatusLine);
  KeepWaiting();
}

void DeviceReturned() {
  LifecycleState& life = Lifecycle();
  if (!life.DeviceWaiting) {
    // A device the last build missed may be the one that arrived: one more build, no tries.
    const PipSettings& s = Settings().current;
    if (MissedDevice() && !life.GraphBuilt && !g_rebuilding && life.Started && s.PiPEnable != 0) {
      StatusLog::LogStep(kLogStepLevel, "Video capture device arrived ... ");
      RebuildGraph();
      if (RunGraph() && life.GraphRunning) {
        SetChannel(s.PiPChannelOrder);
      }
    }
    return;
  }
  StatusLog::LogStep(kLogStepLevel, "PiP device back ... ");
  // A device that has just arrived may need a moment before it runs: the tries start over.
  g_failedTries = 0;
  TryDeviceAgain();
}

void TryDeviceAgain() {
  LifecycleState& life = Lifecycle();
  if (!life.DeviceWaiting) {
    return;
  }
  if (g_rebuilding) {
    g_tryPending = true;
    return;
  }
  // A PiP switched off meanwhile stays off: switching it on, or Start, asks for a try again.
  const PipSettings& s = Settings().current;
  if (!life.Started || s.PiPEnable == 0) {
    return;
  }
  // As the save button does, with the settings and the source the graph had.
  RebuildGraph();
  if (RunGraph() && life.GraphRunning) {
    SetChannel(s.PiPChannelOrder);
  }
}

namespace {

// The entry points' work; each entry point runs it inside Contained (plugin/contained.h).

void InitWork(HostCallbacks* callbacks) {
  ResourceScope scope;
  // Single-threaded, as a user-interface thread's apartment should be. Each successful call
  // (S_FALSE too: the host's own apartment, or one an earlier load of ours left for its modal
  // box to end) takes a reference of its own that Done gives back, so no module ever ends COM
  // for another on this thread. A multithreaded host apartment (RPC_E_CHANGED_MODE) takes none.
  if (SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
    g_comThread = GetCurrentThreadId();
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
  // The host stops before Done, so the graph is not stopped here. Whatever the record holds
  // goes, even after a build that ended halfway.
  TearDownGraph();
  Lifecycle().GraphBuilt = false;
  Lifecycle().DeviceWaiting = false;
  g_graphStale = false;
  g_failedTries = 0;
  CloseGraphEvents();
  KeepFoundDevices();
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
