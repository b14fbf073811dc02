#include "capture/graph_events.h"

#include <dbt.h>
#include <dshow.h>

#include <string>
#include <vector>

#include "capture/capture_graph.h"
#include "base/contained.h"
#include "base/module_scope.h"
#include "plugin/plugin.h"
#include "settings/settings_store.h"

namespace kvx {
namespace {

constexpr UINT kWmGraphEvent = WM_APP + 1;
constexpr wchar_t kWindowClass[] = L"KVX_PiP graph events";

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

LRESULT EventWindowWork(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kWmGraphEvent) {
    ResourceScope scope;
    for (const Event& e : TakeEvents()) {
      if (e.code == EC_DEVICE_LOST && e.param2 == 1) {
        DeviceReturned();
      } else if (e.code == EC_DEVICE_LOST || e.code == EC_ERRORABORT ||
                 e.code == EC_STREAM_ERROR_STOPPED) {
        DeviceWentAway(e.code, static_cast<HRESULT>(e.param1));
      }
    }
    return 0;
  }
  if (message == WM_DEVICECHANGE && wParam == DBT_DEVICEARRIVAL && lParam != 0) {
    const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam);
    if (header->dbch_devicetype == DBT_DEVTYP_DEVICEINTERFACE &&
        SamePath(reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(header)->dbcc_name,
                 Settings().current.CaptureDevicePath)) {
      ResourceScope scope;
      DeviceReturned();
    }
    return TRUE;
  }
  return DefWindowProcW(window, message, wParam, lParam);
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
  // Only the thread that made the window can destroy it; another keeps it for the next build.
  if (g_window == nullptr || GetWindowThreadProcessId(g_window, nullptr) != GetCurrentThreadId()) {
    return;
  }
  if (g_arrivals != nullptr) {
    UnregisterDeviceNotification(g_arrivals);
    g_arrivals = nullptr;
  }
  DestroyWindow(g_window);
  g_window = nullptr;
  UnregisterClassW(kWindowClass, PluginModule());
}

HWND GraphEventWindowForTesting() {
  return g_window;
}

}  // namespace kvx
