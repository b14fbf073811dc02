#include "tools/host/video_thread.h"

#include <cwchar>

#include "tools/host/host_log.h"
#include "tools/host/picture.h"
#include "tools/host/png.h"

namespace zhost {
namespace {

constexpr LONGLONG kFramesPerSecond = 25;

LONGLONG now() {
  LARGE_INTEGER counter;
  QueryPerformanceCounter(&counter);
  return counter.QuadPart;
}

}  // namespace

VideoThread::VideoThread(const VideoSettings& settings, Plugins& plugins,
                         kvx::HostChannelState tuned)
    : settings_(settings),
      plugins_(plugins),
      tuned_(tuned),
      shown_(static_cast<size_t>(settings.width) * static_cast<size_t>(settings.height)),
      state_(tuned) {}

bool VideoThread::start() {
  stopEvent_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  thread_ = CreateThread(nullptr, 0, &VideoThread::threadMain, this, 0, nullptr);
  return thread_ != nullptr;
}

void VideoThread::stop() {
  if (thread_ == nullptr)
    return;
  SetEvent(stopEvent_);
  while (MsgWaitForMultipleObjects(1, &thread_, FALSE, INFINITE, QS_SENDMESSAGE) != WAIT_OBJECT_0) {
    MSG msg;
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
  }
  CloseHandle(thread_);
  CloseHandle(stopEvent_);
  thread_ = nullptr;
  stopEvent_ = nullptr;
  hostLog().write(L"video thread stopped after " + std::to_wstring(frames_.load()) + L" frames");
}

void VideoThread::tune(const kvx::HostChannelState& state) {
  AcquireSRWLockExclusive(&lock_);
  tuned_ = state;
  ReleaseSRWLockExclusive(&lock_);
}

void VideoThread::paint(HDC dc, const RECT& client) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = settings_.width;
  info.bmiHeader.biHeight = -settings_.height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  SetStretchBltMode(dc, HALFTONE);
  AcquireSRWLockShared(&lock_);
  StretchDIBits(dc, 0, 0, client.right - client.left, client.bottom - client.top, 0, 0,
                settings_.width, settings_.height, shown_.data(), &info, DIB_RGB_COLORS, SRCCOPY);
  ReleaseSRWLockShared(&lock_);
}

DWORD WINAPI VideoThread::threadMain(void* self) {
  static_cast<VideoThread*>(self)->run();
  return 0;
}

void VideoThread::run() {
  hostLog().setVideoThread(GetCurrentThreadId());
  hostLog().write(L"video thread started");
  // Like a capture graph's streaming thread, this thread lives in the multithreaded apartment.
  HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);

  const int width = settings_.width;
  const int height = settings_.height;
  Picture picture(width, height);
  std::vector<uint8_t> buffer(hostFrameBytes(settings_.format, width, height));
  std::vector<uint32_t> processed(static_cast<size_t>(width) * static_cast<size_t>(height));
  kvx::HostFrame frame{};
  frame.pixels = buffer.data();
  frame.channelState = &state_;

  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  const LONGLONG period = frequency.QuadPart / kFramesPerSecond;
  LONGLONG due = now();
  for (uint32_t number = 1;; ++number) {
    LONGLONG wait = due - now();
    DWORD waitMs = wait > 0 ? static_cast<DWORD>(wait * 1000 / frequency.QuadPart) : 0;
    if (WaitForSingleObject(stopEvent_, waitMs) == WAIT_OBJECT_0)
      break;
    due += period;
    // After a long stall (a debugger, a slow plug-in) keep the pace instead of catching up.
    if (now() - due > 5 * period)
      due = now() + period;

    AcquireSRWLockShared(&lock_);
    state_ = tuned_;
    ReleaseSRWLockShared(&lock_);

    picture.draw(state_.position, number);
    toHostFormat(picture.pixels(), width, height, settings_.format, buffer.data());
    if (pluginFrames_.load())
      plugins_.frame(&frame);
    fromHostFormat(buffer.data(), width, height, settings_.format, processed.data());

    if (!settings_.saveFolder.empty() &&
        (number - 1) % static_cast<uint32_t>(settings_.saveEvery) == 0) {
      wchar_t name[32];
      swprintf(name, 32, L"\\frame_%04u.png", number);
      HRESULT hr = savePng(settings_.saveFolder + name, processed.data(), width, height);
      if (FAILED(hr))
        hostLog().write(L"cannot save " + settings_.saveFolder + name + L" (hr " +
                        std::to_wstring(static_cast<unsigned long>(hr)) + L")");
    }

    AcquireSRWLockExclusive(&lock_);
    shown_.swap(processed);
    ReleaseSRWLockExclusive(&lock_);
    InvalidateRect(settings_.display, nullptr, FALSE);
    frames_.store(number);
  }

  if (SUCCEEDED(com))
    CoUninitialize();
}

}  // namespace zhost
