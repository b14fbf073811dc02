#include "capture/graph_events.h"

#include <dbt.h>
#include <dshow.h>

#include <cwchar>
#include <string>
#include <vector>

#include "capture/capture_graph.h"
#include "base/contained.h"
#include "base/module_scope.h"
#include "plugin/plugin.h"
#include "plugin/status_log.h"
#include "settings/settings_store.h"
#include "ui/settings_dialog.h"
#include "ui/update_codes.h"
#include "video/pip_buffer.h"

namespace kvx {
namespace {

constexpr UINT kWmGraphEvent = WM_APP + 1;
// wParam: the delay in ms.
constexpr UINT kWmScheduleTry = WM_APP + 2;
constexpr UINT kWmCancelTry = WM_APP + 3;
// Sent by CloseGraphEvents on another thread.
constexpr UINT kWmClose = WM_APP + 4;
constexpr UINT_PTR kTryTimer = 1;
constexpr wchar_t kWindowClass[] = L"KVX_PiP graph events";

// The interface classes a video capture device arrives under: kernel-streaming capture and
// video devices, cameras, and DirectShow's video input category.
constexpr GUID kCaptureClasses[] = {
    {0x65E8773D, 0x8F56, 0x11D0, {0xA3, 0xB9, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}},
    {0x6994AD05, 0x93EF, 0x11D0, {0xA3, 0xCC, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}},
    {0xE5323777, 0xF976, 0x4F5B, {0x9B, 0x55, 0xB9, 0x46, 0x99, 0xC4, 0x6E, 0x44}},
    {0x860BB310, 0x5D01, 0x11D0, {0xBD, 0x3B, 0x00, 0xA0, 0xC9, 0x11, 0xCE, 0x86}},
};

HWND g_window = nullptr;
HDEVNOTIFY g_arrivals = nullptr;

struct Event {
  long code;
  LONG_PTR param1;
  LONG_PTR param2;
};

// Everything the graph has queued, taken without waiting. The events are acted on afterwards:
// a rebuild releases the event queue they came from.
std::vector<Event> TakeEvents() {
  std::vector<Event> events;
  ScopedLock lock(GraphLock());
  ComPtr<IMediaEventEx> queue;
  if (!Graph().graph ||
      FAILED(Graph().graph->QueryInterface(IID_IMediaEventEx, queue.put_void()))) {
    return events;
  }
  Event e;
  while (queue->GetEvent(&e.code, &e.param1, &e.param2, 0) == S_OK) {
    queue->FreeEventParams(e.code, e.param1, e.param2);
    events.push_back(e);
  }
  return events;
}

bool SamePath(const wchar_t* arrived, const std::string& saved) {
  // Device paths are ASCII; drivers and the system do not agree on their case.
  const auto lower = [](unsigned c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; };
  size_t i = 0;
  for (; arrived[i] != 0 && i < saved.size(); ++i) {
    if (lower(arrived[i]) != lower(static_cast<unsigned char>(saved[i]))) {
      return false;
    }
  }
  return arrived[i] == 0 && i == saved.size() && !saved.empty();
}

// The interface class a device path names after its "#{", or GUID_NULL.
GUID ClassInPath(const wchar_t* path) {
  const wchar_t* at = std::wcsstr(path, L"#{");
  wchar_t text[39] = {};
  if (at == nullptr || std::wcslen(at + 1) < 38 || at[38] != L'}') {
    return GUID_NULL;
  }
  std::wmemcpy(text, at + 1, 38);
  GUID guid;
  return SUCCEEDED(CLSIDFromString(text, &guid)) ? guid : GUID_NULL;
}

bool IsCaptureArrival(const DEV_BROADCAST_DEVICEINTERFACE_W& device) {
  if (SamePath(device.dbcc_name, Settings().current.CaptureDevicePath)) {
    return true;
  }
  const GUID named = ClassInPath(device.dbcc_name);
  for (const GUID& capture : kCaptureClasses) {
    if (device.dbcc_classguid == capture || named == capture) {
      return true;
    }
  }
  return false;
}

void Close(HWND window) {
  KillTimer(window, kTryTimer);
  if (g_arrivals != nullptr) {
    UnregisterDeviceNotification(g_arrivals);
    g_arrivals = nullptr;
  }
  DestroyWindow(window);
}

void SamplesRefused(bool refused) {
  LifecycleState& life = Lifecycle();
  if (refused && !life.SamplesRefused) {
    StatusLog::LogStep(kLogStepLevel, "PiP Renderer refuses the samples' media type ... ");
  }
  life.SamplesRefused = refused;
  if (!life.DeviceWaiting) {
    Dialog().StatusTextId = refused ? kStatusDeviceLost : kStatusGood;
    Dialog().PostUpdate(kUpdateStatusLine);
  }
}

LRESULT EventWindowWork(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  ResourceScope scope;
  switch (message) {
    case kWmGraphEvent:
      for (const Event& e : TakeEvents()) {
        if (e.code == EC_DEVICE_LOST && e.param2 == 1) {
          DeviceReturned();
        } else if (e.code == EC_DEVICE_LOST || e.code == EC_ERRORABORT ||
                   e.code == EC_STREAM_ERROR_STOPPED) {
          DeviceWentAway(e.code, static_cast<HRESULT>(e.param1));
        } else if (e.code == kEcPipSamplesRefused) {
          SamplesRefused(e.param1 != 0);
        }
      }
      return 0;
    case kWmScheduleTry:
      SetTimer(window, kTryTimer,
               wParam > USER_TIMER_MINIMUM ? static_cast<UINT>(wParam) : USER_TIMER_MINIMUM,
               nullptr);
      return 0;
    case kWmCancelTry:
      KillTimer(window, kTryTimer);
      return 0;
    case WM_TIMER:
      if (wParam == kTryTimer) {
        KillTimer(window, kTryTimer);
        TryDeviceAgain();
      }
      return 0;
    case kWmClose:
      Close(window);
      return 0;
    case WM_DEVICECHANGE:
      if (wParam == DBT_DEVICEARRIVAL && lParam != 0) {
        const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam);
        if (header->dbch_devicetype == DBT_DEVTYP_DEVICEINTERFACE &&
            IsCaptureArrival(*reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(header))) {
          DeviceReturned();
        }
      }
      return TRUE;
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
}

LRESULT CALLBACK EventWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return Contained([&] { return EventWindowWork(window, message, wParam, lParam); }, LRESULT{0});
}

HWND EventWindow() {
  if (g_window != nullptr && IsWindow(g_window)) {
    return g_window;
  }
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = EventWindowProc;
  windowClass.hInstance = PluginModule();
  windowClass.lpszClassName = kWindowClass;
  RegisterClassW(&windowClass);  // fails harmlessly when the class is there already
  g_window = CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                             PluginModule(), nullptr);
  if (g_window != nullptr) {
    // A class left behind by an earlier load that could not take it away (see CloseGraphEvents)
    // has no procedure of ours; the window gets this load's.
    SetWindowLongPtrW(g_window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&EventWindowProc));
    // Every interface class: a capture device's path names its own.
    DEV_BROADCAST_DEVICEINTERFACE_W filter{};
    filter.dbcc_size = sizeof filter;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    g_arrivals = RegisterDeviceNotificationW(
        g_window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE | DEVICE_NOTIFY_ALL_INTERFACE_CLASSES);
  }
  return g_window;
}

void NotifyWindow(HWND window) {
  ComPtr<IMediaEventEx> queue;
  if (Graph().graph &&
      SUCCEEDED(Graph().graph->QueryInterface(IID_IMediaEventEx, queue.put_void()))) {
    queue->SetNotifyWindow(reinterpret_cast<OAHWND>(window), kWmGraphEvent, 0);
  }
}

}  // namespace

void WatchGraphEvents() {
  if (HWND window = EventWindow()) {
    NotifyWindow(window);
  }
}

void StopWatchingGraphEvents() {
  NotifyWindow(nullptr);
}

void CloseGraphEvents() {
  HWND window = g_window;
  if (window == nullptr) {
    return;
  }
  g_window = nullptr;
  if (GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId()) {
    Close(window);
  } else {
    // Only the window's thread can destroy it. A thread that does not answer (or has ended)
    // keeps a window that can no longer reach our code once the module is gone.
    DWORD_PTR answer = 0;
    if (IsWindow(window) &&
        !SendMessageTimeoutW(window, kWmClose, 0, 0, SMTO_NORMAL, 5000, &answer)) {
      if (g_arrivals != nullptr) {
        UnregisterDeviceNotification(g_arrivals);
        g_arrivals = nullptr;
      }
      SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&DefWindowProcW));
      SetClassLongPtrW(window, GCLP_WNDPROC, reinterpret_cast<LONG_PTR>(&DefWindowProcW));
    }
  }
  UnregisterClassW(kWindowClass, PluginModule());
}

void ScheduleDeviceTry(unsigned delayMs) {
  if (HWND window = g_window) {
    PostMessageW(window, kWmScheduleTry, delayMs, 0);
  }
}

void CancelDeviceTry() {
  if (HWND window = g_window) {
    PostMessageW(window, kWmCancelTry, 0, 0);
  }
}

HWND GraphEventWindowForTesting() {
  return g_window;
}

}  // namespace kvx
