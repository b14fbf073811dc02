#include "settings/settings_system_win.h"

#include <windows.h>
#include <shlobj.h>

#include <new>

#include "base/module_scope.h"

namespace kvx {
namespace {

std::wstring ModuleFileName(HMODULE module) {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) {
      return {};
    }
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

uint32_t StoreInUsersFolder() {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Zorvinta", 0, KEY_READ, &key) !=
      ERROR_SUCCESS) {
    return 0;
  }
  DWORD value = 0;
  DWORD type = 0;
  DWORD size = sizeof(value);
  const LONG result = RegQueryValueExW(key, L"StoreInUsersFolder", nullptr, &type,
                                       reinterpret_cast<BYTE*>(&value), &size);
  RegCloseKey(key);
  return result == ERROR_SUCCESS && type == REG_DWORD && size == sizeof(value) ? value : 0;
}

std::wstring AppDataFolder() {
  wchar_t folder[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder))) {
    return {};
  }
  return folder;
}

}  // namespace

LocationFacts Win32SettingsSystem::GatherFacts() {
  LocationFacts facts;
  OSVERSIONINFOEXW extended{};
  extended.dwOSVersionInfoSize = sizeof(extended);
  OSVERSIONINFOW basic{};
  basic.dwOSVersionInfoSize = sizeof(basic);
  if (GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&extended))) {
    facts.versionKnown = true;
    facts.ntFamily = extended.dwPlatformId == VER_PLATFORM_WIN32_NT;
  } else if (GetVersionExW(&basic)) {
    facts.versionKnown = true;
    facts.ntFamily = basic.dwPlatformId == VER_PLATFORM_WIN32_NT;
  }
  facts.storeInUsersFolder = StoreInUsersFolder();
  facts.appDataFolder = AppDataFolder();
  facts.hostProgram = ModuleFileName(nullptr);
  facts.commandLine = GetCommandLineW();
  facts.moduleFile = ModuleFileName(PluginModule());
  return facts;
}

void Win32SettingsSystem::CreateFolder(const std::wstring& folder) {
  std::wstring path = folder;
  while (!path.empty() && path.back() == L'\\') {
    path.pop_back();
  }
  CreateDirectoryW(path.c_str(), nullptr);
}

bool Win32SettingsSystem::ReadWhole(const std::wstring& path, std::vector<char>& data) {
  data.clear();
  // Another program that holds the file open (an editor, a backup tool) does not keep the
  // settings from being read, and so from being saved at Done.
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return false;
  }
  bool read = false;
  LARGE_INTEGER size{};
  if (GetFileSizeEx(file, &size) && static_cast<uint64_t>(size.QuadPart) <= kLargestFile) {
    const auto bytes = static_cast<DWORD>(size.QuadPart);
    try {
      data.resize(bytes);
      DWORD got = 0;
      read = bytes == 0 || (ReadFile(file, data.data(), bytes, &got, nullptr) && got == bytes);
    } catch (const std::bad_alloc&) {
      read = false;
    }
  }
  CloseHandle(file);
  if (!read) {
    std::vector<char>().swap(data);
  }
  return read;
}

bool Win32SettingsSystem::WriteWhole(const std::wstring& path, std::string_view data) {
  // The new text goes to a file of its own in the same folder and replaces the old one only
  // once it is whole on disk: a failure part-way (a full disk, a crash, the power) leaves the
  // old settings as they were. ReplaceFileW keeps the file's attributes and security.
  const size_t slash = path.find_last_of(L"\\/");
  const std::wstring folder = slash == std::wstring::npos ? L"." : path.substr(0, slash);
  wchar_t temporary[MAX_PATH] = {};
  if (GetTempFileNameW(folder.c_str(), L"kvx", 0, temporary) == 0) {
    return WriteInPlace(path, data, false);
  }
  bool written = WriteInPlace(temporary, data, true);
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (written) {
    written = attributes != INVALID_FILE_ATTRIBUTES
                  ? ReplaceFileW(path.c_str(), temporary, nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS,
                                 nullptr, nullptr) != FALSE
                  : MoveFileExW(temporary, path.c_str(), MOVEFILE_WRITE_THROUGH) != FALSE;
  }
  if (!written) {
    DeleteFileW(temporary);
  } else if (attributes != INVALID_FILE_ATTRIBUTES) {
    // Not every implementation of ReplaceFileW carries the attributes over (Wine's does not).
    SetFileAttributesW(path.c_str(), attributes);
  }
  return written;
}

bool Win32SettingsSystem::WriteInPlace(const std::wstring& path, std::string_view data,
                                       bool flush) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return false;
  }
  DWORD written = 0;
  bool ok = WriteFile(file, data.data(), static_cast<DWORD>(data.size()), &written, nullptr) &&
            written == data.size();
  if (ok && flush) {
    ok = FlushFileBuffers(file) != FALSE;
  }
  CloseHandle(file);
  return ok;
}

void LoadSettings(const HostCallbacks* callbacks) {
  static Win32SettingsSystem windows;
  Settings().Load(callbacks, SettingsSystemInUse(windows));
}

}  // namespace kvx
