// ZorvintaHost: plays the TV-viewing host for plug-in runs. Everything here runs on the UI thread
// (the thread that owns the main window) except what video_thread.cpp does.
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>
#include <windowsx.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "plugin/host_records.h"
#include "tools/host/channels.h"
#include "tools/host/host_log.h"
#include "tools/host/input_script.h"
#include "tools/host/options.h"
#include "tools/host/plugins.h"
#include "tools/host/png.h"
#include "tools/host/video_thread.h"

namespace zhost {
namespace {

constexpr UINT kMenuSettings = 100;
constexpr UINT kMenuChannel = 200;  // + channel position
constexpr UINT_PTR kExitTimer = 1;
constexpr UINT_PTR kStatusTimer = 2;
constexpr UINT_PTR kInputTimer = 3;
constexpr UINT kWmShowSettings = WM_APP + 1;
constexpr int kMainWidth = 360;
constexpr int kMainHeight = 240;
constexpr int kGap = 20;

struct Host {
  Options options;
  HWND mainWindow = nullptr;  // plug-ins get a pointer to this
  HWND frameWindow = nullptr;
  HWND videoWindow = nullptr;  // the child, or the frame itself with /nochild
  kvx::HostCallbacks callbacks{&getChannel, nullptr};
  kvx::HostStream stream{};
  kvx::HostChannelState tuned{};
  int32_t tuneCount = 0;
  Plugins plugins;
  std::unique_ptr<VideoThread> video;
  std::vector<InputAction> input;
  std::unique_ptr<InputRunner> inputRunner;
  DWORD inputStart = 0;
  int pluginCalls = 0;  // UI-thread plug-in calls in progress
  bool closePending = false;
  bool closing = false;
  bool screenshotTaken = false;
};
Host* host = nullptr;

// Closing from inside a plug-in call (a timer firing in its modal settings loop) would pull the
// plug-in out from under itself, so the close waits until the outermost call returns.
class PluginCall {
 public:
  PluginCall() { ++host->pluginCalls; }
  ~PluginCall() {
    if (--host->pluginCalls == 0 && host->closePending)
      PostMessageW(host->mainWindow, WM_CLOSE, 0, 0);
  }
  PluginCall(const PluginCall&) = delete;
  PluginCall& operator=(const PluginCall&) = delete;
};

std::wstring withInstance(const wchar_t* title) {
  std::wstring text = title;
  if (host->options.instance != 0)
    text += std::wstring(L".Inst") + host->options.instance;
  return text;
}

void tune(int position) {
  host->tuned.stamp1 = ++host->tuneCount;
  host->tuned.stamp2 = static_cast<int32_t>(GetTickCount());
  host->tuned.position = position;
  if (host->video)
    host->video->tune(host->tuned);
  InvalidateRect(host->mainWindow, nullptr, TRUE);
}

LRESULT hostCommand(WPARAM command, LPARAM argument) {
  std::wstring head = L"host command " + std::to_wstring(command) + L", lParam " +
                      std::to_wstring(argument) +
                      (InSendMessage() ? L" (sent from another thread): " : L": ");
  if (command == kvx::kHostCommandTuneChannel) {
    if (argument < 1 || argument > channelCount()) {
      hostLog().write(head + L"tune to a channel not in the list, ignored");
      return 0;
    }
    int position = static_cast<int>(argument - 1);
    tune(position);
    hostLog().write(head + L"tuned to channel " + std::to_wstring(position) + L" (" +
                    channelInfo(position).name + L"), stamps " +
                    std::to_wstring(host->tuned.stamp1) + L"/" +
                    std::to_wstring(host->tuned.stamp2));
    return 1;
  }
  if (command == kvx::kHostCommandQuery) {
    hostLog().write(head + L"query, answered 1");
    return 1;
  }
  hostLog().write(head + L"unknown command, ignored");
  return 0;
}

std::wstring hex(WPARAM value) {
  wchar_t text[16];
  swprintf(text, 16, L"0x%02X", static_cast<unsigned>(value));
  return text;
}

// What reaches the video window's procedure, so a run can tell which presses the plug-in took.
void logButton(UINT message, LPARAM lParam) {
  if (message == WM_LBUTTONDOWN || message == WM_LBUTTONUP)
    hostLog().write(std::wstring(L"video window: left button ") +
                    (message == WM_LBUTTONDOWN ? L"down" : L"up") + L" at " +
                    std::to_wstring(GET_X_LPARAM(lParam)) + L"," +
                    std::to_wstring(GET_Y_LPARAM(lParam)));
}

// A click on tab n of a plug-in's settings dialog: a top-level window of this thread, other than
// the host's own, that holds a tab control.
BOOL CALLBACK findTabs(HWND window, LPARAM found) {
  if (window == host->mainWindow || window == host->frameWindow || !IsWindowVisible(window))
    return TRUE;
  *reinterpret_cast<HWND*>(found) = FindWindowExW(window, nullptr, WC_TABCONTROLW, nullptr);
  return *reinterpret_cast<HWND*>(found) == nullptr;
}

void clickSettingsTab(int n) {
  HWND tabs = nullptr;
  EnumThreadWindows(GetCurrentThreadId(), &findTabs, reinterpret_cast<LPARAM>(&tabs));
  RECT item{};
  if (tabs == nullptr || !SendMessageW(tabs, TCM_GETITEMRECT, static_cast<WPARAM>(n),
                                       reinterpret_cast<LPARAM>(&item))) {
    hostLog().write(L"no settings tab " + std::to_wstring(n) + L" to click");
    return;
  }
  const int x = (item.left + item.right) / 2;
  const int y = (item.top + item.bottom) / 2;
  SetForegroundWindow(GetAncestor(tabs, GA_ROOT));
  sendMouse(tabs, x, y, Button::kDown);
  sendMouse(tabs, x, y, Button::kUp);
}

void showSettings() {
  PluginCall call;
  host->plugins.showSettings(&host->mainWindow);
}

BOOL CALLBACK closeDialog(HWND window, LPARAM) {
  if (window != host->mainWindow && window != host->frameWindow && IsWindowVisible(window))
    PostMessageW(window, WM_CLOSE, 0, 0);
  return TRUE;
}

void requestClose() {
  if (host->closing)
    return;
  if (!host->screenshotTaken && !host->options.screenshot.empty()) {
    host->screenshotTaken = true;
    HRESULT hr = saveScreenPng(host->options.screenshot);
    hostLog().write(SUCCEEDED(hr) ? L"screenshot saved to " + host->options.screenshot
                                  : L"screenshot failed (hr " +
                                        std::to_wstring(static_cast<unsigned long>(hr)) + L")");
  }
  if (host->pluginCalls > 0) {
    hostLog().write(L"close waits for a plug-in call to return; asking its windows to close");
    host->closePending = true;
    EnumThreadWindows(GetCurrentThreadId(), &closeDialog, 0);
    return;
  }
  host->closing = true;
  hostLog().write(L"closing");
  KillTimer(host->mainWindow, kExitTimer);
  KillTimer(host->mainWindow, kStatusTimer);
  KillTimer(host->mainWindow, kInputTimer);
  if (host->video)
    host->video->stop();
  host->plugins.stop();
  host->plugins.done();
  DestroyWindow(host->mainWindow);
}

void paintStatus(HWND window) {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(window, &paint);
  RECT client;
  GetClientRect(window, &client);
  InflateRect(&client, -10, -10);
  const ChannelInfo& channel = channelInfo(host->tuned.position);
  wchar_t frequency[32];
  swprintf(frequency, 32, L"%u.%02u MHz", channel.frequency / 1000000,
           channel.frequency / 10000 % 100);
  std::wstring text = L"Channel " + std::to_wstring(host->tuned.position + 1) + L" of " +
                      std::to_wstring(channelCount()) + L": " + channel.name + L"\n" +
                      channel.label + L"  " + frequency + L"  " + standardName(channel.standard) +
                      L"\nFrames: " + std::to_wstring(host->video ? host->video->frames() : 0) +
                      L"\nPlug-ins: " + host->plugins.names();
  SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
  SetBkMode(dc, TRANSPARENT);
  DrawTextW(dc, text.c_str(), -1, &client, DT_LEFT | DT_WORDBREAK);
  EndPaint(window, &paint);
}

void paintVideo(HWND window) {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(window, &paint);
  RECT client;
  GetClientRect(window, &client);
  if (host->video)
    host->video->paint(dc, client);
  EndPaint(window, &paint);
}

LRESULT CALLBACK mainProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kvx::kWmHostCommand)
    return hostCommand(wParam, lParam);
  switch (message) {
    case kWmShowSettings:
      showSettings();
      return 0;
    case WM_COMMAND:
      if (LOWORD(wParam) == kMenuSettings) {
        showSettings();
      } else if (LOWORD(wParam) >= kMenuChannel && LOWORD(wParam) < kMenuChannel + channelCount()) {
        tune(LOWORD(wParam) - kMenuChannel);
        hostLog().write(L"menu: tuned to channel " + std::to_wstring(host->tuned.position));
      }
      return 0;
    case WM_TIMER:
      if (wParam == kExitTimer) {
        KillTimer(window, kExitTimer);
        hostLog().write(L"run time is up");
        PostMessageW(window, WM_CLOSE, 0, 0);
      } else if (wParam == kInputTimer) {
        if (!host->inputRunner->run(static_cast<int>(GetTickCount() - host->inputStart)))
          KillTimer(window, kInputTimer);
      } else {
        InvalidateRect(window, nullptr, TRUE);
      }
      return 0;
    case WM_PAINT:
      paintStatus(window);
      return 0;
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
      hostLog().write(L"key down " + hex(wParam) + (lParam & (1 << 24) ? L" extended" : L""));
      return DefWindowProcW(window, message, wParam, lParam);
    case WM_CLOSE:
      requestClose();
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
}

LRESULT CALLBACK frameProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (host->videoWindow == window)
    logButton(message, lParam);
  switch (message) {
    case WM_SIZE:
      if (host->videoWindow != nullptr && host->videoWindow != window)
        MoveWindow(host->videoWindow, 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE);
      return 0;
    case WM_PAINT:
      if (host->videoWindow != window)
        break;
      paintVideo(window);
      return 0;
    case WM_ERASEBKGND:
      if (host->videoWindow != window)
        break;
      return 1;
    case WM_CLOSE:  // the video window lives as long as the main window
      return 0;
    default:
      break;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

LRESULT CALLBACK rendererProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  logButton(message, lParam);
  switch (message) {
    case WM_PAINT:
      paintVideo(window);
      return 0;
    case WM_ERASEBKGND:
      return 1;
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
}

bool registerClass(const wchar_t* name, WNDPROC proc, int background) {
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.lpfnWndProc = proc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hbrBackground = background == BLACK_BRUSH
                                  ? static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH))
                                  : reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(background));
  windowClass.lpszClassName = name;
  return RegisterClassExW(&windowClass) != 0;
}

HMENU buildMenu() {
  HMENU plugins = CreatePopupMenu();
  AppendMenuW(plugins, MF_STRING, kMenuSettings, L"&Settings of all plug-ins\tCtrl+Shift+S");
  HMENU channels = CreatePopupMenu();
  for (int i = 0; i < channelCount(); ++i) {
    std::wstring item = std::to_wstring(i + 1) + L"  " + channelInfo(i).name;
    AppendMenuW(channels, MF_STRING, kMenuChannel + static_cast<UINT>(i), item.c_str());
  }
  HMENU bar = CreateMenu();
  AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(channels), L"&Channel");
  AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(plugins), L"&Plug-ins");
  return bar;
}

bool createWindows() {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  if (!registerClass(L"TMain", &mainProc, COLOR_BTNFACE + 1) ||
      !registerClass(L"TVideoFrame", &frameProc, BLACK_BRUSH) ||
      !registerClass(L"VideoRenderer", &rendererProc, BLACK_BRUSH))
    return false;
  host->mainWindow =
      CreateWindowExW(0, L"TMain", withInstance(L"Zorvinta").c_str(), WS_OVERLAPPEDWINDOW, 0, 0,
                      kMainWidth, kMainHeight, nullptr, buildMenu(), instance, nullptr);
  if (host->mainWindow == nullptr)
    return false;

  // The video shows at its own size when the screen has room, scaled down otherwise.
  RECT work;
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  const DWORD style = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
  RECT frame{0, 0, host->options.width, host->options.height};
  AdjustWindowRectEx(&frame, style, FALSE, 0);
  int chromeWidth = frame.right - frame.left - host->options.width;
  int chromeHeight = frame.bottom - frame.top - host->options.height;
  double roomWidth = work.right - work.left - kMainWidth - kGap - chromeWidth;
  double roomHeight = work.bottom - work.top - chromeHeight;
  double scale =
      std::min({1.0, roomWidth / host->options.width, roomHeight / host->options.height});
  scale = std::max(scale, 0.1);
  int clientWidth = static_cast<int>(host->options.width * scale);
  int clientHeight = static_cast<int>(host->options.height * scale);
  host->frameWindow =
      CreateWindowExW(0, L"TVideoFrame", withInstance(L"Video window").c_str(), style,
                      work.left + kMainWidth + kGap, work.top, clientWidth + chromeWidth,
                      clientHeight + chromeHeight, host->mainWindow, nullptr, instance, nullptr);
  if (host->frameWindow == nullptr)
    return false;
  if (host->options.noChild) {
    host->videoWindow = host->frameWindow;
  } else {
    RECT client;
    GetClientRect(host->frameWindow, &client);
    host->videoWindow = CreateWindowExW(
        0, L"VideoRenderer", L"ActiveMovie Window", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, 0, 0,
        client.right, client.bottom, host->frameWindow, nullptr, instance, nullptr);
    if (host->videoWindow == nullptr)
      return false;
  }
  ShowWindow(host->mainWindow, SW_SHOWNORMAL);
  ShowWindow(host->frameWindow, SW_SHOWNOACTIVATE);
  UpdateWindow(host->mainWindow);
  UpdateWindow(host->frameWindow);
  return true;
}

std::wstring exeFolder() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    path.resize(path.size() * 2);
  }
  return path.substr(0, path.find_last_of(L"\\/"));
}

int run() {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  std::vector<std::wstring> args;
  for (int i = 1; i < argc; ++i)
    args.emplace_back(argv[i]);
  LocalFree(argv);

  std::wstring error = parseOptions(args, host->options);
  Options& options = host->options;
  if (!hostLog().open(options.logFile))
    return 2;
  hostLog().write(L"ZorvintaHost started: " + std::wstring(GetCommandLineW()));
  buildChannels();
  if (error.empty() && options.channel >= channelCount())
    error = L"channel " + std::to_wstring(options.channel) + L" is not in the list";
  if (error.empty())
    error = parseInputScript(options.input, host->input);
  if (!error.empty()) {
    hostLog().write(L"bad command line: " + error + L"; exit code 2");
    return 2;
  }

  OleInitialize(nullptr);
  host->tuned = {++host->tuneCount, static_cast<int32_t>(GetTickCount()), options.channel};
  host->stream = {options.width, options.height, 0, options.format, options.mode};
  hostLog().write(L"stream " + std::to_wstring(options.width) + L"x" +
                  std::to_wstring(options.height) +
                  (options.format == kvx::kHostFormatRgb24 ? L" RGB24" : L" YUY2") + L", mode " +
                  std::to_wstring(options.mode) + L", channel " + std::to_wstring(options.channel));
  if (!createWindows()) {
    hostLog().write(L"cannot create the windows (error " + std::to_wstring(GetLastError()) +
                    L"); exit code 3");
    OleUninitialize();
    return 3;
  }

  VideoSettings video;
  video.width = options.width;
  video.height = options.height;
  video.format = options.format;
  video.saveFolder = options.saveFolder;
  video.saveEvery = options.saveEvery;
  video.display = host->videoWindow;
  if (!video.saveFolder.empty())
    CreateDirectoryW(video.saveFolder.c_str(), nullptr);
  host->video = std::make_unique<VideoThread>(video, host->plugins, host->tuned);

  {
    PluginCall call;
    host->plugins.load(exeFolder() + L"\\Plugins");
    host->plugins.init(&host->callbacks);
    host->plugins.start(&host->stream);
  }
  if (!host->video->start())
    hostLog().write(L"cannot start the video thread");
  if (options.settings)
    PostMessageW(host->mainWindow, kWmShowSettings, 0, 0);
  if (!host->input.empty()) {
    host->inputRunner = std::make_unique<InputRunner>(
        host->input, host->mainWindow, host->videoWindow, options.width, options.height,
        [](const InputAction& action) {
          if (action.verb == L"frames") {
            host->video->setPluginFrames(action.args[0] != 0);
          } else if (action.verb == L"settings") {
            PostMessageW(host->mainWindow, kWmShowSettings, 0, 0);
          } else if (action.verb == L"tab") {
            clickSettingsTab(action.args[0]);
          } else if (action.verb == L"shot") {
            const std::wstring path =
                host->options.saveFolder + L"\\screen_" + std::to_wstring(action.args[0]) + L".png";
            HRESULT hr = saveScreenPng(path);
            hostLog().write(SUCCEEDED(hr) ? L"screen saved to " + path : L"cannot save " + path);
          } else {
            PluginCall call;
            host->plugins.start(&host->stream);
          }
        },
        [](const InputAction& action) {
          std::wstring values;
          for (int value : action.args)
            values += L" " + std::to_wstring(value);
          hostLog().write(L"input " + action.verb + values + L" (" + action.text + L")");
        });
    host->inputStart = GetTickCount();
    SetTimer(host->mainWindow, kInputTimer, 10, nullptr);
  }
  if (options.seconds > 0)
    SetTimer(host->mainWindow, kExitTimer, static_cast<UINT>(options.seconds) * 1000, nullptr);
  SetTimer(host->mainWindow, kStatusTimer, 1000, nullptr);

  ACCEL accelerator{FCONTROL | FSHIFT | FVIRTKEY, 'S', kMenuSettings};
  HACCEL accelerators = CreateAcceleratorTableW(&accelerator, 1);
  MSG msg;
  int exitCode = 0;
  BOOL got;
  while ((got = GetMessageW(&msg, nullptr, 0, 0)) != 0) {
    if (got == -1) {
      exitCode = 4;
      break;
    }
    if (!TranslateAcceleratorW(host->mainWindow, accelerators, &msg)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
  DestroyAcceleratorTable(accelerators);
  host->video.reset();
  host->plugins.unload();
  OleUninitialize();
  hostLog().write(L"exit code " + std::to_wstring(exitCode));
  return exitCode;
}

}  // namespace
}  // namespace zhost

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  zhost::Host host;
  zhost::host = &host;
  return zhost::run();
}
