// The host's event log (/log:<file>): UTF-8 lines "<seconds> <thread> <event>", appended.
// Written from the UI thread and the video thread; plug-ins calling back from other threads
// are named by their thread id.
#pragma once

#include <windows.h>

#include <atomic>
#include <string>

namespace zhost {

class HostLog {
 public:
  // UI thread, before any other thread exists. Without a path the log stays silent.
  bool open(const std::wstring& path);
  void setVideoThread(DWORD id) { videoThread_ = id; }
  // Any thread.
  void write(const std::wstring& event);

 private:
  HANDLE file_ = INVALID_HANDLE_VALUE;
  SRWLOCK lock_ = SRWLOCK_INIT;
  DWORD uiThread_ = 0;
  std::atomic<DWORD> videoThread_{0};
  ULONGLONG startTicks_ = 0;
};

HostLog& hostLog();

std::string toUtf8(const std::wstring& text);
std::wstring fromCp1251(const char* text);

}  // namespace zhost
