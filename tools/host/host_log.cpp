#include "tools/host/host_log.h"

#include <cstdio>

namespace zhost {

HostLog& hostLog() {
  static HostLog log;
  return log;
}

std::string toUtf8(const std::wstring& text) {
  if (text.empty())
    return {};
  int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                 nullptr, nullptr);
  std::string out(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size,
                      nullptr, nullptr);
  return out;
}

std::wstring fromCp1251(const char* text) {
  if (text == nullptr || *text == '\0')
    return {};
  int size = MultiByteToWideChar(1251, 0, text, -1, nullptr, 0);
  std::wstring out(static_cast<size_t>(size), L'\0');
  MultiByteToWideChar(1251, 0, text, -1, out.data(), size);
  out.resize(wcslen(out.c_str()));
  return out;
}

bool HostLog::open(const std::wstring& path) {
  uiThread_ = GetCurrentThreadId();
  startTicks_ = GetTickCount64();
  if (path.empty())
    return true;
  file_ = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                      OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  return file_ != INVALID_HANDLE_VALUE;
}

void HostLog::write(const std::wstring& event) {
  if (file_ == INVALID_HANDLE_VALUE)
    return;
  DWORD self = GetCurrentThreadId();
  wchar_t thread[32];
  if (self == uiThread_)
    wcscpy(thread, L"UI");
  else if (self == videoThread_)
    wcscpy(thread, L"video");
  else
    swprintf(thread, 32, L"thread-%lu", static_cast<unsigned long>(self));
  wchar_t head[64];
  ULONGLONG ms = GetTickCount64() - startTicks_;
  swprintf(head, 64, L"%5llu.%03llu %-6ls ", ms / 1000, ms % 1000, thread);
  std::string line = toUtf8(head + event) + "\n";
  AcquireSRWLockExclusive(&lock_);
  DWORD written = 0;
  WriteFile(file_, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  ReleaseSRWLockExclusive(&lock_);
}

}  // namespace zhost
